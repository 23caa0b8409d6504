// The names the command line uses for effect kinds, products and result codes: the public
// header's constant names without their prefix, compared ignoring case.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "KvSDKEng.h"
#include "catalogue/EffectKinds.h"

namespace kvsdk::tool {

using kvsdk::EffectKind;

// The options of the command line.
enum class Opt {
    Product,
    Light,
    Level,
    Duration,
    Count,
    Off,
    On,
    Rgb,
    Mode,
    Param1,
    Percent,
    Param2,
    Param3,
    DeviceMode,
    Svg,
    Trace,
    Port
};

class OptionSet {
  public:
    constexpr OptionSet() = default;
    constexpr OptionSet(std::initializer_list<Opt> options) {
        for (Opt opt : options) m_bits |= Bit(opt);
    }
    constexpr bool Has(Opt opt) const { return (m_bits & Bit(opt)) != 0; }
    constexpr OptionSet operator|(OptionSet other) const {
        OptionSet both;
        both.m_bits = m_bits | other.m_bits;
        return both;
    }

  private:
    static constexpr uint32_t Bit(Opt opt) { return 1u << static_cast<uint32_t>(opt); }
    uint32_t m_bits = 0;
};

struct EffectInfo {
    EffectKind kind;
    const char* name;    // "flash_2"
    const GUID* guid;    // &EFFECT_LED_FLASH_2
    OptionSet allowed;   // the options 'set' accepts for the effect
    OptionSet required;  // the options 'set' needs for it
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
