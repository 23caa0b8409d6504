// The Windows HID backend: the device's HID collections (GUID_DEVINTERFACE_HID).
//
// Discovery reports the mouse or keyboard interface (a top-level collection Windows opens for
// itself) or, for the USB device 0E5B, its USB-device node. Neither can carry a program's reports.
// The lighting lives in a collection of the same device on a vendor-defined usage page: a HID
// interface with the same vendor and product id, taken on the same USB interface first. A
// collection is opened shared for reading and writing and, where Windows refuses that, with no
// access at all, which still allows the report requests of the HID class driver. Every I/O is
// overlapped and waited for at most the framing's bound; then it is cancelled and answers
// HRESULT_FROM_WIN32(ERROR_TIMEOUT).
#include <windows.h>

// clang-format off
#include <winioctl.h>
#include <hidclass.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "common/Strings.h"
#include "kvsdkmod/transport/HidConnection.h"
#include "kvsdkmod/transport/win32/Win32Calls.h"

namespace kvsdkmod::transport {

namespace {

using win32::Calls;

struct ErrorName {
    DWORD error;
    const char* name;
};

constexpr ErrorName kErrorNames[] = {
    {ERROR_INVALID_FUNCTION, "ERROR_INVALID_FUNCTION"},
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
    {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND"},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
    {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
    {ERROR_BAD_COMMAND, "ERROR_BAD_COMMAND"},
    {ERROR_CRC, "ERROR_CRC"},
    {ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE"},
    {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION"},
    {ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
    {ERROR_SEM_TIMEOUT, "ERROR_SEM_TIMEOUT"},
    {ERROR_OPERATION_ABORTED, "ERROR_OPERATION_ABORTED"},
    {ERROR_DEVICE_NOT_CONNECTED, "ERROR_DEVICE_NOT_CONNECTED"},
    {ERROR_TIMEOUT, "ERROR_TIMEOUT"},
};

IoResult FromError(DWORD error) {
    if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
    for (const ErrorName& known : kErrorNames) {
        if (known.error == error) return {kvsdk::HResultFromWin32(error), known.name, 0};
    }
    return {kvsdk::HResultFromWin32(error), std::to_string(error), 0};
}

class Win32Node final : public HidNode {
  public:
    Win32Node(HANDLE handle, bool zeroAccess)
        : m_handle(handle),
          m_zeroAccess(zeroAccess),
          m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Win32Node() override {
        Calls().closeHandle(m_handle);
        if (m_event != nullptr) CloseHandle(m_event);
    }
    Win32Node(const Win32Node&) = delete;
    Win32Node& operator=(const Win32Node&) = delete;

    IoResult Send(ReportType type, const std::vector<uint8_t>& report,
                  uint32_t timeoutMs) override {
        std::vector<uint8_t> copy = report;
        const auto length = static_cast<DWORD>(copy.size());
        return Run(timeoutMs, [&](OVERLAPPED* overlapped) {
            if (type == ReportType::Feature) {
                return Calls().deviceIoControl(m_handle, IOCTL_HID_SET_FEATURE, copy.data(), length,
                                               nullptr, 0, overlapped);
            }
            // A handle opened without access takes no WriteFile, only the class driver's request.
            if (m_zeroAccess) {
                return Calls().deviceIoControl(m_handle, IOCTL_HID_SET_OUTPUT_REPORT, copy.data(),
                                               length, nullptr, 0, overlapped);
            }
            return Calls().writeFile(m_handle, copy.data(), length, overlapped);
        });
    }

    IoResult GetFeature(std::vector<uint8_t>& buffer, uint32_t timeoutMs) override {
        const auto length = static_cast<DWORD>(buffer.size());
        return Run(timeoutMs, [&](OVERLAPPED* overlapped) {
            return Calls().deviceIoControl(m_handle, IOCTL_HID_GET_FEATURE, buffer.data(), length,
                                           buffer.data(), length, overlapped);
        });
    }

    IoResult ReadInput(std::vector<uint8_t>& buffer, uint32_t timeoutMs) override {
        const auto length = static_cast<DWORD>(buffer.size());
        return Run(timeoutMs, [&](OVERLAPPED* overlapped) {
            if (m_zeroAccess) {
                return Calls().deviceIoControl(m_handle, IOCTL_HID_GET_INPUT_REPORT, buffer.data(),
                                               length, buffer.data(), length, overlapped);
            }
            return Calls().readFile(m_handle, buffer.data(), length, overlapped);
        });
    }

    void DiscardInput() override { Calls().flushQueue(m_handle); }

  private:
    // Starts one overlapped I/O and waits at most 'timeoutMs' for it; an I/O still running then
    // is cancelled, and its end awaited, before its buffer may go.
    template <typename Start>
    IoResult Run(uint32_t timeoutMs, Start start) {
        if (m_event == nullptr) return FromError(ERROR_NOT_ENOUGH_MEMORY);
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_event;
        ResetEvent(m_event);
        DWORD transferred = 0;
        if (!start(&overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) return FromError(error);
            if (WaitForSingleObject(m_event, timeoutMs) != WAIT_OBJECT_0) {
                Calls().cancelIoEx(m_handle, &overlapped);
                Calls().getOverlappedResult(m_handle, &overlapped, &transferred, TRUE);
                return {kTimedOut, "ERROR_TIMEOUT", 0};
            }
        }
        if (!Calls().getOverlappedResult(m_handle, &overlapped, &transferred, FALSE)) {
            return FromError(GetLastError());
        }
        return {0, {}, static_cast<uint32_t>(transferred)};
    }

    const HANDLE m_handle;
    const bool m_zeroAccess;
    const HANDLE m_event;
};

// VID_XXXX, PID_XXXX and MI_XX of an upper-cased path.
int IdAfter(const std::wstring& upper, const wchar_t* marker, size_t digits) {
    const size_t at = upper.find(marker);
    if (at == std::wstring::npos) return -1;
    const size_t start = at + std::wcslen(marker);
    if (upper.size() < start + digits) return -1;
    unsigned value = 0;
    for (size_t i = start; i < start + digits; ++i) {
        const wchar_t c = upper[i];
        const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                          : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                   : -1;
        if (digit < 0) return -1;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<int>(value);
}

// The instance of a HID path's USB interface: its third field without the collection's own last
// part ("7&2A1B3C&0" of "7&2A1B3C&0&0001"). Collections of one interface of one device share it,
// so a second device of the same product is told apart. Empty when the path has none.
std::wstring InterfaceInstance(const std::wstring& upper) {
    const size_t first = upper.find(L'#');
    const size_t second = first == std::wstring::npos ? first : upper.find(L'#', first + 1);
    const size_t third = second == std::wstring::npos ? second : upper.find(L'#', second + 1);
    if (third == std::wstring::npos || upper.compare(0, 8, L"\\\\?\\HID#") != 0) return {};
    const std::wstring instance = upper.substr(second + 1, third - second - 1);
    const size_t last = instance.rfind(L'&');
    return last == std::wstring::npos ? std::wstring() : instance.substr(0, last);
}

std::vector<std::wstring> HidInterfaces() {
    std::vector<std::wstring> paths;
    Calls().listHidInterfaces(&paths);
    return paths;
}

class HidCollectionBackend final : public HidBackend {
  public:
    Os GetOs() const override { return Os::Windows; }

    std::optional<std::vector<NodeCandidate>> NodesOfPath(const std::wstring& path,
                                                          uint16_t& vendorId,
                                                          uint16_t& productId) override {
        const std::wstring upper = kvsdk::ToUpper(path);
        const int vid = IdAfter(upper, L"VID_", 4);
        const int pid = IdAfter(upper, L"PID_", 4);
        if (vid < 0 || pid < 0) return std::nullopt;
        vendorId = static_cast<uint16_t>(vid);
        productId = static_cast<uint16_t>(pid);
        const int mi = IdAfter(upper, L"&MI_", 2);
        const std::wstring instance = InterfaceInstance(upper);
        auto nodes = NodesOfIds(vendorId, productId);
        // The collections of the path's own interface come first; those of the same interface of
        // another device of this product are not this device's.
        std::erase_if(nodes, [&](const NodeCandidate& node) {
            const std::wstring other =
                InterfaceInstance(kvsdk::ToUpper(kvsdk::FromUtf8(node.name)));
            return mi >= 0 && node.interfaceNumber == mi && !instance.empty() && other != instance;
        });
        std::stable_partition(nodes.begin(), nodes.end(), [mi](const NodeCandidate& node) {
            return mi >= 0 && node.interfaceNumber == mi;
        });
        return nodes;
    }

    std::vector<NodeCandidate> NodesOfIds(uint16_t vendorId, uint16_t productId) override {
        std::vector<NodeCandidate> nodes;
        for (const std::wstring& path : HidInterfaces()) {
            const std::wstring upper = kvsdk::ToUpper(path);
            if (IdAfter(upper, L"VID_", 4) != vendorId || IdAfter(upper, L"PID_", 4) != productId) {
                continue;
            }
            nodes.push_back({kvsdk::ToUtf8(path), IdAfter(upper, L"&MI_", 2)});
        }
        return nodes;
    }

    OpenedNode Open(const NodeCandidate& candidate, uint16_t vendorId,
                    uint16_t productId) override {
        OpenedNode opened;
        const std::wstring path = kvsdk::FromUtf8(candidate.name);
        HANDLE handle = Calls().createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
                opened.error = FromError(error);
                return opened;
            }
            // Windows holds the collection (or the user may not write it): report requests still
            // pass on a handle without access.
            handle = Calls().createFile(path.c_str(), 0);
            if (handle == INVALID_HANDLE_VALUE) {
                opened.error = FromError(GetLastError());
                return opened;
            }
            opened.zeroAccess = true;
        }
        auto node = std::make_unique<Win32Node>(handle, opened.zeroAccess);
        USHORT vendor = 0;
        USHORT product = 0;
        if (!Calls().getAttributes(handle, &vendor, &product)) {
            opened.error = FromError(GetLastError());
            return opened;
        }
        if (vendor != vendorId || product != productId) {
            char now[32];
            std::snprintf(now, sizeof now, "now %04X:%04X", vendor, product);
            opened.error = {kNotConnected, {}, 0};
            opened.detail = now;
            return opened;
        }
        CollectionInfo collection;
        if (!Calls().getCollection(handle, &collection)) {
            opened.error = FromError(GetLastError());
            return opened;
        }
        opened.collections.push_back(std::move(collection));
        opened.node = std::move(node);
        return opened;
    }

    std::vector<CollectionInfo> DescribeClosed(const NodeCandidate&) override { return {}; }

    std::vector<AttachedDevice> AttachedDevices(uint16_t vendorId) override {
        std::vector<AttachedDevice> devices;
        for (const std::wstring& path : HidInterfaces()) {
            const std::wstring upper = kvsdk::ToUpper(path);
            if (IdAfter(upper, L"VID_", 4) != vendorId) continue;
            const int pid = IdAfter(upper, L"PID_", 4);
            if (pid < 0) continue;
            auto it = std::find_if(devices.begin(), devices.end(),
                                   [pid](const AttachedDevice& d) { return d.productId == pid; });
            if (it == devices.end()) {
                char where[32];
                std::snprintf(where, sizeof where, "HID VID_%04X&PID_%04X", vendorId, pid);
                devices.push_back({static_cast<uint16_t>(pid), where, {}});
                it = devices.end() - 1;
            }
            it->nodes.push_back({kvsdk::ToUtf8(path), IdAfter(upper, L"&MI_", 2)});
        }
        return devices;
    }
};

}  // namespace

HidBackend& PlatformBackend() {
    static HidCollectionBackend* backend = new HidCollectionBackend;
    return *backend;
}

}  // namespace kvsdkmod::transport
