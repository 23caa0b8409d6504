// Debug output, local time and message texts on Linux: standard error for the debugger channel,
// the C library's local time, and a built-in table of the system texts of the codes the library
// and its device-I/O library produce.
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "common/Strings.h"
#include "platform/Platform.h"
#include "platform/posix/WriteAll.h"

namespace kvsdk::platform {

void DebugOutput(const std::wstring& text) {
    try {
        const std::string bytes = ToUtf8(text);
        posix::WriteAll(STDERR_FILENO, bytes.data(), bytes.size());
    } catch (...) {
        // The debugger channel never fails its caller.
    }
}

LocalTime GetLocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    LocalTime result;
    if (localtime_r(&now, &parts) == nullptr) return result;
    result.year = parts.tm_year + 1900;
    result.month = parts.tm_mon + 1;
    result.day = parts.tm_mday;
    result.hour = parts.tm_hour;
    result.minute = parts.tm_min;
    result.second = parts.tm_sec;
    return result;
}

namespace {

struct MessageEntry {
    uint32_t code;
    const wchar_t* text;
};

// The system texts (English, as the message table returns them, line end included) of the codes
// this library and its device-I/O library produce.
constexpr MessageEntry kMessages[] = {
    {0x00000000u, L"The operation completed successfully.\r\n"},
    {0x80004001u, L"Not implemented\r\n"},
    {0x80004002u, L"No such interface supported\r\n"},
    {0x80004003u, L"Invalid pointer\r\n"},
    {0x80004004u, L"Operation aborted\r\n"},
    {0x80004005u, L"Unspecified error\r\n"},
    {0x8000FFFFu, L"Catastrophic failure\r\n"},
    {0x80070001u, L"Incorrect function.\r\n"},
    {0x80070002u, L"The system cannot find the file specified.\r\n"},
    {0x80070003u, L"The system cannot find the path specified.\r\n"},
    {0x80070005u, L"Access is denied.\r\n"},
    {0x80070006u, L"The handle is invalid.\r\n"},
    {0x80070008u, L"Not enough memory resources are available to process this command.\r\n"},
    {0x8007000Du, L"The data is invalid.\r\n"},
    {0x8007000Eu, L"Not enough memory resources are available to complete this operation.\r\n"},
    {0x80070014u, L"The system cannot find the device specified.\r\n"},
    {0x80070015u, L"The device is not ready.\r\n"},
    {0x80070017u, L"Data error (cyclic redundancy check).\r\n"},
    {0x80070018u, L"The program issued a command but the command length is incorrect.\r\n"},
    {0x8007001Du, L"The system cannot write to the specified device.\r\n"},
    {0x8007001Eu, L"The system cannot read from the specified device.\r\n"},
    {0x8007001Fu, L"A device attached to the system is not functioning.\r\n"},
    {0x80070020u,
     L"The process cannot access the file because it is being used by another process.\r\n"},
    {0x80070032u, L"The request is not supported.\r\n"},
    {0x80070037u, L"The specified network resource or device is no longer available.\r\n"},
    {0x80070057u, L"The parameter is incorrect.\r\n"},
    {0x80070079u, L"The semaphore timeout period has expired.\r\n"},
    {0x8007007Au, L"The data area passed to a system call is too small.\r\n"},
    {0x800700AAu, L"The requested resource is in use.\r\n"},
    {0x800700EAu, L"More data is available.\r\n"},
    {0x80070103u, L"No more data is available.\r\n"},
    {0x800701B1u, L"A device which does not exist was specified.\r\n"},
    {0x800703E3u,
     L"The I/O operation has been aborted because of either a thread exit or an application "
     L"request.\r\n"},
    {0x800703E5u, L"Overlapped I/O operation is in progress.\r\n"},
    {0x8007045Du, L"The request could not be performed because of an I/O device error.\r\n"},
    {0x8007048Fu, L"The device is not connected.\r\n"},
    {0x80070490u, L"Element not found.\r\n"},
    {0x800705B4u, L"This operation returned because the timeout period expired.\r\n"},
};

}  // namespace

std::optional<std::wstring> SystemMessageText(HRESULT hr) {
    auto code = static_cast<uint32_t>(hr);
    // A plain Windows error number has the same text as its HRESULT.
    if (code != 0 && code <= 0xFFFFu) code = static_cast<uint32_t>(HResultFromWin32(code));
    for (const auto& entry : kMessages) {
        if (entry.code == code) return std::wstring(entry.text);
    }
    return std::nullopt;
}

}  // namespace kvsdk::platform
