// The hardware side of the device-I/O library: one implementation per platform.
#pragma once

#include <string>

#include "kvsdkmod/Connection.h"

namespace kvsdkmod::transport {

// Opens the device interface 'path' as the platform reports it (any case). A path that cannot
// be opened answers a negative HRESULT and no connection.
DeviceOpenResult OpenHardwareDevice(const std::wstring& path);

// Opens the tunnel channel of the first attached USB device with these ids.
ChannelOpenResult ConnectHardwareChannel(int vendorId, int productId);

}  // namespace kvsdkmod::transport
