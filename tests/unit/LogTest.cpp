// The diagnostic log: line format, message texts, the "LogEnabled" switch and its two outputs.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/unit/LogTestEnvironment.h"
#include "platform/Platform.h"
#include "common/Strings.h"
#include "diag/Log.h"

namespace kvsdk {
namespace {

using test::DebuggerCapture;
using test::kFileNewline;
using test::LogTestEnvironment;

constexpr HRESULT kNotSupported = static_cast<HRESULT>(0x80070032u);

// The text with every digit replaced by '9'.
std::wstring Shape(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'0' && c <= L'9') c = L'9';
    }
    return text;
}

// The line as TraceHResult formats it, in UTF-8.
std::string ExpectedLine(int line, HRESULT hr) {
    return ToUtf8(FormatTraceLine(L"12/08/26", L"17:05:09", L"CDeviceVEXO::RestoreSettings", line,
                                  HResultText(hr), hr));
}

uint32_t Trace(int line, HRESULT hr, uint32_t passThrough = 7) {
    return TraceHResult(L"12/08/26", L"17:05:09", L"CDeviceVEXO::RestoreSettings", line, hr,
                        passThrough);
}

// "<line>\n" as it lands in the file, followed by the empty line.
std::string FileEntry(const std::string& line) {
    std::string entry = line.substr(0, line.size() - 1);
    return entry + kFileNewline + kFileNewline;
}

TEST(LogFormat, TraceLineFieldsAndCodeDigits) {
    EXPECT_EQ(FormatTraceLine(L"12/08/26", L"07:05:09", L"CDeviceVEXO::RestoreSettings", 342,
                              L"The request is not supported.", kNotSupported),
              L"12/08/26 - 07:05:09, CDeviceVEXO::RestoreSettings, Line = 342, "
              L"The request is not supported. (0x80070032)\n");
    // Eight upper-case digits, zero-padded; negative line numbers in decimal with their sign.
    EXPECT_EQ(FormatTraceLine(L"d", L"t", L"f", -5, L"x", static_cast<HRESULT>(0x1aB)),
              L"d - t, f, Line = -5, x (0x000001AB)\n");
    EXPECT_EQ(FormatTraceLine(L"d", L"t", L"f", 0, L"", static_cast<HRESULT>(0xFFFFFFFFu)),
              L"d - t, f, Line = 0,  (0xFFFFFFFF)\n");
}

TEST(LogFormat, LocalDateAndTimeTexts) {
    const std::wstring time = LocalTimeText();
    const std::wstring date = LocalDateText();
    EXPECT_EQ(Shape(time), L"99:99:99") << ToUtf8(time);
    EXPECT_EQ(Shape(date), L"99/99/99") << ToUtf8(date);
    if (Shape(date) != L"99/99/99") return;
    EXPECT_LE(std::stoi(time.substr(0, 2)), 23);
    const int month = std::stoi(date.substr(0, 2));
    EXPECT_TRUE(month >= 1 && month <= 12) << month;
    // The year field is the last two digits of the clock's year.
    const platform::LocalTime now = platform::GetLocalTimeNow();
    if (now.month == 12 && now.day == 31) GTEST_SKIP() << "the year may just have turned";
    EXPECT_EQ(std::stoi(date.substr(6)), now.year % 100);
}

TEST(LogMessageText, SystemTextLosesOnlyItsFinalLineBreak) {
    const std::optional<std::wstring> system = platform::SystemMessageText(kNotSupported);
    ASSERT_TRUE(system.has_value());
    std::wstring expected = *system;
    ASSERT_GT(expected.size(), 1u);
    if (expected.back() == L'\n') {
        expected.pop_back();
        if (!expected.empty() && expected.back() == L'\r') expected.pop_back();
    }
    const std::wstring text = HResultText(kNotSupported);
    EXPECT_EQ(text, expected);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), L'\n');
}

TEST(LogMessageText, FallbacksForCodesWithoutSystemText) {
    struct Case {
        uint32_t code;
        const wchar_t* text;
    };
    const Case cases[] = {
        {0x80040201u, L"IDispatch error #1"},
        {0x80040300u, L"IDispatch error #256"},
        {0x8004FFFFu, L"IDispatch error #65023"},
        {0x80040200u, L"Unknown error 0x80040200"},  // its 16-bit number is 0
        {0x800401FFu, L"Unknown error 0x800401FF"},  // just below the IDispatch range
        {0x80050000u, L"Unknown error 0x80050000"},  // just above it
        {0x00012345u, L"Unknown error 0x12345"},     // no leading zeros
    };
    for (const Case& c : cases) {
        const auto hr = static_cast<HRESULT>(c.code);
        if (platform::SystemMessageText(hr)) continue;  // the system knows this one
        const std::wstring text = HResultText(hr);
        EXPECT_EQ(text, c.text) << std::hex << c.code;
        EXPECT_LE(text.size(), 31u);
    }
}

TEST(LogFilePath, ProfileDirectory) {
    test::ScopedEnv profile(LogTestEnvironment::ProfileVariable(), "profile-dir");
    const std::wstring separator(1, platform::PathSeparator());
    EXPECT_EQ(LogFilePath(), L"profile-dir" + separator + L"KvSDK.log");
#ifdef _WIN32
    // Linux falls back to the account's home instead (HostileFilesTests).
    test::SetEnv(LogTestEnvironment::ProfileVariable(), std::nullopt);
    EXPECT_EQ(LogFilePath(), separator + L"KvSDK.log");
#endif
}

