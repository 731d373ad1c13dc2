// Localisation (catalogue files, languages, placeholders) and the localised-string and object
// message statements.
#include "testhost.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace zt::script;

namespace {

// Points the catalogues at a fresh folder in German; restores the defaults afterwards.
class Catalogues : public ::testing::Test {
protected:
    void SetUp() override {
        zt::setCatalogueFolder(zt::string::fromUtf8(dir.path));
        zt::setLanguage(u"de_DE.UTF-8");
    }
    void TearDown() override {
        zt::setCatalogueFolder(zt::string());
        zt::setLanguage(zt::string());
    }
    testlib::tempDir dir;
};

std::string resolved(const zt::locString& s, const char16_t* language = nullptr) { return s.text(language).toUtf8(); }

TEST_F(Catalogues, EntriesReplaceDefaultTexts) {
    dir.write("strings.de.txt", "\xEF\xBB\xBF# greetings\n"
                                "Msg_Hello = Hallo [Name]!\r\n"
                                "\n"
                                "  Msg_Lines=erste\\nzweite\\tdritte \\\\ vierte\n"
                                "no equals sign here\n"
                                "Msg_Twice=alt\n"
                                "Msg_Twice=neu\n"
                                "Msg_Empty=\n"
                                "# Msg_Comment=nicht\n"
                                "Größe=Größe: [N]\n");
    zt::locString hello(u"Msg_Hello", u"Hello [Name]!");
    hello.params().set(u"Name", u"Welt");
    EXPECT_EQ(resolved(hello), "Hallo Welt!");
    EXPECT_EQ(resolved(zt::locString(u"Msg_Lines", u"")), "erste\nzweite\tdritte \\ vierte");
    EXPECT_EQ(resolved(zt::locString(u"Msg_Twice", u"")), "neu");
    EXPECT_EQ(resolved(zt::locString(u"Msg_Empty", u"default")), "");
    EXPECT_EQ(resolved(zt::locString(u"# Msg_Comment", u"default")), "default");
    zt::locString size(zt::string::fromUtf8("Größe"));
    size.params().set(u"N", 3.0);
    EXPECT_EQ(resolved(size), "Größe: 3");

    // A missing entry shows the default text, the one-argument form the text itself.
    zt::locString missing(u"Msg_Missing", u"Fallback [Name]");
    missing.params().set(u"Name", u"x");
    EXPECT_EQ(resolved(missing), "Fallback x");
    EXPECT_EQ(resolved(zt::locString(u"Just a text")), "Just a text");
    // Identifiers are matched exactly.
    EXPECT_EQ(resolved(zt::locString(u"msg_hello", u"lower")), "lower");
}

TEST_F(Catalogues, LanguagesAndStringFiles) {
    dir.write("strings.de.txt", "Msg_Ok=In Ordnung\n");
    dir.write("strings.fr.txt", "Msg_Ok=D'accord\n");
    dir.write("orders.de.txt", "Msg_Ok=Auftrag in Ordnung\n");
    const zt::locString ok(u"Msg_Ok", u"OK");
    EXPECT_EQ(resolved(ok), "In Ordnung");
    EXPECT_EQ(resolved(ok, u"fr"), "D'accord");
    EXPECT_EQ(resolved(ok, u"en"), "OK");
    EXPECT_EQ(resolved(zt::locString(u"Msg_Ok", u"OK", u"orders", nullptr)), "Auftrag in Ordnung");
    // A string file without the entry (or without a file for the language) shows the default.
    EXPECT_EQ(resolved(zt::locString(u"Msg_Ok", u"OK", u"invoices", nullptr)), "OK");
    EXPECT_EQ(resolved(zt::locString(u"Msg_Ok", u"OK", u"orders", nullptr), u"fr"), "OK");
    // String file names cannot leave the catalogue folders.
    dir.write("sub/strings.de.txt", "Msg_Ok=Unterordner\n");
    EXPECT_EQ(resolved(zt::locString(u"Msg_Ok", u"OK", u"sub/strings", nullptr)), "OK");
    EXPECT_EQ(resolved(zt::locString(u"Msg_Ok", u"OK", u"../strings", nullptr)), "OK");

    zt::setLanguage(u"fr_CA");
    EXPECT_EQ(zt::currentLanguage(), u"fr");
    EXPECT_EQ(resolved(ok), "D'accord");
    zt::setLanguage(u"C");
    EXPECT_EQ(resolved(ok), "OK");
}

TEST_F(Catalogues, FilesAreReadOnceUntilReloaded) {
    dir.write("strings.de.txt", "Msg_A=eins\n");
    const zt::locString a(u"Msg_A", u"A");
    EXPECT_EQ(resolved(a), "eins");
    dir.write("strings.de.txt", "Msg_A=zwei\n");
    EXPECT_EQ(resolved(a), "eins");
    zt::reloadCatalogues();
    EXPECT_EQ(resolved(a), "zwei");
    // A catalogue that did not exist at first is found after a change of folder.
    testlib::tempDir second;
    second.write("strings.de.txt", "Msg_A=drei\n");
    zt::setCatalogueFolder(zt::string::fromUtf8(second.path));
    EXPECT_EQ(resolved(a), "drei");
}

TEST_F(Catalogues, LanguageFromTheEnvironment) {
    EXPECT_EQ(zt::languageOfLocale(u"de_DE.UTF-8"), u"de");
    EXPECT_EQ(zt::languageOfLocale(u"pt-BR"), u"pt");
    EXPECT_EQ(zt::languageOfLocale(u"sr@latin"), u"sr");
    EXPECT_EQ(zt::languageOfLocale(u"EN"), u"en");
    EXPECT_EQ(zt::languageOfLocale(u"C.UTF-8"), u"");
    EXPECT_EQ(zt::languageOfLocale(u"POSIX"), u"");

    auto saved = [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto all = saved("LC_ALL"), messages = saved("LC_MESSAGES"), lang = saved("LANG");
    testlib::setEnv("LC_ALL", nullptr);
    testlib::setEnv("LC_MESSAGES", nullptr);
    testlib::setEnv("LANG", "nl_NL.UTF-8");
    zt::setLanguage(zt::string());
    EXPECT_EQ(zt::currentLanguage(), u"nl");
    testlib::setEnv("LC_ALL", "it_IT");
    zt::setLanguage(zt::string());
    EXPECT_EQ(zt::currentLanguage(), u"it");
    // The host's language wins over the environment.
    zt::setLanguage(u"sv");
    EXPECT_EQ(zt::currentLanguage(), u"sv");
    auto restore = [](const char* name, const std::optional<std::string>& v) {
        testlib::setEnv(name, v ? v->c_str() : nullptr);
    };
    restore("LC_ALL", all);
    restore("LC_MESSAGES", messages);
    restore("LANG", lang);
}

TEST_F(Catalogues, PlaceholderValues) {
    dir.write("strings.de.txt", "Msg_Unit=Stück\nMsg_Count=[N] [Unit] für [Who] [Unknown] [Empty]\n");
    zt::locString unit(u"Msg_Unit", u"pieces");
    zt::locString count(u"Msg_Count", u"[N] [Unit]");
    count.params().set(u"N", 2.5);
    count.params().set(u"Unit", unit);
    count.params().set(u"Who", u"[N]"); // values are not searched for placeholders
    count.params().setNull(u"Empty");
    EXPECT_EQ(resolved(count), "2.5 Stück für [N] [Unknown] ");
    // A nested text follows the language of the text that shows it.
    EXPECT_EQ(resolved(count, u"en"), "2.5 pieces");
    // Setting a placeholder again replaces its value and kind.
    count.params().set(u"N", u"zwei");
    ASSERT_NE(count.params().find(u"N"), nullptr);
    EXPECT_EQ(count.params().find(u"N")->type, zt::locStringParams::kind::text);
    EXPECT_EQ(resolved(count, u"en"), "zwei pieces");
    EXPECT_EQ(zt::locMessage(zt::locStringId(u"Msg_Unit"), u"x").toUtf8(), "Stück");
    EXPECT_EQ(zt::locMessage(zt::locStringId(u"Msg_None"), u"x [A]", count.params()).toUtf8(), "x [A]");
}

TEST_F(Catalogues, HookComesFirst) {
    dir.write("strings.de.txt", "Msg_A=Datei\n");
    zt::locString::setCatalogue([](const zt::string& id, zt::string& out) {
        if (id != u"Msg_B") return false;
        out = u"vom Haken";
        return true;
    });
    EXPECT_EQ(resolved(zt::locString(u"Msg_A", u"")), "Datei");
    EXPECT_EQ(resolved(zt::locString(u"Msg_B", u"")), "vom Haken");
    zt::locString::setCatalogue(nullptr);
    EXPECT_EQ(resolved(zt::locString(u"Msg_B", u"b")), "b");
}

TEST_F(Catalogues, ConcurrentLookupsWhileTheLanguageChanges) {
    dir.write("strings.de.txt", "Msg_A=deutsch\n");
    dir.write("strings.fr.txt", "Msg_A=francais\n");
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            const zt::locString a(u"Msg_A", u"A");
            while (!stop) {
                const std::string s = a.text().toUtf8();
                if (s != "deutsch" && s != "francais") ++wrong;
            }
        });
    }
    for (int i = 0; i < 200; ++i) zt::setLanguage(i % 2 ? u"de" : u"fr");
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

