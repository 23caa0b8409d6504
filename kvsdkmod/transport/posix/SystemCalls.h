// The few system calls the Linux transport makes, as one table. The library uses the system's
// own; a test replaces the table to check every ioctl number and buffer and to make the kernel
// answer what a real device would (ENODEV, EPIPE, ETIMEDOUT, EBUSY, a node that is now another
// device).
#pragma once

#include <poll.h>
#include <sys/types.h>

namespace kvsdkmod::transport::posix {

struct SystemCalls {
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*poll)(struct pollfd* fds, nfds_t count, int timeoutMs);
};

// The table in use.
const SystemCalls& Calls();

// Puts 'calls' in use until destroyed (tests; set it while no device is open).
class ScopedSystemCalls {
  public:
    explicit ScopedSystemCalls(const SystemCalls& calls);
    ~ScopedSystemCalls();
    ScopedSystemCalls(const ScopedSystemCalls&) = delete;
    ScopedSystemCalls& operator=(const ScopedSystemCalls&) = delete;

  private:
    const SystemCalls* m_previous;
};

}  // namespace kvsdkmod::transport::posix
