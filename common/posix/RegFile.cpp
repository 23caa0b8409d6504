#include "common/posix/RegFile.h"

#include <cstdlib>
#include <string_view>

#include "common/SafeFile.h"
#include "common/Strings.h"

namespace kvsdk::posix {

namespace {

// Larger files are not read: nothing this library uses comes near this size.
constexpr size_t kMaxFileSize = 16u * 1024u * 1024u;

constexpr std::wstring_view kHeader5 = L"Windows Registry Editor Version 5.00";
constexpr std::wstring_view kHeader4 = L"REGEDIT4";
constexpr std::wstring_view kCurrentUser = L"HKEY_CURRENT_USER";
constexpr std::wstring_view kLocalMachine = L"HKEY_LOCAL_MACHINE";

// UTF-16LE after its byte-order mark; an odd last byte is dropped, a lone surrogate kept.
std::wstring DecodeUtf16Le(const std::vector<uint8_t>& bytes, size_t start) {
    std::wstring text;
    text.reserve(bytes.size() / 2);
    for (size_t i = start; i + 1 < bytes.size(); i += 2) {
        uint32_t unit = static_cast<uint32_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            const auto low = static_cast<uint32_t>(bytes[i + 2] | (bytes[i + 3] << 8));
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendCodePoint(text, unit);
    }
    return text;
}

std::wstring DecodeFile(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return DecodeUtf16Le(bytes, 2);
    size_t start = 0;
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) start = 3;
    return FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()) + start,
                                     bytes.size() - start));
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::wstring_view Trim(std::wstring_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wstring line;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else {
            line.push_back(c);
        }
    }
    lines.push_back(std::move(line));
    return lines;
}

std::optional<uint32_t> HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return static_cast<uint32_t>(c - L'0');
    if (c >= L'a' && c <= L'f') return static_cast<uint32_t>(c - L'a' + 10);
    if (c >= L'A' && c <= L'F') return static_cast<uint32_t>(c - L'A' + 10);
    return std::nullopt;
}

// 1 to 'maxDigits' hexadecimal digits, nothing else.
std::optional<uint32_t> ParseHex(std::wstring_view text, size_t maxDigits) {
    text = Trim(text);
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    uint32_t value = 0;
    for (const wchar_t c : text) {
        const auto digit = HexDigit(c);
        if (!digit) return std::nullopt;
        value = (value << 4) | *digit;
    }
    return value;
}

// "01,02 , ff": bytes of one or two hex digits separated by commas. Empty text is no byte;
// a comma at the very end (left from a continued line) is allowed.
std::optional<std::vector<uint8_t>> ParseByteList(std::wstring_view text) {
    std::vector<uint8_t> bytes;
    text = Trim(text);
    if (text.empty()) return bytes;
    if (text.back() == L',') text.remove_suffix(1);
    while (true) {
        const auto comma = text.find(L',');
        const auto value = ParseHex(text.substr(0, comma), 2);
        if (!value) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(*value));
        if (comma == std::wstring_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return bytes;
}

// A quoted text at the start of 'text' with the escapes \\ and \" (any other backslash stays
// as written, as regedit reads it). On success 'text' is left after the closing quote.
std::optional<std::wstring> ParseQuoted(std::wstring_view& text) {
    if (text.empty() || text.front() != L'"') return std::nullopt;
    std::wstring out;
    for (size_t i = 1; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'"') {
            text.remove_prefix(i + 1);
            return out;
        }
        if (c == L'\\' && i + 1 < text.size() && (text[i + 1] == L'\\' || text[i + 1] == L'"')) {
            out.push_back(text[++i]);
        } else {
            out.push_back(c);
        }
    }
    return std::nullopt;
}

// REG_SZ data as Windows stores it: UTF-16LE with a terminating zero unit.
std::vector<uint8_t> EncodeRegSz(const std::wstring& text) {
    std::vector<uint8_t> bytes;
    auto put = [&bytes](uint32_t unit) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (const wchar_t c : text) {
        auto cp = static_cast<uint32_t>(c);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp > 0xFFFF ? 0xFFFD : cp);
        }
    }
    put(0);
    return bytes;
}

bool StartsWithIgnoreCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// The value data after '=': nullopt when it cannot be read; a RegData of type kRegNone with
// 'remove' set for "-".
struct ParsedData {
    RegData data;
    bool remove = false;
};

