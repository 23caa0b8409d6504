// Drawing a light timeline: as text for the terminal and as a self-contained SVG picture.
#pragma once

#include <ostream>
#include <string>

#include "tools/kvsdk/Timeline.h"

namespace kvsdk::tool {

// Per device and light: an on/off strip over the whole trace, then every change and event in
// time order.
void RenderText(const Timeline& timeline, std::ostream& out);

// One SVG document: per device and light, lanes for on/off, brightness, colour and mode over
// a common time axis, with labels and event marks. Every segment is a <rect class="seg"> that
// carries data-device, data-light, data-kind, data-value, data-start and data-end.
void RenderSvg(const Timeline& timeline, std::ostream& out, const std::string& title);

// Text with &, <, >, " and ' replaced by entities.
std::string XmlEscape(const std::string& text);

}  // namespace kvsdk::tool
