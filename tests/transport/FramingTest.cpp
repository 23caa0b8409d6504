// The framing table turned into report bytes for both operating systems, the report descriptor
// read back into collections, and the overrides a device owner writes in the registry.
#include <gtest/gtest.h>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "kvsdkmod/transport/Framing.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace kvsdkmod::transport;
using Bytes = std::vector<uint8_t>;

// A report: 'head' then zeros up to 'size' bytes.
Bytes Padded(Bytes head, size_t size) {
    head.resize(size, 0);
    return head;
}

// A collection as Windows describes it: report IDs, and the longest report of each type.
CollectionInfo WindowsCollection(uint32_t input, uint32_t output, uint32_t feature) {
    CollectionInfo collection;
    collection.usagePage = 0xFF00;
    collection.bufferLength[0] = input;
    collection.bufferLength[1] = output;
    collection.bufferLength[2] = feature;
    return collection;
}

const Bytes kLightOn{0x00, 0x03, 0x00, 0x01, 0x01};  // command id 0x00: never a report ID

struct Vector {
    const char* name;
    Framing framing;
    Os os;
    CollectionInfo collection;
    Bytes set;           // the report of a Set of kLightOn
    size_t inputOffset;  // where an input report's answer starts
};

TEST(FramingTest, OneTableGivesTheReportBytesOfBothSystems) {
    Framing numbered = *BuiltInFraming(0x0E51);
    numbered.reportId = 0x05;
    numbered.reportLength = 8;
    const CollectionInfo unknown;  // Linux reports are as long as the framing says
    const Vector vectors[] = {
        {"linux", *BuiltInFraming(0x0E51), Os::Linux, unknown,
         Padded({0x00, 0x00, 0x03, 0x00, 0x01, 0x01}, 65), 0},
        {"windows", *BuiltInFraming(0x0E51), Os::Windows, WindowsCollection(65, 65, 65),
         Padded({0x00, 0x00, 0x03, 0x00, 0x01, 0x01}, 65), 1},
        {"linux id 5", numbered, Os::Linux, unknown,
         Padded({0x05, 0x00, 0x03, 0x00, 0x01, 0x01}, 9), 1},
        // Windows wants every buffer as long as the collection's longest report of its type.
        {"windows id 5", numbered, Os::Windows, WindowsCollection(9, 17, 9),
         Padded({0x05, 0x00, 0x03, 0x00, 0x01, 0x01}, 17), 1},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.name);
        const Wire wire(v.framing, v.os, v.collection);
        EXPECT_EQ(wire.SetReport(kLightOn.data(), 5), v.set);
        EXPECT_EQ(wire.AnswerOffset(ReportType::Input), v.inputOffset);
        EXPECT_EQ(wire.AnswerOffset(ReportType::Feature), 1u);
        EXPECT_EQ(wire.ReadBuffer(ReportType::Feature)[0], v.framing.reportId);
        const Bytes tooLong(v.framing.reportLength + 1u, 0xAA);
        EXPECT_FALSE(wire.SetReport(tooLong.data(), static_cast<uint32_t>(tooLong.size())));
    }
}

TEST(FramingTest, TunnelWritesOf0E5BAreOneOutputReport) {
    const Framing& framing = *BuiltInFraming(0x0E5B);
    ASSERT_TRUE(framing.tunnel);
    const uint8_t rgb[] = {0x10, 0x20, 0x30};
    for (const Os os : {Os::Linux, Os::Windows}) {
        const Wire wire(framing, os, WindowsCollection(65, 65, 65));
        EXPECT_EQ(wire.TunnelReport(false, true, 0x60, 0x00, 0x02, rgb, 3),
                  Padded({0x00, 0x02, 0x60, 0x00, 0x02, 0x03, 0x10, 0x20, 0x30}, 65));
    }
}

TEST(FramingTest, DescriptorCollectionsAndTheFramingCheck) {
    // A mouse collection (input report 1) and a vendor collection with output and feature
    // reports 0x05 of 8 bytes.
    const Bytes descriptor{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95,
                           0x04, 0x81, 0x02, 0xC0, 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                           0x85, 0x05, 0x75, 0x08, 0x95, 0x08, 0x91, 0x02, 0xB1, 0x02, 0xC0};
    const auto collections = ParseReportDescriptor(descriptor.data(), descriptor.size());
    ASSERT_EQ(collections.size(), 2u);
    EXPECT_EQ(collections[0].usagePage, 0x0001);
    EXPECT_EQ(collections[1].usagePage, 0xFF00);
    EXPECT_EQ(collections[1].Describe(), "output 0x05 8 bytes, feature 0x05 8 bytes");

    Framing framing = *BuiltInFraming(0x0E59);
    EXPECT_FALSE(IsLightingCollection(framing, collections[0]));
    ASSERT_TRUE(IsLightingCollection(framing, collections[1]));
    EXPECT_EQ(CheckFraming(framing, collections[1]),
              "no output report 0x00 (it has: output 0x05 8 bytes, feature 0x05 8 bytes)");
    framing.reportId = 0x05;
    EXPECT_EQ(CheckFraming(framing, collections[1]), "output report 0x05 is 8 bytes, not 64");
    framing.reportLength = 8;
    EXPECT_EQ(CheckFraming(framing, collections[1]), "");
    // Cut anywhere, the descriptor never reads past its end.
    for (size_t cut = 0; cut < descriptor.size(); ++cut)
        ParseReportDescriptor(descriptor.data(), cut);
}

#ifdef _WIN32
// The values in the registry itself, removed again when the test ends.
struct Overrides {
    Overrides() {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr);
        const DWORD id = 5;
        const DWORD length = 0;
        RegSetValueExW(key, L"HidReportId", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&id), 4);
        RegSetValueExW(key, L"HidGetReport", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Input"),
                       12);
        RegSetValueExW(key, L"HidReportLength", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&length), 4);
        RegCloseKey(key);
    }
    ~Overrides() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
    static constexpr const wchar_t* kKey = L"SOFTWARE\\TOLVE\\7A3E0E51";
};
#else
// The values in the .reg file that stands in for the registry.
struct Overrides {
    Overrides() {
        kvsdk::test::WriteTextFile(dir.Path() / "registry.reg",
                                   "Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E0E51]\n"
                                   "\"HidReportId\"=dword:00000005\n"
                                   "\"HidGetReport\"=\"Input\"\n"
                                   "\"HidReportLength\"=dword:00000000\n");
    }
    kvsdk::test::TempDir dir;
    kvsdk::test::ScopedEnv registry{"KVSDK_REGISTRY", (dir.Path() / "registry.reg").string()};
};
#endif

TEST(FramingTest, OverridesComeFromTheRegistryAndBadValuesAreRefused) {
    const Overrides overrides;
    const auto inForce = FramingFor(0x0E51);
    ASSERT_TRUE(inForce);
    EXPECT_EQ(inForce->framing.reportId, 0x05);
    EXPECT_EQ(inForce->framing.get, GetMethod::Input);
    EXPECT_EQ(inForce->framing.reportLength, 64);
    EXPECT_EQ(inForce->overridden, (std::vector<std::string>{"HidReportId", "HidGetReport"}));
    EXPECT_EQ(inForce->refused, (std::vector<std::string>{"HidReportLength=0x0: a DWORD 1..4096"}));
    EXPECT_EQ(FramingFor(0x0E52)->framing.reportId, 0x00);  // another product keeps its row
    EXPECT_FALSE(FramingFor(0x1234));
}

}  // namespace
