// File names, case-insensitive lookups, files, directories, buffers, configuration sections
// and the ANSI code page.
#include "testlib.h"
#include "ztfile.h"
#include "ztsystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

zt::string str(const fs::path& p) { return zt::string(p.u16string()); }
fs::path pathOf(const zt::string& s) { return fs::path(static_cast<const std::u16string&>(s)); }

// A name written with "/" in the platform's form ("\" between folders on Windows).
zt::string nat(const zt::string& s) { return zt::string::fromUtf8(testlib::native(s.toUtf8())); }

// The root of the current drive: "/" here, "C:\" on Windows.
zt::string driveRoot() { return str(fs::current_path().root_path()); }

// Compares names with either separator.
zt::string slashes(zt::string s) {
    std::replace(s.begin(), s.end(), u'\\', u'/');
    return s;
}



// Each test gets its own folder; the current folder is restored afterwards.
class FilesTest : public ::testing::Test {
protected:
    void TearDown() override { fs::current_path(mSavedCurrent); }

    testlib::tempDir mTemp;
    fs::path mDir = fs::path(testlib::pathOf(mTemp.path)).parent_path();
    fs::path mSavedCurrent = fs::current_path();
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Name parts

TEST(FsEntryName, Parts) {
    struct {
        const char16_t* name;
        const char16_t* path; // written with "/"
        const char16_t* fileName;
        const char16_t* extension;
        const char16_t* baseName;
    } cases[] = {
        {u"C:\\Scripts\\sub/Order.ZTSCR", u"C:/Scripts/sub/", u"Order.ZTSCR", u"ZTSCR", u"Order"},
        {u"a/b\\c.d/archive.tar.gz", u"a/b/c.d/", u"archive.tar.gz", u"gz", u"archive.tar"},
        {u"readme", u"", u"readme", u"", u"readme"},
        // A dot in a folder name is not an extension.
        {u"folder.d\\noext", u"folder.d/", u"noext", u"", u"noext"},
        {u"dir\\", u"dir/", u"", u"", u""},
    };
    for (const auto& c : cases) {
        const zt::fsEntryName n(c.name);
        SCOPED_TRACE(n.name().toUtf8());
        EXPECT_EQ(slashes(n.path()), zt::string(c.path));
        EXPECT_EQ(n.fileName(), zt::string(c.fileName));
        EXPECT_EQ(n.extension(), zt::string(c.extension));
        EXPECT_EQ(n.baseName(), zt::string(c.baseName));
        EXPECT_FALSE(n.empty());
    }
    // Either separator becomes the platform's.
    EXPECT_EQ(zt::fsEntryName(u"C:\\Scripts\\sub/Order.ZTSCR").name(), nat(u"C:/Scripts/sub/Order.ZTSCR"));
    EXPECT_TRUE(zt::fsEntryName().empty());
}

TEST(FsEntryName, IsAbsolute) {
    EXPECT_TRUE(zt::fsEntryName(u"/usr/lib").isAbsolute());
    EXPECT_TRUE(zt::fsEntryName(u"\\share\\x").isAbsolute());
    EXPECT_FALSE(zt::fsEntryName(u"rel\\x").isAbsolute());
    EXPECT_FALSE(zt::fsEntryName(u"x.txt").isAbsolute());
    EXPECT_FALSE(zt::fsEntryName(u"").isAbsolute());
}

// ---------------------------------------------------------------------------------------------
// Case-insensitive lookups

TEST_F(FilesTest, ResolvesNamesWithoutRegardToCase) {
    mTemp.write("Order.ZTSCR", "x");
    mTemp.write("Sub/File.txt", "y");
    const zt::string dir = str(mDir), order = str(mDir / "Order.ZTSCR"), file = slashes(str(mDir / "Sub" / "File.txt"));
    // A folder above the test folder written in the wrong case.
    zt::string upperLeaf = str(mDir.filename());
    upperLeaf.toUpper();
    const std::pair<zt::string, zt::string> cases[] = {
        {dir + u"/order.ztscr", slashes(order)},
        {dir + u"/ORDER.ztscr", slashes(order)},
        {order, slashes(order)}, // an existing name is returned as written
        // Nested, with backslashes, every part in the wrong case.
        {dir + u"\\sub\\file.txt", file},
        {str(mDir.parent_path() / "") + upperLeaf + u"/SUB/FILE.TXT", file},
        // Missing names; a file cannot be walked into.
        {dir + u"/order.txt", u""},
        {dir + u"/nothere/order.ztscr", u""},
        {dir + u"/order.ztscr/x", u""},
        {u"", u""},
        // Relative names (the current folder is the test folder).
        {u"sub\\file.txt", u"Sub/File.txt"},
        {u"./SUB/../sub/FILE.txt", u"./Sub/../Sub/File.txt"},
    };
    fs::current_path(mDir);
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name.toUtf8());
        zt::string resolved = u"unchanged";
        EXPECT_EQ(zt::fsEntryName::resolveNoCase(name, resolved), !expected.empty());
        EXPECT_EQ(slashes(resolved), expected.empty() ? zt::string(u"unchanged") : expected);
    }
}

