// Reading a light's state or brightness back through the VEXO effect family, against simulated
// devices.
#include <gtest/gtest.h>

#include <string>

#include "EffectTestDecode.h"
#include "Strings.h"
#include "TestSupport.h"
#include "Win32Types.h"
#include "effects/VEXOEffect.h"

namespace kvsdk::test {
namespace {

const std::string kPath = MousePath("0e52");

struct QueryRun {
    HRESULT hr;
    std::vector<TraceLine> trace;
};
QueryRun Query(const GUID& effect, EffectParams& params, const std::string& keys) {
    SimEnvironment sim("mouse " + kPath + " " + keys + "\n");
    CVEXOEffect vexo(effect, &params);
    const HRESULT hr = vexo.QueryState(ToUpper(FromUtf8(kPath)));
    return {hr, sim.Trace()};
}

TEST(VexoQuery, BrightnessAndStateOfTheSelectedLight) {
    struct Case {
        const GUID* kind;
        uint32_t selector;
        std::string keys;
        std::string request;
        uint32_t level;
    };
    const Case cases[] = {
        {&EFFECT_LED_BRIGHTNESS, 4, "reg.0303000A=80", "03 03 00 0A 00", 50},
        {&EFFECT_LED_BRIGHTNESS, 3, "reg.0303000B=FF", "03 03 00 0B 00", 100},
        {&EFFECT_LED_BRIGHTNESS, 5, "reg.03030000=7F", "03 03 00 00 00", 49},
        {&EFFECT_LED_STATE, 6, "reg.00030005=01", "00 03 00 05 00", 100},
        {&EFFECT_LED_STATE, 7, "reg.0003000B=00", "00 03 00 0B 00", 0},
        {&EFFECT_LED_STATE, 1, "reg.00030001=02", "00 03 00 01 00", 77},  // left alone
    };
    for (const Case& c : cases) {
        EffectParams params = Record(PRODUCT_VEXO, c.selector);
        params.level = 77;
        QueryRun run = Query(*c.kind, params, c.keys);
        EXPECT_EQ(run.hr, S_OK) << c.keys;
        EXPECT_EQ(params.level, c.level) << c.keys;
        auto gets = Filter(run.trace, "get");
        ASSERT_EQ(gets.size(), 1u) << c.keys;
        EXPECT_EQ(gets[0].details.substr(0, 14), c.request);
        EXPECT_EQ(gets[0].path, ToUpper(kPath));
    }
}

TEST(VexoQuery, FailedOpenOrExchange) {
    for (const std::string keys : {"init=80070005", "get=80004005"}) {
        EffectParams params = Record(PRODUCT_VEXO, 1);
        params.level = 33;
        QueryRun state = Query(EFFECT_LED_STATE, params, keys + " reg.00030001=01");
        EXPECT_EQ(state.hr, static_cast<HRESULT>(0x80070032)) << keys;
        EXPECT_EQ(params.level, 33u);
        QueryRun brightness = Query(EFFECT_LED_BRIGHTNESS, params, keys + " reg.03030001=FF");
        EXPECT_EQ(brightness.hr, S_OK) << keys;
        EXPECT_EQ(params.level, 33u);
    }
}

TEST(VexoQuery, OtherKindsAnswerNotSupportedWithoutOpeningTheDevice) {
    for (const GUID& kind : {EFFECT_LED_ON, EFFECT_VEXO_MODE_A, EFFECT_LED_MODE_2_PARAMS}) {
        EffectParams params = Record(PRODUCT_VEXO, 1);
        QueryRun run = Query(kind, params, "");
        EXPECT_EQ(run.hr, static_cast<HRESULT>(0x80070032));
        EXPECT_TRUE(run.trace.empty());
    }
}

}  // namespace
}  // namespace kvsdk::test
