// The Windows backend of the platform interface: SetupAPI for device interfaces, the registry,
// the debugger channel, the system message table, the C runtime's exclusive file open and the
// named kernel event.
#include "platform/Platform.h"

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
#include <mutex>
#include <new>
#include <utility>

#include "common/Strings.h"
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

struct CInterfaceList::Snapshot {
    explicit Snapshot(const GUID& classGuid) : set(classGuid) {}
    win32::CInterfaceSet set;
};

CInterfaceList::CInterfaceList(const GUID& classGuid)
    : m_snapshot(new (std::nothrow) Snapshot(classGuid)) {}

CInterfaceList::~CInterfaceList() = default;

HRESULT CInterfaceList::Path(uint32_t index, std::wstring& path) const {
    if (!m_snapshot) return HResultFromWin32(ERROR_NOT_ENOUGH_MEMORY);
    return m_snapshot->set.Path(index, path);
}

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

// --- Registry change watch ----------------------------------------------------------------

namespace {

constexpr wchar_t kWatchedKey[] = L"SOFTWARE\\TOLVE";
constexpr wchar_t kWatchedParent[] = L"SOFTWARE";
// Security changes count: whether a key opens with the access asked decides a switch.
constexpr DWORD kWatchFilter =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
constexpr DWORD kParentFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_SECURITY;

// Arms one notification. It outlives the thread that arms it (a host thread that may end at any
// time); where the system does not know that flag, the notification ends with its thread, which
// then reads as a change and is armed again.
bool Notify(HKEY key, BOOL subtree, DWORD filter, HANDLE event) {
    if (RegNotifyChangeKeyValue(key, subtree, filter | REG_NOTIFY_THREAD_AGNOSTIC, event, TRUE) ==
        ERROR_SUCCESS) {
        return true;
    }
    return RegNotifyChangeKeyValue(key, subtree, filter, event, TRUE) == ERROR_SUCCESS;
}

// One hive's watch: a manual-reset event that change notifications set, one on SOFTWARE\TOLVE
// with its subkeys (when the key exists) and one on its parent SOFTWARE for a subkey created or
// deleted (the notification of a deleted key itself does not fire everywhere). A notification
// fires once; the watch is armed again when it has fired.
class CHiveWatch {
  public:
    explicit CHiveWatch(Hive hive)
        : m_root(hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE),
          m_view(hive == Hive::CurrentUser ? 0 : KEY_WOW64_64KEY) {}

    uint64_t Stamp() {
        std::lock_guard guard(m_lock);
        if (!m_bArmed || WaitForSingleObject(m_hEvent, 0) != WAIT_TIMEOUT) {
            ++m_stamp;
            Arm();
        }
        return m_stamp;
    }

  private:
    // Arms the notifications before the caller reads anything, so a change made after this
    // fires one. When they cannot be armed, every look counts as a change.
    void Arm() {
        m_bArmed = false;
        if (m_hEvent == nullptr) m_hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (m_hEvent == nullptr) return;
        ResetEvent(m_hEvent);
        Close(m_hParent);
        Close(m_hKey);
        if (RegOpenKeyExW(m_root, kWatchedParent, 0, KEY_NOTIFY | m_view, &m_hParent) !=
            ERROR_SUCCESS) {
            m_hParent = nullptr;
            return;
        }
        if (!Notify(m_hParent, FALSE, kParentFilter, m_hEvent)) return;
        if (RegOpenKeyExW(m_root, kWatchedKey, 0, KEY_NOTIFY | m_view, &m_hKey) != ERROR_SUCCESS) {
            // No key yet: its creation fires the parent's notification.
            m_hKey = nullptr;
            m_bArmed = true;
            return;
        }
        m_bArmed = Notify(m_hKey, TRUE, kWatchFilter, m_hEvent);
    }

    static void Close(HKEY& key) {
        if (key != nullptr) RegCloseKey(key);
        key = nullptr;
    }

    std::mutex m_lock;
    const HKEY m_root;
    const REGSAM m_view;
    HANDLE m_hEvent = nullptr;
    HKEY m_hParent = nullptr;
    HKEY m_hKey = nullptr;
    bool m_bArmed = false;
    uint64_t m_stamp = 0;
};

}  // namespace

// The watches live as long as the process: their key and event handles go with it.
uint64_t RegistryChangeStamp(Hive hive) {
    static CHiveWatch* user = new CHiveWatch(Hive::CurrentUser);
    static CHiveWatch* machine = new CHiveWatch(Hive::LocalMachine);
    return (hive == Hive::CurrentUser ? user : machine)->Stamp();
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

// --- Processes
// ------------------------------------------------------------------------------------

void RunInForkedChild(void (* /*handler*/)()) {}

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
