// Reading a light's state or brightness back through the Pell effect family, against simulated
// devices.
#include <gtest/gtest.h>

#include <string>

#include "EffectTestDecode.h"
#include "Strings.h"
#include "TestSupport.h"
#include "Win32Types.h"
#include "effects/MORENEffect.h"

namespace kvsdk::test {
namespace {

const std::string kPath = MousePath("0e59");

// Runs QueryState on a fresh effect over 'params' against a device described by 'keys'.
struct QueryRun {
    HRESULT hr;
    std::vector<TraceLine> trace;
};
QueryRun Query(const GUID& effect, EffectParams& params, const std::string& keys) {
    SimEnvironment sim("mouse " + kPath + " " + keys + "\n");
    CMORENEffect moren(effect, &params);
    const HRESULT hr = moren.QueryState(ToUpper(FromUtf8(kPath)));
    EXPECT_EQ(moren.GetCommands()->GetCount(), 0u);
    return {hr, sim.Trace()};
}

struct BrightnessCase {
    std::string answer;
    uint32_t level;
};
class MorenQueryBrightness : public testing::TestWithParam<BrightnessCase> {};

TEST_P(MorenQueryBrightness, AnswerScaledToAPercentage) {
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 1);
    params.level = 77;
    QueryRun run = Query(EFFECT_LED_BRIGHTNESS, params, "reg.03030001=" + GetParam().answer);
    EXPECT_EQ(run.hr, S_OK);
    EXPECT_EQ(params.level, GetParam().level);
    auto gets = Filter(run.trace, "get");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].details, "03 03 00 01 00 -> 03 03 00 01 " + GetParam().answer);
    // Its own device-I/O object: opened, one exchange, closed again.
    std::vector<std::string> ops;
    for (const auto& line : run.trace) ops.push_back(line.op);
    EXPECT_EQ(ops, (std::vector<std::string>{"init", "get", "close"}));
}

INSTANTIATE_TEST_SUITE_P(Answers, MorenQueryBrightness,
                         testing::Values(BrightnessCase{"80", 50}, BrightnessCase{"FF", 100},
                                         BrightnessCase{"7F", 49}, BrightnessCase{"00", 0}));

struct StateCase {
    std::string answer;
    uint32_t level;
};
class MorenQueryState : public testing::TestWithParam<StateCase> {};

TEST_P(MorenQueryState, OnOffOrLeftAlone) {
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 4);
    params.level = 77;
    QueryRun run = Query(EFFECT_LED_STATE, params, "reg.0003000A=" + GetParam().answer);
    EXPECT_EQ(run.hr, S_OK);
    EXPECT_EQ(params.level, GetParam().level);
    auto gets = Filter(run.trace, "get");
    ASSERT_EQ(gets.size(), 1u);
    // Selector 4 asks for light 0x0A, as the device-blink column says.
    EXPECT_EQ(gets[0].details.substr(0, 14), "00 03 00 0A 00");
}

INSTANTIATE_TEST_SUITE_P(Answers, MorenQueryState,
                         testing::Values(StateCase{"01", 100}, StateCase{"00", 0},
                                         StateCase{"02", 77}));

TEST(MorenQueryLights, RequestUsesTheDeviceBlinkColumnAndZeroWithoutALight) {
    struct Case {
        uint32_t selector;
        std::string request;
    };
    const Case cases[] = {{3, "03 03 00 0B 00"},
                          {6, "03 03 00 05 00"},
                          {2, "03 03 00 00 00"},
                          {5, "03 03 00 00 00"},
                          {42, "03 03 00 00 00"}};
    for (const Case& c : cases) {
        EffectParams params = Record(PRODUCT_PELL, c.selector);
        QueryRun run = Query(EFFECT_LED_BRIGHTNESS, params, "");
        auto gets = Filter(run.trace, "get");
        ASSERT_EQ(gets.size(), 1u);
        EXPECT_EQ(gets[0].details.substr(0, 14), c.request) << "selector " << c.selector;
    }
}

TEST(MorenQueryFailures, StateKindReportsNotSupportedBrightnessKindSucceeds) {
    for (const std::string keys : {"init=80070002", "get=8007001F"}) {
        EffectParams params = Record(PRODUCT_PELL, 1);
        params.level = 33;
        QueryRun state = Query(EFFECT_LED_STATE, params, keys + " reg.00030001=01");
        EXPECT_EQ(state.hr, static_cast<HRESULT>(0x80070032)) << keys;
        EXPECT_EQ(params.level, 33u);

        QueryRun brightness = Query(EFFECT_LED_BRIGHTNESS, params, keys + " reg.03030001=FF");
        EXPECT_EQ(brightness.hr, S_OK) << keys;
        EXPECT_EQ(params.level, 33u);
        // A failed open makes no exchange at all.
        if (keys.starts_with("init")) {
            EXPECT_TRUE(Filter(brightness.trace, "get").empty());
        }
    }
}

TEST(MorenQueryFailures, OtherKindsAreNotReadAndTouchNoDevice) {
    for (const GUID& kind : {EFFECT_LED_ON, EFFECT_LED_FLASH_1, EFFECT_LED_COLOR}) {
        EffectParams params = Record(PRODUCT_PELL, 1);
        params.level = 5;
        QueryRun run = Query(kind, params, "reg.00030001=01");
        EXPECT_EQ(run.hr, static_cast<HRESULT>(0x80070032));
        EXPECT_EQ(params.level, 5u);
        EXPECT_TRUE(run.trace.empty());
    }
}

}  // namespace
}  // namespace kvsdk::test
