#include "tools/kvsdk/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>

#include "effects/LightEffect.h"

namespace kvsdk::tool {
namespace {

// Limits that keep a mistyped value from turning into a very long wait: 'set' waits for the
// effect's own pauses before it lets go of the library.
constexpr uint64_t kMaxDurationMs = 60000;
constexpr uint64_t kMaxBlinkPhaseMs = 10000;
// The library queues up to kvsdk::kMaxBlinkCount cycles in one request; at up to 2 x 10 s a
// cycle the tool takes a hundredth of that, which the usage text and docs/kvsdk.md give as 0..100.
constexpr uint64_t kMaxToolBlinkCount = kvsdk::kMaxBlinkCount / 100;
static_assert(kMaxToolBlinkCount == 100, "the usage text and docs/kvsdk.md say --count 0..100");

struct OptionName {
    Opt opt;
    const char* name;
};

constexpr OptionName kOptionNames[] = {
    {Opt::Product, "--product"}, {Opt::Light, "--light"},
    {Opt::Level, "--level"},     {Opt::Duration, "--duration"},
    {Opt::Count, "--count"},     {Opt::Off, "--off"},
    {Opt::On, "--on"},           {Opt::Rgb, "--rgb"},
    {Opt::Mode, "--mode"},       {Opt::Param1, "--param1"},
    {Opt::Percent, "--percent"}, {Opt::Param2, "--param2"},
    {Opt::Param3, "--param3"},   {Opt::DeviceMode, "--device-mode"},
    {Opt::Svg, "--svg"},         {Opt::Trace, "--trace"},
    {Opt::Port, "--port"},
};

const char* NameOf(Opt opt) {
    for (const OptionName& entry : kOptionNames) {
        if (entry.opt == opt) return entry.name;
    }
    return "?";
}

std::optional<Opt> FindOption(const std::string& text) {
    for (const OptionName& entry : kOptionNames) {
        if (text == entry.name) return entry.opt;
    }
    return std::nullopt;
}

// A usage error travelling up to ParseCommandLine.
struct UsageError {
    std::string message;
};

using Options = std::map<Opt, std::string>;

// Splits "--name value" pairs; positional words go to 'positional'.
Options CollectOptions(const std::vector<std::string>& args, size_t first,
                       std::vector<std::string>& positional) {
    Options options;
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.size() > 2 && word.compare(0, 2, "--") == 0) {
            const auto opt = FindOption(word);
            if (!opt) throw UsageError{"unknown option " + word};
            if (i + 1 >= args.size()) throw UsageError{"option " + word + " needs a value"};
            if (!options.emplace(*opt, args[i + 1]).second) {
                throw UsageError{"option " + word + " is given twice"};
            }
            ++i;
        } else {
            positional.push_back(word);
        }
    }
    return options;
}

// Only 'allowed' may appear; every one of 'required' must.
void CheckOptions(const Options& options, OptionSet allowed, OptionSet required,
                  const std::string& what) {
    for (const auto& [opt, value] : options) {
        if (!allowed.Has(opt)) {
            throw UsageError{std::string("option ") + NameOf(opt) + " does not apply to " + what};
        }
    }
    for (const OptionName& entry : kOptionNames) {
        if (required.Has(entry.opt) && !options.count(entry.opt)) {
            throw UsageError{what + " needs " + entry.name};
        }
    }
}

// Decimal, or hexadecimal with 0x; within [low, high].
uint64_t ParseNumber(const std::string& text, const std::string& what, uint64_t low,
                     uint64_t high) {
    uint64_t value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        begin += 2;
        base = 16;
    }
    const auto [ptr, ec] = std::from_chars(begin, end, value, base);
    if (text.empty() || begin == end || ec == std::errc::invalid_argument || ptr != end) {
        throw UsageError{what + " must be a number, not '" + text + "'"};
    }
    if (ec == std::errc::result_out_of_range || value < low || value > high) {
        throw UsageError{what + " must be from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not " + text};
    }
    return value;
}

uint32_t Number(const Options& options, Opt opt, uint64_t low, uint64_t high) {
    return static_cast<uint32_t>(ParseNumber(options.at(opt), NameOf(opt), low, high));
}

uint32_t NumberOr(const Options& options, Opt opt, uint64_t low, uint64_t high, uint32_t fallback) {
    return options.count(opt) ? Number(options, opt, low, high) : fallback;
}

