// The four exports. Host threads may call them at once: Init, Uninit and the creation of the
// engine take the library lock exclusively; the effect calls walk the engine's devices under the
// shared lock, so no walk ever meets a list being changed and exactly one engine exists.
// No exception leaves an export.

#include <array>
#include <new>
#include <shared_mutex>  // std::shared_lock

#include "KvSDKEng.h"
#include "Win32Types.h"
#include "devices/DeviceFinder.h"
#include "effects/MORENEffect.h"
#include "effects/VEXOEffect.h"
#include "engine/Engine.h"
#include "engine/GameControl.h"

namespace kvsdk {

namespace {

constexpr const wchar_t* kVendorId = L"7A3E";

struct Search {
    const GUID* interfaceClass;
    const wchar_t* productId;
};

struct InitRow {
    const GUID* product;
    std::array<Search, 3> searches;
    size_t searchCount;
    bool alwaysOk;  // S_OK whatever the searches found; otherwise the finder's result
};

const std::array<InitRow, 7> kInitTable = {{
    {&PRODUCT_VEXO,
     {{{&kGuidDevinterfaceMouse, L"0E51"}, {&kGuidDevinterfaceMouse, L"0E52"}, {}}},
     2,
     true},
    {&PRODUCT_VEXO_0E51, {{{&kGuidDevinterfaceMouse, L"0E51"}, {}, {}}}, 1, true},
    {&PRODUCT_VEXO_0E52, {{{&kGuidDevinterfaceMouse, L"0E52"}, {}, {}}}, 1, true},
    {&PRODUCT_PELL,
     {{{&kGuidDevinterfaceMouse, L"0E59"},
       {&kGuidDevinterfaceKeyboard, L"0E5A"},
       {&kGuidDevinterfaceUsbDevice, L"0E5B"}}},
     3,
     true},
    {&PRODUCT_PELL_MOUSE_0E59, {{{&kGuidDevinterfaceMouse, L"0E59"}, {}, {}}}, 1, false},
    {&PRODUCT_PELL_KEYBOARD_0E5A, {{{&kGuidDevinterfaceKeyboard, L"0E5A"}, {}, {}}}, 1, false},
    {&PRODUCT_PELL_USB_0E5B, {{{&kGuidDevinterfaceUsbDevice, L"0E5B"}, {}, {}}}, 1, false},
}};

// The effect kinds KvSDKSetEffect accepts, in the order it tests them.
const std::array<const GUID*, 16> kAcceptedEffects = {
    &EFFECT_LED_ON,     &EFFECT_LED_OFF,     &EFFECT_LED_BRIGHTNESS, &EFFECT_LED_MODE_2_PARAMS,
    &EFFECT_LED_STATE,  &EFFECT_LED_FLASH_1, &EFFECT_LED_FLASH_2,    &EFFECT_LED_FLASH_3,
    &EFFECT_LED_BLINK,  &EFFECT_LED_MODE_0,  &EFFECT_LED_MODE_1,     &EFFECT_LED_MODE_2,
    &EFFECT_LED_MODE_4, &EFFECT_VEXO_MODE_A, &EFFECT_VEXO_MODE_B,    &EFFECT_LED_COLOR,
};

enum class Family { None, VEXO, MOREN };

struct SetRow {
    const wchar_t* productId;
    const GUID* products[2];
    bool needsLightingInterface;  // the path must hold "MI_02" past its first character
    Family family;
};

const std::array<SetRow, 5> kSetSelection = {{
    {L"0E51", {&PRODUCT_VEXO_0E51, &PRODUCT_VEXO}, false, Family::VEXO},
    {L"0E52", {&PRODUCT_VEXO_0E52, &PRODUCT_VEXO}, false, Family::VEXO},
    {L"0E59", {&PRODUCT_PELL_MOUSE_0E59, &PRODUCT_PELL}, false, Family::MOREN},
    {L"0E5B", {&PRODUCT_PELL_USB_0E5B, &PRODUCT_PELL}, false, Family::MOREN},
    {L"0E5A", {&PRODUCT_PELL_KEYBOARD_0E5A, &PRODUCT_PELL}, true, Family::MOREN},
}};

struct GetRow {
    const wchar_t* productId;
    const GUID* product;
};

const std::array<GetRow, 2> kGetSelection = {{
    {L"0E51", &PRODUCT_VEXO_0E51},
    {L"0E52", &PRODUCT_VEXO_0E52},
}};

bool IsAcceptedEffect(const GUID& effect) {
    for (const GUID* accepted : kAcceptedEffects) {
        if (GuidEqual(effect, *accepted)) return true;
    }
    return false;
}

Family SelectForSet(const CDevice& device, const std::wstring& productId, const GUID& product) {
    for (const SetRow& row : kSetSelection) {
        if (productId != row.productId) continue;
        if (!GuidEqual(product, *row.products[0]) && !GuidEqual(product, *row.products[1])) {
            continue;
        }
        if (row.needsLightingInterface) {
            const size_t pos = device.GetPath().find(L"MI_02");
            if (pos == std::wstring::npos || pos == 0) continue;
        }
        return row.family;
    }
    return Family::None;
}

bool SelectForGet(const std::wstring& productId, const GUID& product) {
    for (const GetRow& row : kGetSelection) {
        if (productId == row.productId && GuidEqual(product, *row.product)) return true;
    }
    return false;
}

// The library lock held shared, with an engine that exists (created here on first use).
std::shared_lock<CReaderWriterLock> LockWithEngine(CLibraryState& state) {
    for (;;) {
        std::shared_lock<CReaderWriterLock> shared(state.lock);
        if (state.pEngine != nullptr) return shared;
        shared.unlock();
        std::unique_lock<CReaderWriterLock> exclusive(state.lock);
        GetEngine(state);
    }
}

std::unique_ptr<CEffect> MakeEffect(Family family, const GUID& effect, EffectParams* params) {
    // An effect that cannot be allocated reaches AddEffect as null and answers E_POINTER.
    if (family == Family::VEXO) {
        return std::unique_ptr<CEffect>(new (std::nothrow) CVEXOEffect(effect, params));
    }
    return std::unique_ptr<CEffect>(new (std::nothrow) CMORENEffect(effect, params));
}

HRESULT EngInit(const GUID& product) {
    if (GuidEqual(product, kGuidNull)) return kE_INVALIDARG;
    const InitRow* row = nullptr;
    for (const InitRow& candidate : kInitTable) {
        if (GuidEqual(product, *candidate.product)) {
            row = &candidate;
            break;
        }
    }
    if (row == nullptr) return kE_FAIL;

    CLibraryState& state = LibraryState();
    std::unique_lock<CReaderWriterLock> exclusive(state.lock);
    HRESULT result = kE_FAIL;
    for (size_t i = 0; i < row->searchCount; ++i) {
        const Search& search = row->searches[i];
        CDeviceFinder finder(*search.interfaceClass);
        std::unique_ptr<CDevice> device;
        result = finder.FindDevice(kVendorId, search.productId, device);
        if (Succeeded(result) && device) state.discoveryList.AddTail(std::move(device));
    }
    return row->alwaysOk ? kS_OK : result;
}

HRESULT EngUninit() {
    CLibraryState& state = LibraryState();
    std::unique_lock<CReaderWriterLock> exclusive(state.lock);
    state.discoveryList.RemoveAllFromHead();
    if (state.pEngine != nullptr) {
        delete state.pEngine;
        state.pEngine = nullptr;
    }
    return kS_OK;
}

HRESULT SetEffect(const GUID& effect, EffectParams* params) {
    HRESULT result = kE_FAIL;
    CLibraryState& state = LibraryState();
    auto shared = LockWithEngine(state);
    CEngine& engine = *state.pEngine;

    if (!IsAcceptedEffect(effect)) return kE_FAIL;
    if (params == nullptr) return kE_POINTER;
    const GUID product = params->productGuid;
    // Brightness is scaled in place in the host's record. Every device scales the level the
    // host asked for, not the value the previous device left there; the record ends up holding
    // the scaled value, as with a single device.
    const bool scalesLevel = GuidEqual(effect, EFFECT_LED_BRIGHTNESS);
    const uint32_t requestedLevel = params->level;

    const CGameControlView gameControl;
    for (const auto& device : engine.Devices()) {
        const std::wstring productId = ProductIdFromPath(device->GetPath());
        if (!gameControl.IsEnabled(productId)) continue;
        const Family family = SelectForSet(*device, productId, product);
        if (family == Family::None) continue;
        if (scalesLevel) params->level = requestedLevel;
        std::unique_ptr<CEffect> created(MakeEffect(family, effect, params));
        bool needsWorker = true;
        result = device->AddEffect(created, &needsWorker);
        // Signalled right after each queued effect, so the first device can start while later
        // ones are still being handled; a device whose worker is alive (busy, or waiting for
        // work) gets the effect from the queue itself and needs no dispatcher pass. A refused
        // effect is released with 'created'.
        if (Succeeded(result)) engine.SignalNewEffect(needsWorker);
    }
    return result;
}

HRESULT GetEffect(const GUID& effect, EffectParams* params) {
    if (params == nullptr) return kE_POINTER;
    HRESULT result = kE_FAIL;
    CLibraryState& state = LibraryState();
    auto shared = LockWithEngine(state);
    CEngine& engine = *state.pEngine;

    const GUID product = params->productGuid;
    for (const auto& device : engine.Devices()) {
        const std::wstring productId = ProductIdFromPath(device->GetPath());
        if (!SelectForGet(productId, product)) continue;
        CVEXOEffect query(effect, params);
        result = device->QueryEffect(&query);
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
