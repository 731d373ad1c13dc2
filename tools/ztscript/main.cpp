// ztscript: runs, checks, scrambles and tests script files from the command line.
#include "answer.h"
#include "demohost.h"
#include "tool.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>

#include <ztlocal.h>
#include <ztsystem.h>

namespace {

using namespace ztscript_tool;
using zt::script::genericValue;

// A usage error found after the command line was parsed.
struct usageError {
    std::string message;
};

struct runOptions {
    std::string base;
    bool showType = false;
    std::string answer;
    bool trace = false;
    bool dumpObjects = false;
    bool save = false;
    std::uint64_t maxSteps = 0;
    std::uint64_t maxMemory = 0;
    double timeout = 0;
    std::uint64_t checkInterval = 0;
    std::string script;
    std::string function;
    std::vector<std::string> args;
};

// Localisation options of run and test.
struct localOptions {
    std::string strings;
    std::string lang;
};

void applyLocalOptions(const localOptions& o) {
    if (!o.strings.empty()) zt::setCatalogueFolder(zt::string::fromUtf8(o.strings));
    if (!o.lang.empty()) zt::setLanguage(zt::string::fromUtf8(o.lang));
}

void addLocalOptions(CLI::App* command, localOptions& o) {
    command->add_option("--strings", o.strings, "Folder of the message catalogues (\"<catalogue>.<language>.txt\")");
    command->add_option("--lang", o.lang, "Language of the messages (\"de\"; default: from the environment)");
}

// Command-line text -> argument value. "@FILE" passes the host object of a JSON file (relative
// to the current folder), "@@..." is a literal "@...".
genericValue argumentValue(const std::string& arg, demoHost& host) {
    if (arg.rfind("@@", 0) == 0) return genericValue::of(zt::string::fromUtf8(arg.substr(1)));
    if (arg.rfind("@", 0) == 0) return host.load(arg.substr(1));
    return genericValue::of(zt::string::fromUtf8(arg));
}

// The error chain, outermost first; when the failing statement's place is known, a first line
// "FILE:LINE:COLUMN: ROOT CAUSE" points at it.
void printFailure(const std::exception_ptr& failure) {
    const std::vector<zt::string> messages = failureMessages(failure);
    const zt::string where = failurePosition(failure);
    if (!where.empty() && !messages.empty()) {
        write(std::cerr, where + u": " + messages.back());
        std::cerr << "\n";
    }
    for (size_t i = 0; i < messages.size(); ++i) {
        std::cerr << (i == 0 ? "error: " : "  caused by: ");
        write(std::cerr, messages[i]);
        std::cerr << "\n";
    }
}

// --max-steps, --max-memory and --timeout as the limits of the call.
zt::script::executionLimits limitsOf(const runOptions& o) {
    zt::script::executionLimits limits;
    limits.maxSteps = o.maxSteps;
    limits.maxMemory = o.maxMemory;
    if (o.timeout > 0)
        limits.deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(o.timeout));
    return limits;
}

int runCommand(const runOptions& o, const localOptions& local) {
    if (!o.answer.empty()) {
        messageAnswer answer;
        if (!parseAnswer(o.answer, answer))
            throw usageError{"--answer takes ok, cancel, yes, no or retry, not \"" + o.answer + "\""};
        presetAnswer() = answer;
    }
    if (o.script.find('$') != std::string::npos || o.function.find('$') != std::string::npos)
        throw usageError{"script and function names may not contain \"$\""};
    // Declared before the arguments, so that it outlives the references they hold.
    demoHost host;
    host.setMessageStream(&std::cerr);
    std::vector<genericValue> args;
    args.reserve(o.args.size());
    for (const std::string& a : o.args) {
        try {
            args.push_back(argumentValue(a, host));
        } catch (const demoError& e) {
            std::cerr << "error: cannot load the host object " << e.what() << "\n";
            return exitFailed;
        }
    }

    applyLocalOptions(local);
    if (o.checkInterval > 0)
        zt::script::codeManager::instance()->setFileCheckInterval(std::chrono::milliseconds(o.checkInterval));
    if (o.trace) zt::logManager::setLevel(zt::logLevel::trace);
    installMessageBoxHandler(true);
    zt::setAssertReporter([](const zt::string& text) {
        std::cerr << "assertion: ";
        write(std::cerr, text);
        std::cerr << std::endl;
    });

    // The objects as the script left them, after the result (or the error).
    auto dumpObjects = [&] {
        if (!o.dumpObjects) return;
        std::cout << demoHost::format(host.dump()) << std::flush;
    };
    genericValue result;
    try {
        zt::script::scriptcontext context;
        context.setLimits(limitsOf(o));
        const zt::string call =
            u"script$" + zt::string::fromUtf8(o.script) + u"$" + zt::string::fromUtf8(o.function);
        if (!zt::script::codeManager::instance()->executeFunction(zt::string::fromUtf8(o.base), call, context, args,
                                                                   result)) {
            std::cerr << "error: the call names no script function\n";
            return exitFailed;
        }
    } catch (...) {
        std::cout.flush();
        printFailure(std::current_exception());
        dumpObjects();
        return exitFailed;
    }
    if (o.showType) {
        write(std::cout, typedResultText(result));
        std::cout << "\n";
    } else if (!result.isEmpty()) {
        write(std::cout, resultText(result));
        std::cout << "\n";
    }
    dumpObjects();
    if (o.save) {
        try {
            host.save();
        } catch (const demoError& e) {
            std::cout.flush();
            std::cerr << "error: cannot save the host object " << e.what() << "\n";
            return exitFailed;
        }
    }
    return exitOk;
}

