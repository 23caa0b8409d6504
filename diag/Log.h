// The diagnostic log: trace lines of failed device calls, to "KvSDK.log" in the user's profile
// directory and/or the debugger channel, as the "LogEnabled" switch selects.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "KvSDKEng.h"

namespace kvsdk {

// Local date "MM/DD/YY" and time "HH:MM:SS" texts, one clock reading each.
std::wstring LocalDateText();
std::wstring LocalTimeText();

// Writes one trace line for 'hr' as the switch selects and returns 'passThrough' unchanged.
// Never throws; nothing that goes wrong inside the log reaches the caller.
uint32_t TraceHResult(const std::wstring& date, const std::wstring& time,
                      const std::wstring& function, int line, HRESULT hr, uint32_t passThrough);

// The system's text for an HRESULT, trimmed of its final line feed, or the
// "IDispatch error #%d" / "Unknown error 0x%0lX" text when the system has none.
std::wstring HResultText(HRESULT hr);

// One trace line, without the extra line feed the file adds:
// "<date> - <time>, <function>, Line = <line>, <text> (0x<HR>)\n".
std::wstring FormatTraceLine(const std::wstring& date, const std::wstring& time,
                             const std::wstring& function, int line, const std::wstring& text,
                             HRESULT hr);

// The first data byte of "LogEnabled": bit 0 log file, bit 1 debugger; 0 when unreadable.
// A value longer than one byte (a REG_DWORD, say) counts with its first byte. The current value:
// read again only when the registry reports a change (platform::RegistryChangeStamp).
uint8_t ReadLogSwitch();

inline constexpr uint8_t kLogToFile = 0x01;
inline constexpr uint8_t kLogToDebugger = 0x02;

// The log file path at this moment: the profile directory, the path separator and "KvSDK.log".
// Windows: only the separator and the name when the variable is not set. Linux: an unset or
// empty HOME falls back to the account's home directory; empty (no log file) when there is none.
std::wstring LogFilePath();

// The process-wide log-file object. It exists while it has users, holds no open file between
// lines, and serialises the lines of concurrent callers.
class CLogFile {
  public:
    // Takes a use of the instance, creating it on the first use; nullptr if it cannot be made.
    static CLogFile* Acquire();
    // Drops a use; the instance is destroyed when the last use goes.
    static void Release();

    // Applies the log switch to one line: appends it plus a line feed to the log file (bit 0)
    // and passes it to the debugger channel (bit 1). The line the debugger gets carries the
    // extra line feed only when bit 0 is set too.
    void WriteLine(const std::wstring& line);

    // Number of uses of the process-wide instance (0: none exists).
    static uint32_t UseCount();

    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

  private:
    friend struct std::default_delete<CLogFile>;
    CLogFile() = default;
    ~CLogFile() = default;

    std::mutex m_writeLock;  // one line at a time, file and debugger
};

}  // namespace kvsdk
