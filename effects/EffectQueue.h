// A device's effect queue and the worker that drains it.
//
// Host threads append effects under the queue lock; the dispatcher calls EnsureWorker, which
// starts a worker when the queue holds effects and none is running. The worker takes effects
// from the head one at a time and hands their commands to the sink in order, waiting out the
// pauses. A worker that finds the queue empty waits kIdleWait for more work before it ends; an
// effect added meanwhile wakes it directly, so a device busy with a stream of effects keeps one
// thread. The worker marks itself finished under the queue lock at the moment it gives up, so an
// effect appended after that is seen by the next EnsureWorker, and one appended before it is
// taken by the worker itself: no wake-up is lost. Once the worker has ended nothing of the
// queue runs until the next effect.
//
// A pause begins when the command before it has been sent and lasts its length (the steady
// clock), so a slow device never sees the commands after it come in a burst, and an effect's
// last pause holds back what follows for its full length. What wake-ups from earlier pauses
// overslept is taken off the following pauses, at most kMaxPauseCredit (and half the pause) at a
// time, so that wake-up lateness does not add up over a long blink while no pause is ever short
// by more than about one wake-up's lateness. A device's own slowness is never taken off.
//
// Stopping is cooperative: the stop request is checked before every buffer, a pause or an idle
// wait ends at once when a stop is requested, and the stopper joins the thread.
#pragma once

#include <atomic>
#include <chrono>
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

// Test seam: while set, starting a worker fails as when memory runs out.
extern std::atomic<bool> g_bFailWorkerStart;

class CEffectQueue {
  public:
    // How long a worker that ran out of effects waits for the next one before it ends.
    static constexpr std::chrono::milliseconds kIdleWait{1000};
    // The most that one pause is shortened by to give back what wake-ups overslept.
    static constexpr std::chrono::steady_clock::duration kMaxPauseCredit =
        std::chrono::milliseconds(1);

    // 'sink' must outlive the queue's worker: its owner calls Stop before it goes away.
    explicit CEffectQueue(ICommandSink& sink) : m_sink(sink) {}
    // Stops the worker and releases the effects still queued, from the tail.
    ~CEffectQueue();
    CEffectQueue(const CEffectQueue&) = delete;
    CEffectQueue& operator=(const CEffectQueue&) = delete;

    // At most this many command buffers (light commands, pauses, record blocks) wait in one
    // queue, counting the ones its worker has not sent yet and every pass of a repeated effect.
    // Every queued effect sends at least one, so this bounds the effects as well. One blink of
    // the largest count takes 60000.
    static constexpr size_t kMaxPendingBuffers = 131072;

    // Appends a built effect; the queue owns it from here and a worker waiting for work is
    // woken. An effect whose buffers would take the queue past kMaxPendingBuffers is refused:
    // false, and 'effect' stays the caller's. An effect that would send this sink nothing (no
    // buffer, or for a sink of whole blocks no block) is not queued at all: true, and 'effect'
    // stays the caller's to release. 'needsWorker', when given, receives whether the effect was
    // queued and no worker will take it, so EnsureWorker has to start one.
    bool Add(std::unique_ptr<CEffect>&& effect, bool* needsWorker = nullptr);
    // Starts a worker when the queue holds effects and no worker is running.
    void EnsureWorker();
    // Stops the worker and waits until it can no longer reach the sink: no command is sent
    // after this begins, a pause in progress ends at once. Effects not yet run stay queued.
    // No worker is started afterwards until Restart.
    void Stop();
    // The first half of Stop, without the wait: the worker sends nothing more once its current
    // command has returned, and no worker is started afterwards. Stop then waits for it.
    void RequestStop();
    // Allows workers again after Stop.
    void Restart();
    // Releases every queued effect, from the tail.
    void Clear();
    // Number of effects waiting.
    size_t GetCount();
    // Command buffers queued or held by the worker and not yet sent.
    size_t GetPendingBuffers() const { return m_pendingBuffers.load(); }

  private:
    // Whether running the effect would send the sink anything (or, a pause, take its time).
    bool Sends(CEffect& effect) const;
    void WorkerProc(std::stop_token stop);
    // Sends one buffer or waits out its pause; 'overslept' carries what wake-ups from pauses
    // overslept and later pauses have not given back yet. False when a stop ended the pause.
    bool Run(const CCommandBuffer& buffer, bool wholeBlocks, std::stop_token& stop,
             std::chrono::steady_clock::duration& overslept);
    // Takes the head effect, waiting up to kIdleWait for one; when none came marks the worker
    // finished under the same lock.
    std::unique_ptr<CEffect> TakeNextOrFinish(std::stop_token& stop);
    // Sleeps until 'deadline'; answers false at once when a stop is requested.
    bool PauseUntil(std::stop_token& stop, std::chrono::steady_clock::time_point deadline);

    ICommandSink& m_sink;

    std::mutex m_queueLock;  // guards m_listEffects, m_workerRunning and m_workerIdle
    CList<CEffect> m_listEffects;
    bool m_workerRunning = false;
    // Raised only under m_queueLock; the worker lowers it as it takes buffers.
    std::atomic<size_t> m_pendingBuffers{0};
    bool m_workerIdle = false;              // the worker waits in TakeNextOrFinish
    std::condition_variable m_workArrived;  // wakes an idle worker (with m_queueLock)

    std::mutex m_workerLock;  // guards m_workerThread and m_stopped (start and stop)
    std::jthread m_workerThread;
    bool m_stopped = false;
    std::mutex m_pauseLock;
    std::condition_variable m_pauseWake;  // a pause ends early when the worker is stopped
};

}  // namespace kvsdk
