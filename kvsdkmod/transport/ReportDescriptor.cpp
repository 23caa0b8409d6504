#include "kvsdkmod/transport/ReportDescriptor.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <utility>

namespace kvsdkmod::transport {

namespace {

// Item types and tags of the short items of a report descriptor.
constexpr uint8_t kTypeMain = 0;
constexpr uint8_t kTypeGlobal = 1;
constexpr uint8_t kTypeLocal = 2;
constexpr uint8_t kMainInput = 0x8;
constexpr uint8_t kMainOutput = 0x9;
constexpr uint8_t kMainCollection = 0xA;
constexpr uint8_t kMainFeature = 0xB;
constexpr uint8_t kMainEndCollection = 0xC;
constexpr uint8_t kGlobalUsagePage = 0x0;
constexpr uint8_t kGlobalReportSize = 0x7;
constexpr uint8_t kGlobalReportId = 0x8;
constexpr uint8_t kGlobalReportCount = 0x9;
constexpr uint8_t kGlobalPush = 0xA;
constexpr uint8_t kGlobalPop = 0xB;
constexpr uint8_t kLocalUsage = 0x0;
constexpr uint8_t kLongItem = 0xFE;

// Limits no real device comes near; they keep hostile input from growing anything.
constexpr size_t kMaxPushDepth = 16;
constexpr uint32_t kMaxReportBits = 8u * 65536u;

struct Globals {
    uint32_t usagePage = 0;
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

// Bits of each (type, report ID) of the current top-level collection.
using ReportBits = std::map<std::pair<ReportType, uint8_t>, uint32_t>;

void Finish(CollectionInfo& collection, const ReportBits& bits) {
    for (const auto& [key, count] : bits) {
        collection.reports.push_back({key.first, key.second, (count + 7) / 8});
    }
}

}  // namespace

const char* ReportTypeName(ReportType type) {
    switch (type) {
        case ReportType::Input:
            return "input";
        case ReportType::Output:
            return "output";
        case ReportType::Feature:
            return "feature";
    }
    return "?";
}

const ReportInfo* CollectionInfo::Find(ReportType type, uint8_t id) const {
    for (const ReportInfo& report : reports) {
        if (report.type == type && report.id == id) return &report;
    }
    return nullptr;
}

std::string CollectionInfo::Describe() const {
    std::string text;
    for (const ReportInfo& report : reports) {
        char item[64];
        if (report.length > 0) {
            std::snprintf(item, sizeof item, "%s 0x%02X %u bytes", ReportTypeName(report.type),
                          report.id, static_cast<unsigned>(report.length));
        } else {
            std::snprintf(item, sizeof item, "%s 0x%02X", ReportTypeName(report.type), report.id);
        }
        if (!text.empty()) text += ", ";
        text += item;
    }
    return text.empty() ? "none" : text;
}

std::vector<CollectionInfo> ParseReportDescriptor(const uint8_t* bytes, size_t length) {
    std::vector<CollectionInfo> collections;
    if (bytes == nullptr) return collections;
    Globals globals;
    std::vector<Globals> stack;
    std::vector<uint32_t> usages;  // local usages since the last main item
    ReportBits bits;
    size_t depth = 0;

    size_t at = 0;
    while (at < length) {
        const uint8_t prefix = bytes[at];
        if (prefix == kLongItem) {
            if (at + 1 >= length) break;
            at += 3 + static_cast<size_t>(bytes[at + 1]);
            continue;
        }
        static constexpr std::array<size_t, 4> kSizes{0, 1, 2, 4};
        const size_t size = kSizes[prefix & 3];
        if (at + 1 + size > length) break;
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i)
            value |= static_cast<uint32_t>(bytes[at + 1 + i]) << (8 * i);
        const uint8_t type = static_cast<uint8_t>((prefix >> 2) & 3);
        const uint8_t tag = static_cast<uint8_t>(prefix >> 4);
        at += 1 + size;

        if (type == kTypeGlobal) {
            switch (tag) {
                case kGlobalUsagePage:
                    globals.usagePage = value;
                    break;
                case kGlobalReportSize:
                    globals.reportSize = value;
                    break;
                case kGlobalReportId:
                    globals.reportId = static_cast<uint8_t>(value);
                    break;
                case kGlobalReportCount:
                    globals.reportCount = value;
                    break;
                case kGlobalPush:
                    if (stack.size() >= kMaxPushDepth) return collections;
                    stack.push_back(globals);
                    break;
                case kGlobalPop:
                    if (stack.empty()) return collections;
                    globals = stack.back();
                    stack.pop_back();
                    break;
                default:
                    break;
            }
        } else if (type == kTypeLocal) {
            if (tag == kLocalUsage && usages.size() < 64) usages.push_back(value);
        } else if (type == kTypeMain) {
            if (tag == kMainCollection) {
                if (depth == 0) {
                    CollectionInfo collection;
                    const uint32_t usage = usages.empty() ? 0 : usages.front();
                    // A four-byte usage carries its own page in the high half.
                    const bool extended = !usages.empty() && usage > 0xFFFF;
                    collection.usagePage =
                        static_cast<uint16_t>(extended ? usage >> 16 : globals.usagePage);
                    collection.usage = static_cast<uint16_t>(usage & 0xFFFF);
                    collections.push_back(std::move(collection));
                    bits.clear();
                }
                ++depth;
            } else if (tag == kMainEndCollection) {
                if (depth == 0) return collections;
                if (--depth == 0) Finish(collections.back(), bits);
            } else if (tag == kMainInput || tag == kMainOutput || tag == kMainFeature) {
                if (depth > 0) {
                    const ReportType kind = tag == kMainInput    ? ReportType::Input
                                            : tag == kMainOutput ? ReportType::Output
                                                                 : ReportType::Feature;
                    const uint64_t add = static_cast<uint64_t>(globals.reportSize) *
                                         static_cast<uint64_t>(globals.reportCount);
                    uint32_t& total = bits[{kind, globals.reportId}];
                    total = static_cast<uint32_t>(
                        std::min<uint64_t>(kMaxReportBits, static_cast<uint64_t>(total) + add));
                }
            }
            usages.clear();
        }
    }
    // A descriptor cut short inside its last collection still tells what it declared so far.
    if (depth > 0 && !collections.empty()) Finish(collections.back(), bits);
    return collections;
}

}  // namespace kvsdkmod::transport
