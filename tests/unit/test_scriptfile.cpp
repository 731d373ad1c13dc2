// Script files: definitions, comments, joined lines, parameter declarations, named parameters.
#include "testlib.h"

#include <gtest/gtest.h>

#include <filesystem>
#ifndef _WIN32
#include <unistd.h>
#endif

using namespace zt::script;

namespace {

class ScriptFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testlib::install(); }

    static zt::configStructure index(const std::string& text) {
        zt::binaryBuffer buffer;
        buffer.bytes().assign(text.begin(), text.end());
        scriptFileReader reader(buffer);
        zt::configStructure cs;
        reader.readInto(cs);
        return cs;
    }
    static std::string value(const zt::configStructure& cs, const char16_t* section, const char16_t* key) {
        zt::string v;
        if (!cs.getValue(section, key, v)) return "(missing)";
        return v.toUtf8();
    }
};

TEST_F(ScriptFile, WorkedExample) {
    auto cs = index("// order scripts\r\nscrdef onSave(in<string> Mode = \"Fast\", in<int> count)\r\n"
                    "   // hand back the mode\r\n   return(mode)  // note\r\n   ;x()\r\n");
    EXPECT_EQ(value(cs, u"ONSAVE", u"parameter1"), "in<string> Mode = \"Fast\"");
    EXPECT_EQ(value(cs, u"onsave", u"parameter2"), " in<int> count");
    EXPECT_EQ(value(cs, u"onsave", u"parameter3"), "(missing)");
    // blanks before a comment stay; the definition text as a whole is trimmed at its ends
    EXPECT_EQ(value(cs, u"onsave", u"script"), "return(mode)  ;x()");
}

TEST_F(ScriptFile, DefinitionLinesAndJoining) {
    auto cs = index("ignored(before)\nSCRDEF f()\na\n\n  b\nscrdef\tg()\nscrdef h( )\n  x(\"//not a string\")\n");
    EXPECT_EQ(value(cs, u"f", u"script"), "abscrdef\tg()");
    EXPECT_EQ(value(cs, u"f", u"parameter1"), "(missing)");
    EXPECT_EQ(value(cs, u"h", u"parameter1"), "(missing)");
    EXPECT_EQ(value(cs, u"h", u"script"), "x(\"");
    EXPECT_FALSE(cs.hasSection(u"ignored(before)"));
}

TEST_F(ScriptFile, BlankInNameHidesTheRestOfTheFile) {
    auto cs = index("scrdef a()\nx()\nscrdef f (a)\ny()\nscrdef g()\nz()\n");
    EXPECT_TRUE(cs.hasSection(u"a"));
    EXPECT_FALSE(cs.hasSection(u"g"));
    EXPECT_FALSE(cs.hasSection(u"f"));
}

TEST_F(ScriptFile, ParameterTextsAndEscapes) {
    zt::string name, body;
    std::vector<zt::string> params;
    ASSERT_TRUE(scriptFileReader::parseDefinition(u"f(in<string> s = \"a\\\"b\", in<int> n)body", name, params, body));
    ASSERT_EQ(params.size(), 2u);
    EXPECT_EQ(params[0], u"in<string> s = \"a\"b\"");
    EXPECT_EQ(params[1], u" in<int> n");
    EXPECT_EQ(body, u"body");

    ASSERT_TRUE(scriptFileReader::parseDefinition(u"f(in a, )x()", name, params, body));
    ASSERT_EQ(params.size(), 2u);
    EXPECT_EQ(params[1], u" ");
    EXPECT_THROW(parseParameterDeclaration(params[1], 0), errParsingParamTypeException);
}

TEST_F(ScriptFile, LaterDefinitionWritesIntoTheSameSection) {
    auto cs = index("scrdef f(in a)\none()\nscrdef F()\ntwo()\n");
    EXPECT_EQ(value(cs, u"f", u"script"), "two()");
    EXPECT_EQ(value(cs, u"f", u"parameter1"), "in a");
}

TEST_F(ScriptFile, Windows1252BytesBecomeTheirCharacters) {
    auto cs = index("scrdef f()\nx(\"\x80\xe4\")\n");
    zt::string v;
    ASSERT_TRUE(cs.getValue(u"f", u"script", v));
    EXPECT_EQ(v, u"x(\"\u20ac\u00e4\")");
}

