// The simulated device file: parsing, skipped lines, loading through KVSDK_SIM.
#include <gtest/gtest.h>

#include "common/SimFile.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"

namespace {

using kvsdk::sim::InterfaceClass;
using kvsdk::sim::LoadSimFile;
using kvsdk::sim::ParseSimFile;
using kvsdk::sim::RegisterKey;
using namespace kvsdk::test;

TEST(SimFileParse, ReadsClassesPathsAndKeys) {
    const std::string text =
        "\xEF\xBB\xBF# simulated devices\r\n"
        "\r\n"
        "   # indented comment\n"
        "mouse \\\\?\\hid#vid_7a3e&pid_0e59&mi_00#1#{x}\tinit=0x80070005 get=80070032\r\n"
        "\tkeyboard\t\\\\?\\hid#vid_7a3e&pid_0e5a&mi_02#1#{y}  set=0X1f connect=0 tunnel=ff\n"
        "usb P3 reg.02030001=7F reg.0x03030001=0x5 reg.02030001=80\n"
        "mouse P4";

    std::vector<std::string> warnings;
    const auto items = ParseSimFile(text, &warnings);
    EXPECT_TRUE(warnings.empty());
    ASSERT_EQ(items.size(), 4u);

    EXPECT_EQ(items[0].interfaceClass, InterfaceClass::Mouse);
    EXPECT_EQ(items[0].path, L"\\\\?\\hid#vid_7a3e&pid_0e59&mi_00#1#{x}");
    EXPECT_EQ(static_cast<uint32_t>(items[0].initResult), 0x80070005u);
    EXPECT_EQ(static_cast<uint32_t>(items[0].getResult), 0x80070032u);
    EXPECT_EQ(items[0].setResult, 0);
    EXPECT_TRUE(items[0].connectResult);
    EXPECT_EQ(items[0].tunnelResult, 0);

    EXPECT_EQ(items[1].interfaceClass, InterfaceClass::Keyboard);
    EXPECT_EQ(items[1].setResult, 0x1F);
    EXPECT_FALSE(items[1].connectResult);
    EXPECT_EQ(items[1].tunnelResult, 0xFF);

    EXPECT_EQ(items[2].interfaceClass, InterfaceClass::Usb);
    ASSERT_EQ(items[2].registers.size(), 2u);
    EXPECT_EQ(items[2].registers.at(RegisterKey{0x02, 0x03, 0x00, 0x01}), 0x80);  // last wins
    EXPECT_EQ(items[2].registers.at(RegisterKey{0x03, 0x03, 0x00, 0x01}), 0x05);

    EXPECT_EQ(items[3].path, L"P4");  // last line without a line break
}

TEST(SimFileParse, SkipsBadLinesAndKeepsTheRest) {
    const std::string text =
        "mouse A\n"
        "joystick B\n"                // unknown class
        "keyboard\n"                  // no path
        "mouse C init=zz\n"           // bad number
        "mouse D colour=1\n"          // unknown key
        "mouse E reg.0203=01\n"       // register key of two bytes
        "mouse F reg.02030001=100\n"  // register value above one byte
        "usb G connect=2\n"           // connect is 0 or 1
        "mouse H get=123456789\n"     // more than 32 bits
        "usb I tunnel=3\n";
    std::vector<std::string> warnings;
    const auto items = ParseSimFile(text, &warnings);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].path, L"A");
    EXPECT_EQ(items[1].path, L"I");
    EXPECT_EQ(items[1].tunnelResult, 3);
    ASSERT_EQ(warnings.size(), 8u);
    EXPECT_NE(warnings[0].find("line 2"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[7].find("line 9"), std::string::npos) << warnings[7];

    EXPECT_TRUE(ParseSimFile("").empty());
    EXPECT_TRUE(ParseSimFile("\n\n# only comments\n").empty());
}

TEST(SimFileLoad, FollowsTheVariableAtEveryCall) {
    {
        ScopedEnv unset("KVSDK_SIM", std::nullopt);
        EXPECT_FALSE(LoadSimFile().has_value());
    }
    TempDir dir;
    {
        ScopedEnv missing("KVSDK_SIM", NativePath(dir / "absent.sim"));
        const auto items = LoadSimFile();
        ASSERT_TRUE(items.has_value());
        EXPECT_TRUE(items->empty());
    }
    SimEnvironment sim("mouse A\nbogus line\nusb B\n");
    std::wstring source;
    auto items = LoadSimFile(&source);
    ASSERT_TRUE(items.has_value());
    EXPECT_EQ(items->size(), 2u);
    EXPECT_EQ(source, kvsdk::FromUtf8(NativePath(sim.SimFile())));

    sim.Rewrite("keyboard K\n");
    items = LoadSimFile();
    ASSERT_EQ(items->size(), 1u);
    EXPECT_EQ((*items)[0].path, L"K");
}

}  // namespace
