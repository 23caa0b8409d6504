// The effect machinery with scripted effects: queue order, parallel devices, pauses, failures,
// wake-ups and stopping, observed through simulated devices and their trace.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KvSDKEng.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"
#include "devices/DevicePell.h"
#include "engine/Engine.h"

namespace kvsdk::test {
namespace {

using Clock = std::chrono::steady_clock;

// An effect whose Build queues a fixed script of buffers and answers a fixed result.
class ScriptEffect : public CEffect {
  public:
    explicit ScriptEffect(std::vector<std::unique_ptr<CCommandBuffer>> script,
                          HRESULT result = S_OK)
        : CEffect(EFFECT_LED_ON, nullptr), m_script(std::move(script)), m_result(result) {}

    HRESULT Build() override {
        for (auto& buffer : m_script) Queue(std::move(buffer));
        m_script.clear();
        return m_result;
    }
    HRESULT QueryState(const std::wstring& path) override {
        m_queriedPath = path;
        return S_OK;
    }
    std::wstring m_queriedPath;

  private:
    std::vector<std::unique_ptr<CCommandBuffer>> m_script;
    HRESULT m_result;
};

std::unique_ptr<CCommandBuffer> Cmd(uint8_t light, uint8_t value) {
    return CCommandBuffer::Payload({0x00, 0x03, 0x00, light, value});
}

std::unique_ptr<CEffect> Script(std::vector<std::unique_ptr<CCommandBuffer>> buffers) {
    return std::make_unique<ScriptEffect>(std::move(buffers));
}

template <class... B>
std::vector<std::unique_ptr<CCommandBuffer>> Buffers(B... buffers) {
    std::vector<std::unique_ptr<CCommandBuffer>> out;
    (out.push_back(std::move(buffers)), ...);
    return out;
}

std::string SetDetails(uint8_t light, uint8_t value) {
    char text[32];
    std::snprintf(text, sizeof(text), "00 03 00 %02X %02X", light, value);
    return text;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

// An engine over Pell mice on the given paths; 'devices' points at them in the same order.
struct Rig {
    explicit Rig(const std::vector<std::string>& paths) {
        CList<CDevice> list;
        for (const auto& path : paths) {
            auto owned = std::make_unique<CDevicePell>(FromUtf8(path).c_str());
            devices.push_back(owned.get());
            list.AddTail(std::move(owned));
        }
        engine = std::make_unique<CEngine>(list);
    }
    std::vector<CDevice*> devices;
    std::unique_ptr<CEngine> engine;
};

class EffectWorkerTest : public ::testing::Test {
  protected:
    static std::string Path(const std::string& instance) { return MousePath("0e59", instance); }

    // Sim file with the given devices (and optional extra keys per device).
    static std::string SimText(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& line : lines) text += "mouse " + line + "\n";
        return text;
    }

    std::vector<std::string> Sets(const SimEnvironment& sim, const std::string& path) {
        std::vector<std::string> out;
        for (const auto& line : Filter(sim.Trace(), "set", path)) out.push_back(line.details);
        return out;
    }
};

TEST_F(EffectWorkerTest, AddEffectQueuesOnlyWhatBuildAccepts) {
    SimEnvironment sim(SimText({Path("a")}));
    CDevicePell device(FromUtf8(Path("a")).c_str());

    std::unique_ptr<CEffect> none;
    EXPECT_EQ(device.AddEffect(none), E_POINTER);

    std::unique_ptr<CEffect> refused =
        std::make_unique<ScriptEffect>(Buffers(Cmd(1, 1)), E_NOINTERFACE);
    EXPECT_EQ(device.AddEffect(refused), E_NOINTERFACE);
    EXPECT_NE(refused, nullptr);  // still the caller's
    EXPECT_EQ(device.GetQueuedCount(), 0u);

    std::unique_ptr<CEffect> accepted = std::make_unique<ScriptEffect>(Buffers(Cmd(1, 1)), S_FALSE);
    EXPECT_EQ(device.AddEffect(accepted), S_OK);
    EXPECT_EQ(accepted, nullptr);
    EXPECT_EQ(device.GetQueuedCount(), 1u);

    ScriptEffect query(Buffers());
    EXPECT_EQ(device.QueryEffect(nullptr), E_POINTER);
    EXPECT_EQ(device.QueryEffect(&query), S_OK);
    EXPECT_EQ(ToUtf8(query.m_queriedPath), ToUpper(Path("a")));
}

TEST_F(EffectWorkerTest, EffectsOfOneDeviceRunStrictlyInOrder) {
    SimEnvironment sim(SimText({Path("a")}));
    Rig rig({Path("a")});
    CDevice* device = rig.devices[0];
    CEngine& engine = *rig.engine;

    std::vector<std::string> expected;
    for (uint8_t e = 0; e < 5; ++e) {
        auto effect = Script(Buffers(Cmd(e, 1), CCommandBuffer::Pause(e % 2 ? 5 : 0), Cmd(e, 2)));
        ASSERT_EQ(device->AddEffect(effect), S_OK);
        engine.SignalNewEffect();
        expected.push_back(SetDetails(e, 1));
        expected.push_back(SetDetails(e, 2));
    }
    ASSERT_TRUE(WaitFor([&] { return Sets(sim, Path("a")).size() == expected.size(); }));
    EXPECT_EQ(Sets(sim, Path("a")), expected);
}

TEST_F(EffectWorkerTest, DevicesRunSideBySideAndPausesAreWaitedOut) {
    SimEnvironment sim(SimText({Path("slow"), Path("fast")}));
    Rig rig({Path("slow"), Path("fast")});
    CDevice* slow = rig.devices[0];
    CDevice* fast = rig.devices[1];
    CEngine& engine = *rig.engine;

    auto long_ = Script(Buffers(Cmd(1, 1), CCommandBuffer::Pause(400), Cmd(1, 2)));
    const auto queued = std::chrono::steady_clock::now();
    ASSERT_EQ(slow->AddEffect(long_), S_OK);
    engine.SignalNewEffect();
    ASSERT_TRUE(WaitFor([&] { return Sets(sim, Path("slow")).size() == 1; }));

    auto quick = Script(Buffers(Cmd(2, 1)));
    ASSERT_EQ(fast->AddEffect(quick), S_OK);
    engine.SignalNewEffect();
    ASSERT_TRUE(WaitFor([&] { return Sets(sim, Path("slow")).size() == 2; }));
    const auto waited = std::chrono::steady_clock::now() - queued;

    const auto trace = sim.Trace();
    const auto slowSets = Filter(trace, "set", Path("slow"));
    const auto fastSets = Filter(trace, "set", Path("fast"));
    ASSERT_EQ(fastSets.size(), 1u);
    // The other device did not wait for the pause; the pause itself was waited out. Its deadline
    // counts from the effect's start, before the first set, so the gap between the two sets' trace
    // lines may be a little short of it; the time since the effect was queued never is.
    EXPECT_LT(fastSets[0].ms, slowSets[1].ms);
    EXPECT_GE(waited, std::chrono::milliseconds(400));
}

TEST_F(EffectWorkerTest, APauseStartsWhenASlowDeviceHasTakenTheCommandBeforeIt) {
    SimEnvironment sim(SimText({Path("a") + " setdelay=60"}));
    Rig rig({Path("a")});
    auto blink = Script(Buffers(Cmd(1, 0), CCommandBuffer::Pause(100), Cmd(1, 1),
                                CCommandBuffer::Pause(100), Cmd(1, 0)));
    ASSERT_EQ(rig.devices[0]->AddEffect(blink), S_OK);
    rig.engine->SignalNewEffect();
    ASSERT_TRUE(WaitFor([&] { return Sets(sim, Path("a")).size() == 3; }));
    // Between two sets: a whole pause and the next set's 60 ms (less a given-back millisecond).
    const auto sets = Filter(sim.Trace(), "set");
    for (size_t i = 1; i < sets.size(); ++i) EXPECT_GE(sets[i].ms - sets[i - 1].ms, 155u);
}

TEST_F(EffectWorkerTest, FailingSetsAndEmptyEffectsDoNotStopTheQueue) {
    SimEnvironment sim(SimText({Path("a") + " set=80004005"}));
    Rig rig({Path("a")});
    CDevice* device = rig.devices[0];
    CEngine& engine = *rig.engine;

    auto first = Script(Buffers(Cmd(1, 1), Cmd(1, 2)));
    auto empty = Script(Buffers());
    auto last = Script(Buffers(CCommandBuffer::Pause(0), Cmd(1, 3)));
    ASSERT_EQ(device->AddEffect(first), S_OK);
    ASSERT_EQ(device->AddEffect(empty), S_OK);
    ASSERT_EQ(device->AddEffect(last), S_OK);
    engine.SignalNewEffect();

    ASSERT_TRUE(WaitFor([&] { return Sets(sim, Path("a")).size() == 3; }));
    for (const auto& line : Filter(sim.Trace(), "set")) EXPECT_EQ(line.result, "80004005");
    EXPECT_TRUE(WaitFor([&] { return device->GetQueuedCount() == 0; }));
}

TEST_F(EffectWorkerTest, EffectQueuedDuringABusyWorkerRunsWithoutAnotherSignal) {
    SimEnvironment sim(SimText({Path("a")}));
    Rig rig({Path("a")});
    CDevice* device = rig.devices[0];
    CEngine& engine = *rig.engine;

    auto busy = Script(Buffers(Cmd(1, 1), CCommandBuffer::Pause(200), Cmd(1, 2)));
    ASSERT_EQ(device->AddEffect(busy), S_OK);
    engine.SignalNewEffect();
    ASSERT_TRUE(WaitFor([&] { return Sets(sim, Path("a")).size() == 1; }));
    auto later = Script(Buffers(Cmd(2, 1)));
    ASSERT_EQ(device->AddEffect(later), S_OK);  // no signal
    EXPECT_TRUE(WaitFor([&] { return Sets(sim, Path("a")).size() == 3; }));
}

TEST_F(EffectWorkerTest, EveryQueuedEffectStartsWithoutWaitingForALaterCall) {
    // Effects arrive while workers are finishing; each signal must be enough.
    SimEnvironment sim(SimText({Path("a"), Path("b")}));
    Rig rig({Path("a"), Path("b")});
    CDevice* a = rig.devices[0];
    CDevice* b = rig.devices[1];
    CEngine& engine = *rig.engine;

    constexpr int kRounds = 300;
    for (int i = 0; i < kRounds; ++i) {
        CDevice* target = (i % 3 == 0) ? b : a;
        auto effect = Script(Buffers(Cmd(static_cast<uint8_t>(i % 7), static_cast<uint8_t>(i))));
        ASSERT_EQ(target->AddEffect(effect), S_OK);
        engine.SignalNewEffect();
        if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(WaitFor([&] { return Filter(sim.Trace(), "set").size() == kRounds; }));
    EXPECT_EQ(a->GetQueuedCount() + b->GetQueuedCount(), 0u);
}

TEST_F(EffectWorkerTest, SignalsFoldIntoPassesAndAnIdleEngineStaysAsleep) {
    SimEnvironment sim(SimText({Path("a")}));
    Rig rig({Path("a")});
    CDevice* device = rig.devices[0];
    CEngine& engine = *rig.engine;

    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(engine.GetDispatchPassCount(), 0u);  // no polling while nothing happens

    for (uint8_t i = 0; i < 10; ++i) {
        auto effect = Script(Buffers(Cmd(1, i)));
        ASSERT_EQ(device->AddEffect(effect), S_OK);
    }
    for (int i = 0; i < 10; ++i) engine.SignalNewEffect();
    ASSERT_TRUE(WaitFor([&] { return Sets(sim, Path("a")).size() == 10; }));
    // A signal that came after the first pass had begun may still be served by a second one.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const uint64_t passes = engine.GetDispatchPassCount();
    EXPECT_GE(passes, 1u);
    EXPECT_LT(passes, 10u);  // signals that arrive together are served by one pass

    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(engine.GetDispatchPassCount(), passes);
}

TEST_F(EffectWorkerTest, ManyHostThreadsAddToManyDevicesAtOnce) {
    constexpr int kDevices = 4;
    constexpr int kThreads = 6;
    constexpr int kPerThread = 30;
    std::vector<std::string> paths;
    for (int d = 0; d < kDevices; ++d) paths.push_back(Path("dev" + std::to_string(d)));
    SimEnvironment sim(SimText(paths));
    Rig rig(paths);
    const std::vector<CDevice*>& raw = rig.devices;
    CEngine& engine = *rig.engine;

    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                auto effect = Script(Buffers(Cmd(static_cast<uint8_t>(t), static_cast<uint8_t>(i)),
                                             CCommandBuffer::Pause(0)));
                CDevice* target = raw[static_cast<size_t>((t + i) % kDevices)];
                if (target->AddEffect(effect) == S_OK) engine.SignalNewEffect();
            }
        });
    }
    for (auto& h : hosts) h.join();
    ASSERT_TRUE(WaitFor([&] {
        return Filter(sim.Trace(), "set").size() == static_cast<size_t>(kThreads * kPerThread);
    }));
    // Per device, each host thread's effects ran in the order that thread queued them.
    for (const auto& p : paths) {
        std::vector<int> lastSeen(kThreads, -1);
        for (const auto& line : Filter(sim.Trace(), "set", p)) {
            const int t = std::stoi(line.details.substr(9, 2), nullptr, 16);
            const int i = std::stoi(line.details.substr(12, 2), nullptr, 16);
            EXPECT_GT(i, lastSeen[static_cast<size_t>(t)]);
            lastSeen[static_cast<size_t>(t)] = i;
        }
    }
}

