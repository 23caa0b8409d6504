// What the two effect families build alike: brightness, the mode-2 parameters, the flash and
// blink sequences, the device's own blinking and the read-back of a light, with their limits.
// A family (CMORENEffect, CVEXOEffect) supplies its light tables, its state step and its own
// effect kinds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "KvSDKEng.h"
#include "common/Win32Types.h"
#include "effects/Effect.h"
#include "effects/LightBuilders.h"
#include "effects/LightTable.h"

namespace kvsdk {

// Largest number of off/on cycles that EFFECT_LED_BLINK queues in one request; a larger count is
// refused with E_INVALIDARG and nothing is queued. Each cycle sends up to six command buffers,
// every one counted against its device's queue bound; the cycle itself is built once.
inline constexpr uint32_t kMaxBlinkCount = 10000;
static_assert(kMaxBlinkCount == 10000, "the limit is part of the public header's contract");

// Pause of each half of a flash cycle, in milliseconds.
inline constexpr uint32_t kFlashHalfCycleMs = 300;

// Device blink, in both families; also the light that a Pell read-back asks for.
inline constexpr LightTable kDeviceBlinkLights{{0x01, kNoLight, 0x0B, 0x0A, kNoLight, 0x05, 0x0B},
                                               kNoLight};

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
// for 'onTime' ms. One cycle is built and 'repeat' receives the count: the worker runs the cycle
// that many times. A count above kMaxBlinkCount is refused with E_INVALIDARG, queueing nothing.
template <class QueueStep>
HRESULT QueueBlinkCycle(const EffectParams& host, uint32_t& repeat, QueueStep&& queueStep) {
    const uint32_t count = host.count;
    if (count > kMaxBlinkCount) return kE_INVALIDARG;
    repeat = count;
    if (count == 0) return kS_OK;
    EffectParams step = MakeStepRecord(host.lightSelector);
    step.level = 0;
    step.duration = host.offTime;
    queueStep(&step);
    step.level = light::kLevelOn;
    step.duration = host.onTime;
    queueStep(&step);
    return kS_OK;
}

class LightEffect : public CEffect {
  public:
    // Builds brightness, the mode-2 parameters, the state kind (nothing to send), the flashes
    // and the blink here, any other kind through BuildOwnKind. A kind the family does not build
    // answers E_NOINTERFACE.
    HRESULT Build() override;
    // Reads the state or brightness of the light in the family's read-back table.
    HRESULT QueryState(const std::wstring& devicePath) override;

    // Lighting mode 0 (when the selector has a light), then a light state and a pause of
    // 'duration' ms when non-zero, or for the brightness kind the low 8 bits of 'level'.
    virtual void QueueStateStep(const EffectParams* params) = 0;
    // Lighting mode 2 and the mode-2 parameters, for the selectors that have them.
    virtual void QueueModeParams(const EffectParams* params);
    // The device's own blinking, only when 'count' is 0.
    virtual void QueueDeviceBlink(const EffectParams* params);

    // The device-blink command for a record, or null when it queues nothing (count not 0, or a
    // selector without a blink light).
    static std::unique_ptr<CCommandBuffer> DeviceBlinkCommand(const EffectParams& params);

  protected:
    LightEffect(GUID effectGuid, EffectParams* pParams, const LightTable& modeParamsLights,
                const LightTable& readBackLights)
        : CEffect(effectGuid, pParams),
          m_modeParamsLights(modeParamsLights),
          m_readBackLights(readBackLights) {}

    // Builds one of the family's own kinds; false for a kind the family does not build.
    virtual bool BuildOwnKind(const GUID& effectGuid, EffectParams* params) = 0;

  private:
    void QueueFlash(uint32_t cycles);
    HRESULT QueueBlink();

    const LightTable& m_modeParamsLights;
    const LightTable& m_readBackLights;
};

}  // namespace kvsdk
