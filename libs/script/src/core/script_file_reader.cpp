// The script-file reader: splits a script file into its "scrdef" definitions (name, parameter
// texts, body, and where each line of the body came from), reads parameter declarations, and
// holds the scramble key of scrambled files.
#include "core/internal.h"

#include "ztscript.h"

#include <ztfile.h>
#include <ztsystem.h>

#include <memory>

namespace zt::script {

using core::kBlanks;

// 48 non-zero bytes; changing it makes every scrambled file unreadable.
const char* scrambleKey() {
    static const char key[] = "zT5cr1pt:K3y-0f#the^Scr4mbled~F1les!v1/Qx7Lm2Np8";
    static_assert(sizeof(key) == 49, "the scramble key has 48 bytes");
    return key;
}

namespace {
// The code page's characters of the bytes 0x80 to 0xFF, converted once when the first of them
// turns up: the reader looks at each byte of a file, and converting them one by one through the
// code page functions would dominate loading. (The lower half is ASCII in every ANSI code page,
// and a file of ASCII alone needs no conversion at all.)
struct upperHalf {
    char16_t wide[128];
    bool valid[128];
};

const upperHalf& upperHalfCharacters() {
    static const upperHalf table = [] {
        upperHalf t{};
        for (int b = 0; b < 128; ++b) {
            const char byte = static_cast<char>(0x80 + b);
            t.valid[b] = zt::MultiByteToWideChar(zt::CP_ACP, 0, &byte, 1, &t.wide[b], 1) == 1;
        }
        return t;
    }();
    return table;
}
} // namespace

// line := {byte} (CR LF | LF | CR | end)         (empty lines are skipped)
bool scriptFileReader::readLine(zt::string& line) {
    line.clear();
    const zt::binaryBuffer& buffer = bytes();
    if (buffer.empty()) return false;
    const std::uint8_t* data = buffer.data();
    const size_t size = buffer.logicalLength();
    const upperHalf* upper = nullptr;
    while (mPosition < size) {
        const std::uint8_t byte = data[mPosition++];
        char16_t ch = byte;
        if (byte >= 0x80) {
            if (!upper) upper = &upperHalfCharacters();
            if (!upper->valid[byte - 0x80]) throw false;
            ch = upper->wide[byte - 0x80];
        }
        if (ch == u'\r' || ch == u'\n') {
            // CR LF, LF and a lone CR each end one line.
            if (ch == u'\n' || mPosition >= size || data[mPosition] != '\n') ++mLineNumber;
            if (!line.empty()) return true;
            continue;
        }
        if (line.empty()) mLastLine = mLineNumber;
        line += ch;
    }
    return !line.empty();
}

bool scriptFileReader::readNextDefinition(zt::string& name, std::vector<zt::string>& parameterTexts,
                                          zt::string& body) {
    sourceMap unused;
    return readNextDefinition(name, parameterTexts, body, unused);
}

// definition := "scrdef " name '(' [parameter {',' parameter}] ')' body
//               ("scrdef " in any case at the start of a line; the body runs up to the next
//               such line, "//" starts a comment to the end of a line, and the lines are joined
//               without line breaks)
bool scriptFileReader::readNextDefinition(zt::string& name, std::vector<zt::string>& parameterTexts,
                                          zt::string& body, sourceMap& map) {
    zt::string text;
    bool open = false;
    size_t mark = mPosition;
    std::uint32_t markLine = mLineNumber;
    zt::string line;
    // Where each line joined into text starts in the file.
    sourceMap lines;
    auto definition = [&] {
        size_t bodyOffset = 0;
        if (!parseDefinitionAt(text, name, parameterTexts, body, bodyOffset)) return false;
        map = lines.shiftedBy(bodyOffset);
        return true;
    };
    while (readLine(line)) {
        const size_t length = line.size();
        line.deleteAll(u"\r\n").deleteLeading(kBlanks);
        const auto column = static_cast<std::uint32_t>(length - line.size() + 1);
        size_t comment = line.find(u"//");
        if (comment != zt::string::npos) line.erase(comment);
        if (line.size() >= 7 && line.substr(0, 7).lower() == u"scrdef ") {
            if (open) {
                mPosition = mark;
                mLineNumber = markLine;
                return definition();
            }
            open = true;
            text = line.substr(7);
            lines = sourceMap();
            lines.add(0, mLastLine, column + 7);
        } else if (open) {
            if (!line.empty()) lines.add(text.size(), mLastLine, column);
            text += line;
        }
        mark = mPosition;
        markLine = mLineNumber;
    }
    if (!text.empty()) return definition();
    return false;
}

bool scriptFileReader::parseDefinition(const zt::string& source, zt::string& name,
                                       std::vector<zt::string>& parameterTexts, zt::string& body) {
    size_t bodyOffset = 0;
    return parseDefinitionAt(source, name, parameterTexts, body, bodyOffset);
}

// definition text := name '(' [parameter {',' parameter}] ')' body   (no blank in name; commas
//                    inside string literals do not split parameters)
bool scriptFileReader::parseDefinitionAt(const zt::string& source, zt::string& name,
                                         std::vector<zt::string>& parameterTexts, zt::string& body,
                                         size_t& bodyOffset) {
    name.clear();
    parameterTexts.clear();
    body.clear();
    zt::string text = source;
    const size_t lead = source.find_first_not_of(kBlanks);
    text.trim(kBlanks);
    bodyOffset = (lead == zt::string::npos ? 0 : lead) + text.size();
    bool inName = true, inList = false, inQuote = false, escaped = false, newText = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (inName) {
            if (c == u' ') return false;
            if (c == u'(') {
                inName = false;
                inList = true;
            } else {
                name += c;
            }
            continue;
        }
        if (!inList) {
            if (body.empty()) bodyOffset = (lead == zt::string::npos ? 0 : lead) + i;
            body += c;
            continue;
        }
        if (c == u')' && !inQuote) {
            inList = false;
            newText = true;
            if (parameterTexts.size() == 1) {
                parameterTexts[0].trim(kBlanks);
                if (parameterTexts[0].empty()) parameterTexts.clear();
            }
        } else if (c == u',' && !inQuote) {
            newText = true;
        } else if (c == u'\\' && inQuote) {
            escaped = true;
        } else {
            if (c == u'"' && !escaped) inQuote = !inQuote;
            if (newText) {
                parameterTexts.emplace_back();
                newText = false;
            }
            parameterTexts.back() += c;
            escaped = false;
        }
    }
    return true;
}

