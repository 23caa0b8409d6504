// Command lists built by the Pell effect family, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "tests/unit/EffectTestDecode.h"
#include "common/Win32Types.h"
#include "effects/LightBuilders.h"
#include "effects/MORENEffect.h"

namespace kvsdk::test {
namespace {

struct Built {
    HRESULT hr;
    std::vector<Cmd> cmds;
};

Built BuildMoren(const GUID& effect, EffectParams& params) {
    CMORENEffect moren(effect, &params);
    const HRESULT hr = moren.Build();
    return {hr, Decode(moren)};
}

// ---- on/off: the selector's low byte is the light id, no table ----

struct OnOffCase {
    uint32_t selector;
    uint8_t light;
};
class MorenOnOff : public testing::TestWithParam<OnOffCase> {};

TEST_P(MorenOnOff, OneStateCommandForTheSelectorsLowByte) {
    EffectParams params = Record(PRODUCT_PELL, GetParam().selector);
    params.duration = 500;  // not read by this family
    Built on = BuildMoren(EFFECT_LED_ON, params);
    EXPECT_EQ(on.hr, S_OK);
    EXPECT_EQ(on.cmds, (std::vector<Cmd>{State(GetParam().light, 1)}));
    Built off = BuildMoren(EFFECT_LED_OFF, params);
    EXPECT_EQ(off.hr, S_OK);
    EXPECT_EQ(off.cmds, (std::vector<Cmd>{State(GetParam().light, 0)}));
}

INSTANTIATE_TEST_SUITE_P(Selectors, MorenOnOff,
                         testing::Values(OnOffCase{1, 0x01}, OnOffCase{2, 0x02}, OnOffCase{6, 0x06},
                                         OnOffCase{7, 0x07}, OnOffCase{0, 0x00},
                                         OnOffCase{0x1234, 0x34}));

// ---- brightness: state-step column, scaling and write-back ----

struct StepLightCase {
    uint32_t selector;
    std::optional<uint8_t> light;  // none: no mode command, brightness to 0x00
};
class MorenStateStepLights : public testing::TestWithParam<StepLightCase> {};

TEST_P(MorenStateStepLights, BrightnessUsesTheStateStepColumn) {
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, GetParam().selector);
    params.level = 100;
    Built b = BuildMoren(EFFECT_LED_BRIGHTNESS, params);
    EXPECT_EQ(b.hr, S_OK);
    std::vector<Cmd> expected;
    if (GetParam().light) expected.push_back(Mode(*GetParam().light, 0));
    expected.push_back(Bright(GetParam().light.value_or(0x00), 0xFF));
    EXPECT_EQ(b.cmds, expected);
    EXPECT_EQ(params.level, 100u);  // KvSDKSetEffect writes the scaled level back, once
}

TEST_P(MorenStateStepLights, FlashUsesTheStateStepColumn) {
    EffectParams params = Record(PRODUCT_PELL, GetParam().selector);
    Built b = BuildMoren(EFFECT_LED_FLASH_1, params);
    EXPECT_EQ(b.hr, S_OK);
    const uint8_t light = GetParam().light.value_or(0x00);
    std::vector<Cmd> expected;
    if (GetParam().light) expected.push_back(Mode(light, 0));
    expected.push_back(State(light, 0));
    expected.push_back(Wait(300));
    if (GetParam().light) expected.push_back(Mode(light, 0));
    expected.push_back(State(light, 1));
    expected.push_back(Wait(300));
    EXPECT_EQ(b.cmds, expected);
}

INSTANTIATE_TEST_SUITE_P(Selectors, MorenStateStepLights,
                         testing::Values(StepLightCase{1, 0x01}, StepLightCase{2, std::nullopt},
                                         StepLightCase{3, 0x03}, StepLightCase{4, 0x04},
                                         StepLightCase{5, std::nullopt}, StepLightCase{6, 0x05},
                                         StepLightCase{7, 0x0B}, StepLightCase{0, std::nullopt},
                                         StepLightCase{8, std::nullopt}));

struct ScaleCase {
    uint32_t level;
    uint32_t written;  // value left in the host's record
    uint8_t sent;
};
class MorenBrightnessScale : public testing::TestWithParam<ScaleCase> {};

TEST_P(MorenBrightnessScale, ScaledClampedAtHundredAndWrittenBack) {
    EffectParams params = Record(PRODUCT_PELL, 1);
    params.level = GetParam().level;
    Built b = BuildMoren(EFFECT_LED_BRIGHTNESS, params);
    EXPECT_EQ(b.hr, S_OK);
    EXPECT_EQ(b.cmds, (std::vector<Cmd>{Mode(0x01, 0), Bright(0x01, GetParam().sent)}));
    // Build leaves the record alone; KvSDKSetEffect writes the scaled level back.
    EXPECT_EQ(params.level, GetParam().level);
    EXPECT_EQ(light::ScaleLevel(params.level), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(Levels, MorenBrightnessScale,
                         testing::Values(ScaleCase{50, 127, 0x7F}, ScaleCase{100, 255, 0xFF},
                                         ScaleCase{0, 0, 0x00}, ScaleCase{101, 255, 0xFF},
                                         ScaleCase{200, 255, 0xFF}, ScaleCase{16843010u, 255, 0xFF},
                                         ScaleCase{0xFFFFFFFFu, 255, 0xFF}));

// ---- mode-2 parameters ----

struct ModeParamsCase {
    uint32_t selector;
    std::optional<uint8_t> light;
};
class MorenModeParamsLights : public testing::TestWithParam<ModeParamsCase> {};

TEST_P(MorenModeParamsLights, OnlySelectorsOfTheModeTwoColumnQueue) {
    EffectParams params = Record(PRODUCT_PELL, GetParam().selector);
    params.param1 = 0x0102;
    params.percent = 50;
    params.param2 = 300;
    params.param3 = 500;
    Built b = BuildMoren(EFFECT_LED_MODE_2_PARAMS, params);
    EXPECT_EQ(b.hr, S_OK);
    if (!GetParam().light) {
        EXPECT_TRUE(b.cmds.empty());
        return;
    }
    const uint8_t l = *GetParam().light;
    EXPECT_EQ(b.cmds, (std::vector<Cmd>{
                          Mode(l, 2),
                          P({0x05, 0x03, 0x00, l, 0x01, 0x02, 0x7F, 0xFF, 0x01, 0x2C, 0x01, 0xF4}),
                      }));
}

INSTANTIATE_TEST_SUITE_P(Selectors, MorenModeParamsLights,
                         testing::Values(ModeParamsCase{1, 0x01}, ModeParamsCase{2, std::nullopt},
                                         ModeParamsCase{3, std::nullopt},
                                         ModeParamsCase{4, std::nullopt},
                                         ModeParamsCase{5, std::nullopt}, ModeParamsCase{6, 0x05},
                                         ModeParamsCase{7, 0x0B}, ModeParamsCase{9, std::nullopt}));

TEST(MorenModeParams, SendsLow16BitsAndClampsThePercentage) {
    EffectParams params = Record(PRODUCT_PELL, 7);
    params.param1 = 0xABCD1234;
    params.percent = 101;  // counts as 100: 0xFFFF
    params.param2 = 0x10000;
    params.param3 = 0xFFFF;
    Built b = BuildMoren(EFFECT_LED_MODE_2_PARAMS, params);
    ASSERT_EQ(b.cmds.size(), 2u);
    EXPECT_EQ(b.cmds[1],
              P({0x05, 0x03, 0x00, 0x0B, 0x12, 0x34, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF}));

    params.percent = 100;
    b = BuildMoren(EFFECT_LED_MODE_2_PARAMS, params);
    ASSERT_EQ(b.cmds.size(), 2u);
    EXPECT_EQ(b.cmds[1].bytes[6], 0xFF);
    EXPECT_EQ(b.cmds[1].bytes[7], 0xFF);
}

// ---- flash and blink ----

TEST(MorenFlash, FlashTwoOnSelectorSevenIsTwelveBuffersForLightB) {
    EffectParams params = Record(PRODUCT_PELL, 7);
    Built b = BuildMoren(EFFECT_LED_FLASH_2, params);
    EXPECT_EQ(b.hr, S_OK);
    const std::vector<Cmd> cycle = {Mode(0x0B, 0), State(0x0B, 0), Wait(300),
                                    Mode(0x0B, 0), State(0x0B, 1), Wait(300)};
    std::vector<Cmd> expected = cycle;
    expected.insert(expected.end(), cycle.begin(), cycle.end());
    EXPECT_EQ(b.cmds, expected);
}

TEST(MorenFlash, FlashThreeIsEighteenBuffers) {
    EffectParams params = Record(PRODUCT_PELL, 6);
    Built b = BuildMoren(EFFECT_LED_FLASH_3, params);
    EXPECT_EQ(b.hr, S_OK);
    EXPECT_EQ(b.cmds.size(), 18u);
}

TEST(MorenBlink, CountedBlinkWithoutTimesQueuesNoPauses) {
    EffectParams params = Record(PRODUCT_PELL, 1);
    params.count = 3;
    Built b = BuildMoren(EFFECT_LED_BLINK, params);
    EXPECT_EQ(b.hr, S_OK);
    std::vector<Cmd> expected;
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(),
                        {Mode(0x01, 0), State(0x01, 0), Mode(0x01, 0), State(0x01, 1)});
    }
    EXPECT_EQ(b.cmds, expected);
}

TEST(MorenBlink, CountedBlinkPausesForTheOffAndOnTimes) {
    EffectParams params = Record(PRODUCT_PELL, 4);
    params.count = 2;
    params.offTime = 100;
    params.onTime = 70000;  // full 32-bit times in pauses
    Built b = BuildMoren(EFFECT_LED_BLINK, params);
    const std::vector<Cmd> cycle = {Mode(0x04, 0), State(0x04, 0), Wait(100),
                                    Mode(0x04, 0), State(0x04, 1), Wait(70000)};
    std::vector<Cmd> expected = cycle;
    expected.insert(expected.end(), cycle.begin(), cycle.end());
    EXPECT_EQ(b.cmds, expected);
    EXPECT_EQ(params.count, 2u);
}

struct DeviceBlinkCase {
    uint32_t selector;
    std::optional<uint8_t> light;
};
class MorenDeviceBlink : public testing::TestWithParam<DeviceBlinkCase> {};

TEST_P(MorenDeviceBlink, CountZeroHandsBlinkingToTheDevice) {
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, GetParam().selector);
    params.count = 0;
    params.offTime = 0x1F4;  // 500 ms: low byte 0xF4
    params.onTime = 0x164;   // 356 ms: low byte 0x64
    Built b = BuildMoren(EFFECT_LED_BLINK, params);
    EXPECT_EQ(b.hr, S_OK);
    if (!GetParam().light) {
        EXPECT_TRUE(b.cmds.empty());
        return;
    }
    // Byte 4: off time, byte 5: on time.
    EXPECT_EQ(b.cmds, (std::vector<Cmd>{P({0x04, 0x03, 0x00, *GetParam().light, 0xF4, 0x64})}));
}

