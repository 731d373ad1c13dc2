// Value providers: an argument text turned into what yields its value when a statement runs, a
// literal (constantProvider) or a nested statement (statementProvider).
#include "ztscript.h"

#include <new>

namespace zt::script {

valueProvider::~valueProvider() = default;

// argument := '"' text '"' | statement (it has a '(') | name (read as getvar(name))
valueProvider* valueProvider::createFrom(const zt::string& text, int flags) {
    if (text.empty()) throw errParsingException(text);
    try {
        if (text.front() == u'"' && text.back() == u'"')
            return new constantProvider(text.size() >= 2 ? text.substr(1, text.size() - 2) : zt::string());
        if (text.find(u'(') != zt::string::npos) {
            statement* st = statement::createFrom(text, flags);
            if (!st) throw errParsingException(text);
            return new statementProvider(st);
        }
        statement* st = statement::createFrom(u"getvar(" + text + u")", flags);
        if (!st) throw errParsingException(text);
        return new statementProvider(st);
    } catch (const std::bad_alloc&) {
        throw outOfMemoryException();
    }
}

bool constantProvider::getValue(codecontext&, genericValue& value) const {
    if (!value.set(mText)) throw false;
    return true;
}

bool statementProvider::getValue(codecontext& context, genericValue& value) const {
    if (!mStatement) throw unexpectedErrorException(u"statementProvider::getValue: no statement given");
    mStatement->exec(context, value);
    return true;
}

} // namespace zt::script
