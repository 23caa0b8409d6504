// The registry stand-in on Linux: text files in the Windows .reg export format.
//
//   Windows Registry Editor Version 5.00          (or REGEDIT4)
//
//   [HKEY_CURRENT_USER\SOFTWARE\TOLVE\7A3E0E59]   (HKCU, HKLM, HKEY_LOCAL_MACHINE also accepted)
//   "GameControl"=dword:00000000                  REG_DWORD, little-endian
//   "LogEnabled"=hex:01                           REG_BINARY
//   "Blob"=hex(4):01,00,\                         value of type 4; a trailing backslash
//     00,00                                       continues the byte list on the next line
//   "Name"="text"                                 REG_SZ, kept as UTF-16LE with its terminator
//   @="default value"                             the key's default (unnamed) value
//   "Gone"=-                                      removes a value given earlier in the file
//   [-HKEY_CURRENT_USER\SOFTWARE\OLD]             removes a key (and its subkeys) given earlier
//
// The file may be UTF-8 (with or without a byte-order mark) or UTF-16LE with a byte-order mark,
// as regedit writes it. Key and value names compare ignoring (ASCII) case. Lines starting with
// ';' are comments.
//
// Malformed input: a file whose first non-blank line is not one of the two headers is not a
// registry file at all and holds no key. Inside a valid file a line that cannot be read (a value
// line with a bad name or bad data, a value outside any section, an unknown hive) is skipped and
// the rest of the file still counts. Keys of hives other than HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE are ignored.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/Registry.h"

namespace kvsdk::posix {

struct RegData {
    uint32_t type = kRegNone;
    std::vector<uint8_t> bytes;
};

class CRegFile {
  public:
    // Reads a file's raw contents; nullopt when they are not a registry file.
    static std::optional<CRegFile> Parse(const std::vector<uint8_t>& contents);
    // Reads and parses a file; nullopt when it is missing, unreadable or not a registry file.
    static std::optional<CRegFile> Load(const std::filesystem::path& file);

    // True when the key, or a key below it, is given in the file: importing the file would
    // have created it.
    bool HasKey(Hive hive, const std::wstring& subkey) const;
    // The value of the key, or nullptr. An empty name is the default value ("@").
    const RegData* FindValue(Hive hive, const std::wstring& subkey,
                             const std::wstring& valueName) const;

  private:
    // Keys by their full upper-cased name ("HKEY_CURRENT_USER\SOFTWARE\TOLVE"); values by
    // upper-cased name.
    std::map<std::wstring, std::map<std::wstring, RegData>> m_keys;

    friend class CRegFileParser;
};

// The file standing in for a hive, into 'path' (left empty when there is none). KVSDK_REGISTRY,
// when set, holds both hives (and when it names a missing file, there is no key at all).
// Otherwise the user's hive is ${XDG_CONFIG_HOME:-$HOME/.config}/tolve/registry.reg and the
// machine's /etc/tolve/registry.reg. Resolved afresh at every look, into the caller's buffer.
void RegistryFileName(Hive hive, std::string& path);

// The query as Windows answers it, over a parsed file (nullptr: no file, so no key).
RegistryValue QueryRegFile(const CRegFile* file, Hive hive, const std::wstring& subkey,
                           const std::wstring& valueName, uint32_t bufferSize);

}  // namespace kvsdk::posix
