// The names the command line uses for effect kinds, products and result codes: the public
// header's constant names without their prefix, compared ignoring case.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "KvSDKEng.h"

namespace kvsdk::tool {

enum class EffectKind {
    On,
    Off,
    Brightness,
    Mode2Params,
    State,
    Flash1,
    Flash2,
    Flash3,
    Blink,
    Mode0,
    Mode1,
    Mode2,
    Mode4,
    VexoModeA,
    VexoModeB,
    Color,
};

struct EffectInfo {
    EffectKind kind;
    const char* name;  // "flash_2"
    const GUID* guid;  // &EFFECT_LED_FLASH_2
};

struct ProductInfo {
    const char* name;       // "pell_mouse_0e59"
    const GUID* guid;       // &PRODUCT_PELL_MOUSE_0E59
    const char* family;     // "VEXO" or "Pell"
    const char* productId;  // "0E59"; empty for a whole family
};

std::span<const EffectInfo> Effects();
std::span<const ProductInfo> Products();

// Accepts the short name ("flash_2") and the header's full name ("EFFECT_LED_FLASH_2"), in
// any case.
std::optional<EffectInfo> FindEffect(std::string_view name);
std::optional<ProductInfo> FindProduct(std::string_view name);

// Family of a four-digit product id ("0E51" -> "VEXO", "0E5A" -> "Pell"); empty when unknown.
std::string FamilyOfProductId(std::string_view productId);
// "VEXO 0E51", "Pell keyboard 0E5A"...; "device <id>" when unknown.
std::string DescribeProductId(std::string_view productId);

// "E_NOINTERFACE", "S_OK"...; for a code without a name, its eight hex digits ("0x80070005").
std::string HResultName(HRESULT hr);
// "E_NOINTERFACE (0x80004002): the device family does not implement this effect kind".
std::string DescribeHResult(HRESULT hr);

}  // namespace kvsdk::tool
