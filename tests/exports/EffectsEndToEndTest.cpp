// Every effect kind of both families as a host drives it: KvSDKSetEffect / KvSDKGetEffect on
// simulated devices, checked in the device trace (bytes and order; pauses only as gaps).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "KvSDKEng.h"
#include "Strings.h"
#include "TestSupport.h"

namespace kvsdk::test {
namespace {

const std::string kVexo = MousePath("0e51");
const std::string kMouse = MousePath("0e59");
const std::string kKeyboard = KeyboardPath("0e5a", "02");
const std::string kUsb = UsbPath("0e5b");

EffectParams Record(const GUID& product, uint32_t lightSelector) {
    EffectParams params{};
    params.size = sizeof(EffectParams);
    params.productGuid = product;
    params.lightSelector = lightSelector;
    return params;
}

class EffectsEndToEnd : public ::testing::Test {
  protected:
    EffectsEndToEnd()
        : m_registry("KVSDK_REGISTRY", NativePath(m_dir / "registry.reg")),
          m_sim("mouse " + kVexo + "\n" + "mouse " + kMouse + "\n" + "keyboard " + kKeyboard +
                "\n" + "usb " + kUsb + "\n") {
        WriteTextFile(m_dir / "registry.reg", "Windows Registry Editor Version 5.00\n");
    }

    void SetUp() override {
        ASSERT_EQ(KvSDKEngInit(PRODUCT_VEXO), S_OK);
        ASSERT_EQ(KvSDKEngInit(PRODUCT_PELL), S_OK);
    }
    void TearDown() override { Uninit(); }

    void Uninit() {
        if (!m_uninitDone) {
            EXPECT_EQ(KvSDKEngUninit(), S_OK);
        }
        m_uninitDone = true;
    }

    std::vector<TraceLine> Lines(const std::string& op, const std::string& path) const {
        return Filter(m_sim.Trace(), op, path);
    }
    std::vector<std::string> Sets(const std::string& path) const {
        std::vector<std::string> out;
        for (const auto& line : Lines("set", path)) out.push_back(line.details);
        return out;
    }

    // Waits (generously) until 'path' has been sent at least 'count' commands.
    std::vector<TraceLine> WaitForSets(const std::string& path, size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            auto lines = Lines("set", path);
            if (lines.size() >= count || std::chrono::steady_clock::now() > deadline) {
                return lines;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Runs one request and checks the commands that reach 'path', all of them and nothing more
    // (for the Pell devices, whose release sends nothing).
    void ExpectPellSets(const GUID& kind, EffectParams params, const std::string& path,
                        const std::vector<std::string>& expected) {
        ASSERT_EQ(KvSDKSetEffect(kind, &params), S_OK);
        WaitForSets(path, expected.size());
        Uninit();
        EXPECT_EQ(Sets(path), expected);
    }

    // The same for the VEXO device: its release restores the stored settings afterwards, so
    // only the commands up to that point are compared.
    void ExpectVexoSets(const GUID& kind, EffectParams params,
                        const std::vector<std::string>& expected) {
        ASSERT_EQ(KvSDKSetEffect(kind, &params), S_OK);
        auto lines = WaitForSets(kVexo, expected.size());
        std::vector<std::string> sent;
        for (size_t i = 0; i < lines.size() && i < expected.size(); ++i) {
            sent.push_back(lines[i].details);
        }
        EXPECT_EQ(sent, expected);
    }

    TempDir m_dir;
    ScopedEnv m_registry;
    SimEnvironment m_sim;
    bool m_uninitDone = false;
};

// ---- Pell devices ----

TEST_F(EffectsEndToEnd, PellOnOffSendTheSelectorAsLight) {
    ExpectPellSets(EFFECT_LED_ON, Record(PRODUCT_PELL_MOUSE_0E59, 6), kMouse, {"00 03 00 06 01"});
}

TEST_F(EffectsEndToEnd, PellOff) {
    ExpectPellSets(EFFECT_LED_OFF, Record(PRODUCT_PELL_KEYBOARD_0E5A, 1), kKeyboard,
                   {"00 03 00 01 00"});
}

TEST_F(EffectsEndToEnd, PellBrightnessIsScaledPerDeviceOnTheSharedRecord) {
    EffectParams params = Record(PRODUCT_PELL, 1);
    params.level = 50;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BRIGHTNESS, &params), S_OK);
    // The engine walks its devices in the reverse of their discovery order: the USB device
    // scales 50 -> 127, the keyboard 127 -> 323 (0x43 sent), the mouse 323 -> 823 (0x37 sent).
    EXPECT_EQ(params.level, 823u);
    WaitForSets(kMouse, 2);
    WaitForSets(kKeyboard, 2);
    Uninit();
    EXPECT_EQ(Sets(kMouse), (std::vector<std::string>{"02 03 00 01 00", "03 03 00 01 37"}));
    EXPECT_EQ(Sets(kKeyboard), (std::vector<std::string>{"02 03 00 01 00", "03 03 00 01 43"}));
    // Light commands are not the USB device's form: nothing reaches it.
    EXPECT_TRUE(Lines("tunnel", kUsb).empty());
    EXPECT_TRUE(Sets(kUsb).empty());
}

TEST_F(EffectsEndToEnd, PellModeTwoParameters) {
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 6);
    params.param1 = 0x0102;
    params.percent = 50;
    params.param2 = 300;
    params.param3 = 500;
    ExpectPellSets(EFFECT_LED_MODE_2_PARAMS, params, kMouse,
                   {"02 03 00 05 02", "05 03 00 05 01 02 7F FF 01 2C 01 F4"});
}

TEST_F(EffectsEndToEnd, PellStateKindSendsNothing) {
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 1);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_STATE, &params), S_OK);
    Uninit();
    EXPECT_TRUE(Sets(kMouse).empty());
}

