// The log file on Linux: the user's home folder, and a file opened for appending that an
// exclusive advisory lock (flock) keeps to one writer at a time.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>

#include "common/Strings.h"
#include "platform/Platform.h"
#include "platform/posix/WriteAll.h"

namespace kvsdk::platform {

namespace {

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0' ? nullptr : value;
}

}  // namespace

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
        return posix::WriteAll(file->fd, bytes.data(), bytes.size()) && complete;
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

}  // namespace kvsdk::platform
