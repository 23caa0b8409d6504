// Stopping a background thread that sleeps on a condition variable.
//
// The thread's wait predicate reads its own stop_token. The stopper requests the stop, then takes
// and releases the waiter's mutex before notifying: the waiter has either seen the request before
// it went to sleep or is asleep and receives the notification, so no wake-up is lost.
//
// This replaces condition_variable_any's stop_token waits, which register a stop_callback: when
// the stop races the waiter's return, the waiter's callback deregistration blocks on a semaphore
// whose wake-up MinGW's C++ library can miss, and the stopping thread then joins forever.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kvsdk {

inline void StopAndWake(std::jthread& thread, std::mutex& waitLock, std::condition_variable& wake) {
    thread.request_stop();
    { std::lock_guard<std::mutex> barrier(waitLock); }
    wake.notify_all();
}

}  // namespace kvsdk
