// The engine's dispatcher: host threads append effects to the devices' queues and signal it; it
// walks the devices and makes sure every device with queued effects has a running worker.

#include "common/StopAndWake.h"
#include "devices/Device.h"
#include "engine/Engine.h"
#include "platform/Platform.h"

namespace kvsdk {

void CEngine::SignalNewEffect(bool passNeeded) {
    void* sharedEvent = nullptr;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_wakeLock);
        if (m_newEffectEvent == nullptr) m_newEffectEvent = platform::CreateNewEffectEvent();
        sharedEvent = m_newEffectEvent;
        // A pass that has not begun yet will see this effect too: no wake-up is needed.
        wake = passNeeded && !m_wakePending;
        if (passNeeded) m_wakePending = true;
    }
    if (wake) m_wake.notify_one();
    // The shared named event is still set for whoever watches it; this process never waits on
    // it, so a signal that another process consumes cannot leave our queues unserved.
    platform::SetNewEffectEvent(sharedEvent);
}

void DispatchThreadProc(std::stop_token stop, CEngine* engine) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(engine->m_wakeLock);
            engine->m_wake.wait(lock,
                                [&] { return stop.stop_requested() || engine->m_wakePending; });
            if (stop.stop_requested()) return;
            // Signals arriving from here on fold into one further pass.
            engine->m_wakePending = false;
        }
        ++engine->m_dispatchPasses;
        for (const auto& device : engine->m_listDevices) {
            if (stop.stop_requested()) return;
            device->EnsureWorker();
        }
    }
}

}  // namespace kvsdk
