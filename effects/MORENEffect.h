// The effect family of the Pell devices (0E59 mouse, 0E5A keyboard, 0E5B USB device): its light
// tables, its state step and its own kinds (on/off, colour, lighting modes). What both families
// build alike is in LightEffect.
#pragma once

#include "KvSDKEng.h"
#include "effects/LightEffect.h"

namespace kvsdk {

class CMORENEffect : public LightEffect {
  public:
    CMORENEffect(GUID effectGuid, EffectParams* pParams);

    // The builders. Each appends to the command list and reads only the fields of its kind.
    // On/off: one light-state command for the light id = low 8 bits of the selector.
    void QueueOnOff(const EffectParams* params);
    // The state step (level 100 on, otherwise off) is sent for the flash, blink and on/off kinds.
    void QueueStateStep(const EffectParams* params) override;
    // One light-colour command.
    void QueueColor(const EffectParams* params);
    // The record's first 28 bytes as one block, copied now.
    void QueueWholeRecord(const EffectParams* params);
    // The lighting mode named by 'modeGuid', keyboard light only.
    void QueueLightMode(const EffectParams* params);

  protected:
    bool BuildOwnKind(const GUID& effectGuid, EffectParams* params) override;
};

}  // namespace kvsdk
