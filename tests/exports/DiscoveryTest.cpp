// Discovery and teardown as a host sees them: KvSDKEngInit / KvSDKEngUninit against simulated
// devices, observed through the device trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KvSDKEng.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"

namespace kvsdk::test {
namespace {

class DiscoveryTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(KvSDKEngUninit(), S_OK); }

    static std::string Upper(const std::string& s) { return ToUpper(s); }

    // Paths of the "init" lines of the trace, in order.
    static std::vector<std::string> Opened(const SimEnvironment& sim) {
        std::vector<std::string> paths;
        for (const auto& line : Filter(sim.Trace(), "init")) paths.push_back(line.path);
        return paths;
    }
};

TEST_F(DiscoveryTest, RefusesNullAndUnknownProductsWithoutSearching) {
    SimEnvironment sim("mouse " + MousePath("0e51") + "\n");
    EXPECT_EQ(KvSDKEngInit(GUID{}), E_INVALIDARG);
    EXPECT_EQ(KvSDKEngInit(EFFECT_LED_ON), E_FAIL);
    GUID almost = PRODUCT_VEXO_0E51;
    almost.Data4[7] ^= 1;
    EXPECT_EQ(KvSDKEngInit(almost), E_FAIL);
    EXPECT_TRUE(sim.Trace().empty());
}

TEST_F(DiscoveryTest, FamilyRowsSucceedWithNothingAttachedSingleRowsFail) {
    SimEnvironment sim("# nothing attached\n");
    EXPECT_EQ(KvSDKEngInit(PRODUCT_VEXO), S_OK);
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL), S_OK);
    EXPECT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E52), S_OK);
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), E_FAIL);
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_KEYBOARD_0E5A), E_FAIL);
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_USB_0E5B), E_FAIL);
    EXPECT_TRUE(sim.Trace().empty());
}

TEST_F(DiscoveryTest, FamilySearchesRunInTableOrderAndOpenUpperCasePaths) {
    // Listed in the opposite order to the searches; the 0E52 and 0E59 mice come first.
    SimEnvironment sim("usb " + UsbPath("0e5b") + "\n" +                  //
                       "keyboard " + KeyboardPath("0e5a", "02") + "\n" +  //
                       "mouse " + MousePath("0e59") + "\n" +              //
                       "mouse " + MousePath("0e52") + "\n" +              //
                       "mouse " + MousePath("0e51") + "\n");
    EXPECT_EQ(KvSDKEngInit(PRODUCT_VEXO), S_OK);
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL), S_OK);
    const std::vector<std::string> expected = {
        Upper(MousePath("0e51")), Upper(MousePath("0e52")), Upper(MousePath("0e59")),
        Upper(KeyboardPath("0e5a", "02")), Upper(UsbPath("0e5b"))};
    EXPECT_EQ(Opened(sim), expected);
    // The USB device also connects its tunnel channel.
    const auto connects = Filter(sim.Trace(), "connect");
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0].details, "7A3E 0E5B");
    EXPECT_EQ(connects[0].result, "1");
}

TEST_F(DiscoveryTest, OnlyTheFirstMatchingInterfaceIsWrapped) {
    SimEnvironment sim("mouse " + MousePath("0e51", "first") + "\n" + "mouse " +
                       MousePath("0e51", "second") + "\n");
    EXPECT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    EXPECT_EQ(Opened(sim), std::vector<std::string>{Upper(MousePath("0e51", "first"))});
    // A second call appends the same device again.
    EXPECT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    EXPECT_EQ(Opened(sim).size(), 2u);
}

TEST_F(DiscoveryTest, MarkersAreCaseSensitiveIdsAreNot) {
    SimEnvironment sim(
        // Upper-case markers are passed over.
        "mouse \\\\?\\HID#VID_7A3E&PID_0E59&MI_00#upper#{378de44c-56ef-11d1-bc8c-00a0c91405dd}\n"
        // Another vendor, then ids in lower case after lower-case markers: this one matches.
        "mouse " +
        MousePath("0e59", "vendor").replace(12, 4, "1234") + "\n" +
        "mouse \\\\?\\hid#vid_7A3e&pid_0E59&mi_00#mixed#{378de44c-56ef-11d1-bc8c-00a0c91405dd}\n");
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), S_OK);
    const auto opened = Opened(sim);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].find("#MIXED#"), std::string::npos);
}

TEST_F(DiscoveryTest, ShortIdsAfterTheMarkerDoNotMatch) {
    SimEnvironment sim("mouse \\\\?\\hid#pid_0e59&vid_7a3\n");
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), E_FAIL);
}

TEST_F(DiscoveryTest, KeyboardIsWrappedOnlyOnItsLightingInterface) {
    SimEnvironment sim("keyboard " + KeyboardPath("0e5a", "00") + "\n" + "keyboard " +
                       KeyboardPath("0e5a", "01") + "\n" + "keyboard " +
                       KeyboardPath("0e5a", "02") + "\n");
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_KEYBOARD_0E5A), S_OK);
    EXPECT_EQ(Opened(sim), std::vector<std::string>{Upper(KeyboardPath("0e5a", "02"))});

    sim.Rewrite("keyboard " + KeyboardPath("0e5a", "00") + "\n");
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_KEYBOARD_0E5A), E_FAIL);
}

