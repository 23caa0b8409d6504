// A child made by fork has none of its parent's other threads, yet inherits their locks in
// whatever state they were in: a lock a parent's worker held during a device call stays held in
// the child forever. What the library keeps process-wide (virtual devices, traces, node locks) is
// made afresh in the child, in place and without allocating; the parent's is left behind
// untouched. Nothing to do on Windows, which has no fork.
#pragma once

#ifndef _WIN32
#include <pthread.h>
#endif

namespace kvsdkmod {

inline void RunInForkedChild(void (*handler)()) {
#ifndef _WIN32
    (void)::pthread_atfork(nullptr, nullptr, handler);
#else
    (void)handler;
#endif
}

}  // namespace kvsdkmod
