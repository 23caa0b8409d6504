// The .reg files that stand in for the registry on Linux: parse any bytes, then query them the
// way the library does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/posix/RegFile.h"

using kvsdk::Hive;
using kvsdk::posix::CRegFile;
using kvsdk::posix::QueryRegFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> contents(data, data + size);
    const auto file = CRegFile::Parse(contents);
    if (!file) return 0;
    for (const Hive hive : {Hive::CurrentUser, Hive::LocalMachine}) {
        for (const uint32_t buffer : {0u, 1u, 4u, 4096u}) {
            (void)QueryRegFile(&*file, hive, L"SOFTWARE\\TOLVE", L"LogEnabled", buffer);
            (void)QueryRegFile(&*file, hive, L"SOFTWARE\\TOLVE\\7A3E0E59", L"GameControl", buffer);
            (void)QueryRegFile(&*file, hive, L"", L"", buffer);
        }
    }
    return 0;
}
