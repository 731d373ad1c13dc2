// The variables and operators libraries where the C++ side shows: context levels, exception
// types, value pointers, typed results, replaced conversions, host objects and texts beyond
// Windows-1252. What scripts see (decimal rounding included) is stated by tests/scripts/vars and
// tests/scripts/ops.
#include "testhost.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <string>

using namespace zt::script;

namespace {

class ScriptTest : public ::testing::Test {
protected:
    static genericValue run(const zt::string& text, codecontext& ctx) { return testlib::run(text, ctx); }
    genericValue run(const zt::string& text) { return run(text, mCtx); }

    static scString key(const char16_t* s) { return scString(zt::string(s)); }
    template <class T>
    static T as(const genericValue& v) {
        T out{};
        EXPECT_TRUE(v.get(out));
        return out;
    }
    static std::string text(const genericValue& v) { return as<zt::string>(v).toUtf8(); }

    scriptcontext mCtx;
};

// ==== variables ================================================================================

class Variables : public ScriptTest {};

TEST_F(Variables, ALocalHidesAParameterFromSetvarButNotFromSetparameter) {
    codecontext inner(&mCtx);
    run(u"createvar(p, \"local\")", inner); // created while no parameter p exists
    mCtx.setParameter(key(u"p"), genericValue::of(zt::string(u"param")));
    run(u"setvar(p, \"5\")", inner);
    EXPECT_EQ(text(mCtx.parameter(key(u"p"))), "param");
    EXPECT_EQ(text(run(u"getvar(p)", inner)), "5");
    run(u"setparameter(p, \"6\")", inner);
    EXPECT_EQ(text(run(u"getparameter(p)", inner)), "6");
    EXPECT_EQ(text(run(u"getvar(p)", inner)), "5");
    mCtx.setGlobalContextVariable(key(u"p"), genericValue::of(zt::string(u"global")));
    run(u"setglobalvar(p, \"7\")", inner);
    EXPECT_EQ(text(run(u"getglobalvar(p)", inner)), "7");
    EXPECT_EQ(text(run(u"getparameter(p)", inner)), "6");
}

TEST_F(Variables, GetReportsMissingNamesByScope) {
    auto innerIs = [this]<class E>(const zt::string& text) {
        try {
            run(text);
        } catch (const scriptExecException& e) {
            return dynamic_cast<const E*>(e.inner()) != nullptr;
        }
        return false;
    };
    EXPECT_TRUE(innerIs.operator()<variableNotFoundException>(u"getvar(nothing)"));
    EXPECT_TRUE(innerIs.operator()<parameterNotFoundException>(u"getparameter(nothing)"));
    EXPECT_TRUE(innerIs.operator()<globalVarNotFoundException>(u"getglobalvar(nothing)"));
}

TEST_F(Variables, GetReplacesTheResultAndIgnoresExtraArguments) {
    run(u"createvar(x, \"text\")");
    genericValue result = genericValue::of(42);
    testlib::runInto(u"getvar(x, 1, 2)", mCtx, result);
    EXPECT_EQ(testlib::shown(result), "string: text");

    // getparameter reads the parameter even when a local hides it from getvar
    mCtx.setParameter(key(u"x"), genericValue::of(7));
    EXPECT_EQ(as<int>(run(u"getparameter(x)")), 7);
    EXPECT_EQ(text(run(u"getvar(x)")), "text");
}

TEST_F(Variables, PointersDesignateTheStoredValue) {
    run(u"createvar(x, \"1\")");
    genericValue* x = mCtx.variableAddress(key(u"x"));
    // (A named array: mingw-w64's g++ 12 at -O2 once built these texts in a temporary that the
    // loop outlived.)
    static const char16_t* const texts[] = {u"getvarptr<int>(x)", u"&getvar<string>(X)"};
    for (const char16_t* text : texts) {
        genericValue p = run(text);
        ASSERT_TRUE(p.is<genericValue*>());
        EXPECT_EQ(as<genericValue*>(p), x);
    }
    genericValue p = run(u"getvarptr<int>(x)");
    run(u"setvar(x, \"2\")");
    EXPECT_EQ(text(*as<genericValue*>(p)), "2");

    mCtx.setParameter(key(u"q"), genericValue::of(1));
    EXPECT_EQ(as<genericValue*>(run(u"getparameterptr<int>(q)")), mCtx.parameterAddress(key(u"q")));
    EXPECT_EQ(as<genericValue*>(run(u"&getparameter<int>(q)")), mCtx.parameterAddress(key(u"q")));
    genericValue missing = run(u"getparameterptr<int>(nothing)");
    ASSERT_TRUE(missing.is<genericValue*>());
    EXPECT_EQ(as<genericValue*>(missing), nullptr);

    mCtx.setGlobalContextVariable(key(u"g"), genericValue::of(1));
    EXPECT_EQ(as<genericValue*>(run(u"getglobalvarptr<int>(g)")), mCtx.globalContextVariableAddress(key(u"g")));
    // a parameter is not a global
    EXPECT_EQ(as<genericValue*>(run(u"getglobalvarptr<int>(q)")), nullptr);

    // A result that holds a pointer takes the new one.
    genericValue other;
    genericValue result = genericValue::of(&other);
    testlib::runInto(u"getvarptr<int>(x)", mCtx, result);
    EXPECT_EQ(as<genericValue*>(result), mCtx.variableAddress(key(u"x")));

    // an int cannot take a pointer: the statement fails without a detail text
    genericValue number = genericValue::of(5);
    try {
        testlib::runInto(u"getvarptr<int>(x)", mCtx, number);
        FAIL();
    } catch (const scriptExecException& e) {
        EXPECT_EQ(testlib::chainText(e), "Error executing script \"getvarptr<int>(x)\"");
    }
}

// ==== operators ================================================================================

class Operators : public ScriptTest {};

// Literal operands are read once when their statement is built; a conversion the host replaces
// afterwards still applies to them, and the original again once it is put back.
TEST_F(Operators, LiteralsFollowReplacedConversions) {
    clonePtr<statement> st(statement::createFrom(u"add<int>(\"20\", \"1\")", 0));
    ASSERT_TRUE(st);
    auto value = [&](const statement& s) {
        genericValue result;
        s.exec(mCtx, result);
        int n = 0;
        EXPECT_TRUE(result.get(n));
        return n;
    };
    EXPECT_EQ(value(*st), 21);
    // Texts read as ten times their number.
    static const zt::typeconvert::typeConverter<zt::string, int> tenfold([](int& d, const zt::string& s) {
        d = 10 * std::stoi(s.toUtf8());
        return true;
    });
    auto& conversions = zt::typeConversionManager::instance();
    const zt::typeconvert::typeConverterBase* original = conversions.converter(typeid(int), typeid(zt::string));
    ASSERT_NE(original, nullptr);
    conversions.add(&tenfold);
    EXPECT_EQ(value(*st), 210);
    clonePtr<statement> copy(st->clone());
    EXPECT_EQ(value(*copy), 210);
    conversions.add(original);
    EXPECT_EQ(value(*st), 21);
    EXPECT_EQ(value(*copy), 21);
}

// Numbers read as another number or joined as text are converted by the readers themselves
// only while the conversion is the built-in one: a host's replacement applies, and the readers'
// own conversion again once it is put back.
TEST_F(Operators, NumberReadersFollowReplacedConversions) {
    mCtx.setParameter(key(u"n"), genericValue::of(4));
    mCtx.setParameter(key(u"len"), genericValue::of(zt::uint64(3)));
    static const zt::typeconvert::typeConverter<int, double> tenfoldDouble([](double& d, const int& s) {
        d = 10.0 * s;
        return true;
    });
    static const zt::typeconvert::typeConverter<zt::uint64, int> tenfoldInt([](int& d, const zt::uint64& s) {
        d = 10 * static_cast<int>(s);
        return true;
    });
    static const zt::typeconvert::typeConverter<int, zt::string> spelled([](zt::string& d, const int& s) {
        d = s == 4 ? u"four" : u"?";
        return true;
    });
    struct reader {
        const zt::typeconvert::typeConverterBase& replacement;
        const char16_t* script;
        std::string builtIn, replaced;
    };
    const reader readers[] = {
        {tenfoldDouble, u"add<double>(n, \"0.5\")", "4.5", "40.5"},
        {tenfoldInt, u"add<int>(len, \"1\")", "4", "31"},
        {spelled, u"strcat(\"n=\", n)", "n=4", "n=four"},
    };
    auto& conversions = zt::typeConversionManager::instance();
    for (const reader& r : readers) {
        SCOPED_TRACE(zt::string(r.script).toUtf8());
        const auto* original = conversions.converter(r.replacement.destinationType(), r.replacement.sourceType());
        ASSERT_NE(original, nullptr);
        EXPECT_EQ(text(run(r.script)), r.builtIn);
        conversions.add(&r.replacement);
        EXPECT_FALSE(zt::typeConversionManager::numbersBuiltIn());
        EXPECT_EQ(text(run(r.script)), r.replaced);
        conversions.add(original);
        EXPECT_TRUE(zt::typeConversionManager::numbersBuiltIn());
        EXPECT_EQ(text(run(r.script)), r.builtIn);
    }
    // a length that does not fit an int fails as the built-in conversion fails
    mCtx.setParameter(key(u"len"), genericValue::of(zt::uint64(5000000000u)));
    EXPECT_NE(testlib::runError(u"add<int>(len, \"1\")", mCtx), "");
    mCtx.deleteParameter(key(u"n"));
    mCtx.deleteParameter(key(u"len"));
}

// Texts compare by 16-bit units (script files, read as Windows-1252, cannot hold these texts).
TEST_F(Operators, TextComparisonIsByCodeUnits) {
    EXPECT_TRUE(as<bool>(run(u"issmaller<string>(\"z\", \"\u00e9\")")));
    // a surrogate (U+D83D) sorts before U+FFFD
    EXPECT_TRUE(as<bool>(run(u"issmaller<string>(\"\U0001F600\", \"\uFFFD\")")));
}

TEST_F(Operators, HostObjectsCompareByIdentity) {
    testhost::tracker host;
    auto* one = host.create<testhost::plainObject>();
    auto* two = host.create<testhost::plainObject>();
    mCtx.setParameter(key(u"a1"), testhost::reference(one));
    mCtx.setParameter(key(u"a2"), testhost::reference(one));
    mCtx.setParameter(key(u"b"), testhost::reference(two));
    mCtx.setParameter(key(u"n1"), genericValue::of(testhost::unknownptr()));
    mCtx.setParameter(key(u"n2"), genericValue::of(testhost::unknownptr()));
    EXPECT_TRUE(as<bool>(run(u"isequal<unknownptr>(a1, a2)")));
    EXPECT_FALSE(as<bool>(run(u"isequal<unknownptr>(a1, b)")));
    EXPECT_TRUE(as<bool>(run(u"isnotequal<unknownptr>(a1, b)")));
    EXPECT_TRUE(as<bool>(run(u"==<unknownptr>(n1, n2)")));
    EXPECT_FALSE(as<bool>(run(u"!=<unknownptr>(n1, n2)")));
    EXPECT_FALSE(as<bool>(run(u"isequal<unknownptr>(n1, a1)")));
    // a text is no object reference
    EXPECT_NE(testlib::runError(u"isequal<unknownptr>(a1, \"x\")", mCtx), "");
    for (const char16_t* name : {u"a1", u"a2", u"b", u"n1", u"n2"}) mCtx.deleteParameter(key(name));
    EXPECT_EQ(host.references(), 0u);
    EXPECT_EQ(host.overReleases(), 0u);
}

TEST_F(Operators, ResultKeepsItsTypeExceptForLogic) {
    genericValue r = genericValue::of(zt::string(u"old"));
    testlib::runInto(u"add<int>(\"2\", \"3\")", mCtx, r);
    EXPECT_EQ(testlib::shown(r), "string: 5");

    genericValue d = genericValue::of(0.0);
    testlib::runInto(u"isequal<int>(\"2\", \"2\")", mCtx, d);
    EXPECT_EQ(testlib::shown(d), "double: 1");

    // a sum that does not fit the held type fails without detail
    genericValue small = genericValue::of(short(0));
    try {
        testlib::runInto(u"add<int>(\"40000\", \"1\")", mCtx, small);
        FAIL();
    } catch (const scriptExecException& e) {
        EXPECT_EQ(testlib::chainText(e), "Error executing script \"add<int>(\"40000\", \"1\")\"");
    }

    for (const char16_t* text : {u"and(\"true\", \"false\")", u"or(\"true\", \"false\")"}) {
        genericValue s = genericValue::of(zt::string(u"old"));
        testlib::runInto(text, mCtx, s);
        EXPECT_TRUE(s.is<bool>()) << zt::string(text).toUtf8();
    }
}

} // namespace