INSTANTIATE_TEST_SUITE_P(Selectors, MorenDeviceBlink,
                         testing::Values(DeviceBlinkCase{1, 0x01}, DeviceBlinkCase{2, std::nullopt},
                                         DeviceBlinkCase{3, 0x0B}, DeviceBlinkCase{4, 0x0A},
                                         DeviceBlinkCase{5, std::nullopt}, DeviceBlinkCase{6, 0x05},
                                         DeviceBlinkCase{7, 0x0B},
                                         DeviceBlinkCase{0, std::nullopt}));

// ---- colour ----

struct ColorCase {
    const GUID* product;
    uint32_t selector;
    std::optional<uint8_t> light;  // none: nothing queued
};
class MorenColor : public testing::TestWithParam<ColorCase> {};

TEST_P(MorenColor, ColourCommandByProductAndSelector) {
    EffectParams params = Record(*GetParam().product, GetParam().selector);
    params.red = 0x10;
    params.green = 0x20;
    params.blue = 0x30;
    Built b = BuildMoren(EFFECT_LED_COLOR, params);
    EXPECT_EQ(b.hr, S_OK);
    if (!GetParam().light) {
        EXPECT_TRUE(b.cmds.empty());
        return;
    }
    EXPECT_EQ(b.cmds,
              (std::vector<Cmd>{P({0x01, 0x03, 0x00, *GetParam().light, 0x10, 0x20, 0x30})}));
}

