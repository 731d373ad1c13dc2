// File names, files, directories and file contents.
//
// Everything goes through <filesystem>; the few platform calls (module paths, local time
// offset, file attributes) are kept behind #ifdef so the file builds on Windows as well.
#include "ztfile.h"
#include "ztsystem.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <cerrno>
#  include <fcntl.h>
#  include <link.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace zt {

namespace {

#if defined(_WIN32)
constexpr char16_t kSeparator = u'\\';
#else
constexpr char16_t kSeparator = u'/';
#endif

bool isSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// File systems stamp modification times with a coarse clock: an entry changed less than this
// long ago may change again without its time moving on, so its time proves nothing yet.
constexpr std::chrono::seconds kSettleTime{2};

fs::path toPath(const string& name) {
#if defined(_WIN32)
    return fs::path(std::wstring(name.begin(), name.end()));
#else
    return fs::path(name.toUtf8());
#endif
}

string fromPath(const fs::path& p) {
#if defined(_WIN32)
    const std::wstring& w = p.native();
    return string(std::u16string(w.begin(), w.end()));
#else
    return string::fromUtf8(p.native());
#endif
}

// Names use the platform separator, whichever of the two a script wrote.
string normalize(const string& name) {
    string n = name;
#if defined(_WIN32)
    std::replace(n.begin(), n.end(), u'/', u'\\');
#else
    std::replace(n.begin(), n.end(), u'\\', u'/');
#endif
    return n;
}

// Length of the root part of a name ("/" on POSIX; "C:\", "\\server\" or "\" on Windows).
size_t rootLength(const string& n) {
#if defined(_WIN32)
    return toPath(n).root_path().native().size();
#else
    size_t i = 0;
    while (i < n.size() && n[i] == u'/') ++i;
    return i;
#endif
}

bool entryExists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

// The name of the existing entry (resolved case-insensitively), or the normalised name as
// written when there is none.
string diskName(const string& name) {
    string resolved;
    if (fsEntryName::resolveNoCase(name, resolved)) return resolved;
    return normalize(name);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// fsEntryName

fsEntryName::fsEntryName(const string& name) : mName(normalize(name)) {}

string fsEntryName::fileName() const { return mName.substr(path().size()); }

string fsEntryName::extension() const {
    const string f = fileName();
    const size_t dot = f.rfind(u'.');
    if (dot == string::npos) return string();
    return f.substr(dot + 1);
}

string fsEntryName::baseName() const {
    const string f = fileName();
    const size_t dot = f.rfind(u'.');
    if (dot == string::npos) return f;
    return f.substr(0, dot);
}

bool fsEntryName::isAbsolute() const {
    if (mName.empty()) return false;
    if (isSeparator(mName[0])) return true;
#if defined(_WIN32)
    if (mName.size() >= 3 && mName[1] == u':' && isSeparator(mName[2])) return true;
#endif
    return false;
}

string fsEntryName::name(unsigned flags) const {
    const string folder = path();
    const size_t root = std::min(rootLength(folder), folder.size());
    string out;
    if (flags & FN_ROOT) out += folder.substr(0, root);
    if (flags & FN_FOLDER) out += folder.substr(root);
    out += (flags & FN_NOEXTENSION) ? baseName() : fileName();
    return out;
}

string fsEntryName::path(unsigned flags) const {
    string folder;
    for (size_t i = mName.size(); i > 0 && folder.empty(); --i) {
        if (isSeparator(mName[i - 1])) folder = mName.substr(0, i);
    }
#if defined(_WIN32)
    // "C:name" has the folder "C:".
    if (folder.empty() && mName.size() >= 2 && mName[1] == u':') folder = mName.substr(0, 2);
#endif
    if ((flags & (FN_ROOT | FN_FOLDER)) == 0 || (flags & (FN_ROOT | FN_FOLDER)) == (FN_ROOT | FN_FOLDER))
        return folder;
    const size_t root = std::min(rootLength(folder), folder.size());
    return (flags & FN_ROOT) ? folder.substr(0, root) : folder.substr(root);
}

string fsEntryName::fullName() const {
    if (mName.empty()) return string();
    std::error_code ec;
    fs::path p = fs::absolute(toPath(mName), ec);
    if (ec) p = toPath(mName);
    string out = fromPath(p.lexically_normal());
    // "a/.." and "." normalise to a folder name with a separator at the end.
    if (!isSeparator(mName.back()) && out.size() > rootLength(out) && isSeparator(out.back())) out.pop_back();
    return out;
}

string fsEntryName::replaceInvalidChars(const string& name, char16_t replacement) {
    static const std::u16string_view invalid = u"<>:\"/\\|?*";
    string out = name;
    for (char16_t& c : out) {
        if (c < 0x20 || invalid.find(c) != std::u16string_view::npos) c = replacement;
    }
    return out;
}

namespace {

// Entry names of folders, kept while a folder's modification time stays the same: looking up a
// name without regard to case lists the folder, and a host resolves the same script names on
// every call.
class folderListingCache {
public:
    // The entry of folder whose name equals part without regard to case (the smallest such name,
    // so that the result does not depend on the order in which the system lists them).
    bool find(const fs::path& folder, const string& part, string& found) {
        std::error_code ec;
        const fs::file_time_type modified = fs::last_write_time(folder, ec);
        if (ec) return false;
        const string key = fromPath(folder);
        std::lock_guard<std::mutex> guard(mMutex);
        auto it = mListings.find(key);
        // A folder changed within the last seconds may change again without its time moving on
        // (file systems stamp with a coarse clock): list it afresh until it has settled.
        const bool settled = modified < fs::file_time_type::clock::now() - kSettleTime;
        if (it == mListings.end() || it->second.modified != modified || !settled) {
            listing fresh;
            fresh.modified = modified;
            fs::directory_iterator entries(folder, ec);
            if (ec) return false;
            for (const fs::directory_iterator end; entries != end; entries.increment(ec)) {
                if (ec) break;
                const string entry = fromPath(entries->path().filename());
                fresh.byLowerName[entry.lower()].push_back(entry);
            }
            if (mListings.size() >= kMaxFolders) mListings.clear();
            it = mListings.insert_or_assign(key, std::move(fresh)).first;
        }
        const auto match = it->second.byLowerName.find(part.lower());
        if (match == it->second.byLowerName.end()) return false;
        found = *std::min_element(match->second.begin(), match->second.end());
        return true;
    }

private:
    struct listing {
        fs::file_time_type modified;
        std::map<string, std::vector<string>> byLowerName;
    };
    static constexpr size_t kMaxFolders = 256;
    std::mutex mMutex;
    std::map<string, listing> mListings;
};

folderListingCache& folderListings() {
    static folderListingCache cache;
    return cache;
}

} // namespace

#if defined(_WIN32)
namespace {

// The name of an existing entry as the disk spells it: the system finds names without regard to
// case, and each part after the root is looked up once more for its spelling.
string diskSpelling(const string& n) {
    string out = n.substr(0, rootLength(n));
    size_t start = out.size();
    for (size_t i = start; i <= n.size(); ++i) {
        if (i < n.size() && !isSeparator(n[i])) continue;
        const string part = n.substr(start, i - start);
        string spelled = part;
        if (!part.empty() && part != u"." && part != u"..") {
            const string sofar = out + part;
            WIN32_FIND_DATAW found;
            HANDLE h = FindFirstFileW(reinterpret_cast<const wchar_t*>(sofar.c_str()), &found);
            if (h != INVALID_HANDLE_VALUE) {
                spelled = string(reinterpret_cast<const char16_t*>(found.cFileName));
                FindClose(h);
            }
        }
        out += spelled;
        if (i < n.size()) out += kSeparator;
        start = i + 1;
    }
    return out;
}

} // namespace
#endif

bool fsEntryName::resolveNoCase(const string& name, string& resolved) {
    if (name.empty()) return false;
    const string n = normalize(name);
    if (entryExists(toPath(n))) {
#if defined(_WIN32)
        resolved = diskSpelling(n);
#else
        resolved = n;
#endif
        return true;
    }

    const size_t root = rootLength(n);
    string out = n.substr(0, root);

    // The parts after the root; empty parts ("a//b") are dropped.
    std::vector<string> parts;
    size_t start = root;
    for (size_t i = root; i <= n.size(); ++i) {
        if (i == n.size() || isSeparator(n[i])) {
            if (i > start) parts.push_back(n.substr(start, i - start));
            start = i + 1;
        }
    }
    if (parts.empty()) return false;
    const bool trailingSeparator = isSeparator(n.back());

    bool lastVerified = false; // the entry named so far is known to exist
    for (size_t k = 0; k < parts.size(); ++k) {
        const string& part = parts[k];
        string candidate = out + part;
        const bool special = part == u"." || part == u"..";
        // The whole name as written was looked at above.
        const bool knownMissing = k + 1 == parts.size() && !trailingSeparator && candidate == n;
        lastVerified = !special;
        if (!special && (knownMissing || !entryExists(toPath(candidate)))) {
            // Look for the part among the folder's entries. When several entries differ only in
            // case, the smallest name wins so that the result does not depend on the order in
            // which the system lists them.
            string best;
            if (!folderListings().find(out.empty() ? fs::path(".") : toPath(out), part, best)) return false;
            candidate = out + best;
        }
        out = candidate;
        if (k + 1 < parts.size() || trailingSeparator) out += kSeparator;
    }
    if (!lastVerified && !entryExists(toPath(out))) return false;
    resolved = out;
    return true;
}

// ---------------------------------------------------------------------------------------------
// fsEntry

fsEntry::fsEntry(const string& folder, const string& name) {
    if (name.empty()) {
        mName = normalize(folder);
    } else if (folder.empty() || fsEntryName(name).isAbsolute()) {
        mName = normalize(name);
    } else {
        mName = normalize(folder);
        if (!isSeparator(mName.back())) mName += kSeparator;
        mName += normalize(name);
    }
}

bool fsEntry::exists() {
    string resolved;
    if (!resolveNoCase(mName, resolved)) return false;
    mName = resolved;
    return true;
}

namespace {

// Offset in seconds of local wall-clock time from UTC at the given instant.
std::int64_t localOffsetSeconds(std::chrono::sys_seconds at) {
#if defined(__cpp_lib_chrono) && __cpp_lib_chrono >= 201907L
    try {
        return std::chrono::current_zone()->get_info(at).offset.count();
    } catch (...) {
        // No time-zone database: fall through to the C library.
    }
#endif
    const std::time_t t = static_cast<std::time_t>(at.time_since_epoch().count());
    std::tm local{};
#if defined(_WIN32)
    if (localtime_s(&local, &t) != 0) return 0;
    return static_cast<std::int64_t>(_mkgmtime(&local) - t);
#else
    if (localtime_r(&t, &local) == nullptr) return 0;
    return static_cast<std::int64_t>(local.tm_gmtoff);
#endif
}

} // namespace

std::int64_t fsEntry::lastModificationTime() const {
    std::error_code ec;
    // The name as it stands first: a resolved name needs no second lookup.
    fs::file_time_type ft = fs::last_write_time(toPath(normalize(mName)), ec);
    if (ec) {
        ec.clear();
        ft = fs::last_write_time(toPath(diskName(mName)), ec);
    }
    if (ec) return 0;
    const auto sys = std::chrono::file_clock::to_sys(ft);
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(sys);
    const auto secs = std::chrono::floor<std::chrono::seconds>(sys);
    return ms.time_since_epoch().count() + localOffsetSeconds(secs) * 1000;
}

namespace {

// The root of a full name and its parts.
void splitFull(const string& full, string& root, std::vector<string>& parts) {
    const size_t r = rootLength(full);
    root = full.substr(0, r);
    size_t start = r;
    for (size_t i = r; i <= full.size(); ++i) {
        if (i == full.size() || isSeparator(full[i])) {
            if (i > start) parts.push_back(full.substr(start, i - start));
            start = i + 1;
        }
    }
}

} // namespace

string fsEntry::relativeNameTo(const string& base) const {
    const string full = fullName();
    string root, baseRoot;
    std::vector<string> parts, baseParts;
    splitFull(full, root, parts);
    splitFull(fsEntryName(base).fullName(), baseRoot, baseParts);
    if (full.empty() || !root.equalsNoCase(baseRoot)) return full;

    size_t common = 0;
    while (common < parts.size() && common < baseParts.size() && parts[common].equalsNoCase(baseParts[common]))
        ++common;
    string out;
    if (common == baseParts.size()) {
        out = u".";
        out += kSeparator;
    } else {
        for (size_t i = common; i < baseParts.size(); ++i) {
            out += u"..";
            out += kSeparator;
        }
    }
    for (size_t i = common; i < parts.size(); ++i) {
        out += parts[i];
        out += kSeparator;
    }
    // Keep a separator at the end only where the entry's name has one.
    if (!isSeparator(full.back()) || common == parts.size()) {
        if (out.size() > 1) out.pop_back();
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// file

bool file::exists() {
    string resolved;
    if (!resolveNoCase(mName, resolved)) return false;
    std::error_code ec;
    if (!fs::is_regular_file(toPath(resolved), ec)) return false;
    mName = resolved;
    return true;
}

bool file::copyTo(const string& target, bool overwrite) const {
    std::error_code ec;
    const fs::path source = toPath(diskName(mName));
    if (!fs::is_regular_file(source, ec)) return false;
    const fs::path dest = toPath(diskName(target));
    if (entryExists(dest) && !overwrite) return false;
#if defined(_WIN32)
    // The runtime's copy_file cannot tell two files apart on Windows (no inode numbers).
    return CopyFileW(source.c_str(), dest.c_str(), overwrite ? FALSE : TRUE) != 0;
#else
    fs::copy_file(source, dest, overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none, ec);
    return !ec;
#endif
}

bool file::remove() const {
    std::error_code ec;
    const fs::path p = toPath(diskName(mName));
    const fs::file_status st = fs::symlink_status(p, ec);
    if (ec || !fs::exists(st) || fs::is_directory(st)) return false;
    return fs::remove(p, ec) && !ec;
}

// ---------------------------------------------------------------------------------------------
// directory

bool directory::exists() {
    string resolved;
    if (!resolveNoCase(mName, resolved)) return false;
    std::error_code ec;
    if (!fs::is_directory(toPath(resolved), ec)) return false;
    mName = resolved;
    return true;
}

bool directory::makeCurrent() const {
    std::error_code ec;
    const fs::path p = toPath(diskName(mName));
    if (!fs::is_directory(p, ec)) return false;
    fs::current_path(p, ec);
    return !ec;
}

string directory::current() {
    std::error_code ec;
    const fs::path p = fs::current_path(ec);
    if (ec) return string();
    return fromPath(p);
}

bool fileIterator::next() {
    if (mPosition < mEntries.size()) ++mPosition;
    return valid();
}

bool fileIterator::matches(const string& pattern, const string& name) {
    if (pattern.empty() || pattern == u"*" || pattern == u"*.*") return true;
    const string p = pattern.lower();
    const string n = name.lower();
    // Greedy match that goes back to the last "*" on a mismatch.
    size_t pi = 0, ni = 0, star = string::npos, resume = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == u'?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == u'*') {
            star = pi++;
            resume = ni;
        } else if (star != string::npos) {
            pi = star + 1;
            ni = ++resume;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == u'*') ++pi;
    return pi == p.size();
}

fileIterator directory::fileIt(const string& filter, unsigned mask) const {
    fileIterator it;
    string folder;
    if (!resolveNoCase(mName.empty() ? string(u".") : mName, folder)) return it;
    std::error_code ec;
    if (!fs::is_directory(toPath(folder), ec)) return it;
    string prefix = fsEntryName(folder).fullName();
    if (prefix.empty() || !isSeparator(prefix.back())) prefix += kSeparator;

    fs::directory_iterator entries(toPath(folder), fs::directory_options::skip_permission_denied, ec);
    if (ec) return it;
    for (const fs::directory_iterator end; entries != end; entries.increment(ec)) {
        if (ec) break;
        const string name = fromPath(entries->path().filename());
        std::error_code statusError;
        const fs::file_status st = entries->status(statusError); // follows links
        if (statusError || !fs::exists(st)) continue;
#if defined(_WIN32)
        const DWORD attributes = GetFileAttributesW(entries->path().c_str());
        // Names starting with "." count as hidden here too, so that listings match Linux's.
        const bool hidden = (!name.empty() && name[0] == u'.') ||
                            (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN));
        const bool system = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_SYSTEM);
#else
        const bool hidden = !name.empty() && name[0] == u'.';
        const bool system = !fs::is_regular_file(st) && !fs::is_directory(st);
#endif
        if (hidden && !(mask & DI_HIDDEN)) continue;
        if (system && !(mask & DI_SYSTEM)) continue;
        if (fs::is_directory(st) && !(mask & DI_DIRECTORY)) continue;
        if (!fileIterator::matches(filter, name)) continue;
        it.mEntries.emplace_back(prefix + name);
    }
    std::sort(it.mEntries.begin(), it.mEntries.end(), [](const fsEntry& a, const fsEntry& b) {
        const string la = a.name().lower(), lb = b.name().lower();
        return la != lb ? la < lb : a.name() < b.name();
    });
    return it;
}

std::FILE* _wfopen(const char16_t* name, const char16_t* mode) {
    if (name == nullptr || mode == nullptr || *name == u'\0') return nullptr;
    // Lines end with a line feed on every platform: the text mode of the runtime is not used.
#if defined(_WIN32)
    std::wstring wideMode;
    for (const char16_t* c = mode; *c; ++c) {
        if (*c != u't' && *c != u'b') wideMode += static_cast<wchar_t>(*c);
    }
    wideMode += L'b';
    return ::_wfopen(toPath(diskName(name)).c_str(), wideMode.c_str());
#else
    std::string narrowMode;
    for (const char16_t* c = mode; *c; ++c) {
        if (*c != u't') narrowMode += static_cast<char>(*c);
    }
    return std::fopen(toPath(diskName(name)).c_str(), narrowMode.c_str());
#endif
}

// ---------------------------------------------------------------------------------------------
// Module paths

namespace {

string folderOf(const fs::path& modulePath) {
    if (modulePath.empty()) return string();
    string folder = fromPath(modulePath.parent_path());
    if (!folder.empty() && !isSeparator(folder.back())) folder += kSeparator;
    return folder;
}

#if !defined(_WIN32)
// Reduces a module name to the part that identifies it on every platform: "libzt.so.1",
// "zt.dll", "libzt" and "zt" all become "zt".
string moduleKey(const string& fileName) {
    string k = fileName.lower();
    bool stripped = false;
    for (const char16_t* suffix : {u".so", u".dll", u".dylib"}) {
        const size_t length = std::char_traits<char16_t>::length(suffix);
        for (size_t pos = k.find(suffix, 1); pos != string::npos; pos = k.find(suffix, pos + 1)) {
            const size_t after = pos + length;
            if (after == k.size() || k[after] == u'.') {
                k.erase(pos);
                stripped = true;
                break;
            }
        }
        if (stripped) break;
    }
    if (k.size() > 3 && k.startsWith(u"lib")) k.erase(0, 3);
    return k;
}

fs::path programPath() {
    // The program does not move while it runs: read the link once.
    static const fs::path program = [] {
        std::error_code ec;
#if defined(__linux__)
        fs::path p = fs::read_symlink("/proc/self/exe", ec);
        if (!ec) return p;
#endif
        return fs::path();
    }();
    return program;
}

struct moduleSearch {
    string wanted;        // full path or file name as given
    bool byPath = false;  // the name contains a folder
    fs::path found;
};

int visitModule(struct dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<moduleSearch*>(data);
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
    const fs::path p(info->dlpi_name);
    if (search->byPath) {
        std::error_code ec;
        if (fs::equivalent(p, toPath(search->wanted), ec)) {
            search->found = p;
            return 1;
        }
        return 0;
    }
    const string name = fromPath(p.filename());
    if (name.equalsNoCase(search->wanted) || moduleKey(name) == moduleKey(search->wanted)) {
        search->found = p;
        return 1;
    }
    return 0;
}
#endif

} // namespace

// ---------------------------------------------------------------------------------------------
// entryStamp

bool entryStamp::settledAt(std::int64_t now) const {
    return exists && modifiedNs < now - std::chrono::nanoseconds(kSettleTime).count();
}

std::int64_t entryStamp::nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

entryStamp entryStamp::of(const string& name) {
    entryStamp stamp;
    const string n = name.empty() ? string(u".") : normalize(name);
#if defined(_WIN32)
    const std::wstring wname(n.begin(), n.end());
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wname.c_str(), GetFileExInfoStandard, &data)) return stamp;
    stamp.exists = true;
    stamp.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    stamp.isFile = !stamp.isFolder && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    // FILETIME: 100 ns since 1601-01-01
    const std::uint64_t ticks =
        (std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    stamp.modifiedNs = (static_cast<std::int64_t>(ticks) - 116444736000000000LL) * 100;
    stamp.size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
#else
    struct stat st;
    if (::stat(n.toUtf8().c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.isFolder = S_ISDIR(st.st_mode);
    stamp.isFile = S_ISREG(st.st_mode);
    stamp.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.identity = static_cast<std::uint64_t>(st.st_ino);
    stamp.device = static_cast<std::uint64_t>(st.st_dev);
#endif
    return stamp;
}

string getModulePath(const string& moduleName) {
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!moduleName.empty()) {
        const std::wstring wname(moduleName.begin(), moduleName.end());
        module = GetModuleHandleW(wname.c_str());
        if (module == nullptr) return string();
    }
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return string();
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return folderOf(fs::path(buffer));
#else
    const fs::path program = programPath();
    if (moduleName.empty()) return folderOf(program);

    moduleSearch search;
    search.wanted = normalize(moduleName);
    search.byPath = search.wanted.find(u'/') != string::npos;
    if (!search.byPath && !program.empty()) {
        const string programName = fromPath(program.filename());
        if (programName.equalsNoCase(search.wanted) || moduleKey(programName) == moduleKey(search.wanted))
            return folderOf(program);
    }
    dl_iterate_phdr(visitModule, &search);
    if (search.found.empty()) return string();
    std::error_code ec;
    const fs::path absolute = fs::absolute(search.found, ec);
    return folderOf(ec ? search.found : absolute);
#endif
}

// ---------------------------------------------------------------------------------------------
// Replacing a file's content

bool replaceFileContent(const string& name, const std::string& bytes) {
    std::error_code ec;
    // The file that a link names gets the content; the new file is made beside it.
    fs::path target = toPath(diskName(name));
    if (fs::is_symlink(target, ec)) {
        target = fs::canonical(target, ec);
        if (ec) return false;
    }
    fs::path temporary = target;
    temporary += ".zt-new";
#if defined(_WIN32)
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            fs::remove(temporary, ec);
            return false;
        }
    }
    // ReplaceFileW keeps the old file's attributes and access rights; a new file is moved.
    const bool replaced = fs::exists(target, ec)
                              ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr) != 0
                              : MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!replaced) fs::remove(temporary, ec);
    return replaced;