int scrambleCommand(const std::string& in, const std::string& out) {
    zt::binaryBuffer buffer;
    zt::file source(zt::string::fromUtf8(in));
    if (!source.exists() || !buffer.readFromFile(source)) {
        std::cerr << "error: cannot read " << in << "\n";
        return exitFailed;
    }
    buffer.xxor(zt::script::scrambleKey());
    if (!buffer.writeToFile(zt::file(zt::string::fromUtf8(out)))) {
        std::cerr << "error: cannot write " << out << "\n";
        return exitFailed;
    }
    return exitOk;
}

} // namespace

int main(int argc, char** argv) {
    zt::useUtf8Output();
    CLI::App app{"ztscript: run, check, scramble and test ztScript files"};
    // "/path" is a file name here, never an option, on every platform.
    app.allow_windows_style_options(false);
    // The engine the tool runs with, which may be newer than the headers it was built against.
    app.set_version_flag("--version", std::string("ztscript ") + zt::script::version().text);
    app.require_subcommand(1);

    runOptions run;
    CLI::App* runCmd = app.add_subcommand("run", "Run one function of a script file and print its result");
    runCmd->add_option("--base", run.base, "Folder in which the script file is searched (default: none)");
    runCmd->add_flag("--show-type", run.showType, "Print the result as \"TYPE: TEXT\" (\"void\" for no result)");
    runCmd->add_option("--answer", run.answer, "Answer of message boxes: ok, cancel, yes, no or retry");
    runCmd->add_flag("--trace", run.trace, "Log every executed statement to stderr");
    runCmd->add_flag("--dump-objects", run.dumpObjects,
                     "Print the host objects of \"@FILE\" arguments as JSON after the result");
    runCmd->add_flag("--save", run.save,
                     "Write the fields of the host objects back to their JSON files when the script succeeded");
    runCmd->add_option("--max-steps", run.maxSteps, "Stop the call after this many executed statements (0: no limit)");
    runCmd->add_option("--max-memory", run.maxMemory,
                       "Stop the call when the heap has grown by more than this many bytes (0: no limit)");
    runCmd->add_option("--timeout", run.timeout, "Stop the call after this many seconds (0: no limit)")
        ->check(CLI::NonNegativeNumber);
    runCmd->add_option("--file-check-interval", run.checkInterval,
                       "Milliseconds for which a script file found on disk is not looked at again (default 0: "
                       "every call, callfunction included, looks)");
    localOptions runLocal;
    addLocalOptions(runCmd, runLocal);
    runCmd->add_option("script", run.script, "Script file: name without extension, or a path")->required();
    runCmd->add_option("function", run.function, "Function to call")->required();
    runCmd->add_option("args", run.args,
                       "Arguments, passed as texts; \"@FILE\" passes the host object of a JSON file, \"@@x\" "
                       "passes \"@x\" (use -- before arguments that start with \"-\")");
    runCmd->footer("Exit status: 0 success, 1 the script failed, 2 usage error.");

    std::vector<std::string> checkFilesList;
    CLI::App* checkCmd = app.add_subcommand("check", "Parse every function of script files");
    checkCmd->add_option("files", checkFilesList, "Script files (.ztscr or .ztsscr)")->required();

    std::string scrambleIn, scrambleOut;
    CLI::App* scrambleCmd = app.add_subcommand("scramble", "Write a scrambled copy (.ztsscr) of a script file");
    scrambleCmd->add_option("in", scrambleIn, "Plain script file")->required();
    scrambleCmd->add_option("out", scrambleOut, "Scrambled file to write")->required();
    std::string unscrambleIn, unscrambleOut;
    CLI::App* unscrambleCmd = app.add_subcommand("unscramble", "Write a plain copy of a scrambled script file");
    unscrambleCmd->add_option("in", unscrambleIn, "Scrambled script file")->required();
    unscrambleCmd->add_option("out", unscrambleOut, "Plain file to write")->required();

    std::vector<std::string> testFilesList;
    CLI::App* testCmd = app.add_subcommand("test", "Run the test comments of script files");
    testCmd->add_option("files", testFilesList, "Script files with \"// test\" comments")->required();
    localOptions testLocal;
    addLocalOptions(testCmd, testLocal);

    try {
        std::vector<std::string> arguments = zt::commandLineArguments(argc, argv);
        // CLI11 takes the arguments in reverse order, without the program's name.
        std::reverse(arguments.begin(), arguments.end());
        arguments.pop_back();
        app.parse(arguments);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? exitOk : exitUsage;
    }

    try {
        if (runCmd->parsed()) return runCommand(run, runLocal);
        if (checkCmd->parsed()) return checkFiles(checkFilesList, std::cout);
        if (scrambleCmd->parsed()) return scrambleCommand(scrambleIn, scrambleOut);
        if (unscrambleCmd->parsed()) return scrambleCommand(unscrambleIn, unscrambleOut);
        if (testCmd->parsed()) {
            applyLocalOptions(testLocal);
            return runTests(testFilesList, std::cout);
        }
    } catch (const usageError& e) {
        std::cerr << "usage error: " << e.message << "\n";
        return exitUsage;
    }
    return exitUsage;
}
