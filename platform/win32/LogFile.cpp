// The log file on Windows: the user's profile folder, and a file opened for appending that shares
// nothing but its removal, written through the C runtime's text mode.
#include "platform/Platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <wchar.h>

#include <new>

#include "common/Strings.h"

namespace kvsdk::platform {

const wchar_t* ProfileVariableName() {
    return L"USERPROFILE";
}

wchar_t PathSeparator() {
    return L'\\';
}

std::optional<std::wstring> ProfileDirectory() {
    return GetEnvironmentString(ProfileVariableName()).value_or(std::wstring());
}

struct ExclusiveFile {
    FILE* stream = nullptr;
};

ExclusiveFile* OpenExclusiveAppend(const std::wstring& path) {
    if (path.empty()) return nullptr;
    // No sharing but removal: no other opener while the file is held, and the holder can move
    // the file aside (MoveHeldFileAside). FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction
    // planted at the name as itself, and it is then refused like a directory or anything that is
    // not a disk file (a device name such as NUL or COM1).
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        CloseHandle(handle);
        return nullptr;
    }
    // Text mode: the runtime stores each line feed as CR LF and each wide character in the
    // current locale's multibyte form.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_TEXT);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* stream = _wfdopen(fd, L"a+");
    if (stream == nullptr) {
        _close(fd);
        return nullptr;
    }
    auto* file = new (std::nothrow) ExclusiveFile;
    if (file == nullptr) {
        fclose(stream);
        return nullptr;
    }
    file->stream = stream;
    return file;
}

bool WriteExclusiveFile(ExclusiveFile* file, const std::wstring& text) {
    if (file == nullptr || file->stream == nullptr) return false;
    // fputws converts character by character and stops at the first character that has no
    // multibyte form in the current locale.
    if (fputws(text.c_str(), file->stream) == WEOF) return false;
    return fflush(file->stream) == 0;
}

uint64_t ExclusiveFileSize(ExclusiveFile* file) {
    if (file == nullptr || file->stream == nullptr) return 0;
    const long long size = _filelengthi64(_fileno(file->stream));
    return size < 0 ? 0 : static_cast<uint64_t>(size);
}

void CloseExclusiveFile(ExclusiveFile* file) {
    if (file == nullptr) return;
    if (file->stream != nullptr) fclose(file->stream);
    delete file;
}

// The held file shares nothing but its removal: nobody else can open it, let alone move it, so
// its name still leads to it, and it can be moved while this handle holds it.
bool MoveHeldFileAside(ExclusiveFile* file, const std::wstring& path, const std::wstring& to) {
    if (file == nullptr || file->stream == nullptr) return false;
    return MoveFileExW(path.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace kvsdk::platform
