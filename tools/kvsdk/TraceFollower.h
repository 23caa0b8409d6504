// Following a device trace while a host writes it: the lights' current state and the last
// minute, in bounded memory whatever the trace's length. 'kvsdk watch' and 'kvsdk view' draw
// what it holds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "tools/kvsdk/Timeline.h"

namespace kvsdk::tool {

inline constexpr uint64_t kHistoryMs = 60000;    // what is kept besides the current state
inline constexpr size_t kMaxKeptPerList = 4096;  // segments of one attribute, events of a light
inline constexpr size_t kMaxFollowedDevices = 64;
inline constexpr size_t kMaxTraceLineBytes = 64 * 1024;
inline constexpr std::chrono::milliseconds kFollowInterval{20};

struct LiveState {
    Timeline timeline;        // what is kept; the current segments end at nowMs
    uint64_t nowMs = 0;       // the follower's clock, on the timeline's axis
    uint64_t generation = 0;  // counts restarts: the trace was truncated or replaced
    uint64_t version = 0;     // counts changes of anything here but nowMs
    size_t skipped = 0;       // lines that are not trace lines, or of devices beyond the cap
    std::string status;       // why nothing is read (no such file...); empty while following
};

// The last thing that happened to a light: a change of an attribute or an event.
struct LightActivity {
    uint64_t ms = 0;
    std::string text;  // "colour #FF5000", "device blink: off 100, on 200"
    bool failed = false;
};
std::optional<LightActivity> LastActivity(const LightTimeline& light);

// "on"/"off", "#FF5000", or the number.
std::string DescribeValue(Attribute attribute, uint32_t value);

// Reads a trace file as it grows. Each process that writes to the trace counts its times from
// its own first line; the follower puts them on one axis: what it finds in the file when it
// starts (or starts over) follows on end to end, and what comes later is placed at the time it
// is read. Not thread-safe: CLiveTrace shares one between threads.
class CTraceFollower {
  public:
    using ClockMs = std::function<uint64_t()>;  // a monotonic clock in milliseconds
    explicit CTraceFollower(std::filesystem::path trace, ClockMs clock = SteadyMs);

    // Reads at most one chunk of what was written since the last call; true when more is
    // waiting. A truncated or replaced trace is read again from its start.
    bool Poll();
    LiveState State() const;
    uint64_t Version() const { return m_version; }

    static uint64_t SteadyMs();

  private:
    void Restart();
    void Feed(std::string_view bytes);
    void Line(std::string_view line);
    uint64_t Place(uint64_t traceMs);
    uint64_t Now() const;
    void SetStatus(std::string status);

    std::filesystem::path m_path;
    ClockMs m_clock;
    TimelineBuilder m_builder{kMaxFollowedDevices};
    std::optional<uint64_t> m_identity;
    uint64_t m_offset = 0;
    std::string m_tail;     // the last bytes read, to notice a file rewritten in place
    std::string m_partial;  // a line not yet ended
    bool m_overlong = false;
    bool m_caughtUp = false;  // the file's end was reached once
    bool m_inProcess = false;
    uint64_t m_lastTraceMs = 0;
    int64_t m_shift = 0;       // axis time = trace time + shift, for the current process
    uint64_t m_lastMs = 0;     // axis time of the last record
    int64_t m_clockShift = 0;  // once caught up: now = clock + clockShift
    uint64_t m_generation = 0;
    uint64_t m_version = 0;
    size_t m_skipped = 0;
    std::string m_status;
};

// A follower polled on its own thread, for readers on others.
class CLiveTrace {
  public:
    explicit CLiveTrace(std::filesystem::path trace);
    ~CLiveTrace();
    CLiveTrace(const CLiveTrace&) = delete;
    CLiveTrace& operator=(const CLiveTrace&) = delete;

    LiveState State() const;
    // Waits until the version is no longer 'seen', 'timeout' passes or Stop; answers it.
    uint64_t WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) const;
    void Stop();
    bool Stopping() const;

  private:
    void Run();

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    CTraceFollower m_follower;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace kvsdk::tool
