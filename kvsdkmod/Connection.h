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
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;

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
