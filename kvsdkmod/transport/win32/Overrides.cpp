// Framing overrides on Windows: the values under HKEY_CURRENT_USER\SOFTWARE\TOLVE\7A3E<pid>.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "common/Strings.h"
#include "kvsdkmod/transport/Transport.h"

namespace kvsdkmod::transport {

std::map<std::string, OverrideValue> ReadFramingOverrides(uint16_t productId) {
    std::map<std::string, OverrideValue> values;
    wchar_t subkey[40];
    std::swprintf(subkey, 40, L"SOFTWARE\\TOLVE\\%04X%04X", kVendorId, productId);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
    for (const std::string& name : OverrideNames()) {
        const std::wstring wideName = kvsdk::FromUtf8(name);
        DWORD type = 0;
        wchar_t data[64] = {};
        DWORD size = sizeof data - sizeof(wchar_t);
        if (RegQueryValueExW(key, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data),
                             &size) != ERROR_SUCCESS) {
            continue;
        }
        OverrideValue value;
        if (type == REG_DWORD && size == sizeof(DWORD)) {
            DWORD number = 0;
            std::memcpy(&number, data, sizeof number);
            value.number = number;
        } else if (type == REG_SZ) {
            value.text = kvsdk::ToUtf8(std::wstring(data, wcsnlen(data, size / sizeof(wchar_t))));
        }
        values[name] = value;
    }
    RegCloseKey(key);
    return values;
}

}  // namespace kvsdkmod::transport
