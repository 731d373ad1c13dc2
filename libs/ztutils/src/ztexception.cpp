#include "ztexception.h"
#include "ztlocal.h"
#include "ztvalue.h"

#include <cstdio>
#include <mutex>

namespace zt {

locStringParams::entry& locStringParams::slot(const string& name) {
    for (auto& e : mValues)
        if (e.name == name) return e;
    mValues.emplace_back();
    mValues.back().name = name;
    return mValues.back();
}

void locStringParams::set(const string& name, const string& value) {
    entry& e = slot(name);
    e.type = kind::text;
    e.text = value;
    e.localised.reset();
}

void locStringParams::set(const string& name, double value) {
    entry& e = slot(name);
    e.type = kind::number;
    e.number = value;
    e.text.clear();
    e.localised.reset();
}

void locStringParams::set(const string& name, const locString& value) {
    // Copied first: value may be a text that this very parameter list belongs to.
    auto copy = std::make_shared<const locString>(value);
    entry& e = slot(name);
    e.type = kind::localised;
    e.text.clear();
    e.localised = std::move(copy);
}

void locStringParams::setNull(const string& name) { set(name, string()); }

const locStringParams::entry* locStringParams::find(const string& name) const {
    for (const auto& e : mValues)
        if (e.name == name) return &e;
    return nullptr;
}

const string* locStringParams::get(const string& name) const {
    const entry* e = find(name);
    return e && e->type == kind::text ? &e->text : nullptr;
}

string locStringParams::shown(const entry& e, const char16_t* language) {
    switch (e.type) {
    case kind::number: return toText(e.number);
    case kind::localised: return e.localised ? e.localised->text(language) : string();
    case kind::text: break;
    }
    return e.text;
}

string fillPlaceholders(const string& text, const locStringParams& params, const char16_t* language) {
    if (params.empty() || text.find(u'[') == string::npos) return text;
    string out;
    out.reserve(text.size() + 32);
    for (size_t i = 0; i < text.size();) {
        if (text[i] == u'[') {
            size_t close = text.find(u']', i + 1);
            if (close != string::npos) {
                const std::u16string_view name(text.data() + i + 1, close - i - 1);
                const locStringParams::entry* value = nullptr;
                for (const auto& e : params.values()) {
                    if (std::u16string_view(e.name) == name) {
                        value = &e;
                        break;
                    }
                }
                if (value) {
                    out += locStringParams::shown(*value, language);
                    i = close + 1;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

string locString::text(const char16_t* language) const {
    return locMessage(locStringId(mId, mFile), mDefault, mParams, language);
}

exception::exception(const locString& message, const exception* inner)
    : mMessage(message), mpInner(inner ? inner->clone() : nullptr) {}

exception::~exception() {
    // A failure deep in a script leaves a long chain of inner exceptions. Destroyed link by link
    // through the destructors it would recurse once per link, so it is taken apart here, one
    // link at a time, as far as no one else shares it.
    std::shared_ptr<const exception> next = std::move(mpInner);
    while (next && next.use_count() == 1) {
        std::shared_ptr<const exception> after = std::move(const_cast<exception&>(*next).mpInner);
        next = std::move(after); // destroys the link, whose own chain is already taken
    }
}

unexpectedErrorException::unexpectedErrorException(const string& text, const exception* inner)
    : exception(locString(string(), text), inner) {}

outOfMemoryException::outOfMemoryException() : exception(locString(u"Msg_EOutOfMem", u"Out of memory")) {}

static locString fileMessage(const char16_t* id, const char16_t* text, const string& file) {
    locString s(id, text);
    s.params().set(u"File", file);
    return s;
}

fileNotFoundException::fileNotFoundException(const string& file, const exception* inner)
    : fileException(fileMessage(u"Msg_EFileNotFound", u"File [File] not found!", file), inner) {}

readFileException::readFileException(const string& file, const exception* inner)
    : fileException(fileMessage(u"Msg_EReadFile", u"Error reading file [File]", file), inner) {}

valueNestingException::valueNestingException(const string& action, const exception* inner)
    : exception(
          [&] {
              locString s(u"Msg_EValueNesting", u"Values nested too deeply to [Action]");
              s.params().set(u"Action", action);
              return s;
          }(),
          inner) {}

namespace {
std::mutex gAssertLock;
assertReporter gReporter;
} // namespace

assertReporter setAssertReporter(assertReporter reporter) {
    std::lock_guard guard(gAssertLock);
    std::swap(gReporter, reporter);
    return reporter;
}

void reportAssertion(const string& text) {
    assertReporter r;
    {
        std::lock_guard guard(gAssertLock);
        r = gReporter;
    }
    if (r) {
        r(text);
    } else {
        std::string line = "assertion: " + text.toUtf8() + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
}

} // namespace zt
