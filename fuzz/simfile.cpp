// The simulated device file (KVSDK_SIM): any text parses into interfaces and warnings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/SimFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> warnings;
    const auto items = kvsdk::sim::ParseSimFile(text, &warnings);
    for (const auto& item : items) {
        if (item.path.empty()) __builtin_trap();  // a listed interface always has a path
        (void)kvsdk::sim::ClassGuid(item.interfaceClass);
    }
    return 0;
}
