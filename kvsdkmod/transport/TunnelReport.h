// Framing of a tunnel write on the hardware channel: one output report
//   flags (bit 0 first flag, bit 1 second flag), command, arg1, arg2, data length, data...
#pragma once

#include <cstdint>
#include <vector>

namespace kvsdkmod::transport {

inline std::vector<uint8_t> TunnelReport(bool flag1, bool flag2, uint8_t command, uint8_t arg1,
                                         uint8_t arg2, const uint8_t* data, int length) {
    std::vector<uint8_t> report{static_cast<uint8_t>((flag1 ? 1 : 0) | (flag2 ? 2 : 0)), command,
                                arg1, arg2, static_cast<uint8_t>(length)};
    if (length > 0) report.insert(report.end(), data, data + length);
    return report;
}

// Longest data a tunnel report carries.
inline constexpr int kMaxTunnelData = 0xFF;

}  // namespace kvsdkmod::transport
