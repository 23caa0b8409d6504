// The effect base: what every effect has (its kind, the host's record, its command list) and the
// operations through which the engine drives it. The effect families derive from CEffect.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "KvSDKEng.h"
#include "common/List.h"

namespace kvsdk {

// One command buffer of an effect, framed as the effect worker reads it:
//   payload command: 32-bit little-endian length n (n >= 1), then n payload bytes;
//   pause:           32-bit 0, then a 32-bit count of milliseconds;
//   block:           a whole 28-byte record block, for devices that take commands that way.
// The bytes are owned by the buffer; nothing is ever read past its end.
class CCommandBuffer {
  public:
    static constexpr uint32_t kBlockSize = 28;

    static std::unique_ptr<CCommandBuffer> Payload(const uint8_t* bytes, uint32_t length);
    static std::unique_ptr<CCommandBuffer> Payload(std::initializer_list<uint8_t> bytes);
    static std::unique_ptr<CCommandBuffer> Pause(uint32_t milliseconds);
    static std::unique_ptr<CCommandBuffer> Block(const uint8_t* bytes28);

    const uint8_t* Data() const { return m_heap ? m_heap.get() : m_inline.data(); }
    uint32_t Size() const { return m_size; }

    // Framing as the worker reads it. Each answers false when the buffer is too short to be
    // read that way (a bad length word never reaches beyond the buffer).
    bool ReadLengthWord(uint32_t& length) const;
    bool IsPause(uint32_t& milliseconds) const;
    bool GetPayload(const uint8_t*& payload, uint32_t& length) const;

  private:
    // Every command the families build (a framed payload, a pause, a block) fits in the buffer
    // itself; only a longer one takes bytes of its own.
    static constexpr uint32_t kInlineSize = sizeof(uint32_t) + kBlockSize;

    explicit CCommandBuffer(uint32_t size);
    uint8_t* Bytes() { return m_heap ? m_heap.get() : m_inline.data(); }

    uint32_t m_size;
    std::array<uint8_t, kInlineSize> m_inline{};
    std::unique_ptr<uint8_t[]> m_heap;
};

using CCommandList = CList<CCommandBuffer>;

class CEffect {
  public:
    CEffect(GUID effectGuid, EffectParams* pParams);
    virtual ~CEffect();
    CEffect(const CEffect&) = delete;
    CEffect& operator=(const CEffect&) = delete;

    // Reads the current state for the effect kind from the device at 'devicePath' into the
    // record. Base: E_NOTIMPL.
    virtual HRESULT QueryState(const std::wstring& devicePath);
    // Appends the effect's command buffers to the command list. Base: E_NOTIMPL. Memory running
    // out is not an answer of its own: it throws std::bad_alloc, which KvSDKSetEffect answers
    // with E_OUTOFMEMORY for the device.
    virtual HRESULT Build();
    virtual GUID GetEffectGuid() const { return m_effectGuid; }
    virtual EffectParams* GetParams() const { return m_params; }
    virtual CCommandList* GetCommands() { return &m_commands; }

    // How many times the worker runs the whole command list, one pass after the other. A long
    // repeated sequence (a counted blink) is built as one pass and a count, so building it costs
    // the same whatever the count; the device receives exactly what the passes spelt out would
    // send.
    uint32_t GetRepeat() const { return m_repeat; }
    // The buffers the worker takes, every pass counted: what the effect weighs in its queue.
    size_t GetSendCount() const { return m_commands.GetCount() * m_repeat; }

  protected:
    void Queue(std::unique_ptr<CCommandBuffer> buffer);
    void SetRepeat(uint32_t times) { m_repeat = times; }

  private:
    GUID m_effectGuid;
    EffectParams* m_params;  // the host's record; not owned
    CCommandList m_commands;
    uint32_t m_repeat = 1;
};

}  // namespace kvsdk