std::optional<ParsedData> ParseData(std::wstring_view text) {
    text = Trim(text);
    ParsedData parsed;
    if (text == L"-") {
        parsed.remove = true;
        return parsed;
    }
    if (!text.empty() && text.front() == L'"') {
        const auto value = ParseQuoted(text);
        if (!value || !Trim(text).empty()) return std::nullopt;
        parsed.data.type = kRegSz;
        parsed.data.bytes = EncodeRegSz(*value);
        return parsed;
    }
    if (StartsWithIgnoreCase(text, L"dword:")) {
        const auto value = ParseHex(text.substr(6), 8);
        if (!value) return std::nullopt;
        parsed.data.type = kRegDword;
        for (int shift = 0; shift < 32; shift += 8) {
            parsed.data.bytes.push_back(static_cast<uint8_t>((*value >> shift) & 0xFF));
        }
        return parsed;
    }
    if (StartsWithIgnoreCase(text, L"hex:")) {
        const auto bytes = ParseByteList(text.substr(4));
        if (!bytes) return std::nullopt;
        parsed.data.type = kRegBinary;
        parsed.data.bytes = *bytes;
        return parsed;
    }
    if (StartsWithIgnoreCase(text, L"hex(")) {
        const auto close = text.find(L"):");
        if (close == std::wstring_view::npos) return std::nullopt;
        const auto type = ParseHex(text.substr(4, close - 4), 8);
        const auto bytes = ParseByteList(text.substr(close + 2));
        if (!type || !bytes) return std::nullopt;
        parsed.data.type = *type;
        parsed.data.bytes = *bytes;
        return parsed;
    }
    return std::nullopt;
}

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE" for a hive name as a file may spell it.
std::optional<std::wstring_view> CanonicalHive(std::wstring_view name) {
    if (EqualsIgnoreCase(name, kCurrentUser) || EqualsIgnoreCase(name, L"HKCU")) {
        return kCurrentUser;
    }
    if (EqualsIgnoreCase(name, kLocalMachine) || EqualsIgnoreCase(name, L"HKLM")) {
        return kLocalMachine;
    }
    return std::nullopt;
}

// Upper-cased "HIVE\PART\PART" with empty parts (doubled or outer backslashes) dropped.
std::wstring JoinKey(std::wstring_view hive, std::wstring_view subkey) {
    std::wstring key(hive);
    while (!subkey.empty()) {
        const auto slash = subkey.find(L'\\');
        const auto part = subkey.substr(0, slash);
        if (!part.empty()) {
            key.push_back(L'\\');
            key.append(part);
        }
        if (slash == std::wstring_view::npos) break;
        subkey.remove_prefix(slash + 1);
    }
    return ToUpper(key);
}

// The full key name of a section header's text, or nullopt for a hive this stand-in ignores.
std::optional<std::wstring> SectionKey(std::wstring_view name) {
    const auto slash = name.find(L'\\');
    const auto hive = CanonicalHive(Trim(name.substr(0, slash)));
    if (!hive) return std::nullopt;
    return JoinKey(*hive, slash == std::wstring_view::npos ? L"" : name.substr(slash + 1));
}

std::wstring_view HiveName(Hive hive) {
    return hive == Hive::CurrentUser ? kCurrentUser : kLocalMachine;
}

}  // namespace

class CRegFileParser {
  public:
    explicit CRegFileParser(CRegFile& file) : m_file(file) {}

    // Reads one logical line (continuations already joined) of a valid file.
    void Line(std::wstring_view line) {
        line = Trim(line);
        if (line.empty() || line.front() == L';') return;
        if (line.front() == L'[') {
            Section(line);
            return;
        }
        if (m_section == nullptr) return;
        Value(line);
    }

  private:
    void Section(std::wstring_view line) {
        m_section = nullptr;
        if (line.back() != L']') return;
        line = line.substr(1, line.size() - 2);
        const bool remove = !line.empty() && line.front() == L'-';
        if (remove) line.remove_prefix(1);
        const auto key = SectionKey(line);
        if (!key) return;
        if (remove) {
            m_file.m_keys.erase(*key);
            const std::wstring below = *key + L'\\';
            auto it = m_file.m_keys.lower_bound(below);
            while (it != m_file.m_keys.end() && it->first.starts_with(below)) {
                it = m_file.m_keys.erase(it);
            }
            return;
        }
        m_section = &m_file.m_keys[*key];
    }

