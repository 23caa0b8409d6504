// Discovery: the first present interface of one class whose path carries the vendor id and a
// product id, wrapped in its device object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devices/Device.h"
#include "devices/Products.h"  // ProductIdFromPath

namespace kvsdk {

class CDeviceFinder {
  public:
    explicit CDeviceFinder(GUID interfaceClass) : m_guidClass(interfaceClass) {}

    // Path of the interface at 'index' (from 0): the simulated set when KVSDK_SIM is set,
    // the platform's present interfaces otherwise. On failure 'path' is unchanged.
    HRESULT GetInterfacePath(uint32_t index, std::wstring& path) const;
    // S_OK with the new device in 'device', or E_FAIL when no interface matched.
    HRESULT FindDevice(const wchar_t* vendorId, const wchar_t* productId,
                       std::unique_ptr<CDevice>& device) const;

  private:
    GUID m_guidClass;
};

}  // namespace kvsdk
