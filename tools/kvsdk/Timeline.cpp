#include "tools/kvsdk/Timeline.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>
#include <sstream>
#include <unordered_map>

#include "catalogue/Products.h"
#include "common/SafeFile.h"
#include "effects/LightCommands.h"
#include "tools/kvsdk/Names.h"

namespace kvsdk::tool {
namespace {

std::vector<std::string> SplitWords(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i > start) words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

std::optional<uint32_t> Hex(std::string_view text) {
    uint32_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// Two-digit hex words up to 'stop' (or the end) as bytes; nullopt if one is not a byte.
std::optional<std::vector<uint8_t>> Bytes(const std::vector<std::string>& words, size_t from,
                                          size_t to) {
    std::vector<uint8_t> bytes;
    for (size_t i = from; i < to; ++i) {
        const auto value = Hex(words[i]);
        if (!value || words[i].size() > 2) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(*value));
    }
    return bytes;
}

std::string HexByte(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += HexByte(b);
    }
    return out;
}

// The builder of one device's timeline.
class DeviceBuilder {
  public:
    explicit DeviceBuilder(std::string path) {
        m_device.path = std::move(path);
        m_device.productId = ProductIdFromPath(m_device.path);
        m_device.family = FamilyOfProductId(m_device.productId);
    }

    void Apply(const TraceRecord& r, size_t seq) {
        m_seq = seq;
        if (r.op == "set") {
            ApplySet(r);
        } else if (r.op == "get") {
            ApplyGet(r);
        } else if (r.op == "tunnel") {
            ApplyTunnel(r);
        } else if (r.op == "connect") {
            std::string text = "connect";
            for (const std::string& word : r.details) text += " " + word;
            DeviceEvent(r, text + " -> " + r.result);
        } else {
            DeviceEvent(r, r.op);
        }
    }

    DeviceTimeline Current(uint64_t endMs) const {
        DeviceTimeline device = m_device;
        for (const auto& [key, light] : m_lights) {
            device.lights.push_back(light);
            for (auto& segments : device.lights.back().segments) {
                if (!segments.empty()) segments.back().end = std::max(segments.back().start, endMs);
            }
        }
        return device;
    }

    void Forget(uint64_t ms, size_t maxEach) {
        for (auto& [key, light] : m_lights) {
            for (auto& segments : light.segments) {
                ForgetOld(segments, maxEach, [ms](const Segment& s) { return s.end <= ms; });
            }
            ForgetOld(light.events, maxEach, [ms](const Event& e) { return e.ms < ms; });
        }
        ForgetOld(m_device.events, maxEach, [ms](const Event& e) { return e.ms < ms; });
    }

  private:
    // Erases from the front what is 'old' or beyond the newest 'maxEach'; the last one stays.
    template <class T, class IsOld>
    static void ForgetOld(std::vector<T>& items, size_t maxEach, IsOld isOld) {
        if (items.empty()) return;
        size_t drop = items.size() > maxEach ? items.size() - std::max<size_t>(maxEach, 1) : 0;
        while (drop + 1 < items.size() && isOld(items[drop])) ++drop;
        items.erase(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(drop));
    }

    LightTimeline& Light(uint32_t id, bool tunnel) {
        auto [it, added] = m_lights.try_emplace({tunnel, id});
        if (added) {
            it->second.id = id;
            it->second.tunnel = tunnel;
        }
        return it->second;
    }

    void Change(LightTimeline& light, Attribute attribute, uint64_t ms, uint32_t value) {
        auto& segments = light.segments[static_cast<int>(attribute)];
        if (!segments.empty()) {
            if (segments.back().value == value) return;  // no change: the segment goes on
            segments.back().end = ms;
        }
        segments.push_back({ms, ms, value, m_seq});
    }

    void DeviceEvent(const TraceRecord& r, std::string text) {
        if (!r.succeeded) text += " failed (" + r.Outcome() + ")";
        m_device.events.push_back({r.ms, std::move(text), !r.succeeded, m_seq});
    }

    static std::string Failure(const TraceRecord& r, const std::string& op,
                               const std::vector<uint8_t>& bytes) {
        return op + " " + HexBytes(bytes) + " failed (" + r.Outcome() + ")";
    }

    void ApplySet(const TraceRecord& r) {
        const auto bytes = Bytes(r.details, 0, r.details.size());
        if (!bytes) return DeviceEvent(r, "set (unreadable bytes)");
        const std::vector<uint8_t>& b = *bytes;
        if (b.size() >= 4 && b[1] == cmd::kClassLight) {
            LightTimeline& light = Light(b[3], false);
            if (!r.succeeded) {
                light.events.push_back({r.ms, Failure(r, "set", b), true, m_seq});
                return;
            }
            if (b[2] != cmd::kStorageLive) {
                light.events.push_back(
                    {r.ms, "stored setting written: " + HexBytes(b), false, m_seq});
                return;
            }
            ApplyLightCommand(light, r.ms, b);
        } else if (b.size() >= 3 && b[0] == cmd::kDeviceMode && b[1] == cmd::kClassDevice) {
            DeviceEvent(r, "device mode " + std::to_string(b[2]));
        } else {
            DeviceEvent(r, "set " + HexBytes(b));
        }
    }

