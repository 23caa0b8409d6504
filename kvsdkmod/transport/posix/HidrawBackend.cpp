// The Linux HID backend: hidraw nodes, found through sysfs.
//
// An interface path names the node of the interface discovery found, or a USB device:
//   \\?\hid#vid_7a3e&pid_0e51&mi_00#hidraw3#{...}   the node /dev/hidraw3, then the other hidraw
//                                                  nodes of the same USB device
//   \\?\usb#vid_7a3e&pid_0e5b#1-2#{...}            the hidraw nodes of USB device 1-2
// Every node is checked after it is opened (HIDIOCGRAWINFO): hidraw numbers are reused after an
// unplug, and a number that now belongs to another device (a UPS, a security key) is never
// written to. Its collections come from its report descriptor (HIDIOCGRDESC). Reads are bounded
// with poll; writes and feature reports are bounded by the kernel's own USB timeout.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "common/SafeFile.h"
#include "common/Strings.h"
#include "common/posix/Sysfs.h"
#include "kvsdkmod/transport/HidConnection.h"
#include "kvsdkmod/transport/posix/SystemCalls.h"

namespace kvsdkmod::transport {

namespace {

namespace fs = std::filesystem;
using kvsdk::posix::ListDirectory;
using kvsdk::posix::ReadHexAttribute;
using kvsdk::posix::SysfsRoot;

constexpr uint16_t kBusUsb = 3;
// The largest report descriptor the kernel hands out.
constexpr size_t kMaxDescriptor = HID_MAX_DESCRIPTOR_SIZE;

struct ErrnoInfo {
    int error;
    const char* name;
    uint32_t windowsError;
};

constexpr ErrnoInfo kErrnos[] = {
    {ENOENT, "ENOENT", kvsdk::kErrorFileNotFound},
    {ENOTDIR, "ENOTDIR", kErrorPathNotFound},
    {EACCES, "EACCES", kvsdk::kErrorAccessDenied},
    {EPERM, "EPERM", kvsdk::kErrorAccessDenied},
    // Another program holds the device exclusively: not a permissions problem.
    {EBUSY, "EBUSY", kErrorBusy},
    {ENODEV, "ENODEV", kvsdk::kErrorDeviceNotConnected},
    {ENXIO, "ENXIO", kvsdk::kErrorDeviceNotConnected},
    {ESHUTDOWN, "ESHUTDOWN", kvsdk::kErrorDeviceNotConnected},
    {ETIMEDOUT, "ETIMEDOUT", kvsdk::kErrorTimeout},
    // The device refused the request (a stalled control transfer).
    {EPIPE, "EPIPE", kErrorGenFailure},
    {EPROTO, "EPROTO", kErrorGenFailure},
    {EIO, "EIO", kErrorIoDevice},
    {EINVAL, "EINVAL", kErrorInvalidParameter},
    {EOVERFLOW, "EOVERFLOW", kErrorBadLength},
    {EAGAIN, "EAGAIN", kvsdk::kErrorTimeout},
};

IoResult FromErrno(int error) {
    for (const ErrnoInfo& info : kErrnos) {
        if (info.error == error) return {kvsdk::HResultFromWin32(info.windowsError), info.name, 0};
    }
    return {kvsdk::HResultFromWin32(kErrorGenFailure), "errno" + std::to_string(error), 0};
}

class HidrawNode final : public HidNode {
  public:
    explicit HidrawNode(int fd) : m_fd(fd) {}
    ~HidrawNode() override { posix::Calls().close(m_fd); }
    HidrawNode(const HidrawNode&) = delete;
    HidrawNode& operator=(const HidrawNode&) = delete;

    IoResult Send(ReportType type, const std::vector<uint8_t>& report, uint32_t) override {
        const auto& calls = posix::Calls();
        if (type == ReportType::Feature) {
            std::vector<uint8_t> copy = report;  // the ioctl's buffer is read-write
            if (calls.ioctl(m_fd, HIDIOCSFEATURE(copy.size()), copy.data()) < 0) {
                return FromErrno(errno);
            }
            return {};
        }
        for (;;) {
            const ssize_t written = calls.write(m_fd, report.data(), report.size());
            if (written < 0 && errno == EINTR) continue;
            if (written < 0) return FromErrno(errno);
            if (static_cast<size_t>(written) != report.size()) {
                return {kvsdk::HResultFromWin32(kErrorGenFailure), "short-write", 0};
            }
            return {};
        }
    }

