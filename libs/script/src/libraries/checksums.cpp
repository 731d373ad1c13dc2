// Statements on checksums: a CRC-32 over texts. The running checksum travels in scripts as a
// calcCrc32 value; calccrc_add gives a new value and leaves the one it was given unchanged.
#include "builtin_libraries.h"

#include <ztchecks.h>

#include <new>

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptcrc", line);
}

class crcStatement : public scriptbasesinglefunction {
protected:
    template <class S, class... D>
    static statement* build(const char16_t* name, const std::vector<zt::string>& params, int flags, const D&... decls) {
        clonePtr<S> st(allocateStatement<S>(__LINE__));
        st->parse(name, params, flags, decls...);
        return st.release();
    }
    // The checksum given as "this"; false when it is missing or not a checksum.
    bool checksum(codecontext& context, zt::calcCrc32& out) const {
        genericValue value;
        return getParamValue(u"this", context, value) && value.get(out);
    }
};

// A fresh checksum; an argument is accepted and ignored.
class calccrc_create : public crcStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<calccrc_create>(u"calccrc_create", params, flags, u"", false, nullptr);
    }
    statement* clone() const override { return new calccrc_create(*this); }
    void execute(codecontext&, genericValue& result) const override { result.replace(zt::calcCrc32()); }
};

class calccrc_add : public crcStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<calccrc_add>(u"calccrc_add", params, flags, u"this", true, u"value", true, nullptr);
    }
    statement* clone() const override { return new calccrc_add(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::calcCrc32 crc;
        if (!checksum(context, crc)) execError(this, u"Error retrieving calccrc32");
        genericValue value;
        zt::string text;
        if (!getParamValue(u"value", context, value) || !value.get(text)) execError(this, u"Error retrieving value");
        // The UTF-16 code units up to the first NUL and one NUL after them, low byte first.
        crc.crcText(text);
        result.replace(crc);
    }
};

class calccrc_result : public crcStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<calccrc_result>(u"calccrc_result", params, flags, u"this", true, nullptr);
    }
    statement* clone() const override { return new calccrc_result(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::calcCrc32 crc;
        if (!checksum(context, crc)) execError(this, u"Error retrieving calccrc32");
        result.replace(zt::ulong(crc.result()));
    }
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"calccrc_create", factory<&calccrc_create::createFrom>},
    {u"calccrc_add", factory<&calccrc_add::createFrom>},
    {u"calccrc_result", factory<&calccrc_result::createFrom>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

struct typeNameRegistrar {
    typeNameRegistrar() { registerScriptTypeName(typeid(zt::calcCrc32), u"calccrc32"); }
} gTypeNameRegistrar;

} // namespace

scriptModule modules::checksumModule(&dispatch);

} // namespace zt::script
