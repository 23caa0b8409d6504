// The Linux transport over replaced system calls and a fake sysfs tree: what reaches the kernel
// for each command, and what a device's failures become.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/uhid.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KvSDKMod.h"
#include "common/Strings.h"
#include "kvsdkmod/transport/posix/SystemCalls.h"
#include "tests/support/TestSupport.h"
#include "tests/transport/ReportText.h"
#include "tools/kvsdk/Timeline.h"

namespace {

namespace fs = std::filesystem;
using namespace kvsdkmod::transport::posix;
using kvsdk::test::ScopedEnv;
using kvsdk::test::TempDir;
using kvsdk::test::WriteTextFile;
using Bytes = std::vector<uint8_t>;

// A vendor collection without report IDs: output and feature reports of 64 bytes.
const Bytes kVendorDescriptor{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75,
                              0x08, 0x95, 0x40, 0x91, 0x02, 0xB1, 0x02, 0xC0};
const Bytes kMouseDescriptor{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x75,
                             0x08, 0x95, 0x04, 0x81, 0x02, 0xC0};

struct FakeNode {
    uint16_t vendor = 0x7A3E;
    uint16_t product = 0x0E51;
    Bytes descriptor = kVendorDescriptor;
    int openErrno = 0;
};

// The kernel as the tests want it; every call is logged.
struct FakeKernel {
    std::map<std::string, FakeNode> nodes;
    std::vector<std::string> log;
    int writeErrno = 0;
    std::atomic<bool> holdWrites{false};  // a write stays in the kernel until this clears
    std::atomic<bool> writeHeld{false};
    Bytes featureAnswer;
    void (*onSetFeature)() = nullptr;
    std::mutex mutex;

