// While KVSDK_SIM is in force the device-I/O library stays away from hardware, and the trace is
// written only to a regular file.
#ifndef _WIN32

#include <dlfcn.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <string>
#include <vector>

#include "KvSDKMod.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"

// Sanitizer runtimes intercept open() themselves: the hardware probe below runs in the plain
// build only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KVSDK_TEST_HARDWARE_PROBE 0
#else
#define KVSDK_TEST_HARDWARE_PROBE 1
#endif

namespace {

std::atomic<bool> g_watching{false};
std::atomic<int> g_hardwareTouches{0};

[[maybe_unused]] bool IsHardware(const char* path) {
    const std::string text = path != nullptr ? path : "";
    return text.starts_with("/dev/hidraw") || text.starts_with("/dev/bus/usb") ||
           text.starts_with("/sys/bus/usb");
}

}  // namespace

#if KVSDK_TEST_HARDWARE_PROBE
// Every open() and opendir() of the process passes here; the hardware transports' calls are
// counted while a test watches. Exported, so that the libraries bind to them.
extern "C" __attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (g_watching && IsHardware(path)) ++g_hardwareTouches;
    using Open = int (*)(const char*, int, ...);
    static const auto real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "open"));
    return real(path, flags, mode);
}

extern "C" __attribute__((visibility("default"))) DIR* opendir(const char* path) {
    if (g_watching && IsHardware(path)) ++g_hardwareTouches;
    using OpenDir = DIR* (*)(const char*);
    static const auto real = reinterpret_cast<OpenDir>(dlsym(RTLD_NEXT, "opendir"));
    return real(path);
}
#endif

namespace {

using namespace kvsdk::test;

constexpr std::chrono::seconds kHang{20};

TEST(SimIsolation, PathsOutsideTheFileNeverReachHardware) {
    if (!KVSDK_TEST_HARDWARE_PROBE) GTEST_SKIP() << "open() belongs to the sanitizer here";
    SimEnvironment sim("mouse " + MousePath("0E51") + "\n");
    g_hardwareTouches = 0;
    g_watching = true;
    CKvDeviceIO hid;
    const HRESULT hidResult = hid.Init(L"\\\\?\\hid#vid_7a3e&pid_0e59&mi_00#hidraw0#{x}");
    CKvDeviceIO usb;
    const HRESULT usbResult = usb.Init(L"\\\\?\\usb#vid_7a3e&pid_0e5b#1-2#{x}");
    ChannelHID channel;
    const bool connected = channel.Connect(0x7A3E, 0x0E5B);
    g_watching = false;

    EXPECT_EQ(g_hardwareTouches.load(), 0);
    EXPECT_EQ(static_cast<uint32_t>(hidResult), 0x80070002u);
    EXPECT_EQ(static_cast<uint32_t>(usbResult), 0x80070002u);
    EXPECT_FALSE(connected);
    EXPECT_TRUE(sim.Trace().empty());
}

TEST(SimIsolation, TraceGoesOnlyToARegularFile) {
    SimEnvironment sim("mouse " + MousePath("0E51") + "\n");
    const auto fifo = sim.Dir() / "trace-fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ScopedEnv trace("KVSDK_SIM_TRACE", NativePath(fifo));
    const std::wstring path = kvsdk::FromUtf8(MousePath("0E51"));
    HRESULT init = -1;
    HRESULT set = -1;
    // No reader on the FIFO: a blocking open for writing would wait for one forever.
    ASSERT_TRUE(FinishesWithin(kHang, [path, &init, &set] {
        CKvDeviceIO io;
        init = io.Init(path.c_str());
        const uint8_t command[] = {0x02, 0x03, 0x00, 0x01, 0x01};
        set = io.Set(command, sizeof command);
    }));
    EXPECT_EQ(init, 0);
    EXPECT_EQ(set, 0);
}

}  // namespace

#endif
