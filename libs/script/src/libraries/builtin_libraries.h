// The engine's built-in statement libraries. Each library's source file defines its record; the
// helpers they share with host libraries are in ztstatements.h.
#pragma once

#include "keyword_table.h"
#include "ztstatements.h"

#include <ztutils.h>

#include <typeinfo>

namespace zt::script::modules {

extern scriptModule colorModule;     // colours.cpp
extern scriptModule conditionModule; // conditions.cpp
extern scriptModule checksumModule;  // checksums.cpp
extern scriptModule dateModule;      // dates.cpp
extern scriptModule directoryModule; // directories.cpp
extern scriptModule processModule;   // programs.cpp (programs and libraries)
extern scriptModule fileModule;      // files.cpp
extern scriptModule mathModule;      // math.cpp
extern scriptModule objectModule;    // host_objects.cpp
extern scriptModule locStringModule; // localised_strings.cpp (localised strings, object messages)
extern scriptModule opsModule;       // operators.cpp
extern scriptModule flowModule;      // control_flow.cpp
extern scriptModule setModule;       // arrays_and_maps.cpp
extern scriptModule stringModule;    // strings.cpp
extern scriptModule timeModule;      // times.cpp
extern scriptModule varsModule;      // variables.cpp

// The message and assertion statements (messages.cpp); the control-flow dispatcher serves them.
statement* dispatchMessages(const zt::string& keyword, const std::vector<zt::string>& types,
                            const std::vector<zt::string>& params, int flags);

// Date arithmetic of the operators "add"/"+" and "subtract"/"-" when their first type is "date"
// (dates.cpp): types[1] names the unit ("years", "months", "weeks", "days", "workdays"),
// params are the date, the quantity and an optional third argument. Rejected arguments are
// reported through assertMsg, followed by throwing false.
enum class dateOperation { add, subtract };
statement* createDateCalculation(const std::vector<zt::string>& types, const std::vector<zt::string>& params,
                                 int flags, dateOperation operation);

// The name read when provider is a bare read of a block variable ("getvar", a bare word), else
// null (variables.cpp). Lets an operator read such an operand without running its statement.
const scString* plainVariableRead(const valueProvider* provider);

// How a value provider delivers, decided when the statement holding it is built: the statement
// of a call is run directly, as the provider's getValue would run it. (A flag, unlike a pointer
// to the statement, stays right in copies of the statement holding the provider.)
struct delivery {
    bool runsStatement = false;

    void prepare(const valueProvider* provider) {
        // Exactly a statementProvider: a class derived from it may deliver otherwise.
        runsStatement = provider && typeid(*provider) == typeid(statementProvider) &&
                        static_cast<const statementProvider*>(provider)->getStatement();
    }
    // provider.getValue(context, value), for the provider this was prepared with.
    bool deliver(const valueProvider& provider, codecontext& context, genericValue& value) const {
        if (!runsStatement) return provider.getValue(context, value);
        static_cast<const statementProvider&>(provider).getStatement()->exec(context, value);
        return true;
    }
};

// Records in the order in which the parser consults them.
const std::vector<scriptModule*>& builtInTable();

} // namespace zt::script::modules