// ---------------------------------------------------------------------------------------------
// Statements with catalogues and host objects (without: tests/scripts/string/localised.ztscr)

class LocStringStatements : public Catalogues, protected testhost::scene {
protected:
    zt::locString loc(const zt::string& text) {
        const zt::genericValue v = run(text);
        EXPECT_TRUE(v.is<zt::locString>()) << text.toUtf8();
        const zt::locString* s = v.constPtrTo<zt::locString>();
        return s ? *s : zt::locString();
    }
};


TEST_F(LocStringStatements, LocStringBuildsIdDefaultFileAndPlaceholders) {
    dir.write("strings.de.txt", "Msg_Order=Auftrag [No] von [Who]\n");
    dir.write("orders.de.txt", "Msg_Order=Bestellung [No]\n");
    const zt::locString plain = loc(u"locstring(\"Msg_Order\", \"Order [No] of [Who]\", \"\", \"No\", \"42\", \"Who\", \"Anna\")");
    EXPECT_EQ(plain.id(), u"Msg_Order");
    EXPECT_EQ(plain.defaultText(), u"Order [No] of [Who]");
    EXPECT_EQ(plain.file(), u"");
    ASSERT_NE(plain.params().find(u"No"), nullptr);
    // A number is kept as a number, a text as text.
    EXPECT_EQ(plain.params().find(u"No")->type, zt::locStringParams::kind::number);
    EXPECT_EQ(plain.params().find(u"No")->number, 42.0);
    EXPECT_EQ(plain.params().find(u"Who")->type, zt::locStringParams::kind::text);
    EXPECT_EQ(plain.text().toUtf8(), "Auftrag 42 von Anna");
    EXPECT_EQ(plain.text(u"en").toUtf8(), "Order 42 of Anna");

    const zt::locString withFile = loc(u"locstring(\"Msg_Order\", \"Order [No]\", \"orders\", \"No\", \"7\")");
    EXPECT_EQ(withFile.file(), u"orders");
    EXPECT_EQ(withFile.text().toUtf8(), "Bestellung 7");


    // A localised string as value stays localised.
    context.createVariable(scString(u"unit"), zt::genericValue::of(zt::locString(u"Msg_Unit", u"pieces")));
    dir.write("strings.de.txt", "Msg_Unit=Stück\n");
    zt::reloadCatalogues();
    const zt::locString nested = loc(u"locstring(\"x\", \"[N] [U]\", \"\", \"U\", unit, \"N\", \"3\")");
    EXPECT_EQ(nested.params().find(u"U")->type, zt::locStringParams::kind::localised);
    EXPECT_EQ(nested.text().toUtf8(), "3 Stück");
    EXPECT_EQ(nested.text(u"en").toUtf8(), "3 pieces");

}

