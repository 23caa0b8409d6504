#include "tools/kvsdk/Watch.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tools/kvsdk/Terminal.h"
#include "tools/kvsdk/ToolPlatform.h"

namespace kvsdk::tool {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kMinRedraw = std::chrono::milliseconds(100);  // ten screens a second at most
constexpr auto kAgeRedraw = std::chrono::seconds(1);         // the ages move on

// One line of the screen, cut at the width; text from the trace is shown without its control
// characters, so that a trace cannot drive the terminal.
class ScreenLine {
  public:
    explicit ScreenLine(int cols) : m_room(std::max(cols, 0)) {}

    ScreenLine& Text(std::string_view text) {
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            const bool continuation = (byte & 0xC0) == 0x80;  // within a UTF-8 character
            if (!continuation && m_room == 0) break;
            m_out += byte < 0x20 || byte == 0x7F ? '?' : c;
            if (!continuation) --m_room;
        }
        return *this;
    }
    ScreenLine& Swatch(const std::string& background) {
        if (m_room < 2) return Text("  ");
        m_out += background + "  \x1b[0m";
        m_room -= 2;
        return *this;
    }
    std::string Take() { return std::move(m_out) + "\x1b[K"; }

  private:
    std::string m_out;
    int m_room;
};

std::string Age(uint64_t nowMs, uint64_t thenMs) {
    const uint64_t ms = nowMs > thenMs ? nowMs - thenMs : 0;
    char text[32];
    if (ms < 10000) {
        std::snprintf(text, sizeof text, "%.1f s ago", static_cast<double>(ms) / 1000.0);
    } else if (ms < 120000) {
        std::snprintf(text, sizeof text, "%llu s ago", static_cast<unsigned long long>(ms / 1000));
    } else {
        std::snprintf(text, sizeof text, "%llu min ago",
                      static_cast<unsigned long long>(ms / 60000));
    }
    return text;
}

std::optional<uint32_t> Current(const LightTimeline& light, Attribute attribute) {
    const auto& segments = light.Of(attribute);
    if (segments.empty()) return std::nullopt;
    return segments.back().value;
}

std::string Field(const char* name, const LightTimeline& light, Attribute attribute) {
    const auto value = Current(light, attribute);
    return std::string(name) + (value ? DescribeValue(attribute, *value) : "-");
}

std::string LightLine(const LightTimeline& light, uint64_t nowMs, int cols, ColorDepth depth) {
    const auto state = Current(light, Attribute::State);
    const auto color = Current(light, Attribute::Color);
    const auto brightness = Current(light, Attribute::Brightness);
    char head[32];
    std::snprintf(head, sizeof head, "  %-11s %-4s", light.Label().c_str(),
                  state ? DescribeValue(Attribute::State, *state).c_str() : "-");
    ScreenLine line(cols);
    line.Text(head);
    if (state == 0u) {
        line.Text("..");
    } else if (!state && !color && !brightness) {
        line.Text("  ");  // never switched, nothing known
    } else {
        // The light as it shines: its colour (white when it has none) at its brightness.
        const uint32_t rgb = color.value_or(0xFFFFFF);
        const uint32_t level = brightness.value_or(255);
        uint32_t shown = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            shown |= (((rgb >> shift) & 0xFFu) * level / 255u) << shift;
        }
        line.Swatch(Background(shown, depth));
    }
    char fields[80];
    std::snprintf(fields, sizeof fields, " %-8s %-15s %-8s ",
                  color ? DescribeValue(Attribute::Color, *color).c_str() : "-",
                  Field("brightness ", light, Attribute::Brightness).c_str(),
                  Field("mode ", light, Attribute::Mode).c_str());
    line.Text(fields);
    if (const auto last = LastActivity(light)) {
        line.Text((last->failed ? "FAILED " : "") + last->text + ", " + Age(nowMs, last->ms));
    }
    return line.Take();
}

struct Rgb {
    int r, g, b;
};

