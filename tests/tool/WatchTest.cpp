// The screen of 'kvsdk watch': colours at the terminal's depth, and a screen that fits.
#include <gtest/gtest.h>

#include <regex>

#include "tools/kvsdk/Watch.h"

namespace kvsdk::tool {
namespace {

TEST(Watch, SwatchAtTheDepthTheTerminalClaims) {
    struct Case {
        std::optional<std::string> colorterm, term;
        uint32_t rgb;
        const char* expected;
    } cases[] = {
        {"truecolor", "xterm", 0xFF5000, "\x1b[48;2;255;80;0m"},
        {"24bit", std::nullopt, 0x0078FF, "\x1b[48;2;0;120;255m"},
        {std::nullopt, "tmux-256color", 0xFF5000, "\x1b[48;5;202m"},
        {std::nullopt, "xterm", 0xFF1010, "\x1b[101m"},
        {std::nullopt, std::nullopt, 0x000010, "\x1b[40m"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Background(c.rgb, ColorDepthOf(c.colorterm, c.term)), c.expected) << c.rgb;
    }
}

TEST(Watch, ScreenFitsTheTerminalAndShowsNoControlCharacterOfTheTrace) {
    LiveState state;
    state.timeline = BuildTimeline(
        "0 set \\\\?\\HID#VID_7A3E&PID_0E59#\x1b[2J 01 03 00 01 FF 50 00 = 00000000\n"
        "1 set \\\\?\\HID#VID_7A3E&PID_0E59#\x1b[2J 00 03 00 01 01 = 00000000\n"
        "2 set \\\\?\\HID#VID_7A3E&PID_0E5A#1 00 03 00 01 00 = 00000000\n");
    state.nowMs = 1500;
    const std::string screen = WatchScreen(state, "t.txt", 200, 5, ColorDepth::TrueColor);
    EXPECT_EQ(screen.find("\x1b[2J"), std::string::npos);
    EXPECT_NE(screen.find("light 0x01  on  \x1b[48;2;255;80;0m  \x1b[0m #FF5000"),
              std::string::npos);
    EXPECT_NE(screen.find("state on, 1.5 s ago"), std::string::npos);
    EXPECT_NE(screen.find("... 2 more lines"), std::string::npos);  // 6 lines on 5 rows
    for (const int cols : {10, 40}) {
        const std::string narrow = WatchScreen(state, "t.txt", cols, 24, ColorDepth::Basic16);
        size_t start = narrow.find("\x1b[H") + 3;
        for (size_t end; (end = narrow.find("\x1b[K", start)) != std::string::npos;) {
            const std::string line = std::regex_replace(narrow.substr(start, end - start),
                                                        std::regex("\x1b\\[[0-9;]*m"), "");
            EXPECT_LE(line.size(), static_cast<size_t>(cols)) << line;
            start = end + 5;  // "\x1b[K\r\n"
        }
    }
}

}  // namespace
}  // namespace kvsdk::tool
