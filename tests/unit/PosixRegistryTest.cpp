// The registry stand-in on Linux: .reg files chosen by KVSDK_REGISTRY, XDG_CONFIG_HOME and HOME,
// queried with the answers of the Windows registry.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/TestSupport.h"
#include "common/Win32Types.h"
#include "platform/Platform.h"

namespace {

namespace fs = std::filesystem;
using kvsdk::platform::Hive;
using kvsdk::platform::QueryRegistryValue;
using kvsdk::platform::RegistryValue;
using kvsdk::test::ScopedEnv;
using kvsdk::test::TempDir;
using kvsdk::test::WriteTextFile;

using Bytes = std::vector<uint8_t>;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::wstring kPellKey = L"SOFTWARE\\TOLVE\\7A3E0E59";

// A registry file named by KVSDK_REGISTRY, holding both hives.
class RegistryFileTest : public testing::Test {
  protected:
    RegistryFileTest() : m_env("KVSDK_REGISTRY", kvsdk::test::NativePath(m_dir / "registry.reg")) {}

    void Write(const std::string& text) { WriteTextFile(m_dir / "registry.reg", text); }
    void WriteBytes(const Bytes& bytes) {
        std::ofstream out(m_dir / "registry.reg", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    static RegistryValue Query(Hive hive, const std::wstring& key, const std::wstring& name,
                               uint32_t bufferSize = 64) {
        return QueryRegistryValue(hive, key, kvsdk::kKeyRead, name, bufferSize);
    }

    TempDir m_dir;
    ScopedEnv m_env;
};

void ExpectValue(const RegistryValue& value, uint32_t type, const Bytes& data) {
    EXPECT_TRUE(value.keyOpened);
    EXPECT_EQ(value.status, kvsdk::kErrorSuccess);
    EXPECT_EQ(value.type, type);
    EXPECT_EQ(value.dataSize, data.size());
    EXPECT_EQ(value.data, data);
}

void ExpectNoKey(const RegistryValue& value) {
    EXPECT_FALSE(value.keyOpened);
    EXPECT_NE(value.status, kvsdk::kErrorSuccess);
    EXPECT_TRUE(value.data.empty());
}

TEST_F(RegistryFileTest, OneFileHoldsBothHives) {
    Write(std::string(kHeader) +
          "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E59]\n"
          "\"GameControl\"=dword:00000000\n\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TOLVE]\n"
          "\"LogEnabled\"=hex:01\n");
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"GameControl", 4), kvsdk::kRegDword,
                {0, 0, 0, 0});
    ExpectValue(Query(Hive::LocalMachine, L"SOFTWARE\\TOLVE", L"LogEnabled", 1), kvsdk::kRegBinary,
                {1});

