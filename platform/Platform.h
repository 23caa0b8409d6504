// The narrow platform interface the engine is written against. The Windows backend
// (platform/win32) uses SetupAPI, the registry, kernel events and the debugger channel; the
// POSIX backend (platform/posix) uses sysfs, .reg files and standard error. Each backend keeps
// one file per section below: Interfaces.cpp, Registry.cpp, Diagnostics.cpp, LogFile.cpp,
// NewEffectEvent.cpp, Fork.cpp and Module.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Registry.h"
#include "common/Win32Types.h"

namespace kvsdk::platform {

// --- Device interfaces --------------------------------------------------------------------

// One snapshot of the present device interfaces of the class 'classGuid', taken when the object
// is made (Windows: one SetupAPI device information set, held until the object goes; Linux: one
// walk of sysfs). A search takes one snapshot and reads it index by index.
// This is the platform's own source; the simulated set of KVSDK_SIM is handled by the caller.
class InterfaceList {
  public:
    explicit InterfaceList(const GUID& classGuid);
    ~InterfaceList();
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;

    // Path of interface number 'index' (from 0), as the platform reports it. On failure 'path'
    // is left unchanged and the Windows error is returned as an HRESULT (past the last
    // interface: 0x80070103).
    HRESULT Path(uint32_t index, std::wstring& path) const;

  private:
    struct Snapshot;
    std::unique_ptr<Snapshot> m_snapshot;
};

// Path of the present interface number 'index' from a snapshot of its own.
HRESULT EnumInterfacePath(const GUID& classGuid, uint32_t index, std::wstring& path);

// --- Registry -----------------------------------------------------------------------------

using kvsdk::Hive;
using kvsdk::RegistryValue;

// Opens hive\subkey with 'access' (never creates it), queries 'valueName' into a buffer of
// 'bufferSize' bytes and closes the key. A value longer than the buffer answers
// ERROR_MORE_DATA and no data. Read afresh at every call.
RegistryValue QueryRegistryValue(Hive hive, const std::wstring& subkey, uint32_t access,
                                 const std::wstring& valueName, uint32_t bufferSize);

// A number that changes whenever a value under hive\SOFTWARE\TOLVE may have changed since the
// previous call for the same hive, so a caller may keep what it read under one number until the
// number changes. It never goes back. Windows: a change notification on the key (re-armed when
// it fired); Linux: an inotify watch on the hive's .reg file and every folder on the way to it,
// whose name is resolved afresh at every call; where no watch can be set, one stat of the file
// (a file written
// in the last moments then counts as changed at every call, since a rewrite within one tick of
// the file system's clock leaves its time stamp as it was).
uint64_t RegistryChangeStamp(Hive hive);

// --- Debug output, local time and message texts ------------------------------------------------

// The debugger channel: OutputDebugStringW on Windows, standard error elsewhere.
void DebugOutput(const std::wstring& text);

struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0;
    int second = 0;
};
LocalTime GetLocalTimeNow();

// The system's message text for an HRESULT, as the message table gives it (not trimmed), or
// nullopt when the system has none. Windows: FormatMessageW. Elsewhere: a built-in table of the
// codes the library and its device-I/O library can produce.
std::optional<std::wstring> SystemMessageText(HRESULT hr);

// --- The log file ------------------------------------------------------------------------------

// The user's profile directory variable ("USERPROFILE" on Windows, "HOME" elsewhere) and the
// path separator used to build the log file path.
const wchar_t* ProfileVariableName();
wchar_t PathSeparator();

// The user's profile directory: the profile variable's value. Windows: an empty text when the
// variable is not set. Linux: when HOME is unset or empty, the account's home directory from the
// password database; nullopt when that is missing too or is the filesystem root.
std::optional<std::wstring> ProfileDirectory();

// Opens a file for appending in the log's text mode, without sharing: while it is open nobody
// else can open it, and the open fails while someone else holds it. Only a regular file is
// opened: a symbolic link (Linux) or reparse point (Windows) planted at the name is not
// followed, and a FIFO, device or directory is refused without blocking. A new file is created
// owner-only (0600 on Linux). nullptr on failure. Close it with CloseExclusiveFile.
struct ExclusiveFile;
ExclusiveFile* OpenExclusiveAppend(const std::wstring& path);
// Writes the text in the runtime's multibyte form; false when the write failed.
bool WriteExclusiveFile(ExclusiveFile* file, const std::wstring& text);
// Bytes the open file holds (0 when unknown).
uint64_t ExclusiveFileSize(ExclusiveFile* file);
void CloseExclusiveFile(ExclusiveFile* file);
// Moves the file held by 'file', opened at 'path', to 'to' (replacing 'to' when it exists; a link
// there is replaced, not followed) while it is still held, so that no other writer can open it in
// between. Only when 'path' still leads to the held file: one that another process moved aside
// after this one opened it stays where it is. False when nothing was moved.
bool MoveHeldFileAside(ExclusiveFile* file, const std::wstring& path, const std::wstring& to);

// --- The shared wake-up event ----------------------------------------------------------------

// The named auto-reset event "New effect event" (Windows). Elsewhere there is no such kernel
// object and these do nothing. The engine never depends on this event for its own wake-ups.
void* CreateNewEffectEvent();
void SetNewEffectEvent(void* handle);
void CloseNewEffectEvent(void* handle);

// --- Processes made by fork ---------------------------------------------------------------------

// Has 'handler' run in the child of every later fork of this process, in the child's only thread
// before fork returns there (POSIX). The child holds a copy of the parent's memory but none of its
// other threads, and a lock one of them held stays held: the handler lets the child leave such
// state behind untouched and start afresh. It may only rebuild objects in place, without locks or
// memory allocation. Windows has no fork: nothing to do.
void RunInForkedChild(void (*handler)());

// --- The library's own module ------------------------------------------------------------------

// Keeps the module that holds this code mapped until the process ends, whatever the host unloads
// later (Windows: the module is pinned; Linux: it is marked RTLD_NODELETE). Called before the
// library starts its first thread, so none of its threads can ever run in unmapped code. A host
// that unloads and loads the library again gets the same module and its state back. Runs once;
// a failure (code linked into an executable) is ignored.
void KeepModuleLoaded();

}  // namespace kvsdk::platform
