// Host object interfaces: names, smart pointers, script values as objects, object references
// in values and their conversion to bool.
#include "testhost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

using namespace zt::intrface;
using testhost::unknownptr;

namespace {

// Counts const and non-const queries separately (the plain test objects forward const to
// non-const, which would hide the difference).
class queryCounter : public testhost::record {
public:
    using record::record;
    int queryInterface(const char16_t* name, unknown*& out) const override {
        ++constQueries;
        return const_cast<queryCounter*>(this)->record::queryInterface(name, out);
    }
    int queryInterface(const char16_t* name, unknown*& out) override {
        ++mutableQueries;
        return record::queryInterface(name, out);
    }
    mutable unsigned constQueries = 0;
    unsigned mutableQueries = 0;
};

} // namespace

TEST(InterfaceNames, AreTheQualifiedTypeNames) {
    const std::pair<const char16_t*, const char16_t*> names[] = {
        {interfaceName<unknown>(), u"zt::intrface::unknown"},
        {interfaceName<fieldaccess>(), u"zt::intrface::fieldaccess"},
        {interfaceName<arrayfieldaccess>(), u"zt::intrface::arrayfieldaccess"},
        {interfaceName<propertyaccess>(), u"zt::intrface::propertyaccess"},
        {interfaceName<triggerEvents>(), u"zt::intrface::triggerEvents"},
        {interfaceName<restrictionsaccess>(), u"zt::intrface::restrictionsaccess"},
        {interfaceName<relationaccess>(), u"zt::intrface::relationaccess"},
        {interfaceName<transientdataaccess>(), u"zt::intrface::transientdataaccess"},
        {interfaceName<messagesaccess>(), u"zt::intrface::messagesaccess"},
        {interfaceName<forwardIterator>(), u"zt::intrface::forwardIterator"},
        // A host's own interface is named the same way.
        {interfaceName<testhost::marker>(), u"testhost::marker"},
    };
    for (const auto& [name, expected] : names) EXPECT_EQ(std::u16string(name), expected);
}

TEST(InterfaceNames, TypeNameWithKeywordDropsTheKeyword) {
    EXPECT_EQ(interfaceNameFromTypeName("struct zt::intrface::fieldaccess"), u"zt::intrface::fieldaccess");
    EXPECT_EQ(interfaceNameFromTypeName("class a::b"), u"a::b");
}

