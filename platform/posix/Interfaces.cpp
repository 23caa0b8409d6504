// The device interfaces on Linux: one sysfs walk per snapshot (SysfsEnumeration).
#include <new>

#include "platform/Platform.h"
#include "platform/posix/SysfsEnumeration.h"

namespace kvsdk::platform {

struct InterfaceList::Snapshot {
    std::vector<std::wstring> paths;
};

InterfaceList::InterfaceList(const GUID& classGuid) : m_snapshot(new (std::nothrow) Snapshot) {
    if (!m_snapshot) return;
    try {
        m_snapshot->paths = posix::ListInterfacePaths(posix::SysfsRoot(), classGuid);
    } catch (...) {
        m_snapshot.reset();
    }
}

InterfaceList::~InterfaceList() = default;

HRESULT InterfaceList::Path(uint32_t index, std::wstring& path) const {
    if (!m_snapshot) return kE_OUTOFMEMORY;
    try {
        if (index >= m_snapshot->paths.size()) return HResultFromWin32(kErrorNoMoreItems);
        path = m_snapshot->paths[index];
        return kS_OK;
    } catch (...) {
        return kE_OUTOFMEMORY;
    }
}

HRESULT EnumInterfacePath(const GUID& classGuid, uint32_t index, std::wstring& path) {
    return InterfaceList(classGuid).Path(index, path);
}

}  // namespace kvsdk::platform
