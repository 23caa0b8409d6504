// Windows result codes and registry constants on every platform. The library speaks in HRESULTs
// and Windows error numbers everywhere; on Linux the values are defined here.
#pragma once

#include <cstdint>

#include "KvSDKEng.h"

namespace kvsdk {

// Windows error numbers used by the library.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorTimeout = 1460;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr uint32_t kErrorNotEnoughQuota = 1816;

// Registry value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

// Registry access masks.
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyReadWrite = 0x2001F;    // KEY_READ | KEY_WRITE
inline constexpr uint32_t kKeyAllAccess64 = 0xF013F;  // KEY_ALL_ACCESS | KEY_WOW64_64KEY

inline constexpr HRESULT kS_OK = 0;
inline constexpr HRESULT kE_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT kE_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT kE_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT kE_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT kE_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT kE_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT kE_NOT_SUPPORTED = static_cast<HRESULT>(0x80070032u);

// The Windows HRESULT_FROM_WIN32 rule: 0 gives S_OK, a code that is already negative as a
// signed 32-bit number passes unchanged, any other code n gives 0x80070000 | (n & 0xFFFF).
constexpr HRESULT HResultFromWin32(uint32_t code) {
    if (static_cast<int32_t>(code) <= 0) return static_cast<HRESULT>(code);
    return static_cast<HRESULT>((code & 0x0000FFFFu) | 0x80070000u);
}

// A device's effect queue is full (HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA)).
inline constexpr HRESULT kE_QUEUE_FULL = HResultFromWin32(kErrorNotEnoughQuota);
static_assert(kE_QUEUE_FULL == KVSDK_E_QUEUE_FULL);

constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}
constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}

inline bool GuidEqual(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}

inline constexpr GUID kGuidNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Device-interface classes searched by discovery.
inline constexpr GUID kGuidDevinterfaceMouse = {
    0x378DE44C, 0x56EF, 0x11D1, {0xBC, 0x8C, 0x00, 0xA0, 0xC9, 0x14, 0x05, 0xDD}};
inline constexpr GUID kGuidDevinterfaceKeyboard = {
    0x884B96C3, 0x56EF, 0x11D1, {0xBC, 0x8C, 0x00, 0xA0, 0xC9, 0x14, 0x05, 0xDD}};
inline constexpr GUID kGuidDevinterfaceUsbDevice = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

}  // namespace kvsdk
