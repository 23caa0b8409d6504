// The sixteen effect kinds KvSDKSetEffect accepts, in the order it tests them, each with the
// name the kvsdk tool gives it. Data and lookups only, like the product catalogue beside it.
#pragma once

#include <array>
#include <cstddef>

#include "KvSDKEng.h"
#include "common/Win32Types.h"

namespace kvsdk {

enum class EffectKind {
    On,
    Off,
    Brightness,
    Mode2Params,
    State,
    Flash1,
    Flash2,
    Flash3,
    Blink,
    Mode0,
    Mode1,
    Mode2,
    Mode4,
    VexoModeA,
    VexoModeB,
    Color,
};

struct EffectKindInfo {
    EffectKind kind;
    const GUID* guid;  // &EFFECT_LED_FLASH_2
    const char* key;   // the kvsdk tool's name: "flash_2"
};

inline constexpr std::array kEffectKinds{
    EffectKindInfo{EffectKind::On, &EFFECT_LED_ON, "on"},
    EffectKindInfo{EffectKind::Off, &EFFECT_LED_OFF, "off"},
    EffectKindInfo{EffectKind::Brightness, &EFFECT_LED_BRIGHTNESS, "brightness"},
    EffectKindInfo{EffectKind::Mode2Params, &EFFECT_LED_MODE_2_PARAMS, "mode_2_params"},
    EffectKindInfo{EffectKind::State, &EFFECT_LED_STATE, "state"},
    EffectKindInfo{EffectKind::Flash1, &EFFECT_LED_FLASH_1, "flash_1"},
    EffectKindInfo{EffectKind::Flash2, &EFFECT_LED_FLASH_2, "flash_2"},
    EffectKindInfo{EffectKind::Flash3, &EFFECT_LED_FLASH_3, "flash_3"},
    EffectKindInfo{EffectKind::Blink, &EFFECT_LED_BLINK, "blink"},
    EffectKindInfo{EffectKind::Mode0, &EFFECT_LED_MODE_0, "mode_0"},
    EffectKindInfo{EffectKind::Mode1, &EFFECT_LED_MODE_1, "mode_1"},
    EffectKindInfo{EffectKind::Mode2, &EFFECT_LED_MODE_2, "mode_2"},
    EffectKindInfo{EffectKind::Mode4, &EFFECT_LED_MODE_4, "mode_4"},
    EffectKindInfo{EffectKind::VexoModeA, &EFFECT_VEXO_MODE_A, "vexo_mode_a"},
    EffectKindInfo{EffectKind::VexoModeB, &EFFECT_VEXO_MODE_B, "vexo_mode_b"},
    EffectKindInfo{EffectKind::Color, &EFFECT_LED_COLOR, "color"},
};

// Every kind has its row, in the order of the enumeration.
static_assert([] {
    for (size_t i = 0; i < kEffectKinds.size(); ++i) {
        if (kEffectKinds[i].kind != static_cast<EffectKind>(i)) return false;
    }
    return kEffectKinds.size() == static_cast<size_t>(EffectKind::Color) + 1;
}());

constexpr const EffectKindInfo& InfoOf(EffectKind kind) {
    return kEffectKinds[static_cast<size_t>(kind)];
}

// The row of an effect GUID, or null for a GUID that is no accepted kind.
inline const EffectKindInfo* FindEffectKind(const GUID& guid) {
    for (const EffectKindInfo& info : kEffectKinds) {
        if (GuidEqual(guid, *info.guid)) return &info;
    }
    return nullptr;
}

}  // namespace kvsdk