    // Each hive sees only its own keys.
    ExpectNoKey(Query(Hive::LocalMachine, kPellKey, L"GameControl"));
    const auto userTolve = Query(Hive::CurrentUser, L"SOFTWARE\\TOLVE", L"LogEnabled");
    EXPECT_TRUE(userTolve.keyOpened);  // created as the parent of the product key
    EXPECT_EQ(userTolve.status, kvsdk::kErrorFileNotFound);
}

TEST_F(RegistryFileTest, ReadsEveryValueForm) {
    Write(std::string(kHeader) +
          "; a comment\n"
          "[HKCU\\Software\\Tolve\\7a3e0e59]\n"
          "\"Number\"=dword:12345678\n"
          "\"Blob\"=hex:01,02,03,\\\n"
          "  0a,0B,\\\n"
          "  ff\n"
          "\"Typed\"=hex(4):01,00,00,00\n"
          "\"Quad\"=hex(b):01,02,03,04,05,06,07,08\n"
          "\"Empty\"=hex:\n"
          "\"Text\"=\"a\\\"b\\\\c\"\n"
          "\"Quoted \\\"name\\\"\"=dword:00000001\n"
          "@=\"default\"\n"
          "\"Gone\"=dword:00000001\n"
          "\"Gone\"=-\n"
          "[hklm\\software\\tolve]\n"
          "\"LogEnabled\"=hex:03\n");

    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"Number"), kvsdk::kRegDword,
                {0x78, 0x56, 0x34, 0x12});
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"BLOB"), kvsdk::kRegBinary,
                {0x01, 0x02, 0x03, 0x0A, 0x0B, 0xFF});
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"typed"), 4, {1, 0, 0, 0});
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"Quad"), 11, {1, 2, 3, 4, 5, 6, 7, 8});
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"Empty"), kvsdk::kRegBinary, {});
    // REG_SZ is UTF-16LE with its terminator.
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"Text"), kvsdk::kRegSz,
                {'a', 0, '"', 0, 'b', 0, '\\', 0, 'c', 0, 0, 0});
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"Quoted \"name\""), kvsdk::kRegDword,
                {1, 0, 0, 0});
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L""), kvsdk::kRegSz,
                {'d', 0, 'e', 0, 'f', 0, 'a', 0, 'u', 0, 'l', 0, 't', 0, 0, 0});
    EXPECT_EQ(Query(Hive::CurrentUser, kPellKey, L"Gone").status, kvsdk::kErrorFileNotFound);
    ExpectValue(Query(Hive::LocalMachine, L"SOFTWARE\\TOLVE", L"LogEnabled"), kvsdk::kRegBinary,
                {3});
}

TEST_F(RegistryFileTest, AnswersLikeTheWindowsQuery) {
    Write(std::string(kHeader) +
          "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E59]\n"
          "\"GameControl\"=dword:00000000\n");

    // Longer than the buffer: ERROR_MORE_DATA with the real size and no data.
    const auto tooLong = Query(Hive::CurrentUser, kPellKey, L"GameControl", 1);
    EXPECT_TRUE(tooLong.keyOpened);
    EXPECT_EQ(tooLong.status, kvsdk::kErrorMoreData);
    EXPECT_EQ(tooLong.dataSize, 4u);
    EXPECT_TRUE(tooLong.data.empty());

    const auto missingValue = Query(Hive::CurrentUser, kPellKey, L"Other");
    EXPECT_TRUE(missingValue.keyOpened);
    EXPECT_EQ(missingValue.status, kvsdk::kErrorFileNotFound);

    ExpectNoKey(Query(Hive::CurrentUser, L"SOFTWARE\\TOLVE\\7A3E0E5A", L"GameControl"));
    ExpectNoKey(Query(Hive::CurrentUser, L"SOFTWARE\\TOL", L"GameControl"));
}

TEST_F(RegistryFileTest, AcceptsRegedit4AndUtf16) {
    Write("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TOLVE]\r\n\"LogEnabled\"=hex:02\r\n");
    ExpectValue(Query(Hive::LocalMachine, L"SOFTWARE\\TOLVE", L"LogEnabled"), kvsdk::kRegBinary,
                {2});

    // As regedit exports: UTF-16LE with a byte-order mark and CRLF line ends.
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E59]\r\n"
        u"\"Name\"=\"\u00e9\U0001F600\"\r\n"
        u"\"GameControl\"=dword:00000001\r\n";
    Bytes bytes = {0xFF, 0xFE};
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    WriteBytes(bytes);
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"GameControl"), kvsdk::kRegDword, {1, 0, 0, 0});
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"Name"), kvsdk::kRegSz,
                {0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 0, 0});
}

