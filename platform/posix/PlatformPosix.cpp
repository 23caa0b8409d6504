// The platform interface on Linux: sysfs for the device interfaces, .reg files for the registry,
// standard error for the debugger channel, an advisory lock for the log file's exclusive open.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>

#include "platform/Platform.h"
#include "platform/posix/FileWatch.h"
#include "common/posix/RegFile.h"
#include "common/Strings.h"
#include "platform/posix/SysfsEnumeration.h"

namespace kvsdk::platform {

namespace fs = std::filesystem;

// --- Device interfaces --------------------------------------------------------------------

struct CInterfaceList::Snapshot {
    std::vector<std::wstring> paths;
};

CInterfaceList::CInterfaceList(const GUID& classGuid) : m_snapshot(new (std::nothrow) Snapshot) {
    if (!m_snapshot) return;
    try {
        m_snapshot->paths = posix::ListInterfacePaths(posix::SysfsRoot(), classGuid);
    } catch (...) {
        m_snapshot.reset();
    }
}

CInterfaceList::~CInterfaceList() = default;

HRESULT CInterfaceList::Path(uint32_t index, std::wstring& path) const {
    if (!m_snapshot) return kE_OUTOFMEMORY;
    try {
        if (index >= m_snapshot->paths.size()) return HResultFromWin32(kErrorNoMoreItems);
        path = m_snapshot->paths[index];
        return kS_OK;
    } catch (...) {
        return kE_OUTOFMEMORY;
    }
}

HRESULT EnumInterfacePath(const GUID& classGuid, uint32_t index, std::wstring& path) {
    return CInterfaceList(classGuid).Path(index, path);
}

// --- Registry -----------------------------------------------------------------------------

namespace {

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0' ? nullptr : value;
}

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
    std::string path;         // the hive's file at the latest look
    posix::CFileWatch watch;  // armed on 'path' whenever it can be
    FileSignature last;       // what stat told while it could not
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

// --- Diagnostics ----------------------------------------------------------------------------

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
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

}  // namespace

void DebugOutput(const std::wstring& text) {
    try {
        const std::string bytes = ToUtf8(text);
        WriteAll(STDERR_FILENO, bytes.data(), bytes.size());
    } catch (...) {
        // The debugger channel never fails its caller.
    }
}

LocalTime GetLocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    LocalTime result;
    if (localtime_r(&now, &parts) == nullptr) return result;
    result.year = parts.tm_year + 1900;
    result.month = parts.tm_mon + 1;
    result.day = parts.tm_mday;
    result.hour = parts.tm_hour;
    result.minute = parts.tm_min;
    result.second = parts.tm_sec;
    return result;
}

