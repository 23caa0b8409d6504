// kvsdk_bench: the library's performance figures, each measured against a floor in the same run.
//
// The library is driven through its four exports on simulated devices. The device-I/O library's
// observation seam (KvSDKModSetSimCommandObserver) timestamps every command as it reaches a
// virtual device, with the steady clock's nanosecond resolution. The floors are small reference
// implementations of the same work, written here, measured with the same pacing and in turns
// with the library's own samples, so that both see the same machine.
//
//   kvsdk_bench           full run (about half a minute)
//   kvsdk_bench --smoke   a few samples of every figure; checks only that every call succeeds
//
// Exit code 0 when every library call answered S_OK; the table is information, not a verdict.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "KvSDKEng.h"
#include "KvSDKMod.h"
#include "tools/kvsdk/TraceFollower.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// --- What reaches the devices -----------------------------------------------------------------

struct Observed {
    std::atomic<uint64_t> commands{0};
    std::atomic<bool> armed{false};
    std::atomic<int64_t> firstAt{0};
    std::atomic<uint32_t> threadStarts{0};
    std::atomic<bool> recording{false};
    std::atomic<size_t> recorded{0};
    std::vector<int64_t> times = std::vector<int64_t>(1 << 16);
};
Observed g_seen;

void Observe(void* /*context*/, const uint8_t* /*buffer*/, uint32_t /*length*/) {
    const int64_t now = NowNs();
    thread_local bool known = false;
    if (!known) {
        known = true;
        g_seen.threadStarts.fetch_add(1);
    }
    if (g_seen.armed.exchange(false)) g_seen.firstAt.store(now);
    if (g_seen.recording.load()) {
        const size_t slot = g_seen.recorded.fetch_add(1);
        if (slot < g_seen.times.size()) g_seen.times[slot] = now;
    }
    g_seen.commands.fetch_add(1, std::memory_order_release);
}

