#include "platform/posix/FileWatch.h"

#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>

namespace kvsdk::platform::posix {

namespace {

// What a folder on the way reports about the entries in it (filtered by name) and about itself.
constexpr uint32_t kFolderEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_DELETE_SELF |
                                   IN_MOVE_SELF | IN_ONLYDIR;
// What the file reports about itself. Reading it (as the library does) reports none of these.
constexpr uint32_t kFileEvents =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
// A folder on the way is gone from where it was, or its rights changed.
constexpr uint32_t kFolderChanged =
    IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT | IN_ATTRIB;
// As many links as the kernel follows in one lookup.
constexpr int kMaxLinks = 40;

std::deque<std::string> Components(const std::string& path) {
    std::deque<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? folder + name : folder + '/' + name;
}

}  // namespace

FileWatch::~FileWatch() {
    Disarm();
}

void FileWatch::Disarm() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_fileWatch = -1;
    m_path.clear();
    m_entries.clear();
}

void FileWatch::CloseInChild() noexcept {
    if (m_fd >= 0) ::close(m_fd);
}

bool FileWatch::Arm(const std::string& path) {
    Disarm();
    if (path.empty()) return false;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) return false;
    if (!WatchTheWay(path)) {
        Disarm();
        return false;
    }
    m_path = path;
    // The file the path leads to now (nothing when there is none).
    m_fileWatch = ::inotify_add_watch(m_fd, path.c_str(), kFileEvents);
    return true;
}

// Looks the path up as the kernel does, component by component, splicing in the target of every
// link met on the way.
bool FileWatch::WatchTheWay(const std::string& path) {
    std::deque<std::string> rest = Components(path);
    std::string folder = path.front() == '/' ? "/" : ".";
    int links = 0;
    while (!rest.empty()) {
        const std::string name = rest.front();
        rest.pop_front();
        if (name == ".") continue;
        const int watch = ::inotify_add_watch(m_fd, folder.c_str(), kFolderEvents);
        if (watch < 0) return false;
        m_entries.emplace_back(watch, name);
        const std::string next = Join(folder, name);
        struct stat info {};
        if (::lstat(next.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            char target[PATH_MAX];
            const ssize_t length = ::readlink(next.c_str(), target, sizeof target);
            if (++links > kMaxLinks || length <= 0 || length >= PATH_MAX) return false;
            const std::string to(target, static_cast<size_t>(length));
            const std::deque<std::string> parts = Components(to);
            rest.insert(rest.begin(), parts.begin(), parts.end());
            if (to.front() == '/') folder.assign(1, '/');
            continue;
        }
        folder = next;
    }
    return !m_entries.empty();
}

bool FileWatch::Changed() {
    if (m_fd < 0) return true;
    bool changed = false;
    bool wayChanged = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (got <= 0) {
            // A descriptor that fails cannot be trusted to report anything again.
            wayChanged = true;
            break;
        }
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* name = buffer + at + sizeof event;
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_Q_OVERFLOW) wayChanged = true;
            if (event.wd == m_fileWatch) changed = true;
            for (const auto& [watch, entry] : m_entries) {
                if (watch != event.wd) continue;
                if (event.len == 0 ? (event.mask & kFolderChanged) != 0
                                   : at <= got && entry == name) {
                    wayChanged = true;
                }
            }
        }
    }
    if (wayChanged) {
        const std::string path = m_path;
        (void)Arm(path);
        return true;
    }
    return changed;
}

}  // namespace kvsdk::platform::posix
