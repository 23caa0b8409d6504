// How the transport tests write a report they saw: its bytes up to the zero padding, then its
// whole length ("00 00 03 00 01 01 /65").
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kvsdk::test {

inline std::string ReportText(const void* data, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t used = count;
    while (used > 0 && bytes[used - 1] == 0) --used;
    std::string text;
    char item[4];
    for (size_t i = 0; i < used; ++i) {
        std::snprintf(item, sizeof item, i ? " %02X" : "%02X", bytes[i]);
        text += item;
    }
    return text + (text.empty() ? "/" : " /") + std::to_string(count);
}

}  // namespace kvsdk::test
