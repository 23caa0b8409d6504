#include "tools/kvsdk/Demo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "catalogue/Products.h"
#include "tools/kvsdk/CommandLine.h"
#include "tools/kvsdk/HostLibrary.h"
#include "tools/kvsdk/Timeline.h"
#include "tools/kvsdk/TimelineRender.h"
#include "tools/kvsdk/ToolPlatform.h"

namespace kvsdk::tool {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A scratch folder for the simulated set and the trace, removed with the object.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::random_device random;
        for (int attempt = 0; attempt < 50 && m_path.empty(); ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() / ("kvsdk-demo-" + std::to_string(random()));
            std::error_code ec;
            if (fs::create_directory(candidate, ec)) m_path = candidate;
        }
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!m_path.empty()) fs::remove_all(m_path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& Path() const { return m_path; }

  private:
    fs::path m_path;
};

// Which product ids a product GUID reaches, for the wait estimate.
std::vector<std::string> ProductIdsOf(const GUID* product) {
    std::vector<std::string> ids;
    ForEachAddressed(*product, [&ids](const Product& row) { ids.emplace_back(row.id.Text()); });
    return ids;
}

// The demo's host side: applies effects and keeps track of how long each device's queue
// will take, from the effects' own pauses.
class DemoHost {
  public:
    DemoHost(HostLibrary& lib, std::ostream& out) : m_lib(lib), m_out(out) {}

    // Applies one effect and then lets 'gapMs' pass, so that the picture shows the steps apart.
    void Apply(EffectKind kind, const GUID* product, uint32_t light, EffectParams params,
               uint32_t gapMs, const char* note = nullptr) {
        const EffectInfo effect =
            *std::find_if(Effects().begin(), Effects().end(),
                          [&](const EffectInfo& e) { return e.kind == kind; });
        params.size = sizeof(EffectParams);
        params.productGuid = *product;
        params.lightSelector = light;
        // Let the addressed devices finish what they have queued, so that each step shows in
        // the picture at its own time rather than bunched up behind a long flash.
        uint64_t idle = 0;
        for (const std::string& id : ProductIdsOf(product)) idle = std::max(idle, m_busyUntil[id]);
        if (idle > Elapsed()) Pause(static_cast<uint32_t>(idle - Elapsed()));
        const HRESULT hr = m_lib.SetEffect(*effect.guid, &params);
        const uint64_t now = Elapsed();
        for (const std::string& id : ProductIdsOf(product)) {
            uint64_t& busy = m_busyUntil[id];
            busy = std::max(busy, now) + EffectPauseMs(kind, params) + kPerEffectMs;
        }
        char line[160];
        std::snprintf(line, sizeof line, "  %5llu ms  %-12s %-18s light %-4u -> %s",
                      static_cast<unsigned long long>(now), effect.name, NameOf(product), light,
                      HResultName(hr).c_str());
        m_out << line << (note ? std::string("  (") + note + ")" : std::string()) << "\n";
        if (FAILED(hr) && !note) m_failures++;
        Pause(gapMs);
    }

    void Read(EffectKind kind, const GUID* product, uint32_t light) {
        const GUID& effect = kind == EffectKind::State ? EFFECT_LED_STATE : EFFECT_LED_BRIGHTNESS;
        EffectParams params{};
        params.size = sizeof(EffectParams);
        params.productGuid = *product;
        params.lightSelector = light;
        params.level = 0;
        const HRESULT hr = m_lib.GetEffect(effect, &params);
        char line[160];
        std::snprintf(line, sizeof line, "  %5llu ms  read %-10s %-13s light %u -> %s, level %u",
                      static_cast<unsigned long long>(Elapsed()),
                      kind == EffectKind::State ? "state" : "brightness", NameOf(product), light,
                      HResultName(hr).c_str(), params.level);
        m_out << line << "\n";
        if (FAILED(hr)) m_failures++;
    }

    // Waits until every device's queue should have run.
    void WaitForQueues() {
        uint64_t until = 0;
        for (const auto& [id, busy] : m_busyUntil) until = std::max(until, busy);
        const uint64_t now = Elapsed();
        if (until > now) Pause(static_cast<uint32_t>(until - now));
        Pause(kSendMarginMs);
    }

    int Failures() const { return m_failures; }

  private:
    static constexpr uint64_t kPerEffectMs = 20;  // sending a few commands

    static const char* NameOf(const GUID* product) {
        for (const ProductInfo& info : Products()) {
            if (info.guid == product) return info.name;
        }
        return "?";
    }
    uint64_t Elapsed() const {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count());
    }
    static void Pause(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    HostLibrary& m_lib;
    std::ostream& m_out;
    Clock::time_point m_start = Clock::now();
    std::map<std::string, uint64_t> m_busyUntil;
    int m_failures = 0;
};

EffectParams Params() {
    return EffectParams{};
}

EffectParams Level(uint32_t level) {
    EffectParams p{};
    p.level = level;
    return p;
}

