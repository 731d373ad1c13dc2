// Statements on files: names, existence, copying, deleting, appending text lines and reading
// values of INI files.
#include "builtin_libraries.h"

#include <ztfile.h>

#include <cstdio>
#include <new>

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptfile", line);
}

// Base of the file statements: building from named parameters and reading them as text.
class fileFunction : public zt::script::namedParameterStatement {
protected:
    template <class S, class... D>
    static statement* build(int line, const char16_t* name, const std::vector<zt::string>& params, int flags,
                            const D&... decls) {
        return zt::script::namedParameterStatement::build<S>(u"ztscriptfile", line, name, params, flags, decls...);
    }

    // A name starting with "." is relative to the running script: the global context variable
    // "scriptbasepath" goes in front of it as it is.
    static zt::string scriptRelative(codecontext& context, const zt::string& name) {
        if (name.empty() || name[0] != u'.') return name;
        const genericValue& base = context.globalContextVariable(scriptcontext::scriptbasepath());
        zt::string prefix;
        if (!base.get(prefix)) prefix.clear();
        return prefix + name;
    }
};

class fsname_replaceinvalidchars : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<fsname_replaceinvalidchars>(__LINE__, u"fsname_replaceinvalidchars", params, flags, u"str",
                                                 false, nullptr);
    }
    statement* clone() const override { return new fsname_replaceinvalidchars(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string name = text(u"str", context, u"Error retrieving name");
        result.replace(zt::fsEntryName::replaceInvalidChars(name, u' '));
    }
};

class file_make : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<file_make>(__LINE__, u"file_make", params, flags, u"path", true, u"file", false, nullptr);
    }
    statement* clone() const override { return new file_make(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string path = text(u"path", context, u"Error retrieving path");
        const zt::string name = optionalText(u"file", context, u"Error retrieving file");
        result.replace(zt::fsEntry(path, name).fullName());
    }
};

class file_delete : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<file_delete>(__LINE__, u"file_delete", params, flags, u"path", true, u"file", false, nullptr);
    }
    statement* clone() const override { return new file_delete(*this); }
    void execute(codecontext& context, genericValue&) const override {
        const zt::string path = text(u"path", context, u"Error retrieving path");
        const zt::string name = optionalText(u"file", context, u"Error retrieving file");
        zt::file f(path, name);
        if (f.exists()) f.remove();
    }
};

class file_makeabs : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<file_makeabs>(__LINE__, u"file_makeabs", params, flags, u"file", true, nullptr);
    }
    statement* clone() const override { return new file_makeabs(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string name = scriptRelative(context, text(u"file", context, u"Error retrieving file"));
        result.replace(zt::fsEntry(name).fullName());
    }
};

class file_makerelative : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<file_makerelative>(__LINE__, u"file_makerelative", params, flags, u"file", true, u"basepath",
                                        true, nullptr);
    }
    statement* clone() const override { return new file_makerelative(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string name = text(u"file", context, u"Error retrieving file");
        const zt::string base = text(u"basepath", context, u"Error retrieving basepath");
        result.replace(zt::fsEntry(name).relativeNameTo(zt::fsEntry(base).name()));
    }
};

class file_copy : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<file_copy>(__LINE__, u"file_copy", params, flags, u"file", true, u"topath", true, u"tofile",
                                false, nullptr);
    }
    statement* clone() const override { return new file_copy(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::file source(scriptRelative(context, text(u"file", context, u"Error retrieving file")));
        if (!source.exists()) execError(this, u"file not existing");
        zt::directory folder(text(u"topath", context, u"Error retrieving destination path"));
        if (!folder.exists()) execError(this, u"Error: destination path not existing");
        zt::string name = optionalText(u"tofile", context, u"Error retrieving destination file");
        if (name.empty()) name = source.name(0);
        zt::file destination(folder.name(), name);
        // An existing destination is replaced.
        if (!source.copy(destination.name(), false)) execError(this, u"Error copying file");
        destination.exists(); // takes the name on disk
        result.replace(destination.fullName());
    }
};

class file_exchangeextension : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<file_exchangeextension>(__LINE__, u"file_exchangeextension", params, flags, u"file", true,
                                             u"ext", true, nullptr);
    }
    statement* clone() const override { return new file_exchangeextension(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string name = text(u"file", context, u"Error retrieving file");
        const zt::string extension = text(u"ext", context, u"Error retrieving extension");
        zt::string exchanged = zt::fsEntryName(name).name(zt::FN_ROOT | zt::FN_FOLDER | zt::FN_NOEXTENSION);
        exchanged += u".";
        exchanged += extension;
        result.replace(std::move(exchanged));
    }
};

