// The shared wake-up event on Windows: the named auto-reset kernel event "New effect event".
#include "platform/Platform.h"

#include <windows.h>

namespace kvsdk::platform {

namespace {

constexpr wchar_t kNewEffectEventName[] = L"New effect event";

}  // namespace

void* CreateNewEffectEvent() {
    return CreateEventW(nullptr, FALSE, FALSE, kNewEffectEventName);
}

void SetNewEffectEvent(void* handle) {
    if (handle != nullptr) SetEvent(handle);
}

void CloseNewEffectEvent(void* handle) {
    if (handle != nullptr) CloseHandle(handle);
}

}  // namespace kvsdk::platform
