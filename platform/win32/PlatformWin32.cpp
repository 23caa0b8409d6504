// The Windows backend of the platform interface: SetupAPI for device interfaces, the registry,
// the debugger channel, the system message table, the C runtime's exclusive file open and the
// named kernel event.
#include "Platform.h"

#include <windows.h>
#include <objbase.h>
#include <setupapi.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <wchar.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "Strings.h"

namespace kvsdk::platform {

namespace {

// Owns a device information set and releases it with SetupDiDestroyDeviceInfoList.
class CDevInfoSet {
  public:
    explicit CDevInfoSet(HDEVINFO set) : m_hSet(set) {}
    ~CDevInfoSet() { Release(); }
    CDevInfoSet(const CDevInfoSet&) = delete;
    CDevInfoSet& operator=(const CDevInfoSet&) = delete;

    HDEVINFO Get() const { return m_hSet; }
    bool Valid() const { return m_hSet != INVALID_HANDLE_VALUE; }
    void Release() {
        if (Valid()) {
            SetupDiDestroyDeviceInfoList(m_hSet);
            m_hSet = INVALID_HANDLE_VALUE;
        }
    }

  private:
    HDEVINFO m_hSet;
};

// Owns a block of COM task memory.
struct CoTaskMemDeleter {
    void operator()(void* block) const { CoTaskMemFree(block); }
};

// Owns an open registry key.
class CRegKey {
  public:
    CRegKey() = default;
    ~CRegKey() {
        if (m_hKey != nullptr) RegCloseKey(m_hKey);
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    HKEY* Receive() { return &m_hKey; }
    HKEY Get() const { return m_hKey; }

  private:
    HKEY m_hKey = nullptr;
};

// Owns a buffer that FormatMessageW allocated.
struct LocalFreeDeleter {
    void operator()(wchar_t* text) const { LocalFree(text); }
};

constexpr DWORD kFormatMessageFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kNeutralDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
static_assert(kFormatMessageFlags == 0x1300);
static_assert(kNeutralDefaultLanguage == 0x0400);

constexpr wchar_t kNewEffectEventName[] = L"New effect event";

}  // namespace

// --- Device interfaces --------------------------------------------------------------------

HRESULT EnumInterfacePath(const GUID& classGuid, uint32_t index, std::wstring& path) {
    CDevInfoSet set(
        SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.Valid()) return HResultFromWin32(GetLastError());

    std::wstring found;
    bool haveFound = false;
    try {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &classGuid, index, &interfaceData)) {
            DWORD required = 0;
            if (!SetupDiGetDeviceInterfaceDetailW(set.Get(), &interfaceData, nullptr, 0, &required,
                                                  nullptr) &&
                GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                std::unique_ptr<void, CoTaskMemDeleter> block(CoTaskMemAlloc(required));
                if (block) {
                    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.get());
                    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
                    if (SetupDiGetDeviceInterfaceDetailW(set.Get(), &interfaceData, detail,
                                                         required, nullptr, nullptr)) {
                        // The DevicePath text ends inside the block; never read past it.
                        const size_t offset =
                            offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
                        const size_t maxChars = (required - offset) / sizeof(wchar_t);
                        found.assign(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars));
                        haveFound = true;
                        // A successful read leaves no error behind, as on Windows.
                        SetLastError(ERROR_SUCCESS);
                    }
                }
            }
        }
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        haveFound = false;
    }

    // The error is taken before the set is released: releasing it may change it.
    const DWORD error = GetLastError();
    set.Release();
    const HRESULT hr = HResultFromWin32(error);
    if (Succeeded(hr) && haveFound) path.swap(found);
    return hr;
}

// --- Registry -----------------------------------------------------------------------------

RegistryValue QueryRegistryValue(Hive hive, const std::wstring& subkey, uint32_t access,
                                 const std::wstring& valueName, uint32_t bufferSize) {
    RegistryValue result;
    const HKEY root = hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    CRegKey key;
    const LONG openStatus = RegOpenKeyExW(root, subkey.c_str(), 0, access, key.Receive());
    if (openStatus != ERROR_SUCCESS) {
        result.status = static_cast<uint32_t>(openStatus);
        return result;
    }
    result.keyOpened = true;

    std::vector<uint8_t> buffer(bufferSize);
    DWORD type = REG_NONE;
    DWORD size = bufferSize;
    const LONG queryStatus = RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type,
                                              bufferSize != 0 ? buffer.data() : nullptr, &size);
    result.status = static_cast<uint32_t>(queryStatus);
    result.type = type;
    result.dataSize = size;
    if (queryStatus == ERROR_SUCCESS) {
        buffer.resize(std::min<size_t>(size, buffer.size()));
        result.data = std::move(buffer);
    }
    return result;
}

// --- Diagnostics ----------------------------------------------------------------------------

void DebugOutput(const std::wstring& text) {
    OutputDebugStringW(text.c_str());
}

LocalTime GetLocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    LocalTime time;
    time.year = now.wYear;
    time.month = now.wMonth;
    time.day = now.wDay;
    time.hour = now.wHour;
    time.minute = now.wMinute;
    time.second = now.wSecond;
    return time;
}

std::optional<std::wstring> SystemMessageText(HRESULT hr) {
    wchar_t* raw = nullptr;
    const DWORD length =
        FormatMessageW(kFormatMessageFlags, nullptr, static_cast<DWORD>(hr),
                       kNeutralDefaultLanguage, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    std::unique_ptr<wchar_t, LocalFreeDeleter> text(raw);
    if (length == 0 || !text) return std::nullopt;
    return std::wstring(text.get(), length);
}

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
    // No sharing: no other opener while the file is held. FILE_FLAG_OPEN_REPARSE_POINT opens a
    // link or junction planted at the name as itself, and it is then refused like a directory or
    // anything that is not a disk file (a device name such as NUL or COM1).
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

bool RenameReplacing(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// --- The shared wake-up event ----------------------------------------------------------------

void* CreateNewEffectEvent() {
    return CreateEventW(nullptr, FALSE, FALSE, kNewEffectEventName);
}

void SetNewEffectEvent(void* handle) {
    if (handle != nullptr) SetEvent(handle);
}

void CloseNewEffectEvent(void* handle) {
    if (handle != nullptr) CloseHandle(handle);
}

}  // namespace kvsdk::platform
