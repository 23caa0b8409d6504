// ChannelHID on the simulated set: connect, tunnel writes and their trace.
#include <gtest/gtest.h>

#include <optional>

#include "KvSDKMod.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace kvsdk::test;

std::vector<std::string> Lines(const SimEnvironment& sim) {
    std::vector<std::string> lines;
    for (const auto& line : sim.Trace()) lines.push_back(line.raw.substr(line.raw.find(' ') + 1));
    return lines;
}

const uint8_t kData[3] = {0x10, 0x20, 0x30};

TEST(Channel, ConnectsToTheFirstMatchingInterfaceAndTracesWrites) {
    const std::string usb = UsbPath("0e5b", "first");
    SimEnvironment sim("mouse " + MousePath("0e59") + "\nusb " + usb + "\nusb " +
                       UsbPath("0E5B", "second") + " tunnel=7\n");
    const std::string USB = kvsdk::ToUpper(usb);
    {
        ChannelHID channel;
        ASSERT_TRUE(channel.Connect(0x7A3E, 0x0E5B));
        EXPECT_EQ(channel.I2CTunnelWrite(false, false, 0x60, 0, 2, kData, 3), 0);
        EXPECT_EQ(channel.I2CTunnelWrite(true, false, 0x0A, 0xFF, 0, kData, 1), 0);
    }
    const std::vector<std::string> expected{
        "connect " + USB + " 7A3E 0E5B = 1",
        "tunnel " + USB + " 0 0 60 00 02 102030 3 = 00000000",
        "tunnel " + USB + " 1 0 0A FF 00 10 1 = 00000000",
        "close " + USB + " = 00000000",
    };
    EXPECT_EQ(Lines(sim), expected);
}

TEST(Channel, AnswersTheCodesOfTheFile) {
    const std::string usb = UsbPath("0e5b");
    const std::string USB = kvsdk::ToUpper(usb);
    SimEnvironment sim("usb " + usb + " tunnel=0x5\n");
    {
        ChannelHID channel;
        ASSERT_TRUE(channel.Connect(0x7A3E, 0x0E5B));
        EXPECT_EQ(channel.I2CTunnelWrite(false, false, 0, 0, 0, kData, 3), 5);
        EXPECT_NE(channel.I2CTunnelWrite(false, false, 0, 0, 0, nullptr, 3), 0);
        EXPECT_NE(channel.I2CTunnelWrite(false, false, 0, 0, 0, kData, -1), 0);
    }
    EXPECT_EQ(Filter(sim.Trace(), "tunnel").size(), 1u);
    EXPECT_EQ(Filter(sim.Trace(), "tunnel")[0].result, "00000005");

    sim.Rewrite("usb " + usb + " connect=0\n");
    {
        ChannelHID refused;
        EXPECT_FALSE(refused.Connect(0x7A3E, 0x0E5B));
        EXPECT_NE(refused.I2CTunnelWrite(false, false, 0x60, 0, 2, kData, 3), 0);
    }
    const auto lines = Lines(sim);
    EXPECT_EQ(lines.back(), "connect " + USB + " 7A3E 0E5B = 0");  // no tunnel, no close
}

TEST(Channel, WithoutAMatchingInterfaceNothingConnects) {
    SimEnvironment sim("mouse " + MousePath("0e59") + "\n");
    ChannelHID channel;
    EXPECT_FALSE(channel.Connect(0x7A3E, 0x0E5B));
    EXPECT_FALSE(channel.Connect(-1, 0x1FFFF));
    EXPECT_NE(channel.I2CTunnelWrite(false, false, 0x60, 0, 2, kData, 3), 0);
    EXPECT_TRUE(sim.Trace().empty());

    ChannelHID unconnected;
    EXPECT_NE(unconnected.I2CTunnelWrite(false, false, 0x60, 0, 2, kData, 3), 0);
}

}  // namespace
