#include "devices/DevicePell.h"

#include <new>

#include "catalogue/Products.h"
#include "common/Win32Types.h"
#include "effects/LightCommands.h"

namespace kvsdk {

namespace {

// Offsets in the 28-byte record block that the USB device takes.
constexpr uint32_t kBlockCodeOffset = 20;
constexpr uint32_t kBlockDataOffset = 24;

}  // namespace

CDevicePell::CDevicePell(const wchar_t* path) : CDevicePell(path, PRODUCT_PELL) {}

CDevicePell::CDevicePell(const wchar_t* path, GUID productGuid) : CDevice(path) {
    SetProductGuid(productGuid);
    ConnectChannel();
}

CDevicePell::~CDevicePell() {
    StopWorker();
    m_pChannel.reset();
    m_bChannelConnected = false;
}

void CDevicePell::ConnectChannel() {
    m_pChannel.reset();
    m_bChannelConnected = false;
    // The channel serves a product that takes whole blocks: the one the path names.
    const Product* product = GetProduct();
    if (product == nullptr || !product->wholeBlocks) return;
    m_pChannel.reset(new (std::nothrow) ChannelHID());
    if (m_pChannel && m_pChannel->Connect(kVendorId.value, product->id.value)) {
        m_bChannelConnected = true;
        // A device that takes its commands through the channel never sends through its
        // device-I/O object: it can take commands whatever that object's open answered.
        if (TakesWholeBlocks()) m_openResult = kS_OK;
    } else {
        m_pChannel.reset();
        if (Succeeded(m_openResult)) m_openResult = HResultFromWin32(kErrorDeviceNotConnected);
    }
}

HRESULT CDevicePell::Set(const uint8_t* buffer, uint32_t length) {
    if (!TakesWholeBlocks()) return CDevice::Set(buffer, length);

    // The USB device takes its commands as tunnel writes made from a 28-byte record block.
    if (!m_pChannel || !m_bChannelConnected) return HResultFromWin32(kErrorDeviceNotConnected);
    if (buffer == nullptr) return kE_POINTER;
    if (length < CCommandBuffer::kBlockSize) return kE_INVALIDARG;

    const uint32_t code = static_cast<uint32_t>(buffer[kBlockCodeOffset]) |
                          (static_cast<uint32_t>(buffer[kBlockCodeOffset + 1]) << 8) |
                          (static_cast<uint32_t>(buffer[kBlockCodeOffset + 2]) << 16) |
                          (static_cast<uint32_t>(buffer[kBlockCodeOffset + 3]) << 24);
    uint8_t command = 0;
    uint8_t arg = 0;
    uint8_t data[cmd::kTunnelDataLength] = {0, 0, 0};
    if (code == cmd::kTunnelCode60 || code == cmd::kTunnelCode61 || code == cmd::kTunnelCode62) {
        command = static_cast<uint8_t>(code);
        arg = cmd::kTunnelArg;
        for (int i = 0; i < cmd::kTunnelDataLength; ++i) {
            data[i] = buffer[kBlockDataOffset + static_cast<uint32_t>(i)];
        }
    }
    const int written =
        m_pChannel->I2CTunnelWrite(false, false, command, 0, arg, data, cmd::kTunnelDataLength);
    return written == 0 ? kS_OK : kE_FAIL;
}

}  // namespace kvsdk
