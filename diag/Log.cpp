// The diagnostic log. Every line applies the switch's current value (read again only when the
// registry reports a change), opens, writes and closes the file, and takes and drops a use of
// the process-wide log-file object.
//
// Lines are written while the caller may hold the engine's library lock (the VEXO settings
// restore runs inside KvSDKEngUninit), so writing a line must never block: the file is opened
// without blocking and only a regular file is written (see OpenExclusiveAppend), the exclusive
// open fails at once rather than waiting for another holder, and the debugger channel is a
// plain write. The file is bounded: a line that would take it past kMaxLogBytes first moves it
// to "KvSDK.log.1" (replacing the previous one), while it is still held, and starts a new file.
#include "diag/Log.h"

#include <memory>
#include <new>
#include <optional>

#include "platform/Platform.h"
#include "common/Strings.h"
#include "common/Win32Types.h"

namespace kvsdk {

namespace {

constexpr wchar_t kLogSwitchKey[] = L"SOFTWARE\\TOLVE";
constexpr wchar_t kLogSwitchValue[] = L"LogEnabled";
constexpr wchar_t kLogFileName[] = L"KvSDK.log";
constexpr wchar_t kRotatedSuffix[] = L".1";
constexpr uint64_t kMaxLogBytes = 1024u * 1024u;
// The largest "LogEnabled" whose first byte is still read; anything longer counts as 0.
constexpr uint32_t kMaxSwitchBytes = 4096;
// The fallback message texts hold at most this many characters (32 with the terminator).
constexpr size_t kMaxFallbackChars = 31;
constexpr uint32_t kDispatchErrorFirst = 0x80040200u;
constexpr uint32_t kDispatchErrorLast = 0x8004FFFFu;

std::wstring TwoDigits(int value) {
    if (value < 0) value = -value;
    value %= 100;
    std::wstring text(2, L'0');
    text[0] = static_cast<wchar_t>(L'0' + value / 10);
    text[1] = static_cast<wchar_t>(L'0' + value % 10);
    return text;
}

// Upper-case hexadecimal, padded with zeros to 'width' digits (no padding for width 0).
std::wstring Hex(uint32_t value, size_t width) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    do {
        text.insert(text.begin(), kDigits[value & 0xFu]);
        value >>= 4;
    } while (value != 0);
    if (text.size() < width) text.insert(0, width - text.size(), L'0');
    return text;
}

struct ExclusiveFileCloser {
    void operator()(platform::ExclusiveFile* file) const { platform::CloseExclusiveFile(file); }
};
using ExclusiveFilePtr = std::unique_ptr<platform::ExclusiveFile, ExclusiveFileCloser>;

// The process-wide instance and its use count, both guarded by g_logFileLock.
std::mutex g_logFileLock;
std::unique_ptr<CLogFile> g_pLogFile;
uint32_t g_uLogFileUses = 0;

// A child made by fork leaves the parent's instance and the locks that a thread of the parent
// may have held behind, untouched: the lock is rebuilt in place and a new instance made on use.
void RenewInChild() {
    new (&g_logFileLock) std::mutex;
    (void)g_pLogFile.release();
    g_uLogFileUses = 0;
}

}  // namespace

std::wstring LocalDateText() {
    const platform::LocalTime now = platform::GetLocalTimeNow();
    return TwoDigits(now.month) + L'/' + TwoDigits(now.day) + L'/' + TwoDigits(now.year);
}

std::wstring LocalTimeText() {
    const platform::LocalTime now = platform::GetLocalTimeNow();
    return TwoDigits(now.hour) + L':' + TwoDigits(now.minute) + L':' + TwoDigits(now.second);
}

std::wstring HResultText(HRESULT hr) {
    if (std::optional<std::wstring> system = platform::SystemMessageText(hr)) {
        std::wstring text = std::move(*system);
        if (text.size() > 1 && text.back() == L'\n') {
            text.pop_back();
            if (!text.empty() && text.back() == L'\r') text.pop_back();
        }
        return text;
    }
    const auto code = static_cast<uint32_t>(hr);
    std::wstring text;
    if (code >= kDispatchErrorFirst && code <= kDispatchErrorLast &&
        ((code - kDispatchErrorFirst) & 0xFFFFu) != 0) {
        text = L"IDispatch error #" + std::to_wstring((code - kDispatchErrorFirst) & 0xFFFFu);
    } else {
        text = L"Unknown error 0x" + Hex(code, 0);
    }
    if (text.size() > kMaxFallbackChars) text.resize(kMaxFallbackChars);
    return text;
}

std::wstring FormatTraceLine(const std::wstring& date, const std::wstring& time,
                             const std::wstring& function, int line, const std::wstring& text,
                             HRESULT hr) {
    return date + L" - " + time + L", " + function + L", Line = " + std::to_wstring(line) + L", " +
           text + L" (0x" + Hex(static_cast<uint32_t>(hr), 8) + L")\n";
}

