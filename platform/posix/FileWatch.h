// A change watch on one file through inotify, so that asking "has it changed?" costs one read of
// a non-blocking descriptor instead of a path lookup.
#pragma once

#include <string>

namespace kvsdk::platform::posix {

// Watches the folder that holds the file (creation, removal, writes, renames onto or away from
// its name) and the file itself, following links, so that a linked file's target is seen too.
// The kernel queues an event before the call that made the change returns, so a look that
// begins after a change always sees it.
class CFileWatch {
  public:
    CFileWatch() = default;
    ~CFileWatch();
    CFileWatch(const CFileWatch&) = delete;
    CFileWatch& operator=(const CFileWatch&) = delete;

    // Starts watching 'path' (an absolute or relative file name), dropping any earlier watch.
    // False when it cannot be watched (no folder, no inotify instance left); the watch is then
    // unarmed and the caller has to look at the file itself.
    bool Arm(const std::string& path);
    void Disarm();
    bool Armed() const { return m_folderWatch >= 0; }
    const std::string& Path() const { return m_path; }

    // True when the file may have changed since it was armed or since the previous call. A watch
    // that lost its folder (removed or moved) answers true and disarms itself. Never blocks.
    bool Changed();

  private:
    void RewatchFile();

    int m_fd = -1;
    int m_folderWatch = -1;
    int m_fileWatch = -1;
    std::string m_path;
    std::string m_name;  // the file's name within its folder
};

}  // namespace kvsdk::platform::posix
