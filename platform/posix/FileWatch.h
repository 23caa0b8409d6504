// A change watch on one file through inotify, so that asking "has it changed?" costs one read of
// a non-blocking descriptor instead of a path lookup.
#pragma once

#include <string>

namespace kvsdk::platform::posix {

// Watches the folder that holds the file (creation, removal, writes, renames onto or away from
// its name) and the file itself, following links, so that a linked file's target is seen too.
// The kernel queues an event before the call that made the change returns, so a look that
// begins after a change always sees it. The watches hold the folder and file that the path led
// to when they were set; every look also asks the path once (stat) whether it still leads to
// the same file, since a link on the way re-pointed, or a folder on the way renamed and made
// again, leads elsewhere without any event on what is watched. Then the watch is set afresh.
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
    // In a child made by fork: closes the inherited descriptor and nothing else, for the owner
    // to rebuild the object in place.
    void CloseInChild() noexcept;
    bool Armed() const { return m_folderWatch >= 0; }
    const std::string& Path() const { return m_path; }

    // True when the file may have changed since it was armed or since the previous call. A watch
    // that lost its folder (removed or moved) answers true and disarms itself; one whose path
    // leads elsewhere now answers true and is armed afresh. Never blocks.
    bool Changed();

  private:
    // What the path leads to: a file's device and inode, or nothing.
    struct Identity {
        bool exists = false;
        unsigned long long device = 0;
        unsigned long long inode = 0;
        bool operator==(const Identity&) const = default;
    };
    static Identity Resolve(const std::string& path);
    void RewatchFile();

    int m_fd = -1;
    int m_folderWatch = -1;
    int m_fileWatch = -1;
    std::string m_path;
    std::string m_name;  // the file's name within its folder
    Identity m_target;   // what the path led to when the watches were last set
};

}  // namespace kvsdk::platform::posix
