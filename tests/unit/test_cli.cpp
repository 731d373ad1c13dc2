// The command-line tool: the test-comment syntax, and the tool itself run as a process.
#include "../../tools/ztscript/testcomment.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

using namespace ztscript_tool;
namespace fs = std::filesystem;

commentKind parse(const char* line, testCase& tc, std::string* error = nullptr) {
    zt::string why;
    commentKind k = parseTestComment(zt::string::fromUtf8(line), tc, why);
    if (error) *error = why.toUtf8();
    return k;
}

// ---------------------------------------------------------------------------------------------
// Test comments

// What the runner reads from test comments is stated by tests/scripts/core/runner.ztscr; here
// are the parts a script file cannot show: the quoted form of reports and malformed comments.
TEST(TestComment, QuotedFormOfReportsReadsBack) {
    // quoteText is what the reports show; reading it back gives the text.
    const zt::string odd = u"a\"\\\n\t\r z";
    zt::string back, error;
    size_t pos = 0;
    ASSERT_TRUE(readQuoted(quoteText(odd), pos, back, error));
    EXPECT_EQ(back, odd);
    EXPECT_EQ(pos, quoteText(odd).size());
}

TEST(TestComment, OrdinaryCommentsAreNotTests) {
    testCase tc;
    for (const char* line : {"x // test f() -> y", "scrdef f()", "", "/ test f() -> x"}) {
        EXPECT_EQ(parse(line, tc), commentKind::none) << line;
    }
}

TEST(TestComment, MalformedTestCommentsAreReported) {
    testCase tc;
    std::string error;
    struct {
        const char* line;
        const char* reason;
    } cases[] = {
        {"// test f(\"a\" -> x", "\",\" or \")\" expected"},
        {"// test f(a) -> x", "quoted text or null"},
        {"// test f(\"a) -> x", "no closing quotation mark"},
        {"// test f(\"a\\q\") -> x", "unknown escape \\q"},
        {"// test f() = x", "\"->\", \"=>\", \"!>\" or \"/>\" expected"},
        {"// test f() => 5", "TYPE: TEXT"},
        {"// test f() => : 5", "type name is missing"},
        {"// test a$b() -> x", "may not contain \"$\""},
        {"// test f(\"a\",) -> x", "quoted text or null"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.line, tc, &error), commentKind::malformed) << c.line;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.line << " gave: " << error;
    }
}

TEST(TestComment, DescribeCallShowsTheArguments) {
    testCase tc;
    ASSERT_EQ(parse(R"(// test f("a\"b", null) -> x)", tc), commentKind::test);
    EXPECT_EQ(describeCall(tc), u"f(\"a\\\"b\", null)");
}

// ---------------------------------------------------------------------------------------------
// The tool as a process

using toolResult = testlib::programRun;

// One run of the tool: its arguments and what it must give.
struct toolCase {
    std::vector<std::string> args;
    int exitCode;
    const char* out = nullptr; // the whole standard output; nullptr: not checked
    const char* err = nullptr; // a part of the error output; nullptr: not checked
};

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        tool = testlib::builtProgram("ztscript");
        if (tool.empty()) GTEST_SKIP() << "the ztscript tool is not built beside the unit tests";
    }

    // Runs the tool in the temporary folder.
    toolResult run(const std::vector<std::string>& args) { return testlib::runProgram(tool, args, dir.path); }

    void expectRuns(std::initializer_list<toolCase> cases) {
        for (const toolCase& c : cases) {
            std::string call;
            for (const std::string& a : c.args) call += " " + a;
            SCOPED_TRACE(call);
            const toolResult r = run(c.args);
            EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
            if (c.out) {
                EXPECT_EQ(r.out, c.out);
            }
            if (c.err) {
                EXPECT_TRUE(testlib::contains(r.err, c.err)) << r.err;
            }
        }
    }

    std::string tool;
    testlib::tempDir dir;
};