INSTANTIATE_TEST_SUITE_P(Products, MorenColor,
                         testing::Values(ColorCase{&PRODUCT_PELL_MOUSE_0E59, 1, 0x01},
                                         ColorCase{&PRODUCT_PELL_MOUSE_0E59, 3, 0x00},
                                         ColorCase{&PRODUCT_PELL_MOUSE_0E59, 6, 0x00},
                                         ColorCase{&PRODUCT_PELL_KEYBOARD_0E5A, 7, 0x0B},
                                         ColorCase{&PRODUCT_PELL_KEYBOARD_0E5A, 99, 0x00},
                                         ColorCase{&PRODUCT_PELL, 1, std::nullopt},
                                         ColorCase{&PRODUCT_VEXO, 1, std::nullopt}));

TEST(MorenColorBlock, UsbDeviceGetsACopyOfTheRecordsFirst28Bytes) {
    EffectParams params = Record(PRODUCT_PELL_USB_0E5B, 3);
    params.size = 0xA1B2C3D4;
    params.red = 0x10;
    params.green = 0x20;
    params.blue = 0x30;
    params.percent = 0x44556677;  // offsets 28.. are not part of the block
    uint8_t expected[28];
    std::memcpy(expected, &params, sizeof(expected));

    CMORENEffect moren(EFFECT_LED_COLOR, &params);
    EXPECT_EQ(moren.Build(), S_OK);
    ASSERT_EQ(moren.GetCommands()->GetCount(), 1u);
    const CCommandBuffer& block = **moren.GetCommands()->begin();
    ASSERT_EQ(block.Size(), 28u);
    params.red = 0xEE;  // the host's record may change or go once the call returned
    EXPECT_EQ(std::memcmp(block.Data(), expected, 28), 0);
}

