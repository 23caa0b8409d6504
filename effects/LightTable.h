// A light-id table: which hardware light a command builder addresses for each light selector.
// Every builder has its own table. An empty entry means the builder queues nothing for that
// selector; selectors outside 1 to 7 take the table's last entry.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace kvsdk {

struct LightTable {
    std::array<std::optional<uint8_t>, 7> bySelector;  // selectors 1 to 7
    std::optional<uint8_t> other;                      // any other selector

    constexpr std::optional<uint8_t> Find(uint32_t selector) const {
        if (selector >= 1 && selector <= bySelector.size()) return bySelector[selector - 1];
        return other;
    }
    // The light id, or 0x00 where the table has none (commands that go out in every case).
    constexpr uint8_t FindOrZero(uint32_t selector) const { return Find(selector).value_or(0x00); }
};

inline constexpr std::optional<uint8_t> kNoLight = std::nullopt;

}  // namespace kvsdk
