// Arrays and maps from C++: arrays made from a host collection, containers held by parameters
// and by reference holders, and containers left unchanged by failing statements.
#include "testhost.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace zt::script;

namespace {

using testhost::unknownptr;
using arrayType = std::vector<zt::genericValue>;

std::string display(const zt::genericValue& value) {
    zt::string text;
    if (!valueToDisplayText(value, text)) return "?";
    return text.toUtf8();
}

class SetStatements : public ::testing::Test {
protected:
    zt::genericValue run(const zt::string& text) { return testlib::run(text, context); }
    std::string runError(const zt::string& text) { return testlib::runError(text, context); }
    std::string variable(const char16_t* name) { return display(context.variable(scString(name))); }

    // Declared first: the host objects outlive the references that the context holds.
    testhost::tracker host;
    testhost::plainObject* a = host.create<testhost::plainObject>(1);
    testhost::plainObject* b = host.create<testhost::plainObject>(2);
    testhost::plainObject* c = host.create<testhost::plainObject>(3);
    testhost::collection* list = host.create<testhost::collection>();
    testhost::plainObject* object = host.create<testhost::plainObject>(); // offers no iterator
    scriptcontext context;

    void fill(std::initializer_list<testhost::plainObject*> items) {
        for (auto* item : items) item ? list->add(item->identity()) : list->addNull();
    }
};

using testhost::referenced;

// ---------------------------------------------------------------------------------------------
// Arrays from host collections

TEST_F(SetStatements, ArrayFromHostCollectionHoldsTheElementsInOrder) {
    fill({a, nullptr, b, c});
    context.createVariable(scString(u"o"), testhost::reference(list));
    run(u"createvar(arr, createarray(o))");

    const arrayType* elements = context.variable(scString(u"arr")).constPtrTo<arrayType>();
    ASSERT_NE(elements, nullptr);
    ASSERT_EQ(elements->size(), 4u);
    EXPECT_EQ(referenced((*elements)[0]), a->identity());
    // A null element is a null object reference, not an empty element.
    ASSERT_TRUE((*elements)[1].is<unknownptr>());
    EXPECT_EQ(referenced((*elements)[1]), nullptr);
    EXPECT_EQ(referenced((*elements)[2]), b->identity());
    EXPECT_EQ(referenced((*elements)[3]), c->identity());
    // Counted once, then collected: two walks.
    EXPECT_EQ(list->firstCalls, 2u);
    EXPECT_EQ(list->nextCalls, 8u);
    // Every element handed out was released again; besides the collection's own reference, the
    // array holds one each.
    EXPECT_EQ(a->refCount() + b->refCount() + c->refCount(), 6u);

    // The array statements work on it like on any array.
    EXPECT_EQ(display(run(u"sizeofarray(arr)")), "4");
    zt::genericValue third = run(u"arrayelement(arr, \"2\")");
    EXPECT_EQ(referenced(third), b->identity());
    EXPECT_EQ(b->refCount(), 3u); // the collection, the array and third
    third.clear();
    run(u"setvar(arr, createarray())");
    EXPECT_EQ(a->refCount() + b->refCount() + c->refCount(), 3u);
    EXPECT_EQ(host.overReleases(), 0u);
}

TEST_F(SetStatements, ArrayFromEmptyCollectionAndFromObjectWithoutIterator) {
    context.createVariable(scString(u"o"), testhost::reference(list));
    context.createVariable(scString(u"p"), testhost::reference(object));
    EXPECT_EQ(display(run(u"createarray(o)")), "[]");
    EXPECT_EQ(list->firstCalls, 2u);
    EXPECT_EQ(list->nextCalls, 0u);
    EXPECT_EQ(display(run(u"createarray(p)")), "[]");
    EXPECT_EQ(display(run(u"createarray(nullref())")), "[]");
    EXPECT_EQ(object->refCount(), 1u); // the variable's reference only
}

TEST_F(SetStatements, HostFailureDuringTheWalkReleasesTheElements) {
    fill({a, b, c});
    list->failAtNext = 5; // in the second walk, after a and b were collected
    context.createVariable(scString(u"o"), testhost::reference(list));
    context.createVariable(scString(u"arr"), zt::genericValue::of(zt::string(u"old")));

    EXPECT_NE(runError(u"setvar(arr, createarray(o))"), "");
    EXPECT_EQ(a->refCount() + b->refCount() + c->refCount(), 3u); // the collection's own
    EXPECT_EQ(host.overReleases(), 0u);
    EXPECT_EQ(variable(u"arr"), "old");
}

// ---------------------------------------------------------------------------------------------
// Where containers live

TEST_F(SetStatements, ContainersHeldByParametersAreFoundByTheirExactName) {
    context.setParameter(scString(u"list"), zt::genericValue::of(arrayType{}));
    context.setParameter(scString(u"Map"), zt::genericValue::of(std::map<int, zt::genericValue>{}));
    run(u"addtoarray(list, \"x\")");
    run(u"insertintomap<int>(Map, \"1\", \"one\")");
    EXPECT_EQ(display(context.parameter(scString(u"list"))), "[x]");
    EXPECT_EQ(display(context.parameter(scString(u"Map"))), "{1: one}");
    EXPECT_NE(runError(u"insertintomap<int>(map, \"1\", \"one\")").find("Map not found"), std::string::npos);
    EXPECT_NE(runError(u"addtoarray(List, \"x\")").find("Error retrieving array"), std::string::npos);
}

TEST_F(SetStatements, ReferenceHoldersWriteThroughAndReadOnlyOnesRefuse) {
    arrayType hostArray{zt::genericValue::of(zt::string(u"h"))};
    context.createVariable(scString(u"byref"),
                           zt::genericValue(new zt::genericValue::ptrholder<arrayType>(&hostArray)));
    run(u"addtoarray(byref, \"added\")");
    ASSERT_EQ(hostArray.size(), 2u);
    EXPECT_EQ(display(hostArray[1]), "added");

    const arrayType frozen{zt::genericValue::of(zt::string(u"f"))};
    context.createVariable(scString(u"readonly"),
                           zt::genericValue(new zt::genericValue::constptrholder<arrayType>(&frozen)));
    EXPECT_NE(runError(u"addtoarray(readonly, \"x\")").find("addtoarray(readonly, \"x\")"), std::string::npos);
    EXPECT_EQ(frozen.size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Failing statements leave the container as it was

TEST_F(SetStatements, FailuresLeaveTheContainerAlone) {
    run(u"createvar(arr, createarray())");
    run(u"addtoarray(arr, \"1\")");
    run(u"createvar(m, createmap<short>())");
    run(u"insertintomap<short>(m, \"1\", \"one\")");

    EXPECT_NE(runError(u"addtoarray(arr, throwerror(\"boom\"))").find("boom"), std::string::npos);
    EXPECT_NE(runError(u"insertintomap<short>(m, \"1\", throwerror(\"boom\"))").find("boom"), std::string::npos);
    EXPECT_NE(runError(u"insertintomap<short>(m, \"2\", throwerror(\"boom\"))").find("boom"), std::string::npos);
    EXPECT_NE(runError(u"insertintomap<short>(m, \"99999\", \"x\")").find("Error retrieving key"), std::string::npos);
    EXPECT_NE(runError(u"arrayelement(arr, \"1\")").find("index bigger than array size"), std::string::npos);
    EXPECT_EQ(variable(u"arr"), "[1]");
    EXPECT_EQ(variable(u"m"), "{1: one}");
}

} // namespace
