// The engine: exists while effects are being served. It owns the devices taken over from the
// discovery list and runs the dispatcher thread that starts the devices' effect workers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>

#include "devices/Device.h"
#include "effects/Effect.h"
#include "common/List.h"
#include "engine/ReaderWriterLock.h"

namespace kvsdk {

class CEngine {
  public:
    // Takes over every device of 'discovery' from its tail, so the engine walks them in the
    // reverse of their discovery order, and starts the dispatcher thread.
    explicit CEngine(CList<CDevice>& discovery);
    // Stops the dispatcher (cooperatively, then joins it) and deletes every device from the tail.
    ~CEngine();
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;

    // The engine's devices; unchanged from the end of the constructor to the destructor.
    const CList<CDevice>& Devices() const { return m_listDevices; }

    // Wakes the dispatcher for one more pass over the devices.
    void SignalNewEffect();
    // Passes the dispatcher has made over the devices so far.
    uint64_t GetDispatchPassCount() const { return m_dispatchPasses.load(); }

  private:
    friend void DispatchThreadProc(std::stop_token stop, CEngine* engine);

    CList<CEffect> m_listEffects;  // nothing adds to it; kept for the ownership contract
    CList<CDevice> m_listDevices;

    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    bool m_bWakePending = false;
    std::atomic<uint64_t> m_dispatchPasses{0};
    void* m_hNewEffectEvent = nullptr;  // the shared named event, set for outside observers

    std::jthread m_thread;  // the dispatcher; started last, stopped first
};

// The dispatcher: sleeps until signalled, then makes sure every device with queued effects has a
// worker. Several signals that arrive during a pass fold into one further pass.
void DispatchThreadProc(std::stop_token stop, CEngine* engine);

// Process-wide state of the library. Created on first use and never destroyed, so a process
// that exits without KvSDKEngUninit runs no thread join and no device teardown at exit.
struct CLibraryState {
    CReaderWriterLock lock;  // exclusive: Init, Uninit, engine creation; shared: effect calls
    CList<CDevice> discoveryList;
    CEngine* pEngine = nullptr;
};
CLibraryState& LibraryState();

// The engine, created from the discovery list on first use. Call with 'lock' held exclusively.
CEngine& GetEngine(CLibraryState& state);

}  // namespace kvsdk
