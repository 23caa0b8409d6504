#include "common/SimFile.h"

#include <cstdio>
#include <memory>
#include <sstream>
#include <string_view>

#include "common/SafeFile.h"
#include "common/Strings.h"

namespace kvsdk::sim {

namespace {

// A device file holds a few lines per interface; anything larger is not one.
constexpr size_t kMaxSimFileBytes = 4u * 1024u * 1024u;
// The longest delay a simulated Set may be given: a minute.
constexpr uint32_t kMaxSetDelayMs = 60000;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        const size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A hexadecimal number of at most 'maxDigits' digits, with or without "0x".
std::optional<uint32_t> ParseHex(std::string_view text, size_t maxDigits = 8) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

std::optional<InterfaceClass> ParseClass(std::string_view text) {
    if (EqualsIgnoreCase(text, "mouse")) return InterfaceClass::Mouse;
    if (EqualsIgnoreCase(text, "keyboard")) return InterfaceClass::Keyboard;
    if (EqualsIgnoreCase(text, "usb")) return InterfaceClass::Usb;
    return std::nullopt;
}

// Applies one key=value field; an error text when the field is not understood.
std::optional<std::string> ApplyKey(std::string_view field, SimInterface& item) {
    const size_t eq = field.find('=');
    if (eq == std::string_view::npos) return "field without '=': " + std::string(field);
    const std::string_view key = field.substr(0, eq);
    const std::string_view value = field.substr(eq + 1);
    const std::string bad = "bad value in " + std::string(field);

    if (key == "init" || key == "get" || key == "set") {
        const auto number = ParseHex(value);
        if (!number) return bad;
        const auto hr = static_cast<HRESULT>(*number);
        if (key == "init") item.initResult = hr;
        if (key == "get") item.getResult = hr;
        if (key == "set") item.setResult = hr;
        return std::nullopt;
    }
    if (key == "connect") {
        const auto number = ParseHex(value);
        if (!number || *number > 1) return bad;
        item.connectResult = *number == 1;
        return std::nullopt;
    }
    if (key == "tunnel") {
        const auto number = ParseHex(value);
        if (!number) return bad;
        item.tunnelResult = static_cast<int>(*number);
        return std::nullopt;
    }
    if (key == "setdelay") {
        // Milliseconds, decimal: every Set on the path takes that much longer.
        uint32_t ms = 0;
        if (value.empty() || value.size() > 5) return bad;
        for (const char c : value) {
            if (c < '0' || c > '9') return bad;
            ms = ms * 10 + static_cast<uint32_t>(c - '0');
        }
        if (ms > kMaxSetDelayMs) return bad;
        item.setDelayMs = ms;
        return std::nullopt;
    }
    if (key.starts_with("reg.")) {
        std::string_view keyDigits = key.substr(4);
        if (keyDigits.size() == 10 && keyDigits[0] == '0' &&
            (keyDigits[1] == 'x' || keyDigits[1] == 'X')) {
            keyDigits.remove_prefix(2);
        }
        if (keyDigits.size() != 8) return "register key is not four bytes: " + std::string(field);
        const auto registerKey = ParseHex(keyDigits);
        const auto byte = ParseHex(value, 2);
        if (!registerKey || !byte) return bad;
        RegisterKey bytes{};
        for (size_t i = 0; i < 4; ++i) {
            bytes[i] = static_cast<uint8_t>(*registerKey >> (8 * (3 - i)));
        }
        item.registers[bytes] = static_cast<uint8_t>(*byte);
        return std::nullopt;
    }
    return "unknown key: " + std::string(field);
}

}  // namespace

std::vector<SimInterface> ParseSimFile(const std::string& text,
                                       std::vector<std::string>* warnings) {
    std::vector<SimInterface> items;
    std::string_view rest(text);
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
    int lineNumber = 0;
    bool more = true;
    while (more) {
        ++lineNumber;
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        more = end != std::string_view::npos;
        if (more) rest.remove_prefix(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        const auto fields = SplitFields(line);
        if (fields.empty() || fields[0].front() == '#') continue;

        std::optional<std::string> error;
        SimInterface item;
        const auto cls = ParseClass(fields[0]);
        if (!cls) {
            error = "unknown class: " + std::string(fields[0]);
        } else if (fields.size() < 2 || fields[1].find('=') != std::string_view::npos) {
            error = "no interface path";
        } else {
            item.interfaceClass = *cls;
            item.path = FromUtf8(fields[1]);
            for (size_t i = 2; i < fields.size() && !error; ++i) error = ApplyKey(fields[i], item);
        }

        if (!error) {
            items.push_back(std::move(item));
        } else if (warnings != nullptr) {
            warnings->push_back("line " + std::to_string(lineNumber) + " skipped, " + *error);
        }
    }
    return items;
}

std::optional<std::vector<SimInterface>> LoadSimFile(std::wstring* sourcePath) {
    const auto path = GetEnvironmentString(L"KVSDK_SIM");
    if (sourcePath != nullptr) *sourcePath = path.value_or(std::wstring());
    if (!path) return std::nullopt;

    const std::optional<std::string> text = ReadRegularFile(*path, kMaxSimFileBytes);
    if (!text) {
        std::fprintf(stderr,
                     "KVSDK_SIM: cannot read %s (not a regular file of at most 4 MiB); no device "
                     "is listed\n",
                     ToUtf8(*path).c_str());
        return std::vector<SimInterface>();
    }
    std::vector<std::string> warnings;
    auto items = ParseSimFile(*text, &warnings);
    if (!warnings.empty()) {
        std::ostringstream out;
        for (const auto& warning : warnings) {
            out << "KVSDK_SIM: " << ToUtf8(*path) << ": " << warning << '\n';
        }
        std::fputs(out.str().c_str(), stderr);
    }
    return items;
}

const GUID& ClassGuid(InterfaceClass cls) {
    switch (cls) {
        case InterfaceClass::Keyboard:
            return kGuidDevinterfaceKeyboard;
        case InterfaceClass::Usb:
            return kGuidDevinterfaceUsbDevice;
        case InterfaceClass::Mouse:
        default:
            return kGuidDevinterfaceMouse;
    }
}

std::optional<InterfaceClass> ClassFromGuid(const GUID& guid) {
    if (GuidEqual(guid, kGuidDevinterfaceMouse)) return InterfaceClass::Mouse;
    if (GuidEqual(guid, kGuidDevinterfaceKeyboard)) return InterfaceClass::Keyboard;
    if (GuidEqual(guid, kGuidDevinterfaceUsbDevice)) return InterfaceClass::Usb;
    return std::nullopt;
}

}  // namespace kvsdk::sim