// ---- lighting-mode kinds ----

const GUID* const kModeKinds[] = {&EFFECT_LED_MODE_0, &EFFECT_LED_MODE_1, &EFFECT_LED_MODE_2,
                                  &EFFECT_LED_MODE_4};

struct LightModeCase {
    const GUID* modeGuid;
    uint8_t mode;
};
class MorenLightMode : public testing::TestWithParam<LightModeCase> {};

TEST_P(MorenLightMode, ModeComesFromModeGuidWhateverTheKind) {
    for (const GUID* kind : kModeKinds) {
        EffectParams params = Record(PRODUCT_PELL_KEYBOARD_0E5A, 7);
        params.modeGuid = *GetParam().modeGuid;
        Built b = BuildMoren(*kind, params);
        EXPECT_EQ(b.hr, S_OK);
        EXPECT_EQ(b.cmds, (std::vector<Cmd>{Mode(0x0B, GetParam().mode)}));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, MorenLightMode,
                         testing::Values(LightModeCase{&EFFECT_LED_MODE_0, 0},
                                         LightModeCase{&EFFECT_LED_MODE_2, 2},
                                         LightModeCase{&EFFECT_LED_MODE_4, 4},
                                         LightModeCase{&EFFECT_LED_MODE_1, 1}));

TEST(MorenLightModeRefusals, QueueNothingButSucceed) {
    struct Case {
        const GUID* product;
        uint32_t selector;
        GUID modeGuid;
    };
    GUID almostMode0 = EFFECT_LED_MODE_0;
    almostMode0.Data4[7] ^= 0x01;
    const Case cases[] = {
        {&PRODUCT_PELL_KEYBOARD_0E5A, 1, EFFECT_LED_MODE_2},  // only light 0x0B
        {&PRODUCT_PELL_KEYBOARD_0E5A, 6, EFFECT_LED_MODE_2},
        {&PRODUCT_PELL, 7, EFFECT_LED_MODE_2},  // keyboard product only
        {&PRODUCT_PELL_MOUSE_0E59, 7, EFFECT_LED_MODE_2},
        {&PRODUCT_PELL_KEYBOARD_0E5A, 7, kGuidNull},  // closes the table
        {&PRODUCT_PELL_KEYBOARD_0E5A, 7, almostMode0},
        {&PRODUCT_PELL_KEYBOARD_0E5A, 7, EFFECT_LED_ON},
    };
    for (const Case& c : cases) {
        EffectParams params = Record(*c.product, c.selector);
        params.modeGuid = c.modeGuid;
        Built b = BuildMoren(EFFECT_LED_MODE_1, params);
        EXPECT_EQ(b.hr, S_OK);
        EXPECT_TRUE(b.cmds.empty()) << "selector " << c.selector;
    }
}

// ---- kinds refused ----

TEST(MorenKinds, OtherFamilysKindsAndUnknownGuidsAreRefused) {
    GUID almostOn = EFFECT_LED_ON;
    almostOn.Data2 ^= 0x0100;
    const GUID refused[] = {EFFECT_VEXO_MODE_A, EFFECT_VEXO_MODE_B, almostOn, kGuidNull,
                            PRODUCT_PELL};
    for (const GUID& guid : refused) {
        EffectParams params = Record(PRODUCT_PELL_KEYBOARD_0E5A, 7);
        params.deviceMode = 1;
        Built b = BuildMoren(guid, params);
        EXPECT_EQ(b.hr, E_NOINTERFACE);
        EXPECT_TRUE(b.cmds.empty());
    }
}

}  // namespace
}  // namespace kvsdk::test
