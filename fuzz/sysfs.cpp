// Device enumeration over a sysfs tree described by the input, one entry per line:
//   d <path>             a folder
//   f <path> <text>      a file holding the text ("\n" in it stands for a line feed)
//   l <path> <target>    a symbolic link; "@zero" and "@null" name /dev/zero and /dev/null,
//                        other targets are relative and must stay inside the tree
// The tree is written to a scratch folder and listed for the mouse, keyboard and USB classes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "common/Win32Types.h"
#include "posix/SysfsEnumeration.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxEntries = 64;
constexpr size_t kMaxPath = 200;

const fs::path& Root() {
    static const fs::path root = [] {
        std::string pattern = (fs::temp_directory_path() / "kvsdk-fuzz-sysfs-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return fs::path(pattern) / "sys";
    }();
    return root;
}

// A relative path without ".." that stays below the root; empty when it is not one.
fs::path Inside(std::string_view text) {
    if (text.empty() || text.size() > kMaxPath || text.front() == '/') return {};
    const fs::path path = fs::path(std::string(text)).lexically_normal();
    for (const auto& part : path) {
        if (part == "..") return {};
    }
    return path;
}

void Build(std::string_view input) {
    std::error_code ec;
    fs::remove_all(Root(), ec);
    fs::create_directories(Root(), ec);
    size_t entries = 0;
    while (!input.empty() && entries++ < kMaxEntries) {
        const size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        if (line.size() < 3 || line[1] != ' ') continue;
        const char kind = line[0];
        line.remove_prefix(2);
        const size_t space = line.find(' ');
        const fs::path path = Inside(line.substr(0, space));
        if (path.empty()) continue;
        const std::string_view rest =
            space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        const fs::path where = Root() / path;
        fs::create_directories(where.parent_path(), ec);
        if (kind == 'd') {
            fs::create_directories(where, ec);
        } else if (kind == 'f') {
            std::string text(rest);
            for (size_t at = 0; (at = text.find("\\n", at)) != std::string::npos; ++at) {
                text.replace(at, 2, "\n");
            }
            std::ofstream(where, std::ios::binary) << text;
        } else if (kind == 'l') {
            fs::path target;
            if (rest == "@zero") {
                target = "/dev/zero";
            } else if (rest == "@null") {
                target = "/dev/null";
            } else {
                if (rest.empty() || rest.front() == '/' || rest.size() > kMaxPath) continue;
                target = fs::path(std::string(rest));
                const fs::path resolved = (path.parent_path() / target).lexically_normal();
                if (resolved.empty() || *resolved.begin() == "..") continue;
            }
            fs::create_symlink(target, where, ec);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Build(std::string_view(reinterpret_cast<const char*>(data), size));
    using kvsdk::platform::posix::ListInterfacePaths;
    for (const GUID* cls : {&kvsdk::kGuidDevinterfaceMouse, &kvsdk::kGuidDevinterfaceKeyboard,
                            &kvsdk::kGuidDevinterfaceUsbDevice}) {
        for (const std::wstring& path : ListInterfacePaths(Root(), *cls)) {
            // Every listed path carries the kernel's node name in its third '#' field.
            if (path.find(L"#", 4) == std::wstring::npos) __builtin_trap();
        }
    }
    return 0;
}
