// The background side of the effects: the device's effect worker and the engine's dispatcher.
//
// Host threads build effects and append them to a device's queue under the device's queue lock,
// then wake the dispatcher. The dispatcher walks the devices and starts a worker on each device
// that has queued effects and no running worker. A worker takes effects from the head of its
// queue one at a time and sends their buffers; it marks itself finished under the queue lock at
// the moment it finds the queue empty, so an effect appended after that is seen by the next
// dispatcher pass, and one appended before it is taken by the worker itself: no wake-up is lost.
//
// Stopping is cooperative: the stop request is checked before every buffer, a pause ends at once
// when a stop is requested, and the stopper joins the thread.

#include <chrono>
#include <system_error>

#include "KvSDKEng.h"
#include "StopAndWake.h"
#include "Win32Types.h"
#include "devices/Device.h"
#include "engine/Engine.h"
#include "platform/Platform.h"

namespace kvsdk {

// --- Device worker -------------------------------------------------------------------------

void CDevice::EnsureWorker() {
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        if (m_bWorkerRunning || m_listEffects.IsEmpty()) return;
        m_bWorkerRunning = true;
    }
    std::lock_guard<std::mutex> worker(m_workerLock);
    if (m_bStopped) return;
    // The previous worker, if any, has already marked itself finished: it only has to return.
    if (m_workerThread.joinable()) m_workerThread.join();
    try {
        m_workerThread = std::jthread(EffectWorkerProc, this);
    } catch (const std::system_error&) {
        // No thread could be started: the queue waits for the next pass.
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_bWorkerRunning = false;
    }
}

void CDevice::StopWorker() {
    std::lock_guard<std::mutex> worker(m_workerLock);
    m_bStopped = true;
    if (m_workerThread.joinable()) {
        StopAndWake(m_workerThread, m_pauseLock, m_pauseWake);
        m_workerThread.join();
    }
    std::lock_guard<std::mutex> queue(m_queueLock);
    m_bWorkerRunning = false;
}

std::unique_ptr<CEffect> CDevice::TakeNextEffectOrFinish() {
    std::lock_guard<std::mutex> queue(m_queueLock);
    std::unique_ptr<CEffect> effect = m_listEffects.RemoveHead();
    if (!effect) m_bWorkerRunning = false;
    return effect;
}

bool CDevice::Pause(std::stop_token& stop, uint32_t milliseconds) {
    if (milliseconds > 0) {
        std::unique_lock<std::mutex> lock(m_pauseLock);
        m_pauseWake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&stop] { return stop.stop_requested(); });
    }
    return !stop.stop_requested();
}

void EffectWorkerProc(std::stop_token stop, CDevice* device) {
    // A device that takes whole record blocks gets every 28-byte block as it stands; other
    // buffers (light commands, pauses) are not in its form and are passed over unread.
    const bool wholeBlocks = GuidEqual(device->GetProductGuid(), PRODUCT_PELL_USB_0E5B);
    while (!stop.stop_requested()) {
        std::unique_ptr<CEffect> effect = device->TakeNextEffectOrFinish();
        if (!effect) return;
        CCommandList* commands = effect->GetCommands();
        while (!stop.stop_requested()) {
            std::unique_ptr<CCommandBuffer> buffer = commands->RemoveHead();
            if (!buffer) break;
            if (wholeBlocks) {
                if (buffer->Size() == CCommandBuffer::kBlockSize) {
                    (void)device->Set(buffer->Data(), CCommandBuffer::kBlockSize);
                }
                continue;
            }
            uint32_t milliseconds = 0;
            const uint8_t* payload = nullptr;
            uint32_t length = 0;
            if (buffer->IsPause(milliseconds)) {
                if (!device->Pause(stop, milliseconds)) break;
            } else if (buffer->GetPayload(payload, length)) {
                // A failed command neither stops the effect nor skips the ones after it.
                (void)device->Set(payload, length);
            }
        }
    }
}

// --- Dispatcher ------------------------------------------------------------------------------

void CEngine::SignalNewEffect() {
    void* sharedEvent = nullptr;
    bool alreadyPending = false;
    {
        std::lock_guard<std::mutex> lock(m_wakeLock);
        // A pass that has not begun yet will see this effect too: no wake-up is needed.
        alreadyPending = m_bWakePending;
        m_bWakePending = true;
        if (m_hNewEffectEvent == nullptr) m_hNewEffectEvent = platform::CreateNewEffectEvent();
        sharedEvent = m_hNewEffectEvent;
    }
    if (!alreadyPending) m_wake.notify_one();
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
