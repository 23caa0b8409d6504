// Several threads on one virtual device: values stay consistent and trace lines stay whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <thread>
#include <vector>

#include "KvSDKMod.h"
#include "common/Strings.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace kvsdk::test;

// "<ms> <op> <path>[ <details>] = <hex result>", checked by hand: <regex> draws a false
// -Wmaybe-uninitialized from GCC 12 in optimised sanitizer builds.
bool WellFormed(const TraceLine& line) {
    constexpr std::string_view kOps[] = {"init", "set", "get", "connect", "tunnel", "close"};
    const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const std::string_view raw = line.raw;
    const std::size_t firstSpace = raw.find(' ');
    return firstSpace != 0 && firstSpace != std::string_view::npos &&
           std::all_of(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(firstSpace),
                       isDigit) &&
           std::find(std::begin(kOps), std::end(kOps), line.op) != std::end(kOps) &&
           !line.path.empty() && line.details.find('=') == std::string::npos &&
           !line.result.empty() && std::all_of(line.result.begin(), line.result.end(), isHex) &&
           raw.ends_with(" = " + line.result);
}

TEST(VirtualDeviceThreads, ObjectsOnOnePathWorkSideBySide) {
    const std::string mouse = MousePath("0e59");
    const std::string usb = UsbPath("0e5b");
    SimEnvironment sim("mouse " + mouse + "\nusb " + usb + "\n");
    constexpr int kThreads = 4;
    constexpr int kRounds = 100;

    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CKvDeviceIO io;
            if (io.Init(kvsdk::FromUtf8(mouse).c_str()) != 0) {
                ++mismatches[static_cast<size_t>(t)];
                return;
            }
            const auto light = static_cast<uint8_t>(t);
            for (int round = 0; round < kRounds; ++round) {
                const auto value = static_cast<uint8_t>(round);
                const uint8_t set[5] = {0x02, 0x03, 0x00, light, value};
                io.Set(set, 5);
                uint8_t get[5] = {0x02, 0x03, 0x00, light, 0xEE};
                uint32_t length = 5;
                if (io.Get(get, &length) != 0 || get[4] != value) {
                    ++mismatches[static_cast<size_t>(t)];
                }
            }
        });
    }
    threads.emplace_back([&] {
        ChannelHID channel;
        if (!channel.Connect(0x7A3E, 0x0E5B)) return;
        const uint8_t data[3] = {1, 2, 3};
        for (int round = 0; round < kRounds; ++round) {
            channel.I2CTunnelWrite(false, false, 0x61, 0, 2, data, 3);
        }
    });
    for (auto& thread : threads) thread.join();

    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
    const auto trace = sim.Trace();
    // Per device thread: init, a set and a get per round, close. Channel: connect, writes, close.
    EXPECT_EQ(trace.size(), static_cast<size_t>(kThreads * (2 * kRounds + 2) + kRounds + 2));
    for (const auto& line : trace) EXPECT_TRUE(WellFormed(line)) << line.raw;
    EXPECT_EQ(Filter(trace, "tunnel").size(), static_cast<size_t>(kRounds));
}

}  // namespace
