// Light ids of the VEXO devices, one table per command builder. Device blink uses the shared
// device-blink table (see LightEffect.h).
#pragma once

#include "effects/LightTable.h"

namespace kvsdk::vexo {

// Lighting mode 0 followed by a light state or brightness command, and the light that a state
// or brightness read-back asks for. Without an entry the mode command is left out and the
// state, brightness or read-back goes out with light id 0x00.
inline constexpr LightTable kStateStepLights{{0x01, kNoLight, 0x0B, 0x0A, kNoLight, 0x05, 0x0B},
                                             kNoLight};

// Lighting mode 2 and its parameters.
inline constexpr LightTable kModeParamsLights{
    {kNoLight, kNoLight, 0x0B, kNoLight, kNoLight, 0x05, 0x0B}, kNoLight};

// The lights that the all-lights builders switch, in order.
inline constexpr uint8_t kAllLights[] = {0x01, 0x0A, 0x0B};

// The light switched on before device mode 1 is selected.
inline constexpr uint8_t kDeviceModeLight = 0x0B;

}  // namespace kvsdk::vexo