TEST_F(FilesTest, NamesDifferingOnlyInCasePickTheSmallest) {
    mTemp.write("dup.TXT", "1");
    mTemp.write("DUP.txt", "2");
    if (testlib::readFile(mDir / "dup.TXT") != "1") GTEST_SKIP() << "the file system ignores case";
    zt::string resolved;
    ASSERT_TRUE(zt::fsEntryName::resolveNoCase(str(mDir) + u"/Dup.Txt", resolved));
    EXPECT_EQ(resolved, str(mDir / "DUP.txt"));
}

TEST_F(FilesTest, ExistsTakesTheNameOnDisk) {
    mTemp.write("Order.ZTSCR", "x");
    fs::create_directories(mDir / "Sub");

    zt::fsEntry entry(str(mDir) + u"/ORDER.ztscr");
    ASSERT_TRUE(entry.exists());
    EXPECT_EQ(entry.name(), str(mDir / "Order.ZTSCR"));

    zt::file f(str(mDir) + u"\\order.ztscr");
    ASSERT_TRUE(f.exists());
    EXPECT_EQ(f.name(), str(mDir / "Order.ZTSCR"));

    // Files only for file, folders only for directory.
    zt::file notAFile(str(mDir) + u"/sub");
    EXPECT_FALSE(notAFile.exists());
    EXPECT_EQ(notAFile.name(), str(mDir / "sub"));
    zt::directory d(str(mDir) + u"/sub");
    ASSERT_TRUE(d.exists());
    EXPECT_EQ(d.name(), str(mDir / "Sub"));
    zt::directory notADirectory(str(mDir) + u"/order.ztscr");
    EXPECT_FALSE(notADirectory.exists());

    zt::fsEntry missing(str(mDir) + u"/missing");
    EXPECT_FALSE(missing.exists());
    EXPECT_EQ(missing.name(), str(mDir / "missing"));
}

TEST_F(FilesTest, CopyAndRemove) {
    mTemp.write("Order.ZTSCR", std::string("a\0b", 3));
    const zt::file source(str(mDir) + u"/order.ztscr");
    const zt::string target = str(mDir) + u"/Copy.bin";

    ASSERT_TRUE(source.copyTo(target, false));
    EXPECT_EQ(testlib::readFile(mDir / "Copy.bin"), std::string("a\0b", 3));
    // The target exists (in another case): no overwrite unless asked.
    mTemp.write("Order.ZTSCR", "new");
    EXPECT_FALSE(source.copyTo(str(mDir) + u"/COPY.BIN", false));
    EXPECT_EQ(testlib::readFile(mDir / "Copy.bin"), std::string("a\0b", 3));
    ASSERT_TRUE(source.copyTo(str(mDir) + u"/COPY.BIN", true));
    EXPECT_EQ(testlib::readFile(mDir / "Copy.bin"), "new");
    EXPECT_FALSE(fs::exists(mDir / "COPY.BIN") && !fs::equivalent(mDir / "COPY.BIN", mDir / "Copy.bin"));

    EXPECT_FALSE(zt::file(str(mDir) + u"/missing").copyTo(target, true));

    EXPECT_TRUE(zt::file(str(mDir) + u"/copy.BIN").remove());
    EXPECT_FALSE(fs::exists(mDir / "Copy.bin"));
    EXPECT_FALSE(zt::file(str(mDir) + u"/copy.BIN").remove());

    fs::create_directories(mDir / "Sub");
    EXPECT_FALSE(zt::file(str(mDir / "Sub")).remove());
    EXPECT_TRUE(fs::is_directory(mDir / "Sub"));
}

TEST_F(FilesTest, CurrentDirectory) {
    fs::create_directories(mDir / "Work");
    ASSERT_TRUE(zt::directory(str(mDir) + u"/WORK").makeCurrent());
    EXPECT_TRUE(fs::equivalent(pathOf(zt::directory::current()), mDir / "Work"));
    EXPECT_FALSE(zt::directory(str(mDir) + u"/none").makeCurrent());
    EXPECT_TRUE(fs::equivalent(fs::current_path(), mDir / "Work"));
}

// ---------------------------------------------------------------------------------------------
// Modification times

