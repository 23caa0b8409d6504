#include "effects/EffectQueue.h"

#include <chrono>
#include <system_error>
#include <utility>

#include "common/StopAndWake.h"

namespace kvsdk {

CEffectQueue::~CEffectQueue() {
    Stop();
    Clear();
}

void CEffectQueue::Add(std::unique_ptr<CEffect> effect) {
    std::lock_guard<std::mutex> queue(m_queueLock);
    m_listEffects.AddTail(std::move(effect));
}

void CEffectQueue::EnsureWorker() {
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        if (m_bWorkerRunning || m_listEffects.IsEmpty()) return;
        m_bWorkerRunning = true;
    }
    std::lock_guard<std::mutex> worker(m_workerLock);
    if (m_bStopped) {
        // No worker runs after a stop; the flag must not claim one, or Restart would find the
        // queue looking served.
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_bWorkerRunning = false;
        return;
    }
    // The previous worker, if any, has already marked itself finished: it only has to return.
    if (m_workerThread.joinable()) m_workerThread.join();
    try {
        m_workerThread = std::jthread([this](std::stop_token stop) { WorkerProc(stop); });
    } catch (const std::system_error&) {
        // No thread could be started: the queue waits for the next pass.
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_bWorkerRunning = false;
    }
}

void CEffectQueue::Stop() {
    std::lock_guard<std::mutex> worker(m_workerLock);
    m_bStopped = true;
    if (m_workerThread.joinable()) {
        StopAndWake(m_workerThread, m_pauseLock, m_pauseWake);
        m_workerThread.join();
    }
    std::lock_guard<std::mutex> queue(m_queueLock);
    m_bWorkerRunning = false;
}

void CEffectQueue::Restart() {
    std::lock_guard<std::mutex> worker(m_workerLock);
    m_bStopped = false;
}

void CEffectQueue::Clear() {
    std::lock_guard<std::mutex> queue(m_queueLock);
    m_listEffects.RemoveAllFromTail();
}

size_t CEffectQueue::GetCount() {
    std::lock_guard<std::mutex> queue(m_queueLock);
    return m_listEffects.GetCount();
}

std::unique_ptr<CEffect> CEffectQueue::TakeNextOrFinish() {
    std::lock_guard<std::mutex> queue(m_queueLock);
    std::unique_ptr<CEffect> effect = m_listEffects.RemoveHead();
    if (!effect) m_bWorkerRunning = false;
    return effect;
}

bool CEffectQueue::Pause(std::stop_token& stop, uint32_t milliseconds) {
    if (milliseconds > 0) {
        std::unique_lock<std::mutex> lock(m_pauseLock);
        m_pauseWake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&stop] { return stop.stop_requested(); });
    }
    return !stop.stop_requested();
}

void CEffectQueue::WorkerProc(std::stop_token stop) {
    const bool wholeBlocks = m_sink.TakesWholeBlocks();
    while (!stop.stop_requested()) {
        std::unique_ptr<CEffect> effect = TakeNextOrFinish();
        if (!effect) return;
        CCommandList* commands = effect->GetCommands();
        while (!stop.stop_requested()) {
            std::unique_ptr<CCommandBuffer> buffer = commands->RemoveHead();
            if (!buffer) break;
            if (wholeBlocks) {
                if (buffer->Size() == CCommandBuffer::kBlockSize) {
                    (void)m_sink.SendCommand(buffer->Data(), CCommandBuffer::kBlockSize);
                }
                continue;
            }
            uint32_t milliseconds = 0;
            const uint8_t* payload = nullptr;
            uint32_t length = 0;
            if (buffer->IsPause(milliseconds)) {
                if (!Pause(stop, milliseconds)) break;
            } else if (buffer->GetPayload(payload, length)) {
                (void)m_sink.SendCommand(payload, length);
            }
        }
    }
}

}  // namespace kvsdk
