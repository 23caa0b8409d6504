#include "effects/MORENEffect.h"

#include <cstring>

#include "catalogue/Products.h"
#include "common/Win32Types.h"
#include "effects/LightBuilders.h"
#include "effects/LightCommands.h"
#include "effects/MORENLightTables.h"

namespace kvsdk {

namespace {

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

CMORENEffect::CMORENEffect(GUID effectGuid, EffectParams* pParams)
    : LightEffect(effectGuid, pParams, moren::kModeParamsLights, kDeviceBlinkLights) {}

bool CMORENEffect::BuildOwnKind(const GUID& guid, EffectParams* params) {
    if (GuidEqual(guid, EFFECT_LED_ON) || GuidEqual(guid, EFFECT_LED_OFF)) {
        QueueOnOff(params);
    } else if (GuidEqual(guid, EFFECT_LED_COLOR)) {
        // The product the record names says how its colour is sent; a family gets none.
        const Product* product = FindProduct(params->productGuid);
        const ColorForm form = product != nullptr ? product->color : ColorForm::None;
        if (form == ColorForm::Block) {
            QueueWholeRecord(params);
        } else if (form == ColorForm::Command) {
            QueueColor(params);
        }
    } else if (GuidEqual(guid, EFFECT_LED_MODE_0) || GuidEqual(guid, EFFECT_LED_MODE_4) ||
               GuidEqual(guid, EFFECT_LED_MODE_2) || GuidEqual(guid, EFFECT_LED_MODE_1)) {
        const Product* product = FindProduct(params->productGuid);
        if (product != nullptr && product->lightingModes) QueueLightMode(params);
    } else {
        return false;
    }
    return true;
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

void CMORENEffect::QueueColor(const EffectParams* params) {
    Queue(light::Color(moren::kColorLights.FindOrZero(params->lightSelector), params->red,
                       params->green, params->blue));
}

void CMORENEffect::QueueWholeRecord(const EffectParams* params) {
    uint8_t block[CCommandBuffer::kBlockSize];
    std::memcpy(block, params, sizeof(block));
    Queue(CCommandBuffer::Block(block));
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

}  // namespace kvsdk
