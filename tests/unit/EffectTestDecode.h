// Decoding of an effect's command list for the effect-family tests: every buffer becomes either
// a payload (its bytes), a pause (its milliseconds) or, read raw, a 28-byte block.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <vector>

#include "effects/Effect.h"

namespace kvsdk::test {

struct Cmd {
    bool pause = false;
    uint32_t ms = 0;
    std::vector<uint8_t> bytes;

    bool operator==(const Cmd&) const = default;
};

inline Cmd P(std::initializer_list<uint8_t> bytes) {
    return Cmd{false, 0, bytes};
}
inline Cmd Wait(uint32_t ms) {
    return Cmd{true, ms, {}};
}

// The light commands both families send, as the tests expect them.
inline Cmd Mode(uint8_t light, uint8_t mode) {
    return P({0x02, 0x03, 0x00, light, mode});
}
inline Cmd State(uint8_t light, uint8_t on) {
    return P({0x00, 0x03, 0x00, light, on});
}
inline Cmd Bright(uint8_t light, uint8_t value) {
    return P({0x03, 0x03, 0x00, light, value});
}

inline void PrintTo(const Cmd& cmd, std::ostream* os) {
    if (cmd.pause) {
        *os << "pause " << cmd.ms;
        return;
    }
    *os << "[";
    for (size_t i = 0; i < cmd.bytes.size(); ++i) {
        if (i) *os << " ";
        static const char* hex = "0123456789ABCDEF";
        *os << hex[cmd.bytes[i] >> 4] << hex[cmd.bytes[i] & 0xF];
    }
    *os << "]";
}

// Reads the framing: {length n, n bytes} or {0, milliseconds}. A buffer that is neither is a
// test failure.
inline std::vector<Cmd> Decode(CEffect& effect) {
    std::vector<Cmd> out;
    std::vector<const CCommandBuffer*> passes;
    for (uint32_t pass = 0; pass < effect.GetRepeat(); ++pass) {
        for (const auto& buffer : *effect.GetCommands()) passes.push_back(buffer.get());
    }
    for (const CCommandBuffer* buffer : passes) {
        uint32_t ms = 0;
        const uint8_t* payload = nullptr;
        uint32_t length = 0;
        if (buffer->IsPause(ms)) {
            EXPECT_EQ(buffer->Size(), 8u) << "a pause is two words";
            out.push_back(Wait(ms));
        } else if (buffer->GetPayload(payload, length)) {
            EXPECT_EQ(buffer->Size(), length + 4u) << "length word and payload size differ";
            out.push_back(Cmd{false, 0, std::vector<uint8_t>(payload, payload + length)});
        } else {
            ADD_FAILURE() << "buffer with neither payload nor pause framing";
        }
    }
    return out;
}

// A record for one request: product, light selector, everything else zero.
inline EffectParams Record(const GUID& product, uint32_t lightSelector) {
    EffectParams params{};
    params.size = sizeof(EffectParams);
    params.productGuid = product;
    params.lightSelector = lightSelector;
    return params;
}

}  // namespace kvsdk::test
