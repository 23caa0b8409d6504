// The VEXO settings restore, run by destroying device objects on simulated devices.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "KvSDKEng.h"
#include "tests/unit/LogTestEnvironment.h"
#include "common/Strings.h"
#include "devices/DeviceVEXO.h"
#include "diag/Log.h"

namespace kvsdk {
namespace {

using test::Filter;
using test::LogTestEnvironment;
using test::SimEnvironment;
using test::TraceLine;

constexpr HRESULT kNotSupported = static_cast<HRESULT>(0x80070032u);
constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001Fu);

std::vector<std::string> Details(const std::vector<TraceLine>& lines) {
    std::vector<std::string> details;
    for (const TraceLine& line : lines) details.push_back(line.details);
    return details;
}

// The file entries that restoring writes for these line numbers and this code.
std::string LogEntries(const std::vector<int>& lineNumbers, HRESULT hr) {
    const std::string text = ToUtf8(HResultText(hr));
    char code[16];
    std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(hr));
    std::string entries;
    for (int line : lineNumbers) {
        entries += ", CDeviceVEXO::RestoreSettings, Line = " + std::to_string(line) + ", " + text +
                   " (0x" + code + ")" + test::kFileNewline + test::kFileNewline;
    }
    return entries;
}

// The log with the leading "MM/DD/YY - HH:MM:SS" of every entry taken off.
std::string LogWithoutTimes(const std::string& log) {
    std::string out;
    size_t pos = 0;
    while (pos < log.size()) {
        const size_t comma = log.find(',', pos);
        if (comma == std::string::npos || comma - pos != 19) return log;  // not the expected shape
        const size_t end = log.find(std::string(test::kFileNewline) + test::kFileNewline, comma);
        if (end == std::string::npos) return log;
        const size_t next = end + 2 * std::string(test::kFileNewline).size();
        out += log.substr(comma, next - comma);
        pos = next;
    }
    return out;
}

class RestoreSettingsTest : public testing::Test {
  protected:
    // Creates the device object on 'path' and destroys it, which restores the settings.
    static void CreateAndDestroy(const std::string& path) {
        auto device = std::make_unique<CDeviceVEXO>(FromUtf8(path).c_str());
        device.reset();
    }

    LogTestEnvironment m_log;
};

TEST_F(RestoreSettingsTest, Vexo0E51ReadsAndWritesBackFourLights) {
    const std::string path = test::MousePath("0E51");
    SimEnvironment sim("mouse " + path + " reg.00030101=11 reg.0003010B=22 reg.0003010A=33\n");
    m_log.SetSwitchBinary({0x03});
    CreateAndDestroy(path);

    const auto trace = sim.Trace();
    // Byte 4 of a request is what the previous answer on the same buffer left (B: 01, 0B, 0A;
    // A: 0B).
    EXPECT_EQ(Details(Filter(trace, "get")),
              (std::vector<std::string>{
                  "00 03 01 01 00 -> 00 03 01 01 11", "00 03 01 0B 11 -> 00 03 01 0B 22",
                  "00 03 01 0A 22 -> 00 03 01 0A 33", "00 03 01 0B 00 -> 00 03 01 0B 22"}));
    EXPECT_EQ(Details(Filter(trace, "set")),
              (std::vector<std::string>{"00 03 01 01 11", "00 03 01 0B 22", "00 03 01 0A 33",
                                        "00 03 01 0B 22"}));
    EXPECT_FALSE(m_log.LogExists());
}

TEST_F(RestoreSettingsTest, Vexo0E52ReadsAndWritesBackFourLights) {
    const std::string path = test::MousePath("0E52");
    SimEnvironment sim("mouse " + path + " reg.00030105=55 reg.0003010B=BB\n");
    CreateAndDestroy(path);

    const auto trace = sim.Trace();
    EXPECT_EQ(Details(Filter(trace, "get")),
              (std::vector<std::string>{
                  "00 03 01 05 00 -> 00 03 01 05 55", "00 03 01 0B 55 -> 00 03 01 0B BB",
                  "00 03 01 0B 00 -> 00 03 01 0B BB", "00 03 01 05 BB -> 00 03 01 05 55"}));
    EXPECT_EQ(Details(Filter(trace, "set")),
              (std::vector<std::string>{"00 03 01 05 55", "00 03 01 0B BB", "00 03 01 0B BB",
                                        "00 03 01 05 55"}));
}

TEST_F(RestoreSettingsTest, FailedWritesAreTraced) {
    const std::string path = test::MousePath("0E52");
    SimEnvironment sim("mouse " + path + " set=8007001F\n");
    m_log.SetSwitchBinary({0x01});
    CreateAndDestroy(path);

    const auto trace = sim.Trace();
    EXPECT_EQ(Filter(trace, "get").size(), 4u);
    EXPECT_EQ(Filter(trace, "set").size(), 4u);
    EXPECT_EQ(LogWithoutTimes(m_log.ReadLog()), LogEntries({404, 418, 432, 446}, kGenFailure));
}

