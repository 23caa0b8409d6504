// kvsdk demo: every effect kind of both families on a simulated device set, then the timeline.
#pragma once

#include <ostream>
#include <string>

namespace kvsdk::tool {

struct Invocation;

// The simulated device set of the demo: one device of each product id, with stored lighting
// settings for the VEXO devices to restore.
std::string DemoDeviceSet();

// Runs the demo; answers the exit code (0, or 1 when the library failed).
int RunDemo(const Invocation& invocation, std::ostream& out, std::ostream& err);

}  // namespace kvsdk::tool
