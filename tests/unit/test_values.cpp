// The value model: holders, get/set, copies, conversions and their text forms, type names.
#include "testlib.h"

#include <gtest/gtest.h>

using namespace zt::script;
using zt::genericValue;

namespace {

template <class T>
zt::string textOf(const T& v) {
    zt::string t;
    EXPECT_TRUE(genericValue::of(v).get(t));
    return t;
}

template <class T>
bool read(const char16_t* text, T& out) {
    return genericValue::of(zt::string(text)).get(out);
}

TEST(Values, SetKeepsTheHeldTypeAndGetConverts) {
    genericValue empty;
    ASSERT_TRUE(empty.set(5));
    EXPECT_TRUE(empty.is<int>());

    genericValue text = genericValue::of(zt::string(u"old"));
    ASSERT_TRUE(text.set(5));
    EXPECT_TRUE(text.is<zt::string>());
    EXPECT_EQ(*text.constPtrTo<zt::string>(), u"5");

    genericValue number = genericValue::of(1.5);
    EXPECT_FALSE(number.set(zt::string(u"not a number")));
    EXPECT_EQ(*number.constPtrTo<double>(), 1.5);

    // get converts or fails.
    int n = 0;
    EXPECT_TRUE(genericValue::of(zt::string(u"12")).get(n));
    EXPECT_EQ(n, 12);
    EXPECT_FALSE(genericValue().get(n));
    std::vector<genericValue> arr;
    EXPECT_FALSE(genericValue::of(1).get(arr)); // no conversion between these types
}

TEST(Values, ReferenceHoldersShareTheValue) {
    int target = 1;
    genericValue a(new genericValue::ptrholder<int>(&target));
    genericValue b = a;
    b.set(7);
    EXPECT_EQ(target, 7);
    a.set(zt::string(u"9")); // converted into the referenced int
    EXPECT_EQ(target, 9);

    const int fixed = 3;
    genericValue ro(new genericValue::constptrholder<int>(&fixed));
    EXPECT_TRUE(ro.set(4)); // same type: accepted, nothing written
    EXPECT_EQ(fixed, 3);
    EXPECT_FALSE(ro.set(zt::string(u"4"))); // converting needs a writable target
    auto* h = static_cast<genericValue::holder<int>*>(ro.getHolder());
    EXPECT_THROW(h->ptr(), bool);
}

TEST(Values, CopiesAreIndependent) {
    genericValue a = genericValue::of(zt::string(u"x"));
    genericValue b = a;
    b.set(zt::string(u"y"));
    EXPECT_EQ(*a.constPtrTo<zt::string>(), u"x");
    a = a; // self-assignment keeps the value
    EXPECT_EQ(*a.constPtrTo<zt::string>(), u"x");
    genericValue nested = genericValue::of(std::vector<genericValue>{a, genericValue()});
    genericValue copy = nested;
    copy.ptrTo<std::vector<genericValue>>()->at(0).set(zt::string(u"z"));
    EXPECT_EQ(*nested.constPtrTo<std::vector<genericValue>>()->at(0).constPtrTo<zt::string>(), u"x");
}

// The text forms and conversions scripts see are stated by tests/scripts/core/textforms.ztscr;
// the 64-bit form only a host can hand over.
TEST(Values, Uint64TextForm) {
    zt::uint64 big = 0;
    EXPECT_TRUE(read(u"18446744073709551615", big));
    EXPECT_EQ(textOf(big), u"18446744073709551615");
}

// Type names in scripts ignore case, and unknown ones are refused: tests/scripts/ops.
TEST(Values, ScriptTypeNames) {
    EXPECT_EQ(parseScriptType(u""), stVoid);
    EXPECT_EQ(parseScriptType(u" int"), stVoid);
    EXPECT_EQ(parseScriptType(u"unknownptr"), 15u);
    EXPECT_EQ(parseScriptType(u"array"), 16u);
    EXPECT_EQ(parseScriptType(u"timestamp"), 13u);
    EXPECT_EQ(parseFieldType(u"array"), 15u);
    EXPECT_EQ(parseFieldType(u"Ref"), 14u);
    EXPECT_EQ(parseScriptType(u"ref"), stVoid);
    EXPECT_EQ(parseFieldType(u"void"), 0u);

    zt::string shown;
    valueToDisplayText(genericValue::of(std::vector<genericValue>{genericValue::of(1), genericValue()}), shown);
    EXPECT_EQ(shown, u"[1, null]");
}

TEST(Values, NameKeysAreInterned) {
    zt::scString a(zt::string(u"name")), b(zt::string(u"na") + u"me"), c(zt::string(u"Name"));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.key(), b.key());
    EXPECT_NE(a, c);
    EXPECT_EQ(zt::scString(zt::string()), zt::scString());
}

