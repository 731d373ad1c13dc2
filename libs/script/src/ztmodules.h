// The engine's built-in statement libraries. Each library's source file defines its record; the
// helpers they share with host libraries are in ztstatements.h.
#pragma once

#include "ztstatements.h"

#include <ztutils.h>

namespace zt::script::modules {

extern scriptModule colorModule;     // ztscriptcolor.cpp
extern scriptModule conditionModule; // ztscriptcondition.cpp
extern scriptModule checksumModule;  // ztscriptcrc.cpp
extern scriptModule dateModule;      // ztscriptdate.cpp
extern scriptModule directoryModule; // ztscriptdir.cpp
extern scriptModule processModule;   // ztscriptprocess.cpp (programs and libraries)
extern scriptModule fileModule;      // ztscriptfile.cpp
extern scriptModule mathModule;      // ztscriptmath.cpp
extern scriptModule objectModule;    // ztscriptobject.cpp (host objects)
extern scriptModule locStringModule; // ztscriptlocstring.cpp (localised strings, object messages)
extern scriptModule opsModule;       // ztscriptops.cpp
extern scriptModule flowModule;      // ztscriptflow.cpp (control flow)
extern scriptModule setModule;       // ztscriptset.cpp (arrays and maps)
extern scriptModule stringModule;    // ztscriptstring.cpp
extern scriptModule timeModule;      // ztscripttime.cpp
extern scriptModule varsModule;      // ztscriptvars.cpp

// The message and assertion statements (ztscriptmsg.cpp); the control-flow dispatcher serves them.
statement* dispatchMessages(const zt::string& keyword, const std::vector<zt::string>& types,
                            const std::vector<zt::string>& params, int flags);

// Date arithmetic of the operators "add"/"+" and "subtract"/"-" when their first type is "date"
// (ztscriptdate.cpp): types[1] names the unit ("years", "months", "weeks", "days", "workdays"),
// params are the date, the quantity and an optional third argument. Rejected arguments are
// reported through assertMsg, followed by throwing false.
enum class dateOperation { add, subtract };
statement* createDateCalculation(const std::vector<zt::string>& types, const std::vector<zt::string>& params,
                                 int flags, dateOperation operation);

// Records in the order in which the parser consults them.
const std::vector<scriptModule*>& builtInTable();

} // namespace zt::script::modules
