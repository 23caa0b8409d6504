#include "tools/kvsdk/TraceFollower.h"

#include <algorithm>
#include <cstdio>

#include "common/SafeFile.h"
#include "tools/kvsdk/ToolPlatform.h"

namespace kvsdk::tool {
namespace {

constexpr size_t kChunkBytes = 256 * 1024;
constexpr size_t kTailBytes = 64;
// Threads stamp their lines just before writing them: a line may come a little earlier than
// the one before it. A larger step back is a new process.
constexpr uint64_t kJitterMs = 50;

}  // namespace

std::string DescribeValue(Attribute attribute, uint32_t value) {
    char text[16];
    switch (attribute) {
        case Attribute::State:
            return value ? "on" : "off";
        case Attribute::Color:
            std::snprintf(text, sizeof text, "#%06X", value & 0xFFFFFFu);
            return text;
        default:
            return std::to_string(value);
    }
}

std::optional<LightActivity> LastActivity(const LightTimeline& light) {
    std::optional<LightActivity> last;
    size_t lastSeq = 0;
    for (Attribute attribute : kAttributes) {
        const auto& segments = light.Of(attribute);
        if (segments.empty() || (last && segments.back().seq < lastSeq)) continue;
        const Segment& s = segments.back();
        lastSeq = s.seq;
        last = LightActivity{
            s.start,
            std::string(AttributeName(attribute)) + " " + DescribeValue(attribute, s.value), false};
    }
    if (!light.events.empty() && (!last || light.events.back().seq >= lastSeq)) {
        const Event& e = light.events.back();
        last = LightActivity{e.ms, e.text, e.failed};
    }
    return last;
}

CTraceFollower::CTraceFollower(std::filesystem::path trace, ClockMs clock)
    : m_path(std::move(trace)), m_clock(std::move(clock)) {}

uint64_t CTraceFollower::SteadyMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

uint64_t CTraceFollower::Now() const {
    if (!m_caughtUp) return m_lastMs;
    const int64_t now = static_cast<int64_t>(m_clock()) + m_clockShift;
    return std::max(m_lastMs, static_cast<uint64_t>(std::max<int64_t>(now, 0)));
}

void CTraceFollower::SetStatus(std::string status) {
    if (status == m_status) return;
    m_status = std::move(status);
    ++m_version;
}

void CTraceFollower::Restart() {
    const uint64_t generation = m_generation + 1;
    const uint64_t version = m_version + 1;
    CTraceFollower fresh(std::move(m_path), std::move(m_clock));
    *this = std::move(fresh);
    m_generation = generation;
    m_version = version;
}

bool CTraceFollower::Poll() {
    const uint64_t from = m_offset - m_tail.size();
    auto slice = ReadRegularFileSlice(m_path, from, kChunkBytes);
    if (!slice) {
        std::error_code ec;
        SetStatus(std::filesystem::exists(m_path, ec) ? "not a regular file that can be read"
                                                      : "waiting for the trace to appear");
        return false;
    }
    // Another file in its place, or this one cut short or written over: start over.
    if ((m_identity && *m_identity != slice->identity) || slice->size < m_offset ||
        slice->bytes.compare(0, m_tail.size(), m_tail) != 0) {
        Restart();
        return true;
    }
    m_identity = slice->identity;
    SetStatus({});
    const std::string_view fresh = std::string_view(slice->bytes).substr(m_tail.size());
    m_offset += fresh.size();
    m_tail = slice->bytes.substr(slice->bytes.size() - std::min(kTailBytes, slice->bytes.size()));
    Feed(fresh);
    const bool more = m_offset < slice->size;
    if (!more && !m_caughtUp) {
        // What was there when the follower started ends now.
        m_caughtUp = true;
        m_clockShift = static_cast<int64_t>(m_lastMs) - static_cast<int64_t>(m_clock());
    }
    const uint64_t now = Now();
    m_builder.Forget(now > kHistoryMs ? now - kHistoryMs : 0, kMaxKeptPerList);
    return more;
}

void CTraceFollower::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (end == std::string_view::npos) {
            if (m_overlong) return;
            m_partial += piece;
            if (m_partial.size() > kMaxTraceLineBytes) {
                // Not a trace line: skip it up to its end, whenever that comes.
                m_partial.clear();
                m_overlong = true;
                ++m_skipped;
                ++m_version;
            }
            return;
        }
        if (m_overlong) {
            m_overlong = false;
        } else if (m_partial.empty()) {
            Line(piece);
        } else {
            m_partial += piece;
            Line(m_partial);
            m_partial.clear();
        }
        bytes.remove_prefix(end + 1);
    }
}

void CTraceFollower::Line(std::string_view line) {
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) return;
    auto record = ParseTraceRecord(line);
    ++m_version;
    if (!record) {
        ++m_skipped;
        return;
    }
    record->ms = Place(record->ms);
    if (!m_builder.Add(*record)) ++m_skipped;
}

uint64_t CTraceFollower::Place(uint64_t traceMs) {
    const bool newProcess = !m_inProcess || traceMs + kJitterMs < m_lastTraceMs ||
                            (traceMs == 0 && m_lastTraceMs > kJitterMs);
    if (newProcess) {
        const uint64_t start = std::max(m_lastMs, Now());
        m_shift = static_cast<int64_t>(start) - static_cast<int64_t>(traceMs);
        m_inProcess = true;
        m_lastTraceMs = traceMs;
    }
    m_lastTraceMs = std::max(m_lastTraceMs, traceMs);
    int64_t ms = static_cast<int64_t>(traceMs) + m_shift;
    if (m_caughtUp && ms > static_cast<int64_t>(Now())) {
        // A line read live happened at the latest now.
        m_shift -= ms - static_cast<int64_t>(Now());
        ms = static_cast<int64_t>(Now());
    }
    m_lastMs = std::max(m_lastMs, static_cast<uint64_t>(std::max<int64_t>(ms, 0)));
    return m_lastMs;
}

LiveState CTraceFollower::State() const {
    LiveState state;
    state.nowMs = Now();
    state.timeline = m_builder.Snapshot(state.nowMs);
    state.generation = m_generation;
    state.version = m_version;
    state.skipped = m_skipped;
    state.status = m_status;
    return state;
}

CLiveTrace::CLiveTrace(std::filesystem::path trace)
    : m_follower(std::move(trace)), m_thread([this] { Run(); }) {}

CLiveTrace::~CLiveTrace() {
    Stop();
    m_thread.join();
}

void CLiveTrace::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        const uint64_t before = m_follower.Version();
        const bool more = m_follower.Poll();
        if (m_follower.Version() != before) m_changed.notify_all();
        if (!more) m_changed.wait_for(lock, kFollowInterval, [this] { return m_stop; });
    }
}

LiveState CLiveTrace::State() const {
    std::lock_guard lock(m_mutex);
    return m_follower.State();
}

uint64_t CLiveTrace::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_stop || m_follower.Version() != seen; });
    return m_follower.Version();
}

void CLiveTrace::Stop() {
    std::lock_guard lock(m_mutex);
    m_stop = true;
    m_changed.notify_all();
}

bool CLiveTrace::Stopping() const {
    std::lock_guard lock(m_mutex);
    return m_stop;
}

}  // namespace kvsdk::tool