TEST_F(RegistryFileTest, MalformedOrMissingFileHasNoKeys) {
    // No file at all; KVSDK_REGISTRY still decides, nothing else is read.
    ExpectNoKey(Query(Hive::CurrentUser, kPellKey, L"GameControl"));

    // No header: the whole file is ignored.
    Write("[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E59]\n\"GameControl\"=dword:00000000\n");
    ExpectNoKey(Query(Hive::CurrentUser, kPellKey, L"GameControl"));

    WriteBytes({0x00, 0xFF, 0x13, 0x37, 0xFE, 0xFF, 0x00});
    ExpectNoKey(Query(Hive::CurrentUser, kPellKey, L"GameControl"));

    // Bad lines are skipped; the rest of the file counts.
    Write(std::string(kHeader) +
          "\"Orphan\"=dword:00000001\n"
          "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E59\n"
          "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E59]\n"
          "\"BadNumber\"=dword:123456789\n"
          "\"BadHex\"=hex:01,zz\n"
          "\"BadType\"=qword:1\n"
          "\"Unterminated=dword:00000001\n"
          "\"GameControl\"=dword:00000000\n");
    EXPECT_EQ(Query(Hive::CurrentUser, kPellKey, L"BadNumber").status, kvsdk::kErrorFileNotFound);
    EXPECT_EQ(Query(Hive::CurrentUser, kPellKey, L"BadHex").status, kvsdk::kErrorFileNotFound);
    EXPECT_EQ(Query(Hive::CurrentUser, kPellKey, L"BadType").status, kvsdk::kErrorFileNotFound);
    EXPECT_EQ(Query(Hive::CurrentUser, kPellKey, L"Orphan").status, kvsdk::kErrorFileNotFound);
    ExpectValue(Query(Hive::CurrentUser, kPellKey, L"GameControl", 4), kvsdk::kRegDword,
                {0, 0, 0, 0});

    // Read afresh at every call.
    Write(std::string(kHeader));
    ExpectNoKey(Query(Hive::CurrentUser, kPellKey, L"GameControl"));
}

// The stamp moves at the first look after any way of changing the file, and only then: looks
// with nothing changed between them cost no re-reading.
TEST_F(RegistryFileTest, ChangeStampMovesOnEveryKindOfChangeAndOnlyThen) {
    using kvsdk::platform::RegistryChangeStamp;
    TempDir elsewhere;
    const fs::path file = m_dir / "registry.reg";
    const fs::path target = elsewhere / "linked.reg";
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"created", [&] { Write(kHeader); }},
        {"rewritten in place", [&] { Write(std::string(kHeader) + "[HKEY_CURRENT_USER]\n"); }},
        {"replaced by a rename",
         [&] {
             WriteTextFile(m_dir / "new.reg", kHeader);
             fs::rename(m_dir / "new.reg", file);
         }},
        {"made a link",
         [&] {
             WriteTextFile(target, kHeader);
             fs::remove(file);
             fs::create_symlink(target, file);
         }},
        {"link's target rewritten", [&] { WriteTextFile(target, "REGEDIT4\n"); }},
        {"removed", [&] { fs::remove(file); }},
        {"folder removed", [&] { fs::remove_all(m_dir.Path()); }},
        {"folder made again",
         [&] {
             fs::create_directories(m_dir.Path());
             Write(kHeader);
         }},
        {"rewritten after the folder came back", [&] { Write("REGEDIT4\n"); }},
    };
    uint64_t stamp = RegistryChangeStamp(Hive::CurrentUser);
    for (const auto& [name, change] : changes) {
        // A file written a moment ago may be looked at with stat only, which counts it as
        // changed until its time stamp is safely in the past.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        stamp = RegistryChangeStamp(Hive::CurrentUser);
        EXPECT_EQ(RegistryChangeStamp(Hive::CurrentUser), stamp) << "quiet, before: " << name;
        change();
        EXPECT_GT(RegistryChangeStamp(Hive::CurrentUser), stamp) << name;
    }
}

