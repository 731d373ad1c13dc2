// Shared pieces of the tool, and "ztscript check".
#include "tool.h"

#include <map>
#include <memory>
#include <ostream>

namespace ztscript_tool {

using zt::script::genericValue;

std::vector<zt::string> failureMessages(const std::exception_ptr& failure) {
    std::vector<zt::string> messages;
    auto add = [&](zt::string text) {
        text.deleteTrailing(u" \t");
        messages.push_back(std::move(text));
    };
    try {
        std::rethrow_exception(failure);
    } catch (const zt::exception& e) {
        for (const zt::exception* p = &e; p; p = p->inner()) add(p->text());
    } catch (bool) {
        add(kNotBuiltMessage);
    } catch (const zt::string& s) {
        add(s);
    } catch (const std::exception& e) {
        add(zt::string(u"internal error: ") + zt::string::fromUtf8(e.what()));
    } catch (...) {
        add(u"unknown failure");
    }
    return messages;
}

zt::string failurePosition(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const zt::exception& e) {
        if (const zt::script::sourcePosition* where = zt::script::innermostPosition(e)) return where->text();
    } catch (bool) {
        return zt::script::lastParseFailurePosition().text();
    } catch (...) {
    }
    return {};
}

zt::string resultText(const genericValue& result) {
    if (result.isEmpty()) return zt::string();
    zt::string text;
    if (!zt::script::valueToDisplayText(result, text)) return u"?";
    return text;
}

zt::string typedResultText(const genericValue& result) {
    if (result.isEmpty()) return u"void";
    return zt::script::scriptTypeNameOf(result) + u": " + resultText(result);
}

void write(std::ostream& out, const zt::string& text) { out << text.toUtf8(); }

bool readScriptFile(const std::string& path, zt::binaryBuffer& buffer, zt::string& error) {
    zt::file f(zt::string::fromUtf8(path));
    if (!f.exists() || !buffer.readFromFile(f)) {
        error = u"cannot read the file";
        return false;
    }
    if (f.extension().lower() == u"ztsscr") buffer.xxor(zt::script::scrambleKey());
    return true;
}

std::vector<zt::string> scriptLines(const zt::binaryBuffer& buffer) {
    std::vector<zt::string> lines;
    const zt::string text = zt::ansiToString(reinterpret_cast<const char*>(buffer.data()), buffer.logicalLength());
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

assertionCollector::assertionCollector() {
    mPrevious = zt::setAssertReporter([this](const zt::string& text) { mReports.push_back(text); });
}

assertionCollector::~assertionCollector() { zt::setAssertReporter(mPrevious); }

// ---------------------------------------------------------------------------------------------
// ztscript check

namespace {

// One line of a failure: the messages joined, assertion reports appended.
zt::string oneLine(const std::vector<zt::string>& messages, const std::vector<zt::string>& assertions) {
    zt::string s;
    for (size_t i = 0; i < messages.size(); ++i) {
        if (i) s += u"; caused by: ";
        // The assertion follows on the same line here, not above.
        s += messages[i] == kNotBuiltMessage && !assertions.empty() ? zt::string(u"the script could not be built")
                                                                      : messages[i];
    }
    for (const zt::string& a : assertions) s += u"; assertion: " + a;
    s.replace(u"\r\n", u" ");
    s.replace(u"\n", u" ");
    s.replace(u"\r", u" ");
    return s;
}

// Definition lines that the file reader cannot take: a blank in the function name ends the
// reading of the file silently, so every later definition would be missing.
void checkDefinitionLines(const std::vector<zt::string>& lines, const std::string& file, std::ostream& out,
                          int& failures, std::map<zt::string, int>& definitionCount) {
    for (size_t k = 0; k < lines.size(); ++k) {
        zt::string line = lines[k];
        line.deleteLeading(u" \t");
        size_t comment = line.find(u"//");
        if (comment != zt::string::npos) line.erase(comment);
        if (line.size() < 7 || line.substr(0, 7).lower() != u"scrdef ") continue;
        zt::string text = line.substr(7);
        text.trim(u" \t");
        size_t open = text.find(u'(');
        zt::string name = text.substr(0, open);
        if (name.find(u' ') != zt::string::npos) {
            out << file << ":" << (k + 1) << ": the function name \"";
            write(out, name);
            out << "\" contains a blank: this definition and every later one of the file are not read\n";
            ++failures;
            return;
        }
        ++definitionCount[name.lower()];
    }
}

} // namespace

int checkFiles(const std::vector<std::string>& files, std::ostream& out) {
    using namespace zt::script;
    int failures = 0;
    for (const std::string& file : files) {
        zt::binaryBuffer buffer;
        zt::string error;
        if (!readScriptFile(file, buffer, error)) {
            out << file << ": ";
            write(out, error);
            out << "\n";
            ++failures;
            continue;
        }
        const int failuresBefore = failures;

        std::map<zt::string, int> definitionCount;
        checkDefinitionLines(scriptLines(buffer), file, out, failures, definitionCount);

        zt::configStructure index;
        {
            assertionCollector assertions;
            try {
                scriptFileReader(buffer).readInto(index);
            } catch (...) {
                out << file << ": " << oneLine(failureMessages(std::current_exception()), assertions.reports()).toUtf8()
                    << "\n";
                ++failures;
                continue;
            }
        }

        const std::vector<zt::string> sections = index.sections();
        if (sections.empty() && failures == failuresBefore) {
            out << file << ": no function definitions found\n";
            ++failures;
        }
        for (const zt::string& name : sections) {
            // where: "FILE:LINE:COLUMN" of the failing text, or empty for the file as a whole
            auto report = [&](const zt::string& message, const zt::string& where = {}) {
                out << (where.empty() ? file : where.toUtf8()) << ": function ";
                write(out, name);
                out << ": ";
                write(out, message);
                out << "\n";
                ++failures;
            };
            if (definitionCount[name.lower()] > 1)
                report(u"defined more than once; the later definition replaces the earlier one");

            zt::string body, lines;
            index.getValue(name, u"script", body);
            index.getValue(name, u"lines", lines);
            {
                assertionCollector assertions;
                const sourceMap map = sourceMap::decode(zt::string::fromUtf8(file), lines);
                try {
                    const sourceScope positions(map);
                    clonePtr<statement> st(statementParser::instance()->createStatementFrom(body, 0));
                    if (!st) report(u"function " + name + u" has no statement");
                } catch (...) {
                    report(oneLine(failureMessages(std::current_exception()), assertions.reports()),
                           failurePosition(std::current_exception()));
                }
            }
            for (int n = 1;; ++n) {
                zt::string declaration;
                if (!index.getValue(name, zt::string::format(u"parameter%d", n), declaration)) break;
                assertionCollector assertions;
                try {
                    parseParameterDeclaration(declaration, 0);
                } catch (...) {
                    report(zt::string::format(u"parameter %d: ", n) +
                           oneLine(failureMessages(std::current_exception()), assertions.reports()));
                }
            }
        }
        if (failures == failuresBefore)
            out << file << ": ok (" << sections.size() << (sections.size() == 1 ? " function" : " functions") << ")\n";
    }
    return failures == 0 ? exitOk : exitFailed;
}

} // namespace ztscript_tool
