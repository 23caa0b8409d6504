// Command lists built by the VEXO effect family, byte for byte.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "tests/unit/EffectTestDecode.h"
#include "common/Win32Types.h"
#include "effects/LightBuilders.h"
#include "effects/MORENEffect.h"
#include "effects/VEXOEffect.h"

namespace kvsdk::test {
namespace {

struct Built {
    HRESULT hr;
    std::vector<Cmd> cmds;
};

Built BuildVexo(const GUID& effect, EffectParams& params) {
    CVEXOEffect vexo(effect, &params);
    const HRESULT hr = vexo.Build();
    return {hr, Decode(vexo)};
}

// ---- state steps: on/off, brightness, flash share one light column ----

struct StepLightCase {
    uint32_t selector;
    std::optional<uint8_t> light;  // none: no mode command, state or brightness to 0x00
};
class VexoStateStepLights : public testing::TestWithParam<StepLightCase> {};

std::vector<Cmd> Step(const std::optional<uint8_t>& light, Cmd command) {
    std::vector<Cmd> cmds;
    if (light) cmds.push_back(Mode(*light, 0));
    cmds.push_back(command);
    return cmds;
}

TEST_P(VexoStateStepLights, OnOffAndBrightnessUseTheStateStepColumn) {
    const auto light = GetParam().light;
    const uint8_t id = light.value_or(0x00);
    EffectParams params = Record(PRODUCT_VEXO, GetParam().selector);
    params.level = 100;  // not read by on/off
    Built on = BuildVexo(EFFECT_LED_ON, params);
    EXPECT_EQ(on.hr, S_OK);
    EXPECT_EQ(on.cmds, Step(light, State(id, 1)));

    params.level = 0;
    Built off = BuildVexo(EFFECT_LED_OFF, params);
    EXPECT_EQ(off.hr, S_OK);
    EXPECT_EQ(off.cmds, Step(light, State(id, 0)));

    params.level = 100;
    Built bright = BuildVexo(EFFECT_LED_BRIGHTNESS, params);
    EXPECT_EQ(bright.hr, S_OK);
    EXPECT_EQ(bright.cmds, Step(light, Bright(id, 0xFF)));
}

INSTANTIATE_TEST_SUITE_P(Selectors, VexoStateStepLights,
                         testing::Values(StepLightCase{1, 0x01}, StepLightCase{2, std::nullopt},
                                         StepLightCase{3, 0x0B}, StepLightCase{4, 0x0A},
                                         StepLightCase{5, std::nullopt}, StepLightCase{6, 0x05},
                                         StepLightCase{7, 0x0B}, StepLightCase{0, std::nullopt},
                                         StepLightCase{0x106, std::nullopt}));

TEST(VexoOnOff, DurationAddsAPauseAfterTheStateCommand) {
    EffectParams params = Record(PRODUCT_VEXO_0E51, 6);
    params.duration = 0;
    EXPECT_EQ(BuildVexo(EFFECT_LED_ON, params).cmds,
              (std::vector<Cmd>{Mode(0x05, 0), State(0x05, 1)}));
    params.duration = 50;
    EXPECT_EQ(BuildVexo(EFFECT_LED_ON, params).cmds,
              (std::vector<Cmd>{Mode(0x05, 0), State(0x05, 1), Wait(50)}));

    EffectParams off = Record(PRODUCT_VEXO_0E52, 2);
    EXPECT_EQ(BuildVexo(EFFECT_LED_OFF, off).cmds, (std::vector<Cmd>{State(0x00, 0)}));
}

TEST(VexoBrightness, ScaledClampedAndWrittenBack) {
    struct Case {
        uint32_t level;
        uint32_t written;
        uint8_t sent;
    };
    for (const Case& c : {Case{50, 127, 0x7F}, Case{101, 255, 0xFF}, Case{16843010u, 255, 0xFF}}) {
        EffectParams params = Record(PRODUCT_VEXO, 1);
        params.level = c.level;
        params.duration = 40;  // brightness makes no pause
        Built b = BuildVexo(EFFECT_LED_BRIGHTNESS, params);
        EXPECT_EQ(b.hr, S_OK);
        EXPECT_EQ(b.cmds, (std::vector<Cmd>{Mode(0x01, 0), Bright(0x01, c.sent)}));
        // Build leaves the record alone; KvSDKSetEffect writes the scaled level back.
        EXPECT_EQ(params.level, c.level);
        EXPECT_EQ(light::ScaleLevel(params.level), c.written);
    }
}

// ---- mode-2 parameters ----

TEST(VexoModeParams, OnlySelectorsThreeSixAndSevenQueue) {
    struct Case {
        uint32_t selector;
        std::optional<uint8_t> light;
    };
    const Case cases[] = {{1, std::nullopt}, {2, std::nullopt}, {3, 0x0B}, {4, std::nullopt},
                          {5, std::nullopt}, {6, 0x05},         {7, 0x0B}, {8, std::nullopt}};
    for (const Case& c : cases) {
        EffectParams params = Record(PRODUCT_VEXO, c.selector);
        params.param1 = 0x0102;
        params.percent = 100;
        params.param2 = 300;
        params.param3 = 0x12345;
        Built b = BuildVexo(EFFECT_LED_MODE_2_PARAMS, params);
        EXPECT_EQ(b.hr, S_OK);
        if (!c.light) {
            EXPECT_TRUE(b.cmds.empty()) << "selector " << c.selector;
            continue;
        }
        const uint8_t l = *c.light;
        EXPECT_EQ(b.cmds,
                  (std::vector<Cmd>{
                      Mode(l, 2),
                      P({0x05, 0x03, 0x00, l, 0x01, 0x02, 0xFF, 0xFF, 0x01, 0x2C, 0x23, 0x45}),
                  }))
            << "selector " << c.selector;
    }
}

// ---- flash and blink ----

TEST(VexoFlash, OneCycleIsSixBuffers) {
    EffectParams params = Record(PRODUCT_VEXO, 4);
    params.duration = 7;  // the flash steps carry their own
    Built b = BuildVexo(EFFECT_LED_FLASH_1, params);
    EXPECT_EQ(b.hr, S_OK);
    EXPECT_EQ(b.cmds, (std::vector<Cmd>{Mode(0x0A, 0), State(0x0A, 0), Wait(300), Mode(0x0A, 0),
                                        State(0x0A, 1), Wait(300)}));

    EXPECT_EQ(BuildVexo(EFFECT_LED_FLASH_2, params).cmds.size(), 12u);
    EXPECT_EQ(BuildVexo(EFFECT_LED_FLASH_3, params).cmds.size(), 18u);
}

TEST(VexoBlink, CountedBlinkPausesOnlyForNonZeroTimes) {
    EffectParams params = Record(PRODUCT_VEXO, 1);
    params.count = 2;
    params.offTime = 100;
    params.onTime = 0;
    Built b = BuildVexo(EFFECT_LED_BLINK, params);
    EXPECT_EQ(b.hr, S_OK);
    EXPECT_EQ(b.cmds, (std::vector<Cmd>{Mode(0x01, 0), State(0x01, 0), Wait(100), Mode(0x01, 0),
                                        State(0x01, 1), Mode(0x01, 0), State(0x01, 0), Wait(100),
                                        Mode(0x01, 0), State(0x01, 1)}));
}

TEST(VexoBlink, CountZeroHandsBlinkingToTheDevice) {
    struct Case {
        uint32_t selector;
        std::optional<uint8_t> light;
    };
    const Case cases[] = {{1, 0x01},         {2, std::nullopt}, {3, 0x0B}, {4, 0x0A},
                          {5, std::nullopt}, {6, 0x05},         {7, 0x0B}, {0, std::nullopt}};
    for (const Case& c : cases) {
        EffectParams params = Record(PRODUCT_VEXO, c.selector);
        params.offTime = 0x2BC;  // 700: low byte 0xBC
        params.onTime = 0x0C8;   // 200: low byte 0xC8
        Built b = BuildVexo(EFFECT_LED_BLINK, params);
        EXPECT_EQ(b.hr, S_OK);
        if (!c.light) {
            EXPECT_TRUE(b.cmds.empty()) << "selector " << c.selector;
        } else {
            EXPECT_EQ(b.cmds, (std::vector<Cmd>{P({0x04, 0x03, 0x00, *c.light, 0xBC, 0xC8})}))
                << "selector " << c.selector;
        }
    }
}

// ---- device mode ----

TEST(VexoDeviceMode, ModeOneSwitchesLightBOnFirst) {
    for (const GUID& kind : {EFFECT_VEXO_MODE_A, EFFECT_VEXO_MODE_B}) {
        EffectParams params = Record(PRODUCT_VEXO, 3);
        params.deviceMode = 1;
        params.green = 0x77;  // byte 25 is not read
        Built b = BuildVexo(kind, params);
        EXPECT_EQ(b.hr, S_OK);
        EXPECT_EQ(b.cmds, (std::vector<Cmd>{State(0x0B, 1), P({0x01, 0x08, 0x01, 0x02})}));
    }
}

TEST(VexoDeviceMode, AnyOtherValueSelectsModeTwo) {
    for (uint8_t mode : {uint8_t{0}, uint8_t{2}, uint8_t{0xFF}}) {
        for (const GUID& kind : {EFFECT_VEXO_MODE_A, EFFECT_VEXO_MODE_B}) {
            EffectParams params = Record(PRODUCT_VEXO, 1);
            params.level = 0x01010100u | mode;  // only the low byte counts
            Built b = BuildVexo(kind, params);
            EXPECT_EQ(b.hr, S_OK);
            EXPECT_EQ(b.cmds, (std::vector<Cmd>{P({0x01, 0x08, 0x02, 0x02})}));
        }
    }
}

// ---- kinds refused ----

TEST(VexoKinds, PellOnlyKindsAndUnknownGuidsAreRefused) {
    GUID almostBlink = EFFECT_LED_BLINK;
    almostBlink.Data1 ^= 1;
    const GUID refused[] = {EFFECT_LED_COLOR,  EFFECT_LED_MODE_0, EFFECT_LED_MODE_1,
                            EFFECT_LED_MODE_2, EFFECT_LED_MODE_4, almostBlink,
                            kGuidNull};
    for (const GUID& guid : refused) {
        EffectParams params = Record(PRODUCT_VEXO, 7);
        params.modeGuid = EFFECT_LED_MODE_2;
        Built b = BuildVexo(guid, params);
        EXPECT_EQ(b.hr, E_NOINTERFACE);
        EXPECT_TRUE(b.cmds.empty());
    }
}

// ---- the overridable builders ----

// Build reaches the step, mode-2 and blink builders through the virtual table.
class CountingVexo : public CVEXOEffect {
  public:
    using CVEXOEffect::CVEXOEffect;
    void QueueStateStep(const EffectParams* params) override {
        ++steps;
        lastDuration = params->duration;
    }
    void QueueModeParams(const EffectParams*) override { ++modeParams; }
    void QueueDeviceBlink(const EffectParams*) override { ++blinks; }
    int steps = 0, modeParams = 0, blinks = 0;
    uint32_t lastDuration = 0;
};

TEST(VexoBuilders, BuildCallsTheOverridableBuilders) {
    EffectParams params = Record(PRODUCT_VEXO, 1);
    CountingVexo flash(EFFECT_LED_FLASH_3, &params);
    EXPECT_EQ(flash.Build(), S_OK);
    EXPECT_EQ(flash.steps, 6);
    EXPECT_EQ(flash.lastDuration, 300u);

    CountingVexo mode2(EFFECT_LED_MODE_2_PARAMS, &params);
    EXPECT_EQ(mode2.Build(), S_OK);
    EXPECT_EQ(mode2.modeParams, 1);

    CountingVexo blink(EFFECT_LED_BLINK, &params);
    EXPECT_EQ(blink.Build(), S_OK);
    EXPECT_EQ(blink.blinks, 1);
    EXPECT_EQ(blink.GetCommands()->GetCount(), 0u);
}

TEST(VexoBuilders, AllLightsOnOffAndReserved) {
    EffectParams params = Record(PRODUCT_VEXO, 1);
    CVEXOEffect vexo(EFFECT_LED_ON, &params);
    vexo.QueueLightsOn();
    vexo.QueueReserved(&params);
    vexo.QueueLightsOff();
    EXPECT_EQ(Decode(vexo), (std::vector<Cmd>{State(0x01, 1), State(0x0A, 1), State(0x0B, 1),
                                              State(0x01, 0), State(0x0A, 0), State(0x0B, 0)}));
}

}  // namespace
}  // namespace kvsdk::test
