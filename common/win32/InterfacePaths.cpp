#include "common/win32/InterfacePaths.h"

#include <windows.h>
#include <objbase.h>
#include <setupapi.h>
#include <wchar.h>

#include <cstddef>
#include <memory>

namespace kvsdk::win32 {

namespace {

// Owns a device information set and releases it with SetupDiDestroyDeviceInfoList.
class CDevInfoSet {
  public:
    explicit CDevInfoSet(HDEVINFO set) : m_hSet(set) {}
    ~CDevInfoSet() { Release(); }
    CDevInfoSet(const CDevInfoSet&) = delete;
    CDevInfoSet& operator=(const CDevInfoSet&) = delete;

    HDEVINFO Get() const { return m_hSet; }
    bool Valid() const { return m_hSet != INVALID_HANDLE_VALUE; }
    void Release() {
        if (Valid()) {
            SetupDiDestroyDeviceInfoList(m_hSet);
            m_hSet = INVALID_HANDLE_VALUE;
        }
    }

  private:
    HDEVINFO m_hSet;
};

// Owns a block of COM task memory.
struct CoTaskMemDeleter {
    void operator()(void* block) const { CoTaskMemFree(block); }
};

}  // namespace

HRESULT InterfacePathAt(const GUID& classGuid, uint32_t index, std::wstring& path) {
    CDevInfoSet set(
        SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.Valid()) return HResultFromWin32(GetLastError());

    std::wstring found;
    bool haveFound = false;
    try {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &classGuid, index, &interfaceData)) {
            DWORD required = 0;
            if (!SetupDiGetDeviceInterfaceDetailW(set.Get(), &interfaceData, nullptr, 0, &required,
                                                  nullptr) &&
                GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                std::unique_ptr<void, CoTaskMemDeleter> block(CoTaskMemAlloc(required));
                if (block) {
                    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.get());
                    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
                    if (SetupDiGetDeviceInterfaceDetailW(set.Get(), &interfaceData, detail,
                                                         required, nullptr, nullptr)) {
                        // The DevicePath text ends inside the block; never read past it.
                        const size_t offset =
                            offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
                        const size_t maxChars = (required - offset) / sizeof(wchar_t);
                        found.assign(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars));
                        haveFound = true;
                        // A successful read leaves no error behind, as on Windows.
                        SetLastError(ERROR_SUCCESS);
                    }
                }
            }
        }
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        haveFound = false;
    }

    // The error is taken before the set is released: releasing it may change it.
    const DWORD error = GetLastError();
    set.Release();
    const HRESULT hr = HResultFromWin32(error);
    if (Succeeded(hr) && haveFound) path.swap(found);
    return hr;
}

}  // namespace kvsdk::win32
