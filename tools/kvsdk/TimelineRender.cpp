#include "tools/kvsdk/TimelineRender.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

namespace kvsdk::tool {
namespace {

std::string Format(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Px(double value) {
    return Format("%.1f", value);
}

std::string ColorHex(uint32_t rgb) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06X", rgb & 0xFFFFFFu);
    return text;
}

// What a segment's value means, in words.
std::string ValueText(Attribute attribute, uint32_t value) {
    switch (attribute) {
        case Attribute::State:
            return value ? "on" : "off";
        case Attribute::Brightness:
            return std::to_string(value) + " (" + std::to_string(value * 100 / 255) + "%)";
        case Attribute::Color:
            return ColorHex(value);
        case Attribute::Mode:
            return std::to_string(value);
    }
    return {};
}

std::string ChangeText(Attribute attribute, uint32_t value) {
    if (attribute == Attribute::State) return ValueText(attribute, value);
    return std::string(AttributeName(attribute)) + " " + ValueText(attribute, value);
}

std::optional<uint32_t> StateAt(const LightTimeline& light, uint64_t ms) {
    std::optional<uint32_t> state;
    for (const Segment& segment : light.Of(Attribute::State)) {
        if (segment.start <= ms) state = segment.value;
    }
    return state;
}

struct Line {
    uint64_t ms;
    size_t seq;
    std::string text;
};

void WriteLines(std::vector<Line> lines, std::ostream& out, const char* indent) {
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) {
        return a.ms != b.ms ? a.ms < b.ms : a.seq < b.seq;
    });
    for (const Line& line : lines) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%s%8llu ms  ", indent,
                      static_cast<unsigned long long>(line.ms));
        out << stamp << line.text << "\n";
    }
}

constexpr int kStripColumns = 64;

}  // namespace

std::string XmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                // Control characters are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
                    out += '?';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

void RenderText(const Timeline& timeline, std::ostream& out) {
    out << "Light timeline: " << timeline.devices.size() << " device(s), " << timeline.lineCount
        << " trace lines, 0 to " << timeline.endMs << " ms\n";
    if (!timeline.skipped.empty()) {
        out << "(" << timeline.skipped.size()
            << " line(s) were not trace lines and were skipped)\n";
    }
    const double columnMs =
        static_cast<double>(std::max<uint64_t>(timeline.endMs, 1)) / kStripColumns;
    out << "Strips: one column = " << Format("%.0f", columnMs)
        << " ms; '#' on, '.' off, ' ' not set yet.\n";
    for (const DeviceTimeline& device : timeline.devices) {
        out << "\n" << device.Title() << "  " << device.path << "\n";
        std::vector<Line> deviceLines;
        for (const Event& event : device.events)
            deviceLines.push_back({event.ms, event.seq, event.text});
        WriteLines(deviceLines, out, "");
        for (const LightTimeline& light : device.lights) {
            std::string strip;
            if (!light.Of(Attribute::State).empty()) {
                for (int column = 0; column < kStripColumns; ++column) {
                    const auto ms = static_cast<uint64_t>((column + 0.5) * columnMs);
                    const auto state = StateAt(light, ms);
                    strip += !state ? ' ' : *state ? '#' : '.';
                }
                strip = "  |" + strip + "|";
            }
            out << "  " << light.Label() << strip << "\n";
            std::vector<Line> lines;
            for (Attribute attribute : kAttributes) {
                for (const Segment& segment : light.Of(attribute)) {
                    lines.push_back(
                        {segment.start, segment.seq, ChangeText(attribute, segment.value)});
                }
            }
            for (const Event& event : light.events)
                lines.push_back({event.ms, event.seq, event.text});
            WriteLines(lines, out, "  ");
        }
    }
}

namespace {

// Layout of the picture, in pixels.
constexpr double kWidth = 1280;
constexpr double kPlotX = 250;
constexpr double kPlotWidth = 990;
constexpr double kLane = 18;
constexpr double kLaneGap = 3;
constexpr double kEventLane = 12;

const char* ModeFill(uint32_t mode) {
    switch (mode) {
        case 0:
            return "#cfe2ff";
        case 1:
            return "#d1e7dd";
        case 2:
            return "#ffe69c";
        case 4:
            return "#f1aeb5";
        default:
            return "#e2e3e5";
    }
}

// A "nice" tick step (1, 2 or 5 times a power of ten) giving about ten ticks.
uint64_t TickStep(uint64_t endMs) {
    uint64_t step = 1;
    // 10^18 x 5 still fits in 64 bits and gives at most four ticks for the largest time.
    while (true) {
        for (uint64_t factor : {1u, 2u, 5u}) {
            if (endMs / (step * factor) <= 10) return step * factor;
        }
        if (step >= 1000000000000000000u) return step * 5;
        step *= 10;
    }
}

class SvgWriter {
  public:
    SvgWriter(const Timeline& timeline, std::ostream& body)
        : m_timeline(timeline), m_body(body), m_endMs(std::max<uint64_t>(timeline.endMs, 1)) {}