// Spins (yielding) until at least 'count' commands have been seen; false after 'limit'.
bool WaitForCommands(uint64_t count, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = Clock::now() + limit;
    while (g_seen.commands.load(std::memory_order_acquire) < count) {
        if (Clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

// Commands seen once the devices have been quiet for 'quiet'.
uint64_t SettledCommands(std::chrono::milliseconds quiet = std::chrono::milliseconds(30)) {
    uint64_t last = g_seen.commands.load();
    for (;;) {
        std::this_thread::sleep_for(quiet);
        const uint64_t now = g_seen.commands.load();
        if (now == last) return now;
        last = now;
    }
}

// --- Statistics and the table -----------------------------------------------------------------

struct Stats {
    double p50 = 0;
    double p99 = 0;
};

Stats Percentiles(std::vector<double> samples) {
    Stats stats;
    if (samples.empty()) return stats;
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        const size_t i = static_cast<size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
        return samples[std::min(i, samples.size() - 1)];
    };
    stats.p50 = at(0.50);
    stats.p99 = at(0.99);
    return stats;
}

struct Row {
    std::string figure;
    std::string value;  // p50 / p99
    std::string floor;  // p50 / p99
    std::string ratio;
    std::string target;
};
std::vector<Row> g_rows;
bool g_failed = false;

std::string Time(double ns) {
    char text[32];
    if (ns < 0) {
        std::string positive = Time(-ns);
        positive.insert(positive.begin(), '-');
        return positive;
    }
    if (ns < 1e3) {
        std::snprintf(text, sizeof text, "%.0f ns", ns);
    } else if (ns < 1e6) {
        std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    }
    return text;
}
std::string Pair(const Stats& s) {
    return Time(s.p50) + " / " + Time(s.p99);
}
std::string Number(double value, const char* suffix = "x") {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%s", value, suffix);
    return text;
}

void PrintTable() {
    size_t widths[5] = {6, 9, 11, 5, 6};
    for (const Row& r : g_rows) {
        widths[0] = std::max(widths[0], r.figure.size());
        widths[1] = std::max(widths[1], r.value.size());
        widths[2] = std::max(widths[2], r.floor.size());
        widths[3] = std::max(widths[3], r.ratio.size());
        widths[4] = std::max(widths[4], r.target.size());
    }
    const auto line = [&](const std::string& a, const std::string& b, const std::string& c,
                          const std::string& d, const std::string& e) {
        std::printf("| %-*s | %*s | %*s | %*s | %-*s |\n", static_cast<int>(widths[0]), a.c_str(),
                    static_cast<int>(widths[1]), b.c_str(), static_cast<int>(widths[2]), c.c_str(),
                    static_cast<int>(widths[3]), d.c_str(), static_cast<int>(widths[4]), e.c_str());
    };
    line("figure", "p50 / p99", "floor p50 / p99", "ratio", "target");
    std::printf("|%s|%s:|%s:|%s:|%s|\n", std::string(widths[0] + 2, '-').c_str(),
                std::string(widths[1] + 1, '-').c_str(), std::string(widths[2] + 1, '-').c_str(),
                std::string(widths[3] + 1, '-').c_str(), std::string(widths[4] + 2, '-').c_str());
    for (const Row& r : g_rows) line(r.figure, r.value, r.floor, r.ratio, r.target);
}

void Check(HRESULT hr, const char* what) {
    if (hr != S_OK) {
        std::fprintf(stderr, "kvsdk_bench: %s answered 0x%08X\n", what, static_cast<unsigned>(hr));
        g_failed = true;
    }
}

// --- Floors -------------------------------------------------------------------------------------

// The reference queue: an effect with one command buffer is allocated, pushed under a lock and
// a waiting consumer thread is notified; the consumer pops and counts it.
class FloorQueue {
  public:
    struct Item {
        std::vector<uint8_t> command = std::vector<uint8_t>(9);
    };

    FloorQueue() : m_consumer([this](std::stop_token stop) { Run(stop); }) {}
    ~FloorQueue() {
        m_consumer.request_stop();
        { std::lock_guard lock(m_lock); }
        m_wake.notify_one();
    }

    void Push() {
        auto item = std::make_unique<Item>();
        {
            std::lock_guard lock(m_lock);
            m_items.push_back(std::move(item));
        }
        m_wake.notify_one();
    }
    uint64_t Done() const { return m_done.load(std::memory_order_acquire); }
    // When the consumer woke for the latest item (ns).
    int64_t WokeAt() const { return m_wokeAt.load(); }

  private:
    void Run(std::stop_token stop) {
        std::unique_lock lock(m_lock);
        while (!stop.stop_requested()) {
            if (m_items.empty()) {
                m_wake.wait(lock);
                continue;
            }
            m_wokeAt.store(NowNs());
            auto item = std::move(m_items.front());
            m_items.pop_front();
            lock.unlock();
            item.reset();
            m_done.fetch_add(1, std::memory_order_release);
            lock.lock();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::list<std::unique_ptr<Item>> m_items;
    std::atomic<uint64_t> m_done{0};
    std::atomic<int64_t> m_wokeAt{0};
    std::jthread m_consumer;
};

void SpinUntil(const std::function<bool()>& done) {
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!done() && Clock::now() < end) std::this_thread::yield();
}

// Takes 'samples' of the floor and of the library in alternating blocks (the first tenth of
// each left out as warm-up), so that slow changes in the machine's load reach both alike while
// each block keeps its own pacing undisturbed by the other's threads.
constexpr size_t kBlocks = 10;
void InTurns(size_t samples, const std::function<double()>& floor,
             const std::function<double()>& library, std::vector<double>& floorTimes,
             std::vector<double>& libraryTimes) {
    const size_t perBlock = std::max<size_t>(samples / kBlocks, 1);
    for (size_t block = 0; block < kBlocks; ++block) {
        for (const bool isFloor : {true, false}) {
            auto& times = isFloor ? floorTimes : libraryTimes;
            const auto& sample = isFloor ? floor : library;
            for (size_t s = 0; s < perBlock + perBlock / 10; ++s) {
                const double time = sample();
                if (s >= perBlock / 10) times.push_back(time);
            }
        }
    }
}

// The host call's floor over 'queues' devices: allocate, lock, push, notify on each. One sample
// per call, paced like the library's calls, so that the two can be taken in turns.
class FloorHostCall {
  public:
    explicit FloorHostCall(size_t queues) {
        for (size_t i = 0; i < queues; ++i) m_queues.push_back(std::make_unique<FloorQueue>());
    }
    double Sample() {
        const int64_t t0 = NowNs();
        for (auto& q : m_queues) q->Push();
        const int64_t t1 = NowNs();
        ++m_pushed;
        for (auto& q : m_queues) SpinUntil([&] { return q->Done() >= m_pushed; });
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        return static_cast<double>(t1 - t0);
    }

  private:
    std::vector<std::unique_ptr<FloorQueue>> m_queues;
    uint64_t m_pushed = 0;
};

// Waking a waiting thread: from the push to the moment the waiter runs, after 'idle' of quiet.
class FloorWake {
  public:
    double Sample(std::chrono::microseconds idle) {
        std::this_thread::sleep_for(idle);
        const int64_t t0 = NowNs();
        m_queue.Push();
        ++m_pushed;
        SpinUntil([&] { return m_queue.Done() >= m_pushed; });
        return static_cast<double>(m_queue.WokeAt() - t0);
    }

  private:
    FloorQueue m_queue;
    uint64_t m_pushed = 0;
};

// How late a thread wakes from a timed wait of 'ms' on a condition variable.
Stats FloorTimedWake(size_t samples, int ms) {
    std::mutex lock;
    std::condition_variable never;
    std::vector<double> times;
    for (size_t s = 0; s < samples; ++s) {
        std::unique_lock guard(lock);
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        never.wait_until(guard, deadline, [] { return false; });
        times.push_back(static_cast<double>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - deadline).count()));
    }
    return Percentiles(std::move(times));
}

// --- The simulated world ------------------------------------------------------------------------

const char* kMouse = R"(\\?\hid#vid_7a3e&pid_0e59&mi_00#1#{378de44c-56ef-11d1-bc8c-00a0c91405dd})";
const char* kKeyboard =
    R"(\\?\hid#vid_7a3e&pid_0e5a&mi_02#1#{884b96c3-56ef-11d1-bc8c-00a0c91405dd})";
const char* kUsb = R"(\\?\usb#vid_7a3e&pid_0e5b#1#{a5dcbf10-6530-11d2-901f-00c04fb951ed})";

fs::path g_dir;

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void UseSimFile(const std::string& name, const std::string& text) {
    const fs::path file = g_dir / name;
    WriteFile(file, text);
    setenv("KVSDK_SIM", file.c_str(), 1);
}

std::string PellDevices() {
    return std::string("mouse ") + kMouse + "\nkeyboard " + kKeyboard + "\nusb " + kUsb + "\n";
}

EffectParams Params(const GUID& product) {
    EffectParams params;
    std::memset(&params, 0, sizeof params);
    params.size = sizeof params;
    params.productGuid = product;
    params.lightSelector = 1;
    return params;
}

// --- Figures ------------------------------------------------------------------------------------

struct Options {
    bool smoke = false;
    size_t samples = 3000;
};

// KvSDKSetEffect on 'product' (already initialised), paced: each call once the previous one's
// commands have all reached the devices, then 100 us of quiet.
struct HostCallResult {
    Stats call;
    Stats floor;
    uint32_t threadStarts = 0;  // worker threads that sent commands, over the whole busy period
    uint32_t devices = 0;       // devices that received commands
};
HostCallResult MeasureSetEffect(const GUID& product, size_t samples, FloorHostCall& floor) {
    EffectParams params = Params(product);
    const uint64_t before = SettledCommands();
    const uint32_t startsBefore = g_seen.threadStarts.load();
    Check(KvSDKSetEffect(EFFECT_LED_ON, &params), "KvSDKSetEffect");
    const uint64_t perCall = SettledCommands() - before;
    // Every device that receives commands runs them on a thread of its own.
    const uint32_t devices = g_seen.threadStarts.load() - startsBefore;
    std::vector<double> times;
    std::vector<double> floorTimes;
    const auto call = [&] {
        const uint64_t want = g_seen.commands.load() + perCall;
        params = Params(product);
        const int64_t t0 = NowNs();
        const HRESULT hr = KvSDKSetEffect(EFFECT_LED_ON, &params);
        const int64_t t1 = NowNs();
        Check(hr, "KvSDKSetEffect");
        WaitForCommands(want);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        return static_cast<double>(t1 - t0);
    };
    InTurns(
        samples, [&] { return floor.Sample(); }, call, floorTimes, times);
    HostCallResult result;
    result.call = Percentiles(std::move(times));
    result.floor = Percentiles(std::move(floorTimes));
    result.threadStarts = g_seen.threadStarts.load() - startsBefore;
    result.devices = devices;
    return result;
}

void HostCallFigures(const Options& options) {
    const fs::path reg = g_dir / "registry.reg";
    WriteFile(reg,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E59]\r\n\"GameControl\"=dword:00000001\r\n"
              "\r\n[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E5A]\r\n"
              "\"GameControl\"=dword:00000001\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TOLVE]\r\n\"LogEnabled\"=hex:00\r\n");
    // A file written just now may be read again until its time stamp is safely in the past.
    std::this_thread::sleep_for(std::chrono::milliseconds(options.smoke ? 10 : 300));
    UseSimFile("pell.sim", PellDevices());

    struct Case {
        const char* name;
        const GUID* product;
        size_t floorQueues;
    };
    const Case cases[] = {
        {"KvSDKSetEffect, one Pell mouse", &PRODUCT_PELL_MOUSE_0E59, 1},
        {"KvSDKSetEffect, PRODUCT_PELL (3 devices)", &PRODUCT_PELL, 3},
    };
    for (const bool withReg : {false, true}) {
        setenv("KVSDK_REGISTRY", (withReg ? reg : g_dir / "absent.reg").c_str(), 1);
        for (const Case& c : cases) {
            FloorHostCall floor(c.floorQueues);
            Check(KvSDKEngInit(*c.product), "KvSDKEngInit");
            const HostCallResult r = MeasureSetEffect(*c.product, options.samples, floor);
            KvSDKEngUninit();
            const std::string name =
                std::string(c.name) + (withReg ? ", .reg present" : ", no .reg");
            g_rows.push_back(
                {name, Pair(r.call), Pair(r.floor),
                 Number(r.call.p50 / r.floor.p50) + " / " + Number(r.call.p99 / r.floor.p99),
                 "<= 5x / <= 2x"});
            const double perDevice = static_cast<double>(r.threadStarts) /
                                     static_cast<double>(std::max<uint32_t>(r.devices, 1));
            g_rows.push_back({"  thread starts per device (" + std::to_string(r.devices) +
                                  " with commands), " +
                                  std::to_string(options.samples + options.samples / 10 + 1) +
                                  " calls without idle gap",
                              Number(perDevice, ""), "1", Number(perDevice), "<= 1"});
        }
    }
}

