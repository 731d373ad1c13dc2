// Object statements (obj_ and ctxt_ keywords) against the C++ test host: the exact host calls,
// the errors when an object lacks an interface or a call fails, and balanced reference counts.
// The errors scripts see with the demo host's objects are stated by tests/scripts/object.
#include "testhost.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zt::script;
using testhost::unknownptr;

namespace {

class ObjectStatements : public ::testing::Test, protected testhost::scene {
protected:
    static std::string text(const zt::genericValue& v) {
        zt::string t;
        return v.get(t) ? t.toUtf8() : "?";
    }
    // The bool that text gives (false, and a test failure, when it gives no bool).
    bool flag(const zt::string& text) {
        const zt::genericValue v = run(text);
        EXPECT_TRUE(v.is<bool>()) << text.toUtf8();
        return v.is<bool>() && *v.constPtrTo<bool>();
    }
};

using testlib::contains;

// ---------------------------------------------------------------------------------------------
// Typed get and set

struct typeCase {
    const char16_t* type;
    const char16_t* valueText; // a text the type reads
    const char* getCall;       // the getter the engine must call
    const char* setCall;       // the setter the engine must call, with the stored value
};

const typeCase kTypes[] = {
    {u"bool", u"true", "getField<bool>(f)", "setField<bool>(f,true)"},
    {u"short", u"-3", "getField<short>(f)", "setField<short>(f,-3)"},
    {u"int", u"-40000", "getField<int>(f)", "setField<long>(f,-40000)"},
    {u"long", u"70000", "getField<long>(f)", "setField<long>(f,70000)"},
    {u"ushort", u"65535", "getField<ushort>(f)", "setField<ushort>(f,65535)"},
    {u"uint", u"4000000000", "getField<uint>(f)", "setField<uint>(f,4000000000)"},
    {u"ulong", u"4000000001", "getField<ulong>(f)", "setField<ulong>(f,4000000001)"},
    {u"float", u"2.5", "getField<float>(f)", "setField<float>(f,2.5)"},
    {u"double", u"0.1", "getField<double>(f)", "setField<double>(f,0.1)"},
    {u"string", u"abc", "getField<string>(f)", "setField<string>(f,abc)"},
    {u"date", u"2024-02-29", "getField<date>(f)", "setField<date>(f,2024-02-29)"},
    {u"time", u"12:30:05", "getField<time>(f)", "setField<time>(f,12:30:05)"},
    {u"TimeStamp", u"2024-02-29 12:30:05", "getField<timestamp>(f)", "setField<timestamp>(f,2024-02-29 12:30:05)"},
};

TEST_F(ObjectStatements, EachTypeCallsItsOwnSetterAndGetter) {
    for (const auto& c : kTypes) {
        const zt::string type = c.type;
        SCOPED_TRACE(type.toUtf8());
        rec->fields.clear();
        rec->fields[u"f"] = zt::genericValue::of(zt::string(u"x")); // the field exists
        run(u"obj_set<" + type + u">(rec, \"f\", \"" + zt::string(c.valueText) + u"\")");
        EXPECT_EQ(rec->takeCalls(), std::string("hasField(f) ") + c.setCall);

        const zt::genericValue got = run(u"obj_get<" + type + u">(rec, \"f\")");
        EXPECT_EQ(rec->takeCalls(), c.getCall);
        EXPECT_EQ(scriptTypeNameOf(got), type.lower());
        // The value read back is the one stored.
        const std::string stored(c.setCall);
        EXPECT_EQ(text(got), stored.substr(stored.find(',') + 1, stored.size() - stored.find(',') - 2));
    }
    // The ctxt_ forms are the same statements.
    run(u"ctxt_set<double>(rec, \"f\", \"0.1\")");
    EXPECT_EQ(text(run(u"ctxt_get<double>(rec, \"f\")")), "0.1");
    EXPECT_EQ(rec->takeCalls(), "hasField(f) setField<double>(f,0.1) getField<double>(f)");
}

TEST_F(ObjectStatements, WithoutTypeTheFieldIsAString) {
    rec->fields[u"name"] = zt::genericValue::of(zt::string(u"old"));
    run(u"obj_set(rec, \"name\", \"new\")");
    EXPECT_EQ(rec->takeCalls(), "hasField(name) setField<string>(name,new)");
    EXPECT_EQ(testlib::shown(run(u"ctxt_get(rec, \"name\")")), "string: new");
    EXPECT_EQ(rec->takeCalls(), "getField<string>(name)");
}

TEST_F(ObjectStatements, GenericAndArrayGets) {
    rec->fields[u"n"] = zt::genericValue::of(5);
    EXPECT_EQ(testlib::shown(run(u"obj_get<GENERIC>(rec, \"n\")")), "int: 5");
    // The generic getter's failure is not an error: the result is what the host left.
    EXPECT_EQ(error(u"obj_get<generic>(rec, \"missing\")"), "");
    EXPECT_EQ(rec->takeCalls(), "getField<generic>(n) getField<generic>(missing)");

    rec->arrayFields[u"lines"] = {zt::genericValue::of(1), zt::genericValue::of(zt::string(u"b"))};
    for (const char16_t* text : {u"ctxt_getarray(rec, \"lines\")", u"obj_get<array>(rec, \"lines\")"}) {
        const zt::genericValue a = run(text);
        EXPECT_EQ(rec->takeCalls(), "getArrayField(lines)");
        ASSERT_TRUE((a.is<std::vector<zt::genericValue>>()));
        EXPECT_EQ(a.constPtrTo<std::vector<zt::genericValue>>()->size(), 2u);
    }
}

TEST_F(ObjectStatements, GetErrors) {
    EXPECT_TRUE(contains(error(u"obj_get<int>(rec, \"missing\")"),
                         "(error calling the objects get-method for field missing)"));
    EXPECT_EQ(rec->takeCalls(), "getField<int>(missing)");
    rec->withheld = {u"zt::intrface::arrayfieldaccess"};
    EXPECT_TRUE(contains(error(u"ctxt_getarray(rec, \"f\")"), "(unable to retrieve object)"));
    EXPECT_EQ(rec->takeCalls(), "");
}

TEST_F(ObjectStatements, SetChecksTheFieldFirst) {
    // A missing field: the value is not even evaluated.
    EXPECT_TRUE(contains(error(u"obj_set(rec, \"b\", getvar(nosuchvariable))"),
                         "(field \"b\" not found within object)"));
    EXPECT_EQ(rec->takeCalls(), "hasField(b)");
    // A fourth argument that reads as true lets the setter create it.
    run(u"obj_set<short>(rec, \"b\", \"4\", \"1\")");
    EXPECT_EQ(rec->takeCalls(), "hasField(b) setField<short>(b,4)");
    for (const char16_t* flag : {u"\"false\"", u"\"maybe\"", u"list"}) {
        EXPECT_TRUE(contains(error(u"ctxt_set(rec, \"c\", \"x\", " + zt::string(flag) + u")"), "not found within object"))
            << zt::string(flag).toUtf8();
        EXPECT_EQ(rec->takeCalls(), "hasField(c)");
    }
}

TEST_F(ObjectStatements, SetErrors) {
    rec->fields[u"a"] = zt::genericValue::of(1);
    EXPECT_TRUE(contains(error(u"obj_set<int>(rec, \"a\", \"abc\")"), "(unable to retrieve value for field \"a\" (2))"));
    EXPECT_TRUE(contains(error(u"obj_set<short>(rec, \"a\", \"40000\")"), "(unable to retrieve value for field \"a\" (2))"));
    EXPECT_TRUE(contains(error(u"obj_set<int>(rec, \"a\", list)"), "(unable to retrieve value for field \"a\" (2))"));
    EXPECT_EQ(rec->takeCalls(), "hasField(a) hasField(a) hasField(a)");
    rec->failing = {"setField"};
    EXPECT_TRUE(contains(error(u"obj_set<bool>(rec, \"a\", \"true\")"), "(error calling the objects set-method)"));
    EXPECT_EQ(rec->takeCalls(), "hasField(a) setField<bool>(a,true)");
}

TEST_F(ObjectStatements, SetOfAReferenceReachesTheHostAsBool) {
    rec->fields[u"owner"] = zt::genericValue::of(false);
    run(u"obj_set<ref>(rec, \"owner\", other)");
    run(u"obj_set<REF>(rec, \"owner\", nullref())");
    EXPECT_EQ(rec->takeCalls(), "hasField(owner) setField<bool>(owner,true) hasField(owner) setField<bool>(owner,false)");
    EXPECT_EQ(other->refCount(), 1u); // only the context variable
}

// ---------------------------------------------------------------------------------------------
// hasField

TEST_F(ObjectStatements, HasField) {
    rec->fields[u"a"] = zt::genericValue::of(1);
    EXPECT_TRUE(flag(u"obj_has(rec, \"a\")"));
    EXPECT_FALSE(flag(u"ctxt_has(rec, \"b\")"));
    EXPECT_EQ(rec->takeCalls(), "hasField(a) hasField(b)");
}

// ---------------------------------------------------------------------------------------------
// Relations

TEST_F(ObjectStatements, GetRelationHandsBackTheObject) {
    rec->relations[u"owner"] = unknownptr(static_cast<const zt::intrface::unknown*>(other->identity()));
    EXPECT_EQ(other->refCount(), 2u);
    {
        const zt::genericValue r = run(u"obj_getrelation(rec, \"owner\")");
        EXPECT_EQ(rec->takeCalls(), "hasRelation(owner) getRelation(owner)");
        EXPECT_EQ(testhost::referenced(r), other->identity());
        EXPECT_EQ(other->refCount(), 3u);
        // The deletion status is checked but the host receives only the name.
        run(u"obj_getrelation(rec, \"owner\", \"deleted\")");
        EXPECT_EQ(rec->takeCalls(), "hasRelation(owner) getRelation(owner)");
    }
    EXPECT_EQ(other->refCount(), 2u);
    EXPECT_TRUE(contains(error(u"obj_getrelation(rec, \"owner\", list)"), "(Unable to retrieve deletionstatus)"));
    EXPECT_EQ(rec->takeCalls(), "hasRelation(owner)");

    // A relation without an object gives the null reference.
    rec->relations[u"empty"] = unknownptr();
    const zt::genericValue none = run(u"obj_getrelation(rec, \"empty\")");
    ASSERT_TRUE(none.is<unknownptr>());
    EXPECT_FALSE(none.constPtrTo<unknownptr>()->isValid());

    EXPECT_TRUE(contains(error(u"obj_getrelation(rec, \"boss\")"), "(relation \"boss\" not found)"));
    EXPECT_EQ(rec->takeCalls(), "hasRelation(empty) getRelation(empty) hasRelation(boss)");
    rec->failing = {"getRelation"};
    EXPECT_TRUE(contains(error(u"obj_getrelation(rec, \"owner\")"), "(Error retrieving relation \"owner\")"));
}

TEST_F(ObjectStatements, GetRelations) {
    auto* list = host.create<testhost::collection>();
    rec->relationLists[u"lines"] = unknownptr(static_cast<const zt::intrface::unknown*>(list->identity()));
    const zt::genericValue r = run(u"obj_getrelations(rec, \"lines\")");
    EXPECT_EQ(rec->takeCalls(), "hasRelation(lines) getRelations(lines)");
    EXPECT_EQ(testhost::referenced(r), list->identity());
    EXPECT_EQ(list->refCount(), 2u);
    EXPECT_TRUE(contains(error(u"obj_getrelations(rec, \"other\")"), "(relation \"other\" not found)"));
    rec->failing = {"getRelations"};
    EXPECT_TRUE(contains(error(u"obj_getrelations(rec, \"lines\")"), "(Error retrieving relation \"lines\")"));
    EXPECT_EQ(list->refCount(), 2u);
}

TEST_F(ObjectStatements, SetRelation) {
    rec->relations[u"owner"] = unknownptr();
    run(u"obj_setrelation(rec, \"owner\", other)", 1);
    EXPECT_EQ(rec->takeCalls(), "hasRelation(owner) setRelation(owner,ref)");
    EXPECT_EQ(other->refCount(), 2u); // the variable and the record's own reference
    run(u"obj_setrelation(rec, \"owner\", nullref())", -1);
    EXPECT_EQ(rec->takeCalls(), "hasRelation(owner) setRelation(owner,null)");
    EXPECT_EQ(other->refCount(), 1u);

    EXPECT_TRUE(contains(error(u"obj_setrelation(rec, \"owner\", \"5\")"), "(unable to retrieve relation)"));
    EXPECT_TRUE(contains(error(u"obj_setrelation(rec, \"owner\")"), "(unable to retrieve relation)"));
    EXPECT_TRUE(contains(error(u"obj_setrelation(rec, \"boss\", other)"), "(relation \"boss\" not found)"));
    EXPECT_EQ(rec->takeCalls(), "hasRelation(owner) hasRelation(owner) hasRelation(boss)");
    rec->failing = {"setRelation"};
    EXPECT_TRUE(contains(error(u"obj_setrelation(rec, \"owner\", other)"), "(pObject->setRelation failed)"));
    rec->withheld = {u"zt::intrface::relationaccess"};
    EXPECT_TRUE(contains(error(u"obj_setrelation(rec, \"owner\", other)"), "(unable to retrieve object)"));
    EXPECT_EQ(other->refCount(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Transient data

TEST_F(ObjectStatements, TransientDataRoundTrip) {
    run(u"obj_settransientdata(rec, \"slot\", add<int>(\"2\", \"3\"))");
    EXPECT_EQ(rec->takeCalls(), "setTransientData(slot,ref)");
    // The record keeps the only reference of the wrapped value.
    auto* wrapper = dynamic_cast<zt::ifimpl::gvObjectImpl*>(rec->transientData[u"slot"].get());
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->refCount(), 1u);

    EXPECT_TRUE(flag(u"ctxt_hastransientdata(rec, \"slot\")"));
    EXPECT_EQ(testlib::shown(run(u"ctxt_gettransientdata(rec, \"slot\")")), "int: 5");
    EXPECT_EQ(rec->takeCalls(), "hasTransientData(slot) getTransientData(slot)");
    EXPECT_EQ(wrapper->refCount(), 1u);

    // A stored object reference keeps its object alive for as long as the slot holds it.
    run(u"obj_settransientdata(rec, \"slot\", other)", 1);
    EXPECT_EQ(other->refCount(), 2u);
    const zt::genericValue object = run(u"obj_gettransientdata(rec, \"slot\")");
    EXPECT_EQ(testhost::referenced(object), other->identity());

    // Without a value the slot is cleared.
    run(u"obj_settransientdata(rec, \"slot\")", -1);
    EXPECT_EQ(rec->takeCalls(), "setTransientData(slot,ref) getTransientData(slot) setTransientData(slot,null)");
    EXPECT_FALSE(flag(u"obj_hastransientdata(rec, \"slot\")"));
    EXPECT_EQ(other->refCount(), 2u); // the variable and the value read back above
}

TEST_F(ObjectStatements, TransientDataErrors) {
    EXPECT_TRUE(contains(error(u"obj_gettransientdata(rec, \"none\")"), "(Error executing getTransientData)"));
    // An object that the host put into a slot cannot be read by scripts.
    rec->transientData[u"host"] = unknownptr(static_cast<const zt::intrface::unknown*>(other->identity()));
    const std::string hostSlot = error(u"obj_gettransientdata(rec, \"host\")");
    EXPECT_TRUE(contains(hostSlot, "Error executing script")) << hostSlot;
    EXPECT_FALSE(contains(hostSlot, "Error executing getTransientData"));
    EXPECT_EQ(other->refCount(), 2u);

    // A failed store lets the wrapped value go, and with it its reference.
    rec->failing = {"setTransientData"};
    EXPECT_TRUE(contains(error(u"obj_settransientdata(rec, \"slot\", other)"), "(Error executing setTransientData)"));
    EXPECT_EQ(other->refCount(), 2u);
    EXPECT_TRUE(contains(error(u"obj_settransientdata(rec, \"slot\", getvar(nosuchvariable))"), "Variable \"nosuchvariable\" not found"));
}

// ---------------------------------------------------------------------------------------------
// Field properties, events

TEST_F(ObjectStatements, PropertySwitches) {
    zt::genericValue untouched = zt::genericValue::of(42);
    auto runKeeping = [&](const zt::string& text) { testlib::runInto(text, context, untouched); };
    runKeeping(u"obj_setenabled(rec, \"f\")");
    runKeeping(u"obj_setenabled(rec, \"f\", \"false\")");
    runKeeping(u"obj_setenabled(rec, \"f\", \"no idea\")"); // not a bool: the default applies
    runKeeping(u"obj_setdisabled(rec, \"f\")");
    runKeeping(u"obj_setdisabled(rec, \"f\", \"0\")");
    runKeeping(u"obj_setconstant(rec, \"f\")");
    runKeeping(u"obj_setconstant(rec, \"f\", \"false\")");
    EXPECT_EQ(rec->takeCalls(), "setDisabled(f,false) setDisabled(f,true) setDisabled(f,false) setDisabled(f,true) "
                                "setDisabled(f,false) setConstant(f,true) setConstant(f,false)");
    EXPECT_EQ(testlib::shown(untouched), "int: 42");
    // The host's answer to a setter is not looked at.
    rec->failing = {"setDisabled"};
    EXPECT_EQ(error(u"obj_setenabled(rec, \"f\")"), "");
    EXPECT_EQ(host.references(), 2u);
}

TEST_F(ObjectStatements, PropertyTests) {
    rec->disabled[u"d"] = true;
    rec->constant[u"c"] = true;
    EXPECT_FALSE(flag(u"obj_isenabled(rec, \"d\")"));
    EXPECT_TRUE(flag(u"obj_isenabled(rec, \"e\")"));
    EXPECT_TRUE(flag(u"obj_isdisabled(rec, \"d\")"));
    EXPECT_TRUE(flag(u"obj_isconstant(rec, \"c\")"));
    EXPECT_FALSE(flag(u"obj_isconstant(rec, \"d\")"));
    EXPECT_EQ(rec->takeCalls(), "isDisabled(d) isDisabled(e) isDisabled(d) isConstant(c) isConstant(d)");
}

TEST_F(ObjectStatements, Labels) {
    run(u"obj_setlabel(rec, \"f\", \"Name\")");
    run(u"obj_setlabel(rec, \"g\", list)"); // not a text: the empty label
    const zt::genericValue label = run(u"obj_label(rec, \"f\")");
    EXPECT_EQ(text(label), "Name");
    EXPECT_EQ(rec->takeCalls(), "setLabel(f,Name) setLabel(g) getLabel(f)");

    // Only the chosen label is evaluated: the other one may fail.
    run(u"obj_setlabelswitch(rec, \"f\", getvar(nosuchvariable), \"Off\", \"false\")");
    run(u"obj_setlabelswitch(rec, \"f\", \"On\", getvar(nosuchvariable), \"true\")");
    run(u"obj_setlabelswitch(rec, \"f\", getvar(nosuchvariable), \"Off\", \"neither\")");
    EXPECT_EQ(rec->takeCalls(), "setLabel(f,Off) setLabel(f,On) setLabel(f,Off)");
    EXPECT_TRUE(contains(error(u"obj_setlabelswitch(rec, \"f\", getvar(nosuchvariable), \"Off\", \"1\")"),
                         "Variable \"nosuchvariable\" not found"));
}

TEST_F(ObjectStatements, Events) {
    run(u"obj_triggerfieldchange(rec, \"a\")");
    run(u"obj_triggerfieldinfochange(rec, \"b\")");
    EXPECT_EQ(rec->takeCalls(), "triggerFieldChange(a) triggerFieldInfoChange(b)");
    rec->withheld = {u"zt::intrface::triggerEvents"};
    EXPECT_TRUE(contains(error(u"obj_triggerfieldchange(rec, \"a\")"), "(Error retrieving this-pointer (2))"));
    EXPECT_EQ(rec->takeCalls(), "");
    // The errors of the property statements are stated by tests/scripts/object/properties.ztscr;
    // here an object that withholds the interface.
    rec->withheld = {u"zt::intrface::propertyaccess"};
    EXPECT_TRUE(contains(error(u"obj_setlabel(rec, \"f\", \"x\")"), "(Error retrieving this-pointer (2))"));
    EXPECT_EQ(rec->takeCalls(), "");
}

// ---------------------------------------------------------------------------------------------
// Restrictions

TEST_F(ObjectStatements, Restrictions) {
    run(u"obj_setrestriction(rec, \"qty\", \"1..10\")");
    EXPECT_EQ(rec->takeCalls(), "setRestriction(qty,condition)");
    ASSERT_TRUE(rec->restrictions.count(u"qty"));

    auto valid = [&](const zt::string& field) { return flag(u"obj_isfieldvalid(rec, \"" + field + u"\")"); };
    rec->fields[u"qty"] = zt::genericValue::of(5);
    EXPECT_TRUE(valid(u"qty"));
    rec->fields[u"qty"] = zt::genericValue::of(11);
    EXPECT_FALSE(valid(u"qty"));
    EXPECT_EQ(rec->takeCalls(), "getRestriction(qty) getField<generic>(qty) getRestriction(qty) getField<generic>(qty)");
    // Without a restriction the field is not read.
    EXPECT_TRUE(valid(u"name"));
    EXPECT_EQ(rec->takeCalls(), "getRestriction(name)");

    // A text that does not parse clears the restriction.
    run(u"obj_setrestriction(rec, \"qty\", \"this is no condition\")");
    EXPECT_EQ(rec->takeCalls(), "setRestriction(qty,null)");
    EXPECT_TRUE(valid(u"qty"));

    EXPECT_TRUE(contains(error(u"obj_setrestriction(rec, \"qty\", list)"), "(Error retrieving restriction)"));
    EXPECT_EQ(rec->takeCalls(), "getRestriction(qty)");
    rec->withheld = {u"zt::intrface::fieldaccess"};
    EXPECT_TRUE(contains(error(u"obj_isfieldvalid(rec, \"qty\")"), "(Error retrieving this-pointer (3))"));
    rec->withheld = {u"zt::intrface::restrictionsaccess"};
    EXPECT_TRUE(contains(error(u"obj_isfieldvalid(rec, \"qty\")"), "(Error retrieving this-pointer (2))"));
    EXPECT_TRUE(contains(error(u"obj_setrestriction(rec, \"qty\", \"> 1\")"), "(Error retrieving this-pointer (2))"));
    EXPECT_EQ(rec->takeCalls(), "");
}

} // namespace
