#include "devices/DeviceVEXO.h"

#include "common/Win32Types.h"

namespace kvsdk {

CDeviceVEXO::CDeviceVEXO(const wchar_t* path) : CDevice(path) {
    SetProductGuid(kGuidNull);
}

CDeviceVEXO::~CDeviceVEXO() {
    // Nothing else may send to the device while its stored settings are put back.
    StopWorker();
    CDeviceVEXO::RestoreSettings();
}

}  // namespace kvsdk
