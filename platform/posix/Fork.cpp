// Processes made by fork: the handlers that rebuild the library's state in the child run from
// pthread_atfork, in the child's only thread, before fork returns there.
#include <pthread.h>

#include "platform/Platform.h"

namespace kvsdk::platform {

void RunInForkedChild(void (*handler)()) {
    (void)::pthread_atfork(nullptr, nullptr, handler);
}

}  // namespace kvsdk::platform
