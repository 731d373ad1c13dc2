// "ztscript test": runs the test comments of script files in this process.
#include "demohost.h"
#include "testcomment.h"
#include "tool.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <random>

namespace ztscript_tool {

namespace {

namespace fs = std::filesystem;
using zt::script::genericValue;

struct callOutcome {
    bool failed = false;
    std::vector<zt::string> messages; // failed: the error chain
    std::vector<zt::string> assertions;
    genericValue result;
};

// How the tests of one file address it: base path and the file field of the code call.
struct fileAddress {
    zt::string basePath;
    zt::string file;
    zt::string testDir; // global context variable "testdir" of every call
    fs::path folder;    // the test file's folder: JSON files of host objects are found there
};

// A fresh, empty folder for the tests of one file, removed with everything in it afterwards.
class scratchFolder {
public:
    scratchFolder() {
        std::error_code ec;
        const fs::path root = fs::temp_directory_path(ec);
        for (unsigned attempt = 0; attempt < 100 && mPath.empty(); ++attempt) {
            fs::path candidate = root / ("ztscript-test-" + std::to_string(std::random_device{}()));
            if (fs::create_directory(candidate, ec)) mPath = candidate;
        }
    }
    ~scratchFolder() {
        std::error_code ec;
        if (!mPath.empty()) fs::remove_all(mPath, ec);
    }
    scratchFolder(const scratchFolder&) = delete;
    scratchFolder& operator=(const scratchFolder&) = delete;
    // The folder with the platform's separator at the end, or empty when none could be made.
    zt::string text() const { return mPath.empty() ? zt::string() : zt::string((mPath / "").u16string()); }

private:
    fs::path mPath;
};

callOutcome runCall(const fileAddress& address, const testCase& tc) {
    using namespace zt::script;
    callOutcome outcome;
    // Every call gets fresh host objects: what one test changes, the next does not see.
    demoHost host;
    std::vector<genericValue> args;
    args.reserve(tc.args.size());
    for (const testArgument& a : tc.args) {
        if (a.isNull) {
            args.emplace_back();
        } else if (a.isObject) {
            try {
                args.push_back(host.load((address.folder / fs::path(a.text.toUtf8())).string(), a.text.toUtf8()));
            } catch (const demoError& e) {
                outcome.failed = true;
                outcome.messages.push_back(u"cannot load the host object " + zt::string::fromUtf8(e.what()));
                return outcome;
            }
        } else {
            args.push_back(genericValue::of(a.text));
        }
    }

    assertionCollector assertions;
    try {
        scriptcontext context;
        context.setGlobalContextVariable(scString::createFrom(u"testdir"), genericValue::of(address.testDir));
        if (!codeManager::instance()->executeFunction(address.basePath, u"script$" + address.file + u"$" + tc.function,
                                                      context, args, outcome.result)) {
            outcome.failed = true;
            outcome.messages.push_back(u"the call names no script function");
        }
    } catch (...) {
        outcome.failed = true;
        outcome.messages = failureMessages(std::current_exception());
    }
    outcome.assertions = std::move(assertions.reports());
    return outcome;
}

zt::string joined(const std::vector<zt::string>& lines) {
    zt::string s;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) s += u"\n";
        s += lines[i];
    }
    return s;
}

// Appends the assertion reports and the error chain of a failed test, indented.
void writeDetails(std::ostream& out, const callOutcome& outcome) {
    for (const zt::string& a : outcome.assertions) {
        out << "    assertion: ";
        write(out, a);
        out << "\n";
    }
    if (!outcome.failed) return;
    for (size_t i = 0; i < outcome.messages.size(); ++i) {
        out << (i == 0 ? "    error: " : "    caused by: ");
        write(out, outcome.messages[i]);
        out << "\n";
    }
}

// Whether actual is the file name expected, written with "/": in the platform's form, with the
// platform's separator (on Windows also with the current drive in front of a name that starts
// at the root).
bool isPlatformName(const zt::string& actual, const zt::string& expected) {
    zt::string name = expected;
    const auto separator = static_cast<char16_t>(fs::path::preferred_separator);
    std::replace(name.begin(), name.end(), u'/', separator);
    if (actual == name) return true;
    const zt::string drive(fs::current_path().root_name().u16string());
    return !drive.empty() && !name.empty() && name[0] == separator && actual == drive + name;
}