class file_exists : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<file_exists>(__LINE__, u"file_exists", params, flags, u"file", true, nullptr);
    }
    statement* clone() const override { return new file_exists(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::file f(text(u"file", context, u"Error retrieving file"));
        result.replace(f.exists());
    }
};

// "file_name" (the name without folder) and "file_path" (the folder part).
class file_namepart : public fileFunction {
public:
    static statement* createFrom(const char16_t* keyword, bool folder, const std::vector<zt::string>& params,
                                 int flags) {
        statement* st = build<file_namepart>(__LINE__, keyword, params, flags, u"file", true, nullptr);
        static_cast<file_namepart*>(st)->mFolder = folder;
        return st;
    }
    statement* clone() const override { return new file_namepart(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::fsEntryName name(text(u"file", context, u"Error retrieving file"));
        result.replace(mFolder ? name.path(0) : name.name(0));
    }

private:
    bool mFolder = false;
};

class file_appendtextline : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<file_appendtextline>(__LINE__, u"file_appendTextLine", params, flags, u"file", true, u"str",
                                          true, nullptr);
    }
    statement* clone() const override { return new file_appendtextline(*this); }
    // The text is written as UTF-8, followed by one line feed.
    void execute(codecontext& context, genericValue&) const override {
        const zt::string name = text(u"file", context, u"Error retrieving file");
        const std::string line = text(u"str", context, u"Error retrieving str").toUtf8() + "\n";
        std::FILE* f = zt::_wfopen(name.c_str(), u"at");
        if (f == nullptr) execError(this, u"Error opening file");
        const bool written = std::fwrite(line.data(), 1, line.size(), f) == line.size();
        if (std::fclose(f) != 0 || !written) execError(this, u"Error writing file");
    }
};

// The INI files of file_loadini: ";" starts a comment, "=" separates key and value.
class iniFileReader : public zt::keyValueFileReader {
public:
    explicit iniFileReader(const zt::file& f) : keyValueFileReader(f, u";", u"=", u"") {}
};

class file_loadini : public fileFunction {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<file_loadini>(__LINE__, u"file_loadini", params, flags, u"file", true, u"sstr", true, u"vstr",
                                   true, u"cs", false, nullptr);
    }
    statement* clone() const override { return new file_loadini(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const zt::string name = text(u"file", context, u"Error retrieving file");
        const zt::string section = text(u"sstr", context, u"Error retrieving section-str");
        const zt::string key = text(u"vstr", context, u"Error retrieving key-str");
        bool caseSensitive = false;
        if (hasParam(u"cs")) {
            genericValue value;
            if (!getParamValue(u"cs", context, value) || !value.get(caseSensitive))
                execError(this, u"Error retrieving case flag");
        }

        // Keys are stored as written; the lookup decides whether case counts. Keys before the
        // first section header belong to the section "".
        zt::configStructure config;
        iniFileReader reader{zt::file(name)};
        if (reader.open()) {
            zt::string sectionName, k, v;
            while (reader.readSection(sectionName)) {
                zt::configSet* set = config.section(sectionName, true, true);
                while (reader.readKey(k, v)) set->setValue(k, v, 3, true);
            }
            reader.rewind();
            zt::configSet* top = config.section(zt::string(), true, true);
            while (reader.readKey(k, v)) top->setValue(k, v, 3, true);
            reader.close();
        }

        zt::string found;
        const int index = config.sectionIdx(section, caseSensitive);
        if (index >= 0) config.sectionAt(static_cast<size_t>(index)).getValue(key, found, caseSensitive);
        result.replace(found);
    }
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"fsname_replaceinvalidchars", factory<&fsname_replaceinvalidchars::createFrom>},
    {u"file_make", factory<&file_make::createFrom>},
    {u"file_delete", factory<&file_delete::createFrom>},
    {u"file_makeabs", factory<&file_makeabs::createFrom>},
    {u"file_makerelative", factory<&file_makerelative::createFrom>},
    {u"file_copy", factory<&file_copy::createFrom>},
    {u"file_exchangeextension", factory<&file_exchangeextension::createFrom>},
    {u"file_exists", factory<&file_exists::createFrom>},
    {u"file_name", [](const modules::argumentTexts&, const modules::argumentTexts& params, int flags) {
         return file_namepart::createFrom(u"file_name", false, params, flags);
     }},
    {u"file_path", [](const modules::argumentTexts&, const modules::argumentTexts& params, int flags) {
         return file_namepart::createFrom(u"file_path", true, params, flags);
     }},
    {u"file_appendtextline", factory<&file_appendtextline::createFrom>},
    {u"file_loadini", factory<&file_loadini::createFrom>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::fileModule(&dispatch);

} // namespace zt::script