TEST(Values, SetsKeepValueAddressesStable) {
    zt::genericSet set;
    zt::scString first(zt::string(u"first"));
    set.setGenericValue(first, genericValue::of(1), true);
    genericValue* address = set.genericValue(first);
    for (int i = 0; i < 100; ++i)
        set.setGenericValue(zt::scString(zt::string::format(u"v%d", i)), genericValue::of(i), true);
    EXPECT_EQ(set.genericValue(first), address);
    EXPECT_TRUE(set.setGenericValue(first, genericValue::of(2), false)); // kept
    EXPECT_EQ(*address->constPtrTo<int>(), 1);
    EXPECT_TRUE(set.erase(first));
    EXPECT_FALSE(set.erase(first));
    EXPECT_EQ(set.genericValue(first), nullptr);
}

// Small sets keep their first entries inside themselves: copies, moves and swaps of sets of
// every size around that boundary keep every name and value.
TEST(Values, SetsOfEverySizeCopyAndMove) {
    auto name = [](int i) { return zt::scString(zt::string::format(u"n%d", i)); };
    auto holds = [&](const zt::genericSet& set, int count) {
        if (set.size() != static_cast<size_t>(count)) return false;
        for (int i = 0; i < count; ++i) {
            const genericValue* v = set.genericValue(name(i));
            if (!v || !v->constPtrTo<int>() || *v->constPtrTo<int>() != i) return false;
        }
        return true;
    };
    for (int count = 0; count <= 9; ++count) {
        zt::genericSet set;
        for (int i = 0; i < count; ++i) set.setGenericValue(name(i), genericValue::of(i), true);
        ASSERT_TRUE(holds(set, count)) << count;
        const genericValue* before = count ? set.genericValue(name(0)) : nullptr;

        zt::genericSet copy(set);
        EXPECT_TRUE(holds(copy, count)) << count;
        if (count) {
            EXPECT_NE(copy.genericValue(name(0)), before); // a copy owns its own values
        }

        zt::genericSet moved(std::move(set));
        EXPECT_TRUE(holds(moved, count)) << count;
        if (count) {
            EXPECT_EQ(moved.genericValue(name(0)), before); // moving keeps the values
        }
        EXPECT_TRUE(set.empty());
        set.setGenericValue(name(0), genericValue::of(0), true); // a moved-from set is usable
        EXPECT_TRUE(holds(set, 1));

        // Assigning over a set destroys what it held (a sanitizer build reports a leak).
        zt::genericSet assigned;
        assigned.setGenericValue(name(99), genericValue::of(99), true);
        assigned = std::move(moved);
        EXPECT_EQ(assigned.genericValue(name(99)), nullptr);
        EXPECT_TRUE(holds(assigned, count)) << count;
        assigned = copy;
        EXPECT_TRUE(holds(assigned, count)) << count;

        for (int i = 0; i < count; i += 2) EXPECT_TRUE(assigned.erase(name(i)));
        EXPECT_EQ(assigned.size(), static_cast<size_t>(count / 2));
        for (int i = 1; i < count; i += 2) EXPECT_NE(assigned.genericValue(name(i)), nullptr);
    }
}

// Case, splitting, trimming and replacing as scripts see them: tests/scripts/string.
TEST(Strings, Utf16Basics) {
    zt::string s(u"a\U0001F600b");
    EXPECT_EQ(s.size(), 4u); // code units
    EXPECT_EQ(zt::string(s.toUtf8()), s);
    zt::string r(u"aXbXc");
    EXPECT_EQ(r.replace(u"X", u"--"), 2u);
    EXPECT_EQ(r, u"a--b--c");
}

TEST(Strings, FormatIsTypeSafe) {
    EXPECT_EQ(zt::string::format(u"%s=%d (%5.2f) %x %%", u"n", 42, 3.14159, 255u), u"n=42 ( 3.14) ff %");
    EXPECT_EQ(zt::string::format(u"[%-4s|%4s]", "ab", zt::string(u"cd")), u"[ab  |  cd]");
    EXPECT_EQ(zt::string::format(u"%s %s", u"only"), u"only %s"); // a missing argument is not read
    EXPECT_EQ(zt::string::format(u"%d", u"text"), u"text");
}

} // namespace
