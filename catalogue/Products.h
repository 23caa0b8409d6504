// The product catalogue: everything the library knows about one product, in one row. The
// exports' Init and selection tables, discovery, the device objects (each resolves its row once,
// from its path), the effect families, the VEXO settings restore and the kvsdk tool all read it.
// Data and lookups only: it includes nothing of the library's layers, so every layer may read it.
//
// To add a product, add a row to kProducts (and, for a new family, a row to kFamilies).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "KvSDKEng.h"
#include "common/Win32Types.h"

namespace kvsdk {

// A four-digit hexadecimal id as the interface paths spell it ("0E51"), in narrow and wide form.
struct HexId {
    std::array<char, 5> text{};
    std::array<wchar_t, 5> wide{};
    uint16_t value = 0;

    consteval HexId(const char (&digits)[5]) {
        for (size_t i = 0; i < 4; ++i) {
            const char c = digits[i];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : throw "an id is four upper-case hex digits";
            text[i] = c;
            wide[i] = static_cast<wchar_t>(c);
            value = static_cast<uint16_t>(value * 16 + digit);
        }
    }
    constexpr const char* Text() const { return text.data(); }
    constexpr const wchar_t* Wide() const { return wide.data(); }
};

// The maker's vendor id, carried by the path of every interface of every product.
inline constexpr HexId kVendorId{"7A3E"};

// The effect family a product's devices get: CVEXOEffect or CMORENEffect, and CDeviceVEXO or
// CDevicePell.
enum class Family { VEXO, Pell };

struct FamilyInfo {
    Family family;
    const GUID* guid;  // addresses every device of the family
    const char* name;  // "VEXO", "Pell"
    const char* key;   // the kvsdk tool's name: "vexo"
};

inline constexpr std::array kFamilies{
    FamilyInfo{Family::VEXO, &PRODUCT_VEXO, "VEXO", "vexo"},
    FamilyInfo{Family::Pell, &PRODUCT_PELL, "Pell", "pell"},
};

// One exchange of the VEXO settings restore: the buffer used, the light id read from storage and
// written back live, and the line numbers traced for a failed read (get) and a failed write (set).
enum class ExchangeBuffer { A, B };
struct RestoreStep {
    ExchangeBuffer buffer;
    uint8_t light;
    int getLine;
    int setLine;
};

// The traced line numbers are fixed values that existing logs and their readers know these
// steps by; they are not line numbers of this file.
inline constexpr std::array<RestoreStep, 4> kRestore0E51{{
    {ExchangeBuffer::B, 0x01, 342, 345},
    {ExchangeBuffer::B, 0x0B, 356, 359},
    {ExchangeBuffer::B, 0x0A, 370, 373},
    {ExchangeBuffer::A, 0x0B, 384, 387},
}};
inline constexpr std::array<RestoreStep, 4> kRestore0E52{{
    {ExchangeBuffer::B, 0x05, 401, 404},
    {ExchangeBuffer::B, 0x0B, 415, 418},
    {ExchangeBuffer::A, 0x0B, 429, 432},
    {ExchangeBuffer::A, 0x05, 443, 446},
}};

// How a colour request reaches a product when the host's record names that product itself (a
// family's GUID gets no colour): one light-colour command, the record's first 28 bytes as one
// block, or nothing at all.
enum class ColorForm { None, Command, Block };

struct Product {
    HexId id;                     // product id in the interface path ("PID_0E51")
    const GUID* interfaceClass;   // the device-interface class discovery searches
    const GUID* guid;             // the host's GUID for this one product
    Family family;                // which device and effect classes serve it
    const GUID* deviceGuid;       // the product GUID the device object carries
    bool needsLightingInterface;  // only the interface whose path holds "MI_02" (not first)
    bool wholeBlocks;             // takes whole 28-byte record blocks, sent as tunnel writes
    ColorForm color;              // what a colour request for this product sends
    bool lightingModes;           // takes the lighting-mode kinds (EFFECT_LED_MODE_n)
    bool initAlwaysOk;            // KvSDKEngInit of its GUID answers S_OK even with no device
    std::span<const RestoreStep> restore;  // put back when a VEXO device is released
    int pathRuleOrder;  // where discovery tests this id's "PID_" marker; see ProductForPath
    const char* key;    // the kvsdk tool's name: "pell_mouse_0e59"
    const char* kind;   // "mouse", "keyboard", "USB"; empty where the family says it all
};

// In discovery order: a family's Init searches run in this order, so its devices are listed
// (and later served) in this order.
// clang-format off
inline constexpr std::array kProducts{
    //      id      interface class              the product's GUID           family        GUID the device carries  MI_02  blocks colour              modes  Init OK restore       path rule  tool name             kind
    Product{"0E51", &kGuidDevinterfaceMouse,     &PRODUCT_VEXO_0E51,          Family::VEXO, &kGuidNull,              false, false, ColorForm::None,    false, true,  kRestore0E51, 0,         "vexo_0e51",          ""},
    Product{"0E52", &kGuidDevinterfaceMouse,     &PRODUCT_VEXO_0E52,          Family::VEXO, &kGuidNull,              false, false, ColorForm::None,    false, true,  kRestore0E52, 1,         "vexo_0e52",          ""},
    Product{"0E59", &kGuidDevinterfaceMouse,     &PRODUCT_PELL_MOUSE_0E59,    Family::Pell, &PRODUCT_PELL,           false, false, ColorForm::Command, false, false, {},           4,         "pell_mouse_0e59",    "mouse"},
    Product{"0E5A", &kGuidDevinterfaceKeyboard,  &PRODUCT_PELL_KEYBOARD_0E5A, Family::Pell, &PRODUCT_PELL,           true,  false, ColorForm::Command, true,  false, {},           3,         "pell_keyboard_0e5a", "keyboard"},
    Product{"0E5B", &kGuidDevinterfaceUsbDevice, &PRODUCT_PELL_USB_0E5B,      Family::Pell, &PRODUCT_PELL_USB_0E5B,  false, true,  ColorForm::Block,   false, false, {},           2,         "pell_usb_0e5b",      "USB"},
};
// clang-format on

constexpr const FamilyInfo& FamilyOf(Family family) {
    for (const FamilyInfo& info : kFamilies) {
        if (info.family == family) return info;
    }
    return kFamilies[0];
}

// The row of a product id ("0E51"), or null.
inline const Product* FindProduct(std::wstring_view productId) {
    for (const Product& product : kProducts) {
        if (productId == product.id.Wide()) return &product;
    }
    return nullptr;
}
inline const Product* FindProduct(std::string_view productId) {
    for (const Product& product : kProducts) {
        if (productId == product.id.Text()) return &product;
    }
    return nullptr;
}

// The row whose own GUID is 'guid' (not a family's), or null.
inline const Product* FindProduct(const GUID& guid) {
    for (const Product& product : kProducts) {
        if (GuidEqual(guid, *product.guid)) return &product;
    }
    return nullptr;
}

// Whether 'guid' is a product's or a family's GUID.
inline bool IsProductOrFamily(const GUID& guid) {
    for (const Product& product : kProducts) {
        if (GuidEqual(guid, *product.guid) || GuidEqual(guid, *FamilyOf(product.family).guid)) {
            return true;
        }
    }
    return false;
}

// The rows whose own GUID, or whose family's GUID, is 'guid', in catalogue order.
template <class Visit>
void ForEachAddressed(const GUID& guid, Visit&& visit) {
    for (const Product& product : kProducts) {
        if (GuidEqual(guid, *product.guid) || GuidEqual(guid, *FamilyOf(product.family).guid)) {
            visit(product);
        }
    }
}

// Whether a device that carries 'deviceGuid' takes whole record blocks.
inline bool TakesWholeBlocks(const GUID& deviceGuid) {
    for (const Product& product : kProducts) {
        if (product.wholeBlocks && GuidEqual(deviceGuid, *product.deviceGuid)) return true;
    }
    return false;
}

// The product whose "PID_" marker discovery finds first in an upper-case path, testing the
// markers in pathRuleOrder (a path can carry more than one), or null.
inline const Product* ProductForPath(const std::wstring& upperPath) {
    for (int order = 0; order < static_cast<int>(kProducts.size()); ++order) {
        for (const Product& product : kProducts) {
            if (product.pathRuleOrder != order) continue;
            if (upperPath.find(std::wstring(L"PID_") + product.id.Wide()) != std::wstring::npos) {
                return &product;
            }
        }
    }
    return nullptr;
}

// The product id of an upper-case path: the four characters that begin four characters after its
// first "PID" (the digits after "PID_"); empty when the path has no "PID". Wide or narrow.
template <class Char>
std::basic_string<Char> ProductIdFromPath(std::basic_string_view<Char> upperPath) {
    constexpr Char kPid[] = {'P', 'I', 'D', 0};
    const size_t pos = upperPath.find(kPid);
    if (pos == upperPath.npos || pos + 4 > upperPath.size()) return {};
    return std::basic_string<Char>(upperPath.substr(pos + 4, 4));
}
inline std::wstring ProductIdFromPath(const std::wstring& upperPath) {
    return ProductIdFromPath(std::wstring_view(upperPath));
}

// The row of the product id in an upper-case path (ProductIdFromPath), or null. A device
// resolves its row with this once, when its path is set; selection, the "GameControl" switch,
// the settings restore and the tunnel channel then read that row.
inline const Product* ProductOfPath(const std::wstring& upperPath) {
    return FindProduct(ProductIdFromPath(upperPath));
}

// Whether an effect call whose record names 'requested' addresses a device of 'product' at
// 'upperPath': the record names the product itself or its family, and for a product that needs
// it the path is of the lighting interface. A device of no product (null) is never addressed.
inline bool SelectForSet(const Product* product, const std::wstring& upperPath,
                         const GUID& requested) {
    if (product == nullptr) return false;
    if (!GuidEqual(requested, *product->guid) &&
        !GuidEqual(requested, *FamilyOf(product->family).guid)) {
        return false;
    }
    if (product->needsLightingInterface) {
        const size_t pos = upperPath.find(L"MI_02");
        if (pos == std::wstring::npos || pos == 0) return false;
    }
    return true;
}

// Reading back is narrower: only the VEXO products, each by its own GUID.
inline bool SelectForGet(const Product* product, const GUID& requested) {
    return product != nullptr && product->family == Family::VEXO &&
           GuidEqual(requested, *product->guid);
}

// Whether 'guid' names a whole family.
inline bool IsFamily(const GUID& guid) {
    for (const FamilyInfo& family : kFamilies) {
        if (GuidEqual(guid, *family.guid)) return true;
    }
    return false;
}

// Whether KvSDKEngInit answers S_OK whatever its searches found: for a family, and for a
// product whose row says so; otherwise it answers what the search found.
inline bool InitAlwaysSucceeds(const GUID& requested) {
    if (IsFamily(requested)) return true;
    const Product* product = FindProduct(requested);
    return product != nullptr && product->initAlwaysOk;
}

}  // namespace kvsdk
