// The Pell device object: product GUIDs, forwarding, and the USB device's tunnel writes.
#include <gtest/gtest.h>

#include <cstring>

#include "KvSDKEng.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"
#include "common/Win32Types.h"
#include "catalogue/Products.h"
#include "devices/DevicePell.h"
#include "devices/DeviceVEXO.h"

namespace kvsdk::test {
namespace {

TEST(DevicePellTest, ProductGuidsAndUpperCasePath) {
    SimEnvironment sim("mouse " + MousePath("0e59") + "\n" + "mouse " + MousePath("0e51") + "\n");
    CDevicePell pell(FromUtf8(MousePath("0e59")).c_str());
    EXPECT_TRUE(GuidEqual(pell.GetProductGuid(), PRODUCT_PELL));
    EXPECT_EQ(ToUtf8(pell.GetPath()), ToUpper(MousePath("0e59")));
    ASSERT_NE(pell.GetProduct(), nullptr);  // the catalogue row of the path, resolved once
    EXPECT_EQ(std::string(pell.GetProduct()->id.Text()), "0E59");
    EXPECT_FALSE(pell.HasChannel());
    CDeviceVEXO vexo(FromUtf8(MousePath("0e51")).c_str());
    EXPECT_TRUE(GuidEqual(vexo.GetProductGuid(), kGuidNull));
}

TEST(DevicePellTest, MouseForwardsEveryBufferToTheLibrary) {
    SimEnvironment sim("mouse " + MousePath("0e59") + "\n");
    CDevicePell pell(FromUtf8(MousePath("0e59")).c_str());
    const uint8_t command[] = {0x00, 0x03, 0x00, 0x01, 0x01};
    EXPECT_EQ(pell.Set(command, sizeof(command)), S_OK);
    const auto sets = Filter(sim.Trace(), "set");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].details, "00 03 00 01 01");
    EXPECT_TRUE(Filter(sim.Trace(), "tunnel").empty());
}

TEST(DevicePellTest, UsbDeviceWritesThreeBytesThroughTheTunnel) {
    const std::string usb = UsbPath("0e5b");
    SimEnvironment sim("usb " + usb + "\n");
    CDevicePell pell(FromUtf8(usb).c_str(), PRODUCT_PELL_USB_0E5B);
    ASSERT_TRUE(pell.HasChannel());

    uint8_t block[40] = {};
    block[20] = 0x60;
    block[24] = 0xAA;
    block[25] = 0xBB;
    block[26] = 0xCC;
    block[27] = 0xDD;  // never sent
    // The length is not what decides: a longer buffer sends the same three bytes.
    EXPECT_EQ(pell.Set(block, sizeof(block)), S_OK);
    block[20] = 0x63;  // unknown code: command 0, no data
    EXPECT_EQ(pell.Set(block, 28), S_OK);
    const auto tunnels = Filter(sim.Trace(), "tunnel");
    ASSERT_EQ(tunnels.size(), 2u);
    EXPECT_EQ(tunnels[0].details, "0 0 60 00 02 AABBCC 3");
    EXPECT_EQ(tunnels[1].details, "0 0 00 00 00 000000 3");
    EXPECT_TRUE(Filter(sim.Trace(), "set").empty());

    // A buffer shorter than a block is refused without being read past its end.
    EXPECT_EQ(pell.Set(block, 5), E_INVALIDARG);
    EXPECT_EQ(pell.Set(nullptr, 28), E_POINTER);
    EXPECT_EQ(Filter(sim.Trace(), "tunnel").size(), 2u);
}

TEST(DevicePellTest, TunnelFailuresAndMissingChannel) {
    const std::string usb = UsbPath("0e5b");
    SimEnvironment sim("usb " + usb + " tunnel=5\n");
    uint8_t block[28] = {};
    block[20] = 0x62;
    {
        CDevicePell pell(FromUtf8(usb).c_str(), PRODUCT_PELL_USB_0E5B);
        EXPECT_EQ(pell.Set(block, 28), E_FAIL);
    }
    sim.Rewrite("usb " + usb + " connect=0\n");
    {
        CDevicePell pell(FromUtf8(usb).c_str(), PRODUCT_PELL_USB_0E5B);
        EXPECT_FALSE(pell.HasChannel());
        EXPECT_LT(pell.Set(block, 28), 0);
    }
    // Its commands all go through the channel: a device-I/O object that did not open is no loss.
    sim.Rewrite("usb " + usb + " init=80070005\n");
    EXPECT_EQ(CDevicePell(FromUtf8(usb).c_str(), PRODUCT_PELL_USB_0E5B).GetOpenResult(), S_OK);
    // The USB product GUID on a path of another product: no channel is ever called.
    sim.Rewrite("mouse " + MousePath("0e59") + "\n");
    CDevicePell odd(FromUtf8(MousePath("0e59")).c_str(), PRODUCT_PELL_USB_0E5B);
    EXPECT_LT(odd.Set(block, 28), 0);
    EXPECT_EQ(Filter(sim.Trace(), "tunnel").size(), 1u);
}

}  // namespace
}  // namespace kvsdk::test
