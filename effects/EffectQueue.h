// A device's effect queue and the worker that drains it.
//
// Host threads append effects under the queue lock; the dispatcher calls EnsureWorker, which
// starts a worker when the queue holds effects and none is running. The worker takes effects
// from the head one at a time and hands their commands to the sink in order, waiting out the
// pauses. It marks itself finished under the queue lock at the moment it finds the queue empty,
// so an effect appended after that is seen by the next EnsureWorker, and one appended before it
// is taken by the worker itself: no wake-up is lost.
//
// Stopping is cooperative: the stop request is checked before every buffer, a pause ends at
// once when a stop is requested, and the stopper joins the thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "KvSDKEng.h"
#include "common/List.h"
#include "effects/Effect.h"

namespace kvsdk {

// Where a queue's worker sends the commands: the device, or a recorder in tests.
class ICommandSink {
  public:
    virtual ~ICommandSink() = default;
    // Sends one command; a failure neither stops the effect nor skips the commands after it.
    virtual HRESULT SendCommand(const uint8_t* bytes, uint32_t length) = 0;
    // A sink that takes whole record blocks gets every 28-byte block as it stands; other
    // buffers (light commands, pauses) are not in its form and are passed over unread.
    virtual bool TakesWholeBlocks() const = 0;
};

class CEffectQueue {
  public:
    // 'sink' must outlive the queue's worker: its owner calls Stop before it goes away.
    explicit CEffectQueue(ICommandSink& sink) : m_sink(sink) {}
    // Stops the worker and releases the effects still queued, from the tail.
    ~CEffectQueue();
    CEffectQueue(const CEffectQueue&) = delete;
    CEffectQueue& operator=(const CEffectQueue&) = delete;

    // Appends a built effect; the queue owns it from here.
    void Add(std::unique_ptr<CEffect> effect);
    // Starts a worker when the queue holds effects and no worker is running.
    void EnsureWorker();
    // Stops the worker and waits until it can no longer reach the sink: no command is sent
    // after this begins, a pause in progress ends at once. Effects not yet run stay queued.
    // No worker is started afterwards until Restart.
    void Stop();
    // Allows workers again after Stop.
    void Restart();
    // Releases every queued effect, from the tail.
    void Clear();
    // Number of effects waiting.
    size_t GetCount();

  private:
    void WorkerProc(std::stop_token stop);
    // Takes the head effect; when the queue is empty marks the worker finished under the same
    // lock.
    std::unique_ptr<CEffect> TakeNextOrFinish();
    // Sleeps up to 'milliseconds'; answers false at once when a stop is requested.
    bool Pause(std::stop_token& stop, uint32_t milliseconds);

    ICommandSink& m_sink;

    std::mutex m_queueLock;  // guards m_listEffects and m_bWorkerRunning
    CList<CEffect> m_listEffects;
    bool m_bWorkerRunning = false;

    std::mutex m_workerLock;  // guards m_workerThread and m_bStopped (start and stop)
    std::jthread m_workerThread;
    bool m_bStopped = false;
    std::mutex m_pauseLock;
    std::condition_variable m_pauseWake;  // a pause ends early when the worker is stopped
};

}  // namespace kvsdk
