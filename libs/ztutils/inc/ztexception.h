// Localised message texts, the exception base of the engine, and assertion reports.
#pragma once

#include "ztexport.h"
#include "ztstring.h"

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace zt {

class locString;

// Named placeholder values of a localised text; placeholders are written "[Name]" in texts.
// A value is a text, a number (shown in its shortest exact form) or another localised text
// (resolved in the same language as the text that shows it).
class ZTUTILS_API locStringParams {
public:
    enum class kind { text, number, localised };
    struct entry {
        string name;
        kind type = kind::text;
        string text;
        double number = 0;
        std::shared_ptr<const locString> localised;
    };

    // Setting a name again replaces its value.
    void set(const string& name, const string& value);
    void set(const string& name, const char16_t* value) { set(name, string(value ? value : u"")); }
    void set(const string& name, double value);
    void set(const string& name, const locString& value);
    // Declares a placeholder without a value (it is shown empty).
    void setNull(const string& name);

    const entry* find(const string& name) const;
    // The text of a text value (null for absent names and other kinds of value).
    const string* get(const string& name) const;
    // The value as shown in a text, in the given language (null: the current one).
    static string shown(const entry& e, const char16_t* language = nullptr);

    bool empty() const { return mValues.empty(); }
    const std::vector<entry>& values() const { return mValues; }

private:
    entry& slot(const string& name);
    std::vector<entry> mValues;
};

// A message identifier with its default text, an optional string file (the catalogue the
// identifier is looked up in, see ztlocal.h) and placeholder values.
class ZTUTILS_API locString {
public:
    locString() = default;
    // The text serves as identifier and as default text: without a catalogue entry for it, the
    // text shows as written.
    explicit locString(const string& text) : mId(text), mDefault(text) {}
    locString(const string& id, const string& defaultText) : mId(id), mDefault(defaultText) {}
    locString(const string& id, const string& defaultText, const locStringParams& params)
        : mId(id), mDefault(defaultText), mParams(params) {}
    // file and params may be null (an empty file means the common catalogue).
    locString(const string& id, const string& defaultText, const char16_t* file, const locStringParams* params)
        : mId(id), mDefault(defaultText), mFile(file ? file : u"") {
        if (params) mParams = *params;
    }

    const string& id() const { return mId; }
    const string& defaultText() const { return mDefault; }
    const string& file() const { return mFile; }
    locStringParams& params() { return mParams; }
    const locStringParams& params() const { return mParams; }

    // The text with its placeholders filled, in the given language (null: the current one):
    // the catalogue's text for the identifier when there is one, else the default text.
    string text(const char16_t* language = nullptr) const;

    // Catalogue hook, asked before the catalogue files: returns true and the text for an
    // identifier. The hook must not install another hook.
    using catalogue = std::function<bool(const string& id, string& text)>;
    static void setCatalogue(catalogue c);

private:
    string mId;
    string mDefault;
    string mFile;
    locStringParams mParams;
};

// Fills the "[Name]" placeholders of text that params names (declared without a value: empty);
// brackets around other names stay as written.
ZTUTILS_API string fillPlaceholders(const string& text, const locStringParams& params,
                                    const char16_t* language = nullptr);

// Base of every exception of the utility library and the engine.
class ZTUTILS_API exception {
public:
    explicit exception(const locString& message, const exception* inner = nullptr);
    exception(const exception&) = default;
    exception& operator=(const exception&) = default;
    virtual ~exception();
    // Polymorphic copy, used to keep inner exceptions alive beyond their catch block.
    virtual exception* clone() const { return new exception(*this); }

    const locString& message() const { return mMessage; }
    locString& message() { return mMessage; }
    const exception* inner() const { return mpInner.get(); }
    // The message text with placeholders filled.
    string text() const { return mMessage.text(); }

private:
    locString mMessage;
    std::shared_ptr<const exception> mpInner;
};

#define ZT_EXCEPTION_CLONE(cls) \
    zt::exception* clone() const override { return new cls(*this); }

class ZTUTILS_API unexpectedErrorException : public exception {
public:
    explicit unexpectedErrorException(const string& text, const exception* inner = nullptr);
    template <class A0, class... A>
    unexpectedErrorException(const string& format, const A0& a0, const A&... args)
        : unexpectedErrorException(string::format(format, a0, args...)) {}
    ZT_EXCEPTION_CLONE(unexpectedErrorException)
};

class ZTUTILS_API outOfMemoryException : public exception {
public:
    outOfMemoryException();
    ZT_EXCEPTION_CLONE(outOfMemoryException)
};

class ZTUTILS_API fileException : public exception {
public:
    using exception::exception;
    ZT_EXCEPTION_CLONE(fileException)
};

class ZTUTILS_API fileNotFoundException : public fileException {
public:
    explicit fileNotFoundException(const string& file, const exception* inner = nullptr);
    // A message of the caller's own (one that names every place that was looked at, say).
    explicit fileNotFoundException(const locString& message, const exception* inner = nullptr)
        : fileException(message, inner) {}
    ZT_EXCEPTION_CLONE(fileNotFoundException)
};

class ZTUTILS_API readFileException : public fileException {
public:
    explicit readFileException(const string& file, const exception* inner = nullptr);
    ZT_EXCEPTION_CLONE(readFileException)
};

// Values (arrays and maps of values) nested so deeply that walking them would overrun the
// thread's stack. action names the walk: "copy", "show as text", ...
class ZTUTILS_API valueNestingException : public exception {
public:
    explicit valueNestingException(const string& action, const exception* inner = nullptr);
    ZT_EXCEPTION_CLONE(valueNestingException)
};

// Assertion reports for broken invariants and rejected statement arguments.
using assertReporter = std::function<void(const string& text)>;
// Installs a reporter and returns the previous one. The default writes
// "assertion: <text>" to stderr.
ZTUTILS_API assertReporter setAssertReporter(assertReporter reporter);
ZTUTILS_API void reportAssertion(const string& text);

template <class... A>
void assertMsg(const string& format, const A&... args) {
    if constexpr (sizeof...(A) == 0)
        reportAssertion(format);
    else
        reportAssertion(string::format(format, args...));
}

} // namespace zt
