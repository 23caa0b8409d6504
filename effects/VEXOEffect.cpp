#include "effects/VEXOEffect.h"

#include "common/Win32Types.h"
#include "effects/LightBuilders.h"
#include "effects/LightCommands.h"
#include "effects/VEXOLightTables.h"

namespace kvsdk {

CVEXOEffect::CVEXOEffect(GUID effectGuid, EffectParams* pParams)
    : LightEffect(effectGuid, pParams, vexo::kModeParamsLights, vexo::kStateStepLights) {}

bool CVEXOEffect::BuildOwnKind(const GUID& guid, EffectParams* params) {
    if (GuidEqual(guid, EFFECT_LED_ON) || GuidEqual(guid, EFFECT_LED_OFF)) {
        QueueStateStep(params);
    } else if (GuidEqual(guid, EFFECT_VEXO_MODE_A) || GuidEqual(guid, EFFECT_VEXO_MODE_B)) {
        QueueDeviceMode(params);
    } else {
        return false;
    }
    return true;
}

void CVEXOEffect::QueueLightsOn() {
    for (uint8_t lightId : vexo::kAllLights) Queue(light::State(lightId, true));
}

void CVEXOEffect::QueueLightsOff() {
    for (uint8_t lightId : vexo::kAllLights) Queue(light::State(lightId, false));
}

void CVEXOEffect::QueueReserved(const EffectParams* /*params*/) {}

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

}  // namespace kvsdk
