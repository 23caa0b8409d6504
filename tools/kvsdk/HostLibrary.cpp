#include "tools/kvsdk/HostLibrary.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kvsdk::tool {
namespace {

#ifdef _WIN32
// GetProcAddress answers a generic function pointer; going through void(*)() converts it to
// the export's real type without a function-type cast warning.
template <typename Pfn>
Pfn Resolve(void* module, const char* name) {
    const FARPROC proc = GetProcAddress(static_cast<HMODULE>(module), name);
    return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(proc));
}
#else
template <typename Pfn>
Pfn Resolve(void* module, const char* name) {
    return reinterpret_cast<Pfn>(dlsym(module, name));
}
#endif

}  // namespace

const char* HostLibrary::FileName() {
#ifdef _WIN32
    return "KvSDKEng.dll";
#else
    return "libKvSDKEng.so";
#endif
}

bool HostLibrary::Load(const std::filesystem::path& folder, std::string& error) {
    Unload();
    const std::filesystem::path file = folder / FileName();
    const std::u8string utf8 = file.u8string();
    const std::string shown(utf8.begin(), utf8.end());  // for messages
#ifdef _WIN32
    // The altered search path makes Windows find KvSDKMod.dll, which KvSDKEng.dll imports,
    // in the same folder.
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        error = "cannot load " + shown + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    m_module = module;
#else
    if (std::filesystem::exists(file)) {
        m_module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        // Installed (bin/kvsdk, lib/libKvSDKEng.so.N): by its SONAME, through the RUNPATH.
        const std::string soname =
            std::string(FileName()) + "." + std::to_string(KVSDKENG_VERSION_MAJOR);
        m_module = dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!m_module) {
        const char* reason = dlerror();
        error = "cannot load " + shown + ": " + (reason ? reason : "unknown reason");
        return false;
    }
#endif
    EngInit = Resolve<PFN_KvSDKEngInit>(m_module, "KvSDKEngInit");
    EngUninit = Resolve<PFN_KvSDKEngUninit>(m_module, "KvSDKEngUninit");
    SetEffect = Resolve<PFN_KvSDKSetEffect>(m_module, "KvSDKSetEffect");
    GetEffect = Resolve<PFN_KvSDKGetEffect>(m_module, "KvSDKGetEffect");
    if (!EngInit || !EngUninit || !SetEffect || !GetEffect) {
        error = shown + " does not export the four KvSDK functions";
        Unload();
        return false;
    }
    return true;
}

void HostLibrary::Unload() {
    if (m_module) {
#ifdef _WIN32
        FreeLibrary(static_cast<HMODULE>(m_module));
#else
        dlclose(m_module);
#endif
    }
    m_module = nullptr;
    EngInit = nullptr;
    EngUninit = nullptr;
    SetEffect = nullptr;
    GetEffect = nullptr;
}

HostLibrary::~HostLibrary() {
    Unload();
}

}  // namespace kvsdk::tool
