// The shared wake-up event on Linux: there is none.
#include "platform/Platform.h"

namespace kvsdk::platform {

// There is no named kernel event on Linux; the engine wakes its threads by its own means.
void* CreateNewEffectEvent() {
    return nullptr;
}
void SetNewEffectEvent(void* /*handle*/) {}
void CloseNewEffectEvent(void* /*handle*/) {}

}  // namespace kvsdk::platform
