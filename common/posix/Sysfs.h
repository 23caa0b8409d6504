// Reading Linux sysfs, for the engine's device enumeration and the device-I/O library's search
// for a device's HID nodes. Every attribute is read as a file that anybody may have planted (a
// tree given by KVSDK_SYSFS_ROOT): a FIFO or a device at the name is refused without blocking.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvsdk::posix {

// Root of the sysfs tree: KVSDK_SYSFS_ROOT when set and not empty, "/sys" otherwise. Read at
// every call.
std::filesystem::path SysfsRoot();

std::string Trim(std::string_view text);
bool StartsWith(std::string_view text, std::string_view prefix);

// The contents of a sysfs attribute without surrounding white space; nullopt when unreadable.
std::optional<std::string> ReadAttribute(const std::filesystem::path& path);
std::optional<unsigned long> ParseHex(std::string_view text);
std::optional<unsigned long> ReadHexAttribute(const std::filesystem::path& path);

// The entries of a folder, sorted; empty when it cannot be read.
std::vector<std::filesystem::path> ListDirectory(const std::filesystem::path& folder);

// Vendor and product id of a HID device: HID_ID=0003:00007A3E:00000E51 in its uevent, or the
// folder name 0003:7A3E:0E51.0001.
bool ReadHidIds(const std::filesystem::path& hidDevice, unsigned& vendor, unsigned& product);

}  // namespace kvsdk::posix