#if defined(__GNUC__) || defined(__clang__)
// The engine calls the host only through these positions; a host compiled against them must
// find each operation where the engine looks for it.
TEST(InterfaceLayout, OperationsSitInTheirSlots) {
    // Slots are counted from 1; the Itanium vtable has no destructor entries in unknown, so the
    // n-th operation is at index n - 1.
    auto slotOf = [](auto member) {
        static_assert(sizeof(member) == 2 * sizeof(void*));
        std::uintptr_t raw[2];
        std::memcpy(raw, &member, sizeof(raw));
        return static_cast<long>((raw[0] - 1) / sizeof(void*) + 1);
    };
    EXPECT_EQ(slotOf(&unknown::addRef), 1);
    EXPECT_EQ(slotOf(&unknown::release), 2);
    EXPECT_EQ(slotOf(static_cast<int (unknown::*)(const char16_t*, unknown*&) const>(&unknown::queryInterface)), 3);
    EXPECT_EQ(slotOf(static_cast<int (unknown::*)(const char16_t*, unknown*&)>(&unknown::queryInterface)), 4);
    EXPECT_EQ(slotOf(&fieldaccess::hasField), 5);
    EXPECT_EQ(slotOf(static_cast<bool (fieldaccess::*)(const zt::string&, zt::genericValue&)>(&fieldaccess::getField)), 6);
    EXPECT_EQ(slotOf(static_cast<bool (fieldaccess::*)(const zt::string&, zt::timestamp&)>(&fieldaccess::getField)), 7);
    EXPECT_EQ(slotOf(static_cast<bool (fieldaccess::*)(const zt::string&, zt::string&)>(&fieldaccess::getField)), 10);
    EXPECT_EQ(slotOf(static_cast<bool (fieldaccess::*)(const zt::string&, int&)>(&fieldaccess::getField)), 17);
    EXPECT_EQ(slotOf(static_cast<bool (fieldaccess::*)(const zt::string&, bool&)>(&fieldaccess::getField)), 19);
    EXPECT_EQ(slotOf(static_cast<bool (fieldaccess::*)(const zt::string&, const zt::timestamp&)>(&fieldaccess::setField)), 21);
    EXPECT_EQ(slotOf(static_cast<bool (fieldaccess::*)(const zt::string&, zt::slong)>(&fieldaccess::setField)), 30);
    EXPECT_EQ(slotOf(static_cast<bool (fieldaccess::*)(const zt::string&, bool)>(&fieldaccess::setField)), 32);
    EXPECT_EQ(slotOf(&arrayfieldaccess::getArrayField), 5);
    EXPECT_EQ(slotOf(&propertyaccess::setDisabled), 5);
    EXPECT_EQ(slotOf(&propertyaccess::getLabel), 10);
    EXPECT_EQ(slotOf(&triggerEvents::triggerFieldInfoChange), 6);
    EXPECT_EQ(slotOf(&restrictionsaccess::setRestriction), 33);
    EXPECT_EQ(slotOf(&restrictionsaccess::getRestriction), 34);
    EXPECT_EQ(slotOf(&relationaccess::hasRelation), 5);
    EXPECT_EQ(slotOf(&relationaccess::setRelation), 7);
    EXPECT_EQ(slotOf(&relationaccess::getRelations), 9);
    EXPECT_EQ(slotOf(&transientdataaccess::getTransientData), 7);
    EXPECT_EQ(slotOf(&messagesaccess::addMessage), 5);
    EXPECT_EQ(slotOf(&messagesaccess::removeMessage), 6);
    EXPECT_EQ(slotOf(&forwardIterator::first), 5);
    EXPECT_EQ(slotOf(&forwardIterator::next), 6);
    EXPECT_EQ(slotOf(&forwardIterator::isEnd), 7);
}
#endif

TEST(ScriptValueObject, AnswersOnlyUnknown) {
    testhost::tracker host;
    unknown* o = zt::ifimpl::wrapValue(zt::genericValue::of(zt::string(u"kept")));
    ASSERT_NE(o, nullptr);
    auto* impl = dynamic_cast<zt::ifimpl::gvObjectImpl*>(o);
    ASSERT_NE(impl, nullptr);
    EXPECT_EQ(impl->refCount(), 1u);

    // Whether the object answers the query; what it hands out must fit the answer.
    auto answers = [&](auto* asked, const char16_t* name) {
        unknown* out = reinterpret_cast<unknown*>(0x1);
        const bool found = asked->queryInterface(name, out) != 0;
        EXPECT_EQ(out, found ? o : nullptr) << zt::string(name).toUtf8();
        return found;
    };
    // The comparison takes the whole name: longer and shorter names are not accepted.
    for (const char16_t* name :
         {u"zt::intrface::fieldaccess", u"zt::intrface::unknownX", u"zt::intrface::unknow", u"zt::intrface::Unknown"})
        EXPECT_FALSE(answers(o, name)) << zt::string(name).toUtf8();
    EXPECT_EQ(impl->refCount(), 1u);
    EXPECT_TRUE(answers(o, u"zt::intrface::unknown"));
    EXPECT_EQ(impl->refCount(), 2u);
    // The const query forwards to the same answer.
    EXPECT_TRUE(answers(static_cast<const unknown*>(o), u"zt::intrface::unknown"));
    EXPECT_EQ(impl->refCount(), 3u);

    const zt::genericValue* v = zt::ifimpl::wrappedValue(o);
    ASSERT_NE(v, nullptr);
    zt::string text;
    EXPECT_TRUE(v->get(text));
    EXPECT_EQ(text, u"kept");

    EXPECT_EQ(o->release(), 2u);
    EXPECT_EQ(o->release(), 1u);
    EXPECT_EQ(o->release(), 0u);
}

