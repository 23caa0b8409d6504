// Every effect kind of both families as a host drives it: KvSDKSetEffect / KvSDKGetEffect on
// simulated devices, checked in the device trace (bytes and order; pauses only as gaps).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "KvSDKEng.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"

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

    // Waits for the commands of one request to reach 'path', releases everything, and answers
    // what the device was sent. A VEXO device's release sends its settings-restore exchanges
    // afterwards; those are cut off at 'count'.
    std::vector<std::string> SentAfterUninit(const std::string& path, size_t count) {
        WaitForSets(path, count);
        Uninit();
        auto sent = Sets(path);
        if (path == kVexo && sent.size() > count) sent.resize(count);
        return sent;
    }

    TempDir m_dir;
    ScopedEnv m_registry;
    SimEnvironment m_sim;
    bool m_uninitDone = false;
};

// ---- one request, one device: every kind that sends plain light commands ----

struct Request {
    const char* name;
    const GUID* kind;
    const GUID* product;
    uint32_t selector;
    uint32_t at24, at28, at32, at36;  // level/count/param1/colour/deviceMode, duration/percent,
                                      // offTime/param2, onTime/param3
    const std::string* path;
    std::vector<std::string> sets;
};

class EffectsEndToEndRequests : public EffectsEndToEnd,
                                public testing::WithParamInterface<Request> {};

TEST_P(EffectsEndToEndRequests, DeviceReceivesExactlyTheseCommands) {
    const Request& r = GetParam();
    EffectParams params = Record(*r.product, r.selector);
    params.level = r.at24;
    params.duration = r.at28;
    params.offTime = r.at32;
    params.onTime = r.at36;
    ASSERT_EQ(KvSDKSetEffect(*r.kind, &params), S_OK);
    EXPECT_EQ(SentAfterUninit(*r.path, r.sets.size()), r.sets);
}

const Request kRequests[] = {
    {"PellOn",
     &EFFECT_LED_ON,
     &PRODUCT_PELL_MOUSE_0E59,
     6,
     0,
     0,
     0,
     0,
     &kMouse,
     {"00 03 00 06 01"}},
    {"PellOff",
     &EFFECT_LED_OFF,
     &PRODUCT_PELL_KEYBOARD_0E5A,
     1,
     0,
     0,
     0,
     0,
     &kKeyboard,
     {"00 03 00 01 00"}},
    {"PellModeTwoParams",
     &EFFECT_LED_MODE_2_PARAMS,
     &PRODUCT_PELL_MOUSE_0E59,
     6,
     0x0102,
     50,
     300,
     500,
     &kMouse,
     {"02 03 00 05 02", "05 03 00 05 01 02 7F FF 01 2C 01 F4"}},
    {"PellFlashWithoutLight",
     &EFFECT_LED_FLASH_1,
     &PRODUCT_PELL,
     2,
     0,
     0,
     0,
     0,
     &kMouse,
     {"00 03 00 00 00", "00 03 00 00 01"}},
    {"PellCountedBlink",
     &EFFECT_LED_BLINK,
     &PRODUCT_PELL_MOUSE_0E59,
     4,
     2,
     0,
     20,
     20,
     &kMouse,
     {"02 03 00 04 00", "00 03 00 04 00", "02 03 00 04 00", "00 03 00 04 01", "02 03 00 04 00",
      "00 03 00 04 00", "02 03 00 04 00", "00 03 00 04 01"}},
    {"PellDeviceBlink",
     &EFFECT_LED_BLINK,
     &PRODUCT_PELL_MOUSE_0E59,
     3,
     0,
     0,
     500,
     356,
     &kMouse,
     {"04 03 00 0B F4 64"}},
    {"PellColour",
     &EFFECT_LED_COLOR,
     &PRODUCT_PELL_MOUSE_0E59,
     1,
     0x302010,
     0,
     0,
     0,
     &kMouse,
     {"01 03 00 01 10 20 30"}},
    {"VexoOnWithPause",
     &EFFECT_LED_ON,
     &PRODUCT_VEXO_0E51,
     6,
     0,
     50,
     0,
     0,
     &kVexo,
     {"02 03 00 05 00", "00 03 00 05 01"}},
    {"VexoOffWithoutLight",
     &EFFECT_LED_OFF,
     &PRODUCT_VEXO,
     2,
     0,
     0,
     0,
     0,
     &kVexo,
     {"00 03 00 00 00"}},
    {"VexoBrightness",
     &EFFECT_LED_BRIGHTNESS,
     &PRODUCT_VEXO_0E51,
     1,
     50,
     0,
     0,
     0,
     &kVexo,
     {"02 03 00 01 00", "03 03 00 01 7F"}},
    {"VexoModeTwoParams",
     &EFFECT_LED_MODE_2_PARAMS,
     &PRODUCT_VEXO_0E51,
     3,
     0x0102,
     100,
     300,
     500,
     &kVexo,
     {"02 03 00 0B 02", "05 03 00 0B 01 02 FF FF 01 2C 01 F4"}},
    {"VexoFlash",
     &EFFECT_LED_FLASH_1,
     &PRODUCT_VEXO_0E51,
     4,
     0,
     0,
     0,
     0,
     &kVexo,
     {"02 03 00 0A 00", "00 03 00 0A 00", "02 03 00 0A 00", "00 03 00 0A 01"}},
    {"VexoCountedBlink",
     &EFFECT_LED_BLINK,
     &PRODUCT_VEXO_0E51,
     1,
     2,
     0,
     100,
     0,
     &kVexo,
     {"02 03 00 01 00", "00 03 00 01 00", "02 03 00 01 00", "00 03 00 01 01", "02 03 00 01 00",
      "00 03 00 01 00", "02 03 00 01 00", "00 03 00 01 01"}},
    {"VexoDeviceBlink",
     &EFFECT_LED_BLINK,
     &PRODUCT_VEXO_0E51,
     6,
     0,
     0,
     0x2BC,
     0xC8,
     &kVexo,
     {"04 03 00 05 BC C8"}},
    {"VexoModeA",
     &EFFECT_VEXO_MODE_A,
     &PRODUCT_VEXO_0E51,
     1,
     0x7701,
     0,
     0,
     0,
     &kVexo,
     {"00 03 00 0B 01", "01 08 01 02"}},
    {"VexoModeB", &EFFECT_VEXO_MODE_B, &PRODUCT_VEXO_0E51, 1, 2, 0, 0, 0, &kVexo, {"01 08 02 02"}},
};

