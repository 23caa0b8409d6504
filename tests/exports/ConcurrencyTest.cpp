// Several host threads calling the exports at once, and letting go while devices are busy.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "KvSDKEng.h"
#include "tests/support/TestSupport.h"

namespace kvsdk::test {
namespace {

EffectParams Record(const GUID& product, uint32_t selector) {
    EffectParams params{};
    params.size = sizeof(params);
    params.productGuid = product;
    params.lightSelector = selector;
    return params;
}

// Holds threads until all have arrived. (std::barrier waits through the C++ library's atomic wait,
// which can miss a wake-up in the MinGW build.)
class StartGate {
  public:
    explicit StartGate(int count) : m_waiting(count) {}
    void ArriveAndWait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (--m_waiting == 0) m_open.notify_all();
        m_open.wait(lock, [this] { return m_waiting == 0; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_open;
    int m_waiting;
};

class ConcurrencyTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(KvSDKEngUninit(), S_OK); }
};

TEST_F(ConcurrencyTest, FirstCallsFromManyThreadsShareOneEngine) {
    SimEnvironment sim("mouse " + MousePath("0e59") + "\n");
    ASSERT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), S_OK);
    constexpr int kThreads = 8;
    StartGate start(kThreads);
    std::atomic<int> succeeded{0};
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([&] {
            EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 1);
            start.ArriveAndWait();
            // An engine made twice would leave some threads with one that has no device.
            if (KvSDKSetEffect(EFFECT_LED_ON, &params) == S_OK) ++succeeded;
        });
    }
    for (auto& h : hosts) h.join();
    EXPECT_EQ(succeeded.load(), kThreads);
}

TEST_F(ConcurrencyTest, AllExportsAtOnceNeverCrash) {
    SimEnvironment sim("mouse " + MousePath("0e51") + "\n" + "mouse " + MousePath("0e59") + "\n" +
                       "usb " + UsbPath("0e5b") + "\n");
    constexpr int kThreads = 6;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([&, t] {
            EffectParams vexo = Record(PRODUCT_VEXO_0E51, 1);
            EffectParams pell = Record(PRODUCT_PELL, 6);
            for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
                switch ((t + i) % 6) {
                    case 0:
                        (void)KvSDKEngInit(PRODUCT_VEXO);
                        break;
                    case 1:
                        (void)KvSDKEngInit(PRODUCT_PELL);
                        break;
                    case 2:
                        (void)KvSDKSetEffect(EFFECT_LED_FLASH_1, &pell);
                        break;
                    case 3:
                        (void)KvSDKGetEffect(EFFECT_LED_STATE, &vexo);
                        break;
                    case 4:
                        (void)KvSDKSetEffect(EFFECT_LED_ON, &vexo);
                        break;
                    default:
                        if (i % 5 == 0) (void)KvSDKEngUninit();
                        break;
                }
            }
        });
    }
    for (auto& h : hosts) h.join();
    EXPECT_EQ(KvSDKEngUninit(), S_OK);
    // Every device object and tunnel channel opened was closed again.
    const auto trace = sim.Trace();
    size_t channels = 0;
    for (const auto& line : Filter(trace, "connect")) channels += line.result == "1" ? 1 : 0;
    EXPECT_EQ(Filter(trace, "close").size(), Filter(trace, "init").size() + channels);
}

