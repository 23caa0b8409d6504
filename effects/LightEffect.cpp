#include "effects/LightEffect.h"

#include "common/Win32Types.h"
#include "effects/LightCommands.h"

namespace kvsdk {

namespace {

// The step record's own size: header, selector, level and duration.
constexpr uint32_t kStepRecordSize = 32;

}  // namespace

EffectParams MakeStepRecord(uint32_t lightSelector) {
    EffectParams step{};
    step.size = kStepRecordSize;
    step.lightSelector = lightSelector;
    return step;
}

HRESULT LightEffect::Build() {
    EffectParams* params = GetParams();
    if (params == nullptr) return kE_POINTER;
    const GUID guid = GetEffectGuid();
    if (GuidEqual(guid, EFFECT_LED_BRIGHTNESS)) {
        // The host's record stays as it is: KvSDKSetEffect writes the scaled level back once.
        EffectParams scaled = *params;
        scaled.level = light::ScaleLevel(params->level);
        QueueStateStep(&scaled);
    } else if (GuidEqual(guid, EFFECT_LED_MODE_2_PARAMS)) {
        QueueModeParams(params);
    } else if (GuidEqual(guid, EFFECT_LED_STATE)) {
        // Read with QueryState; nothing to send.
    } else if (GuidEqual(guid, EFFECT_LED_FLASH_1)) {
        QueueFlash(1);
    } else if (GuidEqual(guid, EFFECT_LED_FLASH_2)) {
        QueueFlash(2);
    } else if (GuidEqual(guid, EFFECT_LED_FLASH_3)) {
        QueueFlash(3);
    } else if (GuidEqual(guid, EFFECT_LED_BLINK)) {
        return QueueBlink();
    } else if (!BuildOwnKind(guid, params)) {
        return kE_NOINTERFACE;
    }
    return kS_OK;
}

void LightEffect::QueueFlash(uint32_t cycles) {
    QueueFlashCycles(GetParams()->lightSelector, cycles,
                     [this](const EffectParams* step) { QueueStateStep(step); });
}

HRESULT LightEffect::QueueBlink() {
    const EffectParams* params = GetParams();
    if (params->count == 0) {
        QueueDeviceBlink(params);
        return kS_OK;
    }
    uint32_t repeat = 1;
    const HRESULT hr = QueueBlinkCycle(*params, repeat,
                                       [this](const EffectParams* step) { QueueStateStep(step); });
    if (Succeeded(hr)) SetRepeat(repeat);
    return hr;
}

void LightEffect::QueueModeParams(const EffectParams* params) {
    const auto lightId = m_modeParamsLights.Find(params->lightSelector);
    if (!lightId) return;
    Queue(light::Mode(*lightId, cmd::kMode2));
    Queue(light::ModeParams(*lightId, params->param1, light::ScalePercent(params->percent),
                            params->param2, params->param3));
}

std::unique_ptr<CCommandBuffer> LightEffect::DeviceBlinkCommand(const EffectParams& params) {
    if (params.count != 0) return nullptr;
    const auto lightId = kDeviceBlinkLights.Find(params.lightSelector);
    if (!lightId) return nullptr;
    return light::Blink(*lightId, params.offTime, params.onTime);
}

void LightEffect::QueueDeviceBlink(const EffectParams* params) {
    Queue(DeviceBlinkCommand(*params));
}

HRESULT LightEffect::QueryState(const std::wstring& devicePath) {
    const GUID guid = GetEffectGuid();
    if (!GuidEqual(guid, EFFECT_LED_STATE) && !GuidEqual(guid, EFFECT_LED_BRIGHTNESS)) {
        return kE_NOT_SUPPORTED;
    }
    EffectParams* params = GetParams();
    if (params == nullptr) return kE_POINTER;
    return light::QueryLight(guid, m_readBackLights.FindOrZero(params->lightSelector), devicePath,
                             params);
}

}  // namespace kvsdk
