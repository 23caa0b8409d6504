#include "effects/Effect.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "common/Win32Types.h"

namespace kvsdk {

namespace {

void PutWord(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value & 0xFF);
    bytes[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
    bytes[2] = static_cast<uint8_t>((value >> 16) & 0xFF);
    bytes[3] = static_cast<uint8_t>((value >> 24) & 0xFF);
}

uint32_t GetWord(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

}  // namespace

CCommandBuffer::CCommandBuffer(uint32_t size) : m_size(size) {
    if (size > kInlineSize) m_heap = std::make_unique<uint8_t[]>(size);
}

std::unique_ptr<CCommandBuffer> CCommandBuffer::Payload(const uint8_t* bytes, uint32_t length) {
    // The length word and the bytes must fit in one 32-bit size.
    if (length > UINT32_MAX - sizeof(uint32_t)) throw std::bad_alloc();
    std::unique_ptr<CCommandBuffer> buffer(
        new CCommandBuffer(static_cast<uint32_t>(sizeof(uint32_t)) + length));
    PutWord(buffer->Bytes(), length);
    if (length > 0) std::memcpy(buffer->Bytes() + sizeof(uint32_t), bytes, length);
    return buffer;
}

std::unique_ptr<CCommandBuffer> CCommandBuffer::Payload(std::initializer_list<uint8_t> bytes) {
    return Payload(bytes.begin(), static_cast<uint32_t>(bytes.size()));
}

std::unique_ptr<CCommandBuffer> CCommandBuffer::Pause(uint32_t milliseconds) {
    std::unique_ptr<CCommandBuffer> buffer(new CCommandBuffer(2 * sizeof(uint32_t)));
    PutWord(buffer->Bytes(), 0);
    PutWord(buffer->Bytes() + sizeof(uint32_t), milliseconds);
    return buffer;
}

std::unique_ptr<CCommandBuffer> CCommandBuffer::Block(const uint8_t* bytes28) {
    std::unique_ptr<CCommandBuffer> buffer(new CCommandBuffer(kBlockSize));
    std::memcpy(buffer->Bytes(), bytes28, kBlockSize);
    return buffer;
}

bool CCommandBuffer::ReadLengthWord(uint32_t& length) const {
    if (m_size < sizeof(uint32_t)) return false;
    length = GetWord(Data());
    return true;
}

bool CCommandBuffer::IsPause(uint32_t& milliseconds) const {
    uint32_t length = 0;
    if (!ReadLengthWord(length) || length != 0) return false;
    if (m_size < 2 * sizeof(uint32_t)) return false;
    milliseconds = GetWord(Data() + sizeof(uint32_t));
    return true;
}

bool CCommandBuffer::GetPayload(const uint8_t*& payload, uint32_t& length) const {
    uint32_t declared = 0;
    if (!ReadLengthWord(declared) || declared == 0) return false;
    // A length word never reaches past the bytes actually held.
    if (declared > m_size - sizeof(uint32_t)) return false;
    payload = Data() + sizeof(uint32_t);
    length = declared;
    return true;
}

CEffect::CEffect(GUID effectGuid, EffectParams* pParams)
    : m_effectGuid(effectGuid), m_params(pParams) {}

CEffect::~CEffect() = default;

HRESULT CEffect::QueryState(const std::wstring& /*devicePath*/) {
    return kE_NOTIMPL;
}

HRESULT CEffect::Build() {
    return kE_NOTIMPL;
}

void CEffect::Queue(std::unique_ptr<CCommandBuffer> buffer) {
    if (buffer) m_commands.AddTail(std::move(buffer));
}

}  // namespace kvsdk
