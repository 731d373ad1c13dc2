// Statements on strings: measuring, joining, searching, cutting, splitting and normalising texts.
// Texts are UTF-16; lengths and indices count code units.
//
// Results are delivered in one of two ways:
//   assign  (strlen, strcat): written with set<T>, so a result that already holds a value keeps
//           its type and the new value is converted into it;
//   replace (all others):     the result's previous content is dropped and it takes the type
//           the statement produces.
#include "builtin_libraries.h"
#include "operands.h"

#include <algorithm>
#include <climits>
#include <new>

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptstring", line);
}

// Reads value as text. A text the value owns is moved out instead of copied; a value that
// refers to text stored elsewhere (a value pointer) is copied and left intact.
bool takeText(genericValue& value, zt::string& out) {
    const genericValue::holderbase* h = value.getHolder();
    if (h && !h->isReference()) {
        if (zt::string* own = value.ptrTo<zt::string>()) {
            out = std::move(*own);
            return true;
        }
    }
    return value.get(out);
}

// Delivery by assignment: the result keeps a type it already has. A value that does not
// convert into that type aborts the statement; exec() reports it with the statement's text.
template <class T>
void assignResult(genericValue& result, const T& value) {
    if (!result.set(value)) throw false;
}

using zt::script::providerFor;

// -------------------------------------------------------------------------------------------
// strlen(text): length in code units, as an unsigned 64-bit integer.

class scr_strlen : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.empty()) {
            zt::assertMsg(u"strlen::createFrom: number of parameters < 1");
            throw false;
        }
        clonePtr<scr_strlen> st(allocateStatement<scr_strlen>(__LINE__));
        st->mpText.reset(providerFor(params[0], flags, u"strlen::createFrom: error parsing \"%s\""));
        st->mTextDelivery.prepare(st->mpText.get());
        return st.release();
    }
    statement* clone() const override { return new scr_strlen(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        if (!mpText) execError(this, u"error retrieving string (1)");
        genericValue value;
        if (!mTextDelivery.deliver(*mpText, context, value)) execError(this, u"error retrieving string (2)");
        zt::uint64 length = 0;
        if (const zt::string* s = value.constPtrTo<zt::string>()) {
            length = s->size();
        } else {
            zt::string text;
            if (!value.get(text)) execError(this, u"error retrieving string (2)");
            length = text.size();
        }
        assignResult(result, length);
    }

private:
    clonePtr<valueProvider> mpText;
    modules::delivery mTextDelivery;
};

// -------------------------------------------------------------------------------------------
// strcat(a, b, ...): the texts of all arguments joined in order.

class scr_strcat : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 2) {
            zt::assertMsg(u"strcat::createFrom: number of parameters < 2");
            throw false;
        }
        clonePtr<scr_strcat> st(allocateStatement<scr_strcat>(__LINE__));
        st->mTexts.reserve(params.size());
        for (const zt::string& param : params) {
            valueProvider* provider = providerFor(param, flags, u"strcat::createFrom: error parsing \"%s\"");
            part p{clonePtr<valueProvider>(provider), kindOf(provider), {}, {}};
            p.delivery.prepare(provider);
            if (p.kind == partKind::stored) p.stored.prepare(provider);
            st->mTexts.push_back(std::move(p));
        }
        return st.release();
    }
    statement* clone() const override { return new scr_strcat(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::string joined;
        zt::string converted;
        for (const part& p : mTexts) {
            // A literal is its own text, and a variable is read where it is stored: neither is
            // copied before it is appended.
            if (p.kind == partKind::literal) {
                joined += static_cast<const constantProvider&>(*p.provider).text();
                continue;
            }
            genericValue delivered;
            const genericValue* value = &delivered;
            if (p.kind == partKind::stored)
                value = &p.stored.read(*p.provider, context);
            else if (!p.provider || !p.delivery.deliver(*p.provider, context, delivered))
                execError(this, u"error retrieving string");
            if (const zt::string* s = value->constPtrTo<zt::string>()) {
                joined += *s;
            } else if (const int* n = value->constPtrTo<int>(); n && zt::typeConversionManager::numbersBuiltIn()) {
                zt::appendDecimal(joined, *n); // a counter joined to a text, written as converted
            } else {
                if (!value->get(converted)) execError(this, u"error retrieving string");
                joined += converted;
            }
        }
        // A new result takes the text as it is; one that holds a value keeps its type.
        if (result.isEmpty())
            result.replace(std::move(joined));
        else
            assignResult(result, joined);
    }

private:
    enum class partKind : std::uint8_t { literal, stored, other };
    struct part {
        clonePtr<valueProvider> provider;
        partKind kind;
        modules::delivery delivery;
        modules::storedRead stored;
    };
    static partKind kindOf(const valueProvider* provider) {
        if (dynamic_cast<const constantProvider*>(provider)) return partKind::literal;
        return modules::readsStoredValue(provider) ? partKind::stored : partKind::other;
    }
    std::vector<part> mTexts;
};

// -------------------------------------------------------------------------------------------
// Statements with named parameters.

class stringFunction : public scriptbasesinglefunction {
protected:
    template <class S, class... D>
    static statement* build(const char16_t* keyword, const std::vector<zt::string>& params, int flags,
                            const D&... decls) {
        clonePtr<S> st(allocateStatement<S>(__LINE__));
        st->parse(keyword, params, flags, decls...);
        return st.release();
    }