INSTANTIATE_TEST_SUITE_P(Kinds, EffectsEndToEndRequests, testing::ValuesIn(kRequests),
                         [](const testing::TestParamInfo<Request>& request) {
                             return std::string(request.param.name);
                         });

// ---- what only the whole road shows ----

TEST_F(EffectsEndToEnd, BrightnessReachesEveryPellDeviceButTheUsbOne) {
    EffectParams params = Record(PRODUCT_PELL, 1);
    params.level = 50;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BRIGHTNESS, &params), S_OK);
    // Every device scales the level the host asked for; the record holds the scaled value.
    EXPECT_EQ(params.level, 127u);
    WaitForSets(kKeyboard, 2);
    EXPECT_EQ(SentAfterUninit(kMouse, 2),
              (std::vector<std::string>{"02 03 00 01 00", "03 03 00 01 7F"}));
    EXPECT_EQ(Sets(kKeyboard), (std::vector<std::string>{"02 03 00 01 00", "03 03 00 01 7F"}));
    // Light commands are not the USB device's form: nothing reaches it.
    EXPECT_TRUE(Lines("tunnel", kUsb).empty());
    EXPECT_TRUE(Sets(kUsb).empty());
}

TEST_F(EffectsEndToEnd, FlashesRunInOrderWithPausesBetweenSteps) {
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
        // The 300 ms pause after "off" shows as a gap (a lower bound only: less at most the
        // millisecond a pause gives back).
        EXPECT_GE(lines[i + 2].ms - lines[i + 1].ms, 299u);
    }
}

TEST_F(EffectsEndToEnd, UsbDeviceTakesTheColourRecordBlock) {
    // The block carries the code at offset 20 (the selector's place) and data from offset 24.
    EffectParams usb = Record(PRODUCT_PELL_USB_0E5B, 0x61);
    usb.red = 0x0A;
    usb.green = 0x0B;
    usb.blue = 0x0C;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_COLOR, &usb), S_OK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Lines("tunnel", kUsb).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Uninit();
    const auto tunnel = Lines("tunnel", kUsb);
    ASSERT_EQ(tunnel.size(), 1u);
    EXPECT_EQ(tunnel[0].details, "0 0 61 00 02 0A0B0C 3");
    EXPECT_TRUE(Sets(kMouse).empty());
}

TEST_F(EffectsEndToEnd, LightingModeReachesOnlyTheKeyboard) {
    EffectParams params = Record(PRODUCT_PELL, 7);
    params.modeGuid = EFFECT_LED_MODE_2;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_MODE_1, &params), S_OK);
    params.productGuid = PRODUCT_PELL_KEYBOARD_0E5A;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_MODE_1, &params), S_OK);
    EXPECT_EQ(SentAfterUninit(kKeyboard, 1), std::vector<std::string>{"02 03 00 0B 02"});
    EXPECT_TRUE(Sets(kMouse).empty());
}

