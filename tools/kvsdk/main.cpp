// kvsdk: a command-line host of KvSDKEng. Apart from 'devices' and 'probe', everything goes through
// the library's four exports, loaded at run time (HostLibrary.h).
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "KvSDKMod.h"
#include "tools/kvsdk/CommandLine.h"
#include "tools/kvsdk/Demo.h"
#include "tools/kvsdk/DeviceList.h"
#include "tools/kvsdk/HostLibrary.h"
#include "tools/kvsdk/Timeline.h"
#include "tools/kvsdk/TimelineRender.h"
#include "tools/kvsdk/ToolPlatform.h"
#include "tools/kvsdk/View.h"
#include "tools/kvsdk/Watch.h"

namespace kvsdk::tool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitLibrary = 1;
constexpr int kExitUsage = 2;

bool LoadEngine(HostLibrary& lib) {
    std::string error;
    if (lib.Load(ExecutableFolder(), error)) return true;
    std::cerr << "kvsdk: " << error << "\n";
    return false;
}

void Report(const char* call, HRESULT hr) {
    std::cout << call << ": " << DescribeHResult(hr) << "\n";
}

// Loads the library and initialises one product. On failure it has already let go.
bool OpenProduct(HostLibrary& lib, const GUID& product) {
    if (!LoadEngine(lib)) return false;
    const HRESULT hr = lib.EngInit(product);
    Report("KvSDKEngInit", hr);
    if (SUCCEEDED(hr)) return true;
    lib.EngUninit();
    return false;
}

int RunSet(const SetRequest& request) {
    HostLibrary lib;
    if (!OpenProduct(lib, *request.product.guid)) return kExitLibrary;

    EffectParams params = request.params;  // the library may write into the record
    const HRESULT hr = lib.SetEffect(*request.effect.guid, &params);
    Report("KvSDKSetEffect", hr);
    if (FAILED(hr)) {
        if (hr == E_FAIL) std::cerr << "kvsdk: no attached device of that product was addressed\n";
        lib.EngUninit();
        return kExitLibrary;
    }
    if (request.effect.kind == EffectKind::Brightness) {
        std::cout << "brightness sent: " << params.level << " of 255\n";
    }

    // The effect runs on the library's own threads and nothing signals its end: wait for its
    // pauses and a margin before letting go, or KvSDKEngUninit would drop what is still queued.
    const uint32_t waitMs = EffectPauseMs(request.effect.kind, request.params) + kSendMarginMs;
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    Report("KvSDKEngUninit", lib.EngUninit());
    return kExitOk;
}

int RunGet(const GetRequest& request) {
    HostLibrary lib;
    if (!OpenProduct(lib, *request.product.guid)) return kExitLibrary;
    EffectParams params{};
    params.size = sizeof params;
    params.productGuid = *request.product.guid;
    params.lightSelector = request.light;
    const HRESULT hr = lib.GetEffect(*request.effect.guid, &params);
    Report("KvSDKGetEffect", hr);
    lib.EngUninit();
    if (FAILED(hr)) return kExitLibrary;
    if (request.effect.kind == EffectKind::State) {
        std::cout << "state of light " << request.light << ": " << params.level
                  << (params.level == 100 ? " (on)"
                      : params.level == 0 ? " (off)"
                                          : "")
                  << "\n";
    } else {
        std::cout << "brightness of light " << request.light << ": " << params.level << " %\n";
    }
    return kExitOk;
}

int RunDevices() {
    const auto entries = ListInterfaces();
    if (entries.empty()) {
        std::cout << "No interface with vendor id 7A3E is attached"
                  << (GetEnvironment("KVSDK_SIM") ? " (simulated set of KVSDK_SIM)" : "") << ".\n";
        return kExitOk;
    }
    // The access column says whether this user may open the interface (simulated ones always).
    std::printf("%-9s %-7s %-6s %-10s %s\n", "class", "product", "family", "access", "path");
    bool denied = false;
    for (const InterfaceEntry& entry : entries) {
        std::printf("%-9s %-7s %-6s %-10s %s\n", entry.interfaceClass.c_str(),
                    entry.productId.c_str(), entry.family.empty() ? "-" : entry.family.c_str(),
                    entry.access.c_str(), entry.path.c_str());
        denied = denied || entry.access.starts_with("no (permission denied");
    }
    if (denied) {
        std::cout << "\nThis user may not open some interfaces: install the udev rule "
                     "60-kvsdk.rules (see the README's Install section) and plug the device in "
                     "again.\n";
    }
    return kExitOk;
}

