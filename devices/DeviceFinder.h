// Discovery: the first present interface of one class whose path carries the vendor id and a
// product id, wrapped in its device object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devices/Device.h"

namespace kvsdk {

// The interfaces of one class as one search sees them: the simulated set when KVSDK_SIM is set
// (its file read once), the platform's present interfaces otherwise (one platform snapshot).
class InterfaceSnapshot;

class CDeviceFinder {
  public:
    explicit CDeviceFinder(GUID interfaceClass);
    ~CDeviceFinder();
    CDeviceFinder(const CDeviceFinder&) = delete;
    CDeviceFinder& operator=(const CDeviceFinder&) = delete;

    // Path of the interface at 'index' (from 0) in the finder's snapshot, taken at the first
    // call and kept for the next ones. On failure 'path' is unchanged.
    HRESULT GetInterfacePath(uint32_t index, std::wstring& path) const;
    // One search over a fresh snapshot: S_OK with the new device in 'device', or E_FAIL when no
    // interface matched.
    HRESULT FindDevice(const wchar_t* vendorId, const wchar_t* productId,
                       std::unique_ptr<CDevice>& device) const;

  private:
    GUID m_classGuid;
    mutable std::unique_ptr<InterfaceSnapshot> m_snapshot;
};

}  // namespace kvsdk
