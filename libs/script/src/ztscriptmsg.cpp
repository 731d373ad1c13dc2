// Messages and assertions. The control-flow library's dispatcher hands these keywords here.
#include "ztmodules.h"

namespace zt::script::modules {

statement* dispatchMessages(const zt::string&, const std::vector<zt::string>&, const std::vector<zt::string>&, int) {
    return nullptr;
}

} // namespace zt::script::modules