TEST_F(DiscoveryTest, InterfacesAreSearchedOnlyInTheirOwnClass) {
    SimEnvironment sim("keyboard " + MousePath("0e59") + "\n" + "mouse " + UsbPath("0e5b") + "\n");
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), E_FAIL);
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL_USB_0E5B), E_FAIL);
}

TEST_F(DiscoveryTest, DevicesThatCannotBeOpenedAreReportedAndNotKept) {
    struct Case {
        std::string line;
        GUID product;
        GUID family;
        HRESULT expected;
    };
    const HRESULT notConnected = static_cast<HRESULT>(0x8007048F);
    const HRESULT denied = static_cast<HRESULT>(0x80070005);
    const std::vector<Case> cases = {
        {"mouse " + MousePath("0e51") + " init=80070005", PRODUCT_VEXO_0E51, PRODUCT_VEXO, denied},
        {"mouse " + MousePath("0e52") + " init=80070005", PRODUCT_VEXO_0E52, PRODUCT_VEXO, denied},
        {"mouse " + MousePath("0e59") + " init=80070005", PRODUCT_PELL_MOUSE_0E59, PRODUCT_PELL,
         denied},
        {"keyboard " + KeyboardPath("0e5a", "02") + " init=80070005", PRODUCT_PELL_KEYBOARD_0E5A,
         PRODUCT_PELL, denied},
        {"usb " + UsbPath("0e5b") + " init=80070005 connect=0", PRODUCT_PELL_USB_0E5B,
         PRODUCT_PELL, denied},
        {"usb " + UsbPath("0e5b") + " connect=0", PRODUCT_PELL_USB_0E5B, PRODUCT_PELL,
         notConnected},
    };
    for (const Case& c : cases) {
        SimEnvironment sim(c.line + "\n");
        EXPECT_EQ(KvSDKEngInit(c.product), c.expected) << c.line;
        EXPECT_EQ(KvSDKEngInit(c.family), S_OK) << c.line;
        // Nothing was kept: an effect for the product reaches no device and says so.
        EffectParams params{};
        params.size = sizeof(params);
        params.productGuid = c.product;
        params.lightSelector = 1;
        EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &params), E_FAIL) << c.line;
        params.productGuid = c.family;
        EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &params), E_FAIL) << c.line;
        EXPECT_TRUE(Filter(sim.Trace(), "set").empty()) << c.line;
        EXPECT_EQ(KvSDKEngUninit(), S_OK);
    }
}

TEST_F(DiscoveryTest, UninitClosesEveryDeviceOnceAndCanRunTwice) {
    SimEnvironment sim("mouse " + MousePath("0e59") + "\n" + "usb " + UsbPath("0e5b") + "\n");
    EXPECT_EQ(KvSDKEngInit(PRODUCT_PELL), S_OK);
    EXPECT_TRUE(Filter(sim.Trace(), "close").empty());
    EXPECT_EQ(KvSDKEngUninit(), S_OK);
    const auto closes = Filter(sim.Trace(), "close");
    // The device object of each interface, and the USB device's tunnel channel.
    ASSERT_EQ(closes.size(), 3u);
    EXPECT_EQ(Filter(sim.Trace(), "close", MousePath("0e59")).size(), 1u);
    EXPECT_EQ(Filter(sim.Trace(), "close", UsbPath("0e5b")).size(), 2u);
    EXPECT_EQ(KvSDKEngUninit(), S_OK);
    EXPECT_EQ(Filter(sim.Trace(), "close").size(), 3u);
}

TEST_F(DiscoveryTest, DevicesReachTheEngineInReverseOrder) {
    // Two different 0E51 mice, found by two calls: A first, then B.
    const std::string a = MousePath("0e51", "a");
    const std::string b = MousePath("0e51", "b");
    SimEnvironment sim("mouse " + a + "\n");
    ASSERT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    sim.Rewrite("mouse " + b + "\n");
    ASSERT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    // A can no longer be read; B can.
    sim.Rewrite("mouse " + a + " get=80070032\n" + "mouse " + b + "\n");

    EffectParams params{};
    params.size = sizeof(params);
    params.productGuid = PRODUCT_VEXO_0E51;
    params.lightSelector = 1;
    const size_t before = Filter(sim.Trace(), "get").size();
    // The engine walks B, then A: the result is A's, the last device's.
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &params), static_cast<HRESULT>(0x80070032));
    const auto gets = Filter(sim.Trace(), "get");
    ASSERT_EQ(gets.size(), before + 2);
    EXPECT_EQ(gets[before].path, Upper(b));
    EXPECT_EQ(gets[before + 1].path, Upper(a));
}

TEST_F(DiscoveryTest, DevicesFoundWhileAnEngineRunsWaitForTheNextCycle) {
    SimEnvironment sim("mouse " + MousePath("0e51") + "\n");
    EffectParams params{};
    params.size = sizeof(params);
    params.productGuid = PRODUCT_VEXO_0E51;
    params.lightSelector = 1;
    // The first effect call creates an engine with no devices.
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &params), E_FAIL);
    EXPECT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &params), E_FAIL);
    EXPECT_EQ(KvSDKEngUninit(), S_OK);
    EXPECT_EQ(Filter(sim.Trace(), "close").size(), 1u);
    // A new cycle sees the device.
    EXPECT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &params), S_OK);
}

}  // namespace
}  // namespace kvsdk::test