TEST_F(ConcurrencyTest, EffectCallsWhileOtherThreadsInitAndUninitInALoop) {
    // A bounded stress: two threads cycle Init/Uninit while six others drive every effect kind
    // through all four exports. Every answer is one the interface documents, and every device
    // object and tunnel channel opened is closed again.
    SimEnvironment sim("mouse " + MousePath("0e51") + "\n" + "mouse " + MousePath("0e52") + "\n" +
                       "mouse " + MousePath("0e59") + "\n" + "keyboard " +
                       KeyboardPath("0e5a", "02") + "\n" + "usb " + UsbPath("0e5b") + "\n");
    constexpr int kCyclers = 2;
    constexpr int kCycles = 60;
    constexpr int kCallers = 6;
    constexpr int kCalls = 300;
    const GUID kinds[] = {
        EFFECT_LED_ON,      EFFECT_LED_OFF,     EFFECT_LED_BRIGHTNESS, EFFECT_LED_MODE_2_PARAMS,
        EFFECT_LED_STATE,   EFFECT_LED_FLASH_1, EFFECT_LED_BLINK,      EFFECT_LED_MODE_1,
        EFFECT_VEXO_MODE_A, EFFECT_LED_COLOR};
    const GUID products[] = {PRODUCT_VEXO, PRODUCT_PELL, PRODUCT_VEXO_0E51, PRODUCT_PELL_USB_0E5B};
    const std::vector<HRESULT> documented = {
        S_OK, E_FAIL, E_INVALIDARG, E_POINTER, E_NOINTERFACE, E_OUTOFMEMORY, KVSDK_E_NOT_SUPPORTED};
    std::atomic<int> undocumented{0};
    auto check = [&](HRESULT hr) {
        if (std::find(documented.begin(), documented.end(), hr) == documented.end()) ++undocumented;
    };
    StartGate start(kCyclers + kCallers);
    std::vector<std::thread> hosts;
    for (int t = 0; t < kCyclers; ++t) {
        hosts.emplace_back([&, t] {
            start.ArriveAndWait();
            for (int i = 0; i < kCycles; ++i) {
                check(KvSDKEngInit(t == 0 ? PRODUCT_VEXO : PRODUCT_PELL));
                std::this_thread::yield();
                check(KvSDKEngUninit());
            }
        });
    }
    for (int t = 0; t < kCallers; ++t) {
        hosts.emplace_back([&, t] {
            start.ArriveAndWait();
            for (int i = 0; i < kCalls; ++i) {
                EffectParams params = Record(products[(t + i) % std::size(products)],
                                             static_cast<uint32_t>(1 + i % 7));
                params.level = static_cast<uint32_t>(i % 120);
                params.count = static_cast<uint32_t>(i % 3);
                const GUID& kind = kinds[(t * 7 + i) % std::size(kinds)];
                check(i % 4 == 0 ? KvSDKGetEffect(kind, &params) : KvSDKSetEffect(kind, &params));
            }
        });
    }
    for (auto& h : hosts) h.join();
    EXPECT_EQ(KvSDKEngUninit(), S_OK);
    EXPECT_EQ(undocumented.load(), 0);
    const auto trace = sim.Trace();
    size_t channels = 0;
    for (const auto& line : Filter(trace, "connect")) channels += line.result == "1" ? 1 : 0;
    EXPECT_EQ(Filter(trace, "close").size(), Filter(trace, "init").size() + channels);
}

TEST_F(ConcurrencyTest, UninitBehindASlowDeviceHoldsUpNoOtherCall) {
    const std::string vexo = MousePath("0e51");
    SimEnvironment sim("mouse " + vexo + " setdelay=300\nmouse " + MousePath("0e59") + "\n");
    ASSERT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    std::atomic<bool> released{false};
    std::thread uninit([&] { released = KvSDKEngUninit() == S_OK; });  // writes take 300 ms each
    while (Filter(sim.Trace(), "get", vexo).empty()) std::this_thread::yield();
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 1);
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), S_OK);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &params), S_OK);
    EXPECT_FALSE(released.load()) << "the calls waited for the slow device's release";
    uninit.join();
}

TEST_F(ConcurrencyTest, UninitDoesNotWaitForALongPause) {
    SimEnvironment sim("mouse " + MousePath("0e59") + "\n");
    ASSERT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), S_OK);
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 1);
    params.count = 2;
    params.offTime = 60000;
    params.onTime = 60000;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &params), S_OK);
    // Queued behind the blink: never runs.
    EffectParams off = Record(PRODUCT_PELL_MOUSE_0E59, 1);
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_OFF, &off), S_OK);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Filter(sim.Trace(), "set").size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(Filter(sim.Trace(), "set").size(), 2u);  // mode, off; then the pause

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KvSDKEngUninit(), S_OK);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(30));  // the pause is a minute
    EXPECT_EQ(Filter(sim.Trace(), "set").size(), 2u);
    EXPECT_EQ(Filter(sim.Trace(), "close").size(), 1u);
}

#ifndef _WIN32
// A host forks while its engine runs: the child's effect is sent and its Uninit returns.
TEST_F(ConcurrencyTest, AForkedChildGetsAFreshEngine) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "SKIPPED: the thread sanitizer cannot follow threads a forked child starts";
#endif
    SimEnvironment sim("mouse " + MousePath("0e59") + "\n");
    ASSERT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), S_OK);
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 1);
    params.count = 1;
    params.offTime = 60000;  // the parent's worker waits in this pause
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &params), S_OK);
    while (Filter(sim.Trace(), "set").size() < 2) std::this_thread::yield();
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(20);  // a hang ends the child
        const bool queued = KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59) == S_OK &&
                            KvSDKSetEffect(EFFECT_LED_ON, &params) == S_OK;
        while (queued && Filter(sim.Trace(), "set").size() < 3) std::this_thread::yield();
        (void)KvSDKEngUninit();
        ::_exit(queued ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child hung or sent nothing";
}
#endif

}  // namespace
}  // namespace kvsdk::test
