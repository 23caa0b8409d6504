// CKvDeviceIO on virtual devices: registers, result codes, argument checks and the trace.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "KvSDKMod.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"
#include "common/Win32Types.h"

namespace {

using namespace kvsdk::test;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kInvalidHandle = 0x80070006u;

std::wstring Wide(const std::string& text) {
    return kvsdk::FromUtf8(text);
}

uint32_t Code(HRESULT hr) {
    return static_cast<uint32_t>(hr);
}

// Reads 'request' back through 'io'; the answer replaces the request.
HRESULT Get(CKvDeviceIO& io, Bytes& request) {
    auto length = static_cast<uint32_t>(request.size());
    const HRESULT hr = io.Get(request.data(), &length);
    EXPECT_EQ(length, request.size());
    return hr;
}

std::unique_ptr<CKvDeviceIO> Open(const std::string& path, HRESULT expected = 0) {
    auto io = std::make_unique<CKvDeviceIO>();
    EXPECT_EQ(io->Init(Wide(path).c_str()), expected);
    return io;
}

// Trace lines without their time stamp.
std::vector<std::string> Lines(const SimEnvironment& sim) {
    std::vector<std::string> lines;
    for (const auto& line : sim.Trace()) lines.push_back(line.raw.substr(line.raw.find(' ') + 1));
    return lines;
}

class VirtualDeviceTest : public testing::Test {
  protected:
    const std::string mouse = MousePath("0e59");
    const std::string MOUSE = kvsdk::ToUpper(mouse);
};

TEST_F(VirtualDeviceTest, RegistersAreSharedByObjectsOnOnePath) {
    SimEnvironment sim("mouse " + mouse + " reg.01030002=64\n");
    auto writer = Open(mouse);
    auto reader = Open(MOUSE);  // another case, the same device

    const Bytes color{0x02, 0x03, 0x00, 0x01, 0x7F, 0x10, 0x20};
    EXPECT_EQ(writer->Set(color.data(), static_cast<uint32_t>(color.size())), 0);

    Bytes request{0x02, 0x03, 0x00, 0x01, 0xAA};
    EXPECT_EQ(Get(*reader, request), 0);
    EXPECT_EQ(request, (Bytes{0x02, 0x03, 0x00, 0x01, 0x7F}));  // only what was asked for

    request = {0x02, 0x03, 0x00, 0x01, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(Get(*reader, request), 0);
    EXPECT_EQ(request, (Bytes{0x02, 0x03, 0x00, 0x01, 0x7F, 0x10, 0x20, 0x00, 0x00}));

    request = {0x02, 0x03, 0x00, 0x09, 0xAA, 0xAA};  // nothing stored: zeros
    EXPECT_EQ(Get(*reader, request), 0);
    EXPECT_EQ(request, (Bytes{0x02, 0x03, 0x00, 0x09, 0x00, 0x00}));

    request = {0x01, 0x03, 0x00, 0x02, 0x00};  // initial value from the file
    EXPECT_EQ(Get(*reader, request), 0);
    EXPECT_EQ(request[4], 0x64);

    request = {0x01, 0x03, 0x00, 0x02};  // four bytes: the key alone
    EXPECT_EQ(Get(*reader, request), 0);
    EXPECT_EQ(request, (Bytes{0x01, 0x03, 0x00, 0x02}));
}

TEST_F(VirtualDeviceTest, ShortPayloadIsTracedAndStoredNowhere) {
    SimEnvironment sim("mouse " + mouse + "\n");
    auto io = Open(mouse);
    const Bytes shortSet{0x02, 0x03, 0x00, 0x01};
    EXPECT_EQ(io->Set(shortSet.data(), 4), 0);
    EXPECT_EQ(io->Set(shortSet.data(), 0), 0);
    Bytes request{0x02, 0x03, 0x00, 0x01, 0x55};
    EXPECT_EQ(Get(*io, request), 0);
    EXPECT_EQ(request[4], 0x00);

    const auto lines = Lines(sim);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "set " + MOUSE + " 02 03 00 01 = 00000000");
    EXPECT_EQ(lines[2], "set " + MOUSE + " = 00000000");
}

TEST_F(VirtualDeviceTest, TraceLinesHaveTheContractFormat) {
    SimEnvironment sim("mouse " + mouse + "\n");
    {
        auto io = Open(mouse);
        const Bytes set{0x02, 0x03, 0x00, 0x01, 0xAB, 0x0C};
        EXPECT_EQ(io->Set(set.data(), 6), 0);
        Bytes request{0x02, 0x03, 0x00, 0x01, 0x00, 0x00};
        EXPECT_EQ(Get(*io, request), 0);
    }
    const auto lines = Lines(sim);
    const std::vector<std::string> expected{
        "init " + MOUSE + " = 00000000",
        "set " + MOUSE + " 02 03 00 01 AB 0C = 00000000",
        "get " + MOUSE + " 02 03 00 01 00 00 -> 02 03 00 01 AB 0C = 00000000",
        "close " + MOUSE + " = 00000000",
    };
    EXPECT_EQ(lines, expected);

    const auto trace = sim.Trace();
    for (size_t i = 1; i < trace.size(); ++i) EXPECT_LE(trace[i - 1].ms, trace[i].ms);
    const std::string text = ReadTextFile(sim.TraceFile());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST_F(VirtualDeviceTest, FailingCodesChangeNothing) {
    SimEnvironment sim("mouse " + mouse + " set=80070005 get=80070032\n");
    auto failing = Open(mouse);
    const Bytes set{0x02, 0x03, 0x00, 0x01, 0x7F};
    EXPECT_EQ(Code(failing->Set(set.data(), 5)), 0x80070005u);
    Bytes request{0x02, 0x03, 0x00, 0x01, 0x33};
    EXPECT_EQ(Code(Get(*failing, request)), 0x80070032u);
    EXPECT_EQ(request, (Bytes{0x02, 0x03, 0x00, 0x01, 0x33}));

    // An object keeps the codes it was opened with; a new one sees the rewritten file and the
    // same device, which the failed Set left untouched.
    sim.Rewrite("mouse " + mouse + "\n");
    auto working = Open(mouse);
    EXPECT_EQ(Get(*working, request), 0);
    EXPECT_EQ(request[4], 0x00);
    EXPECT_EQ(Code(failing->Set(set.data(), 5)), 0x80070005u);

    const auto lines = Lines(sim);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "set " + MOUSE + " 02 03 00 01 7F = 80070005");
    EXPECT_EQ(lines[2], "get " + MOUSE + " 02 03 00 01 33 -> 02 03 00 01 33 = 80070032");
}

TEST_F(VirtualDeviceTest, FailedInitLeavesAnUnusableObject) {
    SimEnvironment sim("mouse " + mouse + " init=80070005\n");
    {
        auto io = Open(mouse, static_cast<HRESULT>(0x80070005u));
        const Bytes set{0x02, 0x03, 0x00, 0x01, 0x7F};
        EXPECT_EQ(Code(io->Set(set.data(), 5)), kInvalidHandle);
        Bytes request{0x02, 0x03, 0x00, 0x01, 0x00};
        EXPECT_EQ(Code(Get(*io, request)), kInvalidHandle);
    }
    EXPECT_EQ(Lines(sim), std::vector<std::string>{"init " + MOUSE + " = 80070005"});
}

TEST_F(VirtualDeviceTest, BadArgumentsAreAnsweredBeforeTheDevice) {
    SimEnvironment sim("mouse " + mouse + "\n");
    CKvDeviceIO unopened;
    Bytes request{0x02, 0x03, 0x00, 0x01, 0x00};
    uint32_t length = 5;
    EXPECT_EQ(Code(unopened.Set(request.data(), 5)), kInvalidHandle);
    EXPECT_EQ(Code(unopened.Get(request.data(), &length)), kInvalidHandle);
    EXPECT_EQ(unopened.Init(nullptr), kvsdk::kE_POINTER);

    auto io = Open(mouse);
    EXPECT_EQ(io->Set(nullptr, 5), kvsdk::kE_POINTER);
    EXPECT_EQ(io->Get(nullptr, &length), kvsdk::kE_POINTER);
    EXPECT_EQ(io->Get(request.data(), nullptr), kvsdk::kE_POINTER);
    length = 3;
    EXPECT_EQ(io->Get(request.data(), &length), kvsdk::kE_INVALIDARG);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(Lines(sim).size(), 1u);  // the init line only
}

TEST_F(VirtualDeviceTest, PathOutsideTheSetIsAbsent) {
    SimEnvironment sim("mouse " + mouse + "\n");
    CKvDeviceIO other;
    EXPECT_EQ(Code(other.Init(Wide(MousePath("0e51")).c_str())), 0x80070002u);
    EXPECT_LT(other.Init(L"\\\\?\\hid#vid_7a3e&pid_0e51&mi_00#../../../dev/null#{x}"), 0);
    EXPECT_LT(other.Init(L""), 0);
    const Bytes set{0x02, 0x03, 0x00, 0x01, 0x7F};
    EXPECT_EQ(Code(other.Set(set.data(), 5)), kInvalidHandle);
    EXPECT_TRUE(sim.Trace().empty());

    ScopedEnv noSim("KVSDK_SIM", std::nullopt);
    CKvDeviceIO io;
    const HRESULT hr = io.Init(Wide(mouse).c_str());
    EXPECT_LT(hr, 0);
#ifndef _WIN32
    EXPECT_EQ(Code(hr), 0x80070002u);
    EXPECT_EQ(Code(io.Init(L"\\\\?\\hid#vid_7a3e&pid_0e51&mi_00#hidraw999#{x}")), 0x80070002u);
#endif
}

TEST_F(VirtualDeviceTest, WorksWithoutATraceFile) {
    SimEnvironment sim("mouse " + mouse + "\n");
    ScopedEnv noTrace("KVSDK_SIM_TRACE", std::nullopt);
    auto io = Open(mouse);
    const Bytes set{0x02, 0x03, 0x00, 0x01, 0x7F};
    EXPECT_EQ(io->Set(set.data(), 5), 0);
    Bytes request{0x02, 0x03, 0x00, 0x01, 0x00};
    EXPECT_EQ(Get(*io, request), 0);
    EXPECT_EQ(request[4], 0x7F);
    EXPECT_FALSE(std::filesystem::exists(sim.TraceFile()));
}

TEST_F(VirtualDeviceTest, EachDeviceFileHasItsOwnDevices) {
    const Bytes set{0x02, 0x03, 0x00, 0x01, 0x7F};
    {
        SimEnvironment first("mouse " + mouse + "\n");
        EXPECT_EQ(Open(mouse)->Set(set.data(), 5), 0);
    }
    SimEnvironment second("mouse " + mouse + "\n");
    Bytes request{0x02, 0x03, 0x00, 0x01, 0x00};
    EXPECT_EQ(Get(*Open(mouse), request), 0);
    EXPECT_EQ(request[4], 0x00);
}

}  // namespace
