#include "engine/GameControl.h"

#include <map>
#include <mutex>
#include <new>

#include "catalogue/Products.h"
#include "common/Win32Types.h"
#include "platform/Platform.h"

namespace kvsdk {

namespace {

bool ReadGameControl(const std::wstring& productId) {
    const std::wstring subkey = L"SOFTWARE\\TOLVE\\" + std::wstring(kVendorId.Wide()) + productId;
    const platform::RegistryValue value = platform::QueryRegistryValue(
        platform::Hive::CurrentUser, subkey, kKeyReadWrite, L"GameControl", sizeof(uint32_t));
    if (!value.keyOpened || value.status != kErrorSuccess || value.type != kRegDword) return true;
    if (value.dataSize != sizeof(uint32_t) || value.data.size() != sizeof(uint32_t)) return true;
    const bool zero =
        value.data[0] == 0 && value.data[1] == 0 && value.data[2] == 0 && value.data[3] == 0;
    return !zero;
}

// The values read since the registry's change stamp last moved.
struct SwitchCache {
    std::mutex lock;
    uint64_t stamp = 0;
    std::map<std::wstring, bool, std::less<>> values;
};

SwitchCache& Cache() {
    static SwitchCache* cache = [] {
        // A child made by fork leaves the parent's cache and its lock behind: rebuilt in place.
        platform::RunInForkedChild([] { new (cache) SwitchCache; });
        return new SwitchCache;  // never destroyed: usable until process exit
    }();
    return *cache;
}

bool EnabledAt(uint64_t stamp, const std::wstring& productId) {
    SwitchCache& cache = Cache();
    std::lock_guard guard(cache.lock);
    // A cache that is newer than the caller's look holds values at least as current.
    if (stamp > cache.stamp) {
        cache.values.clear();
        cache.stamp = stamp;
    }
    const auto found = cache.values.find(productId);
    if (found != cache.values.end()) return found->second;
    const bool enabled = ReadGameControl(productId);
    cache.values.emplace(productId, enabled);
    return enabled;
}

}  // namespace

bool IsGameControlEnabled(const std::wstring& productId) {
    return EnabledAt(platform::RegistryChangeStamp(platform::Hive::CurrentUser), productId);
}

GameControlView::GameControlView()
    : m_stamp(platform::RegistryChangeStamp(platform::Hive::CurrentUser)) {}

bool GameControlView::IsEnabled(const std::wstring& productId) const {
    return EnabledAt(m_stamp, productId);
}

}  // namespace kvsdk
