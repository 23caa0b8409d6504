// The effect family of the Pell devices (0E59 mouse, 0E5A keyboard, 0E5B USB device): turns an
// effect request into light commands and pauses, and reads a light's state or brightness back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "KvSDKEng.h"
#include "Win32Types.h"
#include "effects/Effect.h"
#include "effects/LightBuilders.h"

namespace kvsdk {

// Largest number of off/on cycles that EFFECT_LED_BLINK queues in one request; a larger count is
// refused with E_INVALIDARG and nothing is queued. Each cycle takes up to six command buffers.
inline constexpr uint32_t kMaxBlinkCount = 10000;
static_assert(kMaxBlinkCount == 10000, "the limit is part of the public header's contract");

// Pause of each half of a flash cycle, in milliseconds.
inline constexpr uint32_t kFlashHalfCycleMs = 300;

// A record that a family builds for its own state steps: the host's light selector, the level
// (100 on, 0 off) and the pause that follows. It carries its own size.
EffectParams MakeStepRecord(uint32_t lightSelector);

// Flash cycles: 'cycles' times a step off then a step on, each followed by a 300 ms pause,
// handed to the family's state-step builder.
template <class QueueStep>
void QueueFlashCycles(uint32_t lightSelector, uint32_t cycles, QueueStep&& queueStep) {
    EffectParams step = MakeStepRecord(lightSelector);
    for (uint32_t i = 0; i < cycles; ++i) {
        step.level = 0;
        step.duration = kFlashHalfCycleMs;
        queueStep(&step);
        step.level = light::kLevelOn;
        step.duration = kFlashHalfCycleMs;
        queueStep(&step);
    }
}

// A counted blink of the host's record: 'count' times a step off for 'offTime' ms and a step on
// for 'onTime' ms. A count above kMaxBlinkCount is refused with E_INVALIDARG, queueing nothing.
template <class QueueStep>
HRESULT QueueBlinkCycles(const EffectParams& host, QueueStep&& queueStep) {
    if (host.count > kMaxBlinkCount) return kE_INVALIDARG;
    EffectParams step = MakeStepRecord(host.lightSelector);
    // The count and the times are taken from the host's record on every pass.
    for (uint32_t i = 0; i < host.count && i < kMaxBlinkCount; ++i) {
        step.level = 0;
        step.duration = host.offTime;
        queueStep(&step);
        step.level = light::kLevelOn;
        step.duration = host.onTime;
        queueStep(&step);
    }
    return kS_OK;
}

class CMORENEffect : public CEffect {
  public:
    CMORENEffect(GUID effectGuid, EffectParams* pParams) : CEffect(effectGuid, pParams) {}

    HRESULT QueryState(const std::wstring& devicePath) override;
    HRESULT Build() override;

    // The builders. Each appends to the command list and reads only the fields of its kind.
    // On/off: one light-state command for the light id = low 8 bits of the selector.
    void QueueOnOff(const EffectParams* params);
    // Lighting mode 0 (when the selector has a light), then a light state (level 100 on,
    // otherwise off) and a pause of 'duration' ms when non-zero, or for the brightness kind the
    // low 8 bits of 'level' as brightness.
    void QueueStateStep(const EffectParams* params);
    // Lighting mode 2 and the mode-2 parameters, for the selectors that have them.
    void QueueModeParams(const EffectParams* params);
    // The device's own blinking, only when 'count' is 0.
    void QueueDeviceBlink(const EffectParams* params);
    // One light-colour command.
    void QueueColor(const EffectParams* params);
    // The record's first 28 bytes as one block, copied now.
    void QueueWholeRecord(const EffectParams* params);
    // The lighting mode named by 'modeGuid', keyboard light only.
    void QueueLightMode(const EffectParams* params);

    // The device-blink command for a record, or null when it queues nothing (count not 0, or a
    // selector without a blink light). Shared with the VEXO family.
    static std::unique_ptr<CCommandBuffer> DeviceBlinkCommand(const EffectParams& params);

  private:
    void QueueFlash(uint32_t cycles);
    HRESULT QueueBlink();
};

}  // namespace kvsdk
