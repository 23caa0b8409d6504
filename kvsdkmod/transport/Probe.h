// What a device owner runs first (`kvsdk probe`): every attached device of the vendor, each of its
// HID nodes and collections with their usage pages and reports, whether the current user can open
// it, which one the library would use and why, and the framing in force (built-in or overridden).
#pragma once

#include <string>

#include "kvsdkmod/transport/Transport.h"

namespace kvsdkmod::transport {

// The report as text, or as one JSON object for bug reports. Under KVSDK_SIM, the interfaces of
// the simulated set (no hardware is opened).
std::string ProbeReport(HidBackend& backend, bool json);

}  // namespace kvsdkmod::transport
