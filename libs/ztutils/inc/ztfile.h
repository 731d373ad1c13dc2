// File names, files, directories and file contents.
//
// Names given by scripts may use "/" or "\" between folders. Lookups of existing entries are
// case-insensitive, as on the reference platform: when a name does not exist as written, each
// part of it is matched against the folder's entries without regard to case.
#pragma once

#include "ztdatetime.h"
#include "ztexport.h"
#include "ztstring.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

namespace zt {

// Parts of a name chosen by fsEntryName::name(flags) and fsEntryName::path(flags).
constexpr unsigned FN_FOLDER = 0x02;      // the folders between the root and the file name
constexpr unsigned FN_NOEXTENSION = 0x08; // leave out the extension and its dot
constexpr unsigned FN_ROOT = 0x10;        // the root: "/" here, "C:\" or "\\server\" on Windows
// name(0) is the file name with its extension, name(FN_ROOT | FN_FOLDER | FN_NOEXTENSION) (26)
// the whole name without the extension.

// Kinds of entries that directory::fileIt lists besides plain files.
constexpr unsigned DI_HIDDEN = 0x02;    // hidden entries (names starting with "." here)
constexpr unsigned DI_SYSTEM = 0x04;    // system entries (here: fifos, sockets, devices)
constexpr unsigned DI_DIRECTORY = 0x10; // folders ("." and ".." are never listed)

// A file-system name and its parts.
class ZTUTILS_API fsEntryName {
public:
    fsEntryName() = default;
    // Either separator becomes the platform separator ("/" here, "\" on Windows).
    fsEntryName(const string& name);

    const string& name() const { return mName; }
    // The parts of the name that flags choose (FN_...).
    string name(unsigned flags) const;
    // The folder part, ending with a separator ("" when the name has none). With FN_ROOT or
    // FN_FOLDER only the chosen parts; 0 gives both.
    string path(unsigned flags = 0) const;
    // The last part (file name with extension).
    string fileName() const;
    // The extension without its dot ("" when none).
    string extension() const;
    // The file name without folder and extension.
    string baseName() const;
    bool isAbsolute() const;
    bool empty() const { return mName.empty(); }

    // The absolute form of the name: relative names are taken from the current directory, "."
    // and ".." parts are resolved by their text. A trailing separator is kept only when the
    // name has one. Case and existence on disk play no part.
    string fullName() const;

    // The name of an existing entry matched case-insensitively part by part; false when none.
    static bool resolveNoCase(const string& name, string& resolved);
    // The name with every character that no file-system name may hold (control characters and
    // < > : " / \ | ? *, the rules of the strictest platform) replaced by the replacement.
    static string replaceInvalidChars(const string& name, char16_t replacement);

protected:
    string mName;
};

class ZTUTILS_API fsEntry : public fsEntryName {
public:
    using fsEntryName::fsEntryName;
    // The entry name within a folder; an empty name gives the folder itself, an absolute name
    // stands for itself.
    fsEntry(const string& folder, const string& name);
    // True when the entry exists (case-insensitively); the name then becomes the name on disk.
    bool exists();
    // Milliseconds since the epoch of the last modification (local time); 0 when unknown.
    std::int64_t lastModificationTime() const;
    // This entry's name relative to the folder base: "./" followed by the rest when the entry
    // lies inside base, otherwise as many "../" as needed. Both names are taken in their full
    // form and compared without regard to case. The full name when they share no root.
    string relativeNameTo(const string& base) const;
};

class ZTUTILS_API file : public fsEntry {
public:
    using fsEntry::fsEntry;
    bool exists();
    bool copyTo(const string& target, bool overwrite) const;
    // Copies the file to target; an existing target is replaced unless failIfExists is true.
    bool copy(const string& target, bool failIfExists) const { return copyTo(target, !failIfExists); }
    bool remove() const;
};

class fileIterator;

class ZTUTILS_API directory : public fsEntry {
public:
    using fsEntry::fsEntry;
    bool exists();
    bool makeCurrent() const;
    static string current();
    // The plain files of this folder whose names match filter (wildcards "*" and "?", compared
    // without regard to case; empty, "*" and "*.*" match every name), plus the kinds of entries
    // that mask names (DI_...). Entries hold their full names, sorted by name without regard to
    // case. A folder that does not exist gives no entries.
    fileIterator fileIt(const string& filter, unsigned mask) const;
};

// The entries of a listing, read when it is made.
class ZTUTILS_API fileIterator {
public:
    fileIterator() = default;
    // True while the iterator holds an entry.
    bool valid() const { return mPosition < mEntries.size(); }
    explicit operator bool() const { return valid(); }
    // The current entry; only while valid().
    const fsEntry& entry() const { return mEntries[mPosition]; }
    const fsEntry& operator*() const { return entry(); }
    const fsEntry* operator->() const { return &entry(); }
    // Moves to the next entry; false when there is none.
    bool next();