#else
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    if (ok && existed) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
        // Only a privileged process may give a file away; the owner is kept where it may.
        if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
            (void)!::fchown(fd, old.st_uid, old.st_gid);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
#endif
}

// ---------------------------------------------------------------------------------------------
// binaryBuffer

#if defined(_WIN32)
namespace {

// Reads the whole file, letting others replace or delete it meanwhile (as editors do when they
// save): the file is opened with every sharing mode. A file that is being replaced cannot be
// opened for a moment; that is tried again a few times.
bool readWholeFile(const fs::path& p, std::vector<std::uint8_t>& out) {
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 20; ++attempt) {
        h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
        Sleep(1);
    }
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    constexpr DWORD kChunk = 1 << 16; // read straight into the result: no buffer on the stack
    for (;;) {
        const size_t had = out.size();
        out.resize(had + kChunk);
        DWORD got = 0;
        ok = ReadFile(h, out.data() + had, kChunk, &got, nullptr) != 0;
        out.resize(had + (ok ? got : 0));
        if (!ok || got == 0) break;
    }
    CloseHandle(h);
    return ok;
}

} // namespace
#else
namespace {

bool readWholeFile(const fs::path& p, std::vector<std::uint8_t>& out) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    constexpr size_t kChunk = 1 << 16; // read straight into the result: no buffer on the stack
    while (in) {
        const size_t had = out.size();
        out.resize(had + kChunk);
        in.read(reinterpret_cast<char*>(out.data() + had), kChunk);
        out.resize(had + static_cast<size_t>(in.gcount()));
    }
    return !in.bad();
}

} // namespace
#endif