scriptFileReader::scriptFileReader(const zt::file& f) : mFileName(f.name()) {}

scriptFileReader::scriptFileReader(const zt::binaryBuffer& buffer)
    : mBytes(std::make_shared<const zt::binaryBuffer>(buffer)) {}

const zt::binaryBuffer& scriptFileReader::bytes() const {
    static const zt::binaryBuffer none;
    return mBytes ? *mBytes : none;
}

void scriptFileReader::readInto(zt::configStructure& index) {
    try {
        if (!mBytes && !mFileName.empty()) {
            auto read = std::make_shared<zt::binaryBuffer>();
            if (!read->readFromFile(zt::file(mFileName))) throw zt::readFileException(mFileName);
            mBytes = std::move(read);
        }
        mPosition = 0;
        mLineNumber = 1;
        zt::string name, body;
        std::vector<zt::string> params;
        sourceMap lines;
        while (readNextDefinition(name, params, body, lines)) {
            for (size_t n = 0; n < params.size(); ++n)
                index.setValue(name, zt::string::format(u"parameter%d", static_cast<int>(n + 1)), params[n]);
            index.setValue(name, u"script", body);
            index.setValue(name, u"lines", lines.encode());
        }
        mBytes.reset();
    } catch (const zt::exception& e) {
        mBytes.reset();
        throw zt::readFileException(mFileName, &e);
    } catch (...) {
        mBytes.reset();
        throw zt::readFileException(mFileName);
    }
}

// parameter := "in" ['<' type '>'] name ['=' default]     (case-insensitive; default is an
//              argument text)
parameterDeclaration parseParameterDeclaration(const zt::string& text, int flags) {
    zt::string s = text.lower();
    s.deleteLeading(kBlanks);
    zt::string kind, typeText, rest, defaultText;
    size_t lt = s.find(u'<');
    if (lt != zt::string::npos) {
        kind = s.substr(0, lt);
        size_t gt = s.find(u'>', lt);
        if (gt == zt::string::npos) throw errParsingException(text);
        typeText = s.substr(lt + 1, gt - lt - 1);
        rest = s.substr(gt + 1);
    } else {
        size_t blank = s.find_first_of(kBlanks);
        if (blank != zt::string::npos) {
            kind = s.substr(0, blank);
            rest = s.substr(blank + 1);
        } else {
            kind = s;
            rest = s;
        }
    }
    size_t eq = rest.find(u'=');
    if (eq != zt::string::npos) {
        defaultText = rest.substr(eq + 1);
        rest.erase(eq);
    }
    kind.deleteAll(kBlanks);
    typeText.deleteAll(kBlanks);
    rest.deleteAll(kBlanks);
    if (kind != u"in") throw errParsingParamTypeException(kind);

    parameterDeclaration d;
    d.direction = 0;
    d.name = rest;
    try {
        d.type = parseScriptType(typeText);
    } catch (...) {
        throw errParsingDataTypeException(typeText);
    }
    defaultText.trim(kBlanks);
    if (!defaultText.empty()) {
        d.defaultValue.reset(valueProvider::createFrom(defaultText, flags));
        if (!d.defaultValue) throw errParsingDefaultOfParamException(defaultText, d.name);
    }
    return d;
}

genericValue& parameterValue(const parameterDeclaration& declaration, genericValue& value) {
    if (!value.isEmpty() || declaration.direction != 0) return value;
    if (!declaration.defaultValue) throw inParameterNotFoundException(declaration.name);
    scriptcontext empty;
    if (!declaration.defaultValue->getValue(empty, value))
        throw unexpectedErrorException(u"in-parameter " + declaration.name + u": error retrieving default-value!");
    return value;
}

} // namespace zt::script
