#include "kvsdkmod/transport/Probe.h"

#include <cstdio>
#include <cstdlib>

#include "common/SimFile.h"
#include "common/Strings.h"
#include "kvsdkmod/transport/HidConnection.h"

namespace kvsdkmod::transport {

namespace {

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00" + Hex(static_cast<unsigned char>(c), 2);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string List(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i > 0 ? "," : "") + items[i];
    return out + "]";
}

std::string QuotedList(const std::vector<std::string>& items) {
    std::vector<std::string> quoted;
    for (const std::string& item : items) quoted.push_back(Quote(item));
    return List(quoted);
}

std::string FramingJson(const FramingInForce& inForce) {
    const Framing& f = inForce.framing;
    return "{\"setReport\":" + Quote(ReportTypeName(f.setReport)) +
           ",\"reportId\":" + std::to_string(f.reportId) +
           ",\"reportLength\":" + std::to_string(f.reportLength) +
           ",\"get\":" + Quote(f.get == GetMethod::Feature ? "feature" : "input") +
           ",\"timeoutMs\":" + std::to_string(f.timeoutMs) +
           ",\"usagePage\":" + std::to_string(f.usagePage) +
           ",\"interface\":" + std::to_string(f.interfaceNumber) +
           ",\"tunnel\":" + (f.tunnel ? "true" : "false") +
           ",\"overridden\":" + QuotedList(inForce.overridden) +
           ",\"refused\":" + QuotedList(inForce.refused) + "}";
}

std::string FramingText(const FramingInForce& inForce) {
    std::string text = DescribeFraming(inForce.framing);
    text += inForce.overridden.empty() ? " (built-in)" : " (overridden:";
    for (const std::string& name : inForce.overridden) text += " " + name;
    if (!inForce.overridden.empty()) text += ")";
    for (const std::string& refused : inForce.refused) text += "\n    refused override " + refused;
    return text;
}

std::string CollectionsJson(const std::vector<CollectionInfo>& collections) {
    std::vector<std::string> items;
    for (const CollectionInfo& c : collections) {
        std::vector<std::string> reports;
        for (const ReportInfo& r : c.reports) {
            reports.push_back("{\"type\":" + Quote(ReportTypeName(r.type)) +
                              ",\"id\":" + std::to_string(r.id) +
                              ",\"length\":" + std::to_string(r.length) + "}");
        }
        items.push_back("{\"usagePage\":" + std::to_string(c.usagePage) + ",\"usage\":" +
                        std::to_string(c.usage) + ",\"reports\":" + List(reports) + "}");
    }
    return List(items);
}

// The simulated set: its interfaces and the framing each would be given.
std::string SimulatedReport(const std::vector<kvsdk::sim::SimInterface>& items, bool json) {
    std::vector<std::string> entries;
    std::string text = "Simulated devices (KVSDK_SIM): no hardware is opened.\n";
    for (const auto& item : items) {
        const std::string path = kvsdk::ToUtf8(item.path);
        const std::string upper = kvsdk::ToUpper(path);
        if (upper.find("VID_" + Hex(kVendorId, 4)) == std::string::npos) continue;
        const size_t at = upper.find("PID_");
        const auto pid = at == std::string::npos
                             ? std::nullopt
                             : std::optional<unsigned long>(
                                   std::strtoul(upper.substr(at + 4, 4).c_str(), nullptr, 16));
        const auto framing = pid ? FramingFor(static_cast<uint16_t>(*pid)) : std::nullopt;
        if (json) {
            entries.push_back("{\"path\":" + Quote(path) +
                              ",\"framing\":" + (framing ? FramingJson(*framing) : "null") + "}");
        } else {
            text += "  " + path + "\n    framing: " +
                    (framing ? FramingText(*framing) : "none (not a product of this library)") +
                    "\n";
        }
    }
    if (json) return "{\"simulated\":true,\"devices\":" + List(entries) + "}\n";
    if (items.empty()) text += "  (the file lists no interface)\n";
    return text;
}

}  // namespace

std::string ProbeReport(HidBackend& backend, bool json) {
    if (const auto simulated = kvsdk::sim::LoadSimFile()) return SimulatedReport(*simulated, json);

    std::vector<std::string> entries;
    std::string text;
    for (const AttachedDevice& device : backend.AttachedDevices(kVendorId)) {
        const std::string ids = Hex(kVendorId, 4) + ":" + Hex(device.productId, 4);
        const auto framing = FramingFor(device.productId);
        std::vector<std::string> nodes;
        text += ids + " (" + device.where + ")\n";
        text += "  framing: " +
                (framing ? FramingText(*framing) : "none (not a product of this library)") + "\n";
        LightingChoice choice;
        if (framing) {
            choice = ChooseLighting(backend, framing->framing, device.nodes, kVendorId,
                                    device.productId);
            choice.node.reset();
        }
        for (const NodeCandidate& node : device.nodes) {
            OpenedNode opened = backend.Open(node, kVendorId, device.productId);
            std::string access = "yes";
            if (!opened.node) {
                access = "no (" + Hex(static_cast<uint32_t>(opened.error.result), 8) +
                         (opened.error.osError.empty() ? "" : " " + opened.error.osError) +
                         (opened.detail.empty() ? "" : ", " + opened.detail) + ")";
                opened.collections = backend.DescribeClosed(node);
            } else if (opened.zeroAccess) {
                access = "yes (without read/write access: report requests only)";
            }
            const bool used = kvsdk::Succeeded(choice.result) && choice.nodeName == node.name;
            if (json) {
                nodes.push_back("{\"name\":" + Quote(node.name) +
                                ",\"interface\":" + std::to_string(node.interfaceNumber) +
                                ",\"access\":" + Quote(access) +
                                ",\"collections\":" + CollectionsJson(opened.collections) +
                                ",\"used\":" + (used ? "true" : "false") + "}");
                continue;
            }
            text += "  " + node.name + "  interface " +
                    (node.interfaceNumber < 0 ? "?" : std::to_string(node.interfaceNumber)) +
                    "  access " + access + (used ? "  <- lighting" : "") + "\n";
            for (const CollectionInfo& c : opened.collections) {
                text += "    collection " + Hex(c.usagePage, 4) + ":" + Hex(c.usage, 4) + "  " +
                        c.Describe() + "\n";
            }
        }
        const std::string result = Hex(static_cast<uint32_t>(choice.result), 8);
        if (json) {
            entries.push_back("{\"vendor\":" + Quote(Hex(kVendorId, 4)) +
                              ",\"product\":" + Quote(Hex(device.productId, 4)) +
                              ",\"where\":" + Quote(device.where) +
                              ",\"framing\":" + (framing ? FramingJson(*framing) : "null") +
                              ",\"nodes\":" + List(nodes) + ",\"result\":" + Quote(result) +
                              ",\"detail\":" + Quote(choice.detail) + "}");
        } else if (framing) {
            text += "  Init: " + result + "  " + choice.detail + "\n";
        }
    }
    if (json) return "{\"simulated\":false,\"devices\":" + List(entries) + "}\n";
    if (text.empty()) return "No device of vendor " + Hex(kVendorId, 4) + " is attached.\n";
    return text;
}

}  // namespace kvsdkmod::transport
