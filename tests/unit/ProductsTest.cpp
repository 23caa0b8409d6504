// The product catalogue yields exactly the Init, selection and discovery tables of the exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/Products.h"

namespace kvsdk {
namespace {

const GUID* const kAllProductGuids[] = {
    &PRODUCT_VEXO,          &PRODUCT_VEXO_0E51,       &PRODUCT_VEXO_0E52,
    &PRODUCT_PELL,          &PRODUCT_PELL_MOUSE_0E59, &PRODUCT_PELL_KEYBOARD_0E5A,
    &PRODUCT_PELL_USB_0E5B,
};

struct InitRow {
    const GUID* product;
    std::vector<std::pair<const GUID*, std::wstring>> searches;  // class and product id
    bool alwaysOk;
};

struct SetRow {
    const wchar_t* productId;
    std::vector<const GUID*> products;
    bool needsLightingInterface;
    Family family;
};

struct FinderRow {
    const wchar_t* marker;  // in the upper-case path
    Family family;
    const GUID* deviceGuid;
};

TEST(ProductCatalogue, YieldsTheInitSelectionAndDiscoveryTables) {
    const GUID& mouse = kGuidDevinterfaceMouse;
    const GUID& keyboard = kGuidDevinterfaceKeyboard;
    const GUID& usb = kGuidDevinterfaceUsbDevice;
    const std::vector<InitRow> init = {
        {&PRODUCT_VEXO, {{&mouse, L"0E51"}, {&mouse, L"0E52"}}, true},
        {&PRODUCT_VEXO_0E51, {{&mouse, L"0E51"}}, true},
        {&PRODUCT_VEXO_0E52, {{&mouse, L"0E52"}}, true},
        {&PRODUCT_PELL, {{&mouse, L"0E59"}, {&keyboard, L"0E5A"}, {&usb, L"0E5B"}}, true},
        {&PRODUCT_PELL_MOUSE_0E59, {{&mouse, L"0E59"}}, false},
        {&PRODUCT_PELL_KEYBOARD_0E5A, {{&keyboard, L"0E5A"}}, false},
        {&PRODUCT_PELL_USB_0E5B, {{&usb, L"0E5B"}}, false},
    };
    for (const InitRow& row : init) {
        std::vector<std::pair<const GUID*, std::wstring>> searches;
        ForEachAddressed(*row.product, [&](const Product& p) {
            searches.emplace_back(p.interfaceClass, p.id.Wide());
        });
        EXPECT_TRUE(IsProductOrFamily(*row.product));
        EXPECT_EQ(searches, row.searches);
        EXPECT_EQ(InitAlwaysSucceeds(*row.product), row.alwaysOk);
    }
    EXPECT_FALSE(IsProductOrFamily(EFFECT_LED_ON));
    EXPECT_FALSE(IsProductOrFamily(kGuidNull));
    EXPECT_EQ(kVendorId.Wide(), std::wstring(L"7A3E"));

    const std::vector<SetRow> set = {
        {L"0E51", {&PRODUCT_VEXO_0E51, &PRODUCT_VEXO}, false, Family::VEXO},
        {L"0E52", {&PRODUCT_VEXO_0E52, &PRODUCT_VEXO}, false, Family::VEXO},
        {L"0E59", {&PRODUCT_PELL_MOUSE_0E59, &PRODUCT_PELL}, false, Family::Pell},
        {L"0E5B", {&PRODUCT_PELL_USB_0E5B, &PRODUCT_PELL}, false, Family::Pell},
        {L"0E5A", {&PRODUCT_PELL_KEYBOARD_0E5A, &PRODUCT_PELL}, true, Family::Pell},
    };
    const std::vector<std::pair<std::wstring, const GUID*>> get = {
        {L"0E51", &PRODUCT_VEXO_0E51},
        {L"0E52", &PRODUCT_VEXO_0E52},
    };
    // Every product id (and one unknown) against every product GUID, on a path with and
    // without the lighting interface.
    for (const std::wstring id : {L"0E51", L"0E52", L"0E59", L"0E5A", L"0E5B", L"0E50"}) {
        for (const GUID* guid : kAllProductGuids) {
            for (const std::wstring& path : {L"\\\\?\\HID#VID_7A3E&PID_" + id + L"&MI_02#1",
                                             L"\\\\?\\HID#VID_7A3E&PID_" + id + L"&MI_00#1"}) {
                const SetRow* expected = nullptr;
                for (const SetRow& row : set) {
                    const bool lit = path.find(L"MI_02") != std::wstring::npos;
                    if (row.productId == id && (lit || !row.needsLightingInterface) &&
                        (row.products[0] == guid || row.products[1] == guid)) {
                        expected = &row;
                    }
                }
                const Product* device = ProductOfPath(path);
                const bool selected = SelectForSet(device, path, *guid);
                ASSERT_EQ(selected, expected != nullptr) << path;
                if (selected) {
                    EXPECT_EQ(device->family, expected->family) << path;
                }
            }
            const bool readable =
                std::find(get.begin(), get.end(), std::pair{id, guid}) != get.end();
            EXPECT_EQ(SelectForGet(FindProduct(id), *guid), readable);
        }
    }

    // Discovery's device rule, tested in this order on the upper-case path.
    const std::vector<FinderRow> finder = {
        {L"PID_0E51", Family::VEXO, &kGuidNull},
        {L"PID_0E52", Family::VEXO, &kGuidNull},
        {L"PID_0E5B", Family::Pell, &PRODUCT_PELL_USB_0E5B},
        {L"PID_0E5A", Family::Pell, &PRODUCT_PELL},
        {L"PID_0E59", Family::Pell, &PRODUCT_PELL},
    };
    for (size_t i = 0; i < finder.size(); ++i) {
        // Each marker, preceded by all the markers the rule tests after it.
        std::wstring path = L"\\\\?\\HID#VID_7A3E";
        for (size_t later = finder.size(); later-- > i;)
            path += std::wstring(L"&") + finder[later].marker;
        const Product* product = ProductForPath(path);
        ASSERT_NE(product, nullptr) << path;
        EXPECT_EQ(product->family, finder[i].family) << path;
        EXPECT_TRUE(GuidEqual(*product->deviceGuid, *finder[i].deviceGuid)) << path;
        EXPECT_EQ(product->needsLightingInterface, i == 3) << path;
        EXPECT_EQ(TakesWholeBlocks(*product->deviceGuid), i == 2) << path;
    }
    EXPECT_EQ(ProductForPath(L"\\\\?\\HID#VID_7A3E&PID_0E50"), nullptr);
}

}  // namespace
}  // namespace kvsdk
