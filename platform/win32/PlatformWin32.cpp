// The Windows backend of the platform interface: SetupAPI for device interfaces, the registry,
// the debugger channel, the system message table, the C runtime's exclusive file open and the
// named kernel event.
#include "platform/Platform.h"

#include <windows.h>
#include <objbase.h>
#include <setupapi.h>
#include <share.h>
#include <stdio.h>
#include <wchar.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "common/win32/InterfacePaths.h"

namespace kvsdk::platform {

namespace {

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
    return win32::InterfacePathAt(classGuid, index, path);
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

struct ExclusiveFile {
    FILE* stream = nullptr;
};

ExclusiveFile* OpenExclusiveAppend(const std::wstring& path) {
    // Text mode: the runtime stores each line feed as CR LF and each wide character in the
    // current locale's multibyte form. _SH_DENYRW: no other opener while the file is held.
    FILE* stream = _wfsopen(path.c_str(), L"a+", _SH_DENYRW);
    if (stream == nullptr) return nullptr;
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

void CloseExclusiveFile(ExclusiveFile* file) {
    if (file == nullptr) return;
    if (file->stream != nullptr) fclose(file->stream);
    delete file;
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

// --- The library's own module ------------------------------------------------------------------

void KeepModuleLoaded() {
    static const bool kept = [] {
        static const char anchor = 0;
        HMODULE self = nullptr;
        // A pinned module stays mapped until the process ends; FreeLibrary no longer unloads it.
        return GetModuleHandleExW(
                   GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                   reinterpret_cast<LPCWSTR>(&anchor), &self) != FALSE;
    }();
    (void)kept;
}

}  // namespace kvsdk::platform