TEST_F(FilesTest, ModificationTimeFollowsTheFile) {
    const fs::path p = mDir / "Stamp.txt";
    mTemp.write("Stamp.txt", "x");
    zt::fsEntry entry(str(mDir) + u"/stamp.TXT");
    const std::int64_t before = entry.lastModificationTime();
    EXPECT_NE(before, 0);

    fs::last_write_time(p, fs::last_write_time(p) + 48h);
    const std::int64_t after = entry.lastModificationTime();
    // Two days later, give or take a daylight-saving change of the local zone.
    EXPECT_GE(after - before, 47 * 3600 * 1000LL);
    EXPECT_LE(after - before, 49 * 3600 * 1000LL);

    EXPECT_EQ(zt::fsEntry(str(mDir) + u"/missing").lastModificationTime(), 0);
}

// The time is local wall-clock time: checked under a fixed zone two hours east of UTC.
TEST_F(FilesTest, ModificationTimeIsLocalTime) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows reads no time zone of the POSIX form from the TZ variable";
#else
    const char* saved = std::getenv("TZ");
    const std::string savedTz = saved ? saved : "";
    testlib::setEnv("TZ", "<+02>-2");
    tzset();

    const fs::path p = mDir / "Stamp.txt";
    mTemp.write("Stamp.txt", "x");
    using namespace std::chrono;
    const sys_time<milliseconds> utc = sys_days{2024y / March / 1} + 12h + 345ms;
    fs::last_write_time(p, file_clock::from_sys(utc));
    const zt::fsEntry entry(str(p));
    const std::int64_t utcMs = utc.time_since_epoch().count();
    EXPECT_EQ(entry.lastModificationTime(), utcMs + 2 * 3600 * 1000);

    fs::last_write_time(p, fs::last_write_time(p) + 1h);
    EXPECT_EQ(entry.lastModificationTime(), utcMs + 3 * 3600 * 1000);

    testlib::setEnv("TZ", saved ? savedTz.c_str() : nullptr);
    tzset();
#endif
}

// ---------------------------------------------------------------------------------------------
// Module paths

TEST(ModulePath, RunningProgram) {
    const zt::string folder = zt::getModulePath(u"");
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(folder.back() == u'/' || folder.back() == u'\\');
    EXPECT_TRUE(pathOf(folder).is_absolute());
#if defined(__linux__)
    EXPECT_TRUE(fs::exists(pathOf(folder) / fs::read_symlink("/proc/self/exe").filename()));
#endif
}

TEST(ModulePath, LoadedLibrary) {
    const zt::string folder = zt::getModulePath(u"ztutils");
    ASSERT_FALSE(folder.empty());
    bool found = false;
    for (const auto& e : fs::directory_iterator(pathOf(folder))) {
        const std::string n = e.path().filename().string();
        if (n.find("ztutils") != std::string::npos && e.is_regular_file()) found = true;
    }
    EXPECT_TRUE(found) << folder.toUtf8();
#if !defined(_WIN32)
    EXPECT_EQ(zt::getModulePath(u"libztutils.so"), folder);
#endif
    EXPECT_EQ(zt::getModulePath(u"ZTUTILS.dll"), folder);
    EXPECT_EQ(zt::getModulePath(u"no_such_module_for_tests"), zt::string());
}

// ---------------------------------------------------------------------------------------------
// Buffers

TEST(BinaryBuffer, XorTwiceRestoresTheBytes) {
    zt::binaryBuffer b;
    b.bytes() = {0x00, 0x01, 0xFF, 'A', 0x80};
    const std::vector<std::uint8_t> original = b.bytes();
    b.xxor("ab");
    const std::vector<std::uint8_t> once = {0x61, 0x63, 0xFF ^ 0x61, 'A' ^ 'b', 0x80 ^ 0x61};
    EXPECT_EQ(b.bytes(), once);
    b.xxor("ab");
    EXPECT_EQ(b.bytes(), original);

    b.xxor("");
    b.xxor(nullptr);
    EXPECT_EQ(b.bytes(), original);
}

TEST(BinaryBuffer, ReadCopiesWithinBounds) {
    zt::binaryBuffer b;
    b.bytes() = {1, 2, 3, 4, 5};
    std::uint8_t out[8] = {};
    EXPECT_EQ(b.read(1, out, 3), 3u);
    EXPECT_EQ(out[0], 2);
    EXPECT_EQ(out[2], 4);
    EXPECT_EQ(b.read(3, out, 8), 2u);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(out[1], 5);
    EXPECT_EQ(b.read(5, out, 8), 0u);
    EXPECT_EQ(b.read(100, out, 8), 0u);
    EXPECT_EQ(b.logicalLength(), 5u);
}

