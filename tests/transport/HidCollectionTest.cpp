// The Windows transport over replaced Win32 calls: which collection a mouse path reaches, how its
// reports are sent on a handle Windows opens only without access, and the bound on an I/O that
// never completes.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <windows.h>
// clang-format off
#include <winioctl.h>
#include <hidclass.h>
// clang-format on

#include <cstring>
#include <string>
#include <vector>

#include "KvSDKMod.h"
#include "kvsdkmod/transport/win32/Win32Calls.h"
#include "tests/support/TestSupport.h"
#include "tests/transport/ReportText.h"

namespace {

using namespace kvsdkmod::transport;
using Bytes = std::vector<uint8_t>;

const std::wstring kHid[] = {
    L"\\\\?\\hid#vid_7a3e&pid_0e51&mi_00&col01#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
    L"\\\\?\\hid#vid_7a3e&pid_0e51&mi_00&col02#7&1&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}",
    L"\\\\?\\hid#vid_7a3e&pid_0e5b#7&2&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
    // The vendor collection of a second mouse of the same product.
    L"\\\\?\\hid#vid_7a3e&pid_0e51&mi_00&col02#7&9&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}"};

struct FakeWindows {
    std::vector<std::string> log;
    bool neverComplete = false;
};
FakeWindows* g_fake = nullptr;

size_t IndexOf(HANDLE handle) {
    return reinterpret_cast<uintptr_t>(handle) - 0x100;
}

HANDLE FakeCreate(const wchar_t* path, DWORD access) {
    for (size_t i = 0; i < 4; ++i) {
        if (kHid[i] != path) continue;
        if (access != 0) {  // Windows holds every collection of these devices
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        g_fake->log.push_back("open " + std::to_string(i) + " without access");
        return reinterpret_cast<HANDLE>(0x100 + i);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}
BOOL FakeClose(HANDLE) {
    return TRUE;
}
BOOL FakeWrite(HANDLE, const void*, DWORD, OVERLAPPED*) {
    g_fake->log.push_back("WriteFile on a handle without access");
    return FALSE;
}
BOOL FakeRead(HANDLE, void*, DWORD, OVERLAPPED*) {
    g_fake->log.push_back("ReadFile on a handle without access");
    return FALSE;
}
BOOL FakeControl(HANDLE handle, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                 OVERLAPPED*) {
    const char* name = code == IOCTL_HID_SET_OUTPUT_REPORT ? "set-output"
                       : code == IOCTL_HID_SET_FEATURE     ? "set-feature"
                       : code == IOCTL_HID_GET_FEATURE     ? "get-feature"
                                                           : "other";
    g_fake->log.push_back(std::string(name) + " " + std::to_string(IndexOf(handle)) + " " +
                          kvsdk::test::ReportText(in, inLength));
    if (g_fake->neverComplete) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    if (code == IOCTL_HID_GET_FEATURE && outLength >= 6) {
        const uint8_t answer[] = {0x00, 0x00, 0x03, 0x01, 0x0B, 0x2A};
        std::memcpy(out, answer, sizeof answer);
    }
    return TRUE;
}
BOOL FakeResult(HANDLE, OVERLAPPED*, DWORD* transferred, BOOL) {
    *transferred = 65;
    return TRUE;
}
BOOL FakeCancel(HANDLE, OVERLAPPED*) {
    g_fake->log.push_back("cancel");
    return TRUE;
}
BOOL FakeFlush(HANDLE) {
    return TRUE;
}
BOOL FakeAttributes(HANDLE handle, USHORT* vendor, USHORT* product) {
    *vendor = 0x7A3E;
    *product = IndexOf(handle) == 2 ? 0x0E5B : 0x0E51;
    return TRUE;
}
BOOL FakeCollection(HANDLE handle, CollectionInfo* collection) {
    if (IndexOf(handle) == 0) {  // the mouse collection
        *collection = {0x0001, 0x0002, {{ReportType::Input, 0, 0}}, {5, 0, 0}};
    } else {
        *collection = {
            0xFF00, 0x0001, {{ReportType::Output, 0, 0}, {ReportType::Feature, 0, 0}}, {0, 65, 65}};
    }
    return TRUE;
}
void FakeList(std::vector<std::wstring>* paths) {
    *paths = {kHid[3], kHid[0], kHid[1], kHid[2]};  // the other mouse is listed first
}

const win32::Win32Calls kFakeCalls{FakeCreate,     FakeClose,      FakeWrite,  FakeRead,
                                   FakeControl,    FakeResult,     FakeCancel, FakeFlush,
                                   FakeAttributes, FakeCollection, FakeList};

class HidCollectionTest : public testing::Test {
  protected:
    HidCollectionTest() { g_fake = &m_fake; }
    ~HidCollectionTest() override { g_fake = nullptr; }

    kvsdk::test::ScopedEnv m_noSim{"KVSDK_SIM", std::nullopt};
    win32::ScopedWin32Calls m_calls{kFakeCalls};
    FakeWindows m_fake;
};

const wchar_t kMousePath[] =
    L"\\\\?\\HID#VID_7A3E&PID_0E51&MI_00#7&1&0&0000#{378DE44C-56EF-11D1-BC8C-00A0C91405DD}";

TEST_F(HidCollectionTest, AMousePathReachesItsVendorCollectionThroughReportRequests) {
    CKvDeviceIO io;
    ASSERT_EQ(io.Init(kMousePath), 0);
    const Bytes on{0x00, 0x03, 0x00, 0x01, 0x01};
    EXPECT_EQ(io.Set(on.data(), 5), 0);
    Bytes request{0x00, 0x03, 0x01, 0x0B, 0x00};
    uint32_t length = 5;
    EXPECT_EQ(io.Get(request.data(), &length), 0);
    EXPECT_EQ(request, (Bytes{0x00, 0x03, 0x01, 0x0B, 0x2A}));
    EXPECT_EQ(m_fake.log,
              (std::vector<std::string>{"open 0 without access", "open 1 without access",
                                        "set-output 1 00 00 03 00 01 01 /65",
                                        "set-feature 1 00 00 03 01 0B /65", "get-feature 1 /65"}));
}

TEST_F(HidCollectionTest, TheUsbDevice0E5BIsReachedThroughItsHidCollection) {
    CKvDeviceIO io;
    EXPECT_EQ(
        io.Init(L"\\\\?\\USB#VID_7A3E&PID_0E5B#5&1&0&1#{A5DCBF10-6530-11D2-901F-00C04FB951ED}"), 0);
    ChannelHID channel;
    ASSERT_TRUE(channel.Connect(0x7A3E, 0x0E5B));
    const uint8_t rgb[] = {0x10, 0x20, 0x30};
    EXPECT_EQ(channel.I2CTunnelWrite(false, false, 0x61, 0, 2, rgb, 3), 0);
    EXPECT_EQ(m_fake.log.back(), "set-output 2 00 00 61 00 02 03 10 20 30 /65");
}

TEST_F(HidCollectionTest, AnIoThatNeverCompletesIsCancelledAndAnswersATimeout) {
    CKvDeviceIO io;
    ASSERT_EQ(io.Init(kMousePath), 0);
    m_fake.neverComplete = true;
    const Bytes on{0x00, 0x03, 0x00, 0x01, 0x01};
    EXPECT_EQ(static_cast<uint32_t>(io.Set(on.data(), 5)), 0x800705B4u);
    EXPECT_EQ(m_fake.log.back(), "cancel");
}

}  // namespace

#endif
