// A reader/writer lock that prefers writers: while a writer waits, no new reader enters, so
// KvSDKEngInit and KvSDKEngUninit are never starved by a stream of effect calls. Built on a
// mutex and a condition variable, so it behaves the same with every thread library the
// library is built with. Usable with std::unique_lock and std::shared_lock.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace kvsdk {

class CReaderWriterLock {
  public:
    void lock() {
        std::unique_lock<std::mutex> guard(m_mutex);
        ++m_waitingWriters;
        m_changed.wait(guard, [this] { return !m_bWriter && m_readers == 0; });
        --m_waitingWriters;
        m_bWriter = true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_bWriter = false;
        }
        m_changed.notify_all();
    }
    void lock_shared() {
        std::unique_lock<std::mutex> guard(m_mutex);
        m_changed.wait(guard, [this] { return !m_bWriter && m_waitingWriters == 0; });
        ++m_readers;
    }
    void unlock_shared() {
        bool last = false;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            last = --m_readers == 0;
        }
        if (last) m_changed.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_readers = 0;
    size_t m_waitingWriters = 0;
    bool m_bWriter = false;
};

}  // namespace kvsdk
