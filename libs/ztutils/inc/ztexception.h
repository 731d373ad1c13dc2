// Localised message texts, the exception base of the engine, and assertion reports.
#pragma once

#include "ztexport.h"
#include "ztstring.h"

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace zt {

// Named placeholder values of a localised text; placeholders are written "[Name]".
class ZTUTILS_API locStringParams {
public:
    void set(const string& name, const string& value);
    // Declares a placeholder without a value (it is shown empty).
    void setNull(const string& name);
    const string* get(const string& name) const;
    bool empty() const { return mValues.empty(); }
    const std::vector<std::pair<string, string>>& values() const { return mValues; }

private:
    std::vector<std::pair<string, string>> mValues;
};

// A message identifier with its default text and placeholder values.
class ZTUTILS_API locString {
public:
    locString() = default;
    locString(const string& id, const string& defaultText) : mId(id), mDefault(defaultText) {}
    locString(const string& id, const string& defaultText, const locStringParams& params)
        : mId(id), mDefault(defaultText), mParams(params) {}

    const string& id() const { return mId; }
    const string& defaultText() const { return mDefault; }
    locStringParams& params() { return mParams; }
    const locStringParams& params() const { return mParams; }

    // The text with its placeholders filled: the catalogue's text for the identifier when one
    // is installed and knows it, else the default text.
    string text() const;

    // Catalogue hook: returns true and the text for an identifier.
    using catalogue = std::function<bool(const string& id, string& text)>;
    static void setCatalogue(catalogue c);

private:
    string mId;
    string mDefault;
    locStringParams mParams;
};

// Fills "[Name]" placeholders of text from params; placeholders without a value become empty.
ZTUTILS_API string fillPlaceholders(const string& text, const locStringParams& params);

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
    ZT_EXCEPTION_CLONE(fileNotFoundException)
};

class ZTUTILS_API readFileException : public fileException {
public:
    explicit readFileException(const string& file, const exception* inner = nullptr);
    ZT_EXCEPTION_CLONE(readFileException)
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
