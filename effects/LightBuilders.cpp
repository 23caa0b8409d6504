#include "effects/LightBuilders.h"

#include "KvSDKMod.h"
#include "common/Win32Types.h"
#include "effects/LightCommands.h"

namespace kvsdk::light {

namespace {

uint8_t Low8(uint32_t value) {
    return static_cast<uint8_t>(value & 0xFFu);
}
uint8_t High8Of16(uint32_t value) {
    return static_cast<uint8_t>((value >> 8) & 0xFFu);
}

}  // namespace

std::unique_ptr<CCommandBuffer> State(uint8_t lightId, bool on) {
    return CCommandBuffer::Payload({cmd::kLightState, cmd::kClassLight, cmd::kStorageLive, lightId,
                                    on ? cmd::kStateOn : cmd::kStateOff});
}

std::unique_ptr<CCommandBuffer> Color(uint8_t lightId, uint8_t red, uint8_t green, uint8_t blue) {
    return CCommandBuffer::Payload(
        {cmd::kLightColor, cmd::kClassLight, cmd::kStorageLive, lightId, red, green, blue});
}

std::unique_ptr<CCommandBuffer> Mode(uint8_t lightId, uint8_t mode) {
    return CCommandBuffer::Payload(
        {cmd::kLightMode, cmd::kClassLight, cmd::kStorageLive, lightId, mode});
}

std::unique_ptr<CCommandBuffer> Brightness(uint8_t lightId, uint8_t value) {
    return CCommandBuffer::Payload(
        {cmd::kLightBrightness, cmd::kClassLight, cmd::kStorageLive, lightId, value});
}

std::unique_ptr<CCommandBuffer> Blink(uint8_t lightId, uint32_t offTime, uint32_t onTime) {
    return CCommandBuffer::Payload({cmd::kLightBlink, cmd::kClassLight, cmd::kStorageLive, lightId,
                                    Low8(offTime), Low8(onTime)});
}

std::unique_ptr<CCommandBuffer> ModeParams(uint8_t lightId, uint32_t param1, uint32_t scaledPercent,
                                           uint32_t param2, uint32_t param3) {
    return CCommandBuffer::Payload(
        {cmd::kLightModeParams, cmd::kClassLight, cmd::kStorageLive, lightId, High8Of16(param1),
         Low8(param1), High8Of16(scaledPercent), Low8(scaledPercent), High8Of16(param2),
         Low8(param2), High8Of16(param3), Low8(param3)});
}

std::unique_ptr<CCommandBuffer> DeviceMode(uint8_t mode) {
    return CCommandBuffer::Payload(
        {cmd::kDeviceMode, cmd::kClassDevice, mode, cmd::kDeviceModeTail});
}

HRESULT QueryLight(const GUID& effectGuid, uint8_t lightId, const std::wstring& devicePath,
                   EffectParams* params) {
    const bool isState = GuidEqual(effectGuid, EFFECT_LED_STATE);
    const bool isBrightness = GuidEqual(effectGuid, EFFECT_LED_BRIGHTNESS);
    if (!isState && !isBrightness) return kE_NOT_SUPPORTED;
    if (params == nullptr) return kE_POINTER;

    // What a failed read answers: the value cannot be told, and 'level' stays as it was.
    const HRESULT unread = kE_NOT_SUPPORTED;

    uint8_t exchange[cmd::kExchangeLength] = {isState ? cmd::kLightState : cmd::kLightBrightness,
                                              cmd::kClassLight, cmd::kStorageLive, lightId, 0x00};
    try {
        CKvDeviceIO deviceIO;
        if (Failed(deviceIO.Init(devicePath.c_str()))) return unread;
        uint32_t length = cmd::kExchangeLength;
        if (Failed(deviceIO.Get(exchange, &length))) return unread;
    } catch (...) {
        return unread;
    }

    const uint8_t answer = exchange[cmd::kExchangeLength - 1];
    if (isState) {
        if (answer == cmd::kStateOn) {
            params->level = kLevelOn;
        } else if (answer == cmd::kStateOff) {
            params->level = 0;
        }
    } else {
        params->level = static_cast<uint32_t>(answer) * kLevelOn / 255u;
    }
    return kS_OK;
}

}  // namespace kvsdk::light
