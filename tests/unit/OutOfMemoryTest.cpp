// KvSDKSetEffect when memory runs out while it makes one device's effect.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "KvSDKEng.h"
#include "engine/Engine.h"
#include "tests/support/TestSupport.h"

namespace kvsdk {
namespace {

using namespace std::chrono_literals;

TEST(OutOfMemory, ThatDeviceAnswersOutOfMemoryAndTheNextStillGetsItsEffect) {
    const std::string mouse = test::MousePath("0e59");
    const std::string keyboard = test::KeyboardPath("0e5a", "02");
    test::SimEnvironment sim("mouse " + mouse + "\nkeyboard " + keyboard + "\n");
    ASSERT_EQ(KvSDKEngInit(PRODUCT_PELL), S_OK);
    EffectParams params{};
    params.size = sizeof params;
    params.productGuid = PRODUCT_PELL_MOUSE_0E59;
    params.lightSelector = 1;
    g_failEffectAllocations = 1;
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &params), E_OUTOFMEMORY);

    // The engine walks the keyboard first: its effect fails, the mouse's (the last) is queued.
    params.productGuid = PRODUCT_PELL;
    g_failEffectAllocations = 1;
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &params), S_OK);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (test::Filter(sim.Trace(), "set", mouse).empty() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(KvSDKEngUninit(), S_OK);
    EXPECT_EQ(test::Filter(sim.Trace(), "set", mouse).size(), 1u);
    EXPECT_TRUE(test::Filter(sim.Trace(), "set", keyboard).empty());
}

}  // namespace
}  // namespace kvsdk
