// The four exports. Host threads may call them at once: Init, Uninit and the creation of the
// engine take the library lock exclusively; the effect calls walk the engine's devices under the
// shared lock, so no walk ever meets a list being changed and exactly one engine exists. No
// device call is made under the lock (Init's searches, Uninit's release of the devices and the
// read-backs run outside it), so no export waits on another thread's device. No exception leaves
// an export.
//
// Memory running out is a std::bad_alloc wherever it happens (never a null pointer, never
// swallowed). While KvSDKSetEffect makes, builds and queues one device's effect (AddToDevice) it
// answers E_OUTOFMEMORY for that device, and the call goes on with the next device; anywhere else
// the export answers E_OUTOFMEMORY for the whole call (Guarded).

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <shared_mutex>  // std::shared_lock
#include <string>
#include <utility>
#include <vector>

#include "KvSDKEng.h"
#include "catalogue/EffectKinds.h"
#include "catalogue/Products.h"
#include "common/Win32Types.h"
#include "devices/DeviceFinder.h"
#include "effects/LightBuilders.h"
#include "effects/MORENEffect.h"
#include "effects/VEXOEffect.h"
#include "engine/Engine.h"
#include "engine/GameControl.h"

namespace kvsdk {

std::atomic<int> g_failEffectAllocations{0};

namespace {

// Takes the library lock shared, with an engine that exists (created here on first use). When
// the engine cannot be created the lock is not held and the failure is answered.
HRESULT LockWithEngine(LibraryState& state, std::shared_lock<CReaderWriterLock>& shared) {
    for (;;) {
        shared = std::shared_lock<CReaderWriterLock>(state.lock);
        if (state.pEngine != nullptr) return kS_OK;
        shared.unlock();
        std::unique_lock<CReaderWriterLock> exclusive(state.lock);
        const HRESULT hr = TryGetEngine(state);
        if (Failed(hr)) return hr;
    }
}

std::unique_ptr<CEffect> MakeEffect(Family family, const GUID& effect, EffectParams* params) {
    int failing = g_failEffectAllocations.load();
    while (failing > 0 && !g_failEffectAllocations.compare_exchange_weak(failing, failing - 1)) {
    }
    if (failing > 0) throw std::bad_alloc();
    if (family == Family::VEXO) return std::make_unique<CVEXOEffect>(effect, params);
    return std::make_unique<CMORENEffect>(effect, params);
}

// What one device's part of an effect call did.
struct DeviceStep {
    HRESULT result = kE_FAIL;
    bool built = false;        // the effect was made and its Build called
    bool queued = false;       // the device's queue took the effect
    bool needsWorker = false;  // and no worker of the device will take it by itself
};

// Makes the device's effect, builds it and queues it. Memory running out on the way answers
// E_OUTOFMEMORY for this device alone.
DeviceStep AddToDevice(CDevice& device, Family family, const GUID& effect, EffectParams* params) {
    DeviceStep step;
    try {
        std::unique_ptr<CEffect> created = MakeEffect(family, effect, params);
        step.built = true;
        step.needsWorker = true;
        step.result = device.AddEffect(created, &step.needsWorker);
        // An effect the queue did not take (refused, or sending the device nothing) is released
        // with 'created'.
        step.queued = Succeeded(step.result) && !created;
    } catch (const std::bad_alloc&) {
        step.result = kE_OUTOFMEMORY;
        step.queued = false;
    }
    return step;
}

HRESULT EngInit(const GUID& product) {
    if (GuidEqual(product, kGuidNull)) return kE_INVALIDARG;
    if (!IsProductOrFamily(product)) return kE_FAIL;

    // The searches open the devices they find: they run without the library lock, so that no
    // other export waits on a device.
    CList<CDevice> found;
    HRESULT result = kE_FAIL;
    HRESULT openFailure = kS_OK;
    // One search per product the GUID addresses, in catalogue order.
    ForEachAddressed(product, [&](const Product& row) {
        CDeviceFinder finder(*row.interfaceClass);
        std::unique_ptr<CDevice> device;
        result = finder.FindDevice(kVendorId.Wide(), row.id.Wide(), device);
        if (Succeeded(result) && device) {
            // A device that cannot take commands is not kept: no effect could ever reach it.
            const HRESULT open = device->GetOpenResult();
            if (Failed(open)) {
                openFailure = open;
                return;
            }
            found.AddTail(std::move(device));
        }
    });
    {
        LibraryState& state = Library();
        std::unique_lock<CReaderWriterLock> exclusive(state.lock);
        while (auto device = found.RemoveHead()) state.discoveryList.AddTail(std::move(device));
    }
    // The families answer S_OK whatever they found; a single product reports a device that it
    // found but could not open.
    if (!IsFamily(product) && Failed(openFailure)) return openFailure;
    return InitAlwaysSucceeds(product) ? kS_OK : result;
}

HRESULT EngUninit() {
    LibraryState& state = Library();
    CList<CDevice> devices;
    std::unique_ptr<CEngine> engine;
    {
        std::unique_lock<CReaderWriterLock> exclusive(state.lock);
        while (auto device = state.discoveryList.RemoveHead()) devices.AddTail(std::move(device));
        engine.reset(std::exchange(state.pEngine, nullptr));
    }
    // Released after the lock: a device slow to answer (a worker inside a device call, the VEXO
    // settings restore) holds up only this call. Other threads' calls go on meanwhile, with a
    // fresh engine that has no devices until KvSDKEngInit finds them again.
    if (engine) engine->StopAndHandOver(devices);
    ReleaseDevices(devices);
    return kS_OK;
}

HRESULT SetEffect(const GUID& effect, EffectParams* params) {
    HRESULT result = kE_FAIL;
    LibraryState& state = Library();
    std::shared_lock<CReaderWriterLock> shared;
    const HRESULT engineResult = LockWithEngine(state, shared);
    if (Failed(engineResult)) return engineResult;
    CEngine& engine = *state.pEngine;

    if (FindEffectKind(effect) == nullptr) return kE_FAIL;
    if (params == nullptr) return kE_POINTER;
    const GUID product = params->productGuid;
    bool queueFull = false;
    bool built = false;

    const GameControlView gameControl;
    for (const auto& device : engine.Devices()) {
        const Product* row = device->GetProduct();
        if (row == nullptr || !gameControl.IsEnabled(row->id.Wide())) continue;
        if (!SelectForSet(row, device->GetPath(), product)) continue;
        const DeviceStep step = AddToDevice(*device, row->family, effect, params);
        result = step.result;
        built = built || step.built;
        // A device that could not take the effect is reported whatever the later devices say.
        if (result == kE_QUEUE_FULL) queueFull = true;
        // Signalled right after each queued effect, so the first device can start while later
        // ones are still being handled; a device whose worker is alive (busy, or waiting for
        // work) gets the effect from the queue itself and needs no dispatcher pass.
        if (step.queued) engine.SignalNewEffect(step.needsWorker);
    }
    // A brightness call leaves the scaled level in the host's record once some device built it.
    // Every device built from the level the host asked for.
    if (built && GuidEqual(effect, EFFECT_LED_BRIGHTNESS)) {
        params->level = light::ScaleLevel(params->level);
    }
    return queueFull ? kE_QUEUE_FULL : result;
}

HRESULT GetEffect(const GUID& effect, EffectParams* params) {
    if (params == nullptr) return kE_POINTER;
    LibraryState& state = Library();
    const GUID product = params->productGuid;
    // The paths of the devices asked, in walk order, read under the lock. The queries run after
    // it, each through a device-I/O object of its own, so no other export waits on a device.
    std::vector<std::wstring> paths;
    {
        std::shared_lock<CReaderWriterLock> shared;
        // Reading back needs no dispatcher: when the engine cannot be made, the devices still
        // wait on the discovery list and are asked in the order an engine would walk them.
        if (Failed(LockWithEngine(state, shared))) {
            shared = std::shared_lock<CReaderWriterLock>(state.lock);
        }
        std::vector<const CDevice*> walk;
        if (state.pEngine != nullptr) {
            for (const auto& device : state.pEngine->Devices()) walk.push_back(device.get());
        } else {
            for (const auto& device : state.discoveryList) walk.push_back(device.get());
            std::reverse(walk.begin(), walk.end());
        }
        for (const CDevice* device : walk) {
            if (SelectForGet(device->GetProduct(), product)) paths.push_back(device->GetPath());
        }
    }
    HRESULT result = kE_FAIL;
    for (const std::wstring& path : paths) {
        CVEXOEffect query(effect, params);
        result = query.QueryState(path);
    }
    return result;
}

template <class F>
HRESULT Guarded(F&& call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return kE_OUTOFMEMORY;
    } catch (...) {
        return kE_FAIL;
    }
}

}  // namespace

}  // namespace kvsdk

extern "C" {

KVSDK_API HRESULT KVSDK_CALL KvSDKEngInit(GUID productGuid) {
    return kvsdk::Guarded([&] { return kvsdk::EngInit(productGuid); });
}

KVSDK_API HRESULT KVSDK_CALL KvSDKEngUninit(void) {
    return kvsdk::Guarded([] { return kvsdk::EngUninit(); });
}

KVSDK_API HRESULT KVSDK_CALL KvSDKSetEffect(GUID effectGuid, EffectParams* params) {
    return kvsdk::Guarded([&] { return kvsdk::SetEffect(effectGuid, params); });
}

KVSDK_API HRESULT KVSDK_CALL KvSDKGetEffect(GUID effectGuid, EffectParams* params) {
    return kvsdk::Guarded([&] { return kvsdk::GetEffect(effectGuid, params); });
}

}  // extern "C"
