// Helpers of the Windows suite: registry keys that remove themselves, fake device interfaces
// that SetupAPI lists, and a capture of the debugger channel.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kvsdk::wintest {

// Creates hive\path (and any missing parents) in the 64-bit view; on destruction deletes the
// topmost key that this object created, with everything below it.
class CScopedRegKey {
  public:
    CScopedRegKey(HKEY hive, const std::wstring& path);
    ~CScopedRegKey();
    CScopedRegKey(const CScopedRegKey&) = delete;
    CScopedRegKey& operator=(const CScopedRegKey&) = delete;

    bool Valid() const { return m_hKey != nullptr; }
    void SetDword(const wchar_t* name, DWORD value);
    void SetBinary(const wchar_t* name, const std::vector<BYTE>& data);
    void SetString(const wchar_t* name, const std::wstring& value);
    void DeleteValue(const wchar_t* name);

  private:
    HKEY m_hive;
    HKEY m_hKey = nullptr;
    std::wstring m_createdRoot;  // empty: the key existed already
};

// Deletes hive\path with everything below it; no error when it is missing.
void DeleteRegistryTree(HKEY hive, const std::wstring& path);

// A device interface that SetupAPI lists as present: the device's Enum key and the class's
// DeviceClasses entry with its symbolic link, removed again on destruction.
class CFakeInterface {
  public:
    // deviceId like L"VID_7A3E&PID_0E59&MI_00", enumerator like L"HID" or L"USB".
    CFakeInterface(const GUID& interfaceClass, const std::wstring& enumerator,
                   const std::wstring& deviceId, const std::wstring& instance);
    ~CFakeInterface();
    CFakeInterface(const CFakeInterface&) = delete;
    CFakeInterface& operator=(const CFakeInterface&) = delete;

    // The device path as Windows would spell it ("\\?\HID#VID_...#instance#{class}").
    const std::wstring& Path() const { return m_path; }

  private:
    std::wstring m_path;
    std::unique_ptr<CScopedRegKey> m_enumKey;
    std::unique_ptr<CScopedRegKey> m_classKey;
};

std::wstring GuidText(const GUID& guid);  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", lower case

// Collects what the process sends to the debugger channel while the object lives (through a
// vectored exception handler: both the ANSI and the wide debug-print exception).
class CDebugCapture {
  public:
    CDebugCapture();
    ~CDebugCapture();
    CDebugCapture(const CDebugCapture&) = delete;
    CDebugCapture& operator=(const CDebugCapture&) = delete;

    // Every message received so far, in order, as wide text (ANSI messages converted).
    std::vector<std::wstring> Messages() const;

  private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info);
    void* m_handler = nullptr;
};

}  // namespace kvsdk::wintest