// Checks the outcome against the expectation; on a mismatch, what to report after "FAIL ...: ".
bool meetsExpectation(const testCase& tc, const callOutcome& outcome, zt::string& mismatch) {
    switch (tc.kind) {
    case expectKind::error: {
        const zt::string expected = u"expected an error containing " + quoteText(tc.expected);
        if (!outcome.failed) {
            mismatch = expected + u", got " + typedResultText(outcome.result);
            return false;
        }
        // The fragment may come from any message of the chain or from an assertion report.
        zt::string all = joined(outcome.messages);
        for (const zt::string& a : outcome.assertions) all += u"\nassertion: " + a;
        if (all.find(tc.expected) != zt::string::npos) return true;
        mismatch = expected + u", got another error";
        return false;
    }
    case expectKind::text:
    case expectKind::path: {
        const zt::string expected = u"expected " + quoteText(tc.expected);
        if (outcome.failed) {
            mismatch = expected + u", got an error";
            return false;
        }
        const zt::string actual = resultText(outcome.result);
        if (tc.kind == expectKind::path ? isPlatformName(actual, tc.expected) : actual == tc.expected) return true;
        mismatch = expected + u", got " + quoteText(actual);
        return false;
    }
    case expectKind::typed: {
        const zt::string expected =
            tc.type == u"void" ? zt::string(u"expected void") : u"expected " + tc.type + u": " + quoteText(tc.expected);
        if (outcome.failed) {
            mismatch = expected + u", got an error";
            return false;
        }
        if (outcome.result.isEmpty()) {
            if (tc.type.equalsNoCase(u"void")) return true;
            mismatch = expected + u", got void";
            return false;
        }
        const zt::string type = zt::script::scriptTypeNameOf(outcome.result);
        const zt::string text = resultText(outcome.result);
        if (type.equalsNoCase(tc.type) && text == tc.expected) return true;
        mismatch = expected + u", got " + type + u": " + quoteText(text);
        return false;
    }
    }
    return false;
}

} // namespace

int runTests(const std::vector<std::string>& files, std::ostream& out) {
    installMessageBoxHandler(false); // tests never wait for a user: boxes take their first button
    int passed = 0;
    int failed = 0;
    // Cache entries are keyed by the file name as called: tests of two files of the same name
    // in different folders must not share them.
    std::map<zt::string, fs::path> folderOfName;

    for (const std::string& file : files) {
        auto fileFailure = [&](const std::string& message) {
            out << "FAIL " << file << ": " << message << "\n";
            ++failed;
        };

        const zt::string name = zt::string::fromUtf8(file);
        const zt::fsEntryName entryName(name);
        const zt::string extension = entryName.extension().lower();
        if (extension != u"ztscr" && extension != u"ztsscr") {
            fileFailure("not a script file (.ztscr or .ztsscr)");
            continue;
        }
        zt::binaryBuffer buffer;
        zt::string error;
        if (!readScriptFile(file, buffer, error)) {
            fileFailure(error.toUtf8());
            continue;
        }

        // Base path = the file's folder, code call "script$<name>$<function>"; the engine finds
        // the file there as it finds any other.
        std::error_code ec;
        const fs::path absolute = fs::absolute(fs::path(file), ec).lexically_normal();
        const zt::string baseName = entryName.baseName();
        if (baseName.find(u'$') != zt::string::npos) {
            fileFailure("the file name may not contain \"$\"");
            continue;
        }
        fileAddress address;
        address.folder = absolute.parent_path();
        auto [it, inserted] = folderOfName.emplace(baseName.lower(), absolute.parent_path());
        if (inserted || it->second == absolute.parent_path()) {
            address.basePath = zt::string::fromUtf8(absolute.parent_path().string()) + u"/";
            address.file = baseName;
        } else {
            // Another folder's file of this name ran before: name this one by its full path.
            address.basePath = u"/";
            address.file = zt::string::fromUtf8((absolute.parent_path().relative_path() / absolute.stem()).string());
        }

        const scratchFolder scratch;
        address.testDir = scratch.text();
        const std::vector<zt::string> lines = scriptLines(buffer);
        int testsInFile = 0;
        for (size_t k = 0; k < lines.size(); ++k) {
            testCase tc;
            zt::string why;
            const std::string where = file + ":" + std::to_string(k + 1);
            switch (parseTestComment(lines[k], tc, why)) {
            case commentKind::none: continue;
            case commentKind::malformed:
                out << "FAIL " << where << ": malformed test comment: " << why.toUtf8() << "\n";
                ++failed;
                ++testsInFile;
                continue;
            case commentKind::test: break;
            }
            ++testsInFile;
            tc.line = static_cast<int>(k + 1);
            const callOutcome outcome = runCall(address, tc);
            zt::string mismatch;
            if (meetsExpectation(tc, outcome, mismatch)) {
                out << "PASS " << where << " " << describeCall(tc).toUtf8() << "\n";
                ++passed;
            } else {
                out << "FAIL " << where << " " << describeCall(tc).toUtf8() << ": " << mismatch.toUtf8() << "\n";
                writeDetails(out, outcome);
                ++failed;
            }
        }
        if (testsInFile == 0) fileFailure("no tests found");
    }
    out << passed << " passed, " << failed << " failed\n";
    return failed == 0 && passed > 0 ? exitOk : exitFailed;
}

} // namespace ztscript_tool
