#include "kvsdkmod/Trace.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
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
#include "kvsdkmod/ForkChild.h"

namespace kvsdkmod {

namespace {

// The trace file, kept open in append mode between lines and opened again when the variable
// names another file or the file held was removed (Linux: or replaced). Only a regular file is
// written; a FIFO or a device at the name is refused without blocking and loses the line. A
// private file (the hardware trace, which records what a real device answered) is also never
// reached through a symbolic link or reparse point, and is created readable by its owner only,
// as the log is.
class TraceFile {
  public:
    explicit TraceFile(bool isPrivate) : m_private(isPrivate) {}

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
        const DWORD flags = FILE_ATTRIBUTE_NORMAL | (m_private ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
        m_file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, flags, nullptr);
        if (IsOpen() && GetFileType(m_file) != FILE_TYPE_DISK) Close();
        BY_HANDLE_FILE_INFORMATION info{};
        if (IsOpen() && m_private &&
            (!GetFileInformationByHandle(m_file, &info) ||
             (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
                 0)) {
            Close();
        }
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
        const int flags = O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                          (m_private ? O_NOFOLLOW : 0);
        m_fd = ::open(m_nativePath.c_str(), flags, m_private ? 0600 : 0644);
        struct stat info {};
        if (IsOpen() && (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode))) Close();
    }
    int m_fd = -1;
    std::string m_nativePath;
#endif
    std::wstring m_path;
    bool m_private;
};

struct TraceState {
    explicit TraceState(bool isPrivate) : file(isPrivate) {}
    std::mutex mutex;
    std::optional<std::chrono::steady_clock::time_point> start;
    TraceFile file;
};

#ifdef _WIN32
const wchar_t* VariableName(TraceChannel channel) {
    return channel == TraceChannel::Hardware ? L"KVSDK_HW_TRACE" : L"KVSDK_SIM_TRACE";
}
#else
const char* VariableName(TraceChannel channel) {
    return channel == TraceChannel::Hardware ? "KVSDK_HW_TRACE" : "KVSDK_SIM_TRACE";
}
#endif

// Never destroyed: a host may still close devices while the process exits. A forked child starts
// its traces afresh (its own clock, the file opened again).
TraceState& State(TraceChannel channel) {
    static TraceState* simulated = new TraceState(false);
    static TraceState* hardware = new TraceState(true);
    static const bool renewed = [] {
        RunInForkedChild([] {
            new (simulated) TraceState(false);
            new (hardware) TraceState(true);
        });
        return true;
    }();
    (void)renewed;
    return channel == TraceChannel::Hardware ? *hardware : *simulated;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void WriteTraceLine(TraceChannel channel, std::string_view op, std::string_view path,
                    std::string_view details, std::string_view result, std::string_view osError);

}  // namespace

bool TraceWanted(TraceChannel channel) noexcept {
#ifdef _WIN32
    // The size a set variable needs counts its terminating null: more than 1 when not empty.
    return GetEnvironmentVariableW(VariableName(channel), nullptr, 0) > 1;
#else
    const char* target = std::getenv(VariableName(channel));
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

std::string TunnelDetails(bool flag1, bool flag2, uint8_t command, uint8_t arg1, uint8_t arg2,
                          const uint8_t* data, int length) {
    const uint8_t args[] = {command, arg1, arg2};
    return std::string(flag1 ? "1" : "0") + (flag2 ? " 1 " : " 0 ") + HexBytes(args, 3) + ' ' +
           HexBytes(data, length > 0 ? static_cast<size_t>(length) : 0, "") + ' ' +
           std::to_string(length);
}

void TraceLine(TraceChannel channel, std::string_view op, std::string_view path,
               std::string_view details, std::string_view result,
               std::string_view osError) noexcept {
    try {
        WriteTraceLine(channel, op, path, details, result, osError);
    } catch (...) {
        // A trace line that cannot be built is dropped; the device call itself goes on.
    }
}

namespace {

void WriteTraceLine(TraceChannel channel, std::string_view op, std::string_view path,
                    std::string_view details, std::string_view result, std::string_view osError) {
    auto& state = State(channel);
    std::lock_guard lock(state.mutex);
    const auto target = kvsdk::GetEnvironmentString(
        channel == TraceChannel::Hardware ? L"KVSDK_HW_TRACE" : L"KVSDK_SIM_TRACE");
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
    if (!osError.empty()) {
        line.append(" os=");
        line.append(osError);
    }
    line.push_back('\n');
    state.file.Append(*target, line);
}

}  // namespace

}  // namespace kvsdkmod
