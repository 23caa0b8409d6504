// Light ids of the Pell devices, one table per command builder. Device blink and read-back use
// the shared device-blink table (see LightEffect.h).
#pragma once

#include "effects/LightTable.h"

namespace kvsdk::moren {

// Lighting mode 0 followed by a light state or brightness command. Without an entry the mode
// command is left out and the state or brightness command goes out with light id 0x00.
inline constexpr LightTable kStateStepLights{{0x01, kNoLight, 0x03, 0x04, kNoLight, 0x05, 0x0B},
                                             kNoLight};

// Lighting mode 2 and its parameters.
inline constexpr LightTable kModeParamsLights{
    {0x01, kNoLight, kNoLight, kNoLight, kNoLight, 0x05, 0x0B}, kNoLight};

// Light colour: always sent, with light id 0x00 for the selectors without a light of their own.
inline constexpr LightTable kColorLights{{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B}, 0x00};

// The lighting-mode kinds (keyboard only).
inline constexpr LightTable kLightModeLights{
    {kNoLight, kNoLight, kNoLight, kNoLight, kNoLight, kNoLight, 0x0B}, kNoLight};

}  // namespace kvsdk::moren
