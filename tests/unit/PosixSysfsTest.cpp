// Interface enumeration over a fake sysfs tree laid out like the kernel's: class/hidraw entries
// and bus/usb/devices entries are symbolic links into devices/, a HID device sits in its USB
// interface's folder, which sits in its USB device's folder.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/Strings.h"
#include "tests/support/TestSupport.h"
#include "common/Win32Types.h"
#include "platform/Platform.h"
#include "platform/posix/SysfsEnumeration.h"

namespace {

namespace fs = std::filesystem;
using kvsdk::test::ScopedEnv;
using kvsdk::test::TempDir;
using kvsdk::test::WriteTextFile;

constexpr const char* kMouseGuid = "{378de44c-56ef-11d1-bc8c-00a0c91405dd}";
constexpr const char* kKeyboardGuid = "{884b96c3-56ef-11d1-bc8c-00a0c91405dd}";
constexpr const char* kUsbGuid = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// Event-type masks of input devices (capabilities/ev).
constexpr const char* kEvMouse = "17";         // SYN KEY REL MSC
constexpr const char* kEvKeyboard = "120013";  // SYN KEY MSC LED REP
constexpr const char* kEvConsumer = "13";      // SYN KEY MSC: media keys, no auto-repeat

std::string Hex(unsigned value, int digits, bool upper) {
    char text[16];
    std::snprintf(text, sizeof text, upper ? "%0*X" : "%0*x", digits, value);
    return text;
}

class FakeSysfs {
  public:
    const fs::path& Root() const { return m_dir.Path(); }

    // A USB device "busName" (such as "1-2") with its ids.
    void AddUsbDevice(const std::string& busName, unsigned vid, unsigned pid) {
        const fs::path device = UsbDeviceDir(busName);
        fs::create_directories(device);
        WriteTextFile(device / "idVendor", Hex(vid, 4, false) + "\n");
        WriteTextFile(device / "idProduct", Hex(pid, 4, false) + "\n");
        Link(Root() / "bus" / "usb" / "devices" / busName, device);
    }

    struct Hid {
        unsigned interfaceNumber = 0;
        unsigned protocol = 0;         // bInterfaceProtocol: 1 keyboard, 2 mouse, 0 none
        int hidraw = 0;                // hidrawN
        const char* evMask = nullptr;  // capabilities/ev of its input device, if any
        bool mouseHandler = false;     // the input device has a mouseN handler
    };

    // A HID interface of the USB device "busName" with ids vid:pid.
    void AddUsbHid(const std::string& busName, unsigned vid, unsigned pid, const Hid& hid) {
        const std::string ifName = busName + ":1." + std::to_string(hid.interfaceNumber);
        const fs::path usbInterface = UsbDeviceDir(busName) / ifName;
        fs::create_directories(usbInterface);
        WriteTextFile(usbInterface / "bInterfaceNumber", Hex(hid.interfaceNumber, 2, false) + "\n");
        WriteTextFile(usbInterface / "bInterfaceClass", "03\n");
        WriteTextFile(usbInterface / "bInterfaceSubClass", hid.protocol != 0 ? "01\n" : "00\n");
        WriteTextFile(usbInterface / "bInterfaceProtocol", Hex(hid.protocol, 2, false) + "\n");
        Link(Root() / "bus" / "usb" / "devices" / ifName, usbInterface);
        AddHidDevice(usbInterface, 0x0003, vid, pid, hid);
    }

    // A HID device on no USB interface (Bluetooth through uhid).
    void AddBluetoothHid(unsigned vid, unsigned pid, const Hid& hid) {
        AddHidDevice(Root() / "devices" / "virtual" / "misc" / "uhid", 0x0005, vid, pid, hid);
    }

  private:
    fs::path UsbDeviceDir(const std::string& busName) const {
        return Root() / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1" / busName;
    }

    static void Link(const fs::path& link, const fs::path& target) {
        fs::create_directories(link.parent_path());
        fs::create_directory_symlink(fs::relative(target, link.parent_path()), link);
    }

    void AddHidDevice(const fs::path& parent, unsigned bus, unsigned vid, unsigned pid,
                      const Hid& hid) {
        const fs::path device = parent / (Hex(bus, 4, true) + ":" + Hex(vid, 4, true) + ":" +
                                          Hex(pid, 4, true) + "." + Hex(++m_hidCount, 4, true));
        fs::create_directories(device);
        WriteTextFile(device / "uevent", "DRIVER=hid-generic\nHID_ID=" + Hex(bus, 4, true) + ":" +
                                             Hex(vid, 8, true) + ":" + Hex(pid, 8, true) +
                                             "\nHID_NAME=Test device\n");
        if (hid.evMask != nullptr) {
            const fs::path input = device / "input" / ("input" + std::to_string(m_hidCount));
            fs::create_directories(input / "capabilities");
            WriteTextFile(input / "capabilities" / "ev", std::string(hid.evMask) + "\n");
            fs::create_directories(input / ("event" + std::to_string(m_hidCount)));
            if (hid.mouseHandler) {
                fs::create_directories(input / ("mouse" + std::to_string(m_hidCount)));
            }
        }
        const std::string node = "hidraw" + std::to_string(hid.hidraw);
        const fs::path hidraw = device / "hidraw" / node;
        fs::create_directories(hidraw);
        fs::create_directory_symlink("../..", hidraw / "device");
        WriteTextFile(hidraw / "dev", "241:" + std::to_string(hid.hidraw) + "\n");
        Link(Root() / "class" / "hidraw" / node, hidraw);
    }