// The longest blink (10000 cycles, 60000 buffers to send) against a one-command call, in turns,
// each call on a fresh engine (created by a call that queues nothing) and released after it, so
// that no queue fills up and both see the same state.
void LongestBlinkFigure(const Options& options) {
    setenv("KVSDK_REGISTRY", (g_dir / "absent.reg").c_str(), 1);
    UseSimFile("pell.sim", PellDevices());
    const auto call = [](const GUID& kind, const EffectParams& request) {
        Check(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), "KvSDKEngInit");
        EffectParams nothing = Params(PRODUCT_PELL_MOUSE_0E59);
        Check(KvSDKSetEffect(EFFECT_LED_STATE, &nothing), "KvSDKSetEffect");
        EffectParams params = request;
        const int64_t t0 = NowNs();
        Check(KvSDKSetEffect(kind, &params), "KvSDKSetEffect");
        const int64_t t1 = NowNs();
        KvSDKEngUninit();
        return static_cast<double>(t1 - t0);
    };
    EffectParams blink = Params(PRODUCT_PELL_MOUSE_0E59);
    blink.count = 10000;
    blink.offTime = 60000;  // the worker waits in the first pause until the release
    blink.onTime = 60000;
    const EffectParams one = Params(PRODUCT_PELL_MOUSE_0E59);
    std::vector<double> times;
    std::vector<double> floorTimes;
    InTurns(
        options.smoke ? 20 : 1000, [&] { return call(EFFECT_LED_ON, one); },
        [&] { return call(EFFECT_LED_BLINK, blink); }, floorTimes, times);
    const Stats value = Percentiles(std::move(times));
    const Stats floor = Percentiles(std::move(floorTimes));
    g_rows.push_back(
        {"KvSDKSetEffect, blink of 10000 cycles vs one command (floor), one Pell mouse",
         Pair(value), Pair(floor),
         Number(value.p50 / floor.p50) + " / " + Number(value.p99 / floor.p99), "p99 <= 2x"});
}

