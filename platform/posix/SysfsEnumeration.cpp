#include "platform/posix/SysfsEnumeration.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>

#include "common/posix/Sysfs.h"
#include "common/Strings.h"

namespace kvsdk::platform::posix {

namespace fs = std::filesystem;
using kvsdk::posix::ListDirectory;
using kvsdk::posix::ParseHex;
using kvsdk::posix::ReadAttribute;
using kvsdk::posix::ReadHexAttribute;
using kvsdk::posix::ReadHidIds;
using kvsdk::posix::StartsWith;

namespace {

// Input event types, as bit numbers of an input device's capabilities/ev mask.
constexpr unsigned kEvKey = 1;
constexpr unsigned kEvRep = 20;

// USB HID boot protocols of an interface (bInterfaceProtocol).
constexpr unsigned long kProtocolKeyboard = 1;
constexpr unsigned long kProtocolMouse = 2;
constexpr unsigned long kUsbClassHid = 3;

// One hidraw node and what sysfs tells about the HID device behind it.
struct HidInterface {
    std::string node;  // "hidraw3"
    unsigned vendor = 0;
    unsigned product = 0;
    std::optional<unsigned> interfaceNumber;  // bInterfaceNumber of its USB interface
    fs::path usbDevice;                       // canonical folder of its USB device, or empty
    bool mouse = false;                       // the interface itself is a mouse
    bool keyboard = false;                    // the interface itself is a keyboard
};

// Event types of an input device: the lowest word of its capabilities/ev bitmap, which sysfs
// writes last ("120013", or several words separated by spaces for longer masks).
unsigned long InputEventTypes(const fs::path& inputDevice) {
    const auto mask = ReadAttribute(inputDevice / "capabilities" / "ev");
    if (!mask) return 0;
    const auto space = mask->find_last_of(' ');
    const auto word = space == std::string::npos ? *mask : mask->substr(space + 1);
    return ParseHex(word).value_or(0);
}

bool IsHandlerName(const std::string& name, std::string_view handler) {
    if (!StartsWith(name, handler) || name.size() == handler.size()) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(handler.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// A USB device's bus name as the kernel makes it: "usbN" for a root hub, "B-P" or "B-P.P.P"
// for a device on a port (interfaces, "1-2:1.0", are not devices).
bool IsUsbDeviceName(const std::string& name) {
    if (IsHandlerName(name, "usb")) return true;
    size_t i = 0;
    const auto digits = [&] {
        const size_t start = i;
        while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
        return i > start;
    };
    if (!digits() || i == name.size() || name[i] != '-') return false;
    ++i;
    if (!digits()) return false;
    while (i < name.size()) {
        if (name[i] != '.') return false;
        ++i;
        if (!digits()) return false;
    }
    return true;
}

// Reads the input devices the HID driver made of a HID device: a mouse has a "mouseN" handler
// folder; a keyboard reports key events with auto-repeat.
void ClassifyByInput(const fs::path& hidDevice, HidInterface& hid) {
    for (const auto& input : ListDirectory(hidDevice / "input")) {
        for (const auto& entry : ListDirectory(input)) {
            if (IsHandlerName(entry.filename().string(), "mouse")) hid.mouse = true;
        }
        const auto events = InputEventTypes(input);
        if ((events >> kEvKey & 1) != 0 && (events >> kEvRep & 1) != 0) hid.keyboard = true;
    }
}

std::optional<HidInterface> ReadHidInterface(const fs::path& hidrawEntry) {
    std::error_code ec;
    const fs::path hidDevice = fs::canonical(hidrawEntry / "device", ec);
    if (ec) return std::nullopt;

    HidInterface hid;
    hid.node = hidrawEntry.filename().string();
    if (!ReadHidIds(hidDevice, hid.vendor, hid.product)) return std::nullopt;
    ClassifyByInput(hidDevice, hid);

    // A USB HID device sits on its USB interface, which sits on the USB device.
    const fs::path usbInterface = hidDevice.parent_path();
    if (const auto number = ReadHexAttribute(usbInterface / "bInterfaceNumber")) {
        hid.interfaceNumber = static_cast<unsigned>(*number & 0xFF);
        const auto usbClass = ReadHexAttribute(usbInterface / "bInterfaceClass");
        const auto protocol = ReadHexAttribute(usbInterface / "bInterfaceProtocol");
        if (protocol && (!usbClass || *usbClass == kUsbClassHid)) {
            if (*protocol == kProtocolKeyboard) hid.keyboard = true;
            if (*protocol == kProtocolMouse) hid.mouse = true;
        }
        const fs::path usbDevice = usbInterface.parent_path();
        if (ReadAttribute(usbDevice / "idVendor")) hid.usbDevice = usbDevice;
    }
    return hid;
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
    return text;
}

std::string Hex2(unsigned value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
    return text;
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::wstring Widen(const std::string& text) {
    return FromUtf8(text);
}

std::wstring HidPath(const HidInterface& hid, const GUID& classGuid) {
    std::string path = "\\\\?\\hid#vid_" + Hex4(hid.vendor) + "&pid_" + Hex4(hid.product);
    if (hid.interfaceNumber) path += "&mi_" + Hex2(*hid.interfaceNumber);
    path += "#" + hid.node + "#" + GuidText(classGuid);
    return Widen(path);
}

// Members of the mouse or keyboard class.
//
// Windows lists an interface under the mouse or keyboard class when it carries a mouse or
// keyboard collection. sysfs does not show collections, so the rule here is:
//   - an interface is a mouse when its HID device has an input device with a "mouseN" handler
//     or its USB interface has the boot protocol 2; a keyboard when the boot protocol is 1 or an
//     input device reports key events with auto-repeat (EV_KEY and EV_REP);
//   - every hidraw interface of a USB device that has at least one keyboard interface is listed
//     under the keyboard class, and every hidraw interface of a USB device that has a mouse
//     interface under the mouse class. This is what puts a keyboard's vendor-specific lighting
//     interface (MI_02 of 0E5A) where the finder looks for it. A vendor-specific interface of a
//     device with neither kind is listed under neither class;
//   - the interfaces that are members by themselves come first, then those that are members
//     through their USB device; each group is sorted by path. So a search that takes the first
//     match lands on the mouse (or keyboard) interface itself, as on Windows.
std::vector<std::wstring> ListHidClass(const fs::path& root, const GUID& classGuid, bool mouse) {
    std::vector<HidInterface> interfaces;
    for (const auto& entry : ListDirectory(root / "class" / "hidraw")) {
        if (!IsHandlerName(entry.filename().string(), "hidraw")) continue;
        if (auto hid = ReadHidInterface(entry)) interfaces.push_back(std::move(*hid));
    }

    std::map<fs::path, bool> usbDeviceHasKind;
    for (const auto& hid : interfaces) {
        if (hid.usbDevice.empty()) continue;
        usbDeviceHasKind[hid.usbDevice] |= mouse ? hid.mouse : hid.keyboard;
    }

    std::vector<std::wstring> direct;
    std::vector<std::wstring> throughDevice;
    for (const auto& hid : interfaces) {
        if (mouse ? hid.mouse : hid.keyboard) {
            direct.push_back(HidPath(hid, classGuid));
        } else if (!hid.usbDevice.empty() && usbDeviceHasKind[hid.usbDevice]) {
            throughDevice.push_back(HidPath(hid, classGuid));
        }
    }
    std::sort(direct.begin(), direct.end());
    std::sort(throughDevice.begin(), throughDevice.end());
    direct.insert(direct.end(), throughDevice.begin(), throughDevice.end());
    return direct;
}

// Members of the USB-device class: every USB device (not interface) with a vendor and product
// id, named by its sysfs bus name ("1-2", "3-1.4", "usb1").
std::vector<std::wstring> ListUsbDevices(const fs::path& root, const GUID& classGuid) {
    std::vector<std::wstring> paths;
    for (const auto& entry : ListDirectory(root / "bus" / "usb" / "devices")) {
        if (!IsUsbDeviceName(entry.filename().string())) continue;
        const auto vendor = ReadHexAttribute(entry / "idVendor");
        const auto product = ReadHexAttribute(entry / "idProduct");
        if (!vendor || !product) continue;
        const std::string name = entry.filename().string();
        paths.push_back(Widen("\\\\?\\usb#vid_" + Hex4(static_cast<unsigned>(*vendor)) + "&pid_" +
                              Hex4(static_cast<unsigned>(*product)) + "#" + name + "#" +
                              GuidText(classGuid)));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace

std::vector<std::wstring> ListInterfacePaths(const fs::path& root, const GUID& classGuid) {
    try {
        if (GuidEqual(classGuid, kGuidDevinterfaceMouse))
            return ListHidClass(root, classGuid, true);
        if (GuidEqual(classGuid, kGuidDevinterfaceKeyboard)) {
            return ListHidClass(root, classGuid, false);
        }
        if (GuidEqual(classGuid, kGuidDevinterfaceUsbDevice))
            return ListUsbDevices(root, classGuid);
    } catch (...) {
        // Out of memory or an unexpected filesystem failure: nothing is present.
    }
    return {};
}

}  // namespace kvsdk::platform::posix