    TempDir m_dir;
    unsigned m_hidCount = 0;
};

std::string HidPath(const std::string& ids, int hidraw, const char* guid) {
    return "\\\\?\\hid#" + ids + "#hidraw" + std::to_string(hidraw) + "#" + guid;
}

std::vector<std::string> List(const FakeSysfs& sysfs, const GUID& guid) {
    std::vector<std::string> paths;
    for (const auto& path : kvsdk::platform::posix::ListInterfacePaths(sysfs.Root(), guid)) {
        paths.push_back(kvsdk::ToUtf8(path));
    }
    return paths;
}

// A VEXO mouse (0E51: mouse interface and a vendor interface), the 0E5A keyboard (keyboard,
// media keys and its lighting interface MI_02), the 0E5B USB device (vendor interface only),
// another maker's mouse and a vendor-only device of yet another maker.
class SysfsEnumerationTest : public testing::Test {
  protected:
    void SetUp() override {
        m_sysfs.AddUsbDevice("usb1", 0x1D6B, 0x0002);
        m_sysfs.AddUsbDevice("1-2", 0x7A3E, 0x0E51);
        m_sysfs.AddUsbHid("1-2", 0x7A3E, 0x0E51, {0, 2, 3, kEvMouse, true});
        m_sysfs.AddUsbHid("1-2", 0x7A3E, 0x0E51, {1, 0, 4, nullptr, false});
        m_sysfs.AddUsbDevice("1-3", 0x7A3E, 0x0E5A);
        m_sysfs.AddUsbHid("1-3", 0x7A3E, 0x0E5A, {0, 1, 5, kEvKeyboard, false});
        m_sysfs.AddUsbHid("1-3", 0x7A3E, 0x0E5A, {1, 0, 6, kEvConsumer, false});
        m_sysfs.AddUsbHid("1-3", 0x7A3E, 0x0E5A, {2, 0, 7, nullptr, false});
        m_sysfs.AddUsbDevice("1-4", 0x7A3E, 0x0E5B);
        m_sysfs.AddUsbHid("1-4", 0x7A3E, 0x0E5B, {0, 0, 8, nullptr, false});
        m_sysfs.AddUsbDevice("3-1.4", 0x046D, 0xC077);
        m_sysfs.AddUsbHid("3-1.4", 0x046D, 0xC077, {0, 2, 10, kEvMouse, true});
        m_sysfs.AddUsbDevice("1-5", 0x1234, 0x5678);
        m_sysfs.AddUsbHid("1-5", 0x1234, 0x5678, {0, 0, 9, nullptr, false});
    }

