// Arrays and maps from C++: arrays made from a host collection, containers held by parameters
// and by reference holders, and containers left unchanged by failing statements.
#include <ztscript.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using namespace zt::script;

namespace {

using zt::intrface::unknown;
using unknownptr = zt::intrface::interfaceptr<unknown>;
using arrayType = std::vector<zt::genericValue>;

// ---------------------------------------------------------------------------------------------
// A small host: element objects and a collection that hands them out through forwardIterator.
// Objects are never freed by release(); the test owns them and checks their counts.

struct counted {
    std::int32_t refs = 0;
    unsigned overReleases = 0;
    std::uint32_t up() { return static_cast<std::uint32_t>(++refs); }
    std::uint32_t down() {
        if (refs == 0) {
            ++overReleases;
            return 0;
        }
        return static_cast<std::uint32_t>(--refs);
    }
};

class element : public unknown {
public:
    explicit element(int tagValue) : tag(tagValue) {}
    std::uint32_t addRef() override { return count.up(); }
    std::uint32_t release() override { return count.down(); }
    int queryInterface(const char16_t* name, unknown*& out) const override {
        return const_cast<element*>(this)->queryInterface(name, out);
    }
    int queryInterface(const char16_t* name, unknown*& out) override {
        out = nullptr;
        if (std::u16string_view(name) != zt::intrface::interfaceName<unknown>()) return 0;
        out = this;
        addRef();
        return 1;
    }

    int tag;
    counted count;
};

class collection : public zt::intrface::forwardIterator {
public:
    std::uint32_t addRef() override { return count.up(); }
    std::uint32_t release() override { return count.down(); }
    int queryInterface(const char16_t* name, unknown*& out) const override {
        return const_cast<collection*>(this)->queryInterface(name, out);
    }
    int queryInterface(const char16_t* name, unknown*& out) override {
        out = nullptr;
        const std::u16string_view wanted(name);
        if (wanted == zt::intrface::interfaceName<unknown>() ||
            wanted == zt::intrface::interfaceName<zt::intrface::forwardIterator>())
            out = this;
        if (!out) return 0;
        addRef();
        return 1;
    }

    void first(unknown*& out) override {
        ++firstCalls;
        position = 0;
        current(out);
    }
    void next(unknown*& out) override {
        ++nextCalls;
        if (failAtNext && nextCalls == failAtNext) throw std::runtime_error("host failure");
        if (position < items.size()) ++position;
        current(out);
    }
    bool isEnd() override { return position >= items.size(); }

    std::vector<element*> items; // null stands for an empty slot
    unsigned firstCalls = 0, nextCalls = 0;
    unsigned failAtNext = 0; // next() throws on that call (0: never)
    counted count;

private:
    void current(unknown*& out) {
        out = nullptr;
        if (position < items.size() && items[position]) {
            out = items[position];
            out->addRef();
        }
    }
    size_t position = 0;
};

// An object that offers no iterator.
class plain : public unknown {
public:
    std::uint32_t addRef() override { return count.up(); }
    std::uint32_t release() override { return count.down(); }
    int queryInterface(const char16_t* name, unknown*& out) const override {
        return const_cast<plain*>(this)->queryInterface(name, out);
    }
    int queryInterface(const char16_t* name, unknown*& out) override {
        out = nullptr;
        if (std::u16string_view(name) != zt::intrface::interfaceName<unknown>()) return 0;
        out = this;
        addRef();
        return 1;
    }
    counted count;
};

zt::genericValue referenceTo(const unknown* object) {
    return zt::genericValue(new zt::genericValue::valueholder<unknownptr>(unknownptr(object)));
}

std::string chainText(const zt::exception& e) {
    std::string out;
    for (const zt::exception* p = &e; p; p = p->inner()) out += p->text().toUtf8() + "\n";
    return out;
}

std::string display(const zt::genericValue& value) {
    zt::string text;
    if (!valueToDisplayText(value, text)) return "?";
    return text.toUtf8();
}

class SetStatements : public ::testing::Test {
protected:
    zt::genericValue run(const zt::string& text) {
        clonePtr<statement> st(statementParser::instance()->createStatementFrom(text, 0));
        if (!st) throw std::runtime_error("no statement: " + text.toUtf8());
        zt::genericValue result;
        st->exec(context, result);
        return result;
    }
    // The messages of the execution error, or "" when the text runs through.
    std::string runError(const zt::string& text) {
        try {
            run(text);
        } catch (const zt::exception& e) {
            return chainText(e);
        } catch (bool) {
            return "false";
        }
        return "";
    }
    std::string variable(const char16_t* name) { return display(context.variable(scString(name))); }

