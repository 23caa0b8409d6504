#include "kvsdkmod/sim/Trace.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "common/Strings.h"

namespace kvsdkmod::sim {

namespace {

// The trace file, kept open in append mode between lines and opened again when
// KVSDK_SIM_TRACE names another file or the file held was removed (Linux: or replaced). Only a
// regular file is written; a FIFO or a device at the name is refused without blocking and loses the
// line.
class TraceFile {
  public:
    // Appends 'line' with one write to the file 'path'.
    void Append(const std::wstring& path, const std::string& line) {
        if (path != m_path || !IsCurrent()) Reopen(path);
        if (!IsOpen()) return;
#ifdef _WIN32
        DWORD written = 0;
        WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
#else
        size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
#endif
    }

  private:
#ifdef _WIN32
    bool IsOpen() const {
        return m_file != INVALID_HANDLE_VALUE;
    }
    // A held file that somebody deleted stays until closed and blocks a new one of that name.
    bool IsCurrent() const {
        FILE_STANDARD_INFO info{};
        return IsOpen() &&
               GetFileInformationByHandleEx(m_file, FileStandardInfo, &info, sizeof info) &&
               !info.DeletePending;
    }
    void Close() {
        if (IsOpen()) CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
    void Reopen(const std::wstring& path) {
        Close();
        m_path = path;
        m_file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (IsOpen() && GetFileType(m_file) != FILE_TYPE_DISK) Close();
    }
    HANDLE m_file = INVALID_HANDLE_VALUE;
#else
    bool IsOpen() const {
        return m_fd >= 0;
    }
    bool IsCurrent() const {
        struct stat held {};
        struct stat named {};
        return IsOpen() && ::fstat(m_fd, &held) == 0 && ::stat(m_nativePath.c_str(), &named) == 0 &&
               held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    }
    void Close() {
        if (IsOpen()) ::close(m_fd);
        m_fd = -1;
    }
    void Reopen(const std::wstring& path) {
        Close();
        m_path = path;
        m_nativePath = kvsdk::ToUtf8(path);
        m_fd = ::open(m_nativePath.c_str(),
                      O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
        struct stat info {};
        if (IsOpen() && (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode))) Close();
    }
    int m_fd = -1;
    std::string m_nativePath;
#endif
    std::wstring m_path;
};

struct TraceState {
    std::mutex mutex;
    std::optional<std::chrono::steady_clock::time_point> start;
    TraceFile file;
};

// Never destroyed: a host may still close devices while the process exits.
TraceState& State() {
    static TraceState* state = new TraceState;
    return *state;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void WriteTraceLine(std::string_view op, std::string_view path, std::string_view details,
                    std::string_view result);

}  // namespace

bool TraceWanted() noexcept {
#ifdef _WIN32
    // The size a set variable needs counts its terminating null: more than 1 when not empty.
    return GetEnvironmentVariableW(L"KVSDK_SIM_TRACE", nullptr, 0) > 1;
#else
    const char* target = std::getenv("KVSDK_SIM_TRACE");
    return target != nullptr && *target != '\0';
#endif
}

std::string HexResult(uint32_t value) {
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i) {
        text[static_cast<size_t>(i)] = kHexDigits[value & 0xF];
        value >>= 4;
    }
    return text;
}

std::string HexBytes(const uint8_t* bytes, size_t count, std::string_view separator) {
    std::string text;
    text.reserve(count * (2 + separator.size()));
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) text.append(separator);
        text.push_back(kHexDigits[bytes[i] >> 4]);
        text.push_back(kHexDigits[bytes[i] & 0xF]);
    }
    return text;
}

void TraceLine(std::string_view op, std::string_view path, std::string_view details,
               std::string_view result) noexcept {
    try {
        WriteTraceLine(op, path, details, result);
    } catch (...) {
        // A trace line that cannot be built is dropped; the device call itself goes on.
    }
}

namespace {

void WriteTraceLine(std::string_view op, std::string_view path, std::string_view details,
                    std::string_view result) {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    const auto target = kvsdk::GetEnvironmentString(L"KVSDK_SIM_TRACE");
    if (!target || target->empty()) return;

    const auto now = std::chrono::steady_clock::now();
    if (!state.start) state.start = now;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - *state.start).count();

    std::string line = std::to_string(ms);
    line.push_back(' ');
    line.append(op);
    line.push_back(' ');
    line.append(kvsdk::ToUpper(path));
    if (!details.empty()) {
        line.push_back(' ');
        line.append(details);
    }
    line.append(" = ");
    line.append(result);
    line.push_back('\n');
    state.file.Append(*target, line);
}

}  // namespace

}  // namespace kvsdkmod::sim
