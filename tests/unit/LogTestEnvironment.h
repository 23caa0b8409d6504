// Test set-up for the diagnostic log: a scratch profile directory, the "LogEnabled" switch and a
// capture of the debugger channel. Linux: the switch lives in a .reg file named by
// KVSDK_REGISTRY and the debugger channel is standard error. Windows: the switch is written to
// the registry and debugger output is caught by a vectored exception handler.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <gtest/gtest.h>
#endif

#include "common/Strings.h"
#include "tests/support/TestSupport.h"

namespace kvsdk::test {

// How the runtime stores a line feed in the log file.
#ifdef _WIN32
inline constexpr const char* kFileNewline = "\r\n";
#else
inline constexpr const char* kFileNewline = "\n";
#endif

class LogTestEnvironment {
  public:
    LogTestEnvironment()
        : m_profileEnv(ProfileVariable(), NativePath(m_profile.Path()))
#ifndef _WIN32
          ,
          m_registryEnv("KVSDK_REGISTRY", NativePath(m_registryDir / "registry.reg"))
#endif
    {
        RemoveSwitchKey();
    }
    ~LogTestEnvironment() {
        RemoveSwitchKey();
    }
    LogTestEnvironment(const LogTestEnvironment&) = delete;
    LogTestEnvironment& operator=(const LogTestEnvironment&) = delete;

    static const char* ProfileVariable() {
#ifdef _WIN32
        return "USERPROFILE";
#else
        return "HOME";
#endif
    }

    // "LogEnabled" as REG_BINARY with these bytes.
    void SetSwitchBinary(const std::vector<uint8_t>& bytes) {
#ifdef _WIN32
        WriteValue(REG_BINARY, bytes);
#else
        std::ostringstream line;
        line << "\"LogEnabled\"=hex:";
        for (size_t i = 0; i < bytes.size(); ++i) {
            static constexpr char kDigits[] = "0123456789abcdef";
            if (i != 0) line << ',';
            line << kDigits[bytes[i] >> 4] << kDigits[bytes[i] & 0xF];
        }
        WriteRegFile(true, line.str());
#endif
    }

    // "LogEnabled" as REG_DWORD.
    void SetSwitchDword(uint32_t value) {
#ifdef _WIN32
        std::vector<uint8_t> bytes(4);
        for (size_t i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
        WriteValue(REG_DWORD, bytes);
#else
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex(8, '0');
        for (int i = 0; i < 8; ++i)
            hex[static_cast<size_t>(7 - i)] = kDigits[(value >> (4 * i)) & 0xF];
        WriteRegFile(true, "\"LogEnabled\"=dword:" + hex);
#endif
    }

    // The key stays, the value goes.
    void RemoveSwitchValue() {
#ifdef _WIN32
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLVE", 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"LogEnabled");
            RegCloseKey(key);
        }
#else
        WriteRegFile(true, "\"Other\"=dword:00000001");
#endif
    }

    void RemoveSwitchKey() {
#ifdef _WIN32
        RemoveSwitchValue();
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLVE", KEY_WOW64_64KEY, 0);
#else
        WriteRegFile(false, "");
#endif
    }

    const std::filesystem::path& Profile() const {
        return m_profile.Path();
    }
    std::filesystem::path LogFile() const {
        return m_profile / "KvSDK.log";
    }
    bool LogExists() const {
        return std::filesystem::exists(LogFile());
    }
    std::string ReadLog() const {
        return ReadTextFile(LogFile());
    }

  private:
#ifdef _WIN32
    static void WriteValue(DWORD type, const std::vector<uint8_t>& bytes) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLVE", 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"LogEnabled", 0, type, bytes.data(),
                           static_cast<DWORD>(bytes.size()));
            RegCloseKey(key);
        }
    }
#else
    void WriteRegFile(bool withKey, const std::string& valueLine) {
        std::string text = "Windows Registry Editor Version 5.00\n\n";
        if (withKey) {
            text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TOLVE]\n";
            if (!valueLine.empty()) text += valueLine + "\n";
        } else {
            text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OTHER]\n\"LogEnabled\"=hex:03\n";
        }
        WriteTextFile(m_registryDir / "registry.reg", text);
    }
    TempDir m_registryDir;
#endif
    TempDir m_profile;
    ScopedEnv m_profileEnv;
#ifndef _WIN32
    ScopedEnv m_registryEnv;
#endif
};

// Collects what is sent to the debugger channel between Start and Stop.
class DebuggerCapture {
  public:
#ifdef _WIN32
    void Start() {
        Wide().clear();
        Ansi().clear();
        m_handler = AddVectoredExceptionHandler(1, &Handler);
    }
    std::string Stop() {
        if (m_handler != nullptr) RemoveVectoredExceptionHandler(m_handler);
        m_handler = nullptr;
        return Wide().empty() ? Ansi() : ToUtf8(Wide());
    }

  private:
    static std::wstring& Wide() {
        static std::wstring text;
        return text;
    }
    static std::string& Ansi() {
        static std::string text;
        return text;
    }
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info) {
        const EXCEPTION_RECORD* record = info->ExceptionRecord;
        if (record->ExceptionCode == 0x4001000A && record->NumberParameters >= 2) {
            const auto* text = reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]);
            if (text != nullptr) Wide() += text;
            return EXCEPTION_CONTINUE_EXECUTION;
        }
        if (record->ExceptionCode == 0x40010006 && record->NumberParameters >= 2) {
            const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
            if (text != nullptr) Ansi() += text;
            return EXCEPTION_CONTINUE_EXECUTION;
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }
    PVOID m_handler = nullptr;
#else
    void Start() {
        testing::internal::CaptureStderr();
    }
    std::string Stop() {
        return testing::internal::GetCapturedStderr();
    }
#endif
};

}  // namespace kvsdk::test