TEST_F(FilesTest, BufferReadsAndWritesFiles) {
    zt::binaryBuffer b;
    b.bytes() = {0, 'z', 0xFF, 0, 0x80};
    ASSERT_TRUE(b.writeToFile(zt::file(str(mDir) + u"/Data.bin")));
    EXPECT_EQ(testlib::readFile(mDir / "Data.bin"), std::string("\0z\xFF\0\x80", 5));

    zt::binaryBuffer r;
    ASSERT_TRUE(r.readFromFile(zt::file(str(mDir) + u"\\DATA.BIN")));
    EXPECT_EQ(r.bytes(), b.bytes());

    // Writing under another case replaces the existing file.
    zt::binaryBuffer shorter;
    shorter.bytes() = {'q'};
    ASSERT_TRUE(shorter.writeToFile(zt::file(str(mDir) + u"/data.BIN")));
    EXPECT_EQ(testlib::readFile(mDir / "Data.bin"), "q");

    mTemp.write("Empty.txt", "");
    zt::binaryBuffer e;
    e.bytes() = {9, 9};
    EXPECT_TRUE(e.readFromFile(zt::file(str(mDir) + u"/empty.txt")));
    EXPECT_TRUE(e.empty());

    zt::binaryBuffer m;
    m.bytes() = {9, 9};
    EXPECT_FALSE(m.readFromFile(zt::file(str(mDir) + u"/missing.bin")));
    EXPECT_TRUE(m.empty());
    EXPECT_FALSE(m.readFromFile(zt::file(str(mDir))));
    EXPECT_FALSE(b.writeToFile(zt::file(str(mDir) + u"/nothere/x.bin")));
}

// ---------------------------------------------------------------------------------------------
// Configuration sections

TEST(ConfigStructure, SectionsAndKeysIgnoreCase) {
    zt::configStructure c;
    c.setValue(u"Main", u"Key", u"1");
    zt::string v;
    ASSERT_TRUE(c.getValue(u"MAIN", u"key", v));
    EXPECT_EQ(v, zt::string(u"1"));
    EXPECT_TRUE(c.hasSection(u"mAiN"));
    EXPECT_FALSE(c.hasSection(u"other"));

    c.setValue(u"main", u"KEY", u"2");
    ASSERT_TRUE(c.getValue(u"Main", u"Key", v));
    EXPECT_EQ(v, zt::string(u"2"));
    ASSERT_EQ(c.sections().size(), 1u);

    c.setValue(u"main", u"Other", u"3");
    c.setValue(u"Ä-Section", u"k", u"4");
    ASSERT_TRUE(c.getValue(u"ä-section", u"K", v));
    EXPECT_EQ(v, zt::string(u"4"));
    EXPECT_EQ(c.sections().size(), 2u);

    v = u"untouched";
    EXPECT_FALSE(c.getValue(u"main", u"missing", v));
    EXPECT_FALSE(c.getValue(u"missing", u"key", v));
    EXPECT_EQ(v, zt::string(u"untouched"));

    c.clear();
    EXPECT_FALSE(c.hasSection(u"main"));
}

// ---------------------------------------------------------------------------------------------
// The ANSI code page

TEST(AnsiCodePage, BytesToUtf16) {
    EXPECT_EQ(zt::ansiToString("\x80\xE4\x81", 3), zt::string(u"\u20AC\u00E4\u0081"));

    const zt::string others = zt::ansiToString("\x8D\x8F\x90\x9D\x9F\x8A\x00\xFF", 8);
    EXPECT_EQ(others, zt::string(u"\u008D\u008F\u0090\u009D\u0178\u0160\u0000\u00FF", 8));

    // Every byte comes back.
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<char>(i);
    const zt::string text = zt::ansiToString(all.data(), all.size());
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(zt::stringToAnsi(text), all);
}

TEST(AnsiCodePage, Utf16ToBytes) {
    EXPECT_EQ(zt::stringToAnsi(u"\u20AC\u00E4a"), std::string("\x80\xE4" "a"));
    EXPECT_EQ(zt::stringToAnsi(u"x\u4E2Dy"), std::string("x?y"));
    EXPECT_EQ(zt::stringToAnsi(u"\u4E2D", '#'), std::string("#"));
    // One substitute for a character outside the basic plane.
    EXPECT_EQ(zt::stringToAnsi(u"\U0001F600"), std::string("?"));
}

