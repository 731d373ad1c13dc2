// Localised strings and object messages: locstring, locstringfromid, locstring_insertparam,
// locstring_getstring, objmsg_add and objmsg_remove.
//
// A localised string travels through scripts as a value holding a zt::locString; it is resolved
// into the current language when its text is needed (locstring_getstring, or wherever it is
// read as a string). Messages go to the host through its messagesaccess interface.
#include "builtin_libraries.h"

#include <new>

namespace zt::script {

namespace {

using zt::intrface::interfaceptr;
using unknownptr = interfaceptr<zt::intrface::unknown>;

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptlocstring", line);
}

// Shown wherever a script reads a localised string as text.
bool locStringToText(zt::string& dst, const zt::locString& src) {
    dst = src.text();
    return true;
}

struct locStringConversion {
    zt::typeconvert::typeConverter<zt::locString, zt::string> converter{&locStringToText};
    locStringConversion() {
        zt::typeConversionManager::instance().add(&converter);
        registerScriptTypeName(typeid(zt::locString), u"locstring");
    }
    ~locStringConversion() { zt::typeConversionManager::instance().remove(&converter); }
} gLocStringConversion;

class locStatement : public zt::script::namedParameterStatement {
protected:
    template <class S, class... D>
    static statement* build(const char16_t* name, const std::vector<zt::string>& params, int flags, int line,
                            const D&... decls) {
        return namedParameterStatement::build<S>(u"ztscriptlocstring", line, name, params, flags, decls...);
    }

    // False (out unchanged) when the parameter is absent, fails or does not read as text.
    bool readText(const char16_t* name, codecontext& context, zt::string& out) const {
        genericValue value;
        zt::string text;
        if (!getParamValue(name, context, value) || !value.get(text)) return false;
        out = std::move(text);
        return true;
    }

    // A localised string as it is, or a text made into one; false when the parameter is neither.
    bool readLocString(const char16_t* name, codecontext& context, zt::locString& out) const {
        genericValue value;
        if (!getParamValue(name, context, value)) return false;
        if (const zt::locString* s = value.constPtrTo<zt::locString>()) {
            out = *s;
            return true;
        }
        zt::string text;
        if (!value.get(text)) return false;
        out = zt::locString(text);
        return true;
    }

    // The messagesaccess interface of parameter "this".
    interfaceptr<zt::intrface::messagesaccess> messagesOf(codecontext& context, const char16_t* notAnObject) const {
        genericValue value;
        const unknownptr* object = getParamValue(u"this", context, value) ? value.constPtrTo<unknownptr>() : nullptr;
        if (!object) execError(this, notAnObject);
        interfaceptr<zt::intrface::messagesaccess> messages(*object);
        if (!messages) execError(this, u"Given object does not provide a messages-interface");
        return messages;
    }
};

// "locstring(id, default [, file, p1id, p1p, ... p10id, p10p])".
class locstring : public locStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<locstring>(u"locstring", params, flags, __LINE__, u"id", true, u"default", true, u"file", false,
                                u"p1id", false, u"p1p", false, u"p2id", false, u"p2p", false, u"p3id", false,
                                u"p3p", false, u"p4id", false, u"p4p", false, u"p5id", false, u"p5p", false,
                                u"p6id", false, u"p6p", false, u"p7id", false, u"p7p", false, u"p8id", false,
                                u"p8p", false, u"p9id", false, u"p9p", false, u"p10id", false, u"p10p", false,
                                nullptr);
    }
    statement* clone() const override { return new locstring(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        zt::string id, defaultText, file;
        if (!readText(u"id", context, id)) execError(this, u"Error retrieving message-id");
        if (!readText(u"default", context, defaultText)) execError(this, u"Error retrieving message-default");
        if (hasParam(u"file")) readText(u"file", context, file);
        zt::locString text(id, defaultText, file.empty() ? nullptr : file.c_str(), nullptr);

        static const char16_t* const kPairs[10][2] = {
            {u"p1id", u"p1p"}, {u"p2id", u"p2p"}, {u"p3id", u"p3p"}, {u"p4id", u"p4p"}, {u"p5id", u"p5p"},
            {u"p6id", u"p6p"}, {u"p7id", u"p7p"}, {u"p8id", u"p8p"}, {u"p9id", u"p9p"}, {u"p10id", u"p10p"}};
        for (const auto& pair : kPairs) {
            zt::string placeholder;
            if (!hasParam(pair[0]) || !readText(pair[0], context, placeholder)) continue;
            genericValue value;
            if (!getParamValue(pair[1], context, value)) continue;
            double number = 0;
            zt::string plain;
            if (const zt::locString* nested = value.constPtrTo<zt::locString>())
                text.params().set(placeholder, *nested);
            else if (value.get(number))
                text.params().set(placeholder, number);
            else if (value.get(plain))
                text.params().set(placeholder, plain);
        }
        result.replace(std::move(text));
    }
};

