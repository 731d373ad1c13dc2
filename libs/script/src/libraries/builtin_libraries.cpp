// The table of built-in statement libraries, in the order the parser consults them: the first
// library that knows a keyword builds its statement.
#include "builtin_libraries.h"

namespace zt::script::modules {

const std::vector<scriptModule*>& builtInTable() {
    static const std::vector<scriptModule*> table{
        &colorModule,
        &conditionModule,
        &checksumModule,
        &dateModule,
        &directoryModule,
        &processModule,
        &fileModule,
        &mathModule,
        &objectModule,
        &locStringModule,
        &opsModule,
        &flowModule,
        &setModule,
        &stringModule,
        &timeModule,
        &varsModule,
    };
    return table;
}

} // namespace zt::script::modules
