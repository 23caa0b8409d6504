// The light timeline: what a device trace (KVSDK_SIM_TRACE) did to every light of every device,
// as segments of constant state per attribute plus point events. Built from the trace text
// alone; the renderers (TimelineRender.h) only draw it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvsdk::tool {

// One trace line: "<ms> <op> <PATH> <details> = <result>".
struct TraceRecord {
    uint64_t ms = 0;
    std::string op;
    std::string path;
    std::vector<std::string> details;  // the fields between the path and "="
    std::string result;                // as written: eight hex digits, or 1/0 for connect
    bool succeeded = true;             // result is a success code (or connect answered 1)
    std::string osError;               // the hardware trace's "os=EPIPE" after the result
    // The result as shown: "8007001F EPIPE".
    std::string Outcome() const { return osError.empty() ? result : result + " " + osError; }
};

// nullopt for a line that does not have the trace format.
std::optional<TraceRecord> ParseTraceRecord(std::string_view line);

enum class Attribute { State, Brightness, Color, Mode };
inline constexpr Attribute kAttributes[] = {Attribute::State, Attribute::Brightness,
                                            Attribute::Color, Attribute::Mode};
const char* AttributeName(Attribute attribute);  // "state", "brightness", "colour", "mode"

// A stretch of time over which one attribute of a light held one value. State: 0 off, 1 on.
// Brightness: 0..255. Colour: 0xRRGGBB. Mode: the lighting mode byte.
struct Segment {
    uint64_t start = 0;
    uint64_t end = 0;  // the next change of the attribute, or the end of the trace
    uint32_t value = 0;
    size_t seq = 0;  // index of the trace line that started it (orders equal times)
};

// Something that happened at one moment: a command without lasting state (device blink,
// mode-2 parameters, device mode), a read-back, a write of a stored setting, a failed call,
// or a lifecycle call (init, connect, close).
struct Event {
    uint64_t ms = 0;
    std::string text;
    bool failed = false;
    size_t seq = 0;  // index of the trace line
};

struct LightTimeline {
    uint32_t id = 0;      // hardware light id, or the tunnel command code
    bool tunnel = false;  // a tunnel command of the USB device 0E5B rather than a light id
    std::vector<Segment> segments[4];  // by Attribute
    std::vector<Event> events;

    const std::vector<Segment>& Of(Attribute a) const { return segments[static_cast<int>(a)]; }
    std::string Label() const;  // "light 0x01", "tunnel 0x60"
};

struct DeviceTimeline {
    std::string path;                   // as traced (upper case)
    std::string productId;              // "0E59"; empty when the path has none
    std::string family;                 // "VEXO", "Pell" or empty
    std::vector<LightTimeline> lights;  // by id, light ids before tunnel codes
    std::vector<Event> events;          // not tied to one light

    std::string Title() const;  // "Pell mouse 0E59"
    const LightTimeline* Find(uint32_t id, bool tunnel = false) const;
};

struct Timeline {
    std::vector<DeviceTimeline> devices;  // in order of first appearance
    uint64_t endMs = 0;                   // time of the last trace line
    size_t lineCount = 0;                 // trace lines understood
    std::vector<std::string> skipped;     // lines that were not trace lines

    const DeviceTimeline* Find(std::string_view productId) const;  // first with that id
};

// Linear in the trace's length, whatever the number of distinct paths.
Timeline BuildTimeline(std::string_view traceText);

// Builds a timeline one record at a time, in time order: BuildTimeline sorts a whole trace
// first, a follower of a growing trace adds the records as they come.
class TimelineBuilder {
  public:
    // Records of devices beyond the first 'maxDevices' paths are left out.
    explicit TimelineBuilder(size_t maxDevices = SIZE_MAX);
    ~TimelineBuilder();
    TimelineBuilder(TimelineBuilder&&) noexcept;
    TimelineBuilder& operator=(TimelineBuilder&&) noexcept;

    // False when the record was left out (a device beyond maxDevices).
    bool Add(const TraceRecord& record);
    // Drops the segments that ended and the events that happened before 'ms', and all but the
    // newest 'maxEach' of every list; every attribute's current segment and every light's and
    // device's last event stay.
    void Forget(uint64_t ms, size_t maxEach);
    // The timeline so far, its current segments ending at 'endMs'.
    Timeline Snapshot(uint64_t endMs) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The largest trace file the tool reads (64 MiB: hours of a busy device).
inline constexpr size_t kMaxTraceFileBytes = 64u * 1024u * 1024u;

// The text of a trace file: a regular file of at most kMaxTraceFileBytes, opened without
// blocking (a FIFO or a device is refused); nullopt otherwise.
std::optional<std::string> ReadTraceFile(const std::filesystem::path& path);

// "0E59" from "\\?\HID#VID_7A3E&PID_0E59&MI_00#...", in any case: the library's own rule
// (kvsdk::ProductIdFromPath) on the upper-cased path.
std::string ProductIdFromPath(std::string_view path);

}  // namespace kvsdk::tool