void FirstCommandFigure(const Options& options) {
    setenv("KVSDK_REGISTRY", (g_dir / "absent.reg").c_str(), 1);
    UseSimFile("pell.sim", PellDevices());
    const auto idle = std::chrono::milliseconds(2);
    const size_t samples = options.smoke ? 20 : 1000;
    FloorWake floorWake;
    std::vector<double> floorTimes;

    Check(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), "KvSDKEngInit");
    EffectParams params = Params(PRODUCT_PELL_MOUSE_0E59);
    Check(KvSDKSetEffect(EFFECT_LED_ON, &params), "KvSDKSetEffect");
    SettledCommands(std::chrono::milliseconds(5));
    std::vector<double> times;
    // A block of floor samples lasts well under the worker's idle wait: the worker is still
    // waiting when the library's block begins.
    const auto call = [&] {
        std::this_thread::sleep_for(idle);
        params = Params(PRODUCT_PELL_MOUSE_0E59);
        g_seen.firstAt.store(0);
        g_seen.armed.store(true);
        const int64_t t0 = NowNs();
        Check(KvSDKSetEffect(EFFECT_LED_ON, &params), "KvSDKSetEffect");
        SpinUntil([] { return g_seen.firstAt.load() != 0; });
        return static_cast<double>(g_seen.firstAt.load() - t0);
    };
    InTurns(
        samples, [&] { return floorWake.Sample(idle); }, call, floorTimes, times);
    KvSDKEngUninit();
    const Stats value = Percentiles(std::move(times));
    const Stats floor = Percentiles(std::move(floorTimes));
    g_rows.push_back({"first command at the device, call after 2 ms idle", Pair(value), Pair(floor),
                      Number(value.p50 / floor.p50), "<= 2x (p50)"});
}

