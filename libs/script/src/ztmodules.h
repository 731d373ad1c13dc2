// The engine's built-in statement libraries. Each library's source file defines its record.
#pragma once

#include "ztscript.h"

namespace zt::script::modules {

extern scriptModule dateModule;  // ztscriptdate.cpp
extern scriptModule opsModule;   // ztscriptops.cpp
extern scriptModule flowModule;  // ztscriptflow.cpp (control flow)
extern scriptModule msgModule;   // ztscriptmsg.cpp (messages and assertions)
extern scriptModule timeModule;  // ztscripttime.cpp
extern scriptModule varsModule;  // ztscriptvars.cpp

// Records in the order in which the parser consults them.
const std::vector<scriptModule*>& builtInTable();

} // namespace zt::script::modules
