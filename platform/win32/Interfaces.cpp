// The device interfaces on Windows: one SetupAPI device information set per snapshot
// (common/win32/InterfacePaths).
#include "platform/Platform.h"

#include <windows.h>

#include <new>

#include "common/win32/InterfacePaths.h"

namespace kvsdk::platform {

struct InterfaceList::Snapshot {
    explicit Snapshot(const GUID& classGuid) : set(classGuid) {}
    win32::CInterfaceSet set;
};

InterfaceList::InterfaceList(const GUID& classGuid)
    : m_snapshot(new (std::nothrow) Snapshot(classGuid)) {}

InterfaceList::~InterfaceList() = default;

HRESULT InterfaceList::Path(uint32_t index, std::wstring& path) const {
    if (!m_snapshot) return HResultFromWin32(ERROR_NOT_ENOUGH_MEMORY);
    return m_snapshot->set.Path(index, path);
}

HRESULT EnumInterfacePath(const GUID& classGuid, uint32_t index, std::wstring& path) {
    return win32::InterfacePathAt(classGuid, index, path);
}

}  // namespace kvsdk::platform
