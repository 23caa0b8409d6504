// Reading files that anybody may have planted: only a regular file is read, it is opened without
// blocking (a FIFO or a device at the path never stalls the reader), and never more than a cap
// is read. Used for every input file of the libraries and the tool.
#pragma once

#include <cstddef>
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

}  // namespace kvsdk
