// kvsdk watch: the lights of a trace that a host is writing, redrawn in the terminal.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "tools/kvsdk/TraceFollower.h"

namespace kvsdk::tool {

enum class ColorDepth { Basic16, Palette256, TrueColor };

// What the terminal says it can show, from COLORTERM and TERM.
ColorDepth ColorDepthOf(const std::optional<std::string>& colorterm,
                        const std::optional<std::string>& term);

// The control sequence that paints the background in 'rgb' (0xRRGGBB) at 'depth'.
std::string Background(uint32_t rgb, ColorDepth depth);

// One screen: at most 'rows' lines of at most 'cols' columns, one per light of every device,
// drawn over the previous screen from the top-left corner without clearing it first.
std::string WatchScreen(const LiveState& state, const std::string& trace, int cols, int rows,
                        ColorDepth depth);

// Follows the trace until q or Ctrl-C; answers the exit code.
int RunWatch(const std::string& trace, std::ostream& err);

}  // namespace kvsdk::tool
