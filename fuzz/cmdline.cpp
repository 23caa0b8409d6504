// The kvsdk command line: arguments separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kvsdk/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kMaxArgs = 64;
    std::vector<std::string> args;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
            if (args.size() == kMaxArgs) break;
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (args.size() < kMaxArgs && !current.empty()) args.push_back(current);
    const auto result = kvsdk::tool::ParseCommandLine(args);
    // A refused command line always says why.
    if (!result.invocation && result.error.empty()) __builtin_trap();
    if (result.invocation && result.invocation->command == kvsdk::tool::Command::Set) {
        const auto& set = result.invocation->set;
        (void)kvsdk::tool::EffectPauseMs(set.effect.kind, set.params);
    }
    return 0;
}