namespace {

struct MessageEntry {
    uint32_t code;
    const wchar_t* text;
};

// The system texts (English, as the message table returns them, line end included) of the codes
// this library and its device-I/O library produce.
constexpr MessageEntry kMessages[] = {
    {0x00000000u, L"The operation completed successfully.\r\n"},
    {0x80004001u, L"Not implemented\r\n"},
    {0x80004002u, L"No such interface supported\r\n"},
    {0x80004003u, L"Invalid pointer\r\n"},
    {0x80004004u, L"Operation aborted\r\n"},
    {0x80004005u, L"Unspecified error\r\n"},
    {0x8000FFFFu, L"Catastrophic failure\r\n"},
    {0x80070001u, L"Incorrect function.\r\n"},
    {0x80070002u, L"The system cannot find the file specified.\r\n"},
    {0x80070003u, L"The system cannot find the path specified.\r\n"},
    {0x80070005u, L"Access is denied.\r\n"},
    {0x80070006u, L"The handle is invalid.\r\n"},
    {0x80070008u, L"Not enough memory resources are available to process this command.\r\n"},
    {0x8007000Du, L"The data is invalid.\r\n"},
    {0x8007000Eu, L"Not enough memory resources are available to complete this operation.\r\n"},
    {0x80070014u, L"The system cannot find the device specified.\r\n"},
    {0x80070015u, L"The device is not ready.\r\n"},
    {0x80070017u, L"Data error (cyclic redundancy check).\r\n"},
    {0x80070018u, L"The program issued a command but the command length is incorrect.\r\n"},
    {0x8007001Du, L"The system cannot write to the specified device.\r\n"},
    {0x8007001Eu, L"The system cannot read from the specified device.\r\n"},
    {0x8007001Fu, L"A device attached to the system is not functioning.\r\n"},
    {0x80070020u,
     L"The process cannot access the file because it is being used by another process.\r\n"},
    {0x80070032u, L"The request is not supported.\r\n"},
    {0x80070037u, L"The specified network resource or device is no longer available.\r\n"},
    {0x80070057u, L"The parameter is incorrect.\r\n"},
    {0x80070079u, L"The semaphore timeout period has expired.\r\n"},
    {0x8007007Au, L"The data area passed to a system call is too small.\r\n"},
    {0x800700AAu, L"The requested resource is in use.\r\n"},
    {0x800700EAu, L"More data is available.\r\n"},
    {0x80070103u, L"No more data is available.\r\n"},
    {0x800701B1u, L"A device which does not exist was specified.\r\n"},
    {0x800703E3u,
     L"The I/O operation has been aborted because of either a thread exit or an application "
     L"request.\r\n"},
    {0x800703E5u, L"Overlapped I/O operation is in progress.\r\n"},
    {0x8007045Du, L"The request could not be performed because of an I/O device error.\r\n"},
    {0x8007048Fu, L"The device is not connected.\r\n"},
    {0x80070490u, L"Element not found.\r\n"},
    {0x800705B4u, L"This operation returned because the timeout period expired.\r\n"},
};

}  // namespace

std::optional<std::wstring> SystemMessageText(HRESULT hr) {
    auto code = static_cast<uint32_t>(hr);
    // A plain Windows error number has the same text as its HRESULT.
    if (code != 0 && code <= 0xFFFFu) code = static_cast<uint32_t>(HResultFromWin32(code));
    for (const auto& entry : kMessages) {
        if (entry.code == code) return std::wstring(entry.text);
    }
    return std::nullopt;
}

const wchar_t* ProfileVariableName() {
    return L"HOME";
}

wchar_t PathSeparator() {
    return L'/';
}

std::optional<std::wstring> ProfileDirectory() {
    try {
        if (const char* home = NonEmptyEnv("HOME")) return FromUtf8(home);
        // HOME unset or empty (a service, a stripped environment): the account's own home,
        // never the filesystem root.
        long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
        if (bufferSize <= 0) bufferSize = 16384;
        std::string buffer(static_cast<size_t>(bufferSize), '\0');
        struct passwd entry {};
        struct passwd* found = nullptr;
        while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
               buffer.size() < 1024u * 1024u) {
            buffer.resize(buffer.size() * 2);
        }
        if (found == nullptr || found->pw_dir == nullptr) return std::nullopt;
        const std::string directory = found->pw_dir;
        if (directory.empty() || directory.find_first_not_of('/') == std::string::npos) {
            return std::nullopt;
        }
        return FromUtf8(directory);
    } catch (...) {
        return std::nullopt;
    }
}

// --- The log file -----------------------------------------------------------------------------

struct ExclusiveFile {
    int fd = -1;
    ~ExclusiveFile() {
        if (fd >= 0) ::close(fd);
    }
};