ProductInfo ProductOption(const Options& options) {
    const std::string& name = options.at(Opt::Product);
    const auto product = FindProduct(name);
    if (!product) {
        std::string list;
        for (const ProductInfo& known : Products()) list += std::string(" ") + known.name;
        throw UsageError{"unknown product '" + name + "'; one of:" + list};
    }
    return *product;
}

const GUID* ModeGuid(uint32_t mode) {
    switch (mode) {
        case 0:
            return &EFFECT_LED_MODE_0;
        case 1:
            return &EFFECT_LED_MODE_1;
        case 2:
            return &EFFECT_LED_MODE_2;
        case 4:
            return &EFFECT_LED_MODE_4;
        default:
            return nullptr;
    }
}

uint32_t OwnMode(EffectKind kind) {
    switch (kind) {
        case EffectKind::Mode1:
            return 1;
        case EffectKind::Mode2:
            return 2;
        case EffectKind::Mode4:
            return 4;
        default:
            return 0;
    }
}

SetRequest ParseSet(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    const Options options = CollectOptions(args, 1, positional);
    if (positional.empty()) throw UsageError{"set needs an effect name"};
    if (positional.size() > 1) throw UsageError{"unexpected argument '" + positional[1] + "'"};
    const auto effect = FindEffect(positional[0]);
    if (!effect) {
        std::string list;
        for (const EffectInfo& known : Effects()) list += std::string(" ") + known.name;
        throw UsageError{"unknown effect '" + positional[0] + "'; one of:" + list};
    }
    const std::string what = std::string("effect ") + effect->name;

    CheckOptions(options, effect->allowed, effect->required, what);

    SetRequest request;
    request.effect = *effect;
    request.product = ProductOption(options);
    EffectParams& p = request.params;
    p.size = sizeof(EffectParams);
    p.productGuid = *request.product.guid;

    // The USB device 0E5B takes its colour as a tunnel command whose code travels in the light
    // selector.
    const bool tunnelColor =
        effect->kind == EffectKind::Color && request.product.guid == &PRODUCT_PELL_USB_0E5B;
    if (tunnelColor) {
        p.lightSelector = Number(options, Opt::Light, 0x60, 0x62);
    } else {
        p.lightSelector = NumberOr(options, Opt::Light, 1, 7, 1);
    }

    switch (effect->kind) {
        case EffectKind::On:
        case EffectKind::Off:
            p.duration = NumberOr(options, Opt::Duration, 0, kMaxDurationMs, 0);
            break;
        case EffectKind::Brightness:
            p.level = Number(options, Opt::Level, 0, 100);
            break;
        case EffectKind::Mode2Params: {
            const uint32_t param1 = Number(options, Opt::Param1, 0, 0xFFFF);
            const uint32_t percent = Number(options, Opt::Percent, 0, 100);
            const uint32_t param2 = Number(options, Opt::Param2, 0, 0xFFFF);
            const uint32_t param3 = Number(options, Opt::Param3, 0, 0xFFFF);
            p.param1 = param1;
            p.percent = percent;
            p.param2 = param2;
            p.param3 = param3;
            break;
        }
        case EffectKind::Blink: {
            const uint32_t count = Number(options, Opt::Count, 0, kMaxToolBlinkCount);
            // With count 0 the device blinks by itself and each time is one byte.
            const uint64_t phaseMax = count == 0 ? 255 : kMaxBlinkPhaseMs;
            const uint32_t off = Number(options, Opt::Off, 0, phaseMax);
            const uint32_t on = Number(options, Opt::On, 0, phaseMax);
            p.count = count;
            p.offTime = off;
            p.onTime = on;
            break;
        }
        case EffectKind::Mode0:
        case EffectKind::Mode1:
        case EffectKind::Mode2:
        case EffectKind::Mode4: {
            const uint32_t mode = NumberOr(options, Opt::Mode, 0, 4, OwnMode(effect->kind));
            const GUID* guid = ModeGuid(mode);
            if (!guid)
                throw UsageError{"--mode must be 0, 1, 2 or 4, not " + options.at(Opt::Mode)};
            p.modeGuid = *guid;
            break;
        }
        case EffectKind::VexoModeA:
        case EffectKind::VexoModeB:
            p.deviceMode = static_cast<uint8_t>(Number(options, Opt::DeviceMode, 1, 2));
            break;
        case EffectKind::Color: {
            const std::string& text = options.at(Opt::Rgb);
            std::vector<std::string> parts;
            std::stringstream stream(text);
            for (std::string part; std::getline(stream, part, ',');) parts.push_back(part);
            if (parts.size() != 3 || text.back() == ',') {
                throw UsageError{"--rgb must be three numbers R,G,B, not '" + text + "'"};
            }
            p.red = static_cast<uint8_t>(ParseNumber(parts[0], "red", 0, 255));
            p.green = static_cast<uint8_t>(ParseNumber(parts[1], "green", 0, 255));
            p.blue = static_cast<uint8_t>(ParseNumber(parts[2], "blue", 0, 255));
            break;
        }
        case EffectKind::State:
        case EffectKind::Flash1:
        case EffectKind::Flash2:
        case EffectKind::Flash3:
            break;
    }
    return request;
}

