// The device trace named by KVSDK_SIM_TRACE: one line per call that reaches a virtual device,
//   <ms> <op> <PATH> <details> = <result>
#pragma once

#include "kvsdkmod/Trace.h"

namespace kvsdkmod::sim {

inline void TraceLine(std::string_view op, std::string_view path, std::string_view details,
                      std::string_view result) noexcept {
    kvsdkmod::TraceLine(TraceChannel::Simulated, op, path, details, result);
}

inline bool TraceWanted() noexcept {
    return kvsdkmod::TraceWanted(TraceChannel::Simulated);
}

using kvsdkmod::HexBytes;
using kvsdkmod::HexResult;
using kvsdkmod::TunnelDetails;

}  // namespace kvsdkmod::sim
