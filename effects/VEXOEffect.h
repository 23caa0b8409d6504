// The effect family of the VEXO devices (0E51, 0E52): its light tables, its state step and its
// own kinds (on/off, device modes). What both families build alike is in LightEffect.
#pragma once

#include "KvSDKEng.h"
#include "effects/LightEffect.h"

namespace kvsdk {

class CVEXOEffect : public LightEffect {
  public:
    CVEXOEffect(GUID effectGuid, EffectParams* pParams);

    // Light-state commands (on, or off) for every light of the device. Not used by Build.
    virtual void QueueLightsOn();
    virtual void QueueLightsOff();
    // Queues nothing.
    virtual void QueueReserved(const EffectParams* params);
    // The state step is sent for every kind but brightness; on/off force the state.
    void QueueStateStep(const EffectParams* params) override;

    // Device mode 1 (light 0x0B on first) when 'deviceMode' is 1, device mode 2 otherwise.
    void QueueDeviceMode(const EffectParams* params);

  protected:
    bool BuildOwnKind(const GUID& effectGuid, EffectParams* params) override;
};

}  // namespace kvsdk
