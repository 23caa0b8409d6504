// The registry on Linux: values read from the .reg files that stand in for the two hives
// (common/posix/RegFile), and the change stamp, an inotify watch on a hive's file and on every
// folder on the way to it (FileWatch), with stat where no watch can be set.
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "common/posix/RegFile.h"
#include "platform/Platform.h"
#include "platform/posix/FileWatch.h"

namespace kvsdk::platform {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> RegistryFile(Hive hive) {
    std::string path;
    kvsdk::posix::RegistryFileName(hive, path);
    if (path.empty()) return std::nullopt;
    return fs::path(path);
}

// A file whose time stamps are this close to the current time (or ahead of it) may still be
// rewritten without its stamps moving: it counts as changed at every look.
constexpr int64_t kSettledNanoseconds = 100'000'000;

int64_t Nanoseconds(const timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// What one stat tells about a hive's file.
struct FileSignature {
    std::string path;
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modified = 0;
    int64_t changed = 0;

    bool operator==(const FileSignature&) const = default;
};

// One stat of 'path': true when it differs from 'last' (which it replaces) or is too fresh to
// tell.
bool SignatureChanged(const std::string& path, FileSignature& last) {
    FileSignature now;
    now.path = path;
    bool settled = true;
    struct stat info {};
    if (!path.empty() && ::stat(path.c_str(), &info) == 0) {
        now.exists = true;
        now.device = info.st_dev;
        now.inode = info.st_ino;
        now.size = info.st_size;
        now.modified = Nanoseconds(info.st_mtim);
        now.changed = Nanoseconds(info.st_ctim);
        timespec clock{};
        ::clock_gettime(CLOCK_REALTIME, &clock);
        const int64_t latest = std::max(now.modified, now.changed);
        settled = Nanoseconds(clock) - latest > kSettledNanoseconds;
    }
    const bool changed = !settled || !(now == last);
    last = std::move(now);
    return changed;
}

struct HiveWatch {
    std::mutex lock;
    bool known = false;
    std::string path;        // the hive's file at the latest look
    posix::FileWatch watch;  // armed on 'path' whenever it can be
    FileSignature last;      // what stat told while it could not
    uint64_t stamp = 0;
};

// A child made by fork watches afresh. The inotify descriptor it inherited shares its event queue
// with the parent's, so whichever process read first would take the other's events, and a lock
// that a thread of the parent held stays held in the child: the watch is rebuilt in place (its
// descriptor closed, nothing else of it touched). The stamp goes on from where it was, so that
// whatever was read before counts as stale at the child's first look.
void RenewInChild(HiveWatch* watch) {
    const uint64_t stamp = watch->stamp;
    watch->watch.CloseInChild();
    new (watch) HiveWatch;
    watch->stamp = stamp;
}

// Never destroyed: a call during the process's exit still finds them.
HiveWatch& WatchOf(Hive hive) {
    static HiveWatch* user = new HiveWatch;
    static HiveWatch* machine = new HiveWatch;
    static const bool renewed = [] {
        RunInForkedChild([] {
            RenewInChild(user);
            RenewInChild(machine);
        });
        return true;
    }();
    (void)renewed;
    return hive == Hive::CurrentUser ? *user : *machine;
}

}  // namespace

// A watched file costs one read of the watch's descriptor per look. A file that cannot be
// watched (its folder is missing, or no inotify instance is left) is looked at with stat, and
// every change stat sees is a moment to try watching it again; arming counts as a change, since
// what was read before the watch began may already be stale. So does a child's first look after
// fork (RenewInChild), since the parent may have taken the events since.
uint64_t RegistryChangeStamp(Hive hive) {
    HiveWatch& hw = WatchOf(hive);
    std::lock_guard guard(hw.lock);
    bool changed = true;
    try {
        kvsdk::posix::RegistryFileName(hive, hw.path);
        if (hw.watch.Armed() && hw.watch.Path() == hw.path) {
            changed = hw.watch.Changed();
        } else {
            hw.watch.Disarm();
            changed = SignatureChanged(hw.path, hw.last);
            if (changed && !hw.path.empty()) (void)hw.watch.Arm(hw.path);
        }
    } catch (...) {
        changed = true;
    }
    if (!hw.known || changed) {
        ++hw.stamp;
        hw.known = true;
    }
    return hw.stamp;
}

// Files carry no access rights of their own, so 'access' is not checked: a key present in the
// file opens with any access mask.
RegistryValue QueryRegistryValue(Hive hive, const std::wstring& subkey, uint32_t /*access*/,
                                 const std::wstring& valueName, uint32_t bufferSize) {
    try {
        const auto file = RegistryFile(hive);
        const auto contents = file ? kvsdk::posix::CRegFile::Load(*file) : std::nullopt;
        return kvsdk::posix::QueryRegFile(contents ? &*contents : nullptr, hive, subkey, valueName,
                                          bufferSize);
    } catch (...) {
        return RegistryValue{};
    }
}

}  // namespace kvsdk::platform