class LogSwitchTest : public testing::Test {
  protected:
    // Traces one line and returns what the debugger channel received.
    std::string TraceCapturing(int line, HRESULT hr) {
        DebuggerCapture capture;
        capture.Start();
        const uint32_t result = Trace(line, hr, 7);
        const std::string debugger = capture.Stop();
        EXPECT_EQ(result, 7u);
        return debugger;
    }

    LogTestEnvironment m_env;
};

TEST_F(LogSwitchTest, FileOnly) {
    m_env.SetSwitchBinary({0x01});
    EXPECT_EQ(TraceCapturing(342, kNotSupported), "");
    EXPECT_EQ(m_env.ReadLog(), FileEntry(ExpectedLine(342, kNotSupported)));
}

TEST_F(LogSwitchTest, DebuggerOnlyGetsASingleLineFeed) {
    m_env.SetSwitchBinary({0x02});
    EXPECT_EQ(TraceCapturing(342, kNotSupported), ExpectedLine(342, kNotSupported));
    EXPECT_FALSE(m_env.LogExists());
}

TEST_F(LogSwitchTest, BothOutputsAndTheDebuggerGetsTheExtraLineFeed) {
    m_env.SetSwitchBinary({0x03});
    EXPECT_EQ(TraceCapturing(356, kNotSupported), ExpectedLine(356, kNotSupported) + "\n");
    EXPECT_EQ(m_env.ReadLog(), FileEntry(ExpectedLine(356, kNotSupported)));
}

TEST_F(LogSwitchTest, NoOutputWhenOffOrUnreadable) {
    m_env.SetSwitchBinary({0x00});
    EXPECT_EQ(TraceCapturing(342, E_FAIL), "");
    m_env.RemoveSwitchValue();
    EXPECT_EQ(TraceCapturing(342, E_FAIL), "");
    m_env.RemoveSwitchKey();
    EXPECT_EQ(TraceCapturing(342, E_FAIL), "");
    EXPECT_FALSE(m_env.LogExists());
}

TEST_F(LogSwitchTest, ReadAfreshForEveryLine) {
    m_env.SetSwitchBinary({0x01});
    Trace(342, kNotSupported);
    Trace(356, E_FAIL);
    const std::string twoEntries =
        FileEntry(ExpectedLine(342, kNotSupported)) + FileEntry(ExpectedLine(356, E_FAIL));
    EXPECT_EQ(m_env.ReadLog(), twoEntries);

    // Removing the switch between two failures stops logging from the second one on.
    m_env.RemoveSwitchValue();
    EXPECT_EQ(TraceCapturing(370, E_FAIL), "");
    EXPECT_EQ(m_env.ReadLog(), twoEntries);

    m_env.SetSwitchBinary({0x01});
    Trace(384, E_FAIL);
    EXPECT_EQ(m_env.ReadLog(), twoEntries + FileEntry(ExpectedLine(384, E_FAIL)));
}

TEST_F(LogSwitchTest, LongerValueCountsWithItsFirstByte) {
    m_env.SetSwitchDword(0x00000003);
    EXPECT_EQ(ReadLogSwitch(), 0x03);
    m_env.SetSwitchDword(0x00000102);
    EXPECT_EQ(ReadLogSwitch(), 0x02);
    m_env.SetSwitchDword(0x00000100);
    EXPECT_EQ(ReadLogSwitch(), 0x00);
    m_env.SetSwitchBinary({0x01, 0x02, 0x03});
    EXPECT_EQ(ReadLogSwitch(), 0x01);
    m_env.SetSwitchBinary({});
    EXPECT_EQ(ReadLogSwitch(), 0x00);
}

TEST_F(LogSwitchTest, UnopenableFileLosesTheLineButNotTheDebuggerOutput) {
    m_env.SetSwitchBinary({0x03});
    // Somebody else holds the file.
    platform::ExclusiveFile* holder = platform::OpenExclusiveAppend(m_env.LogFile().wstring());
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(TraceCapturing(342, E_FAIL), ExpectedLine(342, E_FAIL) + "\n");
    platform::CloseExclusiveFile(holder);
    EXPECT_EQ(m_env.ReadLog(), "");

    // The profile directory does not exist.
    test::ScopedEnv profile(LogTestEnvironment::ProfileVariable(),
                            test::NativePath(m_env.Profile() / "missing"));
    EXPECT_EQ(TraceCapturing(356, E_FAIL), ExpectedLine(356, E_FAIL) + "\n");
    EXPECT_FALSE(std::filesystem::exists(m_env.Profile() / "missing"));

    // Once the file can be opened again, lines are appended as usual.
    test::SetEnv(LogTestEnvironment::ProfileVariable(), test::NativePath(m_env.Profile()));
    m_env.SetSwitchBinary({0x01});
    Trace(370, E_FAIL);
    EXPECT_EQ(m_env.ReadLog(), FileEntry(ExpectedLine(370, E_FAIL)));
}

TEST_F(LogSwitchTest, ConcurrentLinesStayWhole) {
    m_env.SetSwitchBinary({0x01});
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) Trace(1000 * (t + 1) + i, E_FAIL);
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(CLogFile::UseCount(), 0u);

    const std::string log = m_env.ReadLog();
    size_t entries = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLinesEach; ++i) {
            const std::string entry = FileEntry(ExpectedLine(1000 * (t + 1) + i, E_FAIL));
            if (log.find(entry) != std::string::npos) ++entries;
        }
    }
    EXPECT_EQ(entries, static_cast<size_t>(kThreads * kLinesEach));
    EXPECT_EQ(log.size(), kThreads * kLinesEach * FileEntry(ExpectedLine(1000, E_FAIL)).size());
}

}  // namespace
}  // namespace kvsdk
