#include "kvsdkmod/transport/Framing.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "kvsdkmod/transport/Transport.h"

namespace kvsdkmod::transport {

namespace {

// The built-in framing of every product. Every value here is an assumption that no device has
// confirmed yet: the lighting sits in a vendor-defined collection, commands go out as output
// reports without report IDs, 64 bytes long, and an answer is read back as a feature report.
// The keyboard's lighting interface is MI_02, the one discovery wraps.
constexpr std::array<Framing, 5> kFramings{{
    {0x0E51, 0, -1, ReportType::Output, 0x00, 64, GetMethod::Feature, 1000, false},
    {0x0E52, 0, -1, ReportType::Output, 0x00, 64, GetMethod::Feature, 1000, false},
    {0x0E59, 0, -1, ReportType::Output, 0x00, 64, GetMethod::Feature, 1000, false},
    {0x0E5A, 0, 2, ReportType::Output, 0x00, 64, GetMethod::Feature, 1000, false},
    {0x0E5B, 0, -1, ReportType::Output, 0x00, 64, GetMethod::Feature, 1000, true},
}};

// Bounds of the values a device owner may set.
constexpr uint32_t kMaxReportLength = 4096;
constexpr uint32_t kMinTimeoutMs = 10;
constexpr uint32_t kMaxTimeoutMs = 60000;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

std::string Refusal(const std::string& name, const OverrideValue& value, const char* why) {
    std::string shown = value.text ? "\"" + *value.text + "\"" : "";
    if (value.number) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(*value.number));
        shown = text;
    }
    return name + "=" + shown + ": " + why;
}

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

}  // namespace

const Framing* BuiltInFraming(uint16_t productId) {
    for (const Framing& framing : kFramings) {
        if (framing.productId == productId) return &framing;
    }
    return nullptr;
}

const std::vector<std::string>& OverrideNames() {
    static const std::vector<std::string> names{"HidUsagePage", "HidInterface",    "HidSetReport",
                                                "HidReportId",  "HidReportLength", "HidGetReport",
                                                "HidTimeoutMs"};
    return names;
}

bool ApplyOverride(FramingInForce& inForce, const std::string& name, const OverrideValue& value) {
    Framing changed = inForce.framing;
    const auto refuse = [&](const char* why) {
        inForce.refused.push_back(Refusal(name, value, why));
        return false;
    };
    const auto number = [&](uint32_t low, uint32_t high) -> std::optional<uint32_t> {
        if (!value.number || *value.number < low || *value.number > high) return std::nullopt;
        return value.number;
    };
    if (name == "HidUsagePage") {
        const auto page = number(0, 0xFFFF);
        if (!page) return refuse("a DWORD 0..0xFFFF (0: any vendor-defined page)");
        changed.usagePage = static_cast<uint16_t>(*page);
    } else if (name == "HidInterface") {
        if (value.number == 0xFFFFFFFFu) {
            changed.interfaceNumber = -1;
        } else {
            const auto interfaceNumber = number(0, 0xFF);
            if (!interfaceNumber) return refuse("a DWORD 0..255, or 0xFFFFFFFF for any interface");
            changed.interfaceNumber = static_cast<int>(*interfaceNumber);
        }
    } else if (name == "HidSetReport") {
        const std::string text = value.text ? Lower(*value.text) : "";
        if (text == "output") {
            changed.setReport = ReportType::Output;
        } else if (text == "feature") {
            changed.setReport = ReportType::Feature;
        } else {
            return refuse("\"output\" or \"feature\"");
        }
    } else if (name == "HidReportId") {
        const auto id = number(0, 0xFF);
        if (!id) return refuse("a DWORD 0..255 (0: the collection has no report IDs)");
        changed.reportId = static_cast<uint8_t>(*id);
    } else if (name == "HidReportLength") {
        const auto length = number(1, kMaxReportLength);
        if (!length) return refuse("a DWORD 1..4096");
        changed.reportLength = static_cast<uint16_t>(*length);
    } else if (name == "HidGetReport") {
        const std::string text = value.text ? Lower(*value.text) : "";
        if (text == "feature") {
            changed.get = GetMethod::Feature;
        } else if (text == "input") {
            changed.get = GetMethod::Input;
        } else {
            return refuse("\"feature\" or \"input\"");
        }
    } else if (name == "HidTimeoutMs") {
        const auto timeout = number(kMinTimeoutMs, kMaxTimeoutMs);
        if (!timeout) return refuse("a DWORD 10..60000");
        changed.timeoutMs = *timeout;
    } else {
        return refuse("unknown value");
    }
    inForce.framing = changed;
    inForce.overridden.push_back(name);
    return true;
}

std::optional<FramingInForce> FramingFor(uint16_t productId) {
    const Framing* builtIn = BuiltInFraming(productId);
    if (builtIn == nullptr) return std::nullopt;
    FramingInForce inForce{*builtIn, {}, {}};
    const auto values = ReadFramingOverrides(productId);
    for (const std::string& name : OverrideNames()) {
        if (const auto it = values.find(name); it != values.end()) {
            ApplyOverride(inForce, name, it->second);
        }
    }
    return inForce;
}

