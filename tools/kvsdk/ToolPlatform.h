// The few platform services the tool needs besides the library itself.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kvsdk::tool {

// The folder of the running executable (where the library is looked for).
std::filesystem::path ExecutableFolder();

// The command line as UTF-8 words, without the program name.
std::vector<std::string> Arguments(int argc, char** argv);

// A path from UTF-8 text, and back.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string PathToUtf8(const std::filesystem::path& path);

// Sets a variable of this process's environment so that a library loaded afterwards sees it
// (on Windows both the process environment block and the C runtime's copy).
void SetEnvironment(const std::string& name, const std::string& value);
std::optional<std::string> GetEnvironment(const std::string& name);

}  // namespace kvsdk::tool
