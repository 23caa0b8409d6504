// The Pell devices: mouse 0E59, keyboard 0E5A (interface MI_02) and USB device 0E5B. The USB
// device takes its commands as tunnel writes through a ChannelHID.
#pragma once

#include <memory>

#include "devices/Device.h"

namespace kvsdk {

class CDevicePell : public CDevice {
  public:
    // Carries PRODUCT_PELL.
    explicit CDevicePell(const wchar_t* path);
    // Carries the given product GUID.
    CDevicePell(const wchar_t* path, GUID productGuid);
    ~CDevicePell() override;

    HRESULT Set(const uint8_t* buffer, uint32_t length) override;

    bool HasChannel() const { return m_pChannel != nullptr; }

  private:
    void ConnectChannel();

    std::unique_ptr<ChannelHID> m_pChannel;
    bool m_bChannelConnected = false;
};

}  // namespace kvsdk