// A child made by fork shares its parent's watch descriptors: neither may take the other's
// news of a change.
TEST_F(RegistryFileTest, ParentAndForkedChildEachSeeAChange) {
    using kvsdk::platform::RegistryChangeStamp;
    Write(kHeader);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    (void)RegistryChangeStamp(Hive::CurrentUser);
    const uint64_t before = RegistryChangeStamp(Hive::CurrentUser);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uint64_t inChild = RegistryChangeStamp(Hive::CurrentUser);
        Write("REGEDIT4\n");
        const bool seen = RegistryChangeStamp(Hive::CurrentUser) > inChild;
        ::_exit(seen ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child missed its change";
    EXPECT_GT(RegistryChangeStamp(Hive::CurrentUser), before) << "the parent missed it";
}

// A link or folder on the way changed: the path leads elsewhere without any event on the watch.
TEST(RegistryLocation, WhatThePathLeadsToNowIsWhatCounts) {
    TempDir root;
    const fs::path config = root.Path() / "config";
    const auto hive = [](const fs::path& folder) {
        fs::create_directories(folder);
        WriteTextFile(folder / "registry.reg", kHeader);
    };
    hive(root.Path() / "a");
    fs::create_directories(config);
    fs::create_directory_symlink(root.Path() / "a", config / "tolve");
    ScopedEnv single("KVSDK_REGISTRY", std::nullopt);
    ScopedEnv xdg("XDG_CONFIG_HOME", kvsdk::test::NativePath(config));
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"the tolve link re-pointed",
         [&] {
             hive(root.Path() / "b");
             fs::create_directory_symlink(root.Path() / "b", root.Path() / "link");
             fs::rename(root.Path() / "link", config / "tolve");
         }},
        {"an ancestor renamed and made again",
         [&] {
             fs::rename(config, root.Path() / "old");
             hive(config / "tolve");
         }},
    };
    for (const auto& [name, change] : changes) {
        const uint64_t before = kvsdk::platform::RegistryChangeStamp(Hive::CurrentUser);
        change();
        EXPECT_GT(kvsdk::platform::RegistryChangeStamp(Hive::CurrentUser), before) << name;
    }
}

TEST(RegistryLocation, UserHiveComesFromXdgConfigHomeOrHome) {
    TempDir home;
    TempDir config;
    const std::string inHome = std::string(kHeader) +
                               "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E59]\n"
                               "\"GameControl\"=dword:00000001\n";
    const std::string inConfig = std::string(kHeader) +
                                 "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E59]\n"
                                 "\"GameControl\"=dword:00000002\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TOLVE]\n"
                                 "\"LogEnabled\"=hex:01\n";
    fs::create_directories(home.Path() / ".config" / "tolve");
    WriteTextFile(home.Path() / ".config" / "tolve" / "registry.reg", inHome);
    fs::create_directories(config.Path() / "tolve");
    WriteTextFile(config.Path() / "tolve" / "registry.reg", inConfig);

    ScopedEnv single("KVSDK_REGISTRY", std::nullopt);
    ScopedEnv homeEnv("HOME", kvsdk::test::NativePath(home.Path()));
    auto gameControl = [] {
        return QueryRegistryValue(Hive::CurrentUser, kPellKey, kvsdk::kKeyReadWrite, L"GameControl",
                                  4);
    };
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", kvsdk::test::NativePath(config.Path()));
        ExpectValue(gameControl(), kvsdk::kRegDword, {2, 0, 0, 0});
        // The machine's hive is never read from the user's file.
        if (!fs::exists("/etc/tolve/registry.reg")) {
            ExpectNoKey(QueryRegistryValue(Hive::LocalMachine, L"SOFTWARE\\TOLVE",
                                           kvsdk::kKeyAllAccess64, L"LogEnabled", 1));
        }
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", std::string());
        ExpectValue(gameControl(), kvsdk::kRegDword, {1, 0, 0, 0});
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
        ExpectValue(gameControl(), kvsdk::kRegDword, {1, 0, 0, 0});
        ScopedEnv noHome("HOME", std::nullopt);
        ExpectNoKey(gameControl());
    }
}

}  // namespace

#endif  // _WIN32
