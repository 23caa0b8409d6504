#include "engine/Engine.h"

#include <new>

#include "common/StopAndWake.h"
#include "platform/Platform.h"

namespace kvsdk {

CEngine::CEngine(CList<CDevice>& discovery) {
    // Taken from the tail: the engine walks the devices in the reverse of their discovery order.
    while (auto device = discovery.RemoveTail()) m_listDevices.AddTail(std::move(device));
    m_hNewEffectEvent = platform::CreateNewEffectEvent();
    m_thread = std::jthread(DispatchThreadProc, this);
}

CEngine::~CEngine() {
    // The dispatcher goes first, so it never touches a device being deleted.
    if (m_thread.joinable()) {
        StopAndWake(m_thread, m_wakeLock, m_wake);
        m_thread.join();
    }
    m_listDevices.RemoveAllFromTail();
    m_listEffects.RemoveAllFromTail();
    if (m_hNewEffectEvent != nullptr) {
        platform::CloseNewEffectEvent(m_hNewEffectEvent);
        m_hNewEffectEvent = nullptr;
    }
}

CLibraryState& LibraryState() {
    // Built in static storage on first use and never destroyed: a process that exits (or
    // unloads the library) without KvSDKEngUninit joins no thread and tears down no device on
    // its way out, and an unloaded library leaves no heap block behind.
    alignas(CLibraryState) static unsigned char storage[sizeof(CLibraryState)];
    static CLibraryState* state = new (storage) CLibraryState();
    return *state;
}

CEngine& GetEngine(CLibraryState& state) {
    if (state.pEngine == nullptr) state.pEngine = new CEngine(state.discoveryList);
    return *state.pEngine;
}

}  // namespace kvsdk
