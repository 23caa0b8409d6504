// Discovery through SetupAPI: fake interfaces written into the registry are listed as present,
// and the finder walks them without the simulated device set.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <vector>

#include "common/Strings.h"
#include "tests/support/TestSupport.h"
#include "tests/windows/WinTestSupport.h"
#include "common/Win32Types.h"
#include "devices/DeviceFinder.h"
#include "platform/Platform.h"

namespace kvsdk {
namespace {

using wintest::CFakeInterface;

// Every path SetupAPI lists for the class, in index order, and the result past the last one.
struct Listing {
    std::vector<std::wstring> paths;
    HRESULT end = kS_OK;
};

Listing ListClass(const GUID& interfaceClass) {
    Listing listing;
    for (uint32_t index = 0; index < 256; ++index) {
        std::wstring path;
        const HRESULT hr = platform::EnumInterfacePath(interfaceClass, index, path);
        if (Failed(hr)) {
            listing.end = hr;
            break;
        }
        listing.paths.push_back(path);
    }
    return listing;
}

// Index of the first listed path that names the device (Wine reports paths in lower case).
int IndexOf(const Listing& listing, const std::wstring& deviceId) {
    for (size_t i = 0; i < listing.paths.size(); ++i) {
        if (ToUpper(listing.paths[i]).find(ToUpper(deviceId)) != std::wstring::npos) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

class SetupApiDiscovery : public ::testing::Test {
  protected:
    // The platform's own interfaces, not the simulated set.
    test::ScopedEnv m_noSim{"KVSDK_SIM", std::nullopt};
};

TEST_F(SetupApiDiscovery, EndOfListAnswersNoMoreItemsAndLeavesThePathAlone) {
    const Listing before = ListClass(kGuidDevinterfaceMouse);
    EXPECT_EQ(before.end, static_cast<HRESULT>(0x80070103u));

    CFakeInterface fake(kGuidDevinterfaceMouse, L"HID", L"VID_7A3E&PID_0E59&MI_00", L"kvsdk0");
    const Listing after = ListClass(kGuidDevinterfaceMouse);
    ASSERT_EQ(after.paths.size(), before.paths.size() + 1);
    const int index = IndexOf(after, L"VID_7A3E&PID_0E59&MI_00#KVSDK0");
    ASSERT_GE(index, 0);
    const std::wstring& reported = after.paths[static_cast<size_t>(index)];
    EXPECT_TRUE(EqualsIgnoreCase(reported, fake.Path()));
    // Paths come back in lower case (so a path with an upper-case "VID_" marker cannot be
    // produced here); the finder's id comparison has to ignore the digits' case.
    EXPECT_NE(reported.find(L"vid_7a3e&pid_0e59"), std::wstring::npos) << ToUtf8(reported);

    std::wstring path = L"unchanged";
    EXPECT_EQ(platform::EnumInterfacePath(kGuidDevinterfaceMouse,
                                          static_cast<uint32_t>(after.paths.size()), path),
              static_cast<HRESULT>(0x80070103u));
    EXPECT_EQ(path, L"unchanged");
}

TEST_F(SetupApiDiscovery, ClassWithoutInterfacesFindsNothing) {
    const Listing usb = ListClass(kGuidDevinterfaceUsbDevice);
    EXPECT_EQ(IndexOf(usb, L"VID_7A3E"), -1);
    std::unique_ptr<CDevice> device;
    EXPECT_EQ(CDeviceFinder(kGuidDevinterfaceUsbDevice).FindDevice(L"7A3E", L"0E5B", device),
              kE_FAIL);
    EXPECT_EQ(device, nullptr);
}

TEST_F(SetupApiDiscovery, FinderWrapsOnlyTheFirstMatchWithItsUpperCasedPath) {
    CFakeInterface other(kGuidDevinterfaceMouse, L"HID", L"VID_7A3E&PID_0E51&MI_00", L"kvsdk1");
    CFakeInterface first(kGuidDevinterfaceMouse, L"HID", L"VID_7A3E&PID_0E59&MI_00", L"kvsdk1");
    CFakeInterface second(kGuidDevinterfaceMouse, L"HID", L"VID_7A3E&PID_0E59&MI_00", L"kvsdk2");
    const Listing listing = ListClass(kGuidDevinterfaceMouse);
    const int a = IndexOf(listing, L"PID_0E59&MI_00#KVSDK1");
    const int b = IndexOf(listing, L"PID_0E59&MI_00#KVSDK2");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    const std::wstring& lower = listing.paths[static_cast<size_t>(std::min(a, b))];

    std::unique_ptr<CDevice> device;
    ASSERT_EQ(CDeviceFinder(kGuidDevinterfaceMouse).FindDevice(L"7A3E", L"0E59", device), kS_OK);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GetPath(), ToUpper(lower));
    EXPECT_TRUE(GuidEqual(device->GetProductGuid(), PRODUCT_PELL));

    // The other product of the same vendor is found by its own search.
    std::unique_ptr<CDevice> vexo;
    ASSERT_EQ(CDeviceFinder(kGuidDevinterfaceMouse).FindDevice(L"7A3E", L"0E51", vexo), kS_OK);
    EXPECT_NE(vexo->GetPath().find(L"PID_0E51"), std::wstring::npos);
}

TEST_F(SetupApiDiscovery, KeyboardIsFoundOnlyOnItsLightingInterface) {
    CFakeInterface mi0(kGuidDevinterfaceKeyboard, L"HID", L"VID_7A3E&PID_0E5A&MI_00", L"kvsdk0");
    CFakeInterface mi1(kGuidDevinterfaceKeyboard, L"HID", L"VID_7A3E&PID_0E5A&MI_01", L"kvsdk0");
    {
        std::unique_ptr<CDevice> none;
        EXPECT_EQ(CDeviceFinder(kGuidDevinterfaceKeyboard).FindDevice(L"7A3E", L"0E5A", none),
                  kE_FAIL);
    }
    CFakeInterface mi2(kGuidDevinterfaceKeyboard, L"HID", L"VID_7A3E&PID_0E5A&MI_02", L"kvsdk0");
    std::unique_ptr<CDevice> device;
    ASSERT_EQ(CDeviceFinder(kGuidDevinterfaceKeyboard).FindDevice(L"7A3E", L"0E5A", device), kS_OK);
    EXPECT_NE(device->GetPath().find(L"PID_0E5A&MI_02"), std::wstring::npos);
    EXPECT_TRUE(GuidEqual(device->GetProductGuid(), PRODUCT_PELL));
}

TEST_F(SetupApiDiscovery, UsbDeviceClassYieldsTheTunnelledPellDevice) {
    CFakeInterface usb(kGuidDevinterfaceUsbDevice, L"USB", L"VID_7A3E&PID_0E5B", L"kvsdk0");
    std::unique_ptr<CDevice> device;
    ASSERT_EQ(CDeviceFinder(kGuidDevinterfaceUsbDevice).FindDevice(L"7A3E", L"0E5B", device),
              kS_OK);
    EXPECT_TRUE(GuidEqual(device->GetProductGuid(), PRODUCT_PELL_USB_0E5B));
    // Another vendor's interfaces, such as Wine's own virtual mouse, are passed over.
    std::unique_ptr<CDevice> none;
    EXPECT_EQ(CDeviceFinder(kGuidDevinterfaceMouse).FindDevice(L"7A3E", L"0E59", none), kE_FAIL);
}

}  // namespace
}  // namespace kvsdk