const char* kScript = "scrdef greet(in<string> name = \"World\")\n"
                      "   return(add<string>(\"Hello, \", name))\n"
                      "scrdef sum(in<int> a, in<int> b)\n"
                      "   return(add<int>(a, b))\n"
                      "scrdef nothing()\n"
                      "   if(\"0\", return(\"never\"))\n"
                      "scrdef fail(in<string> text)\n"
                      "   throwerror(text)\n";

// Script names, arguments and results beyond ASCII reach the engine and come back unchanged
// (on Windows the tool reads its UTF-16 command line and writes UTF-8).
TEST_F(Tool, RunPrintsTheResult) {
    dir.write("s.ztscr", kScript);
    dir.write("grüße.ztscr", kScript);
    expectRuns({
        {{"run", "Grüße", "greet", "Zoë € 😀"}, 0, "Hello, Zoë € 😀\n"},
        {{"run", "grüße", "fail", "Größe"}, 1, nullptr, "caused by: Größe"},
        {{"run", "s", "greet", "you"}, 0, "Hello, you\n"},
        {{"run", "--show-type", "s.ztscr", "sum", "-2", "9"}, 0, "int: 7\n"},
        // no result: nothing printed, "void" with --show-type
        {{"run", "s", "nothing"}, 0, ""},
        {{"run", "--show-type", "s", "nothing"}, 0, "void\n"},
        // "@@" passes a literal "@"; the file is found through --base from another folder
        {{"run", "--base", dir.path, "S", "GREET", "@@home"}, 0, "Hello, @home\n"},
    });
    EXPECT_EQ(run({"run", "s", "greet", "you"}).err, "");
}

