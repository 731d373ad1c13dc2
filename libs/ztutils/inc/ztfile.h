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
#include <map>
#include <vector>

namespace zt {

// A file-system name and its parts.
class ZTUTILS_API fsEntryName {
public:
    fsEntryName() = default;
    // Backslashes become the platform separator.
    fsEntryName(const string& name);

    const string& name() const { return mName; }
    // The folder part, ending with a separator ("" when the name has none).
    string path() const;
    // The last part (file name with extension).
    string fileName() const;
    // The extension without its dot ("" when none).
    string extension() const;
    // The file name without folder and extension.
    string baseName() const;
    bool isAbsolute() const;
    bool empty() const { return mName.empty(); }

    // The name of an existing entry matched case-insensitively part by part; false when none.
    static bool resolveNoCase(const string& name, string& resolved);

protected:
    string mName;
};

class ZTUTILS_API fsEntry : public fsEntryName {
public:
    using fsEntryName::fsEntryName;
    // True when the entry exists (case-insensitively); the name then becomes the name on disk.
    bool exists();
    // Milliseconds since the epoch of the last modification (local time); 0 when unknown.
    std::int64_t lastModificationTime() const;
};

class ZTUTILS_API file : public fsEntry {
public:
    using fsEntry::fsEntry;
    bool exists();
    bool copyTo(const string& target, bool overwrite) const;
    bool remove() const;
};

class ZTUTILS_API directory : public fsEntry {
public:
    using fsEntry::fsEntry;
    bool exists();
    bool makeCurrent() const;
    static string current();
};

// The folder (ending with a separator) of the named module; an empty name means the running
// program.
ZTUTILS_API string getModulePath(const string& moduleName);

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

// Sections of key/value pairs. Section and key names compare without regard to case;
// a later value replaces an earlier one under the same key.
class ZTUTILS_API configStructure {
public:
    void setValue(const string& section, const string& key, const string& value);
    bool getValue(const string& section, const string& key, string& value) const;
    bool hasSection(const string& section) const;
    std::vector<string> sections() const;
    void clear() { mSections.clear(); }

private:
    struct noCaseLess {
        bool operator()(const string& a, const string& b) const;
    };
    std::map<string, std::map<string, string, noCaseLess>, noCaseLess> mSections;
};

} // namespace zt
