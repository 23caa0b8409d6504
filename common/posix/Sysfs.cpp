#include "common/posix/Sysfs.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <system_error>

#include "common/SafeFile.h"

namespace kvsdk::posix {

namespace fs = std::filesystem;

namespace {

// The largest attribute read; the kernel writes at most one page.
constexpr size_t kMaxAttributeBytes = 64u * 1024u;

}  // namespace

fs::path SysfsRoot() {
    const char* root = std::getenv("KVSDK_SYSFS_ROOT");
    if (root == nullptr || *root == '\0') return "/sys";
    return root;
}

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

// Real attributes are regular files of at most a page.
std::optional<std::string> ReadAttribute(const fs::path& path) {
    const auto text = ReadRegularFile(path, kMaxAttributeBytes);
    if (!text) return std::nullopt;
    return Trim(*text);
}

std::optional<unsigned long> ParseHex(std::string_view text) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    unsigned long value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = (value << 4) | digit;
    }
    return value;
}

std::optional<unsigned long> ReadHexAttribute(const fs::path& path) {
    const auto text = ReadAttribute(path);
    if (!text) return std::nullopt;
    return ParseHex(*text);
}

std::vector<fs::path> ListDirectory(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool ReadHidIds(const fs::path& hidDevice, unsigned& vendor, unsigned& product) {
    std::string ids;
    if (const auto uevent = ReadAttribute(hidDevice / "uevent")) {
        std::istringstream lines(*uevent);
        std::string line;
        while (std::getline(lines, line)) {
            if (StartsWith(line, "HID_ID=")) ids = Trim(std::string_view(line).substr(7));
        }
    }
    if (ids.empty()) {
        ids = hidDevice.filename().string();
        ids = ids.substr(0, ids.find('.'));
    }
    const auto first = ids.find(':');
    const auto second = first == std::string::npos ? first : ids.find(':', first + 1);
    if (second == std::string::npos) return false;
    const auto v = ParseHex(std::string_view(ids).substr(first + 1, second - first - 1));
    const auto p = ParseHex(std::string_view(ids).substr(second + 1));
    if (!v || !p) return false;
    vendor = static_cast<unsigned>(*v & 0xFFFF);
    product = static_cast<unsigned>(*p & 0xFFFF);
    return true;
}

}  // namespace kvsdk::posix
