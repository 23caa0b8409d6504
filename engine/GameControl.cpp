#include "engine/GameControl.h"

#include "common/Win32Types.h"
#include "devices/Products.h"
#include "platform/Platform.h"

namespace kvsdk {

bool IsGameControlEnabled(const std::wstring& productId) {
    const std::wstring subkey = L"SOFTWARE\\TOLVE\\" + std::wstring(kVendorId.Wide()) + productId;
    const platform::RegistryValue value = platform::QueryRegistryValue(
        platform::Hive::CurrentUser, subkey, kKeyReadWrite, L"GameControl", sizeof(uint32_t));
    if (!value.keyOpened || value.status != kErrorSuccess || value.type != kRegDword) return true;
    if (value.dataSize != sizeof(uint32_t) || value.data.size() != sizeof(uint32_t)) return true;
    const bool zero =
        value.data[0] == 0 && value.data[1] == 0 && value.data[2] == 0 && value.data[3] == 0;
    return !zero;
}

}  // namespace kvsdk
