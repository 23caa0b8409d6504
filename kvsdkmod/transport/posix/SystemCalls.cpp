#include "kvsdkmod/transport/posix/SystemCalls.h"

#include <atomic>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kvsdkmod::transport::posix {

namespace {

int Open(const char* path, int flags) {
    return ::open(path, flags);
}

int Ioctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}

constexpr SystemCalls kSystem{Open, ::close, ::read, ::write, Ioctl, ::poll};

std::atomic<const SystemCalls*> g_calls{&kSystem};

}  // namespace

const SystemCalls& Calls() {
    return *g_calls.load(std::memory_order_acquire);
}

ScopedSystemCalls::ScopedSystemCalls(const SystemCalls& calls)
    : m_previous(g_calls.exchange(&calls, std::memory_order_acq_rel)) {}

ScopedSystemCalls::~ScopedSystemCalls() {
    g_calls.store(m_previous, std::memory_order_release);
}

}  // namespace kvsdkmod::transport::posix
