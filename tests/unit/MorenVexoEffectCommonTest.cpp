// Behaviour that both effect families share: the read-back of state and brightness (against
// simulated devices), the blink limit, kinds that queue nothing, and records left alone.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/unit/EffectTestDecode.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"
#include "common/Win32Types.h"
#include "effects/MORENEffect.h"
#include "effects/VEXOEffect.h"

namespace kvsdk::test {
namespace {

template <class TEffect>
class EffectFamily : public testing::Test {
  protected:
    struct QueryRun {
        HRESULT hr;
        std::vector<TraceLine> trace;
    };

    // QueryState on a fresh effect over 'params', against one device described by 'keys'.
    static QueryRun Query(const GUID& effect, EffectParams& params, const std::string& keys) {
        const std::string path = MousePath("0e59");
        SimEnvironment sim("mouse " + path + " " + keys + "\n");
        TEffect family(effect, &params);
        const HRESULT hr = family.QueryState(ToUpper(FromUtf8(path)));
        EXPECT_EQ(family.GetCommands()->GetCount(), 0u);
        return {hr, sim.Trace()};
    }
};

using Families = testing::Types<CMORENEffect, CVEXOEffect>;
TYPED_TEST_SUITE(EffectFamily, Families);

TYPED_TEST(EffectFamily, BrightnessAnswerIsScaledToAPercentage) {
    struct Case {
        std::string answer;
        uint32_t level;
    };
    for (const Case& c : {Case{"80", 50}, Case{"FF", 100}, Case{"7F", 49}, Case{"00", 0}}) {
        EffectParams params = Record(PRODUCT_PELL, 1);
        params.level = 77;
        auto run = this->Query(EFFECT_LED_BRIGHTNESS, params, "reg.03030001=" + c.answer);
        EXPECT_EQ(run.hr, S_OK);
        EXPECT_EQ(params.level, c.level) << c.answer;
        // Its own device-I/O object: opened, one exchange, closed again.
        ASSERT_EQ(run.trace.size(), 3u);
        EXPECT_EQ(run.trace[0].op, "init");
        EXPECT_EQ(run.trace[1].op, "get");
        EXPECT_EQ(run.trace[1].details, "03 03 00 01 00 -> 03 03 00 01 " + c.answer);
        EXPECT_EQ(run.trace[2].op, "close");
    }
}

TYPED_TEST(EffectFamily, StateAnswerSetsOnOffOrLeavesTheLevel) {
    struct Case {
        std::string answer;
        uint32_t level;
    };
    for (const Case& c : {Case{"01", 100}, Case{"00", 0}, Case{"02", 77}}) {
        EffectParams params = Record(PRODUCT_PELL, 4);
        params.level = 77;
        auto run = this->Query(EFFECT_LED_STATE, params, "reg.0003000A=" + c.answer);
        EXPECT_EQ(run.hr, S_OK);
        EXPECT_EQ(params.level, c.level) << c.answer;
    }
}

TYPED_TEST(EffectFamily, RequestAsksForTheSelectorsLightOrZero) {
    struct Case {
        uint32_t selector;
        std::string request;
    };
    const Case cases[] = {{1, "00 03 00 01 00"}, {2, "00 03 00 00 00"}, {3, "00 03 00 0B 00"},
                          {4, "00 03 00 0A 00"}, {5, "00 03 00 00 00"}, {6, "00 03 00 05 00"},
                          {7, "00 03 00 0B 00"}, {42, "00 03 00 00 00"}};
    for (const Case& c : cases) {
        EffectParams params = Record(PRODUCT_PELL, c.selector);
        auto run = this->Query(EFFECT_LED_STATE, params, "");
        const auto gets = Filter(run.trace, "get");
        ASSERT_EQ(gets.size(), 1u);
        EXPECT_EQ(gets[0].details.substr(0, 14), c.request) << "selector " << c.selector;
    }
}

TYPED_TEST(EffectFamily, FailedOpenOrExchange) {
    for (const std::string keys : {"init=80070002", "get=8007001F"}) {
        EffectParams params = Record(PRODUCT_PELL, 1);
        params.level = 33;
        auto state = this->Query(EFFECT_LED_STATE, params, keys + " reg.00030001=01");
        EXPECT_EQ(state.hr, static_cast<HRESULT>(0x80070032)) << keys;
        EXPECT_EQ(params.level, 33u);

        auto brightness = this->Query(EFFECT_LED_BRIGHTNESS, params, keys + " reg.03030001=FF");
        EXPECT_EQ(brightness.hr, static_cast<HRESULT>(0x80070032)) << keys;
        EXPECT_EQ(params.level, 33u);
    }
}

TYPED_TEST(EffectFamily, OtherKindsAreNotReadAndTouchNoDevice) {
    for (const GUID& kind : {EFFECT_LED_ON, EFFECT_LED_FLASH_1, EFFECT_LED_COLOR}) {
        EffectParams params = Record(PRODUCT_PELL, 1);
        params.level = 5;
        auto run = this->Query(kind, params, "reg.00030001=01");
        EXPECT_EQ(run.hr, static_cast<HRESULT>(0x80070032));
        EXPECT_EQ(params.level, 5u);
        EXPECT_TRUE(run.trace.empty());
    }
}

TYPED_TEST(EffectFamily, StateKindIsAcceptedAndQueuesNothing) {
    EffectParams params = Record(PRODUCT_PELL, 1);
    TypeParam family(EFFECT_LED_STATE, &params);
    EXPECT_EQ(family.Build(), S_OK);
    EXPECT_EQ(family.GetCommands()->GetCount(), 0u);
}

TYPED_TEST(EffectFamily, BlinkCountAboveTheLimitIsRefused) {
    EffectParams params = Record(PRODUCT_PELL, 1);
    for (uint32_t count : {kMaxBlinkCount + 1, 0xFFFFFFFFu}) {
        params.count = count;
        TypeParam family(EFFECT_LED_BLINK, &params);
        EXPECT_EQ(family.Build(), E_INVALIDARG);
        EXPECT_EQ(family.GetCommands()->GetCount(), 0u);
    }
    params.count = kMaxBlinkCount;  // without times: mode, off, mode, on per cycle
    TypeParam family(EFFECT_LED_BLINK, &params);
    EXPECT_EQ(family.Build(), S_OK);
    EXPECT_EQ(family.GetSendCount(), size_t{4} * kMaxBlinkCount);
    EXPECT_EQ(family.GetCommands()->GetCount(), 4u);  // the host's thread builds one cycle
}

TYPED_TEST(EffectFamily, FlashAndBlinkUseTheirOwnStepRecord) {
    for (const GUID& kind : {EFFECT_LED_FLASH_3, EFFECT_LED_BLINK}) {
        EffectParams params = Record(PRODUCT_PELL, 6);
        params.count = 2;  // shares its place with the level
        params.duration = 0x55667788;
        params.offTime = 10;
        const EffectParams before = params;
        TypeParam family(kind, &params);
        EXPECT_EQ(family.Build(), S_OK);
        EXPECT_EQ(std::memcmp(&before, &params, sizeof(params)), 0);
    }
}

TYPED_TEST(EffectFamily, MissingRecordIsRefusedWithoutACrash) {
    TypeParam build(EFFECT_LED_FLASH_1, nullptr);
    EXPECT_EQ(build.Build(), E_POINTER);
    TypeParam query(EFFECT_LED_STATE, nullptr);
    EXPECT_EQ(query.QueryState(L"\\\\?\\NOWHERE"), E_POINTER);
}

}  // namespace
}  // namespace kvsdk::test
