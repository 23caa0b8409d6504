#include "platform/posix/FileWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kvsdk::platform::posix {

namespace {

// What the folder reports about the entries in it (filtered by name) and about itself.
constexpr uint32_t kFolderEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_DELETE_SELF |
                                   IN_MOVE_SELF | IN_ONLYDIR;
// What the file reports about itself. Reading it (as the library does) reports none of these.
constexpr uint32_t kFileEvents =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
// The folder is gone from where it was: the name no longer leads into it.
constexpr uint32_t kFolderLost = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

}  // namespace

CFileWatch::~CFileWatch() {
    Disarm();
}

void CFileWatch::Disarm() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_folderWatch = -1;
    m_fileWatch = -1;
    m_path.clear();
    m_name.clear();
}

void CFileWatch::CloseInChild() noexcept {
    if (m_fd >= 0) ::close(m_fd);
}

bool CFileWatch::Arm(const std::string& path) {
    Disarm();
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return false;

    // Taken before the watches are set: a change in between is seen at the next look.
    m_target = Resolve(path);
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) return false;
    m_folderWatch = ::inotify_add_watch(m_fd, folder.c_str(), kFolderEvents);
    if (m_folderWatch < 0) {
        Disarm();
        return false;
    }
    m_path = path;
    m_name = name;
    RewatchFile();
    return true;
}

CFileWatch::Identity CFileWatch::Resolve(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return Identity{};
    return Identity{true, static_cast<unsigned long long>(info.st_dev),
                    static_cast<unsigned long long>(info.st_ino)};
}

// Points the file watch at whatever the name leads to now (nothing when there is no file).
void CFileWatch::RewatchFile() {
    const int watch = ::inotify_add_watch(m_fd, m_path.c_str(), kFileEvents);
    // Watching the same file again answers the same descriptor; only a different one replaces
    // the old watch.
    if (m_fileWatch >= 0 && watch != m_fileWatch) (void)::inotify_rm_watch(m_fd, m_fileWatch);
    m_fileWatch = watch;
}

bool CFileWatch::Changed() {
    if (m_fd < 0) return true;
    if (Resolve(m_path) != m_target) {
        // The path leads to another file (or none, or one where there was none): set afresh.
        const std::string path = m_path;
        (void)Arm(path);
        return true;
    }
    bool changed = false;
    bool folderLost = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (got <= 0) {
            // A descriptor that fails cannot be trusted to report anything again.
            folderLost = true;
            break;
        }
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* name = buffer + at + sizeof event;
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_Q_OVERFLOW) {
                changed = true;
            } else if (event.wd == m_folderWatch) {
                if (event.mask & kFolderLost) folderLost = true;
                if (event.len > 0 && at <= got && m_name == name) changed = true;
            } else if (event.wd == m_fileWatch) {
                changed = true;
            }
        }
    }
    if (folderLost) {
        Disarm();
        return true;
    }
    if (changed) {
        m_target = Resolve(m_path);
        RewatchFile();
    }
    return changed;
}

}  // namespace kvsdk::platform::posix