TEST(ScriptValueObject, LastReleaseDestroysTheOwnedValue) {
    testhost::tracker host;
    auto* inner = host.create<testhost::plainObject>(7);
    {
        zt::genericValue ref = testhost::reference(inner);
        EXPECT_EQ(inner->refCount(), 1u);
        unknown* wrapped = zt::ifimpl::wrapValue(ref); // owns a copy of the reference
        EXPECT_EQ(inner->refCount(), 2u);
        unknownptr held(static_cast<const unknown*>(wrapped)); // second reference to the wrapper
        wrapped->release();
        EXPECT_EQ(inner->refCount(), 2u); // the wrapper is still alive
        held.reset();
        EXPECT_EQ(inner->refCount(), 1u); // the wrapper died and released its value
    }
    EXPECT_EQ(host.references(), 0u);
    EXPECT_EQ(host.overReleases(), 0u);
    EXPECT_TRUE(inner->destroyed());
    // Host objects are no wrapped values.
    EXPECT_EQ(zt::ifimpl::wrappedValue(inner->identity()), nullptr);
    EXPECT_EQ(zt::ifimpl::wrappedValue(nullptr), nullptr);
}

TEST(ScriptValueObject, CountsAreThreadSafe) {
    unknown* o = zt::ifimpl::wrapValue(zt::genericValue());
    auto* impl = dynamic_cast<zt::ifimpl::gvObjectImpl*>(o);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([o] {
            for (int i = 0; i < 20000; ++i) {
                o->addRef();
                o->release();
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(impl->refCount(), 1u);
    EXPECT_EQ(o->release(), 0u);
}

// From a raw pointer the const query is asked; from another interface pointer the mutable one,
// or the const one for a pointer to const.
TEST(InterfacePointer, QueriesAndCounts) {
    testhost::tracker host;
    auto* obj = host.create<queryCounter>();
    const unknown* raw = obj->identity();
    {
        interfaceptr<fieldaccess> p(raw);
        EXPECT_TRUE(p.isValid());
        EXPECT_EQ(obj->constQueries, 1u);
        EXPECT_EQ(obj->mutableQueries, 0u);
        EXPECT_EQ(obj->refCount(), 1u);
        EXPECT_EQ(p.get(), static_cast<fieldaccess*>(obj));
        // A raw pointer to something that lacks the interface gives an empty pointer.
        EXPECT_FALSE(interfaceptr<forwardIterator>(raw).isValid());
        EXPECT_FALSE(const_interfaceptr<forwardIterator>(raw).isValid());
        EXPECT_TRUE(const_interfaceptr<fieldaccess>(raw).isValid());
        EXPECT_EQ(obj->refCount(), 1u);
    }
    EXPECT_EQ(obj->refCount(), 0u);
    EXPECT_FALSE(interfaceptr<fieldaccess>(static_cast<const unknown*>(nullptr)).isValid());

    unknownptr u(raw);
    const unsigned constBefore = obj->constQueries;
    {
        interfaceptr<fieldaccess> f(u);
        const_interfaceptr<fieldaccess> c(u);
        EXPECT_TRUE(f.isValid() && c.isValid());
        EXPECT_EQ(obj->mutableQueries, 1u);
        EXPECT_EQ(obj->constQueries, constBefore + 1);
        EXPECT_EQ(obj->refCount(), 3u); // the source keeps its own reference
        const_interfaceptr<fieldaccess> copy = c;
        EXPECT_EQ(obj->refCount(), 4u);
    }
    EXPECT_EQ(obj->refCount(), 1u);
    // An empty source makes no call at all.
    unknownptr empty;
    EXPECT_FALSE(interfaceptr<fieldaccess>(empty).isValid());
    EXPECT_EQ(obj->mutableQueries, 1u);
    u.reset();
    EXPECT_EQ(host.references(), 0u);
    EXPECT_EQ(host.overReleases(), 0u);
}

TEST(InterfacePointer, CopyMoveAssignKeepCountsRight) {
    testhost::tracker host;
    auto* a = host.create<testhost::plainObject>(1);
    auto* b = host.create<testhost::plainObject>(2);
    {
        unknownptr pa(static_cast<const unknown*>(a->identity()));
        unknownptr pb(static_cast<const unknown*>(b->identity()));
        unknownptr copy(pa);
        EXPECT_EQ(a->refCount(), 2u);
        unknownptr moved(std::move(copy));
        EXPECT_FALSE(copy.isValid());
        EXPECT_EQ(a->refCount(), 2u);
        moved = pb; // releases a, adds b
        EXPECT_EQ(a->refCount(), 1u);
        EXPECT_EQ(b->refCount(), 2u);
        EXPECT_TRUE(moved == pb);
        EXPECT_FALSE(moved == pa);
        moved = moved; // self-assignment keeps the count
        EXPECT_EQ(b->refCount(), 2u);
        moved = std::move(pa); // b released, a's reference moves over
        EXPECT_EQ(a->refCount(), 1u);
        EXPECT_EQ(b->refCount(), 1u);
        unknown* raw = moved.detach();
        EXPECT_FALSE(moved.isValid());
        EXPECT_EQ(a->refCount(), 1u);
        unknownptr adopted = unknownptr::adopt(raw);
        EXPECT_EQ(a->refCount(), 1u);
    }
    EXPECT_EQ(host.references(), 0u);
    EXPECT_EQ(host.overReleases(), 0u);
    EXPECT_EQ(a->destructions(), 1u);
    EXPECT_EQ(b->destructions(), 1u);
}

TEST(ObjectReferenceValue, CopiesAndDestructionCount) {
    testhost::tracker host;
    auto* obj = host.create<testhost::plainObject>(3);
    {
        zt::genericValue v = testhost::reference(obj);
        EXPECT_EQ(zt::script::scriptTypeNameOf(v), u"unknownptr");
        zt::genericValue copy = v;
        EXPECT_EQ(obj->refCount(), 2u);
        EXPECT_EQ(testhost::referenced(copy), testhost::referenced(v));
        // Reading it out through the holder's assignTo copies the reference as well.
        unknownptr out;
        EXPECT_TRUE(copy.get(out));
        EXPECT_EQ(obj->refCount(), 3u);
        copy.clear();
        EXPECT_EQ(obj->refCount(), 2u);
    }
    EXPECT_EQ(host.references(), 0u);
    EXPECT_EQ(host.overReleases(), 0u);
}

TEST(ObjectReferenceValue, ConvertsToBool) {
    testhost::tracker host;
    auto* obj = host.create<testhost::plainObject>();
    bool b = false;
    zt::genericValue v = testhost::reference(obj);
    EXPECT_TRUE(v.get(b));
    EXPECT_TRUE(b);
    zt::genericValue null = zt::genericValue::of(unknownptr());
    b = true;
    EXPECT_TRUE(null.get(b));
    EXPECT_FALSE(b);
    // Nothing else converts an object reference.
    int i = 0;
    EXPECT_FALSE(v.get(i));
    zt::string text;
    EXPECT_FALSE(v.get(text));
    v.clear();
    EXPECT_EQ(host.references(), 0u);
}

TEST(TestHost, CountsReleasesBelowZero) {
    testhost::tracker host;
    auto* obj = host.create<testhost::plainObject>();
    obj->identity()->addRef();
    obj->identity()->release();
    obj->identity()->release();
    EXPECT_EQ(host.overReleases(), 1u);
}
