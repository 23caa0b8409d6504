// The effect queue and its worker against a recording sink: what reaches the sink, in which
// order, and what a stop leaves behind.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "KvSDKEng.h"
#include "effects/EffectQueue.h"

namespace kvsdk::test {
namespace {

using Bytes = std::vector<uint8_t>;

class RecordingSink : public ICommandSink {
  public:
    explicit RecordingSink(bool wholeBlocks) : m_wholeBlocks(wholeBlocks) {}

    HRESULT SendCommand(const uint8_t* bytes, uint32_t length) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_sent.emplace_back(bytes, bytes + length);
        m_changed.notify_all();
        return E_FAIL;  // a failing device must not stop the queue
    }
    bool TakesWholeBlocks() const override { return m_wholeBlocks; }

    // Waits until 'count' commands arrived (or 10 s passed) and answers what was sent.
    std::vector<Bytes> WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_sent.size() >= count; });
        return m_sent;
    }

  private:
    const bool m_wholeBlocks;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Bytes> m_sent;
};

class ScriptEffect : public CEffect {
  public:
    explicit ScriptEffect(std::vector<std::unique_ptr<CCommandBuffer>> script)
        : CEffect(EFFECT_LED_ON, nullptr) {
        for (auto& buffer : script) Queue(std::move(buffer));
    }
};

template <class... B>
std::unique_ptr<CEffect> Script(B... buffers) {
    std::vector<std::unique_ptr<CCommandBuffer>> script;
    (script.push_back(std::move(buffers)), ...);
    return std::make_unique<ScriptEffect>(std::move(script));
}

TEST(EffectQueueTest, SendsPayloadsInQueueOrderOrOnlyWholeBlocks) {
    uint8_t block[CCommandBuffer::kBlockSize] = {0x61};
    // Payloads on both sides of what a buffer holds in itself.
    const Bytes blockLong(CCommandBuffer::kBlockSize, 0x62);
    const Bytes longer(300, 0x63);
    for (const bool wholeBlocks : {false, true}) {
        SCOPED_TRACE(wholeBlocks ? "whole blocks" : "payloads");
        RecordingSink sink(wholeBlocks);
        CEffectQueue queue(sink);
        queue.Add(Script(CCommandBuffer::Payload({1, 2}),
                         CCommandBuffer::Pause(wholeBlocks ? 60000 : 5),
                         CCommandBuffer::Block(block)));
        queue.Add(
            Script(CCommandBuffer::Payload({3}),
                   CCommandBuffer::Payload(blockLong.data(), CCommandBuffer::kBlockSize),
                   CCommandBuffer::Payload(longer.data(), static_cast<uint32_t>(longer.size()))));
        queue.EnsureWorker();
        const auto sent = sink.WaitFor(wholeBlocks ? 1 : 4);
        const std::vector<Bytes> expected =
            wholeBlocks ? std::vector<Bytes>{Bytes(block, block + sizeof block)}
                        : std::vector<Bytes>{{1, 2}, {3}, blockLong, longer};
        EXPECT_EQ(sent, expected);
    }
}

TEST(EffectQueueTest, StopEndsAPauseAtOnceKeepsLaterEffectsAndRestartResumes) {
    RecordingSink sink(false);
    CEffectQueue queue(sink);
    queue.Add(Script(CCommandBuffer::Payload({1}), CCommandBuffer::Pause(60000),
                     CCommandBuffer::Payload({2})));
    queue.Add(Script(CCommandBuffer::Payload({3})));
    queue.EnsureWorker();
    ASSERT_EQ(sink.WaitFor(1).size(), 1u);

    queue.Stop();  // would take a minute if the pause were waited out
    EXPECT_EQ(queue.GetCount(), 1u);
    queue.EnsureWorker();  // stopped: starts nothing
    queue.Restart();
    queue.EnsureWorker();
    EXPECT_EQ(sink.WaitFor(2), (std::vector<Bytes>{{1}, {3}}));
}

