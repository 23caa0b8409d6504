#include "tools/kvsdk/DeviceList.h"

#include <filesystem>
#include <fstream>

#include "KvSDKMod.h"
#include "catalogue/Products.h"
#include "common/Strings.h"
#include "common/Win32Types.h"
#include "devices/DeviceFinder.h"
#include "tools/kvsdk/Names.h"
#include "tools/kvsdk/Timeline.h"
#include "tools/kvsdk/ToolPlatform.h"

namespace kvsdk::tool {

std::string AccessOf(const std::string& path) {
    // Opened exactly as the library opens it: on Windows that is the device's lighting collection,
    // not the mouse or keyboard collection discovery reports (which Windows keeps for itself).
    CKvDeviceIO io;
    const HRESULT hr = io.Init(PathFromUtf8(path).wstring().c_str());
    if (Succeeded(hr)) return "yes";
    if (hr == HResultFromWin32(kErrorAccessDenied)) return "no (permission denied)";
    return "no (" + DescribeHResult(hr) + "; kvsdk probe tells more)";
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
