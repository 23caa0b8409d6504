#include "kvsdkmod/sim/Trace.h"

#include <chrono>
#include <mutex>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

#include "common/Strings.h"

namespace kvsdkmod::sim {

namespace {

struct TraceState {
    std::mutex mutex;
    std::optional<std::chrono::steady_clock::time_point> start;
};

// Never destroyed: a host may still close devices while the process exits.
TraceState& State() {
    static TraceState* state = new TraceState;
    return *state;
}

// One write in append mode, so that lines of other processes never split ours either.
void AppendToFile(const std::wstring& path, const std::string& line) {
#ifdef _WIN32
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
#else
    const int fd =
        ::open(kvsdk::ToUtf8(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
#endif
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void WriteTraceLine(std::string_view op, std::string_view path, std::string_view details,
                    std::string_view result);

}  // namespace

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
    AppendToFile(*target, line);
}

}  // namespace

}  // namespace kvsdkmod::sim
