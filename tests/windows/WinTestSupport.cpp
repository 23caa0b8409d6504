#include "tests/windows/WinTestSupport.h"

#include <cwchar>

#include "common/Strings.h"

namespace kvsdk::wintest {

namespace {

constexpr REGSAM kAccess = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
constexpr DWORD kDebugPrintAnsi = 0x40010006;  // DBG_PRINTEXCEPTION_C
constexpr DWORD kDebugPrintWide = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C

std::mutex g_captureLock;
std::vector<std::wstring> g_captured;

void SetStringValue(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, kAccess, &key) != ERROR_SUCCESS) return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

}  // namespace

CScopedRegKey::CScopedRegKey(HKEY hive, const std::wstring& path) : m_hive(hive) {
    // Walk down the path so that the first key this object creates is known.
    size_t pos = 0;
    HKEY key = nullptr;
    while (pos != std::wstring::npos) {
        pos = path.find(L'\\', pos + 1);
        const std::wstring prefix = path.substr(0, pos);
        DWORD disposition = 0;
        if (key != nullptr) RegCloseKey(key);
        key = nullptr;
        if (RegCreateKeyExW(hive, prefix.c_str(), 0, nullptr, 0, kAccess, nullptr, &key,
                            &disposition) != ERROR_SUCCESS) {
            key = nullptr;
            break;
        }
        if (disposition == REG_CREATED_NEW_KEY && m_createdRoot.empty()) m_createdRoot = prefix;
    }
    m_hKey = key;
}

CScopedRegKey::~CScopedRegKey() {
    if (m_hKey != nullptr) RegCloseKey(m_hKey);
    if (!m_createdRoot.empty()) DeleteRegistryTree(m_hive, m_createdRoot);
}

void CScopedRegKey::SetDword(const wchar_t* name, DWORD value) {
    RegSetValueExW(m_hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof(value));
}

void CScopedRegKey::SetBinary(const wchar_t* name, const std::vector<BYTE>& data) {
    RegSetValueExW(m_hKey, name, 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

void CScopedRegKey::SetString(const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(m_hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void CScopedRegKey::DeleteValue(const wchar_t* name) {
    RegDeleteValueW(m_hKey, name);
}

void DeleteRegistryTree(HKEY hive, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, path.c_str(), 0, kAccess, &key) != ERROR_SUCCESS) return;
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExW(hive, path.c_str(), KEY_WOW64_64KEY, 0);
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[64];
    std::swprintf(text, 64, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

CFakeInterface::CFakeInterface(const GUID& interfaceClass, const std::wstring& enumerator,
                               const std::wstring& deviceId, const std::wstring& instance) {
    const std::wstring classText = GuidText(interfaceClass);
    const std::wstring instanceId = enumerator + L"\\" + deviceId + L"\\" + instance;
    const std::wstring reference =
        enumerator + L"#" + deviceId + L"#" + instance + L"#" + classText;
    m_path = L"\\\\?\\" + reference;
    const std::wstring enumKey =
        L"System\\CurrentControlSet\\Enum\\" + enumerator + L"\\" + deviceId + L"\\" + instance;
    const std::wstring classKey =
        L"System\\CurrentControlSet\\Control\\DeviceClasses\\" + classText + L"\\##?#" + reference;

    // Created first with their cleanup, so that every key this object adds goes again.
    m_enumKey = std::make_unique<CScopedRegKey>(HKEY_LOCAL_MACHINE, enumKey);
    m_classKey = std::make_unique<CScopedRegKey>(HKEY_LOCAL_MACHINE, classKey + L"\\#\\Control");

    // SetupAPI lists an interface only when its device names a setup class.
    const std::wstring setupClass = enumerator == L"HID"
                                        ? L"{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"
                                        : L"{36FC9E60-C465-11CF-8056-444553540000}";
    SetStringValue(enumKey, L"ClassGUID", setupClass);
    SetStringValue(classKey, L"DeviceInstance", instanceId);
    SetStringValue(classKey + L"\\#", L"SymbolicLink", m_path);
    m_classKey->SetDword(L"Linked", 1);
}

CFakeInterface::~CFakeInterface() = default;

CDebugCapture::CDebugCapture() {
    {
        std::lock_guard lock(g_captureLock);
        g_captured.clear();
    }
    m_handler = AddVectoredExceptionHandler(1, &CDebugCapture::Handler);
}

CDebugCapture::~CDebugCapture() {
    if (m_handler != nullptr) RemoveVectoredExceptionHandler(m_handler);
}

std::vector<std::wstring> CDebugCapture::Messages() const {
    std::lock_guard lock(g_captureLock);
    return g_captured;
}

LONG CALLBACK CDebugCapture::Handler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    // Parameter 0: length including the terminator; parameter 1: the text.
    const size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
    std::wstring text;
    if (record->ExceptionCode == kDebugPrintWide) {
        const auto* wide = reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]);
        if (wide != nullptr) text.assign(wide, wcsnlen(wide, length));
    } else if (record->ExceptionCode == kDebugPrintAnsi) {
        const auto* ansi = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        if (ansi != nullptr) {
            const int count = static_cast<int>(strnlen(ansi, length));
            const int wideCount = MultiByteToWideChar(CP_ACP, 0, ansi, count, nullptr, 0);
            text.resize(static_cast<size_t>(wideCount));
            MultiByteToWideChar(CP_ACP, 0, ansi, count, text.data(), wideCount);
        }
    } else {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    {
        std::lock_guard lock(g_captureLock);
        g_captured.push_back(std::move(text));
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace kvsdk::wintest
