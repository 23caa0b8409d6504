// The open ends behind CKvDeviceIO and ChannelHID. A connection is either a virtual device of the
// simulated device set or a hardware transport of the platform; the public classes only validate
// arguments and forward.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/Win32Types.h"

namespace kvsdkmod {

// Windows error numbers the device-I/O library answers beyond those of Win32Types.h.
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorBadUnit = 20;
inline constexpr uint32_t kErrorBadLength = 24;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorIoDevice = 1117;

// Answers of the hardware transport:
// the device has no collection that carries lighting (no vendor-defined usage page, or not the
// one the framing names);
inline constexpr HRESULT kNoLightingCollection = kvsdk::HResultFromWin32(kErrorBadUnit);
// its lighting collection lacks a report the framing uses, or has it with another length;
inline constexpr HRESULT kFramingMismatch = kvsdk::HResultFromWin32(kErrorInvalidData);
// a command longer than the framing's report;
inline constexpr HRESULT kCommandTooLong = kvsdk::HResultFromWin32(kErrorBadLength);
// an I/O that did not complete within its bound;
inline constexpr HRESULT kTimedOut = kvsdk::HResultFromWin32(kvsdk::kErrorTimeout);
// the device is gone (unplugged, or its node now belongs to another device).
inline constexpr HRESULT kNotConnected = kvsdk::HResultFromWin32(kvsdk::kErrorDeviceNotConnected);

// The answer of CKvDeviceIO::Set and Get on an object that has no usable device.
inline constexpr HRESULT kInvalidHandle = kvsdk::HResultFromWin32(kvsdk::kErrorInvalidHandle);

class DeviceConnection {
  public:
    virtual ~DeviceConnection() = default;
    // 'buffer' is never null.
    virtual HRESULT Set(const uint8_t* buffer, uint32_t length) = 0;
    // 'buffer' and 'length' are never null and *length is at least 4.
    virtual HRESULT Get(uint8_t* buffer, uint32_t* length) = 0;
};

class ChannelConnection {
  public:
    virtual ~ChannelConnection() = default;
    // 'data' holds 'length' bytes (length >= 0; data may be null only when length is 0).
    virtual int TunnelWrite(bool flag1, bool flag2, uint8_t command, uint8_t arg1, uint8_t arg2,
                            const uint8_t* data, int length) = 0;
};

// What opening a device interface gave: the Init result and, when the device is usable, the
// connection.
struct DeviceOpenResult {
    HRESULT result = kvsdk::kE_FAIL;
    std::unique_ptr<DeviceConnection> connection;
};

// What connecting a tunnel channel gave: the Connect answer and, when true, the connection.
struct ChannelOpenResult {
    bool connected = false;
    std::unique_ptr<ChannelConnection> connection;
};

}  // namespace kvsdkmod