void PauseScheduleFigure(const Options& options) {
    setenv("KVSDK_REGISTRY", (g_dir / "absent.reg").c_str(), 1);
    UseSimFile("pell.sim", PellDevices());
    const uint32_t cycles = options.smoke ? 5 : 500;
    const int runs = options.smoke ? 1 : 3;
    const Stats floor = FloorTimedWake(options.smoke ? 10 : 200, 1);

    Check(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), "KvSDKEngInit");
    // Commands of the LED_OFF that follows each blink.
    const uint64_t before = SettledCommands(std::chrono::milliseconds(5));
    EffectParams off = Params(PRODUCT_PELL_MOUSE_0E59);
    Check(KvSDKSetEffect(EFFECT_LED_OFF, &off), "KvSDKSetEffect");
    const size_t perOff =
        static_cast<size_t>(SettledCommands(std::chrono::milliseconds(20)) - before);
    std::vector<double> lateness;
    for (int run = 0; run < runs; ++run) {
        SettledCommands(std::chrono::milliseconds(5));
        g_seen.recorded.store(0);
        g_seen.recording.store(true);
        EffectParams blink = Params(PRODUCT_PELL_MOUSE_0E59);
        blink.count = cycles;
        blink.offTime = 1;
        blink.onTime = 1;
        Check(KvSDKSetEffect(EFFECT_LED_BLINK, &blink), "KvSDKSetEffect");
        // The command after the blink marks the end of its last pause.
        EffectParams after = Params(PRODUCT_PELL_MOUSE_0E59);
        Check(KvSDKSetEffect(EFFECT_LED_OFF, &after), "KvSDKSetEffect");
        SettledCommands(std::chrono::milliseconds(50));
        g_seen.recording.store(false);
        const size_t count = std::min(g_seen.recorded.load(), g_seen.times.size());
        if (perOff == 0 || count <= perOff) continue;
        const int64_t first = g_seen.times[0];
        const int64_t end = g_seen.times[count - perOff];
        lateness.push_back(static_cast<double>(end - first) - 2.0 * cycles * 1e6);
    }
    KvSDKEngUninit();
    const Stats value = Percentiles(lateness);
    char name[96];
    std::snprintf(name, sizeof name, "pause schedule: blink %u x (1+1) ms, lateness of the end",
                  static_cast<unsigned>(cycles));
    g_rows.push_back(
        {name, Pair(value), Pair(floor), Time(value.p50 - floor.p50) + " over", "<= 5 ms in all"});
}

void InitFigure(const Options& options) {
    setenv("KVSDK_REGISTRY", (g_dir / "absent.reg").c_str(), 1);
    const std::vector<size_t> sizes =
        options.smoke ? std::vector<size_t>{8, 16} : std::vector<size_t>{8, 64, 256, 1024};
    double floorPerInterface = 0;
    Stats floorStats;
    for (const size_t n : sizes) {
        std::string text;
        for (size_t i = 0; i + 1 < n; ++i) {
            char line[160];
            std::snprintf(line, sizeof line,
                          "mouse \\\\?\\hid#vid_045e&pid_%04zx&mi_00#%zu#"
                          "{378de44c-56ef-11d1-bc8c-00a0c91405dd}\n",
                          i & 0xFFFF, i);
            text += line;
        }
        text += std::string("mouse ") + kMouse + "\n";
        UseSimFile("init.sim", text);
        const int reps = options.smoke ? 2 : (n >= 1024 ? 11 : 21);
        std::vector<double> perInterface;
        for (int r = 0; r < reps; ++r) {
            const int64_t t0 = NowNs();
            Check(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), "KvSDKEngInit");
            const int64_t t1 = NowNs();
            KvSDKEngUninit();
            perInterface.push_back(static_cast<double>(t1 - t0) / static_cast<double>(n));
        }
        const Stats s = Percentiles(perInterface);
        if (floorPerInterface == 0) {
            floorPerInterface = s.p50;
            floorStats = s;
        }
        g_rows.push_back({"KvSDKEngInit per listed interface, wanted one last, " +
                              std::to_string(n) + " listed (total " + Time(s.p50 * double(n)) + ")",
                          Pair(s), Pair(floorStats) + " (8)", Number(s.p50 / floorPerInterface),
                          "<= 2x"});
    }
}

