// Following a growing trace: lines as they come, hosts one after another, bad lines, a trace
// cut short or replaced, and the bound on what is kept.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/TestSupport.h"
#include "tools/kvsdk/TraceFollower.h"

namespace kvsdk::tool {
namespace {

const std::string kMouse = "\\\\?\\HID#VID_7A3E&PID_0E59&MI_00#1";

std::string Colour(uint64_t ms, uint32_t rgb) {
    char line[128];
    std::snprintf(line, sizeof line, "%llu set %s 01 03 00 01 %02X %02X %02X = 00000000\n",
                  static_cast<unsigned long long>(ms), kMouse.c_str(), rgb >> 16, (rgb >> 8) & 0xFF,
                  rgb & 0xFF);
    return line;
}

void Append(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::app) << text;
}

struct Followed {
    test::TempDir dir;
    std::filesystem::path file = dir / "trace.txt";
    uint64_t clock = 1000;
    CTraceFollower follower{file, [this] { return clock; }};

    LiveState Read() {
        while (follower.Poll()) {
        }
        return follower.State();
    }
    static const std::vector<Segment>& Colours(const LiveState& s) {
        return s.timeline.devices.at(0).lights.at(0).Of(Attribute::Color);
    }
};

TEST(TraceFollower, PlacesHostsOnOneAxisAndSkipsWhatIsNotATraceLine) {
    Followed f;
    EXPECT_EQ(f.Read().status, "waiting for the trace to appear");
    // A first host, a line that is not a trace line and one not yet ended.
    test::WriteTextFile(f.file, Colour(0, 0x100000) + Colour(400, 0x200000) + "garbage\n" +
                                    Colour(450, 0x300000).substr(0, 20));
    LiveState s = f.Read();
    EXPECT_EQ(s.skipped, 1u);
    ASSERT_EQ(Followed::Colours(s).size(), 2u);
    EXPECT_EQ(s.nowMs, 400u);  // what was there ends now
    // The line ends, then a second host starts its clock at 0 two seconds later.
    Append(f.file, Colour(450, 0x300000).substr(20));
    f.clock += 2000;
    Append(f.file, Colour(0, 0x400000) + Colour(30, 0x500000));
    s = f.Read();
    const auto& colours = Followed::Colours(s);
    ASSERT_EQ(colours.size(), 5u);
    EXPECT_EQ(colours[2].start, 450u);   // the first host's clock goes on
    EXPECT_EQ(colours[3].start, 2400u);  // the second one starts now
    EXPECT_EQ(colours[4].start, 2400u);  // its own 30 ms may not run ahead of the clock
    EXPECT_EQ(LastActivity(s.timeline.devices[0].lights[0])->text, "colour #500000");
}

TEST(TraceFollower, StartsOverWhenTheTraceIsCutShortOrReplaced) {
    for (const bool replace : {false, true}) {
        Followed f;
        test::WriteTextFile(f.file, Colour(0, 0x100000) + Colour(5, 0x200000));
        ASSERT_EQ(Followed::Colours(f.Read()).size(), 2u);
        if (replace) {
            test::WriteTextFile(f.dir / "new.txt", Colour(0, 0x300000) + Colour(9, 0x400000));
            std::filesystem::rename(f.dir / "new.txt", f.file);
        } else {
            test::WriteTextFile(f.file, Colour(0, 0x300000));
        }
        const LiveState s = f.Read();
        EXPECT_EQ(s.generation, 1u) << replace;
        EXPECT_EQ(Followed::Colours(s).front().value, 0x300000u) << replace;
    }
}

TEST(TraceFollower, KeepsTheCurrentStateAndTheLastMinuteOnly) {
    Followed f;
    std::string text = std::string(300 * 1024, 'x') + "\n";  // more than is read at once
    for (uint32_t i = 0; i < 20000; ++i) text += Colour(i * 10, i);
    test::WriteTextFile(f.file, text);
    const LiveState s = f.Read();
    EXPECT_EQ(s.skipped, 1u);  // the over-long line
    const auto& colours = Followed::Colours(s);
    EXPECT_LE(colours.size(), kMaxKeptPerList);
    EXPECT_EQ(colours.back().value, 19999u);
    EXPECT_GE(colours.front().end, s.nowMs - kHistoryMs);
}

}  // namespace
}  // namespace kvsdk::tool
