// Any text as a device trace: build the timeline and draw it as text and as SVG.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string_view>

#include "tools/kvsdk/Timeline.h"
#include "tools/kvsdk/TimelineRender.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kvsdk::tool::Timeline timeline = kvsdk::tool::BuildTimeline(text);
    std::ostringstream out;
    kvsdk::tool::RenderText(timeline, out);
    kvsdk::tool::RenderSvg(timeline, out, "fuzz");
    return 0;
}
