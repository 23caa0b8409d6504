#include "tools/kvsdk/DeviceList.h"

#include "tools/kvsdk/Names.h"
#include "common/Strings.h"
#include "tools/kvsdk/Timeline.h"
#include "common/Win32Types.h"
#include "devices/DeviceFinder.h"

namespace kvsdk::tool {

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
    std::vector<InterfaceEntry> entries;
    for (const Class& cls : classes) {
        const CDeviceFinder finder(cls.guid);
        for (uint32_t index = 0; index < kMaxInterfaces; ++index) {
            std::wstring path;
            if (Failed(finder.GetInterfacePath(index, path)) || path.empty()) break;
            const std::string text = ToUtf8(path);
            if (ToUpper(text).find(vendorMarker) == std::string::npos) continue;
            const std::string productId = ProductIdFromPath(text);
            entries.push_back({cls.name, productId, FamilyOfProductId(productId), text});
        }
    }
    return entries;
}

}  // namespace kvsdk::tool