// The 16 colours as xterm shows them by default.
constexpr Rgb kBasic[16] = {{0, 0, 0},       {205, 0, 0},   {0, 205, 0},   {205, 205, 0},
                            {0, 0, 238},     {205, 0, 205}, {0, 205, 205}, {229, 229, 229},
                            {127, 127, 127}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                            {92, 92, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

}  // namespace

ColorDepth ColorDepthOf(const std::optional<std::string>& colorterm,
                        const std::optional<std::string>& term) {
    if (colorterm && (*colorterm == "truecolor" || *colorterm == "24bit")) {
        return ColorDepth::TrueColor;
    }
    if (term && term->find("256color") != std::string::npos) return ColorDepth::Palette256;
    return ColorDepth::Basic16;
}

std::string Background(uint32_t rgb, ColorDepth depth) {
    const int r = static_cast<int>((rgb >> 16) & 0xFF);
    const int g = static_cast<int>((rgb >> 8) & 0xFF);
    const int b = static_cast<int>(rgb & 0xFF);
    char text[32];
    if (depth == ColorDepth::TrueColor) {
        std::snprintf(text, sizeof text, "\x1b[48;2;%d;%d;%dm", r, g, b);
    } else if (depth == ColorDepth::Palette256) {
        // The 6x6x6 cube of the palette, whose steps are 0, 95, 135, 175, 215 and 255.
        const auto step = [](int v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; };
        std::snprintf(text, sizeof text, "\x1b[48;5;%dm",
                      16 + 36 * step(r) + 6 * step(g) + step(b));
    } else {
        int best = 0;
        int bestDistance = 1 << 30;
        for (int i = 0; i < 16; ++i) {
            const int dr = r - kBasic[i].r, dg = g - kBasic[i].g, db = b - kBasic[i].b;
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) best = i, bestDistance = distance;
        }
        std::snprintf(text, sizeof text, "\x1b[%dm", best < 8 ? 40 + best : 100 + best - 8);
    }
    return text;
}

std::string WatchScreen(const LiveState& state, const std::string& trace, int cols, int rows,
                        ColorDepth depth) {
    std::vector<std::string> lines;
    lines.push_back(ScreenLine(cols)
                        .Text("kvsdk watch " + trace + "   " +
                              std::to_string(state.timeline.lineCount) + " lines, " +
                              std::to_string(state.skipped) + " skipped   q quits")
                        .Take());
    lines.push_back(ScreenLine(cols).Text(state.status).Take());
    if (state.timeline.devices.empty() && state.status.empty()) {
        lines.push_back(ScreenLine(cols).Text("No device has been called yet.").Take());
    }
    for (const DeviceTimeline& device : state.timeline.devices) {
        ScreenLine head(cols);
        head.Text(device.Title() + "  " + device.path);
        if (!device.events.empty()) {
            const Event& e = device.events.back();
            head.Text("  " + e.text + ", " + Age(state.nowMs, e.ms));
        }
        lines.push_back(head.Take());
        for (const LightTimeline& light : device.lights) {
            lines.push_back(LightLine(light, state.nowMs, cols, depth));
        }
    }
    const size_t fit = static_cast<size_t>(std::max(rows, 1));
    if (lines.size() > fit) {
        const size_t hidden = lines.size() - fit + 1;
        lines.resize(fit - 1);
        lines.push_back(
            ScreenLine(cols)
                .Text("... " + std::to_string(hidden) + " more lines: make the terminal taller")
                .Take());
    }
    std::string screen = "\x1b[H";
    for (size_t i = 0; i < lines.size(); ++i) screen += (i ? "\r\n" : "") + lines[i];
    return screen + "\x1b[J";
}

int RunWatch(const std::string& trace, std::ostream& err) {
    std::string error;
    const auto terminal = CTerminal::Open(error);
    if (!terminal) {
        err << "kvsdk: " << error << "\n";
        return 1;
    }
    const ColorDepth depth = ColorDepthOf(GetEnvironment("COLORTERM"), GetEnvironment("TERM"));
    CTraceFollower follower(PathFromUtf8(trace));
    CTerminal::Size size = terminal->GetSize();
    uint64_t drawn = 0;  // the version on the screen
    bool redraw = true;  // the screen is to be drawn whatever the version
    Clock::time_point drawnAt{};
    for (;;) {
        // A long trace is read a few chunks at a time, keys answered in between.
        for (int chunk = 0; chunk < 8 && follower.Poll(); ++chunk) {
        }
        const auto now = Clock::now();
        const bool stale = redraw || drawn != follower.Version() || now - drawnAt >= kAgeRedraw;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kFollowInterval);
        if (stale && now - drawnAt >= kMinRedraw) {
            terminal->Write(WatchScreen(follower.State(), trace, size.cols, size.rows, depth));
            drawn = follower.Version();
            drawnAt = now;
            redraw = false;
        } else if (stale) {
            wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(
                                      drawnAt + kMinRedraw - now));
        }
        switch (terminal->Wait(wait)) {
            case CTerminal::Input::Quit:
                return 0;
            case CTerminal::Input::Resized:
                size = terminal->GetSize();
                terminal->Write("\x1b[2J");
                redraw = true;
                break;
            case CTerminal::Input::Nothing:
                break;
        }
    }
}

}  // namespace kvsdk::tool
