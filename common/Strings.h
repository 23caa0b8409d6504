// Text helpers shared by the engine and the device-I/O library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvsdk {

std::string ToUtf8(std::wstring_view text);
// Appends one Unicode code point (as a surrogate pair where wchar_t is 16 bits).
void AppendCodePoint(std::wstring& out, uint32_t codePoint);
std::wstring FromUtf8(std::string_view text);

// ASCII upper and lower case; other characters are left as they are.
std::wstring ToUpper(std::wstring_view text);
std::string ToUpper(std::string_view text);
std::wstring ToLower(std::wstring_view text);
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Value of an environment variable at the moment of the call; nullopt when it is not set.
// On Windows this reads the process environment block (GetEnvironmentVariableW).
std::optional<std::wstring> GetEnvironmentString(const wchar_t* name);

}  // namespace kvsdk
