// The version the library was built as.
#include "ztscript.h"

namespace zt::script {

const versionInfo& version() {
    static const versionInfo info{ZTSCRIPT_VERSION_MAJOR, ZTSCRIPT_VERSION_MINOR, ZTSCRIPT_VERSION_PATCH,
                                  ZTSCRIPT_VERSION};
    return info;
}

} // namespace zt::script