TEST(EffectQueueTest, AnEffectThatWouldSendNothingTakesNoPlace) {
    RecordingSink sink(false), blocks(true);
    CEffectQueue queue(sink), usb(blocks);
    for (int i = 0; i < 1000; ++i) EXPECT_TRUE(queue.Add(Script()));
    EXPECT_TRUE(usb.Add(Script(CCommandBuffer::Payload({1}))));  // not a block: never sent
    EXPECT_EQ(queue.GetCount() + usb.GetCount(), 0u);
}

TEST(EffectQueueTest, AWorkerThatCannotStartLeavesTheQueueForTheNextSignal) {
    RecordingSink sink(false);
    CEffectQueue queue(sink);
    queue.Add(Script(CCommandBuffer::Payload({1})));
    g_bFailWorkerStart = true;
    EXPECT_NO_THROW(queue.EnsureWorker());
    g_bFailWorkerStart = false;
    queue.EnsureWorker();
    EXPECT_EQ(sink.WaitFor(1).size(), 1u);
}

// An effect of 'count' one-byte commands.
std::unique_ptr<CEffect> Commands(size_t count) {
    std::vector<std::unique_ptr<CCommandBuffer>> script;
    for (size_t i = 0; i < count; ++i) script.push_back(CCommandBuffer::Payload({1}));
    return std::make_unique<ScriptEffect>(std::move(script));
}

TEST(EffectQueueTest, RefusesWhatWouldPassTheCapAndCountsSentBuffersFree) {
    constexpr size_t kCap = CEffectQueue::kMaxPendingBuffers;
    RecordingSink sink(false);
    CEffectQueue queue(sink);
    // Held back by a pause, so nothing is sent until the end.
    ASSERT_TRUE(queue.Add(Script(CCommandBuffer::Payload({0}), CCommandBuffer::Pause(60000))));
    queue.EnsureWorker();
    ASSERT_EQ(sink.WaitFor(1).size(), 1u);
    ASSERT_TRUE(queue.Add(Commands(kCap)));  // the worker sits in the pause: exactly full

    std::unique_ptr<CEffect> extra = Commands(1);
    EXPECT_FALSE(queue.Add(std::move(extra)));
    EXPECT_NE(extra, nullptr);  // still the caller's
    EXPECT_EQ(queue.GetCount(), 1u);
    EXPECT_EQ(queue.GetPendingBuffers(), kCap);

    // What the worker takes makes room again.
    queue.Stop();
    queue.Clear();
    EXPECT_EQ(queue.GetPendingBuffers(), 0u);
    queue.Restart();
    ASSERT_TRUE(queue.Add(Commands(3)));
    queue.EnsureWorker();
    EXPECT_EQ(sink.WaitFor(4).size(), 4u);
    queue.Stop();
    EXPECT_EQ(queue.GetPendingBuffers(), 0u);
}

TEST(EffectQueueTest, AWorkerWaitsForTheNextEffectThenEndsAndStopEndsTheWaitAtOnce) {
    RecordingSink sink(false);
    CEffectQueue queue(sink);
    bool needsWorker = false;
    queue.Add(Script(CCommandBuffer::Payload({1})), &needsWorker);
    EXPECT_TRUE(needsWorker);
    queue.EnsureWorker();
    ASSERT_EQ(sink.WaitFor(1).size(), 1u);

    queue.Add(Script(CCommandBuffer::Payload({2})), &needsWorker);  // reaches the waiting worker
    EXPECT_FALSE(needsWorker);
    EXPECT_EQ(sink.WaitFor(2), (std::vector<Bytes>{{1}, {2}}));

    std::this_thread::sleep_for(CEffectQueue::kIdleWait + std::chrono::milliseconds(300));
    queue.Add(Script(CCommandBuffer::Payload({3})), &needsWorker);  // the worker has ended
    EXPECT_TRUE(needsWorker);
    queue.EnsureWorker();
    ASSERT_EQ(sink.WaitFor(3).size(), 3u);

    const auto before = std::chrono::steady_clock::now();
    queue.Stop();  // the worker waits for work: it ends at once
    EXPECT_LT(std::chrono::steady_clock::now() - before, CEffectQueue::kIdleWait / 2);
}

}  // namespace
}  // namespace kvsdk::test
