// The virtual devices of the simulated device set (KVSDK_SIM). One virtual device per interface
// path (any case) of one device file, shared by every object opened on that path in the process
// and kept for the life of the process.
#pragma once

#include <optional>
#include <string>

#include "kvsdkmod/Connection.h"
#include "KvSDKMod.h"

namespace kvsdkmod::sim {

// nullopt when KVSDK_SIM is unset or does not list 'path'; otherwise the virtual device's Init
// answer (traced) and, when that answer is not negative, the connection.
std::optional<DeviceOpenResult> OpenSimDevice(const std::wstring& path);

// nullopt when KVSDK_SIM is unset or lists no interface with these ids; otherwise the connect=
// answer of the first such interface (traced) and, when true, the channel.
std::optional<ChannelOpenResult> ConnectSimChannel(int vendorId, int productId);

// The observation seam behind KvSDKModSetSimCommandObserver.
void SetCommandObserver(KvSimCommandObserver observer, void* context);

}  // namespace kvsdkmod::sim