EffectParams Rgb(uint8_t red, uint8_t green, uint8_t blue) {
    EffectParams p{};
    p.red = red;
    p.green = green;
    p.blue = blue;
    return p;
}

EffectParams Blink(uint32_t count, uint32_t off, uint32_t on) {
    EffectParams p{};
    p.count = count;
    p.offTime = off;
    p.onTime = on;
    return p;
}

EffectParams ModeParams(uint32_t param1, uint32_t percent, uint32_t param2, uint32_t param3) {
    EffectParams p{};
    p.param1 = param1;
    p.percent = percent;
    p.param2 = param2;
    p.param3 = param3;
    return p;
}

EffectParams Mode(const GUID& mode) {
    EffectParams p{};
    p.modeGuid = mode;
    return p;
}

EffectParams DeviceMode(uint8_t mode) {
    EffectParams p{};
    p.deviceMode = mode;
    return p;
}

// The script: every effect kind of both families. VEXO light selectors 1 (light 0x01),
// 3 (0x0B) and 6 (0x05); Pell selectors 1 (0x01) and 7 (0x0B); the USB device's colour goes
// to tunnel code 0x60.
void RunScript(DemoHost& host) {
    host.Apply(EffectKind::On, &PRODUCT_VEXO, 1, Params(), 120);
    host.Apply(EffectKind::On, &PRODUCT_PELL, 1, Params(), 120);
    host.Apply(EffectKind::Color, &PRODUCT_PELL_MOUSE_0E59, 1, Rgb(255, 80, 0), 80);
    host.Apply(EffectKind::Color, &PRODUCT_PELL_KEYBOARD_0E5A, 7, Rgb(0, 120, 255), 80);
    host.Apply(EffectKind::Color, &PRODUCT_PELL_USB_0E5B, 0x60, Rgb(0, 200, 80), 80);
    host.Apply(EffectKind::Color, &PRODUCT_VEXO_0E51, 1, Rgb(255, 255, 255), 0,
               "VEXO devices have no colour command");
    // Brightness per product: the library writes the scaled level back into the record, so
    // a family-wide call would scale it again for every further device.
    host.Apply(EffectKind::Brightness, &PRODUCT_VEXO_0E51, 1, Level(60), 60);
    host.Apply(EffectKind::Brightness, &PRODUCT_VEXO_0E52, 1, Level(80), 60);
    host.Apply(EffectKind::Brightness, &PRODUCT_PELL_MOUSE_0E59, 1, Level(40), 60);
    host.Apply(EffectKind::Brightness, &PRODUCT_PELL_KEYBOARD_0E5A, 1, Level(100), 60);
    host.Apply(EffectKind::Flash1, &PRODUCT_VEXO_0E51, 1, Params(), 0);
    host.Apply(EffectKind::Flash2, &PRODUCT_VEXO_0E52, 6, Params(), 0);
    host.Apply(EffectKind::Flash3, &PRODUCT_PELL_MOUSE_0E59, 1, Params(), 0);
    host.Apply(EffectKind::Flash1, &PRODUCT_PELL_KEYBOARD_0E5A, 7, Params(), 120);
    host.Apply(EffectKind::Mode4, &PRODUCT_PELL_KEYBOARD_0E5A, 7, Mode(EFFECT_LED_MODE_4), 150);
    host.Apply(EffectKind::Mode1, &PRODUCT_PELL_KEYBOARD_0E5A, 7, Mode(EFFECT_LED_MODE_1), 150);
    host.Apply(EffectKind::Mode2, &PRODUCT_PELL_KEYBOARD_0E5A, 7, Mode(EFFECT_LED_MODE_2), 150);
    host.Apply(EffectKind::Mode0, &PRODUCT_PELL_KEYBOARD_0E5A, 7, Mode(EFFECT_LED_MODE_0), 120);
    host.Apply(EffectKind::Mode2Params, &PRODUCT_VEXO, 3, ModeParams(2, 50, 300, 500), 80);
    host.Apply(EffectKind::Mode2Params, &PRODUCT_PELL, 1, ModeParams(3, 75, 200, 400), 80);
    host.Apply(EffectKind::State, &PRODUCT_VEXO, 1, Params(), 0, "queues nothing: read back below");
    host.Apply(EffectKind::Blink, &PRODUCT_VEXO, 1, Blink(2, 150, 150), 80);
    host.Apply(EffectKind::Blink, &PRODUCT_PELL_KEYBOARD_0E5A, 7, Blink(0, 100, 200), 80);
    host.Apply(EffectKind::VexoModeA, &PRODUCT_VEXO_0E51, 1, DeviceMode(1), 80);
    host.Apply(EffectKind::VexoModeB, &PRODUCT_VEXO_0E52, 1, DeviceMode(2), 80);
    host.Apply(EffectKind::Blink, &PRODUCT_PELL, 1, Blink(2, 100, 100), 80);
    host.Apply(EffectKind::Off, &PRODUCT_VEXO, 1, Params(), 0);
    host.Apply(EffectKind::Off, &PRODUCT_PELL, 1, Params(), 0);
}

bool WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    return static_cast<bool>(file.flush());
}

}  // namespace