TEST_F(LocStringStatements, FromIdInsertParamAndGetString) {
    dir.write("strings.de.txt", "Msg_Hi=Hallo [Name]\nPlain [X]=Schlicht [X]\n");
    const zt::locString hi = loc(u"locstringfromid(\"Msg_Hi\")");
    EXPECT_EQ(hi.id(), u"Msg_Hi");

    EXPECT_EQ(loc(u"locstring_insertparam(locstringfromid(\"Msg_Hi\"), \"Name\", \"Eva\")").text().toUtf8(),
              "Hallo Eva");
    // A plain text is used as a localised string; a localised value is inserted as its text.
    const zt::locString inserted =
        loc(u"locstring_insertparam(\"Plain [X]\", \"X\", locstring(\"Msg_Hi\", \"Hi [Name]\", \"\", \"Name\", \"Udo\"))");
    EXPECT_EQ(inserted.params().find(u"X")->type, zt::locStringParams::kind::text);
    EXPECT_EQ(inserted.params().find(u"X")->text, u"Hallo Udo");
    EXPECT_EQ(inserted.text().toUtf8(), "Schlicht Hallo Udo");

    EXPECT_EQ(testlib::shown(run(u"locstring_getstring(locstring_insertparam(\"Msg_Hi\", \"Name\", \"Ute\"))")),
              "string: Hallo Ute");
    // A localised string reads as its text wherever a string is expected.
    zt::string asText;
    EXPECT_TRUE(run(u"locstringfromid(\"Msg_Hi\")").get(asText));
    EXPECT_EQ(asText.toUtf8(), "Hallo [Name]");
}

// What scripts see of objmsg_add and objmsg_remove (severities, removal, the errors) is stated
// by tests/scripts/object/messages.ztscr; here what reaches the host.
TEST_F(LocStringStatements, ObjectMessages) {
    dir.write("strings.de.txt", "Msg_Qty=Menge [N] zu groß\n");
    run(u"objmsg_add(rec, \"m\", \"w\", \"text\")");
    EXPECT_EQ(rec->messages.back().source.id(), u"text");
    run(u"objmsg_add(rec, \"qty\", \"error\", locstring(\"Msg_Qty\", \"Quantity [N] too big\", \"\", \"N\", \"12\"))");
    const auto& added = rec->messages.back();
    EXPECT_EQ(added.id, u"qty");
    EXPECT_EQ(added.severity, 2);
    EXPECT_EQ(added.text.toUtf8(), "Menge 12 zu groß");
    EXPECT_EQ(added.source.id(), u"Msg_Qty");
    EXPECT_EQ(added.source.text(u"en").toUtf8(), "Quantity 12 too big");
    run(u"objmsg_remove(rec, \"m\")");
    EXPECT_EQ(rec->takeCalls(), "addMessage(m,1) addMessage(qty,2) removeMessage(m)");
    ASSERT_EQ(rec->messages.size(), 1u);

    // The host's answer is not looked at.
    rec->failing = {"addMessage"};
    EXPECT_EQ(error(u"objmsg_add(rec, \"m\", \"e\", \"t\")"), "");
}

} // namespace
