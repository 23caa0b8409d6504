// Creating the engine when its dispatcher thread cannot be started.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "KvSDKEng.h"
#include "tests/support/TestSupport.h"
#include "engine/Engine.h"

namespace kvsdk {
namespace {

using namespace std::chrono_literals;

TEST(EngineStart, NoDispatcherThreadKeepsTheDevicesAndReportsTheFailure) {
    test::SimEnvironment sim("mouse " + test::MousePath("0e59") + "\nmouse " +
                             test::MousePath("0e51") + " reg.0003000A=01\n");
    ASSERT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), S_OK);
    ASSERT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    EffectParams params{};
    params.size = sizeof params;
    params.productGuid = PRODUCT_PELL_MOUSE_0E59;
    params.lightSelector = 1;
    EffectParams vexo = params;
    vexo.productGuid = PRODUCT_VEXO_0E51;
    vexo.lightSelector = 4;

    g_bFailDispatcherStart = true;
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &params), static_cast<HRESULT>(0x80070008));
    // Reading back runs on the host's thread and needs no dispatcher.
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &params), E_FAIL);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &vexo), S_OK);
    EXPECT_EQ(vexo.level, 100u);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_BLINK, &vexo), KVSDK_E_NOT_SUPPORTED);
    g_bFailDispatcherStart = false;

    // The device waited on the discovery list for the next try.
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &params), S_OK);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (test::Filter(sim.Trace(), "set").empty() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(test::Filter(sim.Trace(), "set").size(), 1u);
    EXPECT_EQ(KvSDKEngUninit(), S_OK);
}

}  // namespace
}  // namespace kvsdk