TEST(AnsiCodePage, MultiByteToWideChar) {
    char16_t buffer[16] = {};
    auto converted = [&](int length) { return std::u16string(buffer, static_cast<size_t>(length)); };
    // Size query, then conversion; with -1 the terminator is part of the result.
    EXPECT_EQ(zt::MultiByteToWideChar(zt::CP_ACP, 0, "\x80x", -1, nullptr, 0), 3);
    ASSERT_EQ(zt::MultiByteToWideChar(zt::CP_ACP, 0, "\x80x", -1, buffer, 16), 3);
    EXPECT_EQ(converted(3), std::u16string(u"\u20ACx\0", 3));

    ASSERT_EQ(zt::MultiByteToWideChar(1252, 0, "\xE4\x81", 2, buffer, 16), 2);
    EXPECT_EQ(converted(2), u"\u00E4\u0081");

    // Too small a buffer, unknown code page, bad arguments.
    EXPECT_EQ(zt::MultiByteToWideChar(1252, 0, "abc", 3, buffer, 2), 0);
    EXPECT_EQ(zt::MultiByteToWideChar(437, 0, "abc", 3, buffer, 16), 0);
    EXPECT_EQ(zt::MultiByteToWideChar(1252, 0, "abc", 0, buffer, 16), 0);
    EXPECT_EQ(zt::MultiByteToWideChar(1252, 0, nullptr, 3, buffer, 16), 0);

    // UTF-8.
    ASSERT_EQ(zt::MultiByteToWideChar(65001, 0, "\xC3\xA4\xF0\x9F\x98\x80", 6, buffer, 16), 3);
    EXPECT_EQ(converted(3), u"\u00E4\U0001F600");
    ASSERT_EQ(zt::MultiByteToWideChar(65001, 0, "a\xFF", 2, buffer, 16), 2);
    EXPECT_EQ(converted(2), u"a\uFFFD");
    EXPECT_EQ(zt::MultiByteToWideChar(65001, 0x08, "a\xFF", 2, buffer, 16), 0);
}

// ---------------------------------------------------------------------------------------------
// Name parts by flags, full and relative names

TEST(FsEntryName, PartsChosenByFlags) {
    const zt::fsEntryName n(u"/data\\sub/report.final.TXT");
    EXPECT_EQ(n.name(0), zt::string(u"report.final.TXT"));
    EXPECT_EQ(n.name(zt::FN_NOEXTENSION), zt::string(u"report.final"));
    EXPECT_EQ(n.name(zt::FN_ROOT | zt::FN_FOLDER | zt::FN_NOEXTENSION), nat(u"/data/sub/report.final"));
    EXPECT_EQ(n.name(26), nat(u"/data/sub/report.final"));
    EXPECT_EQ(n.name(zt::FN_FOLDER), nat(u"data/sub/report.final.TXT"));
    EXPECT_EQ(n.path(0), nat(u"/data/sub/"));
    EXPECT_EQ(n.path(zt::FN_ROOT), nat(u"/"));
    EXPECT_EQ(n.path(zt::FN_FOLDER), nat(u"data/sub/"));

    // Relative names have no root; a name without extension keeps its name.
    const zt::fsEntryName r(u"a/b/noext");
    EXPECT_EQ(r.name(26), nat(u"a/b/noext"));
    EXPECT_EQ(r.path(zt::FN_ROOT), zt::string());
    EXPECT_EQ(zt::fsEntryName(u"x.txt").name(26), zt::string(u"x"));
    EXPECT_EQ(zt::fsEntryName(u"x.txt").path(0), zt::string());
}

TEST_F(FilesTest, FullNames) {
    fs::current_path(mDir);
    const zt::string here = str(fs::current_path());
    EXPECT_EQ(zt::fsEntryName(u"a.txt").fullName(), here + nat(u"/a.txt"));
    EXPECT_EQ(zt::fsEntryName(u".").fullName(), here);
    EXPECT_EQ(zt::fsEntryName(u"./x/../y\\z.txt").fullName(), here + nat(u"/y/z.txt"));
    EXPECT_EQ(zt::fsEntryName(u"sub/").fullName(), here + nat(u"/sub/"));
    EXPECT_EQ(zt::fsEntryName(u"/a/b/../c/.").fullName(), driveRoot() + nat(u"a/c"));
    EXPECT_EQ(zt::fsEntryName(u"/").fullName(), driveRoot());
    EXPECT_EQ(zt::fsEntryName(u"").fullName(), zt::string());
}

