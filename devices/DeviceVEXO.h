// The VEXO devices, product ids 0E51 and 0E52. When the object is destroyed it puts the device's
// stored lighting settings back into effect.
#pragma once

#include "devices/Device.h"

namespace kvsdk {

class CDeviceVEXO : public CDevice {
  public:
    explicit CDeviceVEXO(const wchar_t* path);
    ~CDeviceVEXO() override;

    void RestoreSettings() override;
};

}  // namespace kvsdk
