#include "kvsdkmod/transport/win32/Win32Calls.h"

// MinGW's HID headers declare C functions without extern "C".
extern "C" {
// clang-format off
#include <hidsdi.h>
#include <hidpi.h>
// clang-format on
}

#include <algorithm>
#include <atomic>

#include "common/win32/InterfacePaths.h"

namespace kvsdkmod::transport::win32 {

namespace {

HANDLE CreateOverlapped(const wchar_t* path, DWORD access) {
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

BOOL Write(HANDLE handle, const void* buffer, DWORD length, OVERLAPPED* overlapped) {
    return WriteFile(handle, buffer, length, nullptr, overlapped);
}

BOOL Read(HANDLE handle, void* buffer, DWORD length, OVERLAPPED* overlapped) {
    return ReadFile(handle, buffer, length, nullptr, overlapped);
}

BOOL Control(HANDLE handle, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
             OVERLAPPED* overlapped) {
    return DeviceIoControl(handle, code, in, inLength, out, outLength, nullptr, overlapped);
}

// The system's own functions are __stdcall on 32-bit Windows: the table holds plain functions.
BOOL Close(HANDLE handle) {
    return CloseHandle(handle);
}

BOOL Result(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) {
    return GetOverlappedResult(handle, overlapped, transferred, wait);
}

BOOL Cancel(HANDLE handle, OVERLAPPED* overlapped) {
    return CancelIoEx(handle, overlapped);
}

BOOL Flush(HANDLE handle) {
    return HidD_FlushQueue(handle);
}

BOOL Attributes(HANDLE handle, USHORT* vendorId, USHORT* productId) {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(handle, &attributes)) return FALSE;
    *vendorId = attributes.VendorID;
    *productId = attributes.ProductID;
    return TRUE;
}

void AddReport(CollectionInfo& collection, ReportType type, UCHAR id) {
    if (collection.Find(type, id) == nullptr) collection.reports.push_back({type, id, 0});
}

void AddReports(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE hidType, ReportType type,
                USHORT valueCount, USHORT buttonCount, CollectionInfo& collection) {
    if (valueCount > 0) {
        std::vector<HIDP_VALUE_CAPS> values(valueCount);
        if (HidP_GetValueCaps(hidType, values.data(), &valueCount, data) == HIDP_STATUS_SUCCESS) {
            for (USHORT i = 0; i < valueCount; ++i) AddReport(collection, type, values[i].ReportID);
        }
    }
    if (buttonCount > 0) {
        std::vector<HIDP_BUTTON_CAPS> buttons(buttonCount);
        if (HidP_GetButtonCaps(hidType, buttons.data(), &buttonCount, data) ==
            HIDP_STATUS_SUCCESS) {
            for (USHORT i = 0; i < buttonCount; ++i) {
                AddReport(collection, type, buttons[i].ReportID);
            }
        }
    }
}

BOOL Collection(HANDLE handle, CollectionInfo* collection) {
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!HidD_GetPreparsedData(handle, &data)) return FALSE;
    HIDP_CAPS caps{};
    const bool read = HidP_GetCaps(data, &caps) == HIDP_STATUS_SUCCESS;
    if (read) {
        collection->usagePage = caps.UsagePage;
        collection->usage = caps.Usage;
        collection->bufferLength[static_cast<int>(ReportType::Input)] = caps.InputReportByteLength;
        collection->bufferLength[static_cast<int>(ReportType::Output)] =
            caps.OutputReportByteLength;
        collection->bufferLength[static_cast<int>(ReportType::Feature)] =
            caps.FeatureReportByteLength;
        AddReports(data, HidP_Input, ReportType::Input, caps.NumberInputValueCaps,
                   caps.NumberInputButtonCaps, *collection);
        AddReports(data, HidP_Output, ReportType::Output, caps.NumberOutputValueCaps,
                   caps.NumberOutputButtonCaps, *collection);
        AddReports(data, HidP_Feature, ReportType::Feature, caps.NumberFeatureValueCaps,
                   caps.NumberFeatureButtonCaps, *collection);
    }
    HidD_FreePreparsedData(data);
    return read ? TRUE : FALSE;
}

void ListHid(std::vector<std::wstring>* paths) {
    GUID hidGuid{};
    HidD_GetHidGuid(&hidGuid);
    const kvsdk::win32::CInterfaceSet set(hidGuid);
    // The bound only guards against a platform that never reports the end of the list.
    for (uint32_t index = 0; index < 4096; ++index) {
        std::wstring path;
        if (kvsdk::Failed(set.Path(index, path))) break;
        paths->push_back(path);
    }
}

constexpr Win32Calls kSystem{CreateOverlapped, Close, Write,      Read,       Control, Result,
                             Cancel,           Flush, Attributes, Collection, ListHid};

std::atomic<const Win32Calls*> g_calls{&kSystem};

}  // namespace

const Win32Calls& Calls() {
    return *g_calls.load(std::memory_order_acquire);
}

ScopedWin32Calls::ScopedWin32Calls(const Win32Calls& calls)
    : m_previous(g_calls.exchange(&calls, std::memory_order_acq_rel)) {}

ScopedWin32Calls::~ScopedWin32Calls() {
    g_calls.store(m_previous, std::memory_order_release);
}

}  // namespace kvsdkmod::transport::win32
