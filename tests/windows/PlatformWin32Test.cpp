// The Windows platform backend against the real Windows APIs: registry reader, message table,
// exclusive log file, named event and debugger channel.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/TestSupport.h"
#include "tests/windows/WinTestSupport.h"
#include "common/Win32Types.h"
#include "platform/Platform.h"

namespace kvsdk {
namespace {

using platform::Hive;
using wintest::CScopedRegKey;

const std::wstring kTestKey = L"SOFTWARE\\KvSDKEngTests\\Registry";

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RegistryReader : public ::testing::Test {
  protected:
    CScopedRegKey m_key{HKEY_CURRENT_USER, kTestKey};
};

TEST_F(RegistryReader, ReadsValuesOfEachTypeIntoTheBuffer) {
    ASSERT_TRUE(m_key.Valid());
    m_key.SetDword(L"Dword", 0x01020304);
    m_key.SetBinary(L"Byte", {0x03});
    m_key.SetString(L"Text", L"ab");

    auto dword =
        platform::QueryRegistryValue(Hive::CurrentUser, kTestKey, kKeyReadWrite, L"Dword", 4);
    EXPECT_TRUE(dword.keyOpened);
    EXPECT_EQ(dword.status, kErrorSuccess);
    EXPECT_EQ(dword.type, kRegDword);
    EXPECT_EQ(dword.dataSize, 4u);
    EXPECT_EQ(dword.data, (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01}));

    auto binary =
        platform::QueryRegistryValue(Hive::CurrentUser, kTestKey, kKeyReadWrite, L"Byte", 1);
    EXPECT_EQ(binary.status, kErrorSuccess);
    EXPECT_EQ(binary.type, kRegBinary);
    EXPECT_EQ(binary.data, (std::vector<uint8_t>{0x03}));

