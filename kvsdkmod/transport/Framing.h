// How each product's commands travel as HID reports: one row per product, written once for both
// operating systems, and the pure functions that turn a Set, a Get exchange and a tunnel write
// into the exact report bytes.
//
// A command (command id, class, storage byte, light id, data) is the payload of one report of the
// device's lighting collection: the report-ID byte first (0 when the collection declares no
// report IDs; the kernel or the HID class driver then sends none), the payload, then zeros up to
// the report's length. So a command whose first byte is 0x00 (the light-state command) is never
// taken for a report ID.
//
// The built-in values are assumptions that no device has confirmed yet (docs/real-devices.md
// lists them).
// A device owner overrides them per product without rebuilding: registry values under
// HKEY_CURRENT_USER\SOFTWARE\TOLVE\7A3E<product id> (on Linux in the .reg file that stands in for
// that hive), read when a device is opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kvsdkmod/transport/ReportDescriptor.h"

namespace kvsdkmod::transport {

inline constexpr uint16_t kVendorId = 0x7A3E;
// Vendor-defined usage pages: 0xFF00 to 0xFFFF.
inline constexpr uint16_t kVendorPageFirst = 0xFF00;

// How a Get reads the device's answer: the request is sent as a feature report and the answer is
// the feature report read back, or the request is sent as a Set is and the answer is the next
// input report of the same report ID, awaited at most the I/O bound.
enum class GetMethod : uint8_t { Feature, Input };

enum class Os : uint8_t { Linux, Windows };

struct Framing {
    uint16_t productId = 0;
    // The lighting collection's usage page; 0: the first collection on a vendor-defined page.
    uint16_t usagePage = 0;
    // The USB interface that carries it; -1: any interface of the device.
    int interfaceNumber = -1;
    ReportType setReport = ReportType::Output;  // Output or Feature
    uint8_t reportId = 0;
    uint16_t reportLength = 64;  // bytes after the report-ID byte
    GetMethod get = GetMethod::Feature;
    uint32_t timeoutMs = 1000;  // bound of every read and write
    // Commands arrive as tunnel writes (the USB device 0E5B): flags, command, arg1, arg2, data
    // length, data.
    bool tunnel = false;
};

// The row of a product; nullptr for a product this library does not drive.
const Framing* BuiltInFraming(uint16_t productId);

// One override as read from the registry: a DWORD or a string.
struct OverrideValue {
    std::optional<uint32_t> number;
    std::optional<std::string> text;
};

// The framing in force for a device, and where each value came from.
struct FramingInForce {
    Framing framing;
    std::vector<std::string> overridden;  // names of the values the owner set
    std::vector<std::string> refused;     // "HidReportLength=0: out of range 1..4096"
};

// The override value names, in the order they are applied.
const std::vector<std::string>& OverrideNames();

// Applies one override by name; answers false (and says why in 'refused') when the name is unknown
// or the value out of range, leaving the framing as it was.
bool ApplyOverride(FramingInForce& inForce, const std::string& name, const OverrideValue& value);

// The built-in row with the overrides the registry holds for the product, read now (the backend of
// each platform reads its registry); nullopt for a product this library does not drive.
std::optional<FramingInForce> FramingFor(uint16_t productId);

// "set output 0x00 64 bytes, get feature, timeout 1000 ms, page vendor, interface any".
std::string DescribeFraming(const Framing& framing);

// Whether a collection is the one that carries the lighting of this framing.
bool IsLightingCollection(const Framing& framing, const CollectionInfo& collection);

// Empty when the collection declares every report the framing uses, with the right length;
// otherwise why not ("no output report 0x00 (it has: feature 0x01 32 bytes)").
std::string CheckFraming(const Framing& framing, const CollectionInfo& collection);

// The report buffers of one opened lighting collection.
class Wire {
  public:
    // 'collection' gives Windows' buffer lengths (every report call there needs exactly the
    // collection's longest report of that type); Linux reports are as long as the framing says.
    Wire(const Framing& framing, Os os, const CollectionInfo& collection);

    const Framing& GetFraming() const { return m_framing; }
    // The whole buffer of a report of this type, report-ID byte included.
    uint32_t BufferLength(ReportType type) const;

    // The report that carries 'payload' as a report of 'type': nullopt when it does not fit.
    std::optional<std::vector<uint8_t>> Frame(ReportType type, const uint8_t* payload,
                                              uint32_t length) const;
    // A Set of 'payload' (the framing's set report).
    std::optional<std::vector<uint8_t>> SetReport(const uint8_t* payload, uint32_t length) const {
        return Frame(m_framing.setReport, payload, length);
    }
    // The buffer a report of 'type' is read into: the report ID in byte 0, zeros after it.
    std::vector<uint8_t> ReadBuffer(ReportType type) const;
    // Where the answer starts in a report read back: after the report-ID byte, except in Linux
    // input reports of a collection without report IDs, which carry none.
    size_t AnswerOffset(ReportType type) const;
    // A tunnel write's report.
    std::optional<std::vector<uint8_t>> TunnelReport(bool flag1, bool flag2, uint8_t command,
                                                     uint8_t arg1, uint8_t arg2,
                                                     const uint8_t* data, int length) const;

  private:
    Framing m_framing;
    Os m_os;
    uint32_t m_windowsLength[3];
};

// The tunnel framing: flags (bit 0 the first flag, bit 1 the second), command, arg1, arg2, data
// length, data.
std::vector<uint8_t> TunnelPayload(bool flag1, bool flag2, uint8_t command, uint8_t arg1,
                                   uint8_t arg2, const uint8_t* data, int length);
// Longest data a tunnel write carries.
inline constexpr int kMaxTunnelData = 0xFF;

}  // namespace kvsdkmod::transport