TEST_F(EffectsEndToEnd, PellFlashKindsPauseBetweenSteps) {
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 7);
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_FLASH_1, &params), S_OK);
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_FLASH_2, &params), S_OK);
    const auto lines = WaitForSets(kMouse, 12);
    ASSERT_EQ(lines.size(), 12u);
    for (size_t i = 0; i < lines.size(); i += 4) {
        EXPECT_EQ(lines[i].details, "02 03 00 0B 00");
        EXPECT_EQ(lines[i + 1].details, "00 03 00 0B 00");
        EXPECT_EQ(lines[i + 2].details, "02 03 00 0B 00");
        EXPECT_EQ(lines[i + 3].details, "00 03 00 0B 01");
        // The 300 ms pause after "off" shows as a gap (a loose lower bound only).
        EXPECT_GE(lines[i + 2].ms - lines[i + 1].ms, 200u);
    }
}

TEST_F(EffectsEndToEnd, PellFlashThree) {
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 2);  // no mode command, light 0x00
    ExpectPellSets(EFFECT_LED_FLASH_3, params, kMouse,
                   {"00 03 00 00 00", "00 03 00 00 01", "00 03 00 00 00", "00 03 00 00 01",
                    "00 03 00 00 00", "00 03 00 00 01"});
}

TEST_F(EffectsEndToEnd, PellCountedAndDeviceBlink) {
    EffectParams counted = Record(PRODUCT_PELL_MOUSE_0E59, 4);
    counted.count = 2;
    counted.offTime = 20;
    counted.onTime = 20;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &counted), S_OK);
    EffectParams device = Record(PRODUCT_PELL_MOUSE_0E59, 3);
    device.offTime = 500;
    device.onTime = 356;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &device), S_OK);
    EffectParams tooMany = Record(PRODUCT_PELL_MOUSE_0E59, 4);
    tooMany.count = 0xFFFFFFFF;
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &tooMany), E_INVALIDARG);
    WaitForSets(kMouse, 9);
    Uninit();
    EXPECT_EQ(Sets(kMouse),
              (std::vector<std::string>{"02 03 00 04 00", "00 03 00 04 00", "02 03 00 04 00",
                                        "00 03 00 04 01", "02 03 00 04 00", "00 03 00 04 00",
                                        "02 03 00 04 00", "00 03 00 04 01", "04 03 00 0B F4 64"}));
}

TEST_F(EffectsEndToEnd, PellColourByProduct) {
    EffectParams mouse = Record(PRODUCT_PELL_MOUSE_0E59, 1);
    mouse.red = 0x10;
    mouse.green = 0x20;
    mouse.blue = 0x30;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_COLOR, &mouse), S_OK);
    // The USB device takes the record block: code at offset 20, data from offset 24.
    EffectParams usb = Record(PRODUCT_PELL_USB_0E5B, 0x61);
    usb.red = 0x0A;
    usb.green = 0x0B;
    usb.blue = 0x0C;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_COLOR, &usb), S_OK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Lines("tunnel", kUsb).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    WaitForSets(kMouse, 1);
    Uninit();
    EXPECT_EQ(Sets(kMouse), std::vector<std::string>{"01 03 00 01 10 20 30"});
    const auto tunnel = Lines("tunnel", kUsb);
    ASSERT_EQ(tunnel.size(), 1u);
    EXPECT_EQ(tunnel[0].details, "0 0 61 00 02 0A0B0C 3");
    EXPECT_TRUE(Sets(kKeyboard).empty());
}

TEST_F(EffectsEndToEnd, PellLightingModeOnlyOnTheKeyboard) {
    EffectParams params = Record(PRODUCT_PELL, 7);
    params.modeGuid = EFFECT_LED_MODE_2;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_MODE_1, &params), S_OK);
    params.productGuid = PRODUCT_PELL_KEYBOARD_0E5A;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_MODE_1, &params), S_OK);
    WaitForSets(kKeyboard, 1);
    Uninit();
    EXPECT_EQ(Sets(kKeyboard), std::vector<std::string>{"02 03 00 0B 02"});
    EXPECT_TRUE(Sets(kMouse).empty());
}