    double X(uint64_t ms) const {
        return kPlotX + static_cast<double>(ms) * kPlotWidth / static_cast<double>(m_endMs);
    }

    void Text(double x, double y, const std::string& text, const std::string& cls,
              const char* anchor = "start") {
        m_body << "<text x=\"" << Px(x) << "\" y=\"" << Px(y) << "\" class=\"" << cls
               << "\" text-anchor=\"" << anchor << "\">" << XmlEscape(text) << "</text>\n";
    }

    void Segment(const DeviceTimeline& device, const LightTimeline& light, Attribute attribute,
                 const kvsdk::tool::Segment& segment, double y) {
        const double x0 = X(segment.start);
        const double width = std::max(X(segment.end) - x0, 1.0);
        double top = y;
        double height = kLane;
        std::string fill;
        std::string label;
        std::string labelClass = "seglabel";
        switch (attribute) {
            case Attribute::State:
                fill = segment.value ? "#ffc400" : "#3b3b3b";
                label = segment.value ? "on" : "off";
                if (!segment.value) labelClass = "seglabel ondark";
                break;
            case Attribute::Brightness:
                height = std::max(kLane * segment.value / 255.0, 1.0);
                top = y + kLane - height;
                fill = "#f08c00";
                label = std::to_string(segment.value);
                break;
            case Attribute::Color: {
                fill = ColorHex(segment.value);
                label = fill;
                const uint32_t r = segment.value >> 16 & 0xFF, g = segment.value >> 8 & 0xFF,
                               b = segment.value & 0xFF;
                if (r * 299 + g * 587 + b * 114 < 128000) labelClass = "seglabel ondark";
                break;
            }
            case Attribute::Mode:
                fill = ModeFill(segment.value);
                label = "mode " + std::to_string(segment.value);
                break;
        }
        const std::string value = attribute == Attribute::Color   ? ColorHex(segment.value)
                                  : attribute == Attribute::State ? (segment.value ? "on" : "off")
                                                                  : std::to_string(segment.value);
        m_body << "<rect class=\"seg\" x=\"" << Px(x0) << "\" y=\"" << Px(top) << "\" width=\""
               << Px(width) << "\" height=\"" << Px(height) << "\" fill=\"" << fill
               << "\" data-device=\"" << XmlEscape(device.productId) << "\" data-path=\""
               << XmlEscape(device.path) << "\" data-light=\"" << XmlEscape(light.Label())
               << "\" data-kind=\"" << AttributeName(attribute) << "\" data-value=\"" << value
               << "\" data-start=\"" << segment.start << "\" data-end=\"" << segment.end
               << "\"><title>"
               << XmlEscape(device.Title() + ", " + light.Label() + ": " +
                            ChangeText(attribute, segment.value) + ", " +
                            std::to_string(segment.start) + " to " + std::to_string(segment.end) +
                            " ms")
               << "</title></rect>\n";
        // The label goes inside the bar when it fits; a mode bar falls back to the bare number.
        const auto fits = [&](const std::string& s) {
            return width >= 6.2 * static_cast<double>(s.size()) + 5;
        };
        if (!fits(label) && attribute == Attribute::Mode) label = std::to_string(segment.value);
        if (fits(label)) Text(x0 + 3, y + kLane - 5, label, labelClass);
    }

    void Events(const std::vector<Event>& events, const std::string& owner, double y) {
        m_body << "<rect class=\"lane\" x=\"" << Px(kPlotX) << "\" y=\"" << Px(y) << "\" width=\""
               << Px(kPlotWidth) << "\" height=\"" << Px(kEventLane) << "\"/>\n";
        for (const Event& event : events) {
            m_body << "<rect class=\"event" << (event.failed ? " failed" : "") << "\" x=\""
                   << Px(X(event.ms) - 1.5) << "\" y=\"" << Px(y) << "\" width=\"3\" height=\""
                   << Px(kEventLane) << "\" data-start=\"" << event.ms << "\"><title>"
                   << XmlEscape(owner + ", " + std::to_string(event.ms) + " ms: " + event.text)
                   << "</title></rect>\n";
        }
    }

    double Device(const DeviceTimeline& device, double y) {
        Text(12, y + 16, device.Title(), "device");
        Text(kPlotX, y + 16, device.path, "path");
        y += 24;
        if (!device.events.empty()) {
            Text(kPlotX - 8, y + 10, "device events", "lanelabel", "end");
            Events(device.events, device.Title(), y);
            y += kEventLane + kLaneGap;
        }
        for (const LightTimeline& light : device.lights) {
            y += 4;
            Text(24, y + 13, light.Label(), "light");
            for (Attribute attribute : kAttributes) {
                const auto& segments = light.Of(attribute);
                if (segments.empty()) continue;
                const char* name =
                    attribute == Attribute::State ? "on/off" : AttributeName(attribute);
                Text(kPlotX - 8, y + 13, name, "lanelabel", "end");
                m_body << "<rect class=\"lane\" x=\"" << Px(kPlotX) << "\" y=\"" << Px(y)
                       << "\" width=\"" << Px(kPlotWidth) << "\" height=\"" << Px(kLane)
                       << "\"/>\n";
                for (const kvsdk::tool::Segment& segment : segments) {
                    Segment(device, light, attribute, segment, y);
                }
                y += kLane + kLaneGap;
            }
            if (!light.events.empty()) {
                Text(kPlotX - 8, y + 10, "events", "lanelabel", "end");
                Events(light.events, device.Title() + ", " + light.Label(), y);
                y += kEventLane + kLaneGap;
            }
        }
        return y + 14;
    }

