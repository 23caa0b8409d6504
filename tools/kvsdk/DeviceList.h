// The device interfaces of the maker (vendor id 7A3E) that enumeration lists: the simulated set
// when KVSDK_SIM names one, the attached devices otherwise. The exports give no device list,
// so this uses the engine's own enumeration code.
#pragma once

#include <string>
#include <vector>

namespace kvsdk::tool {

struct InterfaceEntry {
    std::string interfaceClass;  // "mouse", "keyboard", "usb"
    std::string productId;       // "0E59"
    std::string family;          // "VEXO", "Pell" or empty for an unknown product
    std::string path;            // as enumeration reports it
    std::string access;          // whether this user can open it: "yes", "no (...)", "simulated"
};

std::vector<InterfaceEntry> ListInterfaces();

// Whether the device-I/O library can open an interface for this user: "yes", or "no (<reason>)".
std::string AccessOf(const std::string& path);

}  // namespace kvsdk::tool
