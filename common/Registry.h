// What a registry read answers, on every platform: the Windows registry, or on Linux the .reg
// files standing in for it (common/posix/RegFile.h).
#pragma once

#include <cstdint>
#include <vector>

#include "common/Win32Types.h"

namespace kvsdk {

enum class Hive { CurrentUser, LocalMachine };

struct RegistryValue {
    bool keyOpened = false;  // false: the key is missing or could not be opened with 'access'
    uint32_t status = kErrorFileNotFound;  // Windows error of the value query
    uint32_t type = kRegNone;              // value type, when the query told it
    uint32_t dataSize = 0;                 // bytes the value holds (as the query reported them)
    std::vector<uint8_t> data;  // at most 'bufferSize' bytes, filled only when status == 0
};

}  // namespace kvsdk
