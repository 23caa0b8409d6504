// The diagnostic log: trace lines of failed device calls, to "KvSDK.log" in the user's profile
// directory and/or the debugger channel, as the "LogEnabled" switch selects.
#pragma once

#include <cstdint>
#include <string>

#include "KvSDKEng.h"

namespace kvsdk {

// Local date "MM/DD/YY" and time "HH:MM:SS" texts, one clock reading each.
std::wstring LocalDateText();
std::wstring LocalTimeText();

// Writes one trace line for 'hr' as the switch selects and returns 'passThrough' unchanged.
uint32_t TraceHResult(const std::wstring& date, const std::wstring& time,
                      const std::wstring& function, int line, HRESULT hr, uint32_t passThrough);

// The system's text for an HRESULT, trimmed of its final line feed, or the
// "IDispatch error #%d" / "Unknown error 0x%0lX" text when the system has none.
std::wstring HResultText(HRESULT hr);

// The first data byte of "LogEnabled": bit 0 log file, bit 1 debugger; 0 when unreadable.
uint8_t ReadLogSwitch();

}  // namespace kvsdk
