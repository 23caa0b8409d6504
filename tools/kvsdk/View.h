// kvsdk view: the lights of a trace that a host is writing, on a page served to this machine's
// own browser.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace kvsdk::tool {

// Serves the page until Ctrl-C, on 'port' or, when none is given, on the first free one of a
// few from 8737. Answers the exit code.
int RunView(const std::string& trace, std::optional<uint16_t> port, std::ostream& out,
            std::ostream& err);

// The page, HTML with its style and script, built into the program.
const char* ViewPage();

}  // namespace kvsdk::tool
