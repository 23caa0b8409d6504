// Files that somebody else planted: the log path, the simulated device file and sysfs trees. Only
// regular files are read or written, nothing blocks, and every read is bounded.
#ifndef _WIN32

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "KvSDKEng.h"
#include "tests/unit/LogTestEnvironment.h"
#include "common/SimFile.h"
#include "common/Strings.h"
#include "diag/Log.h"
#include "platform/posix/SysfsEnumeration.h"

namespace kvsdk {
namespace {

namespace fs = std::filesystem;
using test::FinishesWithin;
using test::LogTestEnvironment;
using test::ScopedEnv;
using test::TempDir;

// Generous: these only tell a hang from a finished call, they measure nothing.
constexpr std::chrono::seconds kHang{20};

void MakeFifo(const fs::path& path) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
}

// Fills the FIFO's buffer and keeps it open, so that a blocking writer would wait forever.
class StuckFifo {
  public:
    explicit StuckFifo(const fs::path& path) {
        MakeFifo(path);
        m_fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        const std::string chunk(4096, 'x');
        while (m_fd >= 0 && ::write(m_fd, chunk.data(), chunk.size()) > 0) {
        }
    }
    ~StuckFifo() {
        if (m_fd >= 0) ::close(m_fd);
    }
    StuckFifo(const StuckFifo&) = delete;
    StuckFifo& operator=(const StuckFifo&) = delete;

