// Messages and assertions: throwerror, throwmessage, assert, messagebox, executablepath.
// The control-flow library's dispatcher hands these keywords here.
#include "builtin_libraries.h"

#include <ztplatform.h>

namespace zt::script {

namespace {

// Base of the message statements: building from named parameters and reading them as text.
class messageStatement : public scriptbasesinglefunction {
protected:
    template <class S, class... D>
    static statement* build(const char16_t* name, const std::vector<zt::string>& params, int flags, const D&... decls) {
        clonePtr<S> st(new S);
        st->parse(name, params, flags, decls...);
        return st.release();
    }

    // Reads a parameter as text; false (out unchanged) when it is absent, its evaluation
    // reports failure or its value does not convert to text.
    bool text(const char16_t* name, codecontext& context, zt::string& out) const {
        genericValue value;
        zt::string read;
        if (!getParamValue(name, context, value) || !value.get(read)) return false;
        out = std::move(read);
        return true;
    }
};

class throwerror : public messageStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<throwerror>(u"throwerror", params, flags, u"string", true, nullptr);
    }
    statement* clone() const override { return new throwerror(*this); }
    void execute(codecontext& context, genericValue&) const override {
        zt::string message;
        if (text(u"string", context, message) && !message.empty()) throw unexpectedErrorException(message);
        execError(this, u"Error retrieving throwerror-Message");
    }
};

class throwmessage : public messageStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<throwmessage>(u"throwmessage", params, flags, u"string", true, nullptr);
    }
    statement* clone() const override { return new throwmessage(*this); }
    void execute(codecontext& context, genericValue&) const override {
        zt::string message;
        // The text travels unchanged up to the code manager, which hands it to the host.
        if (text(u"string", context, message) && !message.empty()) throw message;
        execError(this, u"Error retrieving throwmessage-Message");
    }
};

class _assert : public messageStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<_assert>(u"assert", params, flags, u"string", true, nullptr);
    }
    statement* clone() const override { return new _assert(*this); }
    void execute(codecontext& context, genericValue&) const override {
        zt::string message;
        if (!text(u"string", context, message)) execError(this, u"Error retrieving assert-Message");
        zt::assertMsg(message);
    }
};

class messagebox : public messageStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<messagebox>(u"messagebox", params, flags, u"string", true, u"buttons", false, u"icon", false,
                                 u"title", false, nullptr);
    }
    statement* clone() const override { return new messagebox(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        zt::string message;
        if (!text(u"string", context, message)) execError(this, u"Error retrieving messagebox-Message");
        zt::string buttons = u"ok";
        if (hasParam(u"buttons")) text(u"buttons", context, buttons);
        buttons.toLower();
        zt::string icon;
        if (hasParam(u"icon")) text(u"icon", context, icon);
        icon.toLower();
        zt::string title = u"Vantrel";
        if (hasParam(u"title")) text(u"title", context, title);

        const unsigned flags = iconFlag(icon) + buttonFlag(buttons);
        const zt::string shownText = zt::locString(message, message).text();
        const zt::string shownTitle = zt::locString(title, title).text();
        const int answer = zt::MessageBoxW(zt::mainHWND(), shownText.c_str(), shownTitle.c_str(), flags);
        result.replace(answerWord(answer));
    }

private:
    static unsigned iconFlag(const zt::string& word) {
        if (word == u"exclamation" || word == u"warning") return zt::MB_ICONEXCLAMATION;
        if (word == u"information" || word == u"asterisk") return zt::MB_ICONINFORMATION;
        if (word == u"question") return zt::MB_ICONQUESTION;
        if (word == u"stop" || word == u"error" || word == u"hand") return zt::MB_ICONSTOP;
        return 0;
    }
    static unsigned buttonFlag(const zt::string& word) {
        if (word == u"okcancel") return zt::MB_OKCANCEL;
        if (word == u"retrycancel") return zt::MB_RETRYCANCEL;
        if (word == u"yesno") return zt::MB_YESNO;
        if (word == u"yesnocancel") return zt::MB_YESNOCANCEL;
        return zt::MB_OK;
    }
    static zt::string answerWord(int answer) {
        switch (answer) {
        case zt::IDOK: return u"ok";
        case zt::IDCANCEL: return u"cancel";
        case zt::IDYES: return u"yes";
        case zt::IDNO: return u"no";
        case zt::IDRETRY: return u"retry";
        default: return zt::string();
        }
    }
};

// Takes no parameters: its arguments are ignored.
class executablepath : public scriptbasesinglefunction {
public:
    statement* clone() const override { return new executablepath(*this); }
    void execute(codecontext&, genericValue& result) const override {
        result.replace(zt::string(zt::getModulePath(u"")));
    }
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"throwerror", factory<&throwerror::createFrom>},
    {u"throwmessage", factory<&throwmessage::createFrom>},
    {u"assert", factory<&_assert::createFrom>},
    {u"executablepath",
     [](const modules::argumentTexts&, const modules::argumentTexts&, int) -> statement* { return new executablepath; }},
    {u"messagebox", factory<&messagebox::createFrom>},
};

} // namespace

statement* modules::dispatchMessages(const zt::string& keyword, const std::vector<zt::string>& types,
                                     const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace zt::script
