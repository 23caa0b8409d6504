#include "Names.h"

#include <array>
#include <cctype>
#include <cstdio>

namespace kvsdk::tool {
namespace {

constexpr std::array kEffects{
    EffectInfo{EffectKind::On, "on", &EFFECT_LED_ON},
    EffectInfo{EffectKind::Off, "off", &EFFECT_LED_OFF},
    EffectInfo{EffectKind::Brightness, "brightness", &EFFECT_LED_BRIGHTNESS},
    EffectInfo{EffectKind::Mode2Params, "mode_2_params", &EFFECT_LED_MODE_2_PARAMS},
    EffectInfo{EffectKind::State, "state", &EFFECT_LED_STATE},
    EffectInfo{EffectKind::Flash1, "flash_1", &EFFECT_LED_FLASH_1},
    EffectInfo{EffectKind::Flash2, "flash_2", &EFFECT_LED_FLASH_2},
    EffectInfo{EffectKind::Flash3, "flash_3", &EFFECT_LED_FLASH_3},
    EffectInfo{EffectKind::Blink, "blink", &EFFECT_LED_BLINK},
    EffectInfo{EffectKind::Mode0, "mode_0", &EFFECT_LED_MODE_0},
    EffectInfo{EffectKind::Mode1, "mode_1", &EFFECT_LED_MODE_1},
    EffectInfo{EffectKind::Mode2, "mode_2", &EFFECT_LED_MODE_2},
    EffectInfo{EffectKind::Mode4, "mode_4", &EFFECT_LED_MODE_4},
    EffectInfo{EffectKind::VexoModeA, "vexo_mode_a", &EFFECT_VEXO_MODE_A},
    EffectInfo{EffectKind::VexoModeB, "vexo_mode_b", &EFFECT_VEXO_MODE_B},
    EffectInfo{EffectKind::Color, "color", &EFFECT_LED_COLOR},
};

constexpr std::array kProducts{
    ProductInfo{"vexo", &PRODUCT_VEXO, "VEXO", ""},
    ProductInfo{"vexo_0e51", &PRODUCT_VEXO_0E51, "VEXO", "0E51"},
    ProductInfo{"vexo_0e52", &PRODUCT_VEXO_0E52, "VEXO", "0E52"},
    ProductInfo{"pell", &PRODUCT_PELL, "Pell", ""},
    ProductInfo{"pell_mouse_0e59", &PRODUCT_PELL_MOUSE_0E59, "Pell", "0E59"},
    ProductInfo{"pell_keyboard_0e5a", &PRODUCT_PELL_KEYBOARD_0E5A, "Pell", "0E5A"},
    ProductInfo{"pell_usb_0e5b", &PRODUCT_PELL_USB_0E5B, "Pell", "0E5B"},
};

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Drops the first of 'prefixes' that 'name' starts with.
std::string WithoutPrefix(std::string name, std::initializer_list<std::string_view> prefixes) {
    for (std::string_view prefix : prefixes) {
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) {
            return name.substr(prefix.size());
        }
    }
    return name;
}

struct KnownResult {
    uint32_t code;
    const char* name;
    const char* meaning;
};

constexpr std::array kResults{
    KnownResult{0x00000000u, "S_OK", "success"},
    KnownResult{0x00000001u, "S_FALSE", "success, nothing to do"},
    KnownResult{0x80004001u, "E_NOTIMPL", "not implemented"},
    KnownResult{0x80004002u, "E_NOINTERFACE",
                "the device family does not implement this effect kind"},
    KnownResult{0x80004003u, "E_POINTER", "a required pointer or device object is missing"},
    KnownResult{0x80004005u, "E_FAIL",
                "failed (no device found, none addressed, or an unknown effect kind)"},
    KnownResult{0x8007000Eu, "E_OUTOFMEMORY", "out of memory"},
    KnownResult{0x80070057u, "E_INVALIDARG", "invalid argument"},
    KnownResult{0x80070032u, "KVSDK_E_NOT_SUPPORTED",
                "request not supported: this kind cannot be read back, or the device did not "
                "answer"},
};

}  // namespace

std::span<const EffectInfo> Effects() {
    return kEffects;
}
std::span<const ProductInfo> Products() {
    return kProducts;
}

std::optional<EffectInfo> FindEffect(std::string_view name) {
    const std::string key = WithoutPrefix(Lower(name), {"effect_led_", "effect_", "led_"});
    for (const EffectInfo& effect : kEffects) {
        if (key == effect.name) return effect;
    }
    return std::nullopt;
}

std::optional<ProductInfo> FindProduct(std::string_view name) {
    const std::string key = WithoutPrefix(Lower(name), {"product_"});
    for (const ProductInfo& product : kProducts) {
        if (key == product.name) return product;
    }
    return std::nullopt;
}

std::string FamilyOfProductId(std::string_view productId) {
    if (productId == "0E51" || productId == "0E52") return "VEXO";
    if (productId == "0E59" || productId == "0E5A" || productId == "0E5B") return "Pell";
    return {};
}

std::string DescribeProductId(std::string_view productId) {
    if (productId == "0E59") return "Pell mouse 0E59";
    if (productId == "0E5A") return "Pell keyboard 0E5A";
    if (productId == "0E5B") return "Pell USB 0E5B";
    const std::string family = FamilyOfProductId(productId);
    if (!family.empty()) return family + " " + std::string(productId);
    return productId.empty() ? std::string("device") : "device " + std::string(productId);
}

std::string HResultName(HRESULT hr) {
    const auto code = static_cast<uint32_t>(hr);
    for (const KnownResult& known : kResults) {
        if (known.code == code) return known.name;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

std::string DescribeHResult(HRESULT hr) {
    const auto code = static_cast<uint32_t>(hr);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", code);
    for (const KnownResult& known : kResults) {
        if (known.code == code) return std::string(known.name) + " (" + hex + "): " + known.meaning;
    }
    return std::string(hex) + (hr < 0 ? ": failure code" : ": success code");
}

}  // namespace kvsdk::tool
