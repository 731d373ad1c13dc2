// File names, files, directories and file contents.
//
// Everything goes through <filesystem>; the few platform calls (module paths, local time
// offset) are kept behind #ifdef so the file builds on Windows as well.
#include "ztfile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#else
#  include <link.h>
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

// Names use the platform separator; on Windows both kinds are understood by the system.
string normalize(const string& name) {
    string n = name;
#if !defined(_WIN32)
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

string fsEntryName::path() const {
    for (size_t i = mName.size(); i > 0; --i) {
        if (isSeparator(mName[i - 1])) return mName.substr(0, i);
    }
#if defined(_WIN32)
    // "C:name" has the folder "C:".
    if (mName.size() >= 2 && mName[1] == u':') return mName.substr(0, 2);
#endif
    return string();
}

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

bool fsEntryName::resolveNoCase(const string& name, string& resolved) {
    if (name.empty()) return false;
    const string n = normalize(name);
    if (entryExists(toPath(n))) {
        resolved = n;
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

    for (size_t k = 0; k < parts.size(); ++k) {
        const string& part = parts[k];
        string candidate = out + part;
        if (part != u"." && part != u".." && !entryExists(toPath(candidate))) {
            // Look for the part among the folder's entries. When several entries differ only in
            // case, the smallest name wins so that the result does not depend on the order in
            // which the system lists them.
            std::error_code ec;
            fs::directory_iterator it(out.empty() ? fs::path(".") : toPath(out), ec);
            if (ec) return false;
            string best;
            bool found = false;
            for (const fs::directory_iterator end; it != end; it.increment(ec)) {
                if (ec) break;
                const string entry = fromPath(it->path().filename());
                if (entry.equalsNoCase(part) && (!found || entry < best)) {
                    best = entry;
                    found = true;
                }
            }
            if (!found) return false;
            candidate = out + best;
        }
        out = candidate;
        if (k + 1 < parts.size() || trailingSeparator) out += kSeparator;
    }
    if (!entryExists(toPath(out))) return false;
    resolved = out;
    return true;
}

// ---------------------------------------------------------------------------------------------
// fsEntry

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
    const fs::file_time_type ft = fs::last_write_time(toPath(diskName(mName)), ec);
    if (ec) return 0;
    const auto sys = std::chrono::file_clock::to_sys(ft);
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(sys);
    const auto secs = std::chrono::floor<std::chrono::seconds>(sys);
    return ms.time_since_epoch().count() + localOffsetSeconds(secs) * 1000;
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
    fs::copy_file(source, dest, overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none, ec);
    return !ec;
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
    std::error_code ec;
#if defined(__linux__)
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return p;
#endif
    return fs::path();
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
// binaryBuffer

bool binaryBuffer::readFromFile(const file& f) {
    mData.clear();
    const fs::path p = toPath(diskName(f.name()));
    std::error_code ec;
    if (f.empty() || fs::is_directory(p, ec)) return false;
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    char chunk[65536];
    while (in) {
        in.read(chunk, sizeof chunk);
        const std::streamsize got = in.gcount();
        if (got > 0) mData.insert(mData.end(), chunk, chunk + got);
    }
    if (in.bad()) {
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
// configStructure

bool configStructure::noCaseLess::operator()(const string& a, const string& b) const {
    return a.lower() < b.lower();
}

void configStructure::setValue(const string& section, const string& key, const string& value) {
    mSections[section][key] = value;
}

bool configStructure::getValue(const string& section, const string& key, string& value) const {
    const auto s = mSections.find(section);
    if (s == mSections.end()) return false;
    const auto k = s->second.find(key);
    if (k == s->second.end()) return false;
    value = k->second;
    return true;
}

bool configStructure::hasSection(const string& section) const { return mSections.count(section) != 0; }

std::vector<string> configStructure::sections() const {
    std::vector<string> names;
    names.reserve(mSections.size());
    for (const auto& s : mSections) names.push_back(s.first);
    return names;
}

} // namespace zt
