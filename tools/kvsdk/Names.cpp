#include "tools/kvsdk/Names.h"

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdio>

#include "catalogue/EffectKinds.h"
#include "catalogue/Products.h"

namespace kvsdk::tool {
namespace {

// Every effect is sent to a product; all but the device modes address a light.
constexpr OptionSet kTarget{Opt::Product, Opt::Light};
constexpr OptionSet kMode2{Opt::Param1, Opt::Percent, Opt::Param2, Opt::Param3};
constexpr OptionSet kBlink{Opt::Count, Opt::Off, Opt::On};

// The options 'set' allows and requires for each effect kind.
struct EffectOptions {
    EffectKind kind;
    OptionSet allowed;
    OptionSet required;
};
constexpr std::array kEffectOptions{
    EffectOptions{EffectKind::On, kTarget | OptionSet{Opt::Duration}, kTarget},
    EffectOptions{EffectKind::Off, kTarget | OptionSet{Opt::Duration}, kTarget},
    EffectOptions{EffectKind::Brightness, kTarget | OptionSet{Opt::Level},
                  kTarget | OptionSet{Opt::Level}},
    EffectOptions{EffectKind::Mode2Params, kTarget | kMode2, kTarget | kMode2},
    EffectOptions{EffectKind::State, kTarget, kTarget},
    EffectOptions{EffectKind::Flash1, kTarget, kTarget},
    EffectOptions{EffectKind::Flash2, kTarget, kTarget},
    EffectOptions{EffectKind::Flash3, kTarget, kTarget},
    EffectOptions{EffectKind::Blink, kTarget | kBlink, kTarget | kBlink},
    EffectOptions{EffectKind::Mode0, kTarget | OptionSet{Opt::Mode}, kTarget},
    EffectOptions{EffectKind::Mode1, kTarget | OptionSet{Opt::Mode}, kTarget},
    EffectOptions{EffectKind::Mode2, kTarget | OptionSet{Opt::Mode}, kTarget},
    EffectOptions{EffectKind::Mode4, kTarget | OptionSet{Opt::Mode}, kTarget},
    EffectOptions{EffectKind::VexoModeA,
                  kTarget | OptionSet{Opt::DeviceMode},
                  {Opt::Product, Opt::DeviceMode}},
    EffectOptions{EffectKind::VexoModeB,
                  kTarget | OptionSet{Opt::DeviceMode},
                  {Opt::Product, Opt::DeviceMode}},
    EffectOptions{EffectKind::Color, kTarget | OptionSet{Opt::Rgb}, kTarget | OptionSet{Opt::Rgb}},
};
static_assert(kEffectOptions.size() == kEffectKinds.size());

// The library's effect kinds, in its order, with the tool's options.
constexpr auto MakeEffectTable() {
    std::array<EffectInfo, kEffectKinds.size()> table{};
    for (size_t i = 0; i < table.size(); ++i) {
        const EffectKindInfo& kind = kEffectKinds[i];
        for (const EffectOptions& options : kEffectOptions) {
            if (options.kind == kind.kind) {
                table[i] = {kind.kind, kind.key, kind.guid, options.allowed, options.required};
            }
        }
    }
    return table;
}
constexpr auto kEffects = MakeEffectTable();

// Each family, then its products, from the library's catalogue.
constexpr auto MakeProductTable() {
    std::array<ProductInfo, kFamilies.size() + kvsdk::kProducts.size()> table{};
    size_t n = 0;
    for (const FamilyInfo& family : kFamilies) {
        table[n++] = {family.key, family.guid, family.name, ""};
        for (const Product& product : kvsdk::kProducts) {
            if (product.family == family.family) {
                table[n++] = {product.key, product.guid, family.name, product.id.Text()};
            }
        }
    }
    return table;
}
constexpr auto kProductTable = MakeProductTable();

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
    KnownResult{0x80070718u, "KVSDK_E_QUEUE_FULL",
                "a device's effect queue is full: nothing was queued on it"},
    KnownResult{0x80070005u, "E_ACCESSDENIED",
                "access denied: the device was found but cannot be opened"},
    KnownResult{0x8007048Fu, "ERROR_DEVICE_NOT_CONNECTED",
                "the device is gone, or its channel does not connect"},
    KnownResult{0x80070014u, "ERROR_BAD_UNIT",
                "the device has no lighting collection on the expected usage page (kvsdk probe)"},
    KnownResult{0x8007000Du, "ERROR_INVALID_DATA",
                "the device's lighting collection lacks a report the framing uses (kvsdk probe)"},
    KnownResult{0x80070018u, "ERROR_BAD_LENGTH", "a command is longer than the device's report"},
    KnownResult{0x8007001Fu, "ERROR_GEN_FAILURE", "the device refused the request"},
    KnownResult{0x800700AAu, "ERROR_BUSY", "another program holds the device"},
    KnownResult{0x800705B4u, "ERROR_TIMEOUT", "the device did not answer in time"},
};

}  // namespace

std::span<const EffectInfo> Effects() {
    return kEffects;
}
std::span<const ProductInfo> Products() {
    return kProductTable;
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
    for (const ProductInfo& product : kProductTable) {
        if (key == product.name) return product;
    }
    return std::nullopt;
}

std::string FamilyOfProductId(std::string_view productId) {
    const Product* product = kvsdk::FindProduct(productId);
    return product != nullptr ? FamilyOf(product->family).name : std::string();
}

std::string DescribeProductId(std::string_view productId) {
    if (const Product* product = kvsdk::FindProduct(productId)) {
        std::string text = FamilyOf(product->family).name;
        if (*product->kind != '\0') text += std::string(" ") + product->kind;
        return text + " " + std::string(productId);
    }
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
