// The engine's built-in statement libraries. Each library's source file defines its record.
#pragma once

#include "ztscript.h"

namespace zt::script::modules {

extern scriptModule dateModule;  // ztscriptdate.cpp
extern scriptModule opsModule;   // ztscriptops.cpp
extern scriptModule flowModule;  // ztscriptflow.cpp (control flow)
extern scriptModule timeModule;  // ztscripttime.cpp
extern scriptModule varsModule;  // ztscriptvars.cpp

// The message and assertion statements (ztscriptmsg.cpp); the control-flow dispatcher serves them.
statement* dispatchMessages(const zt::string& keyword, const std::vector<zt::string>& types,
                            const std::vector<zt::string>& params, int flags);

// Records in the order in which the parser consults them.
const std::vector<scriptModule*>& builtInTable();

} // namespace zt::script::modules