    void Log(const std::string& entry) {
        std::lock_guard lock(mutex);
        log.push_back(entry);
    }
};
FakeKernel* g_kernel = nullptr;

const std::string& NodeOf(int fd) {
    auto it = g_kernel->nodes.begin();
    std::advance(it, fd - 100);
    return it->first;
}

int FakeOpen(const char* path, int) {
    const auto it = g_kernel->nodes.find(path);
    if (it == g_kernel->nodes.end()) return errno = ENOENT, -1;
    if (it->second.openErrno != 0) return errno = it->second.openErrno, -1;
    g_kernel->Log(std::string("open ") + path);
    return 100 + static_cast<int>(std::distance(g_kernel->nodes.begin(), it));
}
int FakeClose(int) {
    return 0;
}
ssize_t FakeRead(int, void*, size_t) {
    return errno = EAGAIN, -1;
}
ssize_t FakeWrite(int fd, const void* data, size_t count) {
    while (g_kernel->holdWrites) {
        g_kernel->writeHeld = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (g_kernel->writeErrno != 0) return errno = g_kernel->writeErrno, -1;
    g_kernel->Log("write " + NodeOf(fd) + " " + kvsdk::test::ReportText(data, count));
    return static_cast<ssize_t>(count);
}
int FakePoll(pollfd*, nfds_t, int) {
    return 0;
}
int FakeIoctl(int fd, unsigned long request, void* argument) {
    const FakeNode& node = g_kernel->nodes.at(NodeOf(fd));
    if (request == HIDIOCGRAWINFO) {
        auto* info = static_cast<hidraw_devinfo*>(argument);
        *info = {3, static_cast<int16_t>(node.vendor), static_cast<int16_t>(node.product)};
    } else if (request == HIDIOCGRDESCSIZE) {
        *static_cast<int*>(argument) = static_cast<int>(node.descriptor.size());
    } else if (request == HIDIOCGRDESC) {
        auto* descriptor = static_cast<hidraw_report_descriptor*>(argument);
        std::memcpy(descriptor->value, node.descriptor.data(), node.descriptor.size());
    } else if (request == HIDIOCSFEATURE(65)) {
        g_kernel->Log("set-feature " + kvsdk::test::ReportText(argument, 65));
        if (g_kernel->onSetFeature) g_kernel->onSetFeature();
    } else if (request == HIDIOCGFEATURE(65)) {
        g_kernel->Log("get-feature " + kvsdk::test::ReportText(argument, 65));
        std::memcpy(argument, g_kernel->featureAnswer.data(), g_kernel->featureAnswer.size());
        return 65;
    } else {
        return errno = EINVAL, -1;
    }
    return 0;
}

const SystemCalls kFakeCalls{FakeOpen, FakeClose, FakeRead, FakeWrite, FakeIoctl, FakePoll};

class HidrawTest : public testing::Test {
  protected:
    HidrawTest() : m_sysfs("KVSDK_SYSFS_ROOT", m_dir.Path().string()), m_calls(kFakeCalls) {
        g_kernel = &m_kernel;
    }
    ~HidrawTest() override { g_kernel = nullptr; }

    // hidraw<n> on interface 'mi' of USB device 'usb', in sysfs and behind /dev.
    void AddNode(int n, const std::string& usb, int mi, FakeNode node) {
        const fs::path device = m_dir.Path() / "devices" / usb;
        const fs::path usbInterface = device / (usb + ":1." + std::to_string(mi));
        char hidName[32];
        std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04d", node.vendor, node.product, n);
        fs::create_directories(usbInterface / hidName);
        WriteTextFile(device / "idVendor", "7a3e\n");
        WriteTextFile(usbInterface / "bInterfaceNumber", "0" + std::to_string(mi) + "\n");
        char uevent[64];
        std::snprintf(uevent, sizeof uevent, "HID_ID=0003:%08X:%08X\n", node.vendor, node.product);
        WriteTextFile(usbInterface / hidName / "uevent", uevent);
        const fs::path entry = m_dir.Path() / "class" / "hidraw" / ("hidraw" + std::to_string(n));
        fs::create_directories(entry);
        fs::create_symlink(usbInterface / hidName, entry / "device");
        fs::create_directories(m_dir.Path() / "bus" / "usb" / "devices");
        if (!fs::exists(m_dir.Path() / "bus" / "usb" / "devices" / usb)) {
            fs::create_directory_symlink(device, m_dir.Path() / "bus" / "usb" / "devices" / usb);
        }
        m_kernel.nodes["/dev/hidraw" + std::to_string(n)] = node;
    }

    static std::wstring Path(const std::string& text) { return kvsdk::FromUtf8(text); }

    TempDir m_dir;
    ScopedEnv m_sysfs;
    ScopedEnv m_noSim{"KVSDK_SIM", std::nullopt};
    ScopedSystemCalls m_calls;
    FakeKernel m_kernel;
};

const std::string kMousePath =
    "\\\\?\\hid#vid_7a3e&pid_0e51&mi_00#hidraw3#{378de44c-56ef-11d1-bc8c-00a0c91405dd}";

TEST_F(HidrawTest, CommandsGoToTheVendorCollectionAsPaddedReportsWithTheirIdByte) {
    AddNode(3, "1-2", 0, {0x7A3E, 0x0E51, kMouseDescriptor, 0});
    AddNode(4, "1-2", 1, {});
    m_kernel.featureAnswer = {0x00, 0x00, 0x03, 0x01, 0x0B, 0x2A};
    CKvDeviceIO io;
    ASSERT_EQ(io.Init(Path(kMousePath).c_str()), 0);
    const Bytes on{0x00, 0x03, 0x00, 0x01, 0x01};
    EXPECT_EQ(io.Set(on.data(), 5), 0);
    Bytes request{0x00, 0x03, 0x01, 0x0B, 0x00};
    uint32_t length = 5;
    EXPECT_EQ(io.Get(request.data(), &length), 0);
    EXPECT_EQ(request, (Bytes{0x00, 0x03, 0x01, 0x0B, 0x2A}));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(m_kernel.log,
              (std::vector<std::string>{"open /dev/hidraw3", "open /dev/hidraw4",
                                        "write /dev/hidraw4 00 00 03 00 01 01 /65",
                                        "set-feature 00 00 03 01 0B /65", "get-feature /65"}));
}

TEST_F(HidrawTest, ANodeNumberNowHeldByAnotherDeviceIsNeverWritten) {
    AddNode(3, "1-2", 0, {0x051D, 0x0002, kVendorDescriptor, 0});  // a UPS took hidraw3
    CKvDeviceIO io;
    EXPECT_EQ(static_cast<uint32_t>(io.Init(Path(kMousePath).c_str())), 0x8007048Fu);
    EXPECT_EQ(m_kernel.log, std::vector<std::string>{"open /dev/hidraw3"});
}

TEST_F(HidrawTest, InitChecksTheFramingAgainstTheDescriptor) {
    Bytes shorter = kVendorDescriptor;
    shorter[10] = 0x20;  // 32-byte reports where the framing expects 64
    AddNode(3, "1-2", 0, {0x7A3E, 0x0E51, shorter, 0});
    CKvDeviceIO io;
    EXPECT_EQ(static_cast<uint32_t>(io.Init(Path(kMousePath).c_str())), 0x8007000Du);
    AddNode(4, "1-3", 0, {0x7A3E, 0x0E51, kMouseDescriptor, 0});  // no vendor page at all
    EXPECT_EQ(static_cast<uint32_t>(
                  io.Init(Path("\\\\?\\hid#vid_7a3e&pid_0e51&mi_00#hidraw4#{x}").c_str())),
              0x80070014u);
}

TEST_F(HidrawTest, TheUsbDevice0E5BIsReachedThroughItsHidrawNode) {
    AddNode(7, "1-4", 0, {0x7A3E, 0x0E5B, kVendorDescriptor, 0});
    ChannelHID channel;
    ASSERT_TRUE(channel.Connect(0x7A3E, 0x0E5B));
    const uint8_t rgb[] = {0x10, 0x20, 0x30};
    EXPECT_EQ(channel.I2CTunnelWrite(false, false, 0x60, 0, 2, rgb, 3), 0);
    EXPECT_EQ(m_kernel.log.back(), "write /dev/hidraw7 00 00 60 00 02 03 10 20 30 /65");
    CKvDeviceIO io;  // the USB-device path leads to the same node
    EXPECT_EQ(
        io.Init(Path("\\\\?\\usb#vid_7a3e&pid_0e5b#1-4#{a5dcbf10-6530-11d2-901f-00c04fb951ed}")
                    .c_str()),
        0);
}

TEST_F(HidrawTest, KernelFailuresBecomeTheirOwnCodes) {
    AddNode(3, "1-2", 0, {});
    const struct {
        int error;
        uint32_t expected;
    } cases[] = {{ENODEV, 0x8007048Fu},
                 {EPIPE, 0x8007001Fu},
                 {ETIMEDOUT, 0x800705B4u},
                 {EBUSY, 0x800700AAu}};
    for (const auto& c : cases) {
        m_kernel.nodes["/dev/hidraw3"].openErrno = c.error;
        CKvDeviceIO io;
        EXPECT_EQ(static_cast<uint32_t>(io.Init(Path(kMousePath).c_str())), c.expected) << c.error;
        m_kernel.nodes["/dev/hidraw3"].openErrno = 0;
        ASSERT_EQ(io.Init(Path(kMousePath).c_str()), 0);
        m_kernel.writeErrno = c.error;
        const Bytes on{0x00, 0x03, 0x00, 0x01, 0x01};
        EXPECT_EQ(static_cast<uint32_t>(io.Set(on.data(), 5)), c.expected) << c.error;
        m_kernel.writeErrno = 0;
    }
}

TEST_F(HidrawTest, HardwareTraceRecordsTheOsErrorInTheTimelineFormat) {
    AddNode(3, "1-2", 0, {});
    TempDir traceDir;
    ScopedEnv trace("KVSDK_HW_TRACE", (traceDir.Path() / "hw.txt").string());
    CKvDeviceIO io;
    ASSERT_EQ(io.Init(Path(kMousePath).c_str()), 0);
    m_kernel.writeErrno = EPIPE;
    const Bytes on{0x00, 0x03, 0x00, 0x01, 0x01};
    io.Set(on.data(), 5);
    const auto lines = kvsdk::test::ReadTrace(traceDir.Path() / "hw.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].raw.find(" init " + kvsdk::ToUpper(kMousePath) + " node /dev/hidraw3 "),
              std::string::npos);
    EXPECT_NE(lines[1].raw.find(" set " + kvsdk::ToUpper(kMousePath) +
                                " 00 03 00 01 01 = 8007001F os=EPIPE"),
              std::string::npos);
    // The timeline of a run on hardware shows the failed command on its light.
    const auto timeline =
        kvsdk::tool::BuildTimeline(kvsdk::test::ReadTextFile(traceDir.Path() / "hw.txt"));
    ASSERT_NE(timeline.Find("0E51"), nullptr);
    ASSERT_NE(timeline.Find("0E51")->Find(0x01), nullptr);
    EXPECT_EQ(timeline.Find("0E51")->Find(0x01)->events.at(0).text,
              "set 00 03 00 01 01 failed (8007001F EPIPE)");
}

// The second object on the node must not write between the first one's request and answer.
CKvDeviceIO* g_writer = nullptr;
std::thread g_writerThread;
void WriteDuringExchange() {
    g_kernel->onSetFeature = nullptr;
    g_writerThread = std::thread([] {
        const Bytes off{0x00, 0x03, 0x00, 0x01, 0x00};
        g_writer->Set(off.data(), 5);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST_F(HidrawTest, AReadBackIsOneExchangeOnItsNode) {
    AddNode(3, "1-2", 0, {});
    m_kernel.featureAnswer = Bytes(6, 0);
    CKvDeviceIO reader;
    CKvDeviceIO writer;
    ASSERT_EQ(reader.Init(Path(kMousePath).c_str()), 0);
    ASSERT_EQ(writer.Init(Path(kMousePath).c_str()), 0);
    g_writer = &writer;
    m_kernel.onSetFeature = WriteDuringExchange;
    Bytes request{0x00, 0x03, 0x01, 0x01, 0x00};
    uint32_t length = 5;
    EXPECT_EQ(reader.Get(request.data(), &length), 0);
    g_writerThread.join();
    std::lock_guard lock(m_kernel.mutex);
    ASSERT_EQ(m_kernel.log.size(), 5u);
    EXPECT_EQ(m_kernel.log[3], "get-feature /65");
    EXPECT_EQ(m_kernel.log[4], "write /dev/hidraw3 00 00 03 00 01 /65");
}

// A worker was inside a write (holding its node's lock) when the host forked: the child's own
// objects on that node still work.
TEST_F(HidrawTest, AForkedChildIsNotHeldByAWriteOfItsParent) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP()
        << "SKIPPED: the thread sanitizer cannot follow a forked child of a threaded process";
#endif
    AddNode(3, "1-2", 0, {});
    CKvDeviceIO worker;
    ASSERT_EQ(worker.Init(Path(kMousePath).c_str()), 0);
    m_kernel.holdWrites = true;
    const Bytes on{0x00, 0x03, 0x00, 0x01, 0x01};
    std::thread parent([&] { worker.Set(on.data(), 5); });
    while (!m_kernel.writeHeld) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);  // a child held by its parent's lock ends here instead of hanging
        m_kernel.holdWrites = false;
        CKvDeviceIO io;
        const bool sent = io.Init(Path(kMousePath).c_str()) == 0 && io.Set(on.data(), 5) == 0;
        ::_exit(sent ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    m_kernel.holdWrites = false;
    parent.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// End to end through the kernel: a virtual HID device with the vendor collection, made with
// uhid, answers the feature exchange and receives the output report.
TEST(UhidTest, InitSetAndGetOnAVirtualHidDevice) {
    const int uhid = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (uhid < 0) {
        GTEST_SKIP() << "SKIPPED: /dev/uhid cannot be opened here (" << std::strerror(errno)
                     << "): no virtual HID device can be made";
    }
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(create.u.create2.name), 128, "kvsdk-transport-test");
    create.u.create2.rd_size = static_cast<uint16_t>(kVendorDescriptor.size());
    create.u.create2.bus = BUS_USB;
    create.u.create2.vendor = 0x7A3E;
    create.u.create2.product = 0x0E51;
    std::memcpy(create.u.create2.rd_data, kVendorDescriptor.data(), kVendorDescriptor.size());
    ASSERT_EQ(::write(uhid, &create, sizeof create), static_cast<ssize_t>(sizeof create));
    std::string node;
    for (int i = 0; i < 200 && node.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const auto& entry : fs::directory_iterator("/sys/class/hidraw")) {
            const std::string uevent =
                kvsdk::test::ReadTextFile(entry.path() / "device" / "uevent");
            if (uevent.find("HID_NAME=kvsdk-transport-test") != std::string::npos) {
                node = entry.path().filename().string();
            }
        }
    }
    ASSERT_FALSE(node.empty());
    // The device's side: answer every feature request, keep the output report.
    Bytes output;
    std::thread device([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (output.empty() && std::chrono::steady_clock::now() < until) {
            pollfd ready{uhid, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0) continue;
            uhid_event ev{};
            if (::read(uhid, &ev, sizeof ev) <= 0) break;
            uhid_event reply{};
            if (ev.type == UHID_SET_REPORT) {
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = ev.u.set_report.id;
            } else if (ev.type == UHID_GET_REPORT) {
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = ev.u.get_report.id;
                reply.u.get_report_reply.size = 65;
                const uint8_t answer[] = {0x00, 0x00, 0x03, 0x01, 0x0B, 0x2A};
                std::memcpy(reply.u.get_report_reply.data, answer, sizeof answer);
            } else if (ev.type == UHID_OUTPUT) {
                output.assign(ev.u.output.data, ev.u.output.data + ev.u.output.size);
                continue;
            } else {
                continue;
            }
            if (::write(uhid, &reply, sizeof reply) < 0) break;
        }
    });
    CKvDeviceIO io;
    const std::string path =
        "\\\\?\\hid#vid_7a3e&pid_0e51#" + node + "#{378de44c-56ef-11d1-bc8c-00a0c91405dd}";
    EXPECT_EQ(io.Init(kvsdk::FromUtf8(path).c_str()), 0);
    Bytes request{0x00, 0x03, 0x01, 0x0B, 0x00};
    uint32_t length = 5;
    EXPECT_EQ(io.Get(request.data(), &length), 0);
    EXPECT_EQ(request, (Bytes{0x00, 0x03, 0x01, 0x0B, 0x2A}));
    const Bytes on{0x00, 0x03, 0x00, 0x01, 0x01};
    EXPECT_EQ(io.Set(on.data(), 5), 0);
    device.join();
    EXPECT_EQ(Bytes(output.begin(), output.begin() + 6),
              (Bytes{0x00, 0x00, 0x03, 0x00, 0x01, 0x01}));
    uhid_event destroy{};
    destroy.type = UHID_DESTROY;
    EXPECT_GT(::write(uhid, &destroy, sizeof destroy), 0);
    ::close(uhid);
}

}  // namespace

#endif
