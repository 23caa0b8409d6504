#include "devices/DeviceFinder.h"

#include "common/SimFile.h"
#include "common/Strings.h"
#include "devices/DevicePell.h"
#include "devices/DeviceVEXO.h"
#include "devices/Products.h"
#include "platform/Platform.h"

namespace kvsdk {

namespace {

// The (up to) 4 characters that follow the first occurrence of 'marker'; nullopt without one.
std::optional<std::wstring> FieldAfter(const std::wstring& path, const wchar_t* marker) {
    const size_t pos = path.find(marker);
    if (pos == std::wstring::npos) return std::nullopt;
    const size_t start = pos + std::char_traits<wchar_t>::length(marker);
    if (start > path.size()) return std::wstring();
    return path.substr(start, 4);
}

bool Contains(const std::wstring& text, const wchar_t* part) {
    return text.find(part) != std::wstring::npos;
}

}  // namespace

HRESULT CDeviceFinder::GetInterfacePath(uint32_t index, std::wstring& path) const {
    if (auto simulated = sim::LoadSimFile()) {
        const auto cls = sim::ClassFromGuid(m_guidClass);
        uint32_t position = 0;
        if (cls) {
            for (const auto& entry : *simulated) {
                if (entry.interfaceClass != *cls) continue;
                if (position == index) {
                    path = entry.path;
                    return kS_OK;
                }
                ++position;
            }
        }
        return HResultFromWin32(kErrorNoMoreItems);
    }
    return platform::EnumInterfacePath(m_guidClass, index, path);
}

HRESULT CDeviceFinder::FindDevice(const wchar_t* vendorId, const wchar_t* productId,
                                  std::unique_ptr<CDevice>& device) const {
    if (vendorId == nullptr || productId == nullptr) return kE_POINTER;
    std::wstring path;
    for (uint32_t index = 0;; ++index) {
        if (Failed(GetInterfacePath(index, path))) return kE_FAIL;

        // Markers are searched as the platform reports the path; the ids compare ignoring case.
        const auto vid = FieldAfter(path, L"vid_");
        if (!vid || !EqualsIgnoreCase(*vid, vendorId)) continue;
        const auto pid = FieldAfter(path, L"pid_");
        if (!pid || !EqualsIgnoreCase(*pid, productId)) continue;

        const std::wstring upper = ToUpper(path);
        const Product* product = ProductForPath(upper);
        if (product == nullptr) continue;
        // Of a product with a lighting interface only that interface is wrapped.
        if (product->needsLightingInterface && !Contains(upper, L"MI_02")) continue;
        std::unique_ptr<CDevice> found;
        if (product->family == Family::VEXO) {
            found = std::make_unique<CDeviceVEXO>(upper.c_str());
        } else {
            found = std::make_unique<CDevicePell>(upper.c_str(), *product->deviceGuid);
        }
        device = std::move(found);
        return kS_OK;
    }
}

}  // namespace kvsdk