    FakeSysfs m_sysfs;
};

TEST_F(SysfsEnumerationTest, MouseClassListsMiceFirstThenTheirOtherInterfaces) {
    const std::vector<std::string> expected = {
        HidPath("vid_046d&pid_c077&mi_00", 10, kMouseGuid),
        HidPath("vid_7a3e&pid_0e51&mi_00", 3, kMouseGuid),
        HidPath("vid_7a3e&pid_0e51&mi_01", 4, kMouseGuid),
    };
    EXPECT_EQ(List(m_sysfs, kvsdk::kGuidDevinterfaceMouse), expected);
}

TEST_F(SysfsEnumerationTest, KeyboardClassIncludesTheKeyboardsLightingInterface) {
    const std::vector<std::string> expected = {
        HidPath("vid_7a3e&pid_0e5a&mi_00", 5, kKeyboardGuid),
        HidPath("vid_7a3e&pid_0e5a&mi_01", 6, kKeyboardGuid),
        HidPath("vid_7a3e&pid_0e5a&mi_02", 7, kKeyboardGuid),
    };
    EXPECT_EQ(List(m_sysfs, kvsdk::kGuidDevinterfaceKeyboard), expected);
}

TEST_F(SysfsEnumerationTest, UsbDeviceClassListsDevicesNotInterfaces) {
    const std::vector<std::string> expected = {
        std::string("\\\\?\\usb#vid_046d&pid_c077#3-1.4#") + kUsbGuid,
        std::string("\\\\?\\usb#vid_1234&pid_5678#1-5#") + kUsbGuid,
        std::string("\\\\?\\usb#vid_1d6b&pid_0002#usb1#") + kUsbGuid,
        std::string("\\\\?\\usb#vid_7a3e&pid_0e51#1-2#") + kUsbGuid,
        std::string("\\\\?\\usb#vid_7a3e&pid_0e5a#1-3#") + kUsbGuid,
        std::string("\\\\?\\usb#vid_7a3e&pid_0e5b#1-4#") + kUsbGuid,
    };
    EXPECT_EQ(List(m_sysfs, kvsdk::kGuidDevinterfaceUsbDevice), expected);
}

TEST_F(SysfsEnumerationTest, EnumInterfacePathReadsTheRootFromTheEnvironment) {
    ScopedEnv root("KVSDK_SYSFS_ROOT", kvsdk::test::NativePath(m_sysfs.Root()));
    std::wstring path;
    ASSERT_EQ(kvsdk::platform::EnumInterfacePath(kvsdk::kGuidDevinterfaceKeyboard, 2, path),
              kvsdk::kS_OK);
    EXPECT_EQ(kvsdk::ToUtf8(path), HidPath("vid_7a3e&pid_0e5a&mi_02", 7, kKeyboardGuid));

    // Past the last one: ERROR_NO_MORE_ITEMS, and the path is left as it was.
    EXPECT_EQ(kvsdk::platform::EnumInterfacePath(kvsdk::kGuidDevinterfaceKeyboard, 3, path),
              static_cast<HRESULT>(0x80070103u));
    EXPECT_EQ(kvsdk::ToUtf8(path), HidPath("vid_7a3e&pid_0e5a&mi_02", 7, kKeyboardGuid));

    // Every call takes a fresh snapshot: a device plugged in now is seen by the next call.
    m_sysfs.AddUsbDevice("2-1", 0x7A3E, 0x0E52);
    m_sysfs.AddUsbHid("2-1", 0x7A3E, 0x0E52, {0, 2, 11, kEvMouse, true});
    ASSERT_EQ(kvsdk::platform::EnumInterfacePath(kvsdk::kGuidDevinterfaceMouse, 2, path),
              kvsdk::kS_OK);
    EXPECT_EQ(kvsdk::ToUtf8(path), HidPath("vid_7a3e&pid_0e52&mi_00", 11, kMouseGuid));
}

TEST(SysfsEnumeration, ClassifiesByInputDevicesWhenTheProtocolSaysNothing) {
    FakeSysfs sysfs;
    // A mouse known only by its input handler, a keyboard only by its auto-repeat, and a
    // Bluetooth mouse that has no USB interface and so no interface number.
    sysfs.AddUsbDevice("1-7", 0x7A3E, 0x0E59);
    sysfs.AddUsbHid("1-7", 0x7A3E, 0x0E59, {1, 0, 2, kEvMouse, true});
    sysfs.AddUsbDevice("1-8", 0x7A3E, 0x0E5A);
    sysfs.AddUsbHid("1-8", 0x7A3E, 0x0E5A, {0, 0, 1, kEvKeyboard, false});
    sysfs.AddBluetoothHid(0x046D, 0xB01A, {0, 0, 0, kEvMouse, true});

    EXPECT_EQ(List(sysfs, kvsdk::kGuidDevinterfaceMouse),
              (std::vector<std::string>{HidPath("vid_046d&pid_b01a", 0, kMouseGuid),
                                        HidPath("vid_7a3e&pid_0e59&mi_01", 2, kMouseGuid)}));
    EXPECT_EQ(List(sysfs, kvsdk::kGuidDevinterfaceKeyboard),
              (std::vector<std::string>{HidPath("vid_7a3e&pid_0e5a&mi_00", 1, kKeyboardGuid)}));
}

TEST(SysfsEnumeration, MissingTreeOrOtherClassListsNothing) {
    TempDir empty;
    const fs::path missing = empty.Path() / "no-such-root";
    EXPECT_TRUE(
        kvsdk::platform::posix::ListInterfacePaths(missing, kvsdk::kGuidDevinterfaceMouse).empty());
    EXPECT_TRUE(
        kvsdk::platform::posix::ListInterfacePaths(missing, kvsdk::kGuidDevinterfaceUsbDevice)
            .empty());

    FakeSysfs sysfs;
    sysfs.AddUsbDevice("1-2", 0x7A3E, 0x0E51);
    sysfs.AddUsbHid("1-2", 0x7A3E, 0x0E51, {0, 2, 3, kEvMouse, true});
    EXPECT_TRUE(List(sysfs, kvsdk::kGuidNull).empty());

    ScopedEnv root("KVSDK_SYSFS_ROOT", kvsdk::test::NativePath(missing));
    std::wstring path = L"unchanged";
    EXPECT_EQ(kvsdk::platform::EnumInterfacePath(kvsdk::kGuidDevinterfaceMouse, 0, path),
              static_cast<HRESULT>(0x80070103u));
    EXPECT_EQ(path, L"unchanged");
}

}  // namespace

#endif  // _WIN32
