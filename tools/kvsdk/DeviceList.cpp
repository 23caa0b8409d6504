#include "tools/kvsdk/DeviceList.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "common/Strings.h"
#include "common/Win32Types.h"
#include "tools/kvsdk/Names.h"
#include "tools/kvsdk/Timeline.h"
#include "tools/kvsdk/ToolPlatform.h"
#include "devices/DeviceFinder.h"

namespace kvsdk::tool {

namespace {

#ifndef _WIN32
// The device node behind an interface path, as the device-I/O library opens it:
//   \\?\hid#vid_7a3e&pid_0e51&mi_00#hidraw3#{...}  -> /dev/hidraw3
//   \\?\usb#vid_7a3e&pid_0e5b#1-2#{...}            -> /dev/bus/usb/BBB/DDD of sysfs device 1-2
std::string NodeOf(const std::string& path) {
    const std::string text = ToUtf8(ToLower(FromUtf8(path)));
    const size_t first = text.find('#');
    const size_t second = first == std::string::npos ? first : text.find('#', first + 1);
    const size_t third = second == std::string::npos ? second : text.find('#', second + 1);
    if (!text.starts_with("\\\\?\\") || third == std::string::npos) return {};
    const std::string bus = text.substr(4, first - 4);
    const std::string name = text.substr(second + 1, third - second - 1);
    const auto allOf = [](const std::string& value, const char* allowed) {
        return !value.empty() && value.find_first_not_of(allowed) == std::string::npos;
    };
    if (bus == "hid" && name.starts_with("hidraw") && allOf(name.substr(6), "0123456789")) {
        return "/dev/" + name;
    }
    if (bus == "usb" && allOf(name, "0123456789-.") && name.find("..") == std::string::npos) {
        const std::filesystem::path device = std::filesystem::path("/sys/bus/usb/devices") / name;
        int busNumber = 0;
        int deviceNumber = 0;
        std::ifstream busFile(device / "busnum");
        std::ifstream deviceFile(device / "devnum");
        if (!(busFile >> busNumber) || !(deviceFile >> deviceNumber)) return {};
        char node[64];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", busNumber, deviceNumber);
        return node;
    }
    return {};
}
#endif

}  // namespace

std::string AccessOf(const std::string& path) {
#ifdef _WIN32
    const HANDLE handle =
        CreateFileW(PathFromUtf8(path).wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return "yes";
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) return "no (access denied)";
    return "no (error " + std::to_string(error) + ")";
#else
    const std::string node = NodeOf(path);
    if (node.empty()) return "no (no device node)";
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return "yes";
    }
    const int error = errno;
    if (error == EACCES || error == EPERM) return "no (permission denied on " + node + ")";
    return "no (" + node + ": " + std::strerror(error) + ")";
#endif
}

std::vector<InterfaceEntry> ListInterfaces() {
    struct Class {
        const char* name;
        GUID guid;
    };
    const Class classes[] = {{"mouse", kGuidDevinterfaceMouse},
                             {"keyboard", kGuidDevinterfaceKeyboard},
                             {"usb", kGuidDevinterfaceUsbDevice}};
    // Enumeration stops at the first index without an interface; the bound only guards
    // against a platform that never says so.
    constexpr uint32_t kMaxInterfaces = 4096;
    const std::string vendorMarker = std::string("VID_") + kVendorId.Text();
    // A readable KVSDK_SIM file replaces enumeration: every listed interface is a virtual one.
    const auto simFile = GetEnvironment("KVSDK_SIM");
    const bool simulated = simFile && std::ifstream(PathFromUtf8(*simFile)).good();
    std::vector<InterfaceEntry> entries;
    for (const Class& cls : classes) {
        const CDeviceFinder finder(cls.guid);
        for (uint32_t index = 0; index < kMaxInterfaces; ++index) {
            std::wstring path;
            if (Failed(finder.GetInterfacePath(index, path)) || path.empty()) break;
            const std::string text = ToUtf8(path);
            if (ToUpper(text).find(vendorMarker) == std::string::npos) continue;
            const std::string productId = ProductIdFromPath(text);
            entries.push_back({cls.name, productId, FamilyOfProductId(productId), text,
                               simulated ? "simulated" : AccessOf(text)});
        }
    }
    return entries;
}

}  // namespace kvsdk::tool