GetRequest ParseGet(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    const Options options = CollectOptions(args, 1, positional);
    if (positional.empty()) throw UsageError{"get needs 'state' or 'brightness'"};
    if (positional.size() > 1) throw UsageError{"unexpected argument '" + positional[1] + "'"};
    const auto effect = FindEffect(positional[0]);
    if (!effect || (effect->kind != EffectKind::State && effect->kind != EffectKind::Brightness)) {
        throw UsageError{"get reads 'state' or 'brightness', not '" + positional[0] + "'"};
    }
    const OptionSet both{Opt::Product, Opt::Light};
    CheckOptions(options, both, both, std::string("get ") + effect->name);
    GetRequest request;
    request.effect = *effect;
    request.product = ProductOption(options);
    if (request.product.guid != &PRODUCT_VEXO_0E51 && request.product.guid != &PRODUCT_VEXO_0E52) {
        throw UsageError{"only vexo_0e51 and vexo_0e52 can be read back, not " +
                         std::string(request.product.name)};
    }
    request.light = Number(options, Opt::Light, 1, 7);
    return request;
}

Invocation Parse(const std::vector<std::string>& args) {
    Invocation invocation;
    if (args.empty()) throw UsageError{"no command given"};
    const std::string& command = args[0];
    for (const std::string& word : args) {
        if (word == "--help" || word == "-h") return invocation;  // Command::Help
    }
    if (command == "help") return invocation;
    if (command == "set") {
        invocation.command = Command::Set;
        invocation.set = ParseSet(args);
    } else if (command == "get") {
        invocation.command = Command::Get;
        invocation.get = ParseGet(args);
    } else if (command == "devices") {
        invocation.command = Command::Devices;
        if (args.size() > 1) throw UsageError{"devices takes no arguments"};
    } else if (command == "probe") {
        invocation.command = Command::Probe;
        invocation.json = args.size() == 2 && args[1] == "--json";
        if (args.size() > 1 && !invocation.json) throw UsageError{"probe takes only --json"};
    } else if (command == "demo" || command == "timeline") {
        std::vector<std::string> positional;
        const Options options = CollectOptions(args, 1, positional);
        if (command == "demo") {
            invocation.command = Command::Demo;
            CheckOptions(options, {Opt::Svg, Opt::Trace}, {}, "demo");
            if (!positional.empty())
                throw UsageError{"unexpected argument '" + positional[0] + "'"};
            if (options.count(Opt::Trace)) invocation.traceFile = options.at(Opt::Trace);
        } else {
            invocation.command = Command::Timeline;
            CheckOptions(options, {Opt::Svg}, {}, "timeline");
            if (positional.size() != 1) throw UsageError{"timeline needs exactly one trace file"};
            invocation.traceFile = positional[0];
        }
        if (options.count(Opt::Svg)) invocation.svgFile = options.at(Opt::Svg);
    } else if (command == "watch" || command == "view") {
        // The trace defaults to KVSDK_SIM_TRACE, looked up when the command runs.
        std::vector<std::string> positional;
        const Options options = CollectOptions(args, 1, positional);
        const bool view = command == "view";
        invocation.command = view ? Command::View : Command::Watch;
        CheckOptions(options, view ? OptionSet{Opt::Port} : OptionSet{}, {}, command);
        if (positional.size() > 1) throw UsageError{"unexpected argument '" + positional[1] + "'"};
        if (!positional.empty()) invocation.traceFile = positional[0];
        if (options.count(Opt::Port)) {
            invocation.port = static_cast<uint16_t>(Number(options, Opt::Port, 1, 65535));
        }
    } else {
        throw UsageError{"unknown command '" + command + "'"};
    }
    return invocation;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    ParseResult result;
    try {
        result.invocation = Parse(args);
    } catch (const UsageError& error) {
        result.error = error.message;
    }
    return result;
}