    void ApplyLightCommand(LightTimeline& light, uint64_t ms, const std::vector<uint8_t>& b) {
        const size_t n = b.size();
        switch (b[0]) {
            case cmd::kLightState:
                if (n >= 5)
                    return Change(light, Attribute::State, ms, b[4] != cmd::kStateOff ? 1 : 0);
                break;
            case cmd::kLightColor:
                if (n >= 7) {
                    return Change(light, Attribute::Color, ms,
                                  (uint32_t{b[4]} << 16) | (uint32_t{b[5]} << 8) | b[6]);
                }
                break;
            case cmd::kLightMode:
                if (n >= 5) return Change(light, Attribute::Mode, ms, b[4]);
                break;
            case cmd::kLightBrightness:
                if (n >= 5) return Change(light, Attribute::Brightness, ms, b[4]);
                break;
            case cmd::kLightBlink:
                if (n >= 6) {
                    light.events.push_back({ms,
                                            "device blink: off " + std::to_string(b[4]) + ", on " +
                                                std::to_string(b[5]),
                                            false, m_seq});
                    return;
                }
                break;
            case cmd::kLightModeParams:
                if (n >= 12) {
                    const auto word = [&](size_t i) { return (uint32_t{b[i]} << 8) | b[i + 1]; };
                    const uint32_t scaled = word(6);
                    const uint32_t percent = (scaled * 100u + 65535u / 2) / 65535u;
                    light.events.push_back({ms,
                                            "mode-2 parameters: param1 " + std::to_string(word(4)) +
                                                ", percent " + std::to_string(percent) + " (" +
                                                HexByte(b[6]) + HexByte(b[7]) + "), param2 " +
                                                std::to_string(word(8)) + ", param3 " +
                                                std::to_string(word(10)),
                                            false, m_seq});
                    return;
                }
                break;
            default:
                break;
        }
        light.events.push_back({ms, "command " + HexBytes(b), false, m_seq});
    }

    void ApplyGet(const TraceRecord& r) {
        const auto arrow = std::find(r.details.begin(), r.details.end(), "->");
        const auto split = static_cast<size_t>(arrow - r.details.begin());
        const auto request = Bytes(r.details, 0, split);
        const auto answer = arrow == r.details.end()
                                ? std::optional<std::vector<uint8_t>>{}
                                : Bytes(r.details, split + 1, r.details.size());
        if (!request || request->size() < 4 || (*request)[1] != cmd::kClassLight) {
            std::string text = "get";
            for (const std::string& word : r.details) text += " " + word;
            return DeviceEvent(r, text);
        }
        const std::vector<uint8_t>& q = *request;
        LightTimeline& light = Light(q[3], false);
        const std::string where = q[2] == cmd::kStorageLive ? "" : " (stored)";
        std::string what = q[0] == cmd::kLightState        ? "state"
                           : q[0] == cmd::kLightBrightness ? "brightness"
                                                           : "command " + HexByte(q[0]);
        if (!r.succeeded || !answer || answer->size() < 5) {
            light.events.push_back({r.ms, "read " + what + where + " failed (" + r.Outcome() + ")",
                                    !r.succeeded, m_seq});
            return;
        }
        const uint8_t value = (*answer)[4];
        std::string shown = std::to_string(value);
        if (q[0] == cmd::kLightState)
            shown = value == cmd::kStateOn ? "on" : value == cmd::kStateOff ? "off" : shown;
        light.events.push_back({r.ms, "read " + what + where + ": " + shown, false, m_seq});
    }

    void ApplyTunnel(const TraceRecord& r) {
        // flag flag command 00 argument data length
        const auto& d = r.details;
        const uint32_t code = d.size() == 7 ? Hex(d[2]).value_or(0) : 0;
        const std::optional<uint32_t> data =
            d.size() == 7 && d[5].size() == 6 ? Hex(d[5]) : std::nullopt;
        std::string text = "tunnel";
        for (const std::string& word : d) text += " " + word;
        if (data && code >= cmd::kTunnelCode60 && code <= cmd::kTunnelCode62) {
            LightTimeline& light = Light(code, true);
            if (r.succeeded) {
                Change(light, Attribute::Color, r.ms, *data);
            } else {
                light.events.push_back({r.ms, text + " failed (" + r.Outcome() + ")", true, m_seq});
            }
            return;
        }
        DeviceEvent(r, text);
    }

    DeviceTimeline m_device;
    size_t m_seq = 0;
    std::map<std::pair<bool, uint32_t>, LightTimeline> m_lights;
};

}  // namespace

const char* AttributeName(Attribute attribute) {
    switch (attribute) {
        case Attribute::State:
            return "state";
        case Attribute::Brightness:
            return "brightness";
        case Attribute::Color:
            return "colour";
        case Attribute::Mode:
            return "mode";
    }
    return "?";
}