std::string DemoDeviceSet() {
    return "# kvsdk demo: one simulated device of each product id.\n"
           "# VEXO stored settings (restored on release): state of lights 0x01, 0x0B, 0x05.\n"
           "mouse \\\\?\\hid#vid_7a3e&pid_0e51&mi_00#7&1a2b3c4d&0&0000#"
           "{378de44c-56ef-11d1-bc8c-00a0c91405dd} reg.00030101=01 reg.0003010B=01\n"
           "mouse \\\\?\\hid#vid_7a3e&pid_0e52&mi_00#7&2b3c4d5e&0&0000#"
           "{378de44c-56ef-11d1-bc8c-00a0c91405dd} reg.00030105=01 reg.0003010B=00\n"
           "mouse \\\\?\\hid#vid_7a3e&pid_0e59&mi_00#7&3c4d5e6f&0&0000#"
           "{378de44c-56ef-11d1-bc8c-00a0c91405dd}\n"
           "keyboard \\\\?\\hid#vid_7a3e&pid_0e5a&mi_02#7&4d5e6f70&0&0000#"
           "{884b96c3-56ef-11d1-bc8c-00a0c91405dd}\n"
           "usb \\\\?\\usb#vid_7a3e&pid_0e5b#5&6e7f8091&0&1#"
           "{a5dcbf10-6530-11d2-901f-00c04fb951ed}\n";
}

int RunDemo(const Invocation& invocation, std::ostream& out, std::ostream& err) {
    ScratchFolder scratch;
    if (scratch.Path().empty()) {
        err << "kvsdk: cannot create a temporary folder\n";
        return 1;
    }

    // The simulated devices and the trace must be in the environment before the library is
    // loaded and looks for devices.
    const auto existingSet = GetEnvironment("KVSDK_SIM");
    if (existingSet && !existingSet->empty()) {
        out << "Using the simulated device set of KVSDK_SIM: " << *existingSet << "\n";
    } else {
        const fs::path set = scratch.Path() / "devices.sim";
        if (!WriteFile(set, DemoDeviceSet())) {
            err << "kvsdk: cannot write " << PathToUtf8(set) << "\n";
            return 1;
        }
        SetEnvironment("KVSDK_SIM", PathToUtf8(set));
        out << "Simulated device set: one device of each product id (" << PathToUtf8(set) << ")\n";
    }
    const fs::path trace = invocation.traceFile.empty() ? scratch.Path() / "trace.txt"
                                                        : PathFromUtf8(invocation.traceFile);
    std::error_code ec;
    fs::remove(trace, ec);  // the trace is appended to: start afresh
    SetEnvironment("KVSDK_SIM_TRACE", PathToUtf8(trace));

    HostLibrary lib;
    std::string error;
    if (!lib.Load(ExecutableFolder(), error)) {
        err << "kvsdk: " << error << "\n";
        return 1;
    }

    out << "\nScript (time since the start, effect, product, light selector, result):\n";
    const HRESULT vexo = lib.EngInit(PRODUCT_VEXO);
    const HRESULT pell = lib.EngInit(PRODUCT_PELL);
    out << "  KvSDKEngInit(PRODUCT_VEXO) -> " << HResultName(vexo)
        << ", KvSDKEngInit(PRODUCT_PELL) -> " << HResultName(pell) << "\n";
    DemoHost host(lib, out);
    RunScript(host);
    host.WaitForQueues();

    out << "\nRead back (level: state 100 on / 0 off, brightness 0..100):\n";
    host.Read(EffectKind::State, &PRODUCT_VEXO_0E51, 1);
    host.Read(EffectKind::Brightness, &PRODUCT_VEXO_0E51, 1);
    host.Read(EffectKind::State, &PRODUCT_VEXO_0E52, 6);
    host.Read(EffectKind::Brightness, &PRODUCT_VEXO_0E52, 1);
    lib.EngUninit();  // VEXO devices put their stored lighting back
    out << "  KvSDKEngUninit -> S_OK (VEXO devices restored their stored settings)\n\n";

    const Timeline timeline = BuildTimeline(ReadTraceFile(trace).value_or(std::string()));
    RenderText(timeline, out);

    const fs::path svg = PathFromUtf8(invocation.svgFile.value_or("kvsdk-demo.svg"));
    std::ostringstream picture;
    RenderSvg(timeline, picture, "kvsdk demo: light timeline");
    if (!WriteFile(svg, picture.str())) {
        err << "kvsdk: cannot write " << PathToUtf8(svg) << "\n";
        return 1;
    }
    out << "\nSVG timeline: " << PathToUtf8(fs::absolute(svg, ec)) << "\n";
    if (!invocation.traceFile.empty()) out << "Trace kept in: " << PathToUtf8(trace) << "\n";

    if (timeline.devices.empty() || vexo < 0 || pell < 0 || host.Failures() > 0) {
        err << "kvsdk: the demo did not run cleanly (see the results above)\n";
        return 1;
    }
    return 0;
}

}  // namespace kvsdk::tool
