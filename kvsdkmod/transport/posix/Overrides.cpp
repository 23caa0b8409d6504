// Framing overrides on Linux: the values under [HKEY_CURRENT_USER\SOFTWARE\TOLVE\7A3E<pid>] of
// the .reg file that stands in for the user's registry hive.
#include <cstdio>
#include <string>

#include "common/Strings.h"
#include "common/posix/RegFile.h"
#include "kvsdkmod/transport/Transport.h"

namespace kvsdkmod::transport {

std::map<std::string, OverrideValue> ReadFramingOverrides(uint16_t productId) {
    std::map<std::string, OverrideValue> values;
    std::string file;
    kvsdk::posix::RegistryFileName(kvsdk::Hive::CurrentUser, file);
    if (file.empty()) return values;
    const auto registry = kvsdk::posix::CRegFile::Load(file);
    if (!registry) return values;
    wchar_t key[40];
    std::swprintf(key, 40, L"SOFTWARE\\TOLVE\\%04X%04X", kVendorId, productId);
    for (const std::string& name : OverrideNames()) {
        const auto* data =
            registry->FindValue(kvsdk::Hive::CurrentUser, key, kvsdk::FromUtf8(name));
        if (data == nullptr) continue;
        OverrideValue value;
        if (data->type == kvsdk::kRegDword && data->bytes.size() == 4) {
            value.number = static_cast<uint32_t>(data->bytes[0]) |
                           static_cast<uint32_t>(data->bytes[1]) << 8 |
                           static_cast<uint32_t>(data->bytes[2]) << 16 |
                           static_cast<uint32_t>(data->bytes[3]) << 24;
        } else if (data->type == kvsdk::kRegSz) {
            std::wstring text;
            for (size_t i = 0; i + 1 < data->bytes.size(); i += 2) {
                const wchar_t c = static_cast<wchar_t>(data->bytes[i] | data->bytes[i + 1] << 8);
                if (c == L'\0') break;
                text.push_back(c);
            }
            value.text = kvsdk::ToUtf8(text);
        }
        values[name] = value;
    }
    return values;
}

}  // namespace kvsdkmod::transport