std::string LightTimeline::Label() const {
    return (tunnel ? "tunnel 0x" : "light 0x") + HexByte(id);
}

std::string DeviceTimeline::Title() const {
    return DescribeProductId(productId);
}

const LightTimeline* DeviceTimeline::Find(uint32_t id, bool tunnel) const {
    for (const LightTimeline& light : lights) {
        if (light.id == id && light.tunnel == tunnel) return &light;
    }
    return nullptr;
}

const DeviceTimeline* Timeline::Find(std::string_view productId) const {
    for (const DeviceTimeline& device : devices) {
        if (device.productId == productId) return &device;
    }
    return nullptr;
}

std::string ProductIdFromPath(std::string_view path) {
    std::string upper(path);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return kvsdk::ProductIdFromPath(std::string_view(upper));
}

std::optional<TraceRecord> ParseTraceRecord(std::string_view line) {
    std::vector<std::string> words = SplitWords(line);
    TraceRecord record;
    // A hardware trace line may end with the operating system's error after the result.
    if (words.size() >= 6 && words.back().starts_with("os=")) {
        record.osError = words.back().substr(3);
        words.pop_back();
    }
    if (words.size() < 5 || words[words.size() - 2] != "=") return std::nullopt;
    const std::string& ms = words[0];
    const auto [ptr, ec] = std::from_chars(ms.data(), ms.data() + ms.size(), record.ms);
    if (ec != std::errc() || ptr != ms.data() + ms.size()) return std::nullopt;
    record.op = words[1];
    record.path = words[2];
    for (char& c : record.path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    record.details.assign(words.begin() + 3, words.end() - 2);
    record.result = words.back();
    if (record.op == "connect") {
        if (record.result != "1" && record.result != "0") return std::nullopt;
        record.succeeded = record.result == "1";
    } else {
        const auto code = Hex(record.result);
        if (!code) return std::nullopt;
        // A tunnel write answers 0 on success; every other call answers an HRESULT.
        record.succeeded = record.op == "tunnel" ? *code == 0 : (*code & 0x80000000u) == 0;
    }
    return record;
}

Timeline BuildTimeline(std::string_view traceText) {
    Timeline timeline;
    std::vector<TraceRecord> records;
    std::istringstream stream{std::string(traceText)};
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        if (auto record = ParseTraceRecord(line)) {
            records.push_back(std::move(*record));
        } else {
            timeline.skipped.push_back(line);
        }
    }
    // Threads stamp their lines just before writing them: order by time, keeping file order
    // among equal times.
    std::stable_sort(records.begin(), records.end(),
                     [](const TraceRecord& a, const TraceRecord& b) { return a.ms < b.ms; });

    TimelineBuilder builder;
    for (const TraceRecord& record : records) builder.Add(record);
    records = {};
    Timeline built = builder.Snapshot(0);
    built.skipped = std::move(timeline.skipped);
    return built;
}

// Devices in order of first appearance, found by path in constant time.
struct TimelineBuilder::Impl {
    size_t maxDevices = 0;
    std::vector<DeviceBuilder> builders;
    std::unordered_map<std::string, size_t> byPath;
    size_t records = 0;
    uint64_t endMs = 0;
};

TimelineBuilder::TimelineBuilder(size_t maxDevices) : m_impl(std::make_unique<Impl>()) {
    m_impl->maxDevices = maxDevices;
}
TimelineBuilder::~TimelineBuilder() = default;
TimelineBuilder::TimelineBuilder(TimelineBuilder&&) noexcept = default;
TimelineBuilder& TimelineBuilder::operator=(TimelineBuilder&&) noexcept = default;

bool TimelineBuilder::Add(const TraceRecord& record) {
    Impl& m = *m_impl;
    auto it = m.byPath.find(record.path);
    if (it == m.byPath.end()) {
        if (m.builders.size() >= m.maxDevices) return false;
        it = m.byPath.emplace(record.path, m.builders.size()).first;
        m.builders.emplace_back(record.path);
    }
    m.builders[it->second].Apply(record, m.records++);
    m.endMs = std::max(m.endMs, record.ms);
    return true;
}

void TimelineBuilder::Forget(uint64_t ms, size_t maxEach) {
    for (DeviceBuilder& builder : m_impl->builders) builder.Forget(ms, maxEach);
}

Timeline TimelineBuilder::Snapshot(uint64_t endMs) const {
    Timeline timeline;
    timeline.endMs = std::max(endMs, m_impl->endMs);
    timeline.lineCount = m_impl->records;
    timeline.devices.reserve(m_impl->builders.size());
    for (const DeviceBuilder& builder : m_impl->builders) {
        timeline.devices.push_back(builder.Current(timeline.endMs));
    }
    return timeline;
}

std::optional<std::string> ReadTraceFile(const std::filesystem::path& path) {
    return ReadRegularFile(path, kMaxTraceFileBytes);
}

}  // namespace kvsdk::tool
