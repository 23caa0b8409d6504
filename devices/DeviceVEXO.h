// The VEXO devices, product ids 0E51 and 0E52. When the object is destroyed it puts the device's
// stored lighting settings back into effect.
#pragma once

#include <chrono>

#include "devices/Device.h"

namespace kvsdk {

class CDeviceVEXO : public CDevice {
  public:
    explicit CDeviceVEXO(const wchar_t* path);
    ~CDeviceVEXO() override;

    // Reads each stored light setting back and writes it as the live value. All its exchanges
    // end within kRestoreTime of its start (plus the device call then in progress), and sooner
    // when a call times out or finds the device gone.
    void RestoreSettings() override;

    static constexpr std::chrono::milliseconds kRestoreTime{1000};
};

}  // namespace kvsdk
