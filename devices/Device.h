// Device objects: one per device interface that discovery found. A device keeps its interface
// path (upper case) and the catalogue row of the product that path names, owns the device-I/O
// object opened on it, carries a product GUID and holds the effect queue that its own effect
// worker executes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "KvSDKEng.h"
#include "KvSDKMod.h"
#include "common/List.h"
#include "common/Win32Types.h"
#include "effects/Effect.h"
#include "effects/EffectQueue.h"

namespace kvsdk {

struct Product;

class CDevice : private ICommandSink {
  public:
    explicit CDevice(const wchar_t* path);
    virtual ~CDevice();
    CDevice(const CDevice&) = delete;
    CDevice& operator=(const CDevice&) = delete;

    // Re-initialises the object as the constructors do: path, device-I/O object, product GUID.
    // Not used by the engine; only valid while no worker runs.
    virtual void Initialize(const wchar_t* path, GUID productGuid);
    // Sends one output buffer.
    virtual HRESULT Set(const uint8_t* buffer, uint32_t length);
    // Exchanges one request for its answer (see CKvDeviceIO::Get).
    virtual HRESULT Get(uint8_t* buffer, uint32_t* length);
    virtual GUID GetProductGuid() const { return m_guidProduct; }
    // Puts the device's stored lighting settings back into effect. Base: nothing to restore.
    virtual void RestoreSettings() {}

    // Runs the effect's Build on the calling thread and, on success, appends it to the effect
    // queue, which then owns it ('effect' is left empty). On failure the effect stays the
    // caller's and the Build result is returned; a queue that cannot take all of the effect's
    // buffers answers kE_QUEUE_FULL. Null: E_POINTER. An effect that would send this device
    // nothing answers S_OK and is not queued: it stays the caller's. 'needsWorker', when given,
    // tells whether the effect waits for a worker to be started (see CEffectQueue::Add). Memory
    // running out throws std::bad_alloc; the effect is not queued then.
    HRESULT AddEffect(std::unique_ptr<CEffect>& effect, bool* needsWorker = nullptr);
    // Asks the effect to read its state from this device's path.
    HRESULT QueryEffect(CEffect* effect);

    // Starts a worker when the queue holds effects and no worker is running.
    void EnsureWorker() { m_effectQueue.EnsureWorker(); }
    // Asks the worker to stop without waiting for it: nothing more is sent once the command in
    // progress returns. The destructor then waits for the worker.
    void RequestStop() { m_effectQueue.RequestStop(); }

    const std::wstring& GetPath() const { return m_strPath; }
    // The catalogue row of the product id in the path (ProductOfPath), resolved when the path is
    // set; null when the path names no product of the catalogue.
    const Product* GetProduct() const { return m_product; }
    // Whether the device takes whole 28-byte record blocks, sent as tunnel writes, instead of
    // command payloads: what the catalogue says of the product GUID it carries, resolved when
    // that GUID is set.
    bool TakesWholeBlocks() const override { return m_wholeBlocks; }
    // S_OK when the device can take commands; otherwise why not (the device-I/O object's Init
    // result, or for the USB device a channel that did not connect).
    HRESULT GetOpenResult() const { return m_openResult; }
    // Number of effects waiting in the queue.
    size_t GetQueuedCount() { return m_effectQueue.GetCount(); }

  protected:
    // Stops the effect worker and waits until it can no longer touch the device: no buffer is
    // sent after this begins, a pause in progress ends at once. Effects not yet run stay queued
    // and are released by the destructor. Every derived destructor calls this first.
    void StopWorker() { m_effectQueue.Stop(); }
    // Sets m_guidProduct and what follows from it.
    void SetProductGuid(const GUID& productGuid);

    std::wstring m_strPath;
    std::unique_ptr<CKvDeviceIO> m_pDeviceIO;
    GUID m_guidProduct{};
    HRESULT m_openResult = kS_OK;

  private:
    // Sets m_strPath and the product row read from it.
    void SetPath(const wchar_t* path);

    const Product* m_product = nullptr;
    bool m_wholeBlocks = false;

    // The worker's way to the device: through Set, so derived devices see every command.
    HRESULT SendCommand(const uint8_t* bytes, uint32_t length) override {
        return Set(bytes, length);
    }
    void OpenDeviceIO(const wchar_t* path);

    CEffectQueue m_effectQueue{*this};
};

// Releases every device of 'devices' (from the head) at once and returns when all are gone:
// every worker is asked to stop first, then each device is destroyed (its worker waited for, a
// VEXO device's settings restored) on a thread of its own, so that devices slow to answer take
// their time side by side rather than one after the other. A device for which no thread can be
// started is released on the calling thread, as is the last one.
void ReleaseDevices(CList<CDevice>& devices);

}  // namespace kvsdk
