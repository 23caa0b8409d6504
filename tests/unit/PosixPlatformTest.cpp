// The Linux message table and the exclusive log file.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <string>

#include "common/Strings.h"
#include "tests/support/TestSupport.h"
#include "common/Win32Types.h"
#include "platform/Platform.h"

namespace {

using kvsdk::platform::SystemMessageText;
using kvsdk::test::TempDir;

TEST(PosixMessageTable, GivesTheSystemTextsWithTheirLineEnd) {
    EXPECT_EQ(SystemMessageText(kvsdk::kE_FAIL), L"Unspecified error\r\n");
    EXPECT_EQ(SystemMessageText(kvsdk::kE_POINTER), L"Invalid pointer\r\n");
    EXPECT_EQ(SystemMessageText(kvsdk::kE_NOINTERFACE), L"No such interface supported\r\n");
    EXPECT_EQ(SystemMessageText(kvsdk::kE_INVALIDARG), L"The parameter is incorrect.\r\n");
    EXPECT_EQ(SystemMessageText(kvsdk::kE_NOT_SUPPORTED), L"The request is not supported.\r\n");
    EXPECT_EQ(SystemMessageText(static_cast<HRESULT>(0x80070103u)),
              L"No more data is available.\r\n");
    EXPECT_EQ(SystemMessageText(static_cast<HRESULT>(0x8007048Fu)),
              L"The device is not connected.\r\n");
    EXPECT_EQ(SystemMessageText(kvsdk::kS_OK), L"The operation completed successfully.\r\n");
    // A plain Windows error number reads like its HRESULT.
    EXPECT_EQ(SystemMessageText(2), SystemMessageText(static_cast<HRESULT>(0x80070002u)));
    ASSERT_TRUE(SystemMessageText(2).has_value());
}

TEST(PosixMessageTable, HasNoTextForOtherCodes) {
    // These take the caller's "IDispatch error" / "Unknown error" texts.
    EXPECT_FALSE(SystemMessageText(static_cast<HRESULT>(0x80040201u)).has_value());
    EXPECT_FALSE(SystemMessageText(static_cast<HRESULT>(0x80040200u)).has_value());
    EXPECT_FALSE(SystemMessageText(static_cast<HRESULT>(0x12345678u)).has_value());
    EXPECT_FALSE(SystemMessageText(static_cast<HRESULT>(0xE000020Bu)).has_value());
}

class PosixExclusiveFile : public testing::Test {
  protected:
    std::wstring Path() const {
        return kvsdk::FromUtf8(kvsdk::test::NativePath(m_dir / "KvSDK.log"));
    }
    std::string Contents() const { return kvsdk::test::ReadTextFile(m_dir / "KvSDK.log"); }

    TempDir m_dir;
};

TEST_F(PosixExclusiveFile, SecondOpenFailsWhileTheFirstHoldsIt) {
    auto* first = kvsdk::platform::OpenExclusiveAppend(Path());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(kvsdk::platform::OpenExclusiveAppend(Path()), nullptr);
    EXPECT_TRUE(kvsdk::platform::WriteExclusiveFile(first, L"one\n\n"));
    kvsdk::platform::CloseExclusiveFile(first);

    // Released: the next open succeeds and appends.
    auto* second = kvsdk::platform::OpenExclusiveAppend(Path());
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(kvsdk::platform::WriteExclusiveFile(second, L"two\n"));
    kvsdk::platform::CloseExclusiveFile(second);
    EXPECT_EQ(Contents(), "one\n\ntwo\n");
}

// A process that opened the log just before another moved it aside must not move the new one.
TEST_F(PosixExclusiveFile, MovesAsideOnlyTheFileItsNameStillLeadsTo) {
    kvsdk::test::WriteTextFile(m_dir / "KvSDK.log", "full");
    auto* late = kvsdk::platform::OpenExclusiveAppend(Path());
    ASSERT_NE(late, nullptr);
    std::filesystem::rename(m_dir / "KvSDK.log", m_dir / "KvSDK.log.1");  // the other one rotates
    kvsdk::test::WriteTextFile(m_dir / "KvSDK.log", "new");
    EXPECT_FALSE(kvsdk::platform::MoveHeldFileAside(late, Path(), Path() + L".1"));
    kvsdk::platform::CloseExclusiveFile(late);
    EXPECT_EQ(Contents(), "new");
    EXPECT_EQ(kvsdk::test::ReadTextFile(m_dir / "KvSDK.log.1"), "full");
}

TEST_F(PosixExclusiveFile, OpenFailsInAMissingFolder) {
    const auto path = kvsdk::FromUtf8(kvsdk::test::NativePath(m_dir / "missing" / "KvSDK.log"));
    EXPECT_EQ(kvsdk::platform::OpenExclusiveAppend(path), nullptr);
    EXPECT_EQ(kvsdk::platform::OpenExclusiveAppend(L""), nullptr);
    EXPECT_FALSE(kvsdk::platform::WriteExclusiveFile(nullptr, L"x"));
}

TEST_F(PosixExclusiveFile, WritesTheLocalesMultibyteFormUpToTheFirstUnconvertibleCharacter) {
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    auto* file = kvsdk::platform::OpenExclusiveAppend(Path());
    ASSERT_NE(file, nullptr);
    // In the "C" locale a character up to 0xFF is one byte; U+0100 has no form and ends the line.
    EXPECT_TRUE(kvsdk::platform::WriteExclusiveFile(file, L"caf\u00e9\n"));
    EXPECT_FALSE(kvsdk::platform::WriteExclusiveFile(file, L"ab\u0100cd\n"));
    kvsdk::platform::CloseExclusiveFile(file);
    EXPECT_EQ(Contents(), "caf\xE9\nab");

    if (std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr) {
        file = kvsdk::platform::OpenExclusiveAppend(Path());
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(kvsdk::platform::WriteExclusiveFile(file, L"\u0100"));
        kvsdk::platform::CloseExclusiveFile(file);
        EXPECT_EQ(Contents(), "caf\xE9\nab\xC4\x80");
    }
    std::setlocale(LC_CTYPE, previous.c_str());
}

}  // namespace

#endif  // _WIN32