// "No sharing" is an exclusive flock on the open file: a second open, from this process or from
// another one that takes the lock too, fails while the first holder keeps it. The lock is
// advisory, so a program that does not ask for it can still open the file.
ExclusiveFile* OpenExclusiveAppend(const std::wstring& path) {
    try {
        if (path.empty()) return nullptr;
        auto file = std::make_unique<ExclusiveFile>();
        // O_NOFOLLOW: a symbolic link planted at the name is refused. O_NONBLOCK: a FIFO or a
        // device there cannot stall the caller; fstat then refuses anything but a regular file.
        file->fd = ::open(
            ToUtf8(path).c_str(),
            O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
        if (file->fd < 0) return nullptr;
        struct stat info {};
        if (::fstat(file->fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
        if (::flock(file->fd, LOCK_EX | LOCK_NB) != 0) return nullptr;
        return file.release();
    } catch (...) {
        return nullptr;
    }
}

namespace {

// True when the thread's C locale is the plain "C" (or "POSIX") one.
bool IsClassicLocale() {
    const char* name = std::setlocale(LC_CTYPE, nullptr);
    return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

}  // namespace

// Each character becomes its multibyte form in the current locale (wcrtomb), and the first one
// that has none ends the line; that line then counts as a failed write, as the runtime reports
// it. In the plain "C" locale, characters up to 0xFF become one byte of the same value, as they
// do in the default locale of the Windows runtime. Line feeds stay single line feeds: text mode
// on Linux writes the native line end.
bool WriteExclusiveFile(ExclusiveFile* file, const std::wstring& text) {
    if (file == nullptr || file->fd < 0) return false;
    try {
        std::string bytes;
        bytes.reserve(text.size());
        std::mbstate_t state{};
        const bool classic = IsClassicLocale();
        bool complete = true;
        for (const wchar_t c : text) {
            char buffer[MB_LEN_MAX];
            const size_t length = std::wcrtomb(buffer, c, &state);
            if (length != static_cast<size_t>(-1)) {
                bytes.append(buffer, length);
            } else if (classic && static_cast<uint32_t>(c) <= 0xFFu) {
                bytes.push_back(static_cast<char>(static_cast<unsigned char>(c)));
                state = std::mbstate_t{};
            } else {
                complete = false;
                break;
            }
        }
        return WriteAll(file->fd, bytes.data(), bytes.size()) && complete;
    } catch (...) {
        return false;
    }
}

uint64_t ExclusiveFileSize(ExclusiveFile* file) {
    struct stat info {};
    if (file == nullptr || file->fd < 0 || ::fstat(file->fd, &info) != 0) return 0;
    return static_cast<uint64_t>(info.st_size);
}

void CloseExclusiveFile(ExclusiveFile* file) {
    delete file;
}

// The lock is advisory and says nothing about the name: between another process's open of the
// file and its lock, this one may have moved the file aside. The name then leads to a new file,
// which must not be moved over the one moved aside.
bool MoveHeldFileAside(ExclusiveFile* file, const std::wstring& path, const std::wstring& to) {
    if (file == nullptr || file->fd < 0) return false;
    try {
        const std::string from = ToUtf8(path);
        struct stat held {};
        struct stat named {};
        if (::fstat(file->fd, &held) != 0 || ::lstat(from.c_str(), &named) != 0 ||
            held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            return false;
        }
        return ::rename(from.c_str(), ToUtf8(to).c_str()) == 0;
    } catch (...) {
        return false;
    }
}

// --- The shared wake-up event ----------------------------------------------------------------

// There is no named kernel event on Linux; the engine wakes its threads by its own means.
void* CreateNewEffectEvent() {
    return nullptr;
}
void SetNewEffectEvent(void* /*handle*/) {}
void CloseNewEffectEvent(void* /*handle*/) {}

// --- Processes
// ------------------------------------------------------------------------------------

void RunInForkedChild(void (*handler)()) {
    (void)::pthread_atfork(nullptr, nullptr, handler);
}

// --- The library's own module ------------------------------------------------------------------

void KeepModuleLoaded() {
    static const bool kept = [] {
        static const char anchor = 0;
        Dl_info info{};
        if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) return false;
        // A reference taken without loading anything; the mark stays when it is dropped again.
        void* self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        if (self == nullptr) return false;
        dlclose(self);
        return true;
    }();
    (void)kept;
}

}  // namespace kvsdk::platform