// How soon a command that reaches a simulated device shows in a follower of the trace, as
// kvsdk watch and kvsdk view read it: from the colour command at the device to the follower's
// state holding that colour. The samples are spaced 1 to 30 ms apart at random, so that they
// fall at every phase of the follower's polling.
void TraceFollowerFigure(const Options& options) {
    setenv("KVSDK_REGISTRY", (g_dir / "absent.reg").c_str(), 1);
    UseSimFile("pell.sim", PellDevices());
    const fs::path trace = g_dir / "follow.txt";
    setenv("KVSDK_SIM_TRACE", trace.c_str(), 1);
    std::vector<double> times;
    {
        kvsdk::tool::CLiveTrace live(trace);
        std::minstd_rand spacing(20);
        Check(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), "KvSDKEngInit");
        const uint32_t samples = options.smoke ? 5 : 300;
        for (uint32_t i = 1; i <= samples; ++i) {
            EffectParams params = Params(PRODUCT_PELL_MOUSE_0E59);
            params.red = static_cast<uint8_t>(i);
            params.green = static_cast<uint8_t>(i >> 8);
            const uint32_t want = (uint32_t{params.red} << 16) | (uint32_t{params.green} << 8);
            g_seen.firstAt.store(0);
            g_seen.armed.store(true);
            Check(KvSDKSetEffect(EFFECT_LED_COLOR, &params), "KvSDKSetEffect");
            SpinUntil([] { return g_seen.firstAt.load() != 0; });
            const auto shows = [&] {
                const kvsdk::tool::LiveState state = live.State();
                const auto* mouse = state.timeline.Find("0E59");
                const auto* light = mouse ? mouse->Find(1) : nullptr;
                const auto& colours = light ? light->Of(kvsdk::tool::Attribute::Color)
                                            : std::vector<kvsdk::tool::Segment>{};
                return !colours.empty() && colours.back().value == want;
            };
            const auto end = Clock::now() + std::chrono::seconds(5);
            uint64_t version = 0;
            while (!shows()) {
                if (Clock::now() > end) {
                    std::fprintf(stderr, "kvsdk_bench: the follower never showed a colour\n");
                    g_failed = true;
                    break;
                }
                version = live.WaitForChange(version, std::chrono::milliseconds(100));
            }
            times.push_back(static_cast<double>(NowNs() - g_seen.firstAt.load()));
            std::this_thread::sleep_for(std::chrono::milliseconds(1 + spacing() % 30));
        }
        KvSDKEngUninit();
    }
    unsetenv("KVSDK_SIM_TRACE");
    const Stats value = Percentiles(std::move(times));
    char floor[64];
    std::snprintf(floor, sizeof floor, "(polls every %d ms)",
                  static_cast<int>(kvsdk::tool::kFollowInterval.count()));
    g_rows.push_back({"command at the device to a trace follower's state", Pair(value), floor, "-",
                      "<= 100 ms"});
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) {
            options.smoke = true;
            options.samples = 30;
        } else {
            std::fprintf(stderr, "usage: kvsdk_bench [--smoke]\n");
            return 2;
        }
    }
    char dirTemplate[] = "/tmp/kvsdk-bench-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) return 1;
    g_dir = dirTemplate;
    unsetenv("KVSDK_SIM_TRACE");
    KvSDKModSetSimCommandObserver(&Observe, nullptr);

    HostCallFigures(options);
    LongestBlinkFigure(options);
    FirstCommandFigure(options);
    PauseScheduleFigure(options);
    InitFigure(options);
    TraceFollowerFigure(options);

    KvSDKModSetSimCommandObserver(nullptr, nullptr);
    std::error_code ignored;
    fs::remove_all(g_dir, ignored);

    PrintTable();
    return g_failed ? 1 : 0;
}
