// The registry on Windows: values read with RegQueryValueExW, and the change stamp, change
// notifications on SOFTWARE\TOLVE and its parent.
#include "platform/Platform.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace kvsdk::platform {

namespace {

// Owns an open registry key.
class RegKey {
  public:
    RegKey() = default;
    ~RegKey() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    HKEY* Receive() { return &m_key; }
    HKEY Get() const { return m_key; }

  private:
    HKEY m_key = nullptr;
};

}  // namespace

RegistryValue QueryRegistryValue(Hive hive, const std::wstring& subkey, uint32_t access,
                                 const std::wstring& valueName, uint32_t bufferSize) {
    RegistryValue result;
    const HKEY root = hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    RegKey key;
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
class HiveWatch {
  public:
    explicit HiveWatch(Hive hive)
        : m_root(hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE),
          m_view(hive == Hive::CurrentUser ? 0 : KEY_WOW64_64KEY) {}

    uint64_t Stamp() {
        std::lock_guard guard(m_lock);
        if (!m_armed || WaitForSingleObject(m_event, 0) != WAIT_TIMEOUT) {
            ++m_stamp;
            Arm();
        }
        return m_stamp;
    }

  private:
    // Arms the notifications before the caller reads anything, so a change made after this
    // fires one. When they cannot be armed, every look counts as a change.
    void Arm() {
        m_armed = false;
        if (m_event == nullptr) m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (m_event == nullptr) return;
        ResetEvent(m_event);
        Close(m_parent);
        Close(m_key);
        if (RegOpenKeyExW(m_root, kWatchedParent, 0, KEY_NOTIFY | m_view, &m_parent) !=
            ERROR_SUCCESS) {
            m_parent = nullptr;
            return;
        }
        if (!Notify(m_parent, FALSE, kParentFilter, m_event)) return;
        if (RegOpenKeyExW(m_root, kWatchedKey, 0, KEY_NOTIFY | m_view, &m_key) != ERROR_SUCCESS) {
            // No key yet: its creation fires the parent's notification.
            m_key = nullptr;
            m_armed = true;
            return;
        }
        m_armed = Notify(m_key, TRUE, kWatchFilter, m_event);
    }

    static void Close(HKEY& key) {
        if (key != nullptr) RegCloseKey(key);
        key = nullptr;
    }

    std::mutex m_lock;
    const HKEY m_root;
    const REGSAM m_view;
    HANDLE m_event = nullptr;
    HKEY m_parent = nullptr;
    HKEY m_key = nullptr;
    bool m_armed = false;
    uint64_t m_stamp = 0;
};

}  // namespace

// The watches live as long as the process: their key and event handles go with it.
uint64_t RegistryChangeStamp(Hive hive) {
    static HiveWatch* user = new HiveWatch(Hive::CurrentUser);
    static HiveWatch* machine = new HiveWatch(Hive::LocalMachine);
    return (hive == Hive::CurrentUser ? user : machine)->Stamp();
}

}  // namespace kvsdk::platform