    void Axis(double top, double bottom) {
        const uint64_t step = TickStep(m_endMs);
        // Stops before the next tick would pass the end, so that times near 2^64 cannot wrap.
        for (uint64_t ms = 0;; ms += step) {
            const double x = X(ms);
            m_body << "<line class=\"grid\" x1=\"" << Px(x) << "\" y1=\"" << Px(top) << "\" x2=\""
                   << Px(x) << "\" y2=\"" << Px(bottom) << "\"/>\n";
            Text(x, top - 6, std::to_string(ms) + " ms", "tick", "middle");
            Text(x, bottom + 14, std::to_string(ms) + " ms", "tick", "middle");
            if (m_endMs - ms < step) break;
        }
    }

    void Legend(double y) {
        struct Key {
            const char* fill;
            const char* text;
        };
        const Key keys[] = {{"#ffc400", "on"},
                            {"#3b3b3b", "off"},
                            {"#f08c00", "brightness (bar height 0..255)"},
                            {"#cfe2ff", "mode 0"},
                            {"#d1e7dd", "mode 1"},
                            {"#ffe69c", "mode 2"},
                            {"#f1aeb5", "mode 4"},
                            {"#6f42c1", "event (hover for details)"},
                            {"#d63031", "failed call"}};
        double x = kPlotX;
        for (const Key& key : keys) {
            m_body << "<rect x=\"" << Px(x) << "\" y=\"" << Px(y)
                   << "\" width=\"14\" height=\"14\" fill=\"" << key.fill
                   << "\" stroke=\"#888\"/>\n";
            Text(x + 18, y + 11, key.text, "legend");
            x += 26 + 6.5 * static_cast<double>(std::string(key.text).size());
        }
        Text(12, y + 11, "Colour lanes show the colour itself.", "legend");
    }

    // Devices below a time axis whose grid lines run behind them; returns the bottom.
    double Draw(double y) {
        const double axisTop = y + 22;
        std::ostringstream lanes;
        SvgWriter inner(m_timeline, lanes);
        double bottom = axisTop + 6;
        for (const DeviceTimeline& device : m_timeline.devices)
            bottom = inner.Device(device, bottom);
        Axis(axisTop, bottom);
        m_body << lanes.str();
        return bottom + 24;
    }

  private:
    const Timeline& m_timeline;
    std::ostream& m_body;
    uint64_t m_endMs;
};

}  // namespace

void RenderSvg(const Timeline& timeline, std::ostream& out, const std::string& title) {
    std::ostringstream body;
    SvgWriter writer(timeline, body);
    writer.Text(12, 24, title, "title");
    writer.Text(12, 44,
                std::to_string(timeline.devices.size()) + " device(s), " +
                    std::to_string(timeline.lineCount) +
                    " trace lines; time in ms since the first trace line. Hover over a bar or "
                    "a mark for details.",
                "subtitle");
    const double legendY = writer.Draw(60);
    writer.Legend(legendY);
    const double height = legendY + 34;

    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Px(kWidth) << "\" height=\""
        << Px(height) << "\" viewBox=\"0 0 " << Px(kWidth) << " " << Px(height) << "\">\n"
        << "<title>" << XmlEscape(title) << "</title>\n"
        << "<style>\n"
        << "text { font-family: 'DejaVu Sans', Arial, sans-serif; fill: #222; }\n"
        << ".title { font-size: 18px; font-weight: bold; }\n"
        << ".subtitle, .path, .legend { font-size: 11px; fill: #555; }\n"
        << ".device { font-size: 14px; font-weight: bold; }\n"
        << ".light { font-size: 12px; font-weight: bold; }\n"
        << ".lanelabel, .tick { font-size: 10px; fill: #555; }\n"
        << ".seglabel { font-size: 10px; fill: #222; pointer-events: none; }\n"
        << ".seglabel.ondark { fill: #fff; }\n"
        << ".lane { fill: #f3f3f3; }\n"
        << ".grid { stroke: #ddd; stroke-width: 1; }\n"
        << ".seg { stroke: #fff; stroke-width: 0.5; }\n"
        << ".event { fill: #6f42c1; }\n"
        << ".event.failed { fill: #d63031; }\n"
        << "</style>\n"
        << "<rect x=\"0\" y=\"0\" width=\"" << Px(kWidth) << "\" height=\"" << Px(height)
        << "\" fill=\"#fff\"/>\n"
        << body.str() << "</svg>\n";
}

}  // namespace kvsdk::tool