namespace {

uint8_t ReadLogSwitchFromRegistry() {
    try {
        const platform::RegistryValue value = platform::QueryRegistryValue(
            platform::Hive::LocalMachine, kLogSwitchKey, kKeyAllAccess64, kLogSwitchValue, 1);
        if (!value.keyOpened) return 0;
        if (value.status == kErrorSuccess) return value.data.empty() ? 0 : value.data[0];
        if (value.status != kErrorMoreData) return 0;

        // Longer than one byte (a REG_DWORD, say): read it whole and take its first byte, which
        // for a DWORD is its low byte.
        const uint32_t size = value.dataSize > 1 && value.dataSize <= kMaxSwitchBytes
                                  ? value.dataSize
                                  : sizeof(uint32_t);
        const platform::RegistryValue whole = platform::QueryRegistryValue(
            platform::Hive::LocalMachine, kLogSwitchKey, kKeyAllAccess64, kLogSwitchValue, size);
        if (whole.keyOpened && whole.status == kErrorSuccess && !whole.data.empty()) {
            return whole.data[0];
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

struct LogSwitchCache {
    std::mutex lock;
    bool valid = false;
    uint64_t stamp = 0;
    uint8_t flags = 0;
};

}  // namespace

uint8_t ReadLogSwitch() {
    static LogSwitchCache* cache = [] {
        platform::RunInForkedChild([] { new (cache) LogSwitchCache; });  // as RenewInChild
        return new LogSwitchCache;                                       // never destroyed
    }();
    const uint64_t stamp = platform::RegistryChangeStamp(platform::Hive::LocalMachine);
    std::lock_guard guard(cache->lock);
    if (!cache->valid || stamp > cache->stamp) {
        cache->flags = ReadLogSwitchFromRegistry();
        cache->stamp = stamp;
        cache->valid = true;
    }
    return cache->flags;
}

std::wstring LogFilePath() {
    const std::optional<std::wstring> profile = platform::ProfileDirectory();
    if (!profile) return std::wstring();
    return *profile + platform::PathSeparator() + kLogFileName;
}

CLogFile* CLogFile::Acquire() {
    static const bool renewed = (platform::RunInForkedChild(&RenewInChild), true);
    (void)renewed;
    std::lock_guard lock(g_logFileLock);
    if (!g_pLogFile) {
        g_pLogFile.reset(new (std::nothrow) CLogFile());
        if (!g_pLogFile) return nullptr;
        g_uLogFileUses = 0;
    }
    ++g_uLogFileUses;
    return g_pLogFile.get();
}

void CLogFile::Release() {
    std::lock_guard lock(g_logFileLock);
    if (g_uLogFileUses == 0) return;
    if (--g_uLogFileUses == 0) g_pLogFile.reset();
}

uint32_t CLogFile::UseCount() {
    std::lock_guard lock(g_logFileLock);
    return g_uLogFileUses;
}

void CLogFile::WriteLine(const std::wstring& line) {
    std::lock_guard lock(m_writeLock);
    const uint8_t flags = ReadLogSwitch();
    std::wstring text = line;
    ExclusiveFilePtr file;
    if ((flags & kLogToFile) != 0) {
        // A file that cannot be opened (no right to write there, or someone else holds it)
        // loses this line; the debugger still gets it as if the file had been written.
        const std::wstring path = LogFilePath();
        file.reset(platform::OpenExclusiveAppend(path));
        text += L'\n';
        const uint64_t size = file ? platform::ExclusiveFileSize(file.get()) : 0;
        if (size > 0 && size + text.size() > kMaxLogBytes) {
            // Moved aside while still held, so that no other process can open it in between and
            // move the new file over it; a file that another process already moved aside stays.
            // The line goes to the file that the name leads to now.
            platform::MoveHeldFileAside(file.get(), path, path + kRotatedSuffix);
            file.reset(platform::OpenExclusiveAppend(path));
        }
        if (file) {
            if (platform::WriteExclusiveFile(file.get(), text)) file.reset();
        }
    }
    if ((flags & kLogToDebugger) != 0) platform::DebugOutput(text);
    file.reset();
}

uint32_t TraceHResult(const std::wstring& date, const std::wstring& time,
                      const std::wstring& function, int line, HRESULT hr, uint32_t passThrough) {
    try {
        CLogFile* log = CLogFile::Acquire();
        if (log == nullptr) return passThrough;
        struct Use {
            ~Use() { CLogFile::Release(); }
        } use;
        const std::wstring text = FormatTraceLine(date, time, function, line, HResultText(hr), hr);
        log->WriteLine(text);
    } catch (...) {
        // Nothing inside the log is reported to the caller.
    }
    return passThrough;
}

}  // namespace kvsdk
