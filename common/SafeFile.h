// Reading files that anybody may have planted: only a regular file is read, it is opened without
// blocking (a FIFO or a device at the path never stalls the reader), and never more than a cap
// is read. Used for every input file of the libraries and the tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kvsdk {

// The whole contents of the regular file at 'path' (a symbolic link is followed to its target,
// which must be a regular file too). nullopt when the path is missing, is anything but a regular
// file (directory, FIFO, socket, device), cannot be read, or holds more than 'maxBytes' bytes.
// At most 'maxBytes' + 1 bytes are ever read.
std::optional<std::string> ReadRegularFile(const std::filesystem::path& path, size_t maxBytes);
std::optional<std::string> ReadRegularFile(const std::wstring& path, size_t maxBytes);

// Part of a regular file, with what tells the file apart from another one put in its place.
struct FileSlice {
    uint64_t identity = 0;  // device and inode; on Windows volume serial and file index
    uint64_t size = 0;      // the file's size when it was read
    std::string bytes;      // from the offset, at most the cap
};
// Up to 'maxBytes' bytes from 'offset' of the regular file at 'path', under the same rules as
// ReadRegularFile. nullopt when the path is missing, is not a regular file or cannot be read.
std::optional<FileSlice> ReadRegularFileSlice(const std::filesystem::path& path, uint64_t offset,
                                              size_t maxBytes);

}  // namespace kvsdk