TEST_F(EffectWorkerTest, DestroyingADeviceMidPauseStopsAtOnceAndReleasesEverything) {
    SimEnvironment sim(SimText({Path("a")}));
    Rig rig({Path("a")});
    CDevice* raw = rig.devices[0];
    auto& engine = rig.engine;

    auto longPause = Script(Buffers(Cmd(1, 1), CCommandBuffer::Pause(60000), Cmd(1, 2)));
    ASSERT_EQ(raw->AddEffect(longPause), S_OK);
    for (int i = 0; i < 3; ++i) {
        auto queued = Script(Buffers(Cmd(2, static_cast<uint8_t>(i))));
        ASSERT_EQ(raw->AddEffect(queued), S_OK);
    }
    engine->SignalNewEffect();
    ASSERT_TRUE(WaitFor([&] { return Sets(sim, Path("a")).size() == 1; }));

    const auto start = Clock::now();
    engine.reset();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(took.count(), 30000);  // far below the pause: the pause was not waited out
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Sets(sim, Path("a")).size(), 1u);
    EXPECT_EQ(Filter(sim.Trace(), "close", Path("a")).size(), 1u);
}

TEST_F(EffectWorkerTest, StopsThatRaceTheWaitsNeverHang) {
    // Engines torn down at every moment of their start: while the dispatcher sleeps, while it
    // starts the worker, while the worker enters or sits in its pause. A stop that misses its
    // waiter hangs the join, so the loop runs on a thread and a hang fails the suite at once.
    SimEnvironment sim(SimText({Path("a")}));
    std::atomic<bool> done{false};
    std::thread loop([&] {
        for (int i = 0; i < 300; ++i) {
            Rig rig({Path("a")});
            auto effect = Script(Buffers(Cmd(1, 1), CCommandBuffer::Pause(60000)));
            if (i % 3 != 0) {
                (void)rig.devices[0]->AddEffect(effect);
                rig.engine->SignalNewEffect();
            }
            if (i % 2 != 0) std::this_thread::yield();
        }
        done = true;
    });
    if (!WaitFor([&] { return done.load(); }, 120000)) {
        std::fprintf(stderr, "an engine or worker stop never returned\n");
        std::abort();
    }
    loop.join();
}

