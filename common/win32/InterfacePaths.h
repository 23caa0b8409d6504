// SetupAPI's present device interfaces of one class, by index: the one enumeration loop of the
// engine's discovery and of KvSDKMod's hardware tunnel channel (Windows only).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/Win32Types.h"

namespace kvsdk::win32 {

// One device-information set of the present interfaces of a class, taken when constructed and
// released when destroyed: a search reads every index from the same set.
class CInterfaceSet {
  public:
    explicit CInterfaceSet(const GUID& classGuid);
    ~CInterfaceSet();
    CInterfaceSet(const CInterfaceSet&) = delete;
    CInterfaceSet& operator=(const CInterfaceSet&) = delete;

    // The path of the interface at 'index' (from 0). Answers as InterfacePathAt.
    HRESULT Path(uint32_t index, std::wstring& path) const;

  private:
    struct Set;
    std::unique_ptr<Set> m_set;
};

// The path of the present interface at 'index' (from 0) of 'classGuid', read from a fresh
// interface set. Answers the thread's last Windows error as an HRESULT (taken before the set is
// released): S_OK with the path, HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS) past the last interface.
// 'path' changes only on success; the path is never read past the detail record.
HRESULT InterfacePathAt(const GUID& classGuid, uint32_t index, std::wstring& path);

}  // namespace kvsdk::win32
