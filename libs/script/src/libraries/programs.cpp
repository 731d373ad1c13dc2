// Statements on programs and libraries: "loaddll" loads a dynamic library, "runexe" starts a
// program.
#include "builtin_libraries.h"

#include <ztfile.h>
#include <ztprocess.h>

#include <new>

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptprocess", line);
}

// A module handle stands for a condition: true when a library was loaded.
bool handleToBool(bool& dst, void* const& src) {
    dst = src != nullptr;
    return true;
}

struct handleConverter {
    zt::typeconvert::typeConverter<void*, bool> converter{&handleToBool};
    handleConverter() { zt::typeConversionManager::instance().add(&converter); }
    ~handleConverter() { zt::typeConversionManager::instance().remove(&converter); }
} gHandleConverter;

class processFunction : public zt::script::namedParameterStatement {
protected:
    template <class S, class... D>
    static statement* build(int line, const char16_t* name, const std::vector<zt::string>& params, int flags,
                            const D&... decls) {
        return zt::script::namedParameterStatement::build<S>(u"ztscriptprocess", line, name, params, flags, decls...);
    }
};

class loadDLL : public processFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<loadDLL>(__LINE__, u"loadDLL", params, flags, u"file", true, nullptr);
    }
    statement* clone() const override { return new loadDLL(*this); }

    // The file as named, its debug name beside it, then both in the program's folder.
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string name = text(u"file", context, u"error retrieving filename");
        const zt::fsEntryName given(name);
        zt::file candidate(name);
        if (!candidate.exists()) {
            candidate = zt::file(debugName(given));
            if (!candidate.exists()) {
                const zt::string moduleFolder = zt::getModulePath(u"");
                candidate = zt::file(moduleFolder, given.name(0));
                if (!candidate.exists()) {
                    candidate = zt::file(moduleFolder, debugName(zt::fsEntryName(given.name(0))));
                    if (!candidate.exists()) execError(this, u"file not found");
                }
            }
        }
        // A file that is no library gives a null handle.
        void* module = zt::LoadLibraryW(candidate.fullName().c_str());
        result.replace(module);
    }

private:
    // x.dll gives x-d.dll; a name without extension gets "-d" at its end.
    static zt::string debugName(const zt::fsEntryName& n) {
        const zt::string extension = n.extension();
        zt::string out = n.path(0) + n.baseName() + u"-d";
        if (!extension.empty()) out += u"." + extension;
        return out;
    }
};

class runExe : public processFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<runExe>(__LINE__, u"runExe", params, flags, u"exe", true, u"params", false, u"flags", false,
                             nullptr);
    }
    statement* clone() const override { return new runExe(*this); }

    void execute(codecontext& context, genericValue&) const override {
        const zt::string exe = text(u"exe", context, u"error retrieving exe");
        const zt::string params = hasParam(u"params") ? text(u"params", context, u"error retrieving params")
                                                      : zt::string();
        const zt::string flagText = hasParam(u"flags") ? text(u"flags", context, u"error retrieving flags")
                                                       : zt::string();
        unsigned startFlags = 0;
        std::vector<zt::string> parts;
        flagText.splitAt(u",", parts, false);
        for (zt::string& part : parts) {
            part.toLower();
            part.deleteAll(u" \t");
            if (part == u"w") startFlags |= 0x2;
            else if (part == u"h") startFlags |= 0x2008;
        }

        // A failed start is silent; the exit code is read but goes nowhere.
        zt::HANDLE process = nullptr;
        if (zt::startProcess(exe, params, startFlags, nullptr, nullptr, &process, zt::string())) {
            int exitCode = -1;
            zt::getExitCodeProcess(process, exitCode);
            zt::closeHandle(process);
        }
    }
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"loaddll", factory<&loadDLL::createFrom>},
    {u"runexe", factory<&runExe::createFrom>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::processModule(&dispatch);

} // namespace zt::script
