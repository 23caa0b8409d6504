// The few platform services the tool needs besides the library itself.
#pragma once

#include <cstdint>
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

// Part of a regular file, read without blocking (a FIFO or a device is refused), with what
// tells the file apart from another one put in its place.
struct FileSlice {
    uint64_t identity = 0;  // device and inode; on Windows volume serial and file index
    uint64_t size = 0;      // the file's size when it was read
    std::string bytes;      // from the offset, at most the cap
};
// nullopt when the path is missing, is not a regular file or cannot be read.
std::optional<FileSlice> ReadFileSlice(const std::filesystem::path& path, uint64_t offset,
                                       size_t maxBytes);

}  // namespace kvsdk::tool
