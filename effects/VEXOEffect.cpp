#include "effects/VEXOEffect.h"

#include <new>

#include "Win32Types.h"
#include "effects/LightBuilders.h"
#include "effects/LightCommands.h"
#include "effects/MORENEffect.h"
#include "effects/VEXOLightTables.h"

namespace kvsdk {

HRESULT CVEXOEffect::Build() {
    EffectParams* params = GetParams();
    if (params == nullptr) return kE_POINTER;
    const GUID guid = GetEffectGuid();
    try {
        if (GuidEqual(guid, EFFECT_LED_ON) || GuidEqual(guid, EFFECT_LED_OFF)) {
            QueueStateStep(params);
        } else if (GuidEqual(guid, EFFECT_LED_BRIGHTNESS)) {
            params->level = light::ScaleLevel(params->level);
            QueueStateStep(params);
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
        } else if (GuidEqual(guid, EFFECT_VEXO_MODE_A) || GuidEqual(guid, EFFECT_VEXO_MODE_B)) {
            QueueDeviceMode(params);
        } else {
            return kE_NOINTERFACE;
        }
    } catch (const std::bad_alloc&) {
        return kE_OUTOFMEMORY;
    }
    return kS_OK;
}

void CVEXOEffect::QueueFlash(uint32_t cycles) {
    QueueFlashCycles(GetParams()->lightSelector, cycles,
                     [this](const EffectParams* step) { QueueStateStep(step); });
}

HRESULT CVEXOEffect::QueueBlink() {
    const EffectParams* params = GetParams();
    if (params->count == 0) {
        QueueDeviceBlink(params);
        return kS_OK;
    }
    return QueueBlinkCycles(*params, [this](const EffectParams* step) { QueueStateStep(step); });
}

void CVEXOEffect::QueueLightsOn() {
    for (uint8_t lightId : vexo::kAllLights) Queue(light::State(lightId, true));
}

void CVEXOEffect::QueueLightsOff() {
    for (uint8_t lightId : vexo::kAllLights) Queue(light::State(lightId, false));
}

void CVEXOEffect::QueueReserved(const EffectParams* /*params*/) {}

void CVEXOEffect::QueueDeviceBlink(const EffectParams* params) {
    Queue(CMORENEffect::DeviceBlinkCommand(*params));
}

void CVEXOEffect::QueueModeParams(const EffectParams* params) {
    const auto lightId = vexo::kModeParamsLights.Find(params->lightSelector);
    if (!lightId) return;
    Queue(light::Mode(*lightId, cmd::kMode2));
    Queue(light::ModeParams(*lightId, params->param1, light::ScalePercent(params->percent),
                            params->param2, params->param3));
}

void CVEXOEffect::QueueStateStep(const EffectParams* params) {
    const auto lightId = vexo::kStateStepLights.Find(params->lightSelector);
    if (lightId) Queue(light::Mode(*lightId, cmd::kMode0));
    const uint8_t target = lightId.value_or(0x00);
    const GUID guid = GetEffectGuid();
    if (GuidEqual(guid, EFFECT_LED_BRIGHTNESS)) {
        Queue(light::Brightness(target, static_cast<uint8_t>(params->level & 0xFFu)));
        return;
    }
    bool on = params->level == light::kLevelOn;
    if (GuidEqual(guid, EFFECT_LED_ON)) on = true;
    if (GuidEqual(guid, EFFECT_LED_OFF)) on = false;
    Queue(light::State(target, on));
    if (params->duration > 0) Queue(CCommandBuffer::Pause(params->duration));
}

void CVEXOEffect::QueueDeviceMode(const EffectParams* params) {
    if (params->deviceMode == cmd::kDeviceMode1) {
        Queue(light::State(vexo::kDeviceModeLight, true));
        Queue(light::DeviceMode(cmd::kDeviceMode1));
    } else {
        Queue(light::DeviceMode(cmd::kDeviceMode2));
    }
}

HRESULT CVEXOEffect::QueryState(const std::wstring& devicePath) {
    const GUID guid = GetEffectGuid();
    if (!GuidEqual(guid, EFFECT_LED_STATE) && !GuidEqual(guid, EFFECT_LED_BRIGHTNESS)) {
        return kE_NOT_SUPPORTED;
    }
    EffectParams* params = GetParams();
    if (params == nullptr) return kE_POINTER;
    return light::QueryLight(guid, vexo::kStateStepLights.FindOrZero(params->lightSelector),
                             devicePath, params);
}

}  // namespace kvsdk
