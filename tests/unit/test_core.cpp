// Execution, error chains, contexts, value providers and statement sequences.
#include "testlib.h"

#include <gtest/gtest.h>

using namespace zt::script;

namespace {

class Core : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testlib::install(); }

    static genericValue run(const zt::string& text, codecontext& context) { return testlib::run(text, context); }
    static scString key(const char16_t* s) { return scString(zt::string(s)); }
    static zt::string textOf(const genericValue& v) {
        zt::string t;
        v.get(t);
        return t;
    }
};

// ---- error reporting --------------------------------------------------------------------------

TEST_F(Core, ExecErrorFormatsAndNamesUnknownStatement) {
    exceptionDetail detail(u"from detail");
    for (const exceptionDetail* d : {static_cast<exceptionDetail*>(nullptr), &detail}) {
        try {
            statement::execError(nullptr, d, u"x %d", 5);
            FAIL();
        } catch (const scriptExecException& e) {
            EXPECT_EQ(e.text().toUtf8(), d ? "Error executing script \"***unknown***\" (from detail)"
                                           : "Error executing script \"***unknown***\" (x 5)");
            EXPECT_EQ(e.inner(), nullptr);
        }
    }
}

TEST_F(Core, FailureDeepInsideGivesOneExceptionPerStatement) {
    scriptcontext ctx;
    try {
        run(u"techo(techo(tfail(\"boom\")))", ctx);
        FAIL();
    } catch (const scriptExecException& e) {
        EXPECT_EQ(testlib::chainText(e),
                  "Error executing script \"techo(techo(tfail(\"boom\")))\"\n"
                  "Error executing script \"techo(tfail(\"boom\"))\"\n"
                  "Error executing script \"tfail(\"boom\")\" (failed boom)");
        EXPECT_NE(dynamic_cast<const scriptExecException*>(e.inner()), nullptr);
    }
}

TEST_F(Core, ThrownTextPassesEveryWrapperUnchanged) {
    scriptcontext ctx;
    try {
        run(u"techo(techo(tthrow(\"for the host\")))", ctx);
        FAIL();
    } catch (const zt::string& s) {
        EXPECT_EQ(s, u"for the host");
    }
}

// ---- contexts ---------------------------------------------------------------------------------

TEST_F(Core, LookupOrderLocalsThenParametersThenGlobals) {
    scriptcontext root;
    root.setGlobalContextVariable(key(u"n"), genericValue::of(zt::string(u"global")));
    EXPECT_EQ(textOf(root.variable(key(u"n"))), u"global");
    codecontext block(&root);
    // a local created while the name is free later hides a parameter of that name
    EXPECT_TRUE(block.createVariable(key(u"n2"), genericValue::of(zt::string(u"local"))));
    root.setParameter(key(u"n"), genericValue::of(zt::string(u"param")));
    root.setParameter(key(u"n2"), genericValue::of(zt::string(u"param")));
    EXPECT_EQ(textOf(root.variable(key(u"n"))), u"param");
    EXPECT_EQ(textOf(block.variable(key(u"n2"))), u"local");
    EXPECT_EQ(textOf(root.variable(key(u"n2"))), u"param");
    // once the name is taken anywhere in the chain, createVariable refuses it
    EXPECT_FALSE(block.createVariable(key(u"n"), genericValue::of(zt::string(u"local"))));
}

TEST_F(Core, CreateAndSetRespectExistingNames) {
    scriptcontext root;
    root.setParameter(key(u"p"), genericValue::of(1));
    root.setGlobalContextVariable(key(u"g"), genericValue::of(2));
    codecontext block(&root);
    EXPECT_FALSE(block.createVariable(key(u"p"), genericValue::of(9)));
    EXPECT_FALSE(block.createVariable(key(u"g"), genericValue::of(9)));
    EXPECT_FALSE(block.setVariable(key(u"p"), genericValue::of(9)));
    int p = 0;
    root.parameter(key(u"p")).get(p);
    EXPECT_EQ(p, 1);

    EXPECT_TRUE(root.createVariable(key(u"outer"), genericValue::of(1)));
    {
        codecontext inner(&block);
        EXPECT_TRUE(inner.createVariable(key(u"tmp"), genericValue::of(5)));
        EXPECT_TRUE(inner.setVariable(key(u"outer"), genericValue::of(7)));
        EXPECT_TRUE(inner.hasVariable(key(u"tmp")));
    }
    EXPECT_FALSE(block.hasVariable(key(u"tmp")));
    int outer = 0;
    root.variable(key(u"outer")).get(outer);
    EXPECT_EQ(outer, 7);
}