    // True when name matches the wildcard pattern ("*" any run of characters, "?" one
    // character), without regard to case.
    static bool matches(const string& pattern, const string& name);

private:
    friend class directory;
    std::vector<fsEntry> mEntries;
    size_t mPosition = 0;
};

// What one look at an entry (one system call, no case-insensitive lookup) tells about it: its
// kind and a stamp that moves when it is modified or replaced. Callers that must notice changes
// on disk compare stamps instead of reading names and times again.
struct ZTUTILS_API entryStamp {
    bool exists = false;
    bool isFolder = false;
    bool isFile = false;           // a plain file (what file::exists accepts)
    std::int64_t modifiedNs = 0;   // last modification, nanoseconds since the epoch (UTC)
    std::uint64_t size = 0;
    std::uint64_t identity = 0;    // inode or file index; 0 where the system gives none
    std::uint64_t device = 0;

    bool operator==(const entryStamp&) const = default;
    // False while the entry was modified less than two seconds before the moment taken: file
    // systems stamp with a coarse clock, so a later change might not move the time yet.
    bool settledAt(std::int64_t nowNs) const;

    // The stamp of the entry named exactly as written (backslashes read as separators; "" is the
    // current directory).
    static entryStamp of(const string& name);
    // The moment "now" on the clock that modification times use.
    static std::int64_t nowNs();
};

// Stand-in for the runtime's wide-character fopen: opens the file (found without regard to
// case when it exists) with a C mode such as "at" ("t" is dropped; files are byte streams
// here). Null when it cannot be opened.
ZTUTILS_API std::FILE* _wfopen(const char16_t* name, const char16_t* mode);

// The folder (ending with a separator) of the named module; an empty name means the running
// program.
ZTUTILS_API string getModulePath(const string& moduleName);

// Replaces the content of the named file as a whole: the bytes go to a new file beside it, which
// then takes the old one's place, so that a failure leaves the old content as it was. A symbolic
// link is followed (the file it names gets the content, the link stays a link), and the file
// keeps its permissions and, where the process may set it, its owner. False when the content
// could not be written.
ZTUTILS_API bool replaceFileContent(const string& name, const std::string& bytes);

// Bytes of a file.
class ZTUTILS_API binaryBuffer {
public:
    // Replaces the content with the file's bytes; false when the file cannot be read.
    bool readFromFile(const file& f);
    bool writeToFile(const file& f) const;
    // XORs every byte with the key's bytes in turn (the key is NUL-terminated); applying it
    // twice restores the content.
    void xxor(const char* key);
    // Copies up to n bytes from offset into dst; returns the number copied.
    size_t read(size_t offset, void* dst, size_t n) const;
    size_t logicalLength() const { return mData.size(); }
    void clear() { mData.clear(); }
    bool empty() const { return mData.empty(); }
    const std::uint8_t* data() const { return mData.data(); }
    std::vector<std::uint8_t>& bytes() { return mData; }
    const std::vector<std::uint8_t>& bytes() const { return mData; }

private:
    std::vector<std::uint8_t> mData;
};

// Reads "key=value" files with "[section]" headers line by line.
//
// Blanks and tabs around lines, names, keys and values are dropped. A line starting with the
// comment text is skipped (no comments when it is empty). "[name]" opens a section (text after
// the "]" is ignored). A line holding the separator is a key: the key is the text before the
// first separator, the value the rest; lines with an empty key and lines without separator
// are skipped. When the value starts and ends with the same character of quotes (the third
// text; none when empty), that pair is removed.
//
// Files are UTF-8 (a byte-order mark is skipped), UTF-16 with a byte-order mark, or, when they
// are not valid UTF-8, Windows-1252. Lines end with LF, CR LF or CR.
class ZTUTILS_API keyValueFileReader {
public:
    keyValueFileReader(const file& f, const string& commentText, const string& separator, const string& quotes);
    virtual ~keyValueFileReader();

