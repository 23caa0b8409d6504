// Loading KvSDKEng at run time, exactly as a game would: the library is looked up beside the
// executable, and only its four exports are used, through the PFN_ types of KvSDKEng.h.
//
// A host in a nutshell:
//
//     HostLibrary lib;
//     std::string error;
//     if (!lib.Load(error)) { ... }              // KvSDKEng.dll / libKvSDKEng.so
//     lib.EngInit(PRODUCT_PELL);                 // find the attached Pell devices
//     EffectParams params = {};
//     params.size = sizeof params;
//     params.productGuid = PRODUCT_PELL;         // which devices the call addresses
//     params.lightSelector = 1;
//     lib.SetEffect(EFFECT_LED_FLASH_2, &params); // queued; returns at once
//     ...                                        // the library's threads send the commands
//     lib.EngUninit();                           // always before the library is unloaded
#pragma once

#include <filesystem>
#include <string>

#include "KvSDKEng.h"

namespace kvsdk::tool {

class HostLibrary {
  public:
    HostLibrary() = default;
    ~HostLibrary();  // unloads the library; call EngUninit first
    HostLibrary(const HostLibrary&) = delete;
    HostLibrary& operator=(const HostLibrary&) = delete;

    // Loads the library from 'folder' and resolves the four exports. On failure answers false
    // and says why in 'error'; nothing stays loaded then.
    bool Load(const std::filesystem::path& folder, std::string& error);
    bool Loaded() const { return m_module != nullptr; }

    // The library's file name on this platform.
    static const char* FileName();

    PFN_KvSDKEngInit EngInit = nullptr;
    PFN_KvSDKEngUninit EngUninit = nullptr;
    PFN_KvSDKSetEffect SetEffect = nullptr;
    PFN_KvSDKGetEffect GetEffect = nullptr;

  private:
    void Unload();

    void* m_module = nullptr;  // HMODULE on Windows, the dlopen handle elsewhere
};

}  // namespace kvsdk::tool
