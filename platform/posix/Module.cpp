// The library's own module on Linux: marked RTLD_NODELETE, so that dlclose never unmaps it.
#include <dlfcn.h>

#include "platform/Platform.h"

namespace kvsdk::platform {

void KeepModuleLoaded() {
    static const bool kept = [] {
        static const char anchor = 0;
        Dl_info info{};
        if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) return false;
        // A reference taken without loading anything; the mark stays when it is dropped again.
        void* self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        if (self == nullptr) return false;
        dlclose(self);
        return true;
    }();
    (void)kept;
}

}  // namespace kvsdk::platform