  private:
    int m_fd = -1;
};

void TraceOneLine() {
    TraceHResult(L"12/08/26", L"17:05:09", L"CDeviceVEXO::RestoreSettings", 342, E_FAIL, 0);
}

class HostileLogPath : public testing::Test {
  protected:
    void SetUp() override { m_env.SetSwitchBinary({0x01}); }
    LogTestEnvironment m_env;
};

TEST_F(HostileLogPath, OnlyARegularFileIsWrittenAndNothingBlocks) {
    TempDir elsewhere;
    const fs::path victim = elsewhere / "victim";
    test::WriteTextFile(victim, "");
    const fs::path log = m_env.LogFile();
    const struct {
        const char* what;
        std::function<void()> plant;
    } cases[] = {
        {"symbolic link", [&] { fs::create_symlink(victim, log); }},
        {"dangling symbolic link", [&] { fs::create_symlink(elsewhere / "new", log); }},
        {"directory", [&] { fs::create_directory(log); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        EXPECT_TRUE(FinishesWithin(kHang, TraceOneLine));
        EXPECT_EQ(test::ReadTextFile(victim), "");
        EXPECT_FALSE(fs::exists(elsewhere / "new"));
        fs::remove(log);
    }

    // A FIFO whose buffer is full: a blocking writer would wait for a reader forever.
    StuckFifo fifo(log);
    EXPECT_TRUE(FinishesWithin(kHang, TraceOneLine));
}

TEST_F(HostileLogPath, NewFileIsOwnerOnly) {
    const mode_t previous = ::umask(022);
    TraceOneLine();
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat(m_env.LogFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(HostileLogPath, FileIsMovedAsideAtOneMebibyte) {
    const std::string old(1024 * 1024 - 10, 'o');
    test::WriteTextFile(m_env.LogFile(), old);
    TraceOneLine();
    const fs::path rotated = m_env.Profile() / "KvSDK.log.1";
    EXPECT_EQ(test::ReadTextFile(rotated), old);
    const std::string log = m_env.ReadLog();
    EXPECT_NE(log.find("Line = 342"), std::string::npos);
    EXPECT_LT(log.size(), 1024u);

    // Lines below the cap are appended as usual.
    TraceOneLine();
    EXPECT_EQ(m_env.ReadLog(), log + log);
}

TEST(LogProfileFallback, EmptyHomeUsesTheAccountsHomeNotTheRoot) {
    const passwd* account = ::getpwuid(::geteuid());
    ASSERT_NE(account, nullptr);
    const std::string home = account->pw_dir != nullptr ? account->pw_dir : "";
    const std::wstring expected =
        home.empty() || home == "/" ? L"" : FromUtf8(home) + L"/KvSDK.log";
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(""), std::optional<std::string>()}) {
        ScopedEnv unset("HOME", value);
        EXPECT_EQ(LogFilePath(), expected);
        EXPECT_NE(LogFilePath(), L"/KvSDK.log");
    }
}

// Uninit logs the failed reads of a VEXO restore while it holds the library lock; with the log
// path stuck, neither it nor another host thread's KvSDKSetEffect may wait.
TEST_F(HostileLogPath, StuckLogStallsNoHostCall) {
    const std::string vexo = test::MousePath("0E51");
    const std::string pell = test::MousePath("0E59");
    test::SimEnvironment sim("mouse " + vexo + " get=80070032\nmouse " + pell + "\n");
    StuckFifo fifo(m_env.LogFile());
    ASSERT_EQ(KvSDKEngInit(PRODUCT_VEXO_0E51), S_OK);
    ASSERT_EQ(KvSDKEngInit(PRODUCT_PELL_MOUSE_0E59), S_OK);

    auto uninitDone = std::make_shared<std::promise<void>>();
    std::future<void> uninit = uninitDone->get_future();
    std::thread([uninitDone] {
        KvSDKEngUninit();
        uninitDone->set_value();
    }).detach();
    EXPECT_TRUE(FinishesWithin(kHang, [] {
        EffectParams params{};
        params.size = sizeof params;
        params.productGuid = PRODUCT_PELL_MOUSE_0E59;
        params.lightSelector = 1;
        KvSDKSetEffect(EFFECT_LED_ON, &params);
    }));
    EXPECT_EQ(uninit.wait_for(kHang), std::future_status::ready);
}

TEST(HostileSimFile, DevicesAndFifosAreRefusedAtOnce) {
    TempDir dir;
    const fs::path fifo = dir / "sim";
    MakeFifo(fifo);
    for (const std::string& path : {std::string("/dev/zero"), fifo.string(), dir.Path().string()}) {
        SCOPED_TRACE(path);
        ScopedEnv sim("KVSDK_SIM", path);
        std::optional<std::vector<sim::SimInterface>> items;
        testing::internal::CaptureStderr();
        const bool finished = FinishesWithin(kHang, [&items] { items = sim::LoadSimFile(); });
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(finished);
        ASSERT_TRUE(items.has_value());
        EXPECT_TRUE(items->empty());
    }
}

TEST(HostileSysfsTree, AttributesAreRegularFilesAndNodeNamesAreTheKernels) {
    TempDir root;
    const fs::path hid = root / "devices" / "virtual" / "0003:7A3E:0E51.0001";
    fs::create_directories(hid / "input" / "input0" / "mouse0");
    // The uevent that would name the ids is a link to an endless device: the ids then come from
    // the folder name.
    fs::create_symlink("/dev/zero", hid / "uevent");
    for (const char* node : {"hidraw0", "hidraw1#x", "hidrawx"}) {
        const fs::path entry = hid / "hidraw" / node;
        fs::create_directories(entry);
        fs::create_directory_symlink("../..", entry / "device");
        fs::create_directories(root / "class" / "hidraw");
        fs::create_directory_symlink(entry, root / "class" / "hidraw" / node);
    }
    std::vector<std::wstring> paths;
    ASSERT_TRUE(FinishesWithin(kHang, [&paths, r = root.Path()] {
        paths = platform::posix::ListInterfacePaths(r, kGuidDevinterfaceMouse);
    }));
    EXPECT_EQ(paths, std::vector<std::wstring>{L"\\\\?\\hid#vid_7a3e&pid_0e51#hidraw0#"
                                               L"{378de44c-56ef-11d1-bc8c-00a0c91405dd}"});
}

}  // namespace
}  // namespace kvsdk

#endif
