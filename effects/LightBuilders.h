// Command payloads shared by the effect families, the scaling of host values, and the read-back
// of a light's state or brightness from a device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "KvSDKEng.h"
#include "effects/Effect.h"

namespace kvsdk::light {

// Host percentages scaled for the device; the division truncates. A value above 100 counts as
// 100, so the result never leaves the device's range (0..255, 0..65535).
inline constexpr uint32_t kPercentMax = 100;
constexpr uint32_t ScaleLevel(uint32_t percent) {
    return (percent < kPercentMax ? percent : kPercentMax) * 255u / kPercentMax;
}
constexpr uint32_t ScalePercent(uint32_t percent) {
    return (percent < kPercentMax ? percent : kPercentMax) * 65535u / kPercentMax;
}

// The host's "fully on" level of a state step.
inline constexpr uint32_t kLevelOn = 100;

std::unique_ptr<CCommandBuffer> State(uint8_t lightId, bool on);
std::unique_ptr<CCommandBuffer> Color(uint8_t lightId, uint8_t red, uint8_t green, uint8_t blue);
std::unique_ptr<CCommandBuffer> Mode(uint8_t lightId, uint8_t mode);
std::unique_ptr<CCommandBuffer> Brightness(uint8_t lightId, uint8_t value);
// Only the low 8 bits of each time are sent.
std::unique_ptr<CCommandBuffer> Blink(uint8_t lightId, uint32_t offTime, uint32_t onTime);
// Only the low 16 bits of each value are sent, high byte first; 'scaledPercent' is already
// scaled (ScalePercent).
std::unique_ptr<CCommandBuffer> ModeParams(uint8_t lightId, uint32_t param1, uint32_t scaledPercent,
                                           uint32_t param2, uint32_t param3);
std::unique_ptr<CCommandBuffer> DeviceMode(uint8_t mode);

// Reads a light's state (EFFECT_LED_STATE) or brightness (EFFECT_LED_BRIGHTNESS) from the device
// at 'devicePath' through a device-I/O object of its own, and stores it in 'params->level':
// state 1 gives 100, 0 gives 0, other answers leave it; brightness 0..255 becomes 0..100.
// Other kinds: KVSDK_E_NOT_SUPPORTED without device I/O. When the device cannot be opened or
// read, both kinds answer KVSDK_E_NOT_SUPPORTED and 'level' is left as it was.
HRESULT QueryLight(const GUID& effectGuid, uint8_t lightId, const std::wstring& devicePath,
                   EffectParams* params);

}  // namespace kvsdk::light
