#include "ztexception.h"

#include <cstdio>
#include <mutex>

namespace zt {

void locStringParams::set(const string& name, const string& value) {
    for (auto& p : mValues) {
        if (p.first == name) {
            p.second = value;
            return;
        }
    }
    mValues.emplace_back(name, value);
}

void locStringParams::setNull(const string& name) { set(name, string()); }

const string* locStringParams::get(const string& name) const {
    for (const auto& p : mValues)
        if (p.first == name) return &p.second;
    return nullptr;
}

string fillPlaceholders(const string& text, const locStringParams& params) {
    string out;
    out.reserve(text.size() + 32);
    for (size_t i = 0; i < text.size();) {
        if (text[i] == u'[') {
            size_t close = text.find(u']', i + 1);
            if (close != string::npos) {
                string name = text.substr(i + 1, close - i - 1);
                if (const string* v = params.get(name)) {
                    out += *v;
                    i = close + 1;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

namespace {
std::mutex gCatalogueLock;
locString::catalogue gCatalogue;
} // namespace

void locString::setCatalogue(catalogue c) {
    std::lock_guard guard(gCatalogueLock);
    gCatalogue = std::move(c);
}

string locString::text() const {
    string base = mDefault;
    if (!mId.empty()) {
        std::lock_guard guard(gCatalogueLock);
        if (gCatalogue) {
            string translated;
            if (gCatalogue(mId, translated)) base = translated;
        }
    }
    return fillPlaceholders(base, mParams);
}

exception::exception(const locString& message, const exception* inner)
    : mMessage(message), mpInner(inner ? inner->clone() : nullptr) {}

exception::~exception() = default;

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
