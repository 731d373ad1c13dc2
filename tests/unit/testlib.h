// A statement library used only by the unit tests, so the core can be tested on its own.
//   tcap<types>(args...)   records keyword, types and argument texts; yields the keyword
//   tret(value)            sets the return value
//   techo(value)           yields value
//   tfail(text)            fails with the detail text
//   tthrow(text)           throws the text as a zt::string
//   tset(name, value)      sets a variable, creating it in the current block when needed
//   tsig(name)             sets the script signal name
//   tcount()               counts executions (testlib::executions)
//   thost(value)           calls testlib::hostHook: the host acting while the script runs
#pragma once

#include <ztscript.h>
#include <ztutils.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace testlib {

using namespace zt::script;

extern std::atomic<int> executions;
extern std::function<void(codecontext&, const genericValue&)> hostHook;

struct capture : scriptbasestatement {
    zt::string keyword;
    std::vector<zt::string> types;
    std::vector<zt::string> args;
    statement* clone() const override { return new capture(*this); }
    void execute(codecontext&, genericValue& result) const override { result.set(keyword); }
};

// Registers the library once (idempotent).
void install();

// Collects assertion reports while alive.
struct assertCollector {
    assertCollector();
    ~assertCollector();
    std::vector<std::string> reports;
    zt::assertReporter previous;
};

// UTF-8 text of an exception chain, one message per line.
std::string chainText(const zt::exception& e);

// Whether text holds part.
inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Parses text, which must give a statement, and runs it in context with result as the value to
// fill (statements may keep the type it holds, or write through the reference it holds).
void runInto(const zt::string& text, codecontext& context, zt::genericValue& result);

// Parses text, which must give a statement, runs it in context and returns its result.
zt::genericValue run(const zt::string& text, codecontext& context);

// The type name and text of a value, as "int: 5" ("void: " for no value).
std::string shown(const zt::genericValue& value);

// The messages of the error that running text in context raises, one per line; "" when it runs
// through.
std::string runError(const zt::string& text, codecontext& context);

// Runs script$file$function found below folder (the base path) in context.
zt::genericValue callFunction(const std::string& folder, const std::string& file, const std::string& function,
                              scriptcontext& context, std::vector<zt::genericValue> args = {});

// A file-system path from UTF-8 text (Windows reads narrow paths in its ANSI code page).
std::filesystem::path pathOf(const std::string& utf8);

// The bytes of a file ("" when it cannot be read).
std::string readFile(const std::filesystem::path& path);

// A name written with "/" between folders, in the platform's form ("\" on Windows).
std::string native(std::string name);

// A unique temporary folder removed at the end of the test.
struct tempDir {
    tempDir();
    ~tempDir();
    std::string path; // ends with the platform's separator
    void write(const std::string& name, const std::string& content) const;
};

// A program run to its end, with what it wrote.
struct programRun {
    int exitCode = -1; // -1 also when it could not be started
    std::string out;
    std::string err;
};

// Runs program (a path) in folder with the arguments, each passed as one argument whatever it
// holds; standard input is empty, standard output and error are captured.
programRun runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& folder);

// A program built beside the unit tests ("ztscript", "zthelper"), with the platform's suffix;
// empty when it is not there.
std::string builtProgram(const std::string& name);

// Sets the modification time of a file or a folder (Windows sets folders' only this way).
void setModificationTime(const std::string& path, std::filesystem::file_time_type time);

// Whether this process has a console (Windows) or terminal session that the programs it starts
// share unless they are detached; always true on Linux.
bool hasConsole();

// Sets (or, with a null value, removes) an environment variable of this process.
void setEnv(const char* name, const char* value);

} // namespace testlib

namespace zt {
// Readable zt::string values in test failure messages.
inline void PrintTo(const string& s, std::ostream* os) { *os << '"' << s.toUtf8() << '"'; }
} // namespace zt
