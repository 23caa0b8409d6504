// The library lock: readers share it, a writer excludes everyone, and a stream of readers does
// not keep a writer out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "engine/ReaderWriterLock.h"

namespace kvsdk {
namespace {

TEST(ReaderWriterLockTest, WritersExcludeReadersAndAreNotStarved) {
    CReaderWriterLock lock;
    std::atomic<bool> stop{false};
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                std::shared_lock<CReaderWriterLock> shared(lock);
                if (inside.load() < 0) overlap = true;
                std::this_thread::yield();
            }
        });
    }
    // Each writer gets in although the readers never pause, and is alone while inside.
    for (int i = 0; i < 50; ++i) {
        std::unique_lock<CReaderWriterLock> exclusive(lock);
        inside = -1;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        inside = 0;
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_FALSE(overlap.load());
}

}  // namespace
}  // namespace kvsdk