TEST_F(EffectWorkerTest, UsbDeviceTakesWholeBlocksOnlyAndNeverPauses) {
    const std::string usb = UsbPath("0e5b");
    SimEnvironment sim("usb " + usb + "\n");
    CList<CDevice> devices;
    auto owned = std::make_unique<CDevicePell>(FromUtf8(usb).c_str(), PRODUCT_PELL_USB_0E5B);
    CDevice* device = owned.get();
    devices.AddTail(std::move(owned));
    CEngine engine(devices);

    uint8_t block[28] = {};
    block[20] = 0x61;
    block[24] = 0x10;
    block[25] = 0x20;
    block[26] = 0x30;
    auto effect = Script(Buffers(Cmd(1, 1), CCommandBuffer::Pause(60000),
                                 CCommandBuffer::Block(block), CCommandBuffer::Payload({0x01})));
    ASSERT_EQ(device->AddEffect(effect), S_OK);
    engine.SignalNewEffect();
    ASSERT_TRUE(WaitFor([&] { return Filter(sim.Trace(), "tunnel").size() == 1; }, 20000));
    EXPECT_EQ(Filter(sim.Trace(), "tunnel")[0].details, "0 0 61 00 02 102030 3");
    EXPECT_TRUE(Filter(sim.Trace(), "set").empty());
}

}  // namespace
}  // namespace kvsdk::test
