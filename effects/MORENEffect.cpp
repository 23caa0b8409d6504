#include "effects/MORENEffect.h"

#include <cstring>
#include <new>

#include "Win32Types.h"
#include "effects/LightBuilders.h"
#include "effects/LightCommands.h"
#include "effects/MORENLightTables.h"

namespace kvsdk {

namespace {

// The step record's own size: header, selector, level and duration.
constexpr uint32_t kStepRecordSize = 32;

struct ModeEntry {
    GUID modeGuid;
    uint8_t mode;
};

// Looked up in this order; the all-zero GUID closes the table.
constexpr ModeEntry kLightModes[] = {
    {EFFECT_LED_MODE_0, cmd::kMode0},
    {EFFECT_LED_MODE_2, cmd::kMode2},
    {EFFECT_LED_MODE_4, cmd::kMode4},
    {EFFECT_LED_MODE_1, cmd::kMode1},
    {kGuidNull, 0},
};

bool IsFlashOrBlink(const GUID& guid) {
    return GuidEqual(guid, EFFECT_LED_FLASH_1) || GuidEqual(guid, EFFECT_LED_FLASH_2) ||
           GuidEqual(guid, EFFECT_LED_FLASH_3) || GuidEqual(guid, EFFECT_LED_BLINK);
}

}  // namespace

EffectParams MakeStepRecord(uint32_t lightSelector) {
    EffectParams step{};
    step.size = kStepRecordSize;
    step.lightSelector = lightSelector;
    return step;
}

HRESULT CMORENEffect::Build() {
    EffectParams* params = GetParams();
    if (params == nullptr) return kE_POINTER;
    const GUID guid = GetEffectGuid();
    try {
        if (GuidEqual(guid, EFFECT_LED_ON) || GuidEqual(guid, EFFECT_LED_OFF)) {
            QueueOnOff(params);
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
        } else if (GuidEqual(guid, EFFECT_LED_COLOR)) {
            if (GuidEqual(params->productGuid, PRODUCT_PELL_USB_0E5B)) {
                QueueWholeRecord(params);
            } else if (GuidEqual(params->productGuid, PRODUCT_PELL_MOUSE_0E59) ||
                       GuidEqual(params->productGuid, PRODUCT_PELL_KEYBOARD_0E5A)) {
                QueueColor(params);
            }
        } else if (GuidEqual(guid, EFFECT_LED_MODE_0) || GuidEqual(guid, EFFECT_LED_MODE_4) ||
                   GuidEqual(guid, EFFECT_LED_MODE_2) || GuidEqual(guid, EFFECT_LED_MODE_1)) {
            if (GuidEqual(params->productGuid, PRODUCT_PELL_KEYBOARD_0E5A)) QueueLightMode(params);
        } else {
            return kE_NOINTERFACE;
        }
    } catch (const std::bad_alloc&) {
        return kE_OUTOFMEMORY;
    }
    return kS_OK;
}

void CMORENEffect::QueueFlash(uint32_t cycles) {
    QueueFlashCycles(GetParams()->lightSelector, cycles,
                     [this](const EffectParams* step) { QueueStateStep(step); });
}

HRESULT CMORENEffect::QueueBlink() {
    const EffectParams* params = GetParams();
    if (params->count == 0) {
        QueueDeviceBlink(params);
        return kS_OK;
    }
    return QueueBlinkCycles(*params, [this](const EffectParams* step) { QueueStateStep(step); });
}

void CMORENEffect::QueueOnOff(const EffectParams* params) {
    const uint8_t lightId = static_cast<uint8_t>(params->lightSelector & 0xFFu);
    Queue(light::State(lightId, GuidEqual(GetEffectGuid(), EFFECT_LED_ON)));
}

void CMORENEffect::QueueStateStep(const EffectParams* params) {
    const auto lightId = moren::kStateStepLights.Find(params->lightSelector);
    if (lightId) Queue(light::Mode(*lightId, cmd::kMode0));
    const uint8_t target = lightId.value_or(0x00);
    if (GuidEqual(GetEffectGuid(), EFFECT_LED_BRIGHTNESS)) {
        Queue(light::Brightness(target, static_cast<uint8_t>(params->level & 0xFFu)));
        return;
    }
    if (IsFlashOrBlink(GetEffectGuid()) || GuidEqual(GetEffectGuid(), EFFECT_LED_ON) ||
        GuidEqual(GetEffectGuid(), EFFECT_LED_OFF)) {
        Queue(light::State(target, params->level == light::kLevelOn));
        if (params->duration > 0) Queue(CCommandBuffer::Pause(params->duration));
    }
}

void CMORENEffect::QueueModeParams(const EffectParams* params) {
    const auto lightId = moren::kModeParamsLights.Find(params->lightSelector);
    if (!lightId) return;
    Queue(light::Mode(*lightId, cmd::kMode2));
    Queue(light::ModeParams(*lightId, params->param1, light::ScalePercent(params->percent),
                            params->param2, params->param3));
}

std::unique_ptr<CCommandBuffer> CMORENEffect::DeviceBlinkCommand(const EffectParams& params) {
    if (params.count != 0) return nullptr;
    const auto lightId = moren::kDeviceBlinkLights.Find(params.lightSelector);
    if (!lightId) return nullptr;
    return light::Blink(*lightId, params.offTime, params.onTime);
}

void CMORENEffect::QueueDeviceBlink(const EffectParams* params) {
    Queue(DeviceBlinkCommand(*params));
}

void CMORENEffect::QueueColor(const EffectParams* params) {
    Queue(light::Color(moren::kColorLights.FindOrZero(params->lightSelector), params->red,
                       params->green, params->blue));
}

void CMORENEffect::QueueWholeRecord(const EffectParams* params) {
    uint8_t block[CCommandBuffer::kBlockSize];
    std::memcpy(block, params, sizeof(block));
    try {
        Queue(CCommandBuffer::Block(block));
    } catch (const std::bad_alloc&) {
        // Nothing is queued for a block that cannot be allocated; the request still succeeds.
    }
}

void CMORENEffect::QueueLightMode(const EffectParams* params) {
    for (const ModeEntry& entry : kLightModes) {
        if (GuidEqual(entry.modeGuid, kGuidNull)) return;
        if (!GuidEqual(entry.modeGuid, params->modeGuid)) continue;
        const auto lightId = moren::kLightModeLights.Find(params->lightSelector);
        if (lightId) Queue(light::Mode(*lightId, entry.mode));
        return;
    }
}

HRESULT CMORENEffect::QueryState(const std::wstring& devicePath) {
    const GUID guid = GetEffectGuid();
    if (!GuidEqual(guid, EFFECT_LED_STATE) && !GuidEqual(guid, EFFECT_LED_BRIGHTNESS)) {
        return kE_NOT_SUPPORTED;
    }
    EffectParams* params = GetParams();
    if (params == nullptr) return kE_POINTER;
    return light::QueryLight(guid, moren::kDeviceBlinkLights.FindOrZero(params->lightSelector),
                             devicePath, params);
}

}  // namespace kvsdk