bool binaryBuffer::readFromFile(const file& f) {
    mData.clear();
    const fs::path p = toPath(diskName(f.name()));
    std::error_code ec;
    if (f.empty() || fs::is_directory(p, ec)) return false;
    if (!readWholeFile(p, mData)) {
        mData.clear();
        return false;
    }
    return true;
}

bool binaryBuffer::writeToFile(const file& f) const {
    if (f.empty()) return false;
    std::ofstream out(toPath(diskName(f.name())), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    if (!mData.empty()) out.write(reinterpret_cast<const char*>(mData.data()), static_cast<std::streamsize>(mData.size()));
    out.close();
    return !out.fail();
}

void binaryBuffer::xxor(const char* key) {
    if (key == nullptr) return;
    const size_t keyLength = std::strlen(key);
    if (keyLength == 0) return;
    for (size_t i = 0; i < mData.size(); ++i) mData[i] ^= static_cast<std::uint8_t>(key[i % keyLength]);
}

size_t binaryBuffer::read(size_t offset, void* dst, size_t n) const {
    if (offset >= mData.size() || dst == nullptr) return 0;
    const size_t count = std::min(n, mData.size() - offset);
    std::memcpy(dst, mData.data() + offset, count);
    return count;
}

// ---------------------------------------------------------------------------------------------
// keyValueFileReader

namespace {

bool isUtf8(const std::uint8_t* p, size_t n) {
    for (size_t i = 0; i < n;) {
        const std::uint8_t b = p[i];
        size_t extra;
        if (b < 0x80) extra = 0;
        else if (b >= 0xC2 && b <= 0xDF) extra = 1;
        else if (b >= 0xE0 && b <= 0xEF) extra = 2;
        else if (b >= 0xF0 && b <= 0xF4) extra = 3;
        else return false;
        for (size_t k = 1; k <= extra; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

string decodeText(const std::vector<std::uint8_t>& bytes) {
    const std::uint8_t* p = bytes.data();
    const size_t n = bytes.size();
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        return string::fromUtf8(std::string_view(reinterpret_cast<const char*>(p + 3), n - 3));
    if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        const bool little = p[0] == 0xFF;
        string out;
        for (size_t i = 2; i + 1 < n; i += 2)
            out += static_cast<char16_t>(little ? (p[i] | (p[i + 1] << 8)) : ((p[i] << 8) | p[i + 1]));
        return out;
    }
    if (isUtf8(p, n)) return string::fromUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
    return ansiToString(reinterpret_cast<const char*>(p), n);
}

} // namespace

keyValueFileReader::keyValueFileReader(const file& f, const string& commentText, const string& separator,
                                       const string& quotes)
    : mFile(f), mComment(commentText), mSeparator(separator), mQuotes(quotes) {}

keyValueFileReader::~keyValueFileReader() = default;

bool keyValueFileReader::open() {
    close();
    binaryBuffer buffer;
    if (!buffer.readFromFile(mFile)) return false;
    const string text = decodeText(buffer.bytes());
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'\n' || text[i] == u'\r') {
            string line = text.substr(start, i - start);
            mLines.push_back(std::move(line.trim()));
            if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n') ++i;
            start = i + 1;
        }
    }
    mOpen = true;
    return true;
}

void keyValueFileReader::close() {
    mLines.clear();
    mLine = 0;
    mOpen = false;
}

keyValueFileReader::lineKind keyValueFileReader::parseLine(const string& line, string& name, string& value) const {
    if (line.empty()) return lineKind::skip;
    if (!mComment.empty() && line.startsWith(mComment)) return lineKind::skip;
    if (line[0] == u'[') {
        const size_t close = line.find(u']');
        if (close == string::npos) return lineKind::skip;
        name = line.substr(1, close - 1);
        name.trim();
        return lineKind::section;
    }
    if (mSeparator.empty()) return lineKind::skip;
    const size_t sep = line.find(mSeparator);
    if (sep == string::npos) return lineKind::skip;
    name = line.substr(0, sep);
    name.trim();
    if (name.empty()) return lineKind::skip;
    value = line.substr(sep + mSeparator.size());
    value.trim();
    if (value.size() >= 2 && value.front() == value.back() && mQuotes.find(value.front()) != string::npos)
        value = value.substr(1, value.size() - 2);
    return lineKind::key;
}

bool keyValueFileReader::readSection(string& name) {
    string found, unused;
    while (mLine < mLines.size()) {
        const lineKind kind = parseLine(mLines[mLine++], found, unused);
        if (kind == lineKind::section) {
            name = found;
            return true;
        }
    }
    return false;
}

bool keyValueFileReader::readKey(string& key, string& value) {
    string k, v;
    while (mLine < mLines.size()) {
        const lineKind kind = parseLine(mLines[mLine], k, v);
        if (kind == lineKind::section) return false;
        ++mLine;
        if (kind == lineKind::key) {
            key = std::move(k);
            value = std::move(v);
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// configSet, configStructure

namespace {

// Index of name among entries: the first that matches without regard to case, or the first
// that matches exactly.
template <class Entries>
int findIndexed(const std::map<string, std::vector<size_t>>& index, const Entries& entries, const string& name,
                bool caseSensitive) {
    const auto it = index.find(name.lower());
    if (it == index.end() || it->second.empty()) return -1;
    if (!caseSensitive) return static_cast<int>(it->second.front());
    for (size_t i : it->second)
        if (entries[i].first == name) return static_cast<int>(i);
    return -1;
}

} // namespace

int configSet::keyIdx(const string& key, bool caseSensitive) const {
    return findIndexed(mIndex, mEntries, key, caseSensitive);
}

bool configSet::setValue(const string& key, const string& value, int mode, bool caseSensitive) {
    const int i = keyIdx(key, caseSensitive);
    if (i >= 0) {
        if (!(mode & replaceValue)) return false;
        mEntries[static_cast<size_t>(i)].second = value;
        return true;
    }
    if (!(mode & createKey)) return false;
    mIndex[key.lower()].push_back(mEntries.size());
    mEntries.emplace_back(key, value);
    return true;
}

const string* configSet::value(const string& key, bool caseSensitive) const {
    const int i = keyIdx(key, caseSensitive);
    return i < 0 ? nullptr : &mEntries[static_cast<size_t>(i)].second;
}

bool configSet::getValue(const string& key, string& value, bool caseSensitive) const {
    const string* v = this->value(key, caseSensitive);
    if (v == nullptr) return false;
    value = *v;
    return true;
}

int configStructure::sectionIdx(const string& name, bool caseSensitive) const {
    return findIndexed(mIndex, mSections, name, caseSensitive);
}

configSet* configStructure::section(const string& name, bool create, bool caseSensitive) {
    const int i = sectionIdx(name, caseSensitive);
    if (i >= 0) return &mSections[static_cast<size_t>(i)].second;
    if (!create) return nullptr;
    mIndex[name.lower()].push_back(mSections.size());
    mSections.emplace_back(name, configSet());
    return &mSections.back().second;
}

void configStructure::setValue(const string& section, const string& key, const string& value) {
    this->section(section, true)->setValue(key, value);
}

bool configStructure::getValue(const string& section, const string& key, string& value) const {
    const int i = sectionIdx(section);
    return i >= 0 && mSections[static_cast<size_t>(i)].second.getValue(key, value);
}

bool configStructure::hasSection(const string& section) const { return sectionIdx(section) >= 0; }

std::vector<string> configStructure::sections() const {
    std::vector<string> names;
    names.reserve(mSections.size());
    for (const auto& s : mSections) names.push_back(s.first);
    std::stable_sort(names.begin(), names.end(), [](const string& a, const string& b) { return a.lower() < b.lower(); });
    return names;
}

void configStructure::clear() {
    mSections.clear();
    mIndex.clear();
}

} // namespace zt