    // A string fits a larger buffer; only the bytes the value holds come back.
    auto text =
        platform::QueryRegistryValue(Hive::CurrentUser, kTestKey, kKeyReadWrite, L"Text", 64);
    EXPECT_EQ(text.status, kErrorSuccess);
    EXPECT_EQ(text.type, kRegSz);
    EXPECT_EQ(text.data, (std::vector<uint8_t>{'a', 0, 'b', 0, 0, 0}));
}

TEST_F(RegistryReader, ValueLongerThanTheBufferAnswersMoreDataWithoutData) {
    m_key.SetDword(L"Dword", 1);
    auto value =
        platform::QueryRegistryValue(Hive::CurrentUser, kTestKey, kKeyReadWrite, L"Dword", 1);
    EXPECT_TRUE(value.keyOpened);
    EXPECT_EQ(value.status, kErrorMoreData);
    EXPECT_EQ(value.dataSize, 4u);
    EXPECT_TRUE(value.data.empty());
}

TEST_F(RegistryReader, MissingKeyOrValueIsReported) {
    auto missingValue =
        platform::QueryRegistryValue(Hive::CurrentUser, kTestKey, kKeyReadWrite, L"Absent", 4);
    EXPECT_TRUE(missingValue.keyOpened);
    EXPECT_EQ(missingValue.status, kErrorFileNotFound);
    EXPECT_TRUE(missingValue.data.empty());

    auto missingKey = platform::QueryRegistryValue(Hive::CurrentUser, kTestKey + L"\\Absent",
                                                   kKeyReadWrite, L"Dword", 4);
    EXPECT_FALSE(missingKey.keyOpened);
    EXPECT_NE(missingKey.status, kErrorSuccess);
    EXPECT_TRUE(missingKey.data.empty());
}

TEST(RegistryReaderHives, LocalMachineIsReadThroughTheSixtyFourBitView) {
    const std::wstring path = L"SOFTWARE\\KvSDKEngTests\\Machine";
    CScopedRegKey key(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(key.Valid());
    key.SetBinary(L"Flags", {0x02});
    auto value =
        platform::QueryRegistryValue(Hive::LocalMachine, path, kKeyAllAccess64, L"Flags", 1);
    EXPECT_TRUE(value.keyOpened);
    EXPECT_EQ(value.data, (std::vector<uint8_t>{0x02}));
    // The same value is not visible under the current user.
    auto other = platform::QueryRegistryValue(Hive::CurrentUser, path, kKeyReadWrite, L"Flags", 1);
    EXPECT_FALSE(other.keyOpened);
}

// Texts differ between Windows versions and Wine: only their shape is checked.
TEST(SystemMessageText, KnownCodeHasUntrimmedTextUnknownCodeHasNone) {
    const auto text = platform::SystemMessageText(kE_NOT_SUPPORTED);
    ASSERT_TRUE(text.has_value());
    ASSERT_GT(text->size(), 1u);
    EXPECT_EQ(text->find(L'\0'), std::wstring::npos);
    EXPECT_EQ(text->back(), L'\n') << "the message table's line end is handed back as it is";

    // Customer-defined facility codes never have system text.
    EXPECT_FALSE(platform::SystemMessageText(static_cast<HRESULT>(0xA07F1234u)).has_value());
}

class ExclusiveLogFile : public ::testing::Test {
  protected:
    test::TempDir m_dir;
    std::filesystem::path m_file = m_dir / "KvSDK.log";
};

TEST_F(ExclusiveLogFile, AppendsInTextModeAndCreatesTheFile) {
    for (int round = 0; round < 2; ++round) {
        platform::ExclusiveFile* file = platform::OpenExclusiveAppend(m_file.wstring());
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(platform::WriteExclusiveFile(file, L"line \u00e9\n\n"));
        platform::CloseExclusiveFile(file);
    }
    // Line feeds become CR LF; a character up to 0xFF becomes one byte of the same value.
    EXPECT_EQ(ReadBytes(m_file), "line \xe9\r\n\r\nline \xe9\r\n\r\n");
}

TEST_F(ExclusiveLogFile, CharacterWithoutMultibyteFormEndsTheLine) {
    platform::ExclusiveFile* file = platform::OpenExclusiveAppend(m_file.wstring());
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(platform::WriteExclusiveFile(file, L"ab\u4e00cd\n"));
    platform::CloseExclusiveFile(file);
    EXPECT_EQ(ReadBytes(m_file), "ab");
}

TEST_F(ExclusiveLogFile, NoOtherOpenerWhileHeldAndNoOpenWhileSomeoneElseHoldsIt) {
    platform::ExclusiveFile* file = platform::OpenExclusiveAppend(m_file.wstring());
    ASSERT_NE(file, nullptr);
    const HANDLE other =
        CreateFileW(m_file.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    EXPECT_EQ(platform::OpenExclusiveAppend(m_file.wstring()), nullptr);
    platform::CloseExclusiveFile(file);

    const HANDLE holder = CreateFileW(m_file.wstring().c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::OpenExclusiveAppend(m_file.wstring()), nullptr);
    CloseHandle(holder);

    file = platform::OpenExclusiveAppend(m_file.wstring());
    EXPECT_NE(file, nullptr);
    platform::CloseExclusiveFile(file);
}

TEST_F(ExclusiveLogFile, IsMovedAsideWhileStillHeld) {
    platform::ExclusiveFile* file = platform::OpenExclusiveAppend(m_file.wstring());
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(platform::WriteExclusiveFile(file, L"old\n"));
    EXPECT_TRUE(platform::MoveHeldFileAside(file, m_file.wstring(), m_file.wstring() + L".1"));
    platform::CloseExclusiveFile(file);
    EXPECT_EQ(ReadBytes(m_dir / "KvSDK.log.1"), "old\r\n");
    EXPECT_FALSE(std::filesystem::exists(m_file));
}

TEST(NewEffectEvent, IsANamedAutoResetEvent) {
    void* handle = platform::CreateNewEffectEvent();
    ASSERT_NE(handle, nullptr);
    const HANDLE opened = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, L"New effect event");
    ASSERT_NE(opened, nullptr) << "error " << GetLastError();

    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_TIMEOUT) << "created not signalled";
    platform::SetNewEffectEvent(handle);
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_TIMEOUT) << "one wait resets it";

    CloseHandle(opened);
    platform::CloseNewEffectEvent(handle);
    EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, L"New effect event"), nullptr)
        << "the last handle is gone";
    platform::SetNewEffectEvent(nullptr);  // no event: nothing happens
    platform::CloseNewEffectEvent(nullptr);
}

TEST(DebuggerChannel, ReceivesTheTextAsGiven) {
    wintest::CDebugCapture capture;
    platform::DebugOutput(L"kvsdk probe line\n\n");
    const auto messages = capture.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], L"kvsdk probe line\n\n");
}

}  // namespace
}  // namespace kvsdk
