#include "effects/EffectQueue.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

#include "common/StopAndWake.h"

namespace kvsdk {

namespace {
using Duration = std::chrono::steady_clock::duration;
// The most of what wake-ups overslept that later pauses make up; a longer stall (a suspended
// machine, say) is not made up.
constexpr Duration kMaxOverslept = std::chrono::milliseconds(50);
}  // namespace

std::atomic<bool> g_bFailWorkerStart{false};

CEffectQueue::~CEffectQueue() {
    Stop();
    Clear();
}

bool CEffectQueue::Sends(CEffect& effect) const {
    if (effect.GetSendCount() == 0) return false;
    if (!m_sink.TakesWholeBlocks()) return true;  // a pause alone still holds back what follows
    for (const auto& buffer : *effect.GetCommands()) {
        if (buffer->Size() == CCommandBuffer::kBlockSize) return true;
    }
    return false;
}

bool CEffectQueue::Add(std::unique_ptr<CEffect>&& effect, bool* needsWorker) {
    if (needsWorker != nullptr) *needsWorker = false;
    // An effect that would send nothing takes no place: the device sees the same either way.
    if (!effect || !Sends(*effect)) return true;
    const size_t buffers = effect->GetSendCount();
    bool wake = false;
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        if (buffers > kMaxPendingBuffers - std::min(m_pendingBuffers.load(), kMaxPendingBuffers)) {
            return false;
        }
        m_listEffects.AddTail(std::move(effect));
        m_pendingBuffers += buffers;
        wake = m_workerIdle;
        if (needsWorker != nullptr) *needsWorker = !m_workerRunning;
    }
    if (wake) m_workArrived.notify_one();
    return true;
}

void CEffectQueue::EnsureWorker() {
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        if (m_workerRunning || m_listEffects.IsEmpty()) return;
        m_workerRunning = true;
    }
    std::lock_guard<std::mutex> worker(m_workerLock);
    if (m_stopped) {
        // No worker runs after a stop; the flag must not claim one, or Restart would find the
        // queue looking served.
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_workerRunning = false;
        return;
    }
    // The previous worker, if any, has already marked itself finished: it only has to return.
    if (m_workerThread.joinable()) m_workerThread.join();
    try {
        if (g_bFailWorkerStart) throw std::bad_alloc();
        m_workerThread = std::jthread([this](std::stop_token stop) { WorkerProc(stop); });
    } catch (...) {
        // No thread could be started (no thread or no memory to give): this start fails and the
        // queue waits for the next signal, which tries again.
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_workerRunning = false;
    }
}

void CEffectQueue::RequestStop() {
    std::lock_guard<std::mutex> worker(m_workerLock);
    m_stopped = true;
    if (m_workerThread.joinable()) {
        StopAndWake(m_workerThread, m_pauseLock, m_pauseWake);
        // An idle worker checks the stop request under the queue lock.
        { std::lock_guard<std::mutex> barrier(m_queueLock); }
        m_workArrived.notify_all();
    }
}

void CEffectQueue::Stop() {
    RequestStop();
    {
        std::lock_guard<std::mutex> worker(m_workerLock);
        if (m_workerThread.joinable()) m_workerThread.join();
    }
    std::lock_guard<std::mutex> queue(m_queueLock);
    m_workerRunning = false;
}

void CEffectQueue::Restart() {
    std::lock_guard<std::mutex> worker(m_workerLock);
    m_stopped = false;
}

void CEffectQueue::Clear() {
    std::lock_guard<std::mutex> queue(m_queueLock);
    size_t buffers = 0;
    for (const auto& effect : m_listEffects) buffers += effect->GetSendCount();
    m_listEffects.RemoveAllFromTail();
    m_pendingBuffers -= buffers;
}

size_t CEffectQueue::GetCount() {
    std::lock_guard<std::mutex> queue(m_queueLock);
    return m_listEffects.GetCount();
}

std::unique_ptr<CEffect> CEffectQueue::TakeNextOrFinish(std::stop_token& stop) {
    std::unique_lock<std::mutex> queue(m_queueLock);
    if (m_listEffects.IsEmpty() && !stop.stop_requested()) {
        m_workerIdle = true;
        m_workArrived.wait_for(queue, kIdleWait,
                               [&] { return stop.stop_requested() || !m_listEffects.IsEmpty(); });
        m_workerIdle = false;
    }
    // A stopped worker leaves the queue as it is; Stop clears the running mark after the join.
    if (stop.stop_requested()) return nullptr;
    std::unique_ptr<CEffect> effect = m_listEffects.RemoveHead();
    if (!effect) m_workerRunning = false;
    return effect;
}

bool CEffectQueue::PauseUntil(std::stop_token& stop,
                              std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_pauseLock);
    m_pauseWake.wait_until(lock, deadline, [&stop] { return stop.stop_requested(); });
    return !stop.stop_requested();
}

void CEffectQueue::WorkerProc(std::stop_token stop) {
    const bool wholeBlocks = m_sink.TakesWholeBlocks();
    std::chrono::steady_clock::duration overslept{0};
    while (!stop.stop_requested()) {
        std::unique_ptr<CEffect> effect = TakeNextOrFinish(stop);
        if (!effect) return;
        const CCommandList& commands = *effect->GetCommands();
        size_t unsent = effect->GetSendCount();
        // Pass after pass over the same buffers; a stop is seen before every buffer.
        for (uint32_t pass = 0; pass < effect->GetRepeat() && !stop.stop_requested(); ++pass) {
            for (const auto& buffer : commands) {
                if (stop.stop_requested()) break;
                --unsent;
                --m_pendingBuffers;
                if (!Run(*buffer, wholeBlocks, stop, overslept)) break;
            }
        }
        // A stop leaves the rest of this effect unsent; it is released here.
        m_pendingBuffers -= unsent;
    }
}

bool CEffectQueue::Run(const CCommandBuffer& buffer, bool wholeBlocks, std::stop_token& stop,
                       std::chrono::steady_clock::duration& overslept) {
    if (wholeBlocks) {
        if (buffer.Size() == CCommandBuffer::kBlockSize) {
            (void)m_sink.SendCommand(buffer.Data(), CCommandBuffer::kBlockSize);
        }
        return true;
    }
    uint32_t milliseconds = 0;
    const uint8_t* payload = nullptr;
    uint32_t length = 0;
    if (buffer.IsPause(milliseconds)) {
        if (milliseconds == 0) return true;
        // From now (the command before has been sent) for the pause's length, less part of what
        // earlier wake-ups overslept: at most kMaxPauseCredit, and at most half the pause, so
        // that no pause vanishes.
        const Duration pause = std::chrono::milliseconds(milliseconds);
        const Duration credit = std::min({overslept, kMaxPauseCredit, pause / 2});
        const auto deadline = std::chrono::steady_clock::now() + pause - credit;
        if (!PauseUntil(stop, deadline)) return false;
        const Duration late = std::chrono::steady_clock::now() - deadline;
        overslept = std::min(overslept + std::max(late, Duration::zero()) - credit, kMaxOverslept);
    } else if (buffer.GetPayload(payload, length)) {
        (void)m_sink.SendCommand(payload, length);
    }
    return true;
}

}  // namespace kvsdk
