#include "kvsdkmod/transport/HidConnection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <new>

#include "common/Strings.h"
#include "kvsdkmod/ForkChild.h"
#include "kvsdkmod/Trace.h"

namespace kvsdkmod::transport {

namespace {

using Clock = std::chrono::steady_clock;

void Trace(std::string_view op, std::string_view path, std::string_view details, HRESULT result,
           std::string_view osError = {}) {
    TraceLine(TraceChannel::Hardware, op, path, details, HexResult(static_cast<uint32_t>(result)),
              osError);
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

// The trace's name of a tunnel channel: its ids (so a timeline knows the product) and its node.
std::string ChannelTraceName(uint16_t vendorId, uint16_t productId, const std::string& node) {
    return "HID#VID_" + Hex4(vendorId) + "&PID_" + Hex4(productId) + "#" + node;
}

// One failed Init or Connect's reason, kept in a trace line's details: words only, never a lone
// "=" that would end the details early.
std::string Words(std::string text) {
    for (char& c : text) {
        if (c == '=' || c == '\n' || c == '\r') c = ':';
    }
    return text;
}

class HidDeviceConnection final : public DeviceConnection {
  public:
    HidDeviceConnection(std::string tracePath, LightingChoice choice, Os os, const Framing& framing)
        : m_path(std::move(tracePath)),
          m_node(std::move(choice.node)),
          m_wire(framing, os, choice.collection),
          m_lock(NodeLock(choice.nodeName)) {}

    ~HidDeviceConnection() override { Trace("close", m_path, "", 0); }

    HRESULT Set(const uint8_t* buffer, uint32_t length) override {
        IoResult io;
        {
            std::lock_guard lock(*m_lock);
            io = Send(m_wire.GetFraming().setReport, buffer, length);
        }
        if (TraceWanted(TraceChannel::Hardware)) {
            Trace("set", m_path, HexBytes(buffer, length), io.result, io.osError);
        }
        return io.result;
    }

    HRESULT Get(uint8_t* buffer, uint32_t* length) override {
        const uint32_t count = *length;
        std::vector<uint8_t> answer;
        IoResult io;
        {
            std::lock_guard lock(*m_lock);
            io = Exchange(buffer, count, answer);
        }
        const std::string request = HexBytes(buffer, count);
        if (!io.Failed()) std::copy(answer.begin(), answer.end(), buffer);
        if (TraceWanted(TraceChannel::Hardware)) {
            Trace("get", m_path, request + " -> " + HexBytes(buffer, count), io.result, io.osError);
        }
        return io.result;
    }

  private:
    IoResult Send(ReportType type, const uint8_t* payload, uint32_t length) {
        const auto report = m_wire.Frame(type, payload, length);
        if (!report) return {kCommandTooLong, {}, 0};
        return m_node->Send(type, *report, m_wire.GetFraming().timeoutMs);
    }

    // The request out, the answer in; the caller holds the node's lock.
    IoResult Exchange(const uint8_t* request, uint32_t count, std::vector<uint8_t>& answer) {
        const Framing& framing = m_wire.GetFraming();
        if (framing.get == GetMethod::Feature) {
            IoResult io = Send(ReportType::Feature, request, count);
            if (io.Failed()) return io;
            std::vector<uint8_t> report = m_wire.ReadBuffer(ReportType::Feature);
            io = m_node->GetFeature(report, framing.timeoutMs);
            if (io.Failed()) return io;
            return TakeAnswer(report, static_cast<uint32_t>(report.size()), ReportType::Feature,
                              count, answer);
        }
        m_node->DiscardInput();
        IoResult io = Send(framing.setReport, request, count);
        if (io.Failed()) return io;
        const auto deadline = Clock::now() + std::chrono::milliseconds(framing.timeoutMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return {kTimedOut, {}, 0};
            std::vector<uint8_t> report = m_wire.ReadBuffer(ReportType::Input);
            io = m_node->ReadInput(report, static_cast<uint32_t>(left.count()));
            if (io.Failed()) return io;
            // A node shared with other collections also delivers their reports.
            if (framing.reportId != 0 && (io.transferred == 0 || report[0] != framing.reportId)) {
                continue;
            }
            return TakeAnswer(report, io.transferred, ReportType::Input, count, answer);
        }
    }

    IoResult TakeAnswer(const std::vector<uint8_t>& report, uint32_t transferred, ReportType type,
                        uint32_t count, std::vector<uint8_t>& answer) const {
        const size_t offset = m_wire.AnswerOffset(type);
        if (transferred < offset + count || report.size() < offset + count) {
            return {kFramingMismatch, {}, 0};
        }
        answer.assign(report.begin() + static_cast<std::ptrdiff_t>(offset),
                      report.begin() + static_cast<std::ptrdiff_t>(offset + count));
        return {};
    }

    const std::string m_path;
    std::unique_ptr<HidNode> m_node;
    const Wire m_wire;
    const std::shared_ptr<std::mutex> m_lock;
};

class HidChannelConnection final : public ChannelConnection {
  public:
    HidChannelConnection(std::string tracePath, LightingChoice choice, Os os,
                         const Framing& framing)
        : m_path(std::move(tracePath)),
          m_node(std::move(choice.node)),
          m_wire(framing, os, choice.collection),
          m_lock(NodeLock(choice.nodeName)) {}

    ~HidChannelConnection() override { Trace("close", m_path, "", 0); }

    int TunnelWrite(bool flag1, bool flag2, uint8_t command, uint8_t arg1, uint8_t arg2,
                    const uint8_t* data, int length) override {
        IoResult io{kCommandTooLong, {}, 0};
        if (const auto report =
                m_wire.TunnelReport(flag1, flag2, command, arg1, arg2, data, length)) {
            std::lock_guard lock(*m_lock);
            io =
                m_node->Send(m_wire.GetFraming().setReport, *report, m_wire.GetFraming().timeoutMs);
        }
        const int answer = io.Failed() ? -1 : 0;
        if (TraceWanted(TraceChannel::Hardware)) {
            Trace("tunnel", m_path, TunnelDetails(flag1, flag2, command, arg1, arg2, data, length),
                  answer, io.osError);
        }
        return answer;
    }

  private:
    const std::string m_path;
    std::unique_ptr<HidNode> m_node;
    const Wire m_wire;
    const std::shared_ptr<std::mutex> m_lock;
};

}  // namespace

std::shared_ptr<std::mutex> NodeLock(const std::string& nodeName) {
    struct Table {
        std::mutex lock;
        std::map<std::string, std::weak_ptr<std::mutex>> locks;
    };
    static Table* table = new Table;
    static const bool renewed = [] {
        RunInForkedChild([] { new (table) Table; });
        return true;
    }();
    (void)renewed;
    std::lock_guard guard(table->lock);
    for (auto it = table->locks.begin(); it != table->locks.end();) {
        it = it->second.expired() ? table->locks.erase(it) : std::next(it);
    }
    auto& slot = table->locks[nodeName];
    auto lock = slot.lock();
    if (!lock) {
        lock = std::make_shared<std::mutex>();
        slot = lock;
    }
    return lock;
}

LightingChoice ChooseLighting(HidBackend& backend, const Framing& framing,
                              const std::vector<NodeCandidate>& candidates, uint16_t vendorId,
                              uint16_t productId) {
    LightingChoice choice;
    std::optional<LightingChoice> firstFailure;
    std::string seen;
    for (const NodeCandidate& candidate : candidates) {
        if (framing.interfaceNumber >= 0 && candidate.interfaceNumber >= 0 &&
            candidate.interfaceNumber != framing.interfaceNumber) {
            continue;
        }
        OpenedNode opened = backend.Open(candidate, vendorId, productId);
        if (!opened.node) {
            if (!firstFailure) {
                firstFailure.emplace();
                firstFailure->result = opened.error.result;
                firstFailure->osError = opened.error.osError;
                firstFailure->detail =
                    candidate.name + (opened.detail.empty() ? "" : ": " + opened.detail);
            }
            continue;
        }
        for (const CollectionInfo& collection : opened.collections) {
            if (!IsLightingCollection(framing, collection)) continue;
            const std::string problem = CheckFraming(framing, collection);
            choice.nodeName = candidate.name;
            choice.collection = collection;
            if (!problem.empty()) {
                choice.result = kFramingMismatch;
                choice.detail = candidate.name + ": " + problem;
                return choice;
            }
            char page[16];
            std::snprintf(page, sizeof page, "%04X:%04X", collection.usagePage, collection.usage);
            choice.result = 0;
            choice.detail = "node " + candidate.name + " collection " + page + ", " +
                            DescribeFraming(framing) + (opened.zeroAccess ? ", zero access" : "");
            choice.node = std::move(opened.node);
            return choice;
        }
        for (const CollectionInfo& collection : opened.collections) {
            char page[8];
            std::snprintf(page, sizeof page, "%04X", collection.usagePage);
            seen += (seen.empty() ? "" : " ") + candidate.name + ":" + page;
        }
    }
    if (firstFailure) return std::move(*firstFailure);
    choice.result = kNoLightingCollection;
    choice.detail =
        "no lighting collection (" + DescribeFraming(framing) + ") among [" + seen + "]";
    return choice;
}

DeviceOpenResult OpenDeviceOver(HidBackend& backend, const std::wstring& path) {
    DeviceOpenResult opened;
    const std::string tracePath = kvsdk::ToUtf8(path);
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    const auto candidates = backend.NodesOfPath(path, vendorId, productId);
    const auto framing = candidates ? FramingFor(productId) : std::nullopt;
    if (!candidates || !framing) {
        opened.result = kvsdk::HResultFromWin32(kvsdk::kErrorFileNotFound);
        Trace("init", tracePath, candidates ? "not a product of this library" : "names no device",
              opened.result);
        return opened;
    }
    LightingChoice choice =
        ChooseLighting(backend, framing->framing, *candidates, vendorId, productId);
    opened.result = choice.result;
    std::string details = Words(choice.detail);
    for (const std::string& name : framing->overridden) details += " override:" + name;
    for (const std::string& refused : framing->refused) details += " refused:" + Words(refused);
    Trace("init", tracePath, details, choice.result, choice.osError);
    if (kvsdk::Succeeded(choice.result)) {
        opened.connection = std::make_unique<HidDeviceConnection>(
            tracePath, std::move(choice), backend.GetOs(), framing->framing);
    }
    return opened;
}

ChannelOpenResult ConnectChannelOver(HidBackend& backend, int vendorId, int productId) {
    ChannelOpenResult opened;
    if (vendorId < 0 || vendorId > 0xFFFF || productId < 0 || productId > 0xFFFF) return opened;
    const auto vid = static_cast<uint16_t>(vendorId);
    const auto pid = static_cast<uint16_t>(productId);
    const auto framing = FramingFor(pid);
    if (!framing) return opened;
    LightingChoice choice =
        ChooseLighting(backend, framing->framing, backend.NodesOfIds(vid, pid), vid, pid);
    const std::string tracePath = ChannelTraceName(vid, pid, choice.nodeName);
    opened.connected = kvsdk::Succeeded(choice.result);
    TraceLine(TraceChannel::Hardware, "connect", tracePath,
              Hex4(vid) + " " + Hex4(pid) + " " + Words(choice.detail),
              opened.connected ? "1" : "0", choice.osError);
    if (opened.connected) {
        opened.connection = std::make_unique<HidChannelConnection>(
            tracePath, std::move(choice), backend.GetOs(), framing->framing);
    }
    return opened;
}

DeviceOpenResult OpenHardwareDevice(const std::wstring& path) {
    return OpenDeviceOver(PlatformBackend(), path);
}

ChannelOpenResult ConnectHardwareChannel(int vendorId, int productId) {
    return ConnectChannelOver(PlatformBackend(), vendorId, productId);
}

}  // namespace kvsdkmod::transport
