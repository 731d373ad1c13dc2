// What every statement shares: its text and source position, building one from a text, the
// error a failing statement raises, and the named parameters of single-function statements.
// Running statements is in execution.cpp.
#include "ztscript.h"

#include <algorithm>

namespace zt::script {

statement::~statement() = default;

void statement::release() { delete this; }

sourcePosition statement::position() const {
    sourcePosition p;
    if (mLine == 0) return p;
    p.file = mFile.empty() ? zt::string() : mFile.string();
    p.line = mLine;
    p.column = mColumn;
    return p;
}

void statement::setText(const zt::string& text) {
    if (text.size() >= 128) {
        mText = text.substr(0, 122);
        mText += u" ...";
    } else {
        mText = text;
    }
}

void statement::setText(zt::string&& text) {
    if (text.size() >= 128) setText(static_cast<const zt::string&>(text));
    else mText = std::move(text);
}

void statement::throwExecError(const statement* st, const zt::exception* e, const zt::string& detail) {
    const zt::string unknown = u"***unknown***";
    const zt::string& text = st ? st->mText : unknown;
    if (auto* d = dynamic_cast<const exceptionDetail*>(e)) {
        scriptExecException x(text, &d->detail(), nullptr);
        if (st && st->mLine != 0) x.setPosition(st->position());
        throw x;
    }
    scriptExecException x(text, &detail, e);
    if (st && st->mLine != 0) x.setPosition(st->position());
    throw x;
}

statement* statement::createFrom(const zt::string& text, int flags) {
    return statementParser::instance()->createStatementFrom(text, flags);
}

scriptbasestatement::~scriptbasestatement() = default;
void scriptbasestatement::release() { delete this; }

singlefunction::~singlefunction() = default;
scriptbasesinglefunction::~scriptbasesinglefunction() = default;
void scriptbasesinglefunction::release() { delete this; }

// args := arg {',' arg}: the i-th argument binds the i-th declared parameter; there must be at
// least as many as declared required, and extra arguments are ignored.
bool singlefunction::parseDeclared(const char16_t* functionName, const std::vector<zt::string>& args, int flags,
                                   const std::vector<std::pair<const char16_t*, bool>>& declarations) {
    try {
        int required = 0;
        for (const auto& d : declarations)
            if (d.second) ++required;
        if (args.size() < static_cast<size_t>(required)) throw numParamsException(functionName, required);
        size_t n = std::min(declarations.size(), args.size());
        for (size_t i = 0; i < n; ++i) {
            clonePtr<valueProvider> p(valueProvider::createFrom(args[i], flags));
            if (!p) throw errParsingException(args[i]);
            zt::string name = declarations[i].first;
            if (findParam(name.c_str()))
                throw unexpectedErrorException(u"singlefunction::parse: Error inserting parameter %s", name);
            mNamedParameters.emplace_back(std::move(name), std::move(p));
        }
    } catch (const zt::exception& e) {
        throw errParsingException(zt::string(functionName) + u"(...)", &e);
    } catch (...) {
        throw errParsingException(zt::string(functionName) + u"(...)");
    }
    return true;
}

bool singlefunction::getParamValue(const char16_t* name, codecontext& context, genericValue& out) const {
    const valueProvider* p = findParam(name);
    return p && p->getValue(context, out);
}

const valueProvider* singlefunction::findParam(const char16_t* name) const {
    const std::u16string_view wanted(name ? name : u"");
    for (const auto& [declared, provider] : mNamedParameters)
        if (declared == wanted) return provider.get();
    return nullptr;
}

} // namespace zt::script
