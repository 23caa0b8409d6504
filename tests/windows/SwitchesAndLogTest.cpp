// The registry switches and the trace log on Windows: "GameControl" under the current user,
// "LogEnabled" under the local machine, the log file in the user's profile and the debugger.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "common/Strings.h"
#include "tests/support/TestSupport.h"
#include "tests/windows/WinTestSupport.h"
#include "common/Win32Types.h"
#include "diag/Log.h"
#include "engine/GameControl.h"

namespace kvsdk {
namespace {

using wintest::CScopedRegKey;

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(GameControlSwitch, OffOnlyForADwordZero) {
    const std::wstring path = L"SOFTWARE\\TOLVE\\7A3E0E59";
    EXPECT_TRUE(IsGameControlEnabled(L"0E59")) << "no key";
    CScopedRegKey key(HKEY_CURRENT_USER, path);
    ASSERT_TRUE(key.Valid());
    EXPECT_TRUE(IsGameControlEnabled(L"0E59")) << "no value";
    key.SetDword(L"GameControl", 0);
    EXPECT_FALSE(IsGameControlEnabled(L"0E59"));
    EXPECT_TRUE(IsGameControlEnabled(L"0E5A")) << "one key per product id";
    key.SetDword(L"GameControl", 2);
    EXPECT_TRUE(IsGameControlEnabled(L"0E59"));
    key.SetBinary(L"GameControl", {0, 0, 0, 0});
    EXPECT_TRUE(IsGameControlEnabled(L"0E59")) << "another type";
}

class TraceLog : public ::testing::Test {
  protected:
    void SetSwitch(BYTE flags) { m_switch.SetBinary(L"LogEnabled", {flags}); }
    std::string LogText() const { return ReadBytes(m_profile / "KvSDK.log"); }
    uint32_t Trace(HRESULT hr) {
        return TraceHResult(LocalDateText(), LocalTimeText(), L"CDeviceVEXO::RestoreSettings", 342,
                            hr, 7);
    }

    test::TempDir m_profile;
    test::ScopedEnv m_env{"USERPROFILE", test::NativePath(m_profile.Path())};
    CScopedRegKey m_switch{HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLVE"};
};

TEST_F(TraceLog, SwitchIsReadFromTheMachineHive) {
    ASSERT_TRUE(m_switch.Valid());
    m_switch.DeleteValue(L"LogEnabled");
    EXPECT_EQ(ReadLogSwitch(), 0);
    SetSwitch(0x03);
    EXPECT_EQ(ReadLogSwitch(), 0x03);
    SetSwitch(0xFE);
    EXPECT_EQ(ReadLogSwitch(), 0xFE);
}

TEST_F(TraceLog, FileAndDebuggerReceiveTheLineAsTheSwitchSelects) {
    const std::regex line(
        R"(\d\d/\d\d/\d\d - \d\d:\d\d:\d\d, CDeviceVEXO::RestoreSettings, Line = 342, )"
        R"([^\r\n]+ \(0x80070032\)\r\n\r\n)");
    wintest::CDebugCapture capture;

    SetSwitch(0x01);
    EXPECT_EQ(Trace(kE_NOT_SUPPORTED), 7u);
    const std::string first = LogText();
    EXPECT_TRUE(std::regex_match(first, line)) << first;
    EXPECT_TRUE(capture.Messages().empty());

    SetSwitch(0x02);
    Trace(kE_NOT_SUPPORTED);
    EXPECT_EQ(LogText(), first) << "the file is left alone";
    ASSERT_EQ(capture.Messages().size(), 1u);
    const std::wstring debugText = capture.Messages()[0];
    EXPECT_EQ(debugText.substr(debugText.size() - 2), L")\n");

    SetSwitch(0x03);
    Trace(kE_NOT_SUPPORTED);
    ASSERT_EQ(capture.Messages().size(), 2u);
    const std::wstring both = capture.Messages()[1];
    EXPECT_EQ(both.substr(both.size() - 3), L")\n\n");
    // The file's line is the debugger's text with CR LF line ends.
    const std::string second = LogText().substr(first.size());
    EXPECT_TRUE(std::regex_match(second, line)) << second;
    EXPECT_EQ(FromUtf8(second.substr(0, second.find('\r'))), both.substr(0, both.find(L'\n')));

    m_switch.DeleteValue(L"LogEnabled");
    Trace(kE_NOT_SUPPORTED);
    EXPECT_EQ(capture.Messages().size(), 2u);
    EXPECT_EQ(LogText().size(), first.size() + second.size());
}

}  // namespace
}  // namespace kvsdk