    // Reads the file; false when it cannot be read.
    bool open();
    bool isOpen() const { return mOpen; }
    void close();
    // Back to the first line.
    void rewind() { mLine = 0; }
    // Moves past the next section header and gives its name; false at the end of the file.
    bool readSection(string& name);
    // The next key of the current section; false at the next section header (which stays
    // unread) or at the end of the file.
    bool readKey(string& key, string& value);

protected:
    enum class lineKind { skip, section, key };
    // Classifies one line (already trimmed) and gives its name or key and value.
    virtual lineKind parseLine(const string& line, string& name, string& value) const;

private:
    file mFile;
    string mComment;
    string mSeparator;
    string mQuotes;
    std::vector<string> mLines;
    size_t mLine = 0;
    bool mOpen = false;
};

// The keys and values of one section, in the order in which they were stored.
class ZTUTILS_API configSet {
public:
    // Modes of setValue.
    static constexpr int createKey = 1;    // add the key when it is missing
    static constexpr int replaceValue = 2; // replace the value of an existing key

    // Stores value under key as mode allows; with caseSensitive false a key that differs only
    // in case is the same key. True when the value was stored.
    bool setValue(const string& key, const string& value, int mode = createKey | replaceValue,
                  bool caseSensitive = false);
    // The value of key (the first stored one that matches); null when missing.
    const string* value(const string& key, bool caseSensitive = false) const;
    bool getValue(const string& key, string& value, bool caseSensitive = false) const;
    // Index of key or -1.
    int keyIdx(const string& key, bool caseSensitive = false) const;
    size_t size() const { return mEntries.size(); }
    const string& keyAt(size_t i) const { return mEntries[i].first; }
    const string& valueAt(size_t i) const { return mEntries[i].second; }

private:
    std::vector<std::pair<string, string>> mEntries;
    std::map<string, std::vector<size_t>> mIndex; // lower-cased key -> entries
};

// Sections of key/value pairs, in the order in which they were made.
//
// The calls without case flag compare section and key names without regard to case; there a
// later value replaces an earlier one under the same key.
class ZTUTILS_API configStructure {
public:
    // The section of that name; with create true it is made when missing (null otherwise).
    configSet* section(const string& name, bool create, bool caseSensitive = false);
    // Index of the section or -1.
    int sectionIdx(const string& name, bool caseSensitive = false) const;
    size_t sectionCount() const { return mSections.size(); }
    const string& sectionName(size_t i) const { return mSections[i].first; }
    configSet& sectionAt(size_t i) { return mSections[i].second; }
    const configSet& sectionAt(size_t i) const { return mSections[i].second; }

    void setValue(const string& section, const string& key, const string& value);
    bool getValue(const string& section, const string& key, string& value) const;
    bool hasSection(const string& section) const;
    // Section names sorted without regard to case.
    std::vector<string> sections() const;
    void clear();

private:
    std::vector<std::pair<string, configSet>> mSections;
    std::map<string, std::vector<size_t>> mIndex; // lower-cased name -> sections
};

} // namespace zt
