// The kvsdk command line: names, ranges, required and foreign options.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/kvsdk/CommandLine.h"

namespace kvsdk::tool {
namespace {

ParseResult Parse(std::vector<std::string> args) {
    return ParseCommandLine(args);
}

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

TEST(CommandLine, SetFillsTheRecordAsTheLibraryReadsIt) {
    auto r = Parse({"set", "FLASH_2", "--product", "Pell_Mouse_0E59", "--light", "3"});
    ASSERT_TRUE(r.invocation) << r.error;
    const SetRequest& set = r.invocation->set;
    EXPECT_EQ(r.invocation->command, Command::Set);
    EXPECT_EQ(set.effect.kind, EffectKind::Flash2);
    EXPECT_EQ(set.params.size, sizeof(EffectParams));
    EXPECT_TRUE(SameGuid(set.params.productGuid, PRODUCT_PELL_MOUSE_0E59));
    EXPECT_EQ(set.params.lightSelector, 3u);

    // The header's full names are accepted too, and hexadecimal numbers.
    r = Parse({"set", "EFFECT_LED_COLOR", "--product", "PRODUCT_PELL_KEYBOARD_0E5A", "--light",
               "0x7", "--rgb", "16,32,0x30"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_EQ(r.invocation->set.params.lightSelector, 7u);
    EXPECT_EQ(r.invocation->set.params.red, 16);
    EXPECT_EQ(r.invocation->set.params.green, 32);
    EXPECT_EQ(r.invocation->set.params.blue, 0x30);
}

TEST(CommandLine, EffectSpecificFields) {
    auto r = Parse({"set", "mode_2_params", "--product", "vexo", "--light", "3", "--param1",
                    "65535", "--percent", "100", "--param2", "0", "--param3", "500"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_EQ(r.invocation->set.params.param1, 65535u);
    EXPECT_EQ(r.invocation->set.params.percent, 100u);
    EXPECT_EQ(r.invocation->set.params.param3, 500u);

    // A lighting-mode kind sets its own mode unless --mode names another.
    r = Parse({"set", "mode_2", "--product", "pell_keyboard_0e5a", "--light", "7"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_TRUE(SameGuid(r.invocation->set.params.modeGuid, EFFECT_LED_MODE_2));
    r = Parse({"set", "mode_0", "--product", "pell_keyboard_0e5a", "--light", "7", "--mode", "4"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_TRUE(SameGuid(r.invocation->set.params.modeGuid, EFFECT_LED_MODE_4));

    r = Parse({"set", "vexo_mode_a", "--product", "vexo_0e51", "--device-mode", "1"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_EQ(r.invocation->set.params.deviceMode, 1);

    // The USB device's colour goes to a tunnel code carried in the light selector.
    r = Parse({"set", "color", "--product", "pell_usb_0e5b", "--light", "0x61", "--rgb", "1,2,3"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_EQ(r.invocation->set.params.lightSelector, 0x61u);

    // Device blink (count 0) takes one byte per time; counted blinks take milliseconds.
    EXPECT_TRUE(Parse({"set", "blink", "--product", "pell", "--light", "1", "--count", "0", "--off",
                       "255", "--on", "0"})
                    .invocation);
    EXPECT_TRUE(Parse({"set", "blink", "--product", "pell", "--light", "1", "--count", "2", "--off",
                       "1000", "--on", "10"})
                    .invocation);
}

TEST(CommandLine, RejectsBadInputWithAClearMessage) {
    struct Case {
        std::vector<std::string> args;
        const char* message;  // part of the error text
    };
    const std::vector<Case> cases = {
        {{}, "no command"},
        {{"launch"}, "unknown command 'launch'"},
        {{"set"}, "needs an effect name"},
        {{"set", "flash_4", "--product", "pell", "--light", "1"}, "unknown effect 'flash_4'"},
        {{"set", "flash_1", "--product", "pell_mouse", "--light", "1"},
         "unknown product 'pell_mouse'"},
        {{"set", "flash_1", "--light", "1"}, "needs --product"},
        {{"set", "flash_1", "--product", "pell"}, "needs --light"},
        {{"set", "brightness", "--product", "pell", "--light", "1"}, "needs --level"},
        {{"set", "blink", "--product", "pell", "--light", "1", "--count", "2", "--off", "10"},
         "needs --on"},
        {{"set", "flash_1", "--product", "pell", "--light", "1", "--rgb", "1,2,3"},
         "--rgb does not apply to effect flash_1"},
        {{"set", "flash_1", "--product", "pell", "--light", "1", "--light", "2"}, "given twice"},
        {{"set", "flash_1", "--product", "pell", "--light"}, "--light needs a value"},
        {{"set", "flash_1", "--product", "pell", "--light", "1", "--speed", "2"},
         "unknown option --speed"},
        {{"set", "flash_1", "--product", "pell", "--light", "0"}, "--light must be from 1 to 7"},
        {{"set", "flash_1", "--product", "pell", "--light", "8"}, "--light must be from 1 to 7"},
        {{"set", "flash_1", "--product", "pell", "--light", "-1"}, "--light must be a number"},
        {{"set", "flash_1", "--product", "pell", "--light", "1x"}, "--light must be a number"},
        {{"set", "brightness", "--product", "pell", "--light", "1", "--level", "101"},
         "--level must be from 0 to 100"},
        {{"set", "brightness", "--product", "pell", "--light", "1", "--level",
          "99999999999999999999999"},
         "--level must be from 0 to 100"},
        {{"set", "on", "--product", "vexo", "--light", "1", "--duration", "60001"}, "--duration"},
        {{"set", "color", "--product", "pell_mouse_0e59", "--light", "1", "--rgb", "1,2"},
         "three numbers"},
        {{"set", "color", "--product", "pell_mouse_0e59", "--light", "1", "--rgb", "1,2,"},
         "three numbers"},
        {{"set", "color", "--product", "pell_mouse_0e59", "--light", "1", "--rgb", "1,2,256"},
         "blue must be from 0 to 255"},
        {{"set", "color", "--product", "pell_usb_0e5b", "--light", "1", "--rgb", "1,2,3"},
         "--light must be from 96 to 98"},
        {{"set", "mode_0", "--product", "pell_keyboard_0e5a", "--light", "7", "--mode", "3"},
         "--mode must be 0, 1, 2 or 4"},
        {{"set", "vexo_mode_b", "--product", "vexo", "--device-mode", "3"},
         "--device-mode must be from 1 to 2"},
        {{"set", "blink", "--product", "pell", "--light", "1", "--count", "0", "--off", "256",
          "--on", "1"},
         "--off must be from 0 to 255"},
        {{"set", "blink", "--product", "pell", "--light", "1", "--count", "101", "--off", "1",
          "--on", "1"},
         "--count must be from 0 to 100"},
        {{"set", "mode_2_params", "--product", "vexo", "--light", "3", "--param1", "65536",
          "--percent", "1", "--param2", "1", "--param3", "1"},
         "--param1 must be from 0 to 65535"},
        {{"get", "flash_1", "--product", "vexo_0e51", "--light", "1"}, "'state' or 'brightness'"},
        {{"get", "state", "--product", "pell_mouse_0e59", "--light", "1"},
         "only vexo_0e51 and vexo_0e52"},
        {{"get", "state", "--product", "vexo", "--light", "1"}, "only vexo_0e51 and vexo_0e52"},
        {{"get", "brightness", "--product", "vexo_0e52"}, "needs --light"},
        {{"timeline"}, "exactly one trace file"},
        {{"timeline", "a.txt", "--trace", "b"}, "--trace does not apply to timeline"},
        {{"devices", "extra"}, "no arguments"},
        {{"watch", "a.txt", "b.txt"}, "unexpected argument 'b.txt'"},
        {{"watch", "--port", "1"}, "--port does not apply to watch"},
        {{"view", "--port", "0"}, "--port must be from 1 to 65535"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& word : c.args) line += word + " ";
        const ParseResult r = ParseCommandLine(c.args);
        EXPECT_FALSE(r.invocation) << line;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << line << "\n  got: " << r.error;
    }
}

TEST(CommandLine, OtherCommands) {
    auto r = Parse({"get", "Brightness", "--product", "vexo_0e52", "--light", "6"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_EQ(r.invocation->command, Command::Get);
    EXPECT_EQ(r.invocation->get.effect.kind, EffectKind::Brightness);
    EXPECT_EQ(r.invocation->get.light, 6u);

    r = Parse({"timeline", "trace.txt", "--svg", "out.svg"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_EQ(r.invocation->traceFile, "trace.txt");
    EXPECT_EQ(r.invocation->svgFile.value_or(""), "out.svg");

    r = Parse({"demo"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_EQ(r.invocation->command, Command::Demo);
    EXPECT_FALSE(r.invocation->svgFile);

    r = Parse({"view", "t.txt", "--port", "9000"});
    ASSERT_TRUE(r.invocation) << r.error;
    EXPECT_EQ(r.invocation->command, Command::View);
    EXPECT_EQ(r.invocation->traceFile, "t.txt");
    EXPECT_EQ(r.invocation->port, 9000);

    r = Parse({"set", "flash_1", "--help"});
    ASSERT_TRUE(r.invocation);
    EXPECT_EQ(r.invocation->command, Command::Help);
}

TEST(CommandLine, WaitFollowsTheEffectsOwnPauses) {
    EffectParams p{};
    EXPECT_EQ(EffectPauseMs(EffectKind::Flash3, p), 1800u);
    EXPECT_EQ(EffectPauseMs(EffectKind::Flash1, p), 600u);
    p.count = 3;
    p.offTime = 100;
    p.onTime = 50;
    EXPECT_EQ(EffectPauseMs(EffectKind::Blink, p), 450u);
    p = {};
    p.duration = 250;
    EXPECT_EQ(EffectPauseMs(EffectKind::Off, p), 250u);
    EXPECT_EQ(EffectPauseMs(EffectKind::Color, p), 0u);
}

}  // namespace
}  // namespace kvsdk::tool
