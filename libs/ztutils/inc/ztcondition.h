// Conditions: a restriction written as text ("> 5", "in (1, 2, 3)", "like 'A*' and not empty"),
// parsed once and then tested against values. docs/conditions.md describes the language.
#pragma once

#include "ztexport.h"
#include "ztstring.h"
#include "ztvalue.h"

#include <memory>

namespace zt::conditions {

class ZTUTILS_API condition {
public:
    virtual ~condition();
    // True when value meets the condition. An empty value meets only "empty" (and what follows
    // from it through "not", "and", "or", and "<>", which is "not =").
    virtual bool isTrue(const zt::genericValue& value) const = 0;

    // The condition written in text, or null (nothing reported) when the text does not follow
    // the language. The caller owns the result.
    static condition* parse(const zt::string& text);
};

// How scripts hold a parsed condition: copies of a value share the one condition.
using conditionPtr = std::shared_ptr<condition>;

} // namespace zt::conditions
