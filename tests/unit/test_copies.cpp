// Copies of statements own what they were built from: a copy runs after its original is gone,
// for every library (hosts keep built statements and copy them around).
#include "testhost.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zt::script;

namespace {

struct copyCase {
    std::vector<const char16_t*> setup; // run first, in the same context
    const char16_t* text;               // copied; the copy runs twice, its original is gone
    const char16_t* check;              // run afterwards and shown; nullptr shows the copy's result
    const char16_t* expected;
};

const copyCase kCopyCases[] = {
    {{u"createvar(x, \"\")"}, u"setvar(x, add<string>(x, \"+\"))", u"getvar(x)", u"++"},
    {{u"createvar(x, add<int>(\"1\", \"0\"))"}, u"and(isequal<int>(x, \"1\"), add<int>(x, \"1\"))", nullptr, u"true"},
    {{u"createvar(x, \"ab\")"}, u"strcat(x, \"-\", x)", nullptr, u"ab-ab"},
    {{u"createvar(x, \"ab\")", u"createvar(n, add<int>(\"1\", \"0\"))"}, u"substr(x, n, n)", nullptr, u"b"},
    {{u"createvar(x, \"ab\")"}, u"strsplit(strcat(x, \"|\", x), \"|\")", nullptr, u"[ab, ab]"},
    {{}, u"add<date,days>(\"2024-01-01\", \"10\")", nullptr, u"2024-01-11"},
    {{u"createvar(arr, createarray())"}, u"addtoarray(arr, \"x\")", u"getvar(arr)", u"[x, x]"},
    {{}, u"obj_set(rec, \"a\", \"w\", \"1\")", u"obj_get(rec, \"a\")", u"w"},
};

TEST(StatementCopies, RunAfterTheirOriginalIsGone) {
    for (const copyCase& c : kCopyCases) {
        SCOPED_TRACE(zt::string(c.text).toUtf8());
        testhost::tracker host;
        auto* rec = host.create<testhost::record>();
        rec->fields[u"a"] = zt::genericValue::of(zt::string(u"v"));
        scriptcontext context;
        context.createVariable(scString(u"rec"), testhost::reference(rec));
        auto run = [&](const zt::string& text) {
            clonePtr<statement> st(statement::createFrom(text, 0));
            zt::genericValue result;
            st->exec(context, result);
            return result;
        };
        for (const char16_t* s : c.setup) run(s);

        clonePtr<statement> original(statement::createFrom(c.text, 0));
        ASSERT_TRUE(original);
        clonePtr<statement> copy(original->clone());
        original.reset();
        zt::genericValue result;
        copy->exec(context, result);
        result.clear();
        copy->exec(context, result);
        if (c.check) result = run(c.check);
        zt::string shown;
        ASSERT_TRUE(valueToDisplayText(result, shown));
        EXPECT_EQ(shown, zt::string(c.expected));
    }
}

} // namespace