std::string DescribeFraming(const Framing& framing) {
    std::string text = std::string("set ") + ReportTypeName(framing.setReport) + " " +
                       Hex2(framing.reportId) + " " + std::to_string(framing.reportLength) +
                       " bytes, get " + (framing.get == GetMethod::Feature ? "feature" : "input") +
                       ", timeout " + std::to_string(framing.timeoutMs) + " ms, page ";
    if (framing.usagePage == 0) {
        text += "vendor";
    } else {
        char page[8];
        std::snprintf(page, sizeof page, "0x%04X", framing.usagePage);
        text += page;
    }
    text += ", interface ";
    text += framing.interfaceNumber < 0 ? "any" : std::to_string(framing.interfaceNumber);
    if (framing.tunnel) text += ", tunnel";
    return text;
}

bool IsLightingCollection(const Framing& framing, const CollectionInfo& collection) {
    if (framing.usagePage != 0) return collection.usagePage == framing.usagePage;
    return collection.usagePage >= kVendorPageFirst;
}

std::string CheckFraming(const Framing& framing, const CollectionInfo& collection) {
    const auto check = [&](ReportType type) -> std::string {
        const ReportInfo* report = collection.Find(type, framing.reportId);
        const std::string name =
            std::string(ReportTypeName(type)) + " report " + Hex2(framing.reportId);
        if (report == nullptr) return "no " + name + " (it has: " + collection.Describe() + ")";
        const uint32_t wanted = framing.reportLength;
        // Windows tells only the longest report of each type: the report must fit in it.
        const uint32_t windowsLength = collection.bufferLength[static_cast<int>(type)];
        if (report->length == 0 && windowsLength > 0 && wanted + 1 > windowsLength) {
            return name + " holds at most " + std::to_string(windowsLength - 1) + " bytes, not " +
                   std::to_string(wanted);
        }
        if (report->length != 0 && report->length != wanted) {
            return name + " is " + std::to_string(report->length) + " bytes, not " +
                   std::to_string(wanted);
        }
        return {};
    };
    std::string problem = check(framing.setReport);
    if (problem.empty()) {
        problem =
            check(framing.get == GetMethod::Feature ? ReportType::Feature : ReportType::Input);
    }
    return problem;
}

Wire::Wire(const Framing& framing, Os os, const CollectionInfo& collection)
    : m_framing(framing), m_os(os), m_windowsLength{0, 0, 0} {
    for (int i = 0; i < 3; ++i) m_windowsLength[i] = collection.bufferLength[i];
}

uint32_t Wire::BufferLength(ReportType type) const {
    const uint32_t framed = 1u + m_framing.reportLength;
    if (m_os == Os::Windows) {
        const uint32_t collection = m_windowsLength[static_cast<int>(type)];
        return std::max(framed, collection);
    }
    return framed;
}

std::optional<std::vector<uint8_t>> Wire::Frame(ReportType type, const uint8_t* payload,
                                                uint32_t length) const {
    const uint32_t size = BufferLength(type);
    if (length > m_framing.reportLength || (payload == nullptr && length > 0)) return std::nullopt;
    std::vector<uint8_t> report(size, 0);
    report[0] = m_framing.reportId;
    std::copy(payload, payload + length, report.begin() + 1);
    return report;
}

std::vector<uint8_t> Wire::ReadBuffer(ReportType type) const {
    std::vector<uint8_t> buffer(BufferLength(type), 0);
    buffer[0] = m_framing.reportId;
    return buffer;
}

size_t Wire::AnswerOffset(ReportType type) const {
    const bool bare = m_os == Os::Linux && type == ReportType::Input && m_framing.reportId == 0;
    return bare ? 0 : 1;
}

std::optional<std::vector<uint8_t>> Wire::TunnelReport(bool flag1, bool flag2, uint8_t command,
                                                       uint8_t arg1, uint8_t arg2,
                                                       const uint8_t* data, int length) const {
    if (length < 0 || length > kMaxTunnelData) return std::nullopt;
    const auto payload = TunnelPayload(flag1, flag2, command, arg1, arg2, data, length);
    return SetReport(payload.data(), static_cast<uint32_t>(payload.size()));
}

std::vector<uint8_t> TunnelPayload(bool flag1, bool flag2, uint8_t command, uint8_t arg1,
                                   uint8_t arg2, const uint8_t* data, int length) {
    const size_t count = length > 0 && data != nullptr ? static_cast<size_t>(length) : 0;
    std::vector<uint8_t> payload(5 + count);
    payload[0] = static_cast<uint8_t>((flag1 ? 1 : 0) | (flag2 ? 2 : 0));
    payload[1] = command;
    payload[2] = arg1;
    payload[3] = arg2;
    payload[4] = static_cast<uint8_t>(length);
    for (size_t i = 0; i < count; ++i) payload[5 + i] = data[i];
    return payload;
}

}  // namespace kvsdkmod::transport
