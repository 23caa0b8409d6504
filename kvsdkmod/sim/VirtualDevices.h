// The virtual devices of the simulated device set (KVSDK_SIM). One virtual device per interface
// path (any case) of one device file, shared by every object opened on that path in the process
// and kept for the life of the process.
#pragma once

#include <optional>
#include <string>

#include "kvsdkmod/Connection.h"
#include "KvSDKMod.h"

namespace kvsdkmod::sim {

// nullopt when KVSDK_SIM is unset. Otherwise the virtual device's Init answer (traced) and, when
// that answer is not negative, the connection; for a path the file does not list, the answer
// of an absent device (0x80070002, not traced) and no connection: no hardware is opened then.
std::optional<DeviceOpenResult> OpenSimDevice(const std::wstring& path);

// nullopt when KVSDK_SIM is unset. Otherwise the connect= answer of the first interface with
// these ids (traced) and, when true, the channel; not connected (not traced) when the file lists
// no such interface.
std::optional<ChannelOpenResult> ConnectSimChannel(int vendorId, int productId);

// The observation seam behind KvSDKModSetSimCommandObserver.
void SetCommandObserver(KvSimCommandObserver observer, void* context);

}  // namespace kvsdkmod::sim
