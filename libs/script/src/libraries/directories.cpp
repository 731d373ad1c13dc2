// Statements on directories: listing files, reading and changing the current directory.
#include "builtin_libraries.h"

#include <ztfile.h>

#include <new>

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptdir", line);
}

class directoryFunction : public zt::script::namedParameterStatement {
protected:
    template <class S, class... D>
    static statement* build(int line, const char16_t* name, const std::vector<zt::string>& params, int flags,
                            const D&... decls) {
        return zt::script::namedParameterStatement::build<S>(u"ztscriptdir", line, name, params, flags, decls...);
    }
};

class directory_getallfiles : public directoryFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<directory_getallfiles>(__LINE__, u"directory_getAllFiles", params, flags, u"path", true,
                                            u"filter", false, nullptr);
    }
    statement* clone() const override { return new directory_getallfiles(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string path = text(u"path", context, u"Error retrieving path");
        const zt::string filter = hasParam(u"filter") ? text(u"filter", context, u"Error retrieving filter")
                                                      : zt::string();
        std::vector<genericValue> names;
        zt::fileIterator it = zt::directory(path).fileIt(filter, zt::DI_HIDDEN | zt::DI_SYSTEM);
        while (it.valid()) {
            const zt::fsEntry entry = *it;
            it.next();
            names.push_back(genericValue::of(entry.name()));
        }
        result.replace(std::move(names));
    }
};

class directory_getcurrent : public directoryFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<directory_getcurrent>(__LINE__, u"directory_getcurrent", params, flags, nullptr);
    }
    statement* clone() const override { return new directory_getcurrent(*this); }
    void execute(codecontext&, genericValue& result) const override {
        result.replace(zt::directory(u".").fullName());
    }
};

class directory_setcurrent : public directoryFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<directory_setcurrent>(__LINE__, u"directory_setcurrent", params, flags, u"dir", true, nullptr);
    }
    statement* clone() const override { return new directory_setcurrent(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string name = text(u"dir", context, u"Error retrieving directoryname");
        result.replace(zt::directory(name).makeCurrent());
    }
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"directory_getallfiles", factory<&directory_getallfiles::createFrom>},
    {u"directory_getcurrent", factory<&directory_getcurrent::createFrom>},
    {u"directory_setcurrent", factory<&directory_setcurrent::createFrom>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::directoryModule(&dispatch);

} // namespace zt::script
