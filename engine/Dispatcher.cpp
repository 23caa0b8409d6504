// The engine's dispatcher: host threads append effects to the devices' queues and signal it; it
// walks the devices and makes sure every device with queued effects has a running worker.

#include "common/StopAndWake.h"
#include "devices/Device.h"
#include "engine/Engine.h"
#include "platform/Platform.h"

namespace kvsdk {

void CEngine::SignalNewEffect() {
    void* sharedEvent = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_wakeLock);
        m_bWakePending = true;
        if (m_hNewEffectEvent == nullptr) m_hNewEffectEvent = platform::CreateNewEffectEvent();
        sharedEvent = m_hNewEffectEvent;
    }
    m_wake.notify_one();
    // The shared named event is still set for whoever watches it; this process never waits on
    // it, so a signal that another process consumes cannot leave our queues unserved.
    platform::SetNewEffectEvent(sharedEvent);
}

void DispatchThreadProc(std::stop_token stop, CEngine* engine) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(engine->m_wakeLock);
            engine->m_wake.wait(lock,
                                [&] { return stop.stop_requested() || engine->m_bWakePending; });
            if (stop.stop_requested()) return;
            // Signals arriving from here on fold into one further pass.
            engine->m_bWakePending = false;
        }
        ++engine->m_dispatchPasses;
        for (const auto& device : engine->m_listDevices) {
            if (stop.stop_requested()) return;
            device->EnsureWorker();
        }
    }
}

}  // namespace kvsdk