uint32_t EffectPauseMs(EffectKind kind, const EffectParams& params) {
    constexpr uint32_t kFlashCycleMs = 2 * 300;
    switch (kind) {
        case EffectKind::On:
        case EffectKind::Off:
            return params.duration;
        case EffectKind::Flash1:
            return kFlashCycleMs;
        case EffectKind::Flash2:
            return 2 * kFlashCycleMs;
        case EffectKind::Flash3:
            return 3 * kFlashCycleMs;
        case EffectKind::Blink:
            return params.count * (params.offTime + params.onTime);
        default:
            return 0;
    }
}

std::string UsageText() {
    return R"(kvsdk: drive the lights of VEXO and Pell devices through KvSDKEng.

Usage:
  kvsdk set <effect> --product <product> [--light N] [effect options]
  kvsdk get <state|brightness> --product <vexo_0e51|vexo_0e52> --light N
  kvsdk devices
  kvsdk probe [--json]
  kvsdk demo [--svg FILE] [--trace FILE]
  kvsdk timeline <trace-file> [--svg FILE]
  kvsdk watch [trace-file]
  kvsdk view [trace-file] [--port N]          (Linux only)
  kvsdk --version

Effects (case does not matter) and their options:
  on, off          --light 1..7 [--duration MS]   (VEXO: pause after the command, 0..60000)
  brightness       --light 1..7 --level 0..100     (percent)
  mode_2_params    --light 1..7 --param1 0..65535 --percent 0..100 --param2 0..65535
                   --param3 0..65535
  state            --light 1..7                    (queues nothing; read it with 'get')
  flash_1, flash_2, flash_3
                   --light 1..7                    (1, 2 or 3 off/on cycles of 300 ms each)
  blink            --light 1..7 --count 0..100 --off MS --on MS
                   (count 0: the device blinks by itself; --off/--on are then one byte each,
                   0..255; otherwise 0..10000 ms per phase)
  mode_0, mode_1, mode_2, mode_4
                   --light 1..7 [--mode 0|1|2|4]   (Pell keyboard, light 7; the lighting
                   mode to set, by default the effect's own)
  vexo_mode_a, vexo_mode_b
                   --device-mode 1|2
  color            --light 1..7 --rgb R,G,B         (each 0..255; for pell_usb_0e5b the light
                   is the tunnel code 0x60..0x62)

Products: vexo, vexo_0e51, vexo_0e52, pell, pell_mouse_0e59, pell_keyboard_0e5a, pell_usb_0e5b.
Numbers are decimal, or hexadecimal with 0x.

'set' initialises the product, queues the effect and prints the result. The library sends the
commands on its own threads and gives no completion signal, so 'set' then waits for the
effect's own pauses (flashes 600 ms per cycle, blink count x (off + on), on/off --duration)
plus 300 ms before it releases the library. Releasing a VEXO device puts its stored lighting
back.

'devices' lists the interfaces of the mouse, keyboard and USB-device classes that carry
vendor id 7A3E (the simulated set when KVSDK_SIM names one), and whether this user may open
each of them.

'probe' is the first thing to run with a real device: for every attached device of vendor
7A3E it lists each HID node and collection with its usage page, report IDs and lengths (from
the report descriptor), whether this user can open it, which one the library uses for the
lighting, and the report framing in force (built-in or overridden in the registry). --json
writes the same as one JSON object, for bug reports.

'demo' writes a simulated set of one device of each product, runs every effect kind of both
families against it with KVSDK_SIM and KVSDK_SIM_TRACE set, reads state and brightness back,
and renders the trace: a text timeline of every light and an SVG picture (default
kvsdk-demo.svg in the current folder). If KVSDK_SIM is already set, its device set is used.

'timeline' renders any trace written through KVSDK_SIM_TRACE.

'watch' follows a trace while a host writes it (by default the file KVSDK_SIM_TRACE names)
and shows every light of every device in the terminal: on or off, its colour, brightness and
lighting mode, and what last happened to it. q or Ctrl-C quits. A trace that is cut short or
replaced is read again from its start; lines that are not trace lines are skipped.

'view' follows a trace the same way and serves a page that draws the devices with their
lights glowing, the last seconds as a scrolling timeline and a slider that replays the last
minute. It listens on 127.0.0.1 only (port 8737, or the next free one; --port N insists on N)
and prints the address. Linux only: the HTTP library it is built with is not available to
the Windows build.

Exit codes: 0 success, 1 the library failed (or could not be loaded), 2 usage error.
)";
}

}  // namespace kvsdk::tool