    IoResult GetFeature(std::vector<uint8_t>& buffer, uint32_t) override {
        const int got = posix::Calls().ioctl(m_fd, HIDIOCGFEATURE(buffer.size()), buffer.data());
        if (got < 0) return FromErrno(errno);
        return {0, {}, static_cast<uint32_t>(got)};
    }

    IoResult ReadInput(std::vector<uint8_t>& buffer, uint32_t timeoutMs) override {
        const auto& calls = posix::Calls();
        pollfd watch{m_fd, POLLIN, 0};
        const int ready = calls.poll(&watch, 1, static_cast<int>(timeoutMs));
        if (ready < 0) return FromErrno(errno);
        if (ready == 0) return {kTimedOut, "ETIMEDOUT", 0};
        if ((watch.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return FromErrno(ENODEV);
        const ssize_t got = calls.read(m_fd, buffer.data(), buffer.size());
        if (got < 0) return FromErrno(errno);
        return {0, {}, static_cast<uint32_t>(got)};
    }

    void DiscardInput() override {
        std::vector<uint8_t> scratch(kMaxDescriptor);
        for (int i = 0; i < 64; ++i) {
            if (posix::Calls().read(m_fd, scratch.data(), scratch.size()) <= 0) return;
        }
    }

  private:
    int m_fd;
};

// One hidraw node as sysfs shows it.
struct HidrawEntry {
    std::string node;  // "hidraw3"
    unsigned vendor = 0;
    unsigned product = 0;
    int interfaceNumber = -1;
    fs::path usbDevice;  // canonical folder of its USB device, or empty
};

std::vector<HidrawEntry> ListHidraw() {
    std::vector<HidrawEntry> entries;
    for (const fs::path& entry : ListDirectory(SysfsRoot() / "class" / "hidraw")) {
        const std::string name = entry.filename().string();
        if (name.rfind("hidraw", 0) != 0) continue;
        std::error_code ec;
        const fs::path hidDevice = fs::canonical(entry / "device", ec);
        if (ec) continue;
        HidrawEntry hid;
        hid.node = name;
        if (!kvsdk::posix::ReadHidIds(hidDevice, hid.vendor, hid.product)) continue;
        const fs::path usbInterface = hidDevice.parent_path();
        if (const auto number = ReadHexAttribute(usbInterface / "bInterfaceNumber")) {
            hid.interfaceNumber = static_cast<int>(*number & 0xFF);
            if (ReadHexAttribute(usbInterface.parent_path() / "idVendor")) {
                hid.usbDevice = usbInterface.parent_path();
            }
        }
        entries.push_back(std::move(hid));
    }
    return entries;
}

NodeCandidate Candidate(const HidrawEntry& entry) {
    return {"/dev/" + entry.node, entry.interfaceNumber};
}

// vid_XXXX, pid_XXXX and mi_XX of a path's hardware-id field.
std::optional<unsigned> IdAfter(const std::string& text, const char* marker, size_t digits) {
    const size_t at = text.find(marker);
    if (at == std::string::npos) return std::nullopt;
    const auto value = kvsdk::posix::ParseHex(text.substr(at + std::strlen(marker), digits));
    if (!value || text.size() < at + std::strlen(marker) + digits) return std::nullopt;
    return static_cast<unsigned>(*value);
}

bool AllOf(const std::string& text, const char* allowed) {
    return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

class HidrawBackend final : public HidBackend {
  public:
    Os GetOs() const override { return Os::Linux; }

    std::optional<std::vector<NodeCandidate>> NodesOfPath(const std::wstring& path,
                                                          uint16_t& vendorId,
                                                          uint16_t& productId) override {
        const std::string text = kvsdk::ToUtf8(kvsdk::ToLower(path));
        if (text.rfind("\\\\?\\", 0) != 0) return std::nullopt;
        std::vector<std::string> fields;
        for (size_t start = 4;;) {
            const size_t hash = text.find('#', start);
            fields.push_back(text.substr(start, hash - start));
            if (hash == std::string::npos) break;
            start = hash + 1;
        }
        if (fields.size() < 3) return std::nullopt;
        const auto vid = IdAfter(fields[1], "vid_", 4);
        const auto pid = IdAfter(fields[1], "pid_", 4);
        if (!vid || !pid) return std::nullopt;
        vendorId = static_cast<uint16_t>(*vid);
        productId = static_cast<uint16_t>(*pid);
        const std::string& name = fields[2];
        const auto entries = ListHidraw();
        std::vector<NodeCandidate> nodes;
        if (fields[0] == "hid" && name.rfind("hidraw", 0) == 0 &&
            AllOf(name.substr(6), "0123456789")) {
            const auto mi = IdAfter(fields[1], "mi_", 2);
            NodeCandidate named{"/dev/" + name, mi ? static_cast<int>(*mi) : -1};
            fs::path usbDevice;
            for (const HidrawEntry& entry : entries) {
                if (entry.node == name) usbDevice = entry.usbDevice;
            }
            nodes.push_back(named);
            for (const HidrawEntry& entry : entries) {
                if (entry.node != name && !usbDevice.empty() && entry.usbDevice == usbDevice) {
                    nodes.push_back(Candidate(entry));
                }
            }
            return nodes;
        }
        if (fields[0] == "usb" && AllOf(name, "0123456789-.") &&
            name.find("..") == std::string::npos) {
            std::error_code ec;
            const fs::path usbDevice =
                fs::canonical(SysfsRoot() / "bus" / "usb" / "devices" / name, ec);
            for (const HidrawEntry& entry : entries) {
                if (!ec && entry.usbDevice == usbDevice) nodes.push_back(Candidate(entry));
            }
            return nodes;
        }
        return std::nullopt;
    }

    std::vector<NodeCandidate> NodesOfIds(uint16_t vendorId, uint16_t productId) override {
        std::vector<NodeCandidate> nodes;
        for (const HidrawEntry& entry : ListHidraw()) {
            if (entry.vendor == vendorId && entry.product == productId) {
                nodes.push_back(Candidate(entry));
            }
        }
        return nodes;
    }

    OpenedNode Open(const NodeCandidate& candidate, uint16_t vendorId,
                    uint16_t productId) override {
        OpenedNode opened;
        const auto& calls = posix::Calls();
        const int fd = calls.open(candidate.name.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            opened.error = FromErrno(errno);
            return opened;
        }
        auto node = std::make_unique<HidrawNode>(fd);
        hidraw_devinfo info{};
        if (calls.ioctl(fd, HIDIOCGRAWINFO, &info) < 0) {
            opened.error = FromErrno(errno);
            return opened;
        }
        const auto vendor = static_cast<uint16_t>(info.vendor);
        const auto product = static_cast<uint16_t>(info.product);
        if (vendor != vendorId || product != productId) {
            char now[48];
            std::snprintf(now, sizeof now, "now %04X:%04X bus %u", vendor, product,
                          static_cast<unsigned>(info.bustype));
            opened.error = {kNotConnected, {}, 0};
            opened.detail = now;
            return opened;
        }
        int size = 0;
        hidraw_report_descriptor descriptor{};
        if (calls.ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
            opened.error = FromErrno(errno);
            return opened;
        }
        descriptor.size = static_cast<uint32_t>(std::clamp<int>(size, 0, kMaxDescriptor));
        if (calls.ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
            opened.error = FromErrno(errno);
            return opened;
        }
        opened.collections = ParseReportDescriptor(descriptor.value, descriptor.size);
        opened.node = std::move(node);
        return opened;
    }

    std::vector<CollectionInfo> DescribeClosed(const NodeCandidate& candidate) override {
        const std::string name = fs::path(candidate.name).filename().string();
        const auto bytes = kvsdk::ReadRegularFile(
            SysfsRoot() / "class" / "hidraw" / name / "device" / "report_descriptor",
            kMaxDescriptor);
        if (!bytes) return {};
        return ParseReportDescriptor(reinterpret_cast<const uint8_t*>(bytes->data()),
                                     bytes->size());
    }

    std::vector<AttachedDevice> AttachedDevices(uint16_t vendorId) override {
        std::vector<AttachedDevice> devices;
        for (const HidrawEntry& entry : ListHidraw()) {
            if (entry.vendor != vendorId) continue;
            const std::string where =
                entry.usbDevice.empty() ? entry.node : "usb " + entry.usbDevice.filename().string();
            auto it = std::find_if(devices.begin(), devices.end(), [&](const AttachedDevice& d) {
                return d.where == where && d.productId == entry.product;
            });
            if (it == devices.end()) {
                devices.push_back({static_cast<uint16_t>(entry.product), where, {}});
                it = devices.end() - 1;
            }
            it->nodes.push_back(Candidate(entry));
        }
        return devices;
    }
};

}  // namespace

HidBackend& PlatformBackend() {
    static HidrawBackend* backend = new HidrawBackend;
    return *backend;
}

}  // namespace kvsdkmod::transport
