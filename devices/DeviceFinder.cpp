#include "devices/DeviceFinder.h"

#include <optional>
#include <vector>

#include "catalogue/Products.h"
#include "common/SimFile.h"
#include "common/Strings.h"
#include "devices/DevicePell.h"
#include "devices/DeviceVEXO.h"
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

class InterfaceSnapshot {
  public:
    explicit InterfaceSnapshot(const GUID& classGuid) {
        if (auto simulated = sim::LoadSimFile()) {
            m_simulated.emplace();
            if (const auto cls = sim::ClassFromGuid(classGuid)) {
                for (auto& entry : *simulated) {
                    if (entry.interfaceClass == *cls) m_simulated->push_back(std::move(entry.path));
                }
            }
        } else {
            m_platform = std::make_unique<platform::InterfaceList>(classGuid);
        }
    }

    HRESULT Path(uint32_t index, std::wstring& path) const {
        if (m_platform) return m_platform->Path(index, path);
        if (!m_simulated || index >= m_simulated->size()) {
            return HResultFromWin32(kErrorNoMoreItems);
        }
        path = (*m_simulated)[index];
        return kS_OK;
    }

  private:
    std::optional<std::vector<std::wstring>> m_simulated;
    std::unique_ptr<platform::InterfaceList> m_platform;
};

CDeviceFinder::CDeviceFinder(GUID interfaceClass) : m_classGuid(interfaceClass) {}

CDeviceFinder::~CDeviceFinder() = default;

HRESULT CDeviceFinder::GetInterfacePath(uint32_t index, std::wstring& path) const {
    if (!m_snapshot) m_snapshot = std::make_unique<InterfaceSnapshot>(m_classGuid);
    return m_snapshot->Path(index, path);
}

HRESULT CDeviceFinder::FindDevice(const wchar_t* vendorId, const wchar_t* productId,
                                  std::unique_ptr<CDevice>& device) const {
    if (vendorId == nullptr || productId == nullptr) return kE_POINTER;
    m_snapshot = std::make_unique<InterfaceSnapshot>(m_classGuid);
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
