// The demo host of the command-line tool: JSON files as host objects.
#include "../../tools/ztscript/demohost.h"
#include "../../tools/ztscript/testcomment.h"
#include "testlib.h"

#include <ztcondition.h>

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <filesystem>
#include <sstream>


namespace {

using namespace ztscript_tool;
using zt::intrface::interfaceptr;
using zt::intrface::unknown;
using unknownptr = interfaceptr<unknown>;
using valueArray = std::vector<zt::genericValue>;

template <class I>
interfaceptr<I> as(const zt::genericValue& reference) {
    const unknownptr* p = reference.constPtrTo<unknownptr>();
    return p ? interfaceptr<I>(*p) : interfaceptr<I>();
}
template <class I>
interfaceptr<I> as(unknown* object) {
    return interfaceptr<I>(static_cast<const unknown*>(object));
}

// The current reference count of an object.
std::uint32_t refs(unknown* p) {
    p->addRef();
    return p->release();
}

unknown* identityOf(const zt::genericValue& reference) { return const_cast<unknown*>(reference.constPtrTo<unknownptr>()->get()); }

// Takes over an object handed out with a reference for the caller.
unknownptr adopt(unknown* p) { return unknownptr::adopt(p); }

std::string textOf(const zt::genericValue& v) {
    zt::string s;
    return v.get(s) ? s.toUtf8() : std::string("<none>");
}

const json kOrder = json::parse(R"({
  "number": "A-17", "count": 3, "big": 12345678901, "negative": -4, "price": 2.5, "paid": true,
  "open": false, "note": null, "tags": ["x", 2, 1.5, false, null], "none": [],
  "customer": {"name": "Ann", "address": {"city": "Graz"}},
  "items": [{"sku": "a", "quantity": 2}, {"sku": "b", "quantity": 5}]
})");

std::string readFile(const std::string& path) { return testlib::readFile(testlib::pathOf(path)); }

// The objects of a collection, walked as for_each walks it.
std::vector<unknownptr> walk(unknown* collection) {
    auto it = as<zt::intrface::forwardIterator>(collection);
    std::vector<unknownptr> out;
    if (!it) return out;
    unknown* e = nullptr;
    it->first(e);
    while (!it->isEnd()) {
        out.push_back(adopt(e));
        it->next(e);
    }
    if (e) e->release();
    return out;
}

std::string fieldText(unknown* object, const char16_t* name) {
    zt::string s;
    if (!as<zt::intrface::fieldaccess>(object)->getField(zt::string(name), s)) return "<failed>";
    return s.toUtf8();
}

// ---------------------------------------------------------------------------------------------
// Mapping

TEST(DemoHost, EachCollectionWalksOnItsOwn) {
    demoHost host;
    const zt::genericValue order = host.fromJson(kOrder);
    auto relations = as<zt::intrface::relationaccess>(order);
    unknown* a = nullptr;
    unknown* b = nullptr;
    ASSERT_TRUE(relations->getRelations(zt::string(u"items"), a));
    ASSERT_TRUE(relations->getRelations(zt::string(u"items"), b));
    unknownptr first = adopt(a), second = adopt(b);
    EXPECT_NE(first.get(), second.get());
    auto outer = as<zt::intrface::forwardIterator>(first.get());
    unknown* e = nullptr;
    outer->first(e);
    unknownptr held = adopt(e);
    EXPECT_EQ(walk(second.get()).size(), 2u); // a nested walk does not move the outer one
    EXPECT_FALSE(outer->isEnd());
    EXPECT_EQ(fieldText(held.get(), u"sku"), "a");
    outer->next(e);
    held = adopt(e);
    EXPECT_EQ(fieldText(held.get(), u"sku"), "b");
    outer->next(e);
    EXPECT_EQ(e, nullptr);
    EXPECT_TRUE(outer->isEnd());
    outer->next(e); // past the end stays there
    EXPECT_TRUE(outer->isEnd());
    // first starts over.
    outer->first(e);
    held = adopt(e);
    EXPECT_EQ(fieldText(held.get(), u"sku"), "a");
}