TEST_F(EffectsEndToEnd, RefusedRequestsSendNothing) {
    EffectParams pell = Record(PRODUCT_PELL_MOUSE_0E59, 7);
    pell.deviceMode = 1;
    EXPECT_EQ(KvSDKSetEffect(EFFECT_VEXO_MODE_A, &pell), E_NOINTERFACE);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_VEXO_MODE_B, &pell), E_NOINTERFACE);
    pell.count = 0xFFFFFFFF;
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &pell), E_INVALIDARG);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_STATE, &pell), S_OK);

    EffectParams vexo = Record(PRODUCT_VEXO_0E51, 7);
    vexo.modeGuid = EFFECT_LED_MODE_0;
    for (const GUID& kind : {EFFECT_LED_COLOR, EFFECT_LED_MODE_0, EFFECT_LED_MODE_1,
                             EFFECT_LED_MODE_2, EFFECT_LED_MODE_4}) {
        EXPECT_EQ(KvSDKSetEffect(kind, &vexo), E_NOINTERFACE);
    }
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_STATE, &vexo), S_OK);
    EXPECT_TRUE(Sets(kVexo).empty());
    Uninit();
    EXPECT_TRUE(Sets(kMouse).empty());
}

TEST_F(EffectsEndToEnd, VexoStateAndBrightnessReadBackWhatWasSet) {
    EffectParams on = Record(PRODUCT_VEXO_0E51, 4);
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &on), S_OK);
    EffectParams bright = Record(PRODUCT_VEXO_0E51, 4);
    bright.level = 50;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BRIGHTNESS, &bright), S_OK);
    WaitForSets(kVexo, 4);

    EffectParams query = Record(PRODUCT_VEXO_0E51, 4);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &query), S_OK);
    EXPECT_EQ(query.level, 100u);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_BRIGHTNESS, &query), S_OK);
    EXPECT_EQ(query.level, 49u);  // 0x7F * 100 / 255
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_ON, &query), static_cast<HRESULT>(0x80070032));
}

// ---- pauses and stops as the device sees them ----

TEST_F(EffectsEndToEnd, OnDurationHoldsBackTheNextEffect) {
    EffectParams on = Record(PRODUCT_VEXO_0E51, 1);
    on.duration = 400;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &on), S_OK);
    EffectParams off = Record(PRODUCT_VEXO_0E51, 1);
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_OFF, &off), S_OK);
    const auto lines = WaitForSets(kVexo, 4);  // mode 0, on, (pause), mode 0, off
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].details, "00 03 00 01 01");
    EXPECT_EQ(lines[3].details, "00 03 00 01 00");
    // A lower bound only: the pause can stretch, never shrink.
    EXPECT_GE(lines[2].ms - lines[1].ms, 399u);
}

// A blink of 10000 cycles without pauses: 40000 commands back to back.
EffectParams EndlessBlink(const GUID& product) {
    EffectParams blink = Record(product, 1);
    blink.count = 10000;
    return blink;
}
constexpr size_t kEndlessBlinkCommands = 40000;

TEST_F(EffectsEndToEnd, UninitStopsAWorkerBetweenTwoCommands) {
    EffectParams blink = EndlessBlink(PRODUCT_PELL_MOUSE_0E59);
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &blink), S_OK);
    ASSERT_GE(WaitForSets(kMouse, 1).size(), 1u);
    Uninit();
    EXPECT_LT(Sets(kMouse).size(), kEndlessBlinkCommands);
}

TEST_F(EffectsEndToEnd, VexoRestoreStartsOnlyAfterItsWorkerStopped) {
    EffectParams blink = EndlessBlink(PRODUCT_VEXO_0E51);
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &blink), S_OK);
    ASSERT_GE(WaitForSets(kVexo, 1).size(), 1u);
    Uninit();
    // The restore reads the stored settings first; from then on only its own write-backs of
    // stored values (storage byte 01) may reach the device.
    bool restoring = false;
    size_t effectCommandsDuringRestore = 0;
    for (const auto& line : m_sim.Trace()) {
        if (!EqualsIgnoreCase(line.path, kVexo)) continue;
        if (line.op == "get") restoring = true;
        if (restoring && line.op == "set" && line.details.substr(6, 2) != "01") {
            ++effectCommandsDuringRestore;
        }
    }
    EXPECT_TRUE(restoring);
    EXPECT_EQ(effectCommandsDuringRestore, 0u);
}

TEST_F(EffectsEndToEnd, AFullQueueTakesNothingMoreAndTheCallSaysSo) {
    // Blinks of the largest count held back by minute-long pauses: 60000 buffers each.
    EffectParams blink = Record(PRODUCT_PELL_MOUSE_0E59, 1);
    blink.count = 10000;
    blink.offTime = 60000;
    blink.onTime = 60000;
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &blink), S_OK);
    ASSERT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &blink), S_OK);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &blink), KVSDK_E_QUEUE_FULL);
    // Addressed together with the keyboard: the keyboard takes it, the call still reports the
    // mouse.
    blink.productGuid = PRODUCT_PELL;
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_BLINK, &blink), KVSDK_E_QUEUE_FULL);
    EXPECT_EQ(WaitForSets(kKeyboard, 2).size(), 2u);  // mode 0, off; then the pause
}

}  // namespace
}  // namespace kvsdk::test
