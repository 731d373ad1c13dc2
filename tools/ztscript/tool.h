// Shared pieces of the ztscript command-line tool.
#pragma once

#include <ztscript.h>
#include <ztutils.h>

#include <exception>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace ztscript_tool {

// Exit codes of every command.
enum exitCode : int { exitOk = 0, exitFailed = 1, exitUsage = 2 };

// Message of the boolean false that the engine throws after an assertion report.
inline constexpr const char16_t* kNotBuiltMessage = u"the script could not be built (see the assertion above)";

// The messages of a failure, outermost first: a zt::exception gives its text and one line per
// inner exception; trailing blanks are trimmed.
std::vector<zt::string> failureMessages(const std::exception_ptr& failure);

// "file:line:column" of the innermost statement of a failure whose place is known, else "".
zt::string failurePosition(const std::exception_ptr& failure);

// The text form of a result as "run" prints it; the empty result has the empty text. Values
// without a text form show "?".
zt::string resultText(const zt::script::genericValue& result);
// "TYPE: TEXT", or "void" for the empty result (run --show-type).
zt::string typedResultText(const zt::script::genericValue& result);

void write(std::ostream& out, const zt::string& text);

// Reads a script file; ".ztsscr" files are unscrambled. False with error text when unreadable.
bool readScriptFile(const std::string& path, zt::binaryBuffer& buffer, zt::string& error);
// The file's lines as Windows-1252 text, without line ends; line k is element k - 1. A CR LF
// pair ends one line.
std::vector<zt::string> scriptLines(const zt::binaryBuffer& buffer);

// Collects assertion reports while alive and restores the previous reporter afterwards.
class assertionCollector {
public:
    assertionCollector();
    ~assertionCollector();
    assertionCollector(const assertionCollector&) = delete;
    assertionCollector& operator=(const assertionCollector&) = delete;
    std::vector<zt::string>& reports() { return mReports; }

private:
    std::vector<zt::string> mReports;
    zt::assertReporter mPrevious;
};

// The commands.
int checkFiles(const std::vector<std::string>& files, std::ostream& out);
int runTests(const std::vector<std::string>& files, std::ostream& out);

// Installs the tool's message-box handler: the preset answer, else (when interactive and on a
// terminal) a question, else the box printed to stderr and answered with its first button.
void installMessageBoxHandler(bool interactive);

} // namespace ztscript_tool
