// The Windows calls the HID transport makes, as one table. The library uses the system's own;
// a test under Wine replaces the table to check report lengths, the zero-access fallback and the
// bound on an I/O that never completes, without a device.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kvsdkmod/transport/ReportDescriptor.h"

namespace kvsdkmod::transport::win32 {

struct Win32Calls {
    // CreateFileW with 'access', shared read/write, OPEN_EXISTING, FILE_FLAG_OVERLAPPED.
    HANDLE (*createFile)(const wchar_t* path, DWORD access);
    BOOL (*closeHandle)(HANDLE handle);
    BOOL (*writeFile)(HANDLE handle, const void* buffer, DWORD length, OVERLAPPED* overlapped);
    BOOL (*readFile)(HANDLE handle, void* buffer, DWORD length, OVERLAPPED* overlapped);
    BOOL (*deviceIoControl)
    (HANDLE handle, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
     OVERLAPPED* overlapped);
    BOOL (*getOverlappedResult)
    (HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
    BOOL (*cancelIoEx)(HANDLE handle, OVERLAPPED* overlapped);
    // HidD_FlushQueue.
    BOOL (*flushQueue)(HANDLE handle);
    // HidD_GetAttributes: the collection's vendor and product id.
    BOOL (*getAttributes)(HANDLE handle, USHORT* vendorId, USHORT* productId);
    // HidD_GetPreparsedData, HidP_GetCaps and the value and button capabilities: usage page,
    // usage, report IDs of each type and the buffer length of each type.
    BOOL (*getCollection)(HANDLE handle, CollectionInfo* collection);
    // The paths of the present interfaces of the HID class (HidD_GetHidGuid).
    void (*listHidInterfaces)(std::vector<std::wstring>* paths);
};

// The table in use.
const Win32Calls& Calls();

// Puts 'calls' in use until destroyed (tests; set it while no device is open).
class ScopedWin32Calls {
  public:
    explicit ScopedWin32Calls(const Win32Calls& calls);
    ~ScopedWin32Calls();
    ScopedWin32Calls(const ScopedWin32Calls&) = delete;
    ScopedWin32Calls& operator=(const ScopedWin32Calls&) = delete;

  private:
    const Win32Calls* m_previous;
};

}  // namespace kvsdkmod::transport::win32
