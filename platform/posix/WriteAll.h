// Writes a whole buffer to a file descriptor, going on after a signal and a partial write.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace kvsdk::platform::posix {

inline bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace kvsdk::platform::posix
