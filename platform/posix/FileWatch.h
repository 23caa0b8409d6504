// A change watch on one file through inotify, so that asking "has it changed?" costs one read of
// a non-blocking descriptor instead of a path lookup.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kvsdk::platform::posix {

// Watches the file itself, following links, so that a linked file's target is seen too, and
// every folder that the path passes through on its way to it (links followed as the kernel
// follows them): each for the one entry the path takes there (created, removed, renamed away or
// onto, changed) and for itself (removed, moved). So a rewrite or replacement of the file and any
// change of what the path leads to (a link on the way re-pointed, a folder on the way renamed or
// made again) are seen; the path is then looked up afresh and the watch set again. The kernel
// queues an event before the call that made the change returns, so a look that begins after a
// change always sees it.
class FileWatch {
  public:
    FileWatch() = default;
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Starts watching 'path' (an absolute or relative file name), dropping any earlier watch.
    // False when it cannot be watched (a folder on the way missing or unreadable, a loop of
    // links, no inotify instance left); the watch is then unarmed and the caller has to look at
    // the file itself.
    bool Arm(const std::string& path);
    void Disarm();
    // In a child made by fork: closes the inherited descriptor and nothing else, for the owner
    // to rebuild the object in place.
    void CloseInChild() noexcept;
    bool Armed() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }

    // True when the file may have changed since it was armed or since the previous call. When
    // the way to it may have changed, the watch is set afresh (or, when that fails, left
    // unarmed). Never blocks.
    bool Changed();

  private:
    // Watches the folders on the way to 'path', for the entries it takes there.
    bool WatchTheWay(const std::string& path);

    int m_fd = -1;
    int m_fileWatch = -1;
    std::string m_path;
    // Each folder on the way (its watch descriptor) with the name that the path takes in it.
    std::vector<std::pair<int, std::string>> m_entries;
};

}  // namespace kvsdk::platform::posix
