// Statements on conditions: a condition text parsed once (condition_create) and tested against
// values (condition_istrue). The language is the utility library's, see docs/conditions.md.
#include "builtin_libraries.h"

#include <ztcondition.h>

#include <memory>
#include <new>

namespace zt::script {

namespace {

using zt::conditions::condition;
using zt::conditions::conditionPtr;

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptcondition", line);
}

template <class S, class... D>
statement* build(const char16_t* name, const std::vector<zt::string>& params, int flags, const D&... decls) {
    clonePtr<S> st(allocateStatement<S>(__LINE__));
    st->declare(name, params, flags, decls...);
    return st.release();
}

class condition_create : public scriptbasesinglefunction {
public:
    template <class... D>
    void declare(const D&... args) {
        parse(args...);
    }
    statement* clone() const override { return new condition_create(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        genericValue value;
        zt::string text;
        if (!getParamValue(u"string", context, value) || !value.get(text))
            execError(this, u"Error retrieving conditionstring");
        std::unique_ptr<condition> parsed(condition::parse(text));
        if (!parsed) execError(this, u"Error parsing conditionstring");
        result.replace(conditionPtr(std::move(parsed)));
    }
};

class condition_istrue : public scriptbasesinglefunction {
public:
    template <class... D>
    void declare(const D&... args) {
        parse(args...);
    }
    statement* clone() const override { return new condition_istrue(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        genericValue self;
        conditionPtr cond;
        if (!getParamValue(u"this", context, self) || !self.get(cond) || !cond)
            execError(this, u"Error retrieving condition");
        // The value goes to the condition as it is, an empty value included.
        genericValue value;
        if (!getParamValue(u"value", context, value)) execError(this, u"Error retrieving value");
        result.replace(cond->isTrue(value));
    }
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"condition_create", [](const modules::argumentTexts&, const modules::argumentTexts& params, int flags) {
         return build<condition_create>(u"condition_create", params, flags, u"string", true, nullptr);
     }},
    {u"condition_istrue", [](const modules::argumentTexts&, const modules::argumentTexts& params, int flags) {
         return build<condition_istrue>(u"condition_istrue", params, flags, u"this", true, u"value", true, nullptr);
     }},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

struct typeNameRegistrar {
    typeNameRegistrar() { registerScriptTypeName(typeid(conditionPtr), u"condition"); }
} gTypeNameRegistrar;

} // namespace

scriptModule modules::conditionModule(&dispatch);

} // namespace zt::script
