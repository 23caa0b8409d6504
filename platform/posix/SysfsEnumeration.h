// Device-interface enumeration over Linux sysfs.
//
// The engine's finder looks for Windows-style interface paths (markers "vid_", "pid_", "MI_02").
// On Linux the present HID and USB devices are read from sysfs and reported as paths of that
// form, which the device-I/O library opens again by their third '#'-separated field:
//
//   mouse / keyboard class:  \\?\hid#vid_7a3e&pid_0e51&mi_00#hidraw3#{class guid}
//   USB-device class:        \\?\usb#vid_7a3e&pid_0e5b#1-2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}
//
// Hex digits are lower case, as Windows reports them. A HID device that does not sit on a USB
// interface (Bluetooth, I2C) carries no "mi_NN" marker.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/Win32Types.h"
#include "common/posix/Sysfs.h"

namespace kvsdk::platform::posix {

using kvsdk::posix::SysfsRoot;

// Every present interface of 'classGuid' under the sysfs tree 'root', in the order the
// enumeration reports them (index 0 first). Classes other than mouse, keyboard and USB device
// have no members. A missing or unreadable tree gives an empty list; nothing throws.
std::vector<std::wstring> ListInterfacePaths(const std::filesystem::path& root,
                                             const GUID& classGuid);

}  // namespace kvsdk::platform::posix