    // The parameter name read as text; fails the statement with message otherwise.
    zt::string text(const char16_t* name, codecontext& context, const char16_t* message) const {
        genericValue value;
        zt::string out;
        if (!getParamValue(name, context, value) || !takeText(value, out)) execError(this, message);
        return out;
    }
};

// strlower(this) / strupper(this): case mapping that keeps the length (simple case mapping).
template <bool upper>
class scr_strcase : public stringFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<scr_strcase>(upper ? u"strupper" : u"strlower", params, flags, u"this", true, nullptr);
    }
    statement* clone() const override { return new scr_strcase(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::string s = text(u"this", context, u"error retrieving string");
        if constexpr (upper)
            s.toUpper();
        else
            s.toLower();
        result.replace(std::move(s));
    }
};
using scr_strlower = scr_strcase<false>;
using scr_strupper = scr_strcase<true>;

// strreplace(this, what, with): every occurrence of what replaced; an empty what changes nothing.
class scr_strreplace : public stringFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<scr_strreplace>(u"strreplace", params, flags, u"this", true, u"what", true, u"with", true,
                                     nullptr);
    }
    statement* clone() const override { return new scr_strreplace(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::string s = text(u"this", context, u"error retrieving string");
        const zt::string what = text(u"what", context, u"error retrieving string to exchange");
        const zt::string with = text(u"with", context, u"error retrieving exchange string");
        s.replace(what, with);
        result.replace(std::move(s));
    }
};

// strdelspaces(this, where): removes blanks and tabs at the start ("leading"), at the end
// ("trailing") or everywhere ("all"); any other word leaves the text as it is.
class scr_strdelspaces : public stringFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<scr_strdelspaces>(u"strdelspaces", params, flags, u"this", true, u"where", true, nullptr);
    }
    statement* clone() const override { return new scr_strdelspaces(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        static const zt::string blanks(u" \t");
        zt::string s = text(u"this", context, u"error retrieving string");
        zt::string where = text(u"where", context, u"error retrieving where-identification");
        where.toLower();
        if (where == u"leading")
            s.deleteLeading(blanks);
        else if (where == u"trailing")
            s.deleteTrailing(blanks);
        else if (where == u"all")
            s.deleteAll(blanks);
        result.replace(std::move(s));
    }
};

// strsplit(this, where): an array of the parts between the separators, empty parts kept.
class scr_strsplit : public stringFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<scr_strsplit>(u"strsplit", params, flags, u"this", true, u"where", true, nullptr);
    }
    statement* clone() const override { return new scr_strsplit(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string s = text(u"this", context, u"error retrieving string");
        const zt::string where = text(u"where", context, u"error retrieving where-identification");
        std::vector<zt::string> parts;
        s.splitAt(where, parts, false);
        std::vector<genericValue> elements;
        elements.reserve(parts.size());
        for (zt::string& part : parts)
            elements.emplace_back(new genericValue::valueholder<zt::string>(std::move(part)));
        result.replace(std::move(elements));
    }
};

// strfind(this, what): index of the first occurrence (case matters), 0 for an empty what,
// -1 when there is none.
class scr_strfind : public stringFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<scr_strfind>(u"strfind", params, flags, u"this", true, u"what", true, nullptr);
    }
    statement* clone() const override { return new scr_strfind(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string s = text(u"this", context, u"error retrieving string");
        const zt::string what = text(u"what", context, u"error retrieving what");
        const size_t at = what.empty() ? 0 : s.find(what);
        const zt::slong index = at == zt::string::npos || at > static_cast<size_t>(INT_MAX)
                                    ? zt::slong(-1)
                                    : zt::slong(static_cast<std::int32_t>(at));
        result.replace(index);
    }
};

// substr(this, sidx, len): the part starting at sidx with at most len code units; without a
// length, or with a negative one, up to the end.
class scr_substr : public stringFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<scr_substr>(u"substr", params, flags, u"this", true, u"sidx", true, u"len", false, nullptr);
    }
    statement* clone() const override { return new scr_substr(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::string s = text(u"this", context, u"error retrieving string");
        int start = 0;
        {
            genericValue value;
            if (!getParamValue(u"sidx", context, value) || !value.get(start))
                execError(this, u"error retrieving start index");
        }
        int length = -1;
        if (hasParam(u"len")) {
            genericValue value;
            int given = 0;
            if (getParamValue(u"len", context, value) && value.get(given)) length = given;
        }
        if (length < 0) length = INT_MAX;

        const size_t n = s.size();
        const bool inside = start >= 0 && (n == 0 ? start == 0 : static_cast<size_t>(start) < n);
        if (!inside) execError(this, u"start index out of range");
        const size_t first = static_cast<size_t>(start);
        const size_t count = std::min(n - first, static_cast<size_t>(length));
        s.resize(first + count);
        s.erase(0, first);
        result.replace(std::move(s));
    }
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"strlen", factory<&scr_strlen::createFrom>},
    {u"strcat", factory<&scr_strcat::createFrom>},
    {u"strlower", factory<&scr_strlower::createFrom>},
    {u"strupper", factory<&scr_strupper::createFrom>},
    {u"strreplace", factory<&scr_strreplace::createFrom>},
    {u"strdelspaces", factory<&scr_strdelspaces::createFrom>},
    {u"strsplit", factory<&scr_strsplit::createFrom>},
    {u"strfind", factory<&scr_strfind::createFrom>},
    {u"substr", factory<&scr_substr::createFrom>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::stringModule(&dispatch);

} // namespace zt::script
