// The library's own module on Windows: pinned, so that FreeLibrary never unmaps it.
#include "platform/Platform.h"

#include <windows.h>

namespace kvsdk::platform {

void KeepModuleLoaded() {
    static const bool kept = [] {
        static const char anchor = 0;
        HMODULE self = nullptr;
        // A pinned module stays mapped until the process ends; FreeLibrary no longer unloads it.
        return GetModuleHandleExW(
                   GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                   reinterpret_cast<LPCWSTR>(&anchor), &self) != FALSE;
    }();
    (void)kept;
}

}  // namespace kvsdk::platform