TEST_F(RestoreSettingsTest, ATimeoutOrAGoneDeviceEndsTheTalkAndAllOfItKeepsOneDeadline) {
    const std::string path = test::MousePath("0E52");
    // With Sets of 600 ms each, a third exchange would begin past the restore's second.
    const std::pair<const char*, size_t> cases[] = {
        {"get=800705B4", 1}, {"set=8007048F", 1}, {"setdelay=600", 2}};
    for (const auto& [keys, exchanges] : cases) {
        SimEnvironment sim("mouse " + path + " " + keys + "\n");
        CreateAndDestroy(path);
        EXPECT_LE(Filter(sim.Trace(), "get").size(), exchanges) << keys;
    }
}

TEST_F(RestoreSettingsTest, OtherProductsRestoreNothing) {
    const std::string other = test::MousePath("0E59");
    const std::string noPid = "\\\\?\\HID#VID_7A3E&MI_00#1#{378DE44C-56EF-11D1-BC8C-00A0C91405DD}";
    SimEnvironment sim("mouse " + other + " get=80070032\nmouse " + noPid + " get=80070032\n");
    m_log.SetSwitchBinary({0x01});
    CreateAndDestroy(other);
    CreateAndDestroy(noPid);

    const auto trace = sim.Trace();
    EXPECT_TRUE(Filter(trace, "get").empty());
    EXPECT_TRUE(Filter(trace, "set").empty());
    EXPECT_FALSE(m_log.LogExists());
}

// A VEXO device whose reads fail at chosen calls and otherwise go to the device.
class FlakyVexo : public CDeviceVEXO {
  public:
    FlakyVexo(const std::wstring& path, std::vector<int> failingGets)
        : CDeviceVEXO(path.c_str()), m_failingGets(std::move(failingGets)) {}

    HRESULT Get(uint8_t* buffer, uint32_t* length) override {
        const int call = m_getCalls++;
        for (int failing : m_failingGets) {
            if (failing == call) return kNotSupported;
        }
        return CDeviceVEXO::Get(buffer, length);
    }

  private:
    std::vector<int> m_failingGets;
    int m_getCalls = 0;
};

TEST_F(RestoreSettingsTest, OneFailedReadSkipsOnlyItsOwnWrite) {
    const std::string path = test::MousePath("0E51");
    SimEnvironment sim("mouse " + path + " reg.00030101=11 reg.0003010B=22 reg.0003010A=33\n");
    m_log.SetSwitchBinary({0x01});
    FlakyVexo device(FromUtf8(path), {0, 3});
    device.RestoreSettings();

    const auto trace = sim.Trace();
    // The failed first read leaves byte 4 of B at 0 for the second exchange.
    EXPECT_EQ(Details(Filter(trace, "get")),
              (std::vector<std::string>{"00 03 01 0B 00 -> 00 03 01 0B 22",
                                        "00 03 01 0A 22 -> 00 03 01 0A 33"}));
    EXPECT_EQ(Details(Filter(trace, "set")),
              (std::vector<std::string>{"00 03 01 0B 22", "00 03 01 0A 33"}));
    EXPECT_EQ(LogWithoutTimes(m_log.ReadLog()), LogEntries({342, 384}, kNotSupported));
    m_log.RemoveSwitchKey();
}

// What a host sees: a failing read on a simulated 0E51 device, logging on, and the engine shut
// down.
TEST_F(RestoreSettingsTest, EngineShutdownRestoresAndLogsFailedReads) {
    const std::string path = test::MousePath("0E51");
    SimEnvironment sim("mouse " + path + " get=80070032\n");
    m_log.SetSwitchBinary({0x01});
    ASSERT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    EXPECT_TRUE(Filter(sim.Trace(), "get").empty());
    EXPECT_EQ(KvSDKEngUninit(), S_OK);

    const auto trace = sim.Trace();
    EXPECT_EQ(Details(Filter(trace, "get")),
              (std::vector<std::string>{
                  "00 03 01 01 00 -> 00 03 01 01 00", "00 03 01 0B 00 -> 00 03 01 0B 00",
                  "00 03 01 0A 00 -> 00 03 01 0A 00", "00 03 01 0B 00 -> 00 03 01 0B 00"}));
    EXPECT_TRUE(Filter(trace, "set").empty());
    EXPECT_EQ(LogWithoutTimes(m_log.ReadLog()), LogEntries({342, 356, 370, 384}, kNotSupported));
}

}  // namespace
}  // namespace kvsdk