TEST_F(Tool, RunReportsTheErrorChain) {
    dir.write("s.ztscr", kScript);
    toolResult r = run({"run", "s", "fail", "Disk full"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    // The failing statement's place first, then the chain.
    EXPECT_EQ(r.err, testlib::native("./s.ztscr") + ":8:4: Disk full\n"
                     "error: Error executing script \"fail\"\n"
                     "  caused by: Error executing script \"throwerror(text)\"\n"
                     "  caused by: Disk full\n");

    // Every place the file was looked for, the current folder last.
    r = run({"run", "missing", "f"});
    EXPECT_EQ(r.err.rfind("error: File missing not found! Looked for: missing, ", 0), 0u) << r.err;
    EXPECT_TRUE(testlib::contains(r.err, ", ./missing.ztscr, ./missing.ztsscr\n")) << r.err;
    EXPECT_EQ(r.exitCode, 1);

    // A file named exactly as the call's file field is found before s2.ztscr (the search order
    // stays); the error names the file that was read, by its full name.
    dir.write("s2", "\x7f" "ELF not a script");
    dir.write("s2.ztscr", "scrdef f()\n  return(\"1\")\n");
    const std::string s2 = "error: Function \"f\" not found in file \"" + dir.path + "s2\"";
    expectRuns({
        {{"run", "s", "nosuchfunction"}, 1, nullptr, "error: Function \"nosuchfunction\" not found in file"},
        {{"run", "s2", "f"}, 1, nullptr, s2.c_str()},
    });

    // a statement factory that rejects its arguments: the assertion, then the error
    dir.write("bad.ztscr", "scrdef f()\n  if(\"1\")\n");
    r = run({"run", "bad", "f"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "assertion: _if::createFrom: number of parameters < 2\n" + testlib::native("./bad.ztscr") +
                         ":2:3: the script could not be built (see the assertion above)\n"
                     "error: the script could not be built (see the assertion above)\n");
}

TEST_F(Tool, RunStopsAtItsLimits) {
    dir.write("loop.ztscr", "scrdef endless()\n"
                            "{\n"
                            "  createvar(n, add<int>(\"0\", \"0\"));\n"
                            "  while(\"1\", { setvar(n, add<int>(n, \"1\")) })\n"
                            "}\n"
                            "scrdef doubling()\n"
                            "  createvar(s, \"x\");\n"
                            "  while(\"1\", setvar(s, add<string>(s, s)))\n");
    dir.write("s.ztscr", kScript);
    if (zt::heapInUse() != 0) { // the system reports the heap's size (not under Wine)
        expectRuns({{{"run", "--max-memory", "30000000", "loop", "doubling"}, 1, nullptr,
                     "caused by: The call was stopped: it used more than its limit of 30000000 bytes of memory\n"}});
    }
    expectRuns({
        {{"run", "--max-steps", "500", "loop", "endless"}, 1, nullptr,
         "caused by: The call was stopped: it reached its limit of 500 executed statements\n"},
        {{"run", "--timeout", "0.2", "loop", "endless"}, 1, nullptr, "caused by: The call was stopped: its time limit ran out\n"},
        // Limits a call stays within change nothing.
        {{"run", "--max-steps", "100", "--timeout", "60", "s", "greet", "you"}, 0, "Hello, you\n"},
        {{"run", "--timeout", "-1", "s", "greet"}, 2},
        {{"run", "--file-check-interval", "1000", "s", "greet", "again"}, 0, "Hello, again\n"},
        {{"run", "--file-check-interval", "soon", "s", "greet"}, 2},
    });
}

TEST_F(Tool, UsageErrorsExitWithTwo) {
    dir.write("s.ztscr", kScript);
    const std::string version = std::string("ztscript ") + ZTSCRIPT_VERSION + "\n";
    expectRuns({
        // "@FILE" names a JSON file of a host object: a missing file is a failure, not a usage error
        {{"run", "s", "greet", "@object"}, 1, "", "cannot load the host object \"object\""},
        {{"run", "--answer", "maybe", "s", "greet"}, 2},
        {{"run", "--answer", "retry", "s", "greet"}, 0},
        {{"run", "s"}, 2},
        {{"frobnicate"}, 2},
        {{}, 2},
        {{"run", "s$x", "greet"}, 2},
        {{"--version"}, 0, version.c_str()},
    });
    const toolResult r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(testlib::contains(r.out, "unscramble"));
}

TEST_F(Tool, CheckReportsEveryFailure) {
    dir.write("good.ztscr", kScript);
    toolResult r = run({"check", "good.ztscr"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, "good.ztscr: ok (4 functions)\n");

    dir.write("bad.ztscr", "scrdef a()\n  return(\"x\")\n"
                           "scrdef b()\n  nosuch(\"x\")\n"
                           "scrdef c(inout<int> n)\n  return(n)\n"
                           "scrdef d()\n  if(\"1\")\n"
                           "scrdef e f()\n  return(\"hidden\")\n");
    r = run({"check", "bad.ztscr", "good.ztscr", "none.ztscr"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "bad.ztscr:9: the function name \"e f\" contains a blank: this definition and every later one "
                     "of the file are not read\n"
                     "bad.ztscr:4:3: function b: Error parsing nosuch(\"x\")\n"
                     "bad.ztscr: function c: parameter 1: Error parsing parametertype \"inout\"\n"
                     "bad.ztscr:8:3: function d: the script could not be built; assertion: _if::createFrom: number of "
                     "parameters < 2\n"
                     "good.ztscr: ok (4 functions)\n"
                     "none.ztscr: cannot read the file\n");
}

TEST_F(Tool, ScrambleRoundTrip) {
    dir.write("s.ztscr", kScript);
    toolResult r = run({"scramble", "s.ztscr", "t.ztsscr"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string scrambled = testlib::readFile(testlib::pathOf(dir.path + "t.ztsscr"));
    EXPECT_EQ(scrambled.size(), std::string(kScript).size());
    EXPECT_NE(scrambled, kScript);

    r = run({"run", "t", "greet", "again"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Hello, again\n");
    EXPECT_EQ(run({"check", "t.ztsscr"}).exitCode, 0);

    ASSERT_EQ(run({"unscramble", "t.ztsscr", "back.txt"}).exitCode, 0);
    EXPECT_EQ(testlib::readFile(testlib::pathOf(dir.path + "back.txt")), kScript);
    EXPECT_EQ(run({"scramble", "absent.ztscr", "x.ztsscr"}).exitCode, 1);
}

TEST_F(Tool, TestRunnerReportsPassesAndFailures) {
    dir.write("t.ztscr", std::string(kScript) +
                             "// test greet(\"you\") -> Hello, you\n"     // 9
                             "// test greet(\"you\") -> Hello, me\n"      // 10
                             "// test sum(\"1\", \"2\") => int: 3\n"      // 11
                             "// test sum(\"1\", \"2\") => string: 3\n"   // 12
                             "// test nothing() => void\n"                // 13
                             "// test fail(\"boom\") !> boom\n"           // 14
                             "// test fail(\"boom\") !> bang\n"           // 15
                             "// test greet() !> anything\n"              // 16
                             "// test sum(\"1\", \"2\" -> 3\n");          // 17
    toolResult r = run({"test", "t.ztscr"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "PASS t.ztscr:9 greet(\"you\")\n"
                     "FAIL t.ztscr:10 greet(\"you\"): expected \"Hello, me\", got \"Hello, you\"\n"
                     "PASS t.ztscr:11 sum(\"1\", \"2\")\n"
                     "FAIL t.ztscr:12 sum(\"1\", \"2\"): expected string: \"3\", got int: \"3\"\n"
                     "PASS t.ztscr:13 nothing()\n"
                     "PASS t.ztscr:14 fail(\"boom\")\n"
                     "FAIL t.ztscr:15 fail(\"boom\"): expected an error containing \"bang\", got another error\n"
                     "    error: Error executing script \"fail\"\n"
                     "    caused by: Error executing script \"throwerror(text)\"\n"
                     "    caused by: boom\n"
                     "FAIL t.ztscr:16 greet(): expected an error containing \"anything\", got string: Hello, world\n"
                     "FAIL t.ztscr:17: malformed test comment: \",\" or \")\" expected after an argument\n"
                     "4 passed, 5 failed\n");

    // assertion reports come with the failing test
    dir.write("a.ztscr", "scrdef f()\n  if(\"1\")\n// test f() -> x\n");
    r = run({"test", "a.ztscr"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "FAIL a.ztscr:3 f(): expected \"x\", got an error\n"
                     "    assertion: _if::createFrom: number of parameters < 2\n"
                     "    error: the script could not be built (see the assertion above)\n"
                     "0 passed, 1 failed\n");

    dir.write("ok.ztscr", std::string(kScript) + "// test sum(\"40\", \"2\") -> 42\n");
    r = run({"test", "ok.ztscr"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, "PASS ok.ztscr:9 sum(\"40\", \"2\")\n1 passed, 0 failed\n");

    // a file without tests fails, and so does a run of nothing but such files
    dir.write("none.ztscr", kScript);
    r = run({"test", "none.ztscr"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "FAIL none.ztscr: no tests found\n0 passed, 1 failed\n");
    r = run({"test", "ok.ztscr", "none.ztscr", "readme.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("FAIL readme.txt: not a script file"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 passed, 2 failed\n"), std::string::npos) << r.out;
}

TEST_F(Tool, TestRunnerKeepsFilesOfTheSameNameApart) {
    // The second file is older than the first: the engine's cache alone would hand out the
    // first file's function for it.
    dir.write("one/same.ztscr", "scrdef f()\n  return(\"one\")\n// test f() -> one\n");
    dir.write("two/Same.ztscr", "scrdef f()\n  return(\"two\")\n// test f() -> two\n");
    fs::last_write_time(dir.path + "two/Same.ztscr",
                        fs::last_write_time(dir.path + "one/same.ztscr") - std::chrono::hours(1));
    toolResult r = run({"test", "one/same.ztscr", "two/Same.ztscr"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, "PASS one/same.ztscr:3 f()\nPASS two/Same.ztscr:3 f()\n2 passed, 0 failed\n");
}

} // namespace
