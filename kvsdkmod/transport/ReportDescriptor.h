// What a HID device declares about itself: its top-level collections, each with its usage page and
// the reports (type, report ID, size) that belong to it. Read from a raw report descriptor on
// Linux (HIDIOCGRDESC, sysfs report_descriptor) and from the preparsed data's capabilities on
// Windows, so that the framing of a device can be checked against what the device really has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvsdkmod::transport {

enum class ReportType : uint8_t { Input, Output, Feature };

// "input", "output", "feature".
const char* ReportTypeName(ReportType type);

struct ReportInfo {
    ReportType type = ReportType::Input;
    uint8_t id = 0;  // 0: the collection declares no report IDs
    // Bytes after the report-ID byte; 0 when only the collection's longest report is known
    // (Windows).
    uint32_t length = 0;
};

struct CollectionInfo {
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    std::vector<ReportInfo> reports;
    // Windows: the buffer length every report call on the collection needs, report-ID byte
    // included (the longest report of that type plus one), by ReportType; 0 elsewhere.
    uint32_t bufferLength[3] = {0, 0, 0};

    const ReportInfo* Find(ReportType type, uint8_t id) const;
    // "output 0x00 64 bytes, feature 0x05 32 bytes" (or "none").
    std::string Describe() const;
};

// The top-level collections of a raw report descriptor, in order. Reports declared outside any
// collection are not counted. Malformed input (truncated items, unbalanced collections, absurd
// sizes) never reads past the buffer: what was parsed up to the fault is returned.
std::vector<CollectionInfo> ParseReportDescriptor(const uint8_t* bytes, size_t length);

}  // namespace kvsdkmod::transport