TEST(FsEntry, EntryInFolder) {
    EXPECT_EQ(zt::fsEntry(u"/a/b", u"c.txt").name(), nat(u"/a/b/c.txt"));
    EXPECT_EQ(zt::fsEntry(u"/a/b/", u"c.txt").name(), nat(u"/a/b/c.txt"));
    EXPECT_EQ(zt::fsEntry(u"\\a\\b\\", u"sub\\c.txt").name(), nat(u"/a/b/sub/c.txt"));
    EXPECT_EQ(zt::fsEntry(u"/a/b", u"").name(), nat(u"/a/b"));
    EXPECT_EQ(zt::fsEntry(u"", u"c.txt").name(), zt::string(u"c.txt"));
    EXPECT_EQ(zt::fsEntry(u"/a/b", u"/abs/c.txt").name(), nat(u"/abs/c.txt"));
}

TEST(FsEntryName, ReplacesInvalidCharacters) {
    // The characters scripts see replaced: tests/scripts/file/names.ztscr.
    EXPECT_EQ(zt::fsEntryName::replaceInvalidChars(zt::string(u"t\tn\nz\0", 6), u'_'), zt::string(u"t_n_z_"));
}

// ---------------------------------------------------------------------------------------------
// Listings

TEST(FileIterator, Wildcards) {
    EXPECT_TRUE(zt::fileIterator::matches(u"", u"anything"));
    EXPECT_TRUE(zt::fileIterator::matches(u"*", u"anything"));
    EXPECT_TRUE(zt::fileIterator::matches(u"*.*", u"noext"));
    EXPECT_TRUE(zt::fileIterator::matches(u"*.txt", u"a.TXT"));
    EXPECT_FALSE(zt::fileIterator::matches(u"*.txt", u"a.txt.bak"));
    EXPECT_TRUE(zt::fileIterator::matches(u"*.txt", u".txt"));
    EXPECT_TRUE(zt::fileIterator::matches(u"a?c", u"abc"));
    EXPECT_FALSE(zt::fileIterator::matches(u"a?c", u"ac"));
    EXPECT_FALSE(zt::fileIterator::matches(u"a?c", u"abbc"));
    EXPECT_TRUE(zt::fileIterator::matches(u"*a*b*", u"xxaxxbxx"));
    EXPECT_TRUE(zt::fileIterator::matches(u"a*b*c", u"abcbc"));
    EXPECT_FALSE(zt::fileIterator::matches(u"a*b*c", u"abcb"));
    EXPECT_TRUE(zt::fileIterator::matches(u"**?", u"x"));
    EXPECT_FALSE(zt::fileIterator::matches(u"**?", u""));
    EXPECT_FALSE(zt::fileIterator::matches(u"abc", u"abcd"));
}

TEST_F(FilesTest, ListsFilesWithFiltersAndMask) {
    mTemp.write("b.TXT", "");
    mTemp.write("a.txt", "");
    mTemp.write("C.ini", "");
    mTemp.write(".hidden.txt", "");
    mTemp.write("folder.txt/inner.txt", "");

    auto names = [&](const zt::string& folder, const zt::string& filter, unsigned mask) {
        std::vector<std::string> out;
        zt::fileIterator it = zt::directory(folder).fileIt(filter, mask);
        for (; it.valid(); it.next()) {
            // Entries hold full names.
            EXPECT_EQ(it->path(), str(mDir / "")) << it->name().toUtf8();
            out.push_back(it->fileName().toUtf8());
        }
        EXPECT_FALSE(it.next());
        return out;
    };
    // (Filters, hidden files, folders found without regard to case and missing folders as scripts
    // see them: tests/scripts/file/directory.ztscr.)
    using v = std::vector<std::string>;
    EXPECT_EQ(names(str(mDir), u"", 0), (v{"a.txt", "b.TXT", "C.ini"}));
    EXPECT_EQ(names(str(mDir), u"*.txt", zt::DI_HIDDEN), (v{".hidden.txt", "a.txt", "b.TXT"}));
    EXPECT_EQ(names(str(mDir), u"*.TXT", zt::DI_DIRECTORY), (v{"a.txt", "b.TXT", "folder.txt"}));
    EXPECT_EQ(names(str(mDir) + u"/FOLDER.TXT/..", u"c.*", zt::DI_SYSTEM), v{"C.ini"});

    // Relative folders give full names too.
    fs::current_path(mDir / "folder.txt");
    zt::fileIterator it = zt::directory(u".").fileIt(u"", 0);
    ASSERT_TRUE(it.valid());
    EXPECT_EQ(it->name(), str(fs::current_path() / "inner.txt"));
}

// ---------------------------------------------------------------------------------------------
// Copying and appending

