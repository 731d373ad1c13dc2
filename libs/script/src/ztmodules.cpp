// The table of built-in statement libraries, in the order the parser consults them: the first
// library that knows a keyword builds its statement.
#include "ztmodules.h"

namespace zt::script::modules {

const std::vector<scriptModule*>& builtInTable() {
    static const std::vector<scriptModule*> table{
        // colour, condition, checksum
        &dateModule,
        // directory, dll/exe, file, math, host objects, localised strings
        &opsModule,
        &flowModule,
        // arrays and maps, strings
        &timeModule,
        &varsModule,
    };
    return table;
}

} // namespace zt::script::modules