TEST_F(EffectsEndToEnd, PellRefusesTheVexoModes) {
    EffectParams params = Record(PRODUCT_PELL_MOUSE_0E59, 1);
    params.deviceMode = 1;
    EXPECT_EQ(KvSDKSetEffect(EFFECT_VEXO_MODE_A, &params), E_NOINTERFACE);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_VEXO_MODE_B, &params), E_NOINTERFACE);
    Uninit();
    EXPECT_TRUE(Sets(kMouse).empty());
}

// ---- VEXO device ----

TEST_F(EffectsEndToEnd, VexoOnWithDurationThenOff) {
    EffectParams on = Record(PRODUCT_VEXO_0E51, 6);
    on.duration = 50;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &on), S_OK);
    EffectParams off = Record(PRODUCT_VEXO, 2);
    ExpectVexoSets(EFFECT_LED_OFF, off, {"02 03 00 05 00", "00 03 00 05 01", "00 03 00 00 00"});
}

TEST_F(EffectsEndToEnd, VexoBrightnessReadsBack) {
    EffectParams params = Record(PRODUCT_VEXO_0E51, 1);
    params.level = 50;
    ExpectVexoSets(EFFECT_LED_BRIGHTNESS, params, {"02 03 00 01 00", "03 03 00 01 7F"});
    EffectParams query = Record(PRODUCT_VEXO_0E51, 1);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_BRIGHTNESS, &query), S_OK);
    EXPECT_EQ(query.level, 49u);  // 0x7F * 100 / 255
}

TEST_F(EffectsEndToEnd, VexoStateReadsBack) {
    ExpectVexoSets(EFFECT_LED_ON, Record(PRODUCT_VEXO_0E51, 4),
                   {"02 03 00 0A 00", "00 03 00 0A 01"});
    EffectParams query = Record(PRODUCT_VEXO_0E51, 4);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &query), S_OK);
    EXPECT_EQ(query.level, 100u);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_ON, &query), static_cast<HRESULT>(0x80070032));
}

TEST_F(EffectsEndToEnd, VexoModeTwoParameters) {
    EffectParams params = Record(PRODUCT_VEXO_0E51, 3);
    params.param1 = 0x0102;
    params.percent = 100;
    params.param2 = 300;
    params.param3 = 500;
    ExpectVexoSets(EFFECT_LED_MODE_2_PARAMS, params,
                   {"02 03 00 0B 02", "05 03 00 0B 01 02 FF FF 01 2C 01 F4"});
}

TEST_F(EffectsEndToEnd, VexoFlashAndBlink) {
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_FLASH_1, nullptr), E_POINTER);
    EffectParams flash = Record(PRODUCT_VEXO_0E51, 4);
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_FLASH_1, &flash), S_OK);
    EffectParams blink = Record(PRODUCT_VEXO_0E51, 1);
    blink.count = 2;
    blink.offTime = 100;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &blink), S_OK);
    EffectParams device = Record(PRODUCT_VEXO_0E51, 6);
    device.offTime = 0x2BC;
    device.onTime = 0x0C8;
    ExpectVexoSets(
        EFFECT_LED_BLINK, device,
        {"02 03 00 0A 00", "00 03 00 0A 00", "02 03 00 0A 00", "00 03 00 0A 01", "02 03 00 01 00",
         "00 03 00 01 00", "02 03 00 01 00", "00 03 00 01 01", "02 03 00 01 00", "00 03 00 01 00",
         "02 03 00 01 00", "00 03 00 01 01", "04 03 00 05 BC C8"});
}

TEST_F(EffectsEndToEnd, VexoDeviceModes) {
    EffectParams modeA = Record(PRODUCT_VEXO_0E51, 1);
    modeA.deviceMode = 1;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_VEXO_MODE_A, &modeA), S_OK);
    EffectParams modeB = Record(PRODUCT_VEXO_0E51, 1);
    modeB.deviceMode = 2;
    ExpectVexoSets(EFFECT_VEXO_MODE_B, modeB, {"00 03 00 0B 01", "01 08 01 02", "01 08 02 02"});
}

TEST_F(EffectsEndToEnd, VexoRefusesThePellOnlyKinds) {
    EffectParams params = Record(PRODUCT_VEXO_0E51, 7);
    params.modeGuid = EFFECT_LED_MODE_0;
    for (const GUID& kind : {EFFECT_LED_COLOR, EFFECT_LED_MODE_0, EFFECT_LED_MODE_1,
                             EFFECT_LED_MODE_2, EFFECT_LED_MODE_4}) {
        EXPECT_EQ(KvSDKSetEffect(kind, &params), E_NOINTERFACE);
    }
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_STATE, &params), S_OK);
    // Nothing was queued; only the release would send anything.
    EXPECT_TRUE(Sets(kVexo).empty());
}

}  // namespace
}  // namespace kvsdk::test
