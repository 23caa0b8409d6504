#include "tools/kvsdk/ToolPlatform.h"

#include <algorithm>
#include <cstdlib>

#include "common/Strings.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kvsdk::tool {

std::filesystem::path ExecutableFolder() {
#ifdef _WIN32
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::filesystem::current_path();
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer).parent_path();
#else
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : self.parent_path();
#endif
}

std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> words;
#ifdef _WIN32
    // The narrow argv is in the ANSI code page; the wide command line has every character.
    (void)argv;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        for (int i = 1; i < count; ++i) words.push_back(ToUtf8(wide[i]));
        LocalFree(wide);
        return words;
    }
#endif
    for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
    return words;
}

std::filesystem::path PathFromUtf8(const std::string& text) {
#ifdef _WIN32
    return std::filesystem::path(FromUtf8(text));
#else
    return std::filesystem::path(text);
#endif
}

std::string PathToUtf8(const std::filesystem::path& path) {
#ifdef _WIN32
    return ToUtf8(path.wstring());
#else
    return path.string();
#endif
}

void SetEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
    const std::wstring wideName = FromUtf8(name);
    const std::wstring wideValue = FromUtf8(value);
    SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str());
    _wputenv_s(wideName.c_str(), wideValue.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::optional<std::string> GetEnvironment(const std::string& name) {
    const auto value = GetEnvironmentString(FromUtf8(name).c_str());
    if (!value) return std::nullopt;
    return ToUtf8(*value);
}

std::optional<FileSlice> ReadFileSlice(const std::filesystem::path& path, uint64_t offset,
                                       size_t maxBytes) {
    FileSlice slice;
#ifdef _WIN32
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    slice.identity = (uint64_t{info.dwVolumeSerialNumber} << 32) ^
                     (uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow);
    slice.size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    if (offset >= slice.size) return slice;
    slice.bytes.resize(static_cast<size_t>(std::min<uint64_t>(maxBytes, slice.size - offset)));
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !ReadFile(file, slice.bytes.data(), static_cast<DWORD>(slice.bytes.size()), &got,
                  nullptr)) {
        return std::nullopt;
    }
    slice.bytes.resize(got);
#else
    // O_NONBLOCK: a FIFO without a writer or a device opens at once and fstat refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    slice.identity = (static_cast<uint64_t>(info.st_dev) << 32) ^ info.st_ino;
    slice.size = static_cast<uint64_t>(info.st_size);
    if (offset >= slice.size) return slice;
    slice.bytes.resize(static_cast<size_t>(std::min<uint64_t>(maxBytes, slice.size - offset)));
    ssize_t got = -1;
    do {
        got = ::pread(fd, slice.bytes.data(), slice.bytes.size(), static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    if (got < 0) return std::nullopt;
    slice.bytes.resize(static_cast<size_t>(got));
#endif
    return slice;
}

}  // namespace kvsdk::tool
