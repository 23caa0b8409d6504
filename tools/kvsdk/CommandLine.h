// The command line of kvsdk: subcommands, options and their ranges. Parsing checks every value
// before anything reaches the library; a failed parse is a usage error (exit code 2).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KvSDKEng.h"
#include "tools/kvsdk/Names.h"

namespace kvsdk::tool {

enum class Command { Help, Set, Get, Devices, Probe, Demo, Timeline, Watch, View };

struct SetRequest {
    EffectInfo effect{};
    ProductInfo product{};
    EffectParams params{};  // the record as it goes to KvSDKSetEffect
};

struct GetRequest {
    EffectInfo effect{};  // state or brightness
    ProductInfo product{};
    uint32_t light = 0;
};

struct Invocation {
    Command command = Command::Help;
    SetRequest set;
    GetRequest get;
    std::string traceFile;               // timeline: the trace to render; demo: where to keep it
    std::optional<std::string> svgFile;  // timeline, demo
    bool json = false;                   // probe --json
    std::optional<uint16_t> port;        // view
};

struct ParseResult {
    std::optional<Invocation> invocation;  // set when the command line is valid
    std::string error;                     // otherwise: what is wrong, one line
};

// 'args' excludes the program name.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// How long a host should wait after KvSDKSetEffect before it lets go of the library: the
// library gives no completion signal, so the wait is the effect's own pauses plus a margin for
// the worker to start and send the commands.
uint32_t EffectPauseMs(EffectKind kind, const EffectParams& params);
inline constexpr uint32_t kSendMarginMs = 300;

std::string UsageText();

}  // namespace kvsdk::tool