TEST_F(Core, MissingNamesThrowOrGiveNull) {
    scriptcontext root;
    codecontext block(&root);
    EXPECT_EQ(block.parameterAddress(key(u"q")), nullptr);
    EXPECT_EQ(block.variableAddress(key(u"q")), nullptr);
    EXPECT_THROW(block.parameter(key(u"q")), parameterNotFoundException);
    EXPECT_THROW(block.globalContextVariable(key(u"q")), globalVarNotFoundException);
    try {
        block.variable(key(u"q"));
        FAIL();
    } catch (const variableNotFoundException& e) {
        EXPECT_EQ(e.text().toUtf8(), "Variable \"q\" not found");
    }
}

TEST_F(Core, BlockContextNeedsAnOuterBlock) {
    testlib::assertCollector asserts;
    EXPECT_THROW(codecontext bad(nullptr), bool);
    ASSERT_EQ(asserts.reports.size(), 1u);
    EXPECT_NE(asserts.reports[0].find("mpOuterBlock!=NULL"), std::string::npos);
}

TEST_F(Core, GlobalsAreCreatedOnDemandAndShared) {
    scriptcontext owner;
    EXPECT_EQ(owner.globalVariables(), nullptr);
    EXPECT_TRUE(owner.setGlobalContextVariable(key(u"a"), genericValue::of(1)));

    scriptcontext callee;
    owner.initScriptContext(callee);
    EXPECT_TRUE(callee.hasGlobalContextVariable(key(u"a")));
    callee.setGlobalContextVariable(key(u"b"), genericValue::of(2));
    EXPECT_TRUE(owner.hasGlobalContextVariable(key(u"b")));
    EXPECT_THROW(owner.initScriptContext(callee), zt::unexpectedErrorException);

    scriptcontext noGlobals, attached;
    noGlobals.initScriptContext(attached);
    EXPECT_FALSE(attached.setGlobalContextVariable(key(u"x"), genericValue::of(1)));
}

TEST_F(Core, ReturnValueStaysUntilDeleted) {
    scriptcontext ctx;
    run(u"tret(\"7\")", ctx);
    EXPECT_TRUE(ctx.hasParameter(scriptcontext::returnparam()));
    ctx.deleteParameter(scriptcontext::returnparam());
    EXPECT_FALSE(ctx.hasParameter(scriptcontext::returnparam()));
}

// ---- value providers --------------------------------------------------------------------------

TEST_F(Core, ConstantsTakeTheirTypeWhereStored) {
    scriptcontext ctx;
    clonePtr<valueProvider> five(valueProvider::createFrom(u"\"5\"", 0));
    genericValue asInt = genericValue::of(0);
    ASSERT_TRUE(five->getValue(ctx, asInt));
    EXPECT_TRUE(asInt.is<int>());
    int n = 0;
    asInt.get(n);
    EXPECT_EQ(n, 5);
    genericValue fresh;
    five->getValue(ctx, fresh);
    EXPECT_TRUE(fresh.is<zt::string>());

    clonePtr<valueProvider> word(valueProvider::createFrom(u"\"abc\"", 0));
    genericValue typed = genericValue::of(1);
    EXPECT_THROW(word->getValue(ctx, typed), bool);

    auto literal = [&](const zt::string& text) {
        clonePtr<valueProvider> p(valueProvider::createFrom(text, 0));
        genericValue v;
        p->getValue(ctx, v);
        return textOf(v);
    };
    // (The forms scripts see are stated by tests/scripts/core/textforms.ztscr.)
    EXPECT_EQ(literal(u"\""), u"");
    EXPECT_THROW(valueProvider::createFrom(u"", 0), errParsingException);
}

TEST_F(Core, StatementProviderWithoutStatementFails) {
    scriptcontext ctx;
    statementProvider empty(nullptr);
    genericValue v;
    EXPECT_THROW(empty.getValue(ctx, v), zt::unexpectedErrorException);
}

// ---- sequences --------------------------------------------------------------------------------

TEST_F(Core, SequenceStopsAtSignalsAndFailuresAndLeavesSignalsSet) {
    for (const char16_t* signal : {u"#breaksignal#", u"#continuesignal#", u"#breakallsignal#"}) {
        scriptcontext ctx;
        testlib::executions = 0;
        run(zt::string(u"tcount(); tsig(") + signal + u"); tcount()", ctx);
        EXPECT_EQ(testlib::executions, 1);
        EXPECT_NE(ctx.scriptSignal(scString(zt::string(signal))), nullptr);
    }
    scriptcontext ctx;
    testlib::executions = 0;
    EXPECT_THROW(run(u"tcount(); tfail(\"x\"); tcount()", ctx), scriptExecException);
    EXPECT_EQ(testlib::executions, 1);
}

} // namespace
