// The effect family of the VEXO devices (0E51, 0E52): turns an effect request into light
// commands, device-mode commands and pauses, and reads a light's state or brightness back.
#pragma once

#include <string>

#include "KvSDKEng.h"
#include "effects/Effect.h"

namespace kvsdk {

class CVEXOEffect : public CEffect {
  public:
    CVEXOEffect(GUID effectGuid, EffectParams* pParams) : CEffect(effectGuid, pParams) {}

    HRESULT QueryState(const std::wstring& devicePath) override;
    HRESULT Build() override;

    // Light-state commands (on, or off) for every light of the device. Not used by Build.
    virtual void QueueLightsOn();
    virtual void QueueLightsOff();
    // Queues nothing.
    virtual void QueueReserved(const EffectParams* params);
    // The device's own blinking, only when 'count' is 0 (the Pell builder).
    virtual void QueueDeviceBlink(const EffectParams* params);
    // Lighting mode 2 and the mode-2 parameters, for the selectors that have them.
    virtual void QueueModeParams(const EffectParams* params);
    // Lighting mode 0 (when the selector has a light), then a light state and a pause of
    // 'duration' ms when non-zero, or for the brightness kind the low 8 bits of 'level'.
    virtual void QueueStateStep(const EffectParams* params);

    // Device mode 1 (light 0x0B on first) when 'deviceMode' is 1, device mode 2 otherwise.
    void QueueDeviceMode(const EffectParams* params);

  private:
    void QueueFlash(uint32_t cycles);
    HRESULT QueueBlink();
};

}  // namespace kvsdk
