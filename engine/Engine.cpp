#include "engine/Engine.h"

#include <new>
#include <system_error>

#include "common/StopAndWake.h"
#include "platform/Platform.h"

namespace kvsdk {

std::atomic<bool> g_bFailDispatcherStart{false};

CEngine::CEngine(CList<CDevice>& discovery) {
    // Taken from the tail: the engine walks the devices in the reverse of their discovery order.
    while (auto device = discovery.RemoveTail()) m_listDevices.AddTail(std::move(device));
    m_newEffectEvent = platform::CreateNewEffectEvent();
    // From here on threads of the library may run: the module must outlive them, even when the
    // host unloads it without KvSDKEngUninit.
    platform::KeepModuleLoaded();
    try {
        if (g_bFailDispatcherStart) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        m_thread = std::jthread(DispatchThreadProc, this);
    } catch (...) {
        // No engine: the devices go back to the discovery list in their order, for the next try.
        while (auto device = m_listDevices.RemoveTail()) discovery.AddTail(std::move(device));
        platform::CloseNewEffectEvent(m_newEffectEvent);
        m_newEffectEvent = nullptr;
        throw;
    }
}

void CEngine::StopAndHandOver(CList<CDevice>& out) {
    // The dispatcher goes first, so it never touches a device being released.
    if (m_thread.joinable()) {
        StopAndWake(m_thread, m_wakeLock, m_wake);
        m_thread.join();
    }
    while (auto device = m_listDevices.RemoveTail()) out.AddTail(std::move(device));
}

CEngine::~CEngine() {
    CList<CDevice> devices;
    StopAndHandOver(devices);
    ReleaseDevices(devices);
    m_listEffects.RemoveAllFromTail();
    if (m_newEffectEvent != nullptr) {
        platform::CloseNewEffectEvent(m_newEffectEvent);
        m_newEffectEvent = nullptr;
    }
}

LibraryState& Library() {
    // Built in static storage on first use and never destroyed: a process that exits without
    // KvSDKEngUninit joins no thread and tears down no device on its way out. Unloading the
    // library without KvSDKEngUninit is survivable only because the engine keeps the module
    // mapped once it starts a thread (platform::KeepModuleLoaded): the threads and this state
    // stay where they are, and a reload finds them again.
    alignas(LibraryState) static unsigned char storage[sizeof(LibraryState)];
    static LibraryState* state = [] {
        // A child made by fork starts with a fresh state in the same storage: no devices, no
        // engine, the lock free. The parent's engine is left behind untouched; its threads do
        // not exist in the child and its locks may be held there forever.
        platform::RunInForkedChild([] { new (storage) LibraryState(); });
        return new (storage) LibraryState();
    }();
    return *state;
}

CEngine& GetEngine(LibraryState& state) {
    if (state.pEngine == nullptr) state.pEngine = new CEngine(state.discoveryList);
    return *state.pEngine;
}

HRESULT TryGetEngine(LibraryState& state) {
    try {
        GetEngine(state);
        return kS_OK;
    } catch (const std::bad_alloc&) {
        return kE_OUTOFMEMORY;
    } catch (const std::system_error&) {
        return kE_THREAD_START;
    }
}

}  // namespace kvsdk
