#include "common/SafeFile.h"

#include <algorithm>

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

using NativeChar = std::filesystem::path::value_type;

// A regular file opened for reading, or nothing (false). On Windows, devices (CON, NUL, COM1) and
// pipes open as files too, so only a disk file is kept; elsewhere O_NONBLOCK makes a FIFO without
// a writer, or a device, open at once, and fstat then refuses it before anything is read.
class RegularFile {
  public:
    explicit RegularFile(const NativeChar* path) {
#ifdef _WIN32
        m_handle =
            CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) return;
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileType(m_handle) != FILE_TYPE_DISK ||
            !GetFileInformationByHandle(m_handle, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            CloseHandle(m_handle);
            m_handle = INVALID_HANDLE_VALUE;
            return;
        }
        m_identity = (uint64_t{info.dwVolumeSerialNumber} << 32) ^
                     (uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow);
        m_size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
#else
        m_fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0) return;
        struct stat info {};
        if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_identity = (static_cast<uint64_t>(info.st_dev) << 32) ^ info.st_ino;
        m_size = static_cast<uint64_t>(info.st_size);
#endif
    }
    ~RegularFile() {
#ifdef _WIN32
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
#else
        if (m_fd >= 0) ::close(m_fd);
#endif
    }
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    explicit operator bool() const {
#ifdef _WIN32
        return m_handle != INVALID_HANDLE_VALUE;
#else
        return m_fd >= 0;
#endif
    }
    uint64_t Identity() const {
        return m_identity;
    }
    uint64_t Size() const {
        return m_size;
    }

    // Bytes read into 'buffer' from where the last read ended, or from 'offset' when given; 0 at
    // the end, nothing on failure.
    std::optional<size_t> Read(char* buffer, size_t want,
                               std::optional<uint64_t> offset = std::nullopt) {
#ifdef _WIN32
        if (offset) {
            LARGE_INTEGER at{};
            at.QuadPart = static_cast<LONGLONG>(*offset);
            if (!SetFilePointerEx(m_handle, at, nullptr, FILE_BEGIN)) return std::nullopt;
        }
        DWORD got = 0;
        if (!ReadFile(m_handle, buffer, static_cast<DWORD>(want), &got, nullptr)) {
            return std::nullopt;
        }
        return got;
#else
        for (;;) {
            const ssize_t got = offset ? ::pread(m_fd, buffer, want, static_cast<off_t>(*offset))
                                       : ::read(m_fd, buffer, want);
            if (got >= 0) return static_cast<size_t>(got);
            if (errno != EINTR) return std::nullopt;
        }
#endif
    }

  private:
#ifdef _WIN32
    HANDLE m_handle = INVALID_HANDLE_VALUE;
#else
    int m_fd = -1;
#endif
    uint64_t m_identity = 0;
    uint64_t m_size = 0;
};

std::optional<std::string> ReadNative(const NativeChar* path, size_t maxBytes) {
    RegularFile file(path);
    if (!file) return std::nullopt;
    return ReadBounded(maxBytes,
                       [&file](char* buffer, size_t want) { return file.Read(buffer, want); });
}

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

std::optional<FileSlice> ReadRegularFileSlice(const std::filesystem::path& path, uint64_t offset,
                                              size_t maxBytes) {
    if (path.empty()) return std::nullopt;
    RegularFile file(path.c_str());
    if (!file) return std::nullopt;
    FileSlice slice{file.Identity(), file.Size(), {}};
    if (offset >= slice.size) return slice;
    slice.bytes.resize(static_cast<size_t>(std::min<uint64_t>(maxBytes, slice.size - offset)));
    const std::optional<size_t> got = file.Read(slice.bytes.data(), slice.bytes.size(), offset);
    if (!got) return std::nullopt;
    slice.bytes.resize(*got);
    return slice;
}

}  // namespace kvsdk
