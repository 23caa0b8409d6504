// The per-product "GameControl" switch.
#pragma once

#include <string>

namespace kvsdk {

// False only when HKEY_CURRENT_USER\SOFTWARE\TOLVE\7A3E<productId> opens, its "GameControl"
// value reads without error, is a REG_DWORD and is 0. Read afresh at every call.
bool IsGameControlEnabled(const std::wstring& productId);

}  // namespace kvsdk
