// Hardware transport on Windows: the interface path is opened with CreateFileW and buffers are
// exchanged with WriteFile and ReadFile. The tunnel channel is the first present USB device
// interface whose path carries the vendor and product id that opens; the enumeration stops at the
// first interface SetupAPI cannot report, as discovery's does.
#include <windows.h>

#include <string>

#include "common/Strings.h"
#include "common/win32/InterfacePaths.h"
#include "kvsdkmod/transport/Transport.h"
#include "kvsdkmod/transport/TunnelReport.h"

namespace kvsdkmod::transport {

namespace {

HRESULT LastError() {
    const DWORD error = GetLastError();
    return kvsdk::HResultFromWin32(error == 0 ? kErrorGenFailure : error);
}

class Handle {
  public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return m_handle; }

  private:
    HANDLE m_handle;
};

HANDLE OpenPath(const wchar_t* path) {
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE handle, const uint8_t* bytes, uint32_t length) {
    DWORD written = 0;
    return WriteFile(handle, bytes, length, &written, nullptr) && written == length;
}

class Win32Device final : public DeviceConnection {
  public:
    explicit Win32Device(HANDLE handle) : m_handle(handle) {}

    HRESULT Set(const uint8_t* buffer, uint32_t length) override {
        return WriteAll(m_handle.Get(), buffer, length) ? kvsdk::kS_OK : LastError();
    }

    HRESULT Get(uint8_t* buffer, uint32_t* length) override {
        if (!WriteAll(m_handle.Get(), buffer, *length)) return LastError();
        DWORD read = 0;
        if (!ReadFile(m_handle.Get(), buffer, *length, &read, nullptr)) return LastError();
        return kvsdk::kS_OK;
    }

  private:
    Handle m_handle;
};

class Win32Channel final : public ChannelConnection {
  public:
    explicit Win32Channel(HANDLE handle) : m_handle(handle) {}

    int TunnelWrite(bool flag1, bool flag2, uint8_t command, uint8_t arg1, uint8_t arg2,
                    const uint8_t* data, int length) override {
        if (length > kMaxTunnelData) return -1;
        const auto report = TunnelReport(flag1, flag2, command, arg1, arg2, data, length);
        return WriteAll(m_handle.Get(), report.data(), static_cast<uint32_t>(report.size())) ? 0
                                                                                             : -1;
    }

  private:
    Handle m_handle;
};

}  // namespace

DeviceOpenResult OpenHardwareDevice(const std::wstring& path) {
    DeviceOpenResult opened;
    HANDLE handle = OpenPath(path.c_str());
    if (handle == INVALID_HANDLE_VALUE) {
        opened.result = LastError();
        return opened;
    }
    opened.connection = std::make_unique<Win32Device>(handle);
    opened.result = kvsdk::kS_OK;
    return opened;
}

ChannelOpenResult ConnectHardwareChannel(int vendorId, int productId) {
    ChannelOpenResult opened;
    wchar_t ids[2][16];
    swprintf(ids[0], 16, L"VID_%04X", static_cast<unsigned>(vendorId));
    swprintf(ids[1], 16, L"PID_%04X", static_cast<unsigned>(productId));

    std::wstring found;
    for (uint32_t index = 0; kvsdk::Succeeded(
             kvsdk::win32::InterfacePathAt(kvsdk::kGuidDevinterfaceUsbDevice, index, found));
         ++index) {
        const std::wstring path = kvsdk::ToUpper(found);
        if (path.find(ids[0]) == std::wstring::npos || path.find(ids[1]) == std::wstring::npos) {
            continue;
        }
        HANDLE handle = OpenPath(found.c_str());
        if (handle == INVALID_HANDLE_VALUE) continue;
        opened.connection = std::make_unique<Win32Channel>(handle);
        opened.connected = true;
        break;
    }
    return opened;
}

}  // namespace kvsdkmod::transport
