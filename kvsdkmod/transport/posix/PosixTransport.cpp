// Hardware transport on Linux: HID interfaces through hidraw, USB devices through usbfs.
//
// Interface paths carry the kernel's device name in their third '#' field:
//   \\?\hid#vid_7a3e&pid_0e51&mi_00#hidraw3#{...}  -> /dev/hidraw3
//   \\?\usb#vid_7a3e&pid_0e5b#1-2#{...}            -> /sys/bus/usb/devices/1-2 ->
//   /dev/bus/usb/BBB/DDD
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "common/Strings.h"
#include "kvsdkmod/transport/Transport.h"
#include "kvsdkmod/transport/TunnelReport.h"

namespace kvsdkmod::transport {

namespace {

HRESULT FromErrno(int error) {
    switch (error) {
        case ENOENT:
            return kvsdk::HResultFromWin32(kvsdk::kErrorFileNotFound);
        case ENOTDIR:
            return kvsdk::HResultFromWin32(kErrorPathNotFound);
        case EACCES:
        case EPERM:
        case EBUSY:
            return kvsdk::HResultFromWin32(kvsdk::kErrorAccessDenied);
        case ENODEV:
        case ENXIO:
        case ESHUTDOWN:
            return kvsdk::HResultFromWin32(kvsdk::kErrorDeviceNotConnected);
        case EINVAL:
            return kvsdk::HResultFromWin32(kErrorInvalidParameter);
        default:
            return kvsdk::HResultFromWin32(kErrorGenFailure);
    }
}

std::optional<std::string> ReadFirstLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

std::optional<std::string> UsbNode(const std::filesystem::path& sysfsDevice) {
    const auto bus = ReadFirstLine(sysfsDevice / "busnum");
    const auto dev = ReadFirstLine(sysfsDevice / "devnum");
    if (!bus || !dev) return std::nullopt;
    try {
        char node[64];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::stoi(*bus),
                      std::stoi(*dev));
        return std::string(node);
    } catch (...) {
        return std::nullopt;
    }
}

bool AllOf(const std::string& text, const char* allowed) {
    return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

struct Node {
    std::string file;
    bool isUsb = false;
};

// The device node of an interface path; nullopt when the path names none.
std::optional<Node> NodeOf(const std::wstring& path) {
    const std::string text = kvsdk::ToUtf8(kvsdk::ToLower(path));
    if (!text.starts_with("\\\\?\\")) return std::nullopt;
    std::vector<std::string> fields;
    size_t start = 4;
    for (;;) {
        const size_t hash = text.find('#', start);
        fields.push_back(text.substr(start, hash - start));
        if (hash == std::string::npos) break;
        start = hash + 1;
    }
    if (fields.size() < 3) return std::nullopt;
    const std::string& name = fields[2];
    if (fields[0] == "hid" && name.starts_with("hidraw") && AllOf(name.substr(6), "0123456789")) {
        return Node{"/dev/" + name, false};
    }
    if (fields[0] == "usb" && AllOf(name, "0123456789-.") && name.find("..") == std::string::npos) {
        auto node = UsbNode(std::filesystem::path("/sys/bus/usb/devices") / name);
        if (node) return Node{*node, true};
    }
    return std::nullopt;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

  private:
    int m_fd;
};

// HID class requests on the default control pipe of a USB device.
constexpr uint8_t kHidSetReport = 0x09;
constexpr uint8_t kHidGetReport = 0x01;
constexpr uint16_t kOutputReport = 0x0200;
constexpr uint16_t kFeatureReport = 0x0300;
constexpr unsigned kControlTimeoutMs = 1000;

int ControlTransfer(int fd, bool in, uint8_t request, uint16_t value, uint8_t* data,
                    uint32_t length) {
    if (length > 0xFFFF) {
        errno = EINVAL;
        return -1;
    }
    usbdevfs_ctrltransfer transfer{};
    transfer.bRequestType = static_cast<uint8_t>(in ? 0xA1 : 0x21);
    transfer.bRequest = request;
    transfer.wValue = value;
    transfer.wIndex = 0;
    transfer.wLength = static_cast<uint16_t>(length);
    transfer.timeout = kControlTimeoutMs;
    transfer.data = data;
    return ::ioctl(fd, USBDEVFS_CONTROL, &transfer);
}

class PosixDevice final : public DeviceConnection {
  public:
    PosixDevice(int fd, bool isUsb) : m_fd(fd), m_isUsb(isUsb) {}

    HRESULT Set(const uint8_t* buffer, uint32_t length) override {
        if (m_isUsb) {
            std::vector<uint8_t> copy(buffer, buffer + length);
            const uint16_t value =
                static_cast<uint16_t>(kOutputReport | (length > 0 ? buffer[0] : 0));
            return ControlTransfer(m_fd.Get(), false, kHidSetReport, value, copy.data(), length) < 0
                       ? FromErrno(errno)
                       : kvsdk::kS_OK;
        }
        const ssize_t written = ::write(m_fd.Get(), buffer, length);
        if (written < 0) return FromErrno(errno);
        return static_cast<uint32_t>(written) == length ? kvsdk::kS_OK
                                                        : kvsdk::HResultFromWin32(kErrorGenFailure);
    }

    HRESULT Get(uint8_t* buffer, uint32_t* length) override {
        const uint32_t count = *length;
        int rc = 0;
        if (m_isUsb) {
            const uint16_t value = static_cast<uint16_t>(kFeatureReport | buffer[0]);
            rc = ControlTransfer(m_fd.Get(), false, kHidSetReport, value, buffer, count);
            if (rc >= 0)
                rc = ControlTransfer(m_fd.Get(), true, kHidGetReport, value, buffer, count);
        } else {
            rc = ::ioctl(m_fd.Get(), HIDIOCSFEATURE(count), buffer);
            if (rc >= 0) rc = ::ioctl(m_fd.Get(), HIDIOCGFEATURE(count), buffer);
        }
        return rc < 0 ? FromErrno(errno) : kvsdk::kS_OK;
    }

  private:
    FileDescriptor m_fd;
    bool m_isUsb;
};

class PosixChannel final : public ChannelConnection {
  public:
    explicit PosixChannel(int fd) : m_fd(fd) {}

    int TunnelWrite(bool flag1, bool flag2, uint8_t command, uint8_t arg1, uint8_t arg2,
                    const uint8_t* data, int length) override {
        if (length > kMaxTunnelData) return -1;
        auto report = TunnelReport(flag1, flag2, command, arg1, arg2, data, length);
        const int rc = ControlTransfer(m_fd.Get(), false, kHidSetReport, kOutputReport,
                                       report.data(), static_cast<uint32_t>(report.size()));
        return rc < 0 ? -1 : 0;
    }

  private:
    FileDescriptor m_fd;
};

std::optional<unsigned> ReadHexFile(const std::filesystem::path& path) {
    const auto line = ReadFirstLine(path);
    if (!line) return std::nullopt;
    try {
        return static_cast<unsigned>(std::stoul(*line, nullptr, 16));
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

DeviceOpenResult OpenHardwareDevice(const std::wstring& path) {
    DeviceOpenResult opened;
    const auto node = NodeOf(path);
    if (!node) {
        opened.result = kvsdk::HResultFromWin32(kvsdk::kErrorFileNotFound);
        return opened;
    }
    const int fd = ::open(node->file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        opened.result = FromErrno(errno);
        return opened;
    }
    opened.connection = std::make_unique<PosixDevice>(fd, node->isUsb);
    opened.result = kvsdk::kS_OK;
    return opened;
}

ChannelOpenResult ConnectHardwareChannel(int vendorId, int productId) {
    ChannelOpenResult opened;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/usb/devices", ec)) {
        const auto vid = ReadHexFile(entry.path() / "idVendor");
        const auto pid = ReadHexFile(entry.path() / "idProduct");
        if (!vid || !pid || static_cast<int>(*vid) != vendorId ||
            static_cast<int>(*pid) != productId) {
            continue;
        }
        const auto node = UsbNode(entry.path());
        if (!node) continue;
        const int fd = ::open(node->c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        opened.connection = std::make_unique<PosixChannel>(fd);
        opened.connected = true;
        return opened;
    }
    return opened;
}

}  // namespace kvsdkmod::transport