TEST(DemoHost, RefusesWhatItCannotMap) {
    demoHost host;
    auto refused = [&](const char* text) {
        try {
            host.fromJson(json::parse(text));
        } catch (const demoError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(refused(R"({"a": {"b": [1, {"c": 2}]}})").find("member \"a.b\""), std::string::npos);
    EXPECT_NE(refused(R"({"a": [[1, 2]]})").find("member \"a\""), std::string::npos);
    EXPECT_NE(refused(R"({"list": [{"x": [{}, 3]}]})").find("member \"list[0].x\""), std::string::npos);
    EXPECT_NE(refused("[1, 2]"), "accepted");

    testlib::tempDir dir;
    dir.write("bad.json", "{\"a\": 1,");
    dir.write("list.json", "[{\"a\": 1}]");
    auto loadError = [&](const std::string& path) {
        try {
            host.load(path);
        } catch (const demoError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(loadError(dir.path + "bad.json").find("bad.json"), std::string::npos);
    EXPECT_NE(loadError(dir.path + "list.json").find("one JSON object"), std::string::npos);
    EXPECT_NE(loadError(dir.path + "missing.json").find("cannot read"), std::string::npos);
    EXPECT_TRUE(host.dump().empty()); // nothing half-loaded stays
}

TEST(DemoHost, TheSameFileGivesTheSameObject) {
    testlib::tempDir dir;
    dir.write("o.json", R"({"a": 1})");
    demoHost host;
    const zt::genericValue first = host.load(dir.path + "o.json");
    const zt::genericValue again = host.load(dir.path + "./o.json");
    EXPECT_EQ(identityOf(first), identityOf(again));
    EXPECT_EQ(host.dump().size(), 1u);
    // Objects that do not come from a file are not listed.
    host.fromJson(kOrder);
    EXPECT_EQ(host.dump().size(), 1u);
    EXPECT_TRUE(demoHost::dumpObject(zt::genericValue::of(1)).is_null());
}

// ---------------------------------------------------------------------------------------------
// Reference counts

TEST(DemoHost, ReferenceCountsBalance) {
    const std::size_t before = demoHost::liveObjects();
    {
        demoHost host;
        zt::genericValue order = host.fromJson(kOrder);
        // order, customer, address, two items
        EXPECT_EQ(demoHost::liveObjects(), before + 5);
        unknown* object = identityOf(order);
        EXPECT_EQ(refs(object), 1u);
        {
            auto fields = as<zt::intrface::fieldaccess>(order);
            auto props = as<zt::intrface::propertyaccess>(order);
            EXPECT_EQ(refs(object), 3u);
            // Asking for an interface it does not offer adds nothing.
            unknown* out = reinterpret_cast<unknown*>(1);
            EXPECT_EQ(object->queryInterface(u"zt::intrface::forwardIterator", out), 0);
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(object->queryInterface(u"zt::intrface::fieldaccessX", out), 0);
            EXPECT_EQ(refs(object), 3u);
        }
        EXPECT_EQ(refs(object), 1u);

        auto relations = as<zt::intrface::relationaccess>(order);
        unknown* raw = nullptr;
        ASSERT_TRUE(relations->getRelation(zt::string(u"customer"), raw));
        EXPECT_EQ(refs(raw), 3u); // the order's (current and loaded relation) and ours
        raw->release();
        ASSERT_TRUE(relations->getRelations(zt::string(u"items"), raw));
        EXPECT_EQ(demoHost::liveObjects(), before + 6);
        std::vector<unknownptr> items = walk(raw);
        EXPECT_EQ(refs(items[0].get()), 3u); // the order's list, the collection's snapshot, ours
        raw->release();                      // the collection goes
        EXPECT_EQ(demoHost::liveObjects(), before + 5);
        EXPECT_EQ(refs(items[0].get()), 2u);
        items.clear();

        // setRelation takes its own reference and drops the one it replaces.
        unknown* customer = nullptr;
        relations->getRelation(zt::string(u"customer"), customer);
        unknownptr held = adopt(customer);
        ASSERT_TRUE(relations->setRelation(zt::string(u"customer"), nullptr));
        EXPECT_EQ(refs(customer), 2u); // ours, and the order's record of what it loaded
        ASSERT_TRUE(relations->setRelation(zt::string(u"customer"), customer));
        EXPECT_EQ(refs(customer), 3u);
        EXPECT_FALSE(relations->setRelation(zt::string(u"items"), customer));
        EXPECT_FALSE(relations->setRelation(zt::string(u"missing"), customer));
        EXPECT_EQ(refs(customer), 3u);
    }
    EXPECT_EQ(demoHost::liveObjects(), before);
}

TEST(DemoHost, CyclesAreBrokenWhenTheHostGoes) {
    const std::size_t before = demoHost::liveObjects();
    {
        demoHost host;
        zt::genericValue order = host.fromJson(kOrder);
        unknown* self = identityOf(order);
        // The customer refers back to the order; the order keeps a value that refers to itself.
        unknown* customer = nullptr;
        as<zt::intrface::relationaccess>(order)->getRelation(zt::string(u"customer"), customer);
        unknownptr c = adopt(customer);
        ASSERT_TRUE(as<zt::intrface::relationaccess>(customer)->setRelation(zt::string(u"address"), self));
        unknown* wrapped = zt::ifimpl::wrapValue(order);
        ASSERT_TRUE(as<zt::intrface::transientdataaccess>(order)->setTransientData(zt::string(u"me"), wrapped));
        wrapped->release();
        EXPECT_EQ(demoHost::liveObjects(), before + 5);
        json dumped = demoHost::dumpObject(order);
        EXPECT_EQ(dumped["relations"]["customer"]["relations"]["address"], "<cycle>");
    }
    EXPECT_EQ(demoHost::liveObjects(), before);
}

TEST(DemoHost, ForEachOfAScriptReleasesEveryElement) {
    testlib::tempDir dir;
    static int n = 0;
    const std::string name = "demowalk" + std::to_string(++n);
    dir.write(name + ".ztscr", "scrdef count(in<unknownptr> list)\n"
                               "createvar(n, add<int>(\"0\", \"0\"));\n"
                               "for_each(e, list, setvar(n, add<int>(n, \"1\")));\n"
                               "return(n)\n");
    demoHost host;
    const zt::genericValue order = host.fromJson(kOrder);
    unknown* raw = nullptr;
    ASSERT_TRUE(as<zt::intrface::relationaccess>(order)->getRelations(zt::string(u"items"), raw));
    std::vector<zt::genericValue> args{zt::genericValue(new zt::genericValue::valueholder<unknownptr>(adopt(raw)))};
    const std::size_t live = demoHost::liveObjects();

    {
        zt::script::scriptcontext context;
        zt::genericValue result;
        ASSERT_TRUE(zt::script::codeManager::instance()->executeFunction(
            zt::string::fromUtf8(dir.path), zt::string::fromUtf8("script$" + name + "$count"), context, args, result));
        EXPECT_EQ(textOf(result), "2");
    }
    std::vector<unknownptr> items = walk(raw);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(refs(items[0].get()), 3u); // the order's list, the collection's snapshot, ours
    args.clear();
    EXPECT_EQ(demoHost::liveObjects(), live - 1);
}

// ---------------------------------------------------------------------------------------------
// Getters and setters

TEST(DemoHost, SettersKeepTheFieldsKind) {
    demoHost host;
    const zt::genericValue order = host.fromJson(json::parse(
        R"({"s": "x", "n": 1, "total": 0, "b": false, "nothing": null, "list": [1], "rel": {}})"));
    auto f = as<zt::intrface::fieldaccess>(order);
    zt::genericValue v;
    auto value = [&](const char16_t* name) {
        v.clear();
        f->getField(zt::string(name), v);
        return zt::script::scriptTypeNameOf(v).toUtf8() + ": " + textOf(v);
    };

    // (What scripts set through obj_set is stated by the object scripts; these are the C++ types.)
    EXPECT_TRUE(f->setField(zt::string(u"s"), true));
    EXPECT_EQ(value(u"s"), "string: true");
    EXPECT_TRUE(f->setField(zt::string(u"n"), zt::slong(7)));
    EXPECT_EQ(value(u"n"), "int: 7");
    EXPECT_TRUE(f->setField(zt::string(u"n"), 4000000000u)); // too large for an int: kept
    EXPECT_EQ(value(u"n"), "uint: 4000000000");
    EXPECT_TRUE(f->setField(zt::string(u"total"), 12.5));
    EXPECT_EQ(value(u"total"), "double: 12.5");
    EXPECT_FALSE(f->setField(zt::string(u"total"), zt::string(u"abc")));
    EXPECT_EQ(value(u"total"), "double: 12.5");

    EXPECT_FALSE(f->setField(zt::string(u"b"), zt::string(u"yes")));
    EXPECT_EQ(value(u"b"), "bool: false");

    // A new field takes the value as given.
    EXPECT_FALSE(f->hasField(zt::string(u"added")));
    EXPECT_TRUE(f->setField(zt::string(u"added"), short(3)));
    EXPECT_TRUE(f->hasField(zt::string(u"added")));
    EXPECT_EQ(value(u"added"), "int: 3");

    // Array fields and relations take no scalar.
    EXPECT_FALSE(f->setField(zt::string(u"list"), zt::string(u"1")));
    EXPECT_FALSE(f->setField(zt::string(u"rel"), zt::string(u"1")));
    EXPECT_FALSE(f->hasField(zt::string(u"rel")));
}

// ---------------------------------------------------------------------------------------------
// Properties, events, restrictions, transient data, messages

// What the property interface changes shows in the dump (the interface itself is stated by the
// property scripts).
TEST(DemoHost, PropertiesShowInTheDump) {
    demoHost host;
    const zt::genericValue order = host.fromJson(kOrder);
    auto p = as<zt::intrface::propertyaccess>(order);
    p->setLabel(zt::string(u"count"), zt::string(u"Quantity"));
    p->setDisabled(zt::string(u"count"), true);
    p->setConstant(zt::string(u"number"), true);
    const json dumped = demoHost::dumpObject(order);
    EXPECT_EQ(dumped["properties"]["count"], json::parse(R"({"label": "Quantity", "enabled": false, "constant": false})"));
    EXPECT_EQ(dumped["properties"]["number"]["constant"], true);
}

TEST(DemoHost, EventsAndMessagesAreRecordedAndListed) {
    demoHost host;
    std::ostringstream printed;
    host.setMessageStream(&printed);
    const zt::genericValue order = host.fromJson(kOrder);
    auto m = as<zt::intrface::messagesaccess>(order);
    auto e = as<zt::intrface::triggerEvents>(order);
    e->triggerFieldChange(zt::string(u"count"));
    e->triggerFieldInfoChange(zt::string(u"price"));
    m->addMessage(zt::string(u"E1"), 2, zt::locString(zt::string(u"E1"), zt::string(u"Count too low")));
    m->addMessage(zt::string(u"W1"), 1, zt::locString(zt::string(u"W1"), zt::string(u"Check price")));
    m->addMessage(zt::string(u"N1"), 0, zt::locString(zt::string(u"N1"), zt::string(u"Fine")));
    m->addMessage(zt::string(u"E1"), 2, zt::locString(zt::string(u"E1"), zt::string(u"Count still too low")));
    EXPECT_EQ(printed.str(), "message error E1: Count too low\nmessage warning W1: Check price\n"
                             "message info N1: Fine\nmessage error E1: Count still too low\n");

    auto arrays = as<zt::intrface::arrayfieldaccess>(order);
    valueArray list;
    ASSERT_TRUE(arrays->getArrayField(zt::string(u"#messages"), list));
    ASSERT_EQ(list.size(), 3u); // the second E1 replaced the first
    EXPECT_EQ(textOf(list[0]), "error E1: Count still too low");
    EXPECT_EQ(textOf(list[2]), "info N1: Fine");
    EXPECT_TRUE(m->removeMessage(zt::string(u"W1")));
    EXPECT_FALSE(m->removeMessage(zt::string(u"W1")));
    ASSERT_TRUE(arrays->getArrayField(zt::string(u"#events"), list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(textOf(list[0]), "change count");
    EXPECT_EQ(textOf(list[1]), "infochange price");
    EXPECT_FALSE(as<zt::intrface::fieldaccess>(order)->hasField(zt::string(u"#messages")));

    const json dumped = demoHost::dumpObject(order);
    EXPECT_EQ(dumped["messages"], json::parse(R"([{"id": "E1", "severity": "error", "text": "Count still too low"},
                                                  {"id": "N1", "severity": "info", "text": "Fine"}])"));
    EXPECT_EQ(dumped["events"], json::parse(R"(["change count", "infochange price"])"));
}

TEST(DemoHost, RestrictionsAreKeptAndJudgedInTheDump) {
    demoHost host;
    const zt::genericValue order = host.fromJson(kOrder);
    auto r = as<zt::intrface::restrictionsaccess>(order);
    zt::intrface::conditionPtr got;
    r->getRestriction(got, zt::string(u"count"));
    EXPECT_FALSE(got);
    zt::intrface::conditionPtr positive(zt::conditions::condition::parse(zt::string(u"> 5")));
    ASSERT_TRUE(positive);
    r->setRestriction(zt::string(u"count"), positive);
    r->getRestriction(got, zt::string(u"count"));
    EXPECT_EQ(got.get(), positive.get());
    EXPECT_EQ(demoHost::dumpObject(order)["restrictions"], json::parse(R"({"count": {"valid": false}})"));
    as<zt::intrface::fieldaccess>(order)->setField(zt::string(u"count"), zt::slong(9));
    EXPECT_EQ(demoHost::dumpObject(order)["restrictions"], json::parse(R"({"count": {"valid": true}})"));
    r->setRestriction(zt::string(u"count"), nullptr);
    r->getRestriction(got, zt::string(u"count"));
    EXPECT_FALSE(got);
    EXPECT_TRUE(demoHost::dumpObject(order)["restrictions"].empty());
}

TEST(DemoHost, TransientDataKeepsItsOwnReference) {
    demoHost host;
    const zt::genericValue order = host.fromJson(kOrder);
    auto t = as<zt::intrface::transientdataaccess>(order);
    unknown* out = nullptr;
    EXPECT_FALSE(t->hasTransientData(zt::string(u"x")));
    EXPECT_FALSE(t->getTransientData(zt::string(u"x"), out));

    unknown* wrapped = zt::ifimpl::wrapValue(zt::genericValue::of(zt::string(u"kept")));
    ASSERT_TRUE(t->setTransientData(zt::string(u"x"), wrapped));
    EXPECT_EQ(refs(wrapped), 2u);
    ASSERT_TRUE(t->getTransientData(zt::string(u"x"), out));
    EXPECT_EQ(out, wrapped);
    EXPECT_EQ(refs(wrapped), 3u);
    out->release();
    EXPECT_EQ(demoHost::dumpObject(order)["transient"]["x"], "kept");
    // Replacing and clearing drop the kept reference.
    unknown* other = zt::ifimpl::wrapValue(zt::genericValue::of(1));
    ASSERT_TRUE(t->setTransientData(zt::string(u"x"), other));
    EXPECT_EQ(refs(wrapped), 1u);
    ASSERT_TRUE(t->setTransientData(zt::string(u"x"), nullptr));
    EXPECT_EQ(refs(other), 1u);
    EXPECT_FALSE(t->hasTransientData(zt::string(u"x")));
    wrapped->release();
    other->release();
}

// ---------------------------------------------------------------------------------------------
// Dump and save

TEST(DemoHost, SaveWritesTheFieldsBackInTheFilesShape) {
    testlib::tempDir dir;
    const std::string original = R"({"z": 1, "a": "x", "total": 0, "price": 2.0, "customer": {"name": "Ann"},
                                     "items": [{"q": 1}, {"q": 2}], "tags": [1, "b"], "none": [], "note": null})";
    dir.write("o.json", original);
    const std::string path = dir.path + "o.json";
    auto fileJson = [&] { return json::parse(readFile(path)); };
    {
        demoHost host;
        host.load(path);
        host.save(); // unchanged: the same document, members in their order
    }
    EXPECT_EQ(fileJson(), json::parse(original));
    EXPECT_EQ(fileJson().begin().key(), "z");
    EXPECT_TRUE(fileJson()["price"].is_number_float());

    {
        demoHost host;
        const zt::genericValue o = host.load(path);
        auto f = as<zt::intrface::fieldaccess>(o);
        f->setField(zt::string(u"total"), 60.0); // a whole value of an integer field: an integer
        f->setField(zt::string(u"price"), 3.0);  // of a floating field: stays floating
        f->setField(zt::string(u"a"), zt::string(u"y"));
        f->setField(zt::string(u"added"), true);
        unknown* raw = nullptr;
        as<zt::intrface::relationaccess>(o)->getRelations(zt::string(u"items"), raw);
        std::vector<unknownptr> items = walk(raw);
        raw->release();
        as<zt::intrface::fieldaccess>(items[1].get())->setField(zt::string(u"q"), zt::slong(7));
        // A relation changed by the script is not saved: the loaded customer is.
        as<zt::intrface::relationaccess>(o)->getRelation(zt::string(u"customer"), raw);
        as<zt::intrface::fieldaccess>(raw)->setField(zt::string(u"name"), zt::string(u"Bo"));
        as<zt::intrface::relationaccess>(o)->setRelation(zt::string(u"customer"), nullptr);
        raw->release();
        EXPECT_TRUE(demoHost::dumpObject(o)["relations"]["customer"].is_null());
        host.save();
    }
    const json saved = fileJson();
    EXPECT_EQ(saved, json::parse(R"({"z": 1, "a": "y", "total": 60, "price": 3.0, "customer": {"name": "Bo"},
                                     "items": [{"q": 1}, {"q": 7}], "tags": [1, "b"], "none": [], "note": null,
                                     "added": true})"));
    EXPECT_TRUE(saved["total"].is_number_integer());
    EXPECT_TRUE(saved["price"].is_number_float());
    EXPECT_EQ((--saved.end()).key(), "added");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(DemoHost, SaveReportsAFileItCannotWrite) {
    testlib::tempDir dir;
    dir.write("sub/o.json", R"({"a": 1})");
    demoHost host;
    host.load(dir.path + "sub/o.json");
    std::filesystem::remove_all(dir.path + "sub");
    EXPECT_THROW(host.save(), demoError);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Test comments and the tool

namespace {

TEST(DemoHostTestComment, ObjectArguments) {
    testCase tc;
    zt::string error;
    ASSERT_EQ(parseTestComment(zt::string(uR"(// test f(@order.json, "@x", @ "a b.json" , @sub/o.json) -> 1)"), tc, error),
              commentKind::test)
        << error.toUtf8();
    ASSERT_EQ(tc.args.size(), 4u);
    EXPECT_TRUE(tc.args[0].isObject);
    EXPECT_EQ(tc.args[0].text, u"order.json");
    EXPECT_FALSE(tc.args[1].isObject); // quoted: a text
    EXPECT_EQ(tc.args[1].text, u"@x");
    EXPECT_TRUE(tc.args[2].isObject);
    EXPECT_EQ(tc.args[2].text, u"a b.json");
    EXPECT_EQ(tc.args[3].text, u"sub/o.json");
    EXPECT_EQ(describeCall(tc), u"f(@order.json, \"@x\", @\"a b.json\", @sub/o.json)");

    EXPECT_EQ(parseTestComment(zt::string(u"// test f(@) -> 1"), tc, error), commentKind::malformed);
    EXPECT_EQ(parseTestComment(zt::string(u"// test f(@ , \"x\") -> 1"), tc, error), commentKind::malformed);
    EXPECT_EQ(parseTestComment(zt::string(u"// test f(@\"open) -> 1"), tc, error), commentKind::malformed);
}

namespace fs = std::filesystem;

using toolRun = testlib::programRun;


class DemoHostTool : public ::testing::Test {
protected:
    void SetUp() override {
        mTool = testlib::builtProgram("ztscript");
        if (mTool.empty()) GTEST_SKIP() << "the ztscript tool is not built beside the unit tests";
        dir.write("s.ztscr", "scrdef f(in<unknownptr> o)\n"
                             "  obj_set<double>(o, \"total\", \"60\");\n"
                             "  obj_setlabel(o, \"total\", \"Total\");\n"
                             "  objmsg_add(o, \"E1\", \"error\", locstring(\"E1\", \"Too much\"));\n"
                             "  return(obj_get(o, \"total\"))\n"
                             "scrdef fails(in<unknownptr> o)\n"
                             "  obj_set(o, \"name\", \"changed\");\n"
                             "  throwerror(\"stop\")\n");
        dir.write("o.json", R"({"name": "x", "total": 0, "sub": {"a": 1}})");
    }

    // Runs the tool in folder (default: the temporary folder).
    toolRun run(const std::vector<std::string>& args, const std::string& folder = std::string()) {
        return testlib::runProgram(mTool, args, folder.empty() ? dir.path : folder);
    }

    std::string mTool;
    testlib::tempDir dir;
};

TEST_F(DemoHostTool, RunPassesObjectsDumpsAndSavesThem) {
    const std::string original = readFile(dir.path + "o.json");
    toolRun r = run({"run", "s.ztscr", "f", "@o.json", "--dump-objects"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "message error E1: Too much\n");
    ASSERT_EQ(r.out.rfind("60\n[", 0), 0u) << r.out;
    const json dumped = json::parse(r.out.substr(3));
    ASSERT_EQ(dumped.size(), 1u);
    EXPECT_EQ(dumped[0]["file"], "o.json");
    EXPECT_EQ(dumped[0]["fields"]["total"], 60);
    EXPECT_EQ(dumped[0]["properties"]["total"]["label"], "Total");
    EXPECT_EQ(dumped[0]["messages"][0]["id"], "E1");
    EXPECT_EQ(dumped[0]["relations"]["sub"]["fields"]["a"], 1);
    EXPECT_EQ(readFile(dir.path + "o.json"), original); // not saved without --save

    r = run({"run", "s.ztscr", "f", "@o.json", "--save"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "60\n");
    EXPECT_EQ(json::parse(readFile(dir.path + "o.json")), json::parse(R"({"name": "x", "total": 60, "sub": {"a": 1}})"));

    // A failed script saves nothing; the dump still shows what it changed.
    r = run({"run", "s.ztscr", "fails", "@o.json", "--save", "--dump-objects"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("stop"), std::string::npos) << r.err;
    EXPECT_EQ(json::parse(r.out)[0]["fields"]["name"], "changed");
    EXPECT_EQ(json::parse(readFile(dir.path + "o.json"))["name"], "x");
}

// --save replaces the file as a whole but keeps what the file system knows about it: its mode,
// and a link stays a link to the file that gets the content.
TEST_F(DemoHostTool, SaveKeepsModeAndLinks) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX modes, and symbolic links need privileges there";
#else
    const fs::path file = testlib::pathOf(dir.path + "o.json");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    toolRun r = run({"run", "s.ztscr", "f", "@o.json", "--save"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(readFile(dir.path + "o.json"))["total"], 60);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    fs::create_directories(testlib::pathOf(dir.path + "data"));
    dir.write("data/real.json", R"({"name": "x", "total": 1})");
    fs::create_symlink("data/real.json", testlib::pathOf(dir.path + "link.json"));
    r = run({"run", "s.ztscr", "f", "@link.json", "--save"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(testlib::pathOf(dir.path + "link.json")));
    EXPECT_EQ(json::parse(readFile(dir.path + "data/real.json"))["total"], 60);

    // A folder that cannot be written: the save fails and the file stays as it was.
    fs::permissions(testlib::pathOf(dir.path + "data"), fs::perms::owner_read | fs::perms::owner_exec);
    dir.write("t.ztscr", "scrdef f(in<unknownptr> o)\n  obj_set<int>(o, \"total\", \"7\")\n");
    r = run({"run", "t.ztscr", "f", "@data/real.json", "--save"});
    fs::permissions(testlib::pathOf(dir.path + "data"), fs::perms::owner_all);
    if (::geteuid() != 0) { // root writes anyway
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("cannot write the file"), std::string::npos) << r.err;
        EXPECT_EQ(json::parse(readFile(dir.path + "data/real.json"))["total"], 60);
    }
#endif
}

TEST_F(DemoHostTool, ObjectArgumentsThatCannotBeLoaded) {
    toolRun r = run({"run", "s.ztscr", "f", "@missing.json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "error: cannot load the host object \"missing.json\": cannot read the file\n");
    EXPECT_EQ(r.out, "");
    dir.write("bad.json", "{\"a\": [1, {}]}");
    r = run({"run", "s.ztscr", "f", "@bad.json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("member \"a\""), std::string::npos) << r.err;
    // "@@" still passes a text.
    dir.write("t.ztscr", "scrdef echo(in<string> s)\n  return(s)\n");
    r = run({"run", "t.ztscr", "echo", "@@o.json"});
    EXPECT_EQ(r.out, "@o.json\n");
}

TEST_F(DemoHostTool, TestCommentsFindObjectsBesideTheTestFile) {
    dir.write("sub/t.ztscr", "// test f(@o.json) -> 60\n"
                             "// test f(@o.json) -> 60\n"
                             "// test f(@none.json) !> cannot load the host object \"none.json\"\n"
                             "scrdef f(in<unknownptr> o)\n"
                             "  obj_set<int>(o, \"total\", add<int>(obj_get<int>(o, \"total\"), \"60\"));\n"
                             "  return(obj_get(o, \"total\"))\n");
    dir.write("sub/o.json", R"({"total": 0})");
    // Run from another folder; each test gets the object fresh from the file, and nothing is saved.
    toolRun r = run({"test", dir.path + "sub/t.ztscr"}, fs::path(dir.path).root_path().string());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("3 passed, 0 failed"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(json::parse(readFile(dir.path + "sub/o.json"))["total"], 0);
}

TEST_F(DemoHostTool, StringsAndLanguageOptions) {
    dir.write("cat/strings.de.txt", "E1=Viel zu viel\n");
    toolRun r = run({"run", "--strings", "cat", "--lang", "de", "s.ztscr", "f", "@o.json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "message error E1: Viel zu viel\n");
    r = run({"run", "--strings", "cat", "--lang", "fr", "s.ztscr", "f", "@o.json"});
    EXPECT_EQ(r.err, "message error E1: Too much\n");

    dir.write("l.ztscr", "// test f() -> Viel zu viel\n"
                         "scrdef f()\n  return(locstring_getstring(locstring(\"E1\", \"Too much\")))\n");
    r = run({"test", "--strings", "cat", "--lang", "de", "l.ztscr"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    r = run({"test", "l.ztscr"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
}

// The exact text of --dump-objects and of --save: two blanks of indentation per level, an object
// or array of plain values on one line as long as that takes at most 100 characters, and an
// integer too large for an int written as the integer it was.
TEST_F(DemoHostTool, DumpAndSaveLayout) {
    dir.write("l.ztscr", "scrdef touch(in<unknownptr> o)\n"
                         "  obj_set(o, \"small\", \"8\");\n"
                         "  return(obj_get(o, \"small\"))\n");
    const std::string tags = R"(["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta"])"; // 70 characters
    std::string codes;
    for (int i = 1; i <= 12; ++i) codes += std::string(codes.empty() ? "" : ", ") + "\"code-" + (i < 10 ? "0" : "") + std::to_string(i) + "\"";
    dir.write("l.json", R"({"name": "x", "big": 3000000000, "small": 7, "tags": )" + tags + R"(, "codes": [)" + codes +
                            R"(], "sub": {"a": 1}, "items": [{"q": 1}, {"q": 2}]})");
    // The 132 characters of codes, one element per line at the given indentation.
    auto codesBlock = [](const std::string& indent) {
        std::string out = "[\n";
        for (int i = 1; i <= 12; ++i)
            out += indent + "  \"code-" + (i < 10 ? "0" : "") + std::to_string(i) + "\"" + (i < 12 ? ",\n" : "\n");
        return out + indent + "]";
    };
    auto property = [](const std::string& name) {
        return "{\"label\": \"" + name + "\", \"enabled\": true, \"constant\": false}";
    };
    auto related = [&](const std::string& indent, const std::string& field, int value) {
        return "{\n" +
               indent + "  \"fields\": {\"" + field + "\": " + std::to_string(value) + "},\n" +
               indent + "  \"properties\": {\n" +
               indent + "    \"" + field + "\": " + property(field) + "\n" +
               indent + "  },\n" +
               indent + "  \"restrictions\": {},\n" +
               indent + "  \"messages\": [],\n" +
               indent + "  \"relations\": {}\n" +
               indent + "}";
    };
    const std::string dump =
        "8\n"
        "[\n"
        "  {\n"
        "    \"file\": \"l.json\",\n"
        "    \"fields\": {\n"
        "      \"name\": \"x\",\n"
        "      \"big\": 3000000000,\n"
        "      \"small\": 8,\n"
        "      \"tags\": " + tags + ",\n"
        "      \"codes\": " + codesBlock("      ") + "\n"
        "    },\n"
        "    \"properties\": {\n"
        "      \"name\": " + property("name") + ",\n"
        "      \"big\": " + property("big") + ",\n"
        "      \"small\": " + property("small") + ",\n"
        "      \"tags\": " + property("tags") + ",\n"
        "      \"codes\": " + property("codes") + "\n"
        "    },\n"
        "    \"restrictions\": {},\n"
        "    \"messages\": [],\n"
        "    \"relations\": {\n"
        "      \"sub\": " + related("      ", "a", 1) + ",\n"
        "      \"items\": [\n"
        "        " + related("        ", "q", 1) + ",\n"
        "        " + related("        ", "q", 2) + "\n"
        "      ]\n"
        "    }\n"
        "  }\n"
        "]\n";
    toolRun r = run({"run", "l.ztscr", "touch", "@l.json", "--dump-objects"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, dump);

    r = run({"run", "l.ztscr", "touch", "@l.json", "--save"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir.path + "l.json"),
              "{\n"
              "  \"name\": \"x\",\n"
              "  \"big\": 3000000000,\n"
              "  \"small\": 8,\n"
              "  \"tags\": " + tags + ",\n"
              "  \"codes\": " + codesBlock("  ") + ",\n"
              "  \"sub\": {\"a\": 1},\n"
              "  \"items\": [\n"
              "    {\"q\": 1},\n"
              "    {\"q\": 2}\n"
              "  ]\n"
              "}\n");
}

} // namespace
