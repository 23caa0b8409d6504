// Debug output, local time and message texts on Windows: OutputDebugStringW, GetLocalTime and
// the system message table (FormatMessageW).
#include "platform/Platform.h"

#include <windows.h>

#include <memory>

namespace kvsdk::platform {

namespace {

// Owns a buffer that FormatMessageW allocated.
struct LocalFreeDeleter {
    void operator()(wchar_t* text) const { LocalFree(text); }
};

constexpr DWORD kFormatMessageFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kNeutralDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
static_assert(kFormatMessageFlags == 0x1300);
static_assert(kNeutralDefaultLanguage == 0x0400);

}  // namespace

void DebugOutput(const std::wstring& text) {
    OutputDebugStringW(text.c_str());
}

LocalTime GetLocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    LocalTime time;
    time.year = now.wYear;
    time.month = now.wMonth;
    time.day = now.wDay;
    time.hour = now.wHour;
    time.minute = now.wMinute;
    time.second = now.wSecond;
    return time;
}

std::optional<std::wstring> SystemMessageText(HRESULT hr) {
    wchar_t* raw = nullptr;
    const DWORD length =
        FormatMessageW(kFormatMessageFlags, nullptr, static_cast<DWORD>(hr),
                       kNeutralDefaultLanguage, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    std::unique_ptr<wchar_t, LocalFreeDeleter> text(raw);
    if (length == 0 || !text) return std::nullopt;
    return std::wstring(text.get(), length);
}

}  // namespace kvsdk::platform
