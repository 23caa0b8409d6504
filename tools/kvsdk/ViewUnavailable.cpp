// 'kvsdk view' in a build without its HTTP library.
#include "tools/kvsdk/View.h"

namespace kvsdk::tool {

int RunView(const std::string&, std::optional<uint16_t>, std::ostream&, std::ostream& err) {
#ifdef _WIN32
    err << "kvsdk: 'view' is Linux only: its HTTP library (cpp-httplib as Debian packages it) is "
           "built for Linux alone. 'kvsdk watch' shows the same in the console.\n";
#else
    err << "kvsdk: this kvsdk was built without 'view': install libcpp-httplib-dev and build "
           "again. 'kvsdk watch' shows the same in the terminal.\n";
#endif
    return 1;
}

}  // namespace kvsdk::tool
