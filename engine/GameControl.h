// The per-product "GameControl" switch.
#pragma once

#include <cstdint>
#include <string>

namespace kvsdk {

// False only when HKEY_CURRENT_USER\SOFTWARE\TOLVE\7A3E<productId> opens, its "GameControl"
// value reads without error, is a REG_DWORD and is 0. The current value: a change is seen by the
// next call that begins after it. Values are kept between calls and read again only when the
// registry reports a change (platform::RegistryChangeStamp).
bool IsGameControlEnabled(const std::wstring& productId);

// The switches as one effect call sees them: the registry is asked for changes once, when the
// view is made, however many devices the call then asks about.
class GameControlView {
  public:
    GameControlView();
    bool IsEnabled(const std::wstring& productId) const;

  private:
    uint64_t m_stamp;
};

}  // namespace kvsdk
