#include "common/win32/InterfacePaths.h"

#include <windows.h>
#include <objbase.h>
#include <setupapi.h>
#include <wchar.h>

#include <cstddef>
#include <memory>
#include <new>

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

struct CInterfaceSet::Set {
    explicit Set(const GUID& guid)
        : classGuid(guid),
          devInfo(SetupDiGetClassDevsW(&guid, nullptr, nullptr,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)),
          error(devInfo.Valid() ? ERROR_SUCCESS : GetLastError()) {}
    GUID classGuid;
    CDevInfoSet devInfo;
    DWORD error;  // of SetupDiGetClassDevsW, when it failed
};

CInterfaceSet::CInterfaceSet(const GUID& classGuid) : m_set(new (std::nothrow) Set(classGuid)) {}

CInterfaceSet::~CInterfaceSet() = default;

HRESULT CInterfaceSet::Path(uint32_t index, std::wstring& path) const {
    if (!m_set) return HResultFromWin32(ERROR_NOT_ENOUGH_MEMORY);
    if (!m_set->devInfo.Valid()) return HResultFromWin32(m_set->error);
    HDEVINFO set = m_set->devInfo.Get();

    std::wstring found;
    bool haveFound = false;
    try {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (SetupDiEnumDeviceInterfaces(set, nullptr, &m_set->classGuid, index, &interfaceData)) {
            DWORD required = 0;
            if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required,
                                                  nullptr) &&
                GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                std::unique_ptr<void, CoTaskMemDeleter> block(CoTaskMemAlloc(required));
                if (block) {
                    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.get());
                    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
                    if (SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required,
                                                         nullptr, nullptr)) {
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

    const HRESULT hr = HResultFromWin32(GetLastError());
    if (Succeeded(hr) && haveFound) path.swap(found);
    return hr;
}

HRESULT InterfacePathAt(const GUID& classGuid, uint32_t index, std::wstring& path) {
    // The error is taken before the set is released: releasing it may change it.
    return CInterfaceSet(classGuid).Path(index, path);
}

}  // namespace kvsdk::win32
