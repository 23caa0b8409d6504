// Processes made by fork: Windows has no fork, so there is nothing to rebuild.
#include "platform/Platform.h"

namespace kvsdk::platform {

void RunInForkedChild(void (* /*handler*/)()) {}

}  // namespace kvsdk::platform