TEST_F(ScriptFile, ParameterDeclarations) {
    auto d = parseParameterDeclaration(u"in<string> s = \"Abc\"", 0);
    EXPECT_EQ(d.type, stString);
    EXPECT_EQ(d.name, u"s");
    ASSERT_TRUE(d.defaultValue);
    scriptcontext ctx;
    genericValue v;
    d.defaultValue->getValue(ctx, v);
    zt::string text;
    v.get(text);
    EXPECT_EQ(text, u"abc");

    auto x = parseParameterDeclaration(u"in x", 0);
    EXPECT_EQ(x.type, stVoid);
    EXPECT_EQ(x.name, u"x");
    EXPECT_FALSE(x.defaultValue);
    EXPECT_EQ(parseParameterDeclaration(u"in", 0).name, u"in");
    EXPECT_EQ(parseParameterDeclaration(u"  IN<Int>  My Count ", 0).name, u"mycount");

    EXPECT_THROW(parseParameterDeclaration(u"in<int x", 0), errParsingException);
    EXPECT_THROW(parseParameterDeclaration(u"out<int> x", 0), errParsingParamTypeException);
    try {
        parseParameterDeclaration(u"in<int> x = nosuchthing(", 0);
        FAIL();
    } catch (const zt::exception& e) {
        // the statement parser's own failure reaches the caller
        EXPECT_NE(dynamic_cast<const parserException*>(&e), nullptr);
    }
}

TEST_F(ScriptFile, DefaultsAreEvaluatedPerCallInAnEmptyContext) {
    auto d = parseParameterDeclaration(u"in a = techo(\"d\")", 0);
    genericValue first, second;
    parameterValue(d, first);
    parameterValue(d, second);
    zt::string a, b;
    first.get(a);
    second.get(b);
    EXPECT_EQ(a, u"d");
    EXPECT_EQ(b, u"d");

    genericValue given = genericValue::of(zt::string(u"given"));
    EXPECT_EQ(&parameterValue(d, given), &given);

    auto none = parseParameterDeclaration(u"in<int> n", 0);
    genericValue empty;
    EXPECT_THROW(parameterValue(none, empty), inParameterNotFoundException);

    // the default sees no variables of the caller
    auto reads = parseParameterDeclaration(u"in r = outside", 0);
    genericValue r;
    EXPECT_ANY_THROW(parameterValue(reads, r));
}

// A built-in with named parameters, declared like file_copy.
struct copyLike : scriptbasesinglefunction {
    statement* clone() const override { return new copyLike(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        genericValue v;
        zt::string out;
        for (const char16_t* n : {u"file", u"topath", u"tofile"}) {
            v.clear();
            if (getParamValue(n, context, v)) {
                zt::string t;
                v.get(t);
                out += t;
            } else {
                out += u"-";
            }
            out += u"|";
        }
        result.set(out);
    }
    bool build(const std::vector<zt::string>& args) {
        return parse(u"file_copy", args, 0, u"file", true, u"topath", true, u"tofile", false, nullptr);
    }
};

TEST_F(ScriptFile, NamedParametersBindByPosition) {
    scriptcontext ctx;
    copyLike two;
    ASSERT_TRUE(two.build({u"\"a\"", u"\"b\""}));
    genericValue r;
    two.execute(ctx, r);
    zt::string t;
    r.get(t);
    EXPECT_EQ(t, u"a|b|-|");

    copyLike four;
    four.build({u"\"a\"", u"\"b\"", u"\"c\"", u"\"ignored\""});
    r.clear();
    four.execute(ctx, r);
    r.get(t);
    EXPECT_EQ(t, u"a|b|c|");

    copyLike one;
    try {
        one.build({u"\"a\""});
        FAIL();
    } catch (const errParsingException& e) {
        EXPECT_EQ(testlib::chainText(e), "Error parsing file_copy(...)\nfile_copy: Number of parameters < 2");
    }
}

// A script file the process may not read fails the call with a read error that names the file
// (not as a file without the function), and runs once it can be read again.
TEST_F(ScriptFile, AnUnreadableFileFailsWithAReadError) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows denies reading through access lists, not through the mode bits this test sets";
#else
    if (geteuid() == 0) GTEST_SKIP() << "running as root, which reads a file whatever its mode says";
    testlib::tempDir dir;
    const std::string name = dir.path + "sf_locked.ztscr";
    dir.write("sf_locked.ztscr", "scrdef f()\ntret(\"read\")\n");
    auto call = [&] {
        scriptcontext context;
        std::vector<genericValue> args;
        genericValue result;
        codeManager::instance()->executeFunction(zt::string(dir.path), u"script$sf_locked$f", context, args, result);
        zt::string text;
        result.get(text);
        return text;
    };
    std::filesystem::permissions(name, std::filesystem::perms::none);
    try {
        call();
        ADD_FAILURE() << "the call ran";
    } catch (const zt::exception& e) {
        EXPECT_NE(dynamic_cast<const zt::readFileException*>(&e), nullptr) << testlib::chainText(e);
        EXPECT_EQ(testlib::chainText(e), "Error reading file " + name);
    }
    std::filesystem::permissions(name, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(call(), u"read");
#endif
}

} // namespace
