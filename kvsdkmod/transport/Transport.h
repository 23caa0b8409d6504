// The hardware side of the device-I/O library. The connections, the choice of a device's lighting
// collection, its framing and the hardware trace are written once (HidConnection.*, Framing.*);
// each platform supplies a HidBackend that finds and opens HID nodes: hidraw nodes on Linux
// (transport/posix), HID collections on Windows (transport/win32).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kvsdkmod/Connection.h"
#include "kvsdkmod/transport/Framing.h"

namespace kvsdkmod::transport {

// Opens the lighting collection of the device behind the interface path 'path' as the platform
// reports it (any case). A device that cannot be opened answers a negative HRESULT and no
// connection; the hardware trace says why.
DeviceOpenResult OpenHardwareDevice(const std::wstring& path);

// Opens the lighting collection of the first attached device with these ids, for tunnel writes.
ChannelOpenResult ConnectHardwareChannel(int vendorId, int productId);

// The framing overrides the registry (Linux: its .reg stand-in) holds for a product, by value
// name, read now.
std::map<std::string, OverrideValue> ReadFramingOverrides(uint16_t productId);

// The operating system's answer to one call.
struct IoResult {
    HRESULT result = 0;
    std::string osError;       // "EPIPE", "ERROR_TIMEOUT"; empty on success
    uint32_t transferred = 0;  // bytes a read returned
    bool Failed() const { return result < 0; }
};

// One opened HID node: a hidraw node (Linux) or a HID collection (Windows). Every call returns
// within the given bound.
class HidNode {
  public:
    virtual ~HidNode() = default;
    // Sends a whole output or feature report (report-ID byte first).
    virtual IoResult Send(ReportType type, const std::vector<uint8_t>& report,
                          uint32_t timeoutMs) = 0;
    // Reads the feature report whose ID is in byte 0 of 'buffer' into 'buffer'.
    virtual IoResult GetFeature(std::vector<uint8_t>& buffer, uint32_t timeoutMs) = 0;
    // Reads the next input report into 'buffer'; a timeout answers
    // HRESULT_FROM_WIN32(ERROR_TIMEOUT).
    virtual IoResult ReadInput(std::vector<uint8_t>& buffer, uint32_t timeoutMs) = 0;
    // Drops the input reports that arrived before a request.
    virtual void DiscardInput() = 0;
};

// A node the platform could open for a device.
struct NodeCandidate {
    std::string name;          // "/dev/hidraw4", or a HID collection's interface path
    int interfaceNumber = -1;  // its USB interface, when known
};

// What opening a node gave.
struct OpenedNode {
    std::unique_ptr<HidNode> node;  // null when it could not be opened or is another device
    IoResult error;                 // why not
    std::string detail;             // more of why not ("/dev/hidraw3 is now 046D:C52B")
    std::vector<CollectionInfo> collections;
    bool zeroAccess = false;  // Windows: opened without read/write access
};

// An attached device of the vendor, for the probe.
struct AttachedDevice {
    uint16_t productId = 0;
    std::string where;  // "usb 1-2", "HID#VID_7A3E&PID_0E51&MI_00#..."
    std::vector<NodeCandidate> nodes;
};

class HidBackend {
  public:
    virtual ~HidBackend() = default;
    virtual Os GetOs() const = 0;
    // The nodes of the device behind an interface path, the one the path names first; nullopt
    // when the path names no device of this platform. Sets the path's vendor and product id.
    virtual std::optional<std::vector<NodeCandidate>> NodesOfPath(const std::wstring& path,
                                                                  uint16_t& vendorId,
                                                                  uint16_t& productId) = 0;
    // The nodes of every attached device with these ids.
    virtual std::vector<NodeCandidate> NodesOfIds(uint16_t vendorId, uint16_t productId) = 0;
    // Opens a node and checks that it still belongs to a device with these ids.
    virtual OpenedNode Open(const NodeCandidate& node, uint16_t vendorId, uint16_t productId) = 0;
    // The collections of a node that cannot be opened, where the platform tells them anyway.
    virtual std::vector<CollectionInfo> DescribeClosed(const NodeCandidate& node) = 0;
    // Every attached device of the vendor.
    virtual std::vector<AttachedDevice> AttachedDevices(uint16_t vendorId) = 0;
};

// The backend of this platform.
HidBackend& PlatformBackend();

}  // namespace kvsdkmod::transport
