// The device trace named by KVSDK_SIM_TRACE: one line per call that reaches a virtual device,
//   <ms> <op> <PATH> <details> = <result>
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvsdkmod::sim {

// Appends one line when KVSDK_SIM_TRACE (read at each call) names a file. 'path' is written
// upper-cased; empty 'details' leave no extra space. Lines of all threads are serialised.
void TraceLine(std::string_view op, std::string_view path, std::string_view details,
               std::string_view result) noexcept;

// Whether KVSDK_SIM_TRACE names a file at this moment. Cheap (no allocation, no lock): asked
// before a line's text is built, so that devices without a trace spend nothing on it.
bool TraceWanted() noexcept;

// "00000000" style: eight upper-case hex digits.
std::string HexResult(uint32_t value);
// "02 03 00 01" style: two upper-case hex digits per byte, space-separated.
std::string HexBytes(const uint8_t* bytes, size_t count, std::string_view separator = " ");

}  // namespace kvsdkmod::sim