    void Value(std::wstring_view line) {
        std::wstring name;
        if (line.front() == L'@') {
            line.remove_prefix(1);
        } else {
            auto quoted = ParseQuoted(line);
            if (!quoted) return;
            name = ToUpper(*quoted);
        }
        line = Trim(line);
        if (line.empty() || line.front() != L'=') return;
        const auto data = ParseData(line.substr(1));
        if (!data) return;
        if (data->remove) {
            m_section->erase(name);
        } else {
            (*m_section)[name] = data->data;
        }
    }

    CRegFile& m_file;
    std::map<std::wstring, RegData>* m_section = nullptr;
};

std::optional<CRegFile> CRegFile::Parse(const std::vector<uint8_t>& contents) {
    const auto lines = SplitLines(DecodeFile(contents));
    size_t next = 0;
    while (next < lines.size() && Trim(lines[next]).empty()) ++next;
    if (next == lines.size()) return std::nullopt;
    const auto header = Trim(lines[next]);
    if (header != kHeader5 && header != kHeader4) return std::nullopt;
    ++next;

    CRegFile file;
    CRegFileParser parser(file);
    std::wstring logical;
    for (; next < lines.size(); ++next) {
        auto line = Trim(lines[next]);
        const bool isValue =
            !logical.empty() || (!line.empty() && line.front() != L'[' && line.front() != L';');
        if (isValue && !line.empty() && line.back() == L'\\') {
            // The byte list goes on in the next line.
            line.remove_suffix(1);
            logical.append(line);
            continue;
        }
        logical.append(line);
        parser.Line(logical);
        logical.clear();
    }
    if (!logical.empty()) parser.Line(logical);
    return file;
}

std::optional<CRegFile> CRegFile::Load(const std::filesystem::path& file) {
    const auto text = ReadRegularFile(file, kMaxFileSize);
    if (!text) return std::nullopt;
    return Parse(std::vector<uint8_t>(text->begin(), text->end()));
}

bool CRegFile::HasKey(Hive hive, const std::wstring& subkey) const {
    const std::wstring key = JoinKey(HiveName(hive), subkey);
    if (m_keys.contains(key)) return true;
    const std::wstring below = key + L'\\';
    const auto it = m_keys.lower_bound(below);
    return it != m_keys.end() && it->first.starts_with(below);
}

const RegData* CRegFile::FindValue(Hive hive, const std::wstring& subkey,
                                   const std::wstring& valueName) const {
    const auto key = m_keys.find(JoinKey(HiveName(hive), subkey));
    if (key == m_keys.end()) return nullptr;
    const auto value = key->second.find(ToUpper(valueName));
    return value == key->second.end() ? nullptr : &value->second;
}

namespace {

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0' ? nullptr : value;
}

}  // namespace

void RegistryFileName(Hive hive, std::string& path) {
    if (const char* single = NonEmptyEnv("KVSDK_REGISTRY")) {
        path.assign(single);
    } else if (hive == Hive::LocalMachine) {
        path.assign("/etc/tolve/registry.reg");
    } else if (const char* config = NonEmptyEnv("XDG_CONFIG_HOME")) {
        path.assign(config);
        path += "/tolve/registry.reg";
    } else if (const char* home = NonEmptyEnv("HOME")) {
        path.assign(home);
        path += "/.config/tolve/registry.reg";
    } else {
        path.clear();
    }
}

RegistryValue QueryRegFile(const CRegFile* file, Hive hive, const std::wstring& subkey,
                           const std::wstring& valueName, uint32_t bufferSize) {
    RegistryValue result;
    result.status = kErrorFileNotFound;
    if (file == nullptr || !file->HasKey(hive, subkey)) return result;
    result.keyOpened = true;
    const RegData* value = file->FindValue(hive, subkey, valueName);
    if (value == nullptr) return result;
    result.type = value->type;
    result.dataSize = static_cast<uint32_t>(value->bytes.size());
    if (value->bytes.size() > bufferSize) {
        result.status = kErrorMoreData;
        return result;
    }
    result.status = kErrorSuccess;
    result.data = value->bytes;
    return result;
}

}  // namespace kvsdk::posix
