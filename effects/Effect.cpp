#include "effects/Effect.h"

#include <cstring>

#include "common/Win32Types.h"

namespace kvsdk {

namespace {

void PutWord(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    bytes[offset + 0] = static_cast<uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
    bytes[offset + 2] = static_cast<uint8_t>((value >> 16) & 0xFF);
    bytes[offset + 3] = static_cast<uint8_t>((value >> 24) & 0xFF);
}

uint32_t GetWord(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

}  // namespace

std::unique_ptr<CCommandBuffer> CCommandBuffer::Payload(const uint8_t* bytes, uint32_t length) {
    std::vector<uint8_t> framed(sizeof(uint32_t) + length);
    PutWord(framed, 0, length);
    if (length > 0) std::memcpy(framed.data() + sizeof(uint32_t), bytes, length);
    return std::unique_ptr<CCommandBuffer>(new CCommandBuffer(std::move(framed)));
}

std::unique_ptr<CCommandBuffer> CCommandBuffer::Payload(std::initializer_list<uint8_t> bytes) {
    return Payload(bytes.begin(), static_cast<uint32_t>(bytes.size()));
}

std::unique_ptr<CCommandBuffer> CCommandBuffer::Pause(uint32_t milliseconds) {
    std::vector<uint8_t> framed(2 * sizeof(uint32_t));
    PutWord(framed, 0, 0);
    PutWord(framed, sizeof(uint32_t), milliseconds);
    return std::unique_ptr<CCommandBuffer>(new CCommandBuffer(std::move(framed)));
}

std::unique_ptr<CCommandBuffer> CCommandBuffer::Block(const uint8_t* bytes28) {
    std::vector<uint8_t> block(bytes28, bytes28 + kBlockSize);
    return std::unique_ptr<CCommandBuffer>(new CCommandBuffer(std::move(block)));
}

bool CCommandBuffer::ReadLengthWord(uint32_t& length) const {
    if (m_bytes.size() < sizeof(uint32_t)) return false;
    length = GetWord(m_bytes.data());
    return true;
}

bool CCommandBuffer::IsPause(uint32_t& milliseconds) const {
    uint32_t length = 0;
    if (!ReadLengthWord(length) || length != 0) return false;
    if (m_bytes.size() < 2 * sizeof(uint32_t)) return false;
    milliseconds = GetWord(m_bytes.data() + sizeof(uint32_t));
    return true;
}

bool CCommandBuffer::GetPayload(const uint8_t*& payload, uint32_t& length) const {
    uint32_t declared = 0;
    if (!ReadLengthWord(declared) || declared == 0) return false;
    // A length word never reaches past the bytes actually held.
    if (declared > m_bytes.size() - sizeof(uint32_t)) return false;
    payload = m_bytes.data() + sizeof(uint32_t);
    length = declared;
    return true;
}

CEffect::CEffect(GUID effectGuid, EffectParams* pParams)
    : m_guidEffect(effectGuid), m_pParams(pParams) {}

CEffect::~CEffect() = default;

HRESULT CEffect::QueryState(const std::wstring& /*devicePath*/) {
    return kE_NOTIMPL;
}

HRESULT CEffect::Build() {
    return kE_NOTIMPL;
}

void CEffect::Queue(std::unique_ptr<CCommandBuffer> buffer) {
    if (buffer) m_listCommands.AddTail(std::move(buffer));
}

}  // namespace kvsdk