TEST_F(FilesTest, CopyReplacesUnlessAskedNotTo) {
    mTemp.write("src.txt", "new");
    mTemp.write("Dst.txt", "old");
    const zt::file source(str(mDir / "src.txt"));
    EXPECT_FALSE(source.copy(str(mDir) + u"/dst.TXT", true));
    EXPECT_EQ(testlib::readFile(mDir / "Dst.txt"), "old");
    EXPECT_TRUE(source.copy(str(mDir) + u"/dst.TXT", false));
    EXPECT_EQ(testlib::readFile(mDir / "Dst.txt"), "new");
    EXPECT_FALSE(source.copy(str(mDir / "src.txt"), false)); // onto itself
    EXPECT_EQ(testlib::readFile(mDir / "src.txt"), "new");
}

TEST_F(FilesTest, AppendOpensWithoutRegardToCase) {
    mTemp.write("Log.txt", "one\n");
    std::FILE* f = zt::_wfopen((str(mDir) + u"/LOG.TXT").c_str(), u"at");
    ASSERT_NE(f, nullptr);
    std::fputs("two\n", f);
    std::fclose(f);
    EXPECT_EQ(testlib::readFile(mDir / "Log.txt"), "one\ntwo\n");

    f = zt::_wfopen((str(mDir) + u"/new.txt").c_str(), u"at");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(fs::exists(mDir / "new.txt"));
    EXPECT_EQ(zt::_wfopen((str(mDir) + u"/missing/x.txt").c_str(), u"at"), nullptr);
    EXPECT_EQ(zt::_wfopen(str(mDir).c_str(), u"at"), nullptr);
    EXPECT_EQ(zt::_wfopen(u"", u"at"), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Key/value files

namespace {

// Every section with its keys as "[section]key=value;..." lines in file order.
std::string readAll(const zt::file& f, const zt::string& quotes = u"") {
    zt::keyValueFileReader reader(f, u";", u"=", quotes);
    if (!reader.open()) return "<unreadable>";
    std::string out;
    zt::string section, key, value;
    auto keys = [&] {
        while (reader.readKey(key, value)) out += key.toUtf8() + "=" + value.toUtf8() + ";";
    };
    out += "[]";
    keys(); // before the first header
    while (reader.readSection(section)) {
        out += "\n[" + section.toUtf8() + "]";
        keys();
    }
    reader.rewind();
    out += "\nagain:";
    keys();
    reader.close();
    EXPECT_FALSE(reader.isOpen());
    return out;
}

} // namespace

TEST_F(FilesTest, KeyValueLines) {
    mTemp.write("a.ini", "top = 1\r\n"
                               "; comment = no\r\n"
                               "  [ Main ]  trailing\r\n"
                               "Key=Value = with = signs\n"
                               "  spaced   =   x y   \n"
                               "noseparator\n"
                               "=nokey\n"
                               "empty=\n"
                               "[broken\n"
                               "quoted=\"  q  \"\r"
                               "[Second]\n"
                               "k=;not a comment\n");
    EXPECT_EQ(readAll(zt::file(str(mDir / "a.ini"))),
              "[]top=1;\n"
              "[Main]Key=Value = with = signs;spaced=x y;empty=;quoted=\"  q  \";\n"
              "[Second]k=;not a comment;\n"
              "again:top=1;");
    // With quote characters the pair around a value goes.
    EXPECT_EQ(readAll(zt::file(str(mDir / "a.ini")), u"\"'"),
              "[]top=1;\n"
              "[Main]Key=Value = with = signs;spaced=x y;empty=;quoted=  q  ;\n"
              "[Second]k=;not a comment;\n"
              "again:top=1;");

    EXPECT_EQ(readAll(zt::file(str(mDir / "missing.ini"))), "<unreadable>");
    mTemp.write("empty.ini", "");
    EXPECT_EQ(readAll(zt::file(str(mDir / "empty.ini"))), "[]\nagain:");
}

// The encodings of key/value files: tests/scripts/file/appendini.ztscr.

TEST(ConfigSet, ModesAndCase) {
    zt::configSet s;
    EXPECT_FALSE(s.setValue(u"Key", u"1", zt::configSet::replaceValue));
    EXPECT_EQ(s.size(), 0u);
    EXPECT_TRUE(s.setValue(u"Key", u"1", zt::configSet::createKey));
    EXPECT_FALSE(s.setValue(u"KEY", u"2", zt::configSet::createKey));
    EXPECT_TRUE(s.setValue(u"KEY", u"2", zt::configSet::replaceValue));
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s.keyAt(0), zt::string(u"Key"));
    EXPECT_EQ(s.valueAt(0), zt::string(u"2"));

    // Stored with case: keys that differ in case are separate; the lookup without case finds
    // the first one.
    EXPECT_TRUE(s.setValue(u"KEY", u"3", 3, true));
    EXPECT_TRUE(s.setValue(u"key", u"4", 3, true));
    EXPECT_TRUE(s.setValue(u"key", u"5", 3, true));
    ASSERT_EQ(s.size(), 3u);
    zt::string v;
    ASSERT_TRUE(s.getValue(u"kEy", v));
    EXPECT_EQ(v, zt::string(u"2"));
    ASSERT_TRUE(s.getValue(u"key", v, true));
    EXPECT_EQ(v, zt::string(u"5"));
    EXPECT_FALSE(s.getValue(u"kEy", v, true));
    EXPECT_EQ(s.keyIdx(u"KEY", true), 1);
    EXPECT_EQ(s.keyIdx(u"missing"), -1);
    EXPECT_EQ(s.value(u"missing"), nullptr);
}

TEST(ConfigStructure, SectionsWithCaseFlag) {
    zt::configStructure c;
    EXPECT_EQ(c.section(u"Main", false), nullptr);
    ASSERT_NE(c.section(u"Main", true, true), nullptr);
    ASSERT_NE(c.section(u"MAIN", true, true), nullptr);
    EXPECT_EQ(c.sectionCount(), 2u);
    c.section(u"MAIN", false, true)->setValue(u"k", u"upper");
    c.section(u"Main", false, true)->setValue(u"k", u"mixed");
    EXPECT_EQ(c.sectionIdx(u"main"), 0);
    EXPECT_EQ(c.sectionIdx(u"MAIN", true), 1);
    EXPECT_EQ(c.sectionIdx(u"main", true), -1);
    EXPECT_EQ(c.sectionName(1), zt::string(u"MAIN"));
    zt::string v;
    ASSERT_TRUE(c.getValue(u"mAIN", u"K", v));
    EXPECT_EQ(v, zt::string(u"mixed"));
    ASSERT_TRUE(c.sectionAt(1).getValue(u"k", v, true));
    EXPECT_EQ(v, zt::string(u"upper"));

    // The name list is sorted without regard to case; the empty name is a section as well.
    c.section(u"", true);
    c.section(u"alpha", true);
    EXPECT_EQ(c.sections(), (std::vector<zt::string>{u"", u"alpha", u"Main", u"MAIN"}));
    EXPECT_TRUE(c.hasSection(u""));
}

// ---------------------------------------------------------------------------------------------
// File statements where a script cannot look: a missing or empty "scriptbasepath", the bytes
// that file_appendtextline writes.

namespace {

zt::genericValue runStatement(const zt::string& text, zt::script::codecontext& context) {
    return testlib::run(text, context);
}

} // namespace

TEST_F(FilesTest, ScriptRelativeNamesNeedTheBasePath) {
    zt::script::scriptcontext context;
    const std::string chain = testlib::runError(u"file_makeabs(\"./x.txt\")", context);
    EXPECT_TRUE(testlib::contains(chain, "Global variable \"scriptbasepath\" not found")) << chain;
    // Names without a leading "." do not need it.
    zt::string full;
    ASSERT_TRUE(runStatement(u"file_makeabs(\"/a/./x.txt\")", context).get(full));
    EXPECT_EQ(full, driveRoot() + nat(u"a/x.txt"));

    // A base path without value puts nothing in front: the name is taken from the current
    // directory.
    fs::current_path(mDir);
    context.setGlobalContextVariable(zt::script::scriptcontext::scriptbasepath(), zt::genericValue());
    ASSERT_TRUE(runStatement(u"file_makeabs(\"./x.txt\")", context).get(full));
    EXPECT_EQ(full, str(fs::current_path() / "x.txt"));

    // The base path goes in front as it is, without a separator added.
    context.setGlobalContextVariable(zt::script::scriptcontext::scriptbasepath(), zt::genericValue::of(zt::string(u"/b/c")));
    ASSERT_TRUE(runStatement(u"file_makeabs(\".x.txt\")", context).get(full));
    EXPECT_EQ(full, driveRoot() + nat(u"b/c.x.txt"));
}

TEST_F(FilesTest, AppendedLinesAreUtf8WithOneLineFeed) {
    zt::script::scriptcontext context;
    context.setGlobalContextVariable(zt::script::scriptcontext::scriptbasepath(), zt::genericValue::of(str(mDir) + u"/"));
    const zt::string name = str(mDir) + u"/Log.txt";
    const zt::string call = u"file_appendtextline(\"" + name + u"\", ";
    runStatement(call + u"\"Grüße €\")", context);
    runStatement(call + u"\"\")", context);
    runStatement(u"file_appendtextline(\"" + str(mDir) + u"/LOG.TXT\", \"a b\")", context);
    EXPECT_EQ(testlib::readFile(mDir / "Log.txt"), "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\n\na b\n");
}
