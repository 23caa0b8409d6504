#include "tools/kvsdk/ToolPlatform.h"

#include <cstdlib>

#include "common/Strings.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace kvsdk::tool {

std::filesystem::path ExecutableFolder() {
#ifdef _WIN32
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::filesystem::current_path();
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer).parent_path();
#else
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : self.parent_path();
#endif
}

std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> words;
#ifdef _WIN32
    // The narrow argv is in the ANSI code page; the wide command line has every character.
    (void)argv;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        for (int i = 1; i < count; ++i) words.push_back(ToUtf8(wide[i]));
        LocalFree(wide);
        return words;
    }
#endif
    for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
    return words;
}

std::filesystem::path PathFromUtf8(const std::string& text) {
#ifdef _WIN32
    return std::filesystem::path(FromUtf8(text));
#else
    return std::filesystem::path(text);
#endif
}

std::string PathToUtf8(const std::filesystem::path& path) {
#ifdef _WIN32
    return ToUtf8(path.wstring());
#else
    return path.string();
#endif
}

void SetEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
    const std::wstring wideName = FromUtf8(name);
    const std::wstring wideValue = FromUtf8(value);
    SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str());
    _wputenv_s(wideName.c_str(), wideValue.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::optional<std::string> GetEnvironment(const std::string& name) {
    const auto value = GetEnvironmentString(FromUtf8(name).c_str());
    if (!value) return std::nullopt;
    return ToUtf8(*value);
}

}  // namespace kvsdk::tool
