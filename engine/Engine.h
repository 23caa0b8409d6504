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
#include "common/Win32Types.h"

namespace kvsdk {

class CEngine {
  public:
    // Takes over every device of 'discovery' from its tail, so the engine walks them in the
    // reverse of their discovery order, and starts the dispatcher thread.
    explicit CEngine(CList<CDevice>& discovery);
    // Stops the dispatcher (cooperatively, then joins it) and releases every device still held,
    // from the tail, all at once (ReleaseDevices).
    ~CEngine();
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;

    // The engine's devices; unchanged from the end of the constructor to the destructor.
    const CList<CDevice>& Devices() const { return m_listDevices; }

    // Tells that an effect was queued: sets the shared event and, when 'passNeeded' (the device
    // has no worker that will take the effect), wakes the dispatcher for one more pass over the
    // devices, unless a pass is already pending.
    void SignalNewEffect(bool passNeeded = true);
    // Passes the dispatcher has made over the devices so far.
    uint64_t GetDispatchPassCount() const { return m_dispatchPasses.load(); }

    // Stops the dispatcher and moves every device, from the tail, to the tail of 'out', for the
    // caller to release. The engine serves nothing afterwards.
    void StopAndHandOver(CList<CDevice>& out);

  private:
    friend void DispatchThreadProc(std::stop_token stop, CEngine* engine);

    CList<CEffect> m_listEffects;  // nothing adds to it; kept for the ownership contract
    CList<CDevice> m_listDevices;

    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    bool m_wakePending = false;
    std::atomic<uint64_t> m_dispatchPasses{0};
    void* m_newEffectEvent = nullptr;  // the shared named event, set for outside observers

    std::jthread m_thread;  // the dispatcher; started last, stopped first
};

// The dispatcher: sleeps until signalled, then makes sure every device with queued effects has a
// worker. Several signals that arrive during a pass fold into one further pass.
void DispatchThreadProc(std::stop_token stop, CEngine* engine);

// Process-wide state of the library. Created on first use and never destroyed, so a process
// that exits without KvSDKEngUninit runs no thread join and no device teardown at exit.
struct LibraryState {
    CReaderWriterLock lock;  // exclusive: changing these three; shared: effect calls
    CList<CDevice> discoveryList;
    CEngine* pEngine = nullptr;
};
LibraryState& Library();

// The engine, created from the discovery list on first use. Call with 'lock' held exclusively.
// When the engine cannot be created (no memory, no thread) it throws and the devices stay on
// the discovery list.
CEngine& GetEngine(LibraryState& state);

// Result of a call that needed the engine when its dispatcher thread could not be started.
inline constexpr HRESULT kE_THREAD_START = HResultFromWin32(kErrorNotEnoughMemory);

// GetEngine as a result code: S_OK, E_OUTOFMEMORY, or kE_THREAD_START.
HRESULT TryGetEngine(LibraryState& state);

// Test seam: while set, starting the dispatcher thread fails as when the system has no thread
// to give.
extern std::atomic<bool> g_bFailDispatcherStart;

// Test seam: while above 0, each effect object KvSDKSetEffect makes fails as when memory runs out,
// and takes 1 off.
extern std::atomic<int> g_failEffectAllocations;

}  // namespace kvsdk
