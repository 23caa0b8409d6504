#include "common/SafeFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "common/Strings.h"

namespace kvsdk {

namespace {

constexpr size_t kChunk = 64u * 1024u;

// Reads chunks through 'readSome(buffer, size)' (bytes read, 0 at the end, nothing on failure)
// until the end; more than 'maxBytes' is a failure.
template <class ReadSome>
std::optional<std::string> ReadBounded(size_t maxBytes, ReadSome&& readSome) {
    std::string text;
    for (;;) {
        const size_t room = maxBytes + 1 - text.size();
        const size_t want = room < kChunk ? room : kChunk;
        const size_t before = text.size();
        text.resize(before + want);
        const std::optional<size_t> got = readSome(text.data() + before, want);
        if (!got) return std::nullopt;
        text.resize(before + *got);
        if (*got == 0) break;
        if (text.size() > maxBytes) return std::nullopt;
    }
    return text;
}

#ifdef _WIN32

std::optional<std::string> ReadNative(const wchar_t* path, size_t maxBytes) {
    // Devices (CON, NUL, COM1) and pipes open as files too: only a disk file is read.
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    struct Closer {
        HANDLE handle;
        ~Closer() { CloseHandle(handle); }
    } closer{file};
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return ReadBounded(maxBytes, [file](char* buffer, size_t want) -> std::optional<size_t> {
        DWORD got = 0;
        if (!ReadFile(file, buffer, static_cast<DWORD>(want), &got, nullptr)) return std::nullopt;
        return got;
    });
}

#else

std::optional<std::string> ReadNative(const char* path, size_t maxBytes) {
    // O_NONBLOCK: opening a FIFO without a writer, or a device, returns at once; fstat then
    // refuses it before anything is read.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return ReadBounded(maxBytes, [fd](char* buffer, size_t want) -> std::optional<size_t> {
        for (;;) {
            const ssize_t got = ::read(fd, buffer, want);
            if (got >= 0) return static_cast<size_t>(got);
            if (errno != EINTR) return std::nullopt;
        }
    });
}

#endif

}  // namespace

std::optional<std::string> ReadRegularFile(const std::filesystem::path& path, size_t maxBytes) {
    try {
        if (path.empty()) return std::nullopt;
        return ReadNative(path.c_str(), maxBytes);
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> ReadRegularFile(const std::wstring& path, size_t maxBytes) {
    try {
        if (path.empty()) return std::nullopt;
#ifdef _WIN32
        return ReadNative(path.c_str(), maxBytes);
#else
        return ReadNative(ToUtf8(path).c_str(), maxBytes);
#endif
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace kvsdk
