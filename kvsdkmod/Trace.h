// The device traces: one line per call that reaches a device,
//   <ms> <op> <PATH> <details> = <result>[ os=<error>]
// KVSDK_SIM_TRACE names the file of the calls that reach virtual devices of the simulated set;
// KVSDK_HW_TRACE the file of the calls that reach hardware, whose lines may end with the
// operating system's own error ("os=EPIPE", "os=1460"). Each trace counts its milliseconds on a
// monotonic clock from its own first line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvsdkmod {

enum class TraceChannel { Simulated, Hardware };

// Appends one line when the channel's variable (read at each call) names a file. 'path' is
// written upper-cased; empty 'details' and 'osError' leave no extra space. Lines of all threads
// are serialised.
void TraceLine(TraceChannel channel, std::string_view op, std::string_view path,
               std::string_view details, std::string_view result,
               std::string_view osError = {}) noexcept;

// Whether the channel's variable names a file at this moment. Cheap (no allocation, no lock):
// asked before a line's text is built, so that devices without a trace spend nothing on it.
bool TraceWanted(TraceChannel channel) noexcept;

// "00000000" style: eight upper-case hex digits.
std::string HexResult(uint32_t value);
// "02 03 00 01" style: two upper-case hex digits per byte, space-separated.
std::string HexBytes(const uint8_t* bytes, size_t count, std::string_view separator = " ");
// A tunnel write's arguments: flags as 0/1, the three bytes, the data joined, the length in
// decimal ("0 0 60 00 02 102030 3").
std::string TunnelDetails(bool flag1, bool flag2, uint8_t command, uint8_t arg1, uint8_t arg2,
                          const uint8_t* data, int length);

}  // namespace kvsdkmod