    // Declared first: the host objects outlive the references that the context holds.
    element a{1}, b{2}, c{3};
    collection list;
    plain object; // declared before the context: the context's variables release it
    scriptcontext context;
};

const unknown* referenced(const zt::genericValue& value) {
    const unknownptr* p = value.constPtrTo<unknownptr>();
    return p ? p->get() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Arrays from host collections

TEST_F(SetStatements, ArrayFromHostCollectionHoldsTheElementsInOrder) {
    list.items = {&a, &b, &c};
    context.createVariable(scString(u"o"), referenceTo(&list));

    zt::genericValue result = run(u"createarray(o)");
    const arrayType* elements = result.constPtrTo<arrayType>();
    ASSERT_NE(elements, nullptr);
    ASSERT_EQ(elements->size(), 3u);
    EXPECT_EQ(referenced((*elements)[0]), &a);
    EXPECT_EQ(referenced((*elements)[1]), &b);
    EXPECT_EQ(referenced((*elements)[2]), &c);
    // Counted once, then collected: two walks.
    EXPECT_EQ(list.firstCalls, 2u);
    EXPECT_EQ(list.nextCalls, 6u);
    // Every element handed out was released again; the array holds one reference each.
    EXPECT_EQ(a.count.refs, 1);
    EXPECT_EQ(b.count.refs, 1);
    EXPECT_EQ(c.count.refs, 1);

    result.clear();
    EXPECT_EQ(a.count.refs + b.count.refs + c.count.refs, 0);
    EXPECT_EQ(a.count.overReleases + b.count.overReleases + c.count.overReleases + list.count.overReleases, 0u);
}

TEST_F(SetStatements, ArrayFromHostCollectionKeepsNullElements) {
    list.items = {&a, nullptr, &b};
    context.createVariable(scString(u"o"), referenceTo(&list));
    run(u"createvar(arr, createarray(o))");

    const arrayType* elements = context.variable(scString(u"arr")).constPtrTo<arrayType>();
    ASSERT_NE(elements, nullptr);
    ASSERT_EQ(elements->size(), 3u);
    // A null element is a null object reference, not an empty element.
    ASSERT_TRUE((*elements)[1].is<unknownptr>());
    EXPECT_EQ(referenced((*elements)[1]), nullptr);
    EXPECT_EQ(referenced((*elements)[2]), &b);
    // The array statements work on it like on any array.
    EXPECT_EQ(display(run(u"sizeofarray(arr)")), "3");
    zt::genericValue second = run(u"arrayelement(arr, \"2\")");
    EXPECT_EQ(referenced(second), &b);
    EXPECT_EQ(b.count.refs, 2);
}

TEST_F(SetStatements, ArrayFromEmptyCollectionAndFromObjectWithoutIterator) {
    context.createVariable(scString(u"o"), referenceTo(&list));
    context.createVariable(scString(u"p"), referenceTo(&object));
    EXPECT_EQ(display(run(u"createarray(o)")), "[]");
    EXPECT_EQ(list.firstCalls, 2u);
    EXPECT_EQ(list.nextCalls, 0u);
    EXPECT_EQ(display(run(u"createarray(p)")), "[]");
    EXPECT_EQ(display(run(u"createarray(nullref())")), "[]");
    EXPECT_EQ(object.count.refs, 1); // the variable's reference only
}

TEST_F(SetStatements, HostFailureDuringTheWalkReleasesTheElements) {
    list.items = {&a, &b, &c};
    list.failAtNext = 5; // in the second walk, after a and b were collected
    context.createVariable(scString(u"o"), referenceTo(&list));
    context.createVariable(scString(u"arr"), zt::genericValue::of(zt::string(u"old")));

    EXPECT_NE(runError(u"setvar(arr, createarray(o))"), "");
    EXPECT_EQ(a.count.refs + b.count.refs + c.count.refs, 0);
    EXPECT_EQ(a.count.overReleases + b.count.overReleases + c.count.overReleases, 0u);
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

TEST_F(SetStatements, ErrorsNameTheStatement) {
    run(u"createvar(arr, createarray())");
    const std::string error = runError(u"arrayelement(arr, \"0\")");
    EXPECT_NE(error.find("arrayelement(arr, \"0\")"), std::string::npos);
    EXPECT_NE(error.find("index bigger than array size"), std::string::npos);
}

TEST_F(SetStatements, StatementsCopyDeeply) {
    // One built statement runs in several contexts; clones are independent of the original.
    clonePtr<statement> add(statementParser::instance()->createStatementFrom(u"addtoarray(arr, \"x\")", 0));
    ASSERT_TRUE(add);
    clonePtr<statement> copy(add->clone());
    add.reset();
    scriptcontext other;
    other.createVariable(scString(u"arr"), zt::genericValue::of(arrayType{}));
    zt::genericValue ignored;
    copy->exec(other, ignored);
    copy->exec(other, ignored);
    EXPECT_EQ(display(other.variable(scString(u"arr"))), "[x, x]");
}

} // namespace