// "locstringfromid(id)": the identifier is also the text shown when no catalogue knows it.
class locstringfromid : public locStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<locstringfromid>(u"locstringfromid", params, flags, __LINE__, u"id", true, nullptr);
    }
    statement* clone() const override { return new locstringfromid(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        zt::string id;
        if (!readText(u"id", context, id)) execError(this, u"Error retrieving message-id");
        result.replace(zt::locString(id));
    }
};

// "locstring_insertparam(this, id, v)": a copy of this with the placeholder id set to the text of v.
class locstring_insertparam : public locStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<locstring_insertparam>(u"locstring_insertparam", params, flags, __LINE__, u"this", true, u"id",
                                            true, u"v", true, nullptr);
    }
    statement* clone() const override { return new locstring_insertparam(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        zt::locString text;
        if (!readLocString(u"this", context, text)) execError(this, u"Error retrieving string");
        zt::string placeholder;
        if (!readText(u"id", context, placeholder)) execError(this, u"Error retrieving parameter id");
        genericValue value;
        zt::string shown;
        if (!getParamValue(u"v", context, value)) execError(this, u"Error retrieving parameter value");
        if (const zt::locString* nested = value.constPtrTo<zt::locString>()) shown = nested->text();
        else if (!value.get(shown)) execError(this, u"Error retrieving parameter value");
        text.params().set(placeholder, shown);
        result.replace(std::move(text));
    }
};

// "locstring_getstring(this)": the text in the current language.
class locstring_getstring : public locStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<locstring_getstring>(u"locstring_getstring", params, flags, __LINE__, u"this", true, nullptr);
    }
    statement* clone() const override { return new locstring_getstring(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        zt::locString text;
        if (!readLocString(u"this", context, text)) execError(this, u"Error retrieving string");
        result.replace(text.text(nullptr));
    }
};

// "objmsg_add(this, id, severity, msg)": severity "e..." error (2), "w..." warning (1), else 0.
class objmsg_add : public locStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<objmsg_add>(u"objmsg_add", params, flags, __LINE__, u"this", true, u"id", true, u"severity",
                                 true, u"msg", true, nullptr);
    }
    statement* clone() const override { return new objmsg_add(*this); }

    void execute(codecontext& context, genericValue&) const override {
        auto messages = messagesOf(context, u"Error retrieving object (1)");
        zt::string id;
        if (!readText(u"id", context, id)) execError(this, u"Error retrieving message-id");
        zt::string severityText;
        if (!readText(u"severity", context, severityText)) execError(this, u"Error retrieving message-severity");
        severityText.toLower();
        int severity = 0;
        if (!severityText.empty() && severityText[0] == u'e') severity = 2;
        else if (!severityText.empty() && severityText[0] == u'w') severity = 1;
        zt::locString text;
        if (!readLocString(u"msg", context, text)) execError(this, u"Error retrieving message-text");
        messages->addMessage(id, severity, text);
    }
};

// "objmsg_remove(this, id)".
class objmsg_remove : public locStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<objmsg_remove>(u"objmsg_remove", params, flags, __LINE__, u"this", true, u"id", true, nullptr);
    }
    statement* clone() const override { return new objmsg_remove(*this); }

    void execute(codecontext& context, genericValue&) const override {
        auto messages = messagesOf(context, u"Error retrieving object");
        zt::string id;
        if (!readText(u"id", context, id)) execError(this, u"Error retrieving message-id");
        messages->removeMessage(id);
    }
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"locstring", factory<&locstring::createFrom>},
    {u"locstringfromid", factory<&locstringfromid::createFrom>},
    {u"locstring_insertparam", factory<&locstring_insertparam::createFrom>},
    {u"locstring_getstring", factory<&locstring_getstring::createFrom>},
    {u"objmsg_add", factory<&objmsg_add::createFrom>},
    {u"objmsg_remove", factory<&objmsg_remove::createFrom>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::locStringModule(&dispatch);

} // namespace zt::script
