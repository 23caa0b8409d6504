// A HID report descriptor as a device hands it over: the transport parses whatever a device (or
// a node that is not ours) declares before it trusts any of it.
#include <cstddef>
#include <cstdint>

#include "kvsdkmod/transport/ReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const auto& collection : kvsdkmod::transport::ParseReportDescriptor(data, size)) {
        (void)collection.Describe();
        (void)collection.Find(kvsdkmod::transport::ReportType::Output, 0);
    }
    return 0;
}