int RunProbe(bool json) {
    std::string report(4096, '\0');
    for (;;) {
        const uint32_t needed =
            KvSDKModProbe(json ? 1 : 0, report.data(), static_cast<uint32_t>(report.size()));
        if (needed == 0) {
            std::cerr << "kvsdk: the device probe failed\n";
            return kExitLibrary;
        }
        if (needed <= report.size()) {
            report.resize(needed - 1);
            break;
        }
        report.assign(needed, '\0');  // the report grew: ask again with room for it
    }
    std::cout << report;
    return kExitOk;
}

int RunTimeline(const Invocation& invocation) {
    const auto text = ReadTraceFile(PathFromUtf8(invocation.traceFile));
    if (!text) {
        std::cerr << "kvsdk: cannot read " << invocation.traceFile
                  << " (not a regular file of at most 64 MiB)\n";
        return kExitUsage;
    }
    const Timeline timeline = BuildTimeline(*text);
    RenderText(timeline, std::cout);
    if (invocation.svgFile) {
        std::ofstream svg(PathFromUtf8(*invocation.svgFile), std::ios::binary | std::ios::trunc);
        RenderSvg(timeline, svg, "Light timeline of " + invocation.traceFile);
        if (!svg.flush()) {
            std::cerr << "kvsdk: cannot write " << *invocation.svgFile << "\n";
            return kExitLibrary;
        }
        std::cout << "\nSVG timeline: " << *invocation.svgFile << "\n";
    }
    return kExitOk;
}

// watch and view: the trace named, or else the one KVSDK_SIM_TRACE names.
int RunFollower(const Invocation& invocation) {
    std::string trace = invocation.traceFile;
    if (trace.empty()) trace = GetEnvironment("KVSDK_SIM_TRACE").value_or("");
    if (trace.empty()) {
        std::cerr << "kvsdk: name the trace file to follow (KVSDK_SIM_TRACE is not set)\n";
        return kExitUsage;
    }
    if (invocation.command == Command::Watch) return RunWatch(trace, std::cerr);
    return RunView(trace, invocation.port, std::cout, std::cerr);
}

int Run(const std::vector<std::string>& args) {
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "kvsdk " << KVSDKENG_VERSION_MAJOR << "." << KVSDKENG_VERSION_MINOR << "."
                  << KVSDKENG_VERSION_PATCH << "\n";
        return kExitOk;
    }
    const ParseResult parsed = ParseCommandLine(args);
    if (!parsed.invocation) {
        std::cerr << "kvsdk: " << parsed.error << "\n(kvsdk --help shows the usage)\n";
        return kExitUsage;
    }
    const Invocation& invocation = *parsed.invocation;
    switch (invocation.command) {
        case Command::Help:
            std::cout << UsageText();
            return kExitOk;
        case Command::Set:
            return RunSet(invocation.set);
        case Command::Get:
            return RunGet(invocation.get);
        case Command::Devices:
            return RunDevices();
        case Command::Probe:
            return RunProbe(invocation.json);
        case Command::Demo:
            return RunDemo(invocation, std::cout, std::cerr);
        case Command::Timeline:
            return RunTimeline(invocation);
        case Command::Watch:
        case Command::View:
            return RunFollower(invocation);
    }
    return kExitUsage;
}

}  // namespace
}  // namespace kvsdk::tool

int main(int argc, char** argv) {
    try {
        return kvsdk::tool::Run(kvsdk::tool::Arguments(argc, argv));
    } catch (const std::exception& e) {
        std::cerr << "kvsdk: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "kvsdk: unexpected failure\n";
    }
    return 1;
}
