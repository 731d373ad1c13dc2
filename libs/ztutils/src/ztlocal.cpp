// Localisation: catalogue files, the language in use and the resolution of message texts.
#include "ztlocal.h"
#include "ztfile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace zt {

namespace {

using table = std::unordered_map<zt::string, zt::string, std::hash<std::u16string>>;

const zt::string kCommonCatalogue = u"strings";

struct catalogues {
    std::shared_mutex lock;
    zt::string folder;            // the host's folder ("" for none)
    zt::string requestedLanguage; // as the host set it ("" for the environment's)
    zt::string language;          // in use, valid when languageKnown
    bool languageKnown = false;
    // language -> catalogue name -> entries; a file that does not exist gives an empty table.
    std::map<zt::string, std::map<zt::string, table>> tables;

    std::shared_mutex hookLock;
    locString::catalogue hook;
};

catalogues& state() {
    static catalogues* s = new catalogues; // used by messages until the very end of the process
    return *s;
}

// Letters, digits, "_", "-" and "." (not first): keeps names inside the catalogue folders.
bool isSafeName(const zt::string& name) {
    if (name.empty() || name[0] == u'.') return false;
    for (char16_t c : name) {
        const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                        c == u'_' || c == u'-' || c == u'.';
        if (!ok) return false;
    }
    return true;
}

zt::string unescape(const zt::string& text) {
    if (text.find(u'\\') == zt::string::npos) return text;
    zt::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            const char16_t next = text[i + 1];
            if (next == u'n' || next == u't' || next == u'\\') {
                out += next == u'n' ? u'\n' : next == u't' ? u'\t' : u'\\';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// Adds the entries of one file to entries (later lines and files win).
void readCatalogueFile(const std::filesystem::path& path, table& entries) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    std::string line;
    bool firstLine = true;
    while (std::getline(in, line)) {
        if (firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        firstLine = false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        zt::string id = zt::string::fromUtf8(std::string_view(line).substr(0, equals));
        id.trim();
        if (id.empty() || id[0] == u'#') continue;
        zt::string text = zt::string::fromUtf8(std::string_view(line).substr(equals + 1));
        text.trim();
        entries[id] = unescape(text);
    }
}

std::filesystem::path folderPath(const zt::string& folder) { return std::filesystem::path(folder.toUtf8()); }

// Reads the catalogue name for language from the program's folder and then the host's.
table loadCatalogue(const zt::string& folder, const zt::string& name, const zt::string& language) {
    table entries;
    if (!isSafeName(name) || !isSafeName(language)) return entries;
    const std::string fileName = name.toUtf8() + "." + language.toUtf8() + ".txt";
    const zt::string programFolder = getModulePath(zt::string());
    std::error_code ec;
    std::filesystem::path programFile;
    if (!programFolder.empty()) {
        programFile = folderPath(programFolder) / fileName;
        readCatalogueFile(programFile, entries);
    }
    if (!folder.empty()) {
        const std::filesystem::path hostFile = folderPath(folder) / fileName;
        if (programFile.empty() || !std::filesystem::equivalent(hostFile, programFile, ec))
            readCatalogueFile(hostFile, entries);
    }
    return entries;
}

zt::string environmentLanguage() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return languageOfLocale(zt::string::fromUtf8(value));
    }
    return zt::string();
}

// The language in use; call with the state's lock held exclusively.
const zt::string& resolveLanguage(catalogues& s) {
    if (!s.languageKnown) {
        s.language = s.requestedLanguage.empty() ? environmentLanguage() : languageOfLocale(s.requestedLanguage);
        s.languageKnown = true;
    }
    return s.language;
}

// Finds id in the loaded catalogue; false when the catalogue is not loaded yet (loaded) or the
// id is not in it.
bool findLoaded(const catalogues& s, const zt::string& language, const zt::string& name, const zt::string& id,
                zt::string& text, bool& loaded) {
    loaded = false;
    auto byLanguage = s.tables.find(language);
    if (byLanguage == s.tables.end()) return false;
    auto byName = byLanguage->second.find(name);
    if (byName == byLanguage->second.end()) return false;
    loaded = true;
    auto entry = byName->second.find(id);
    if (entry == byName->second.end()) return false;
    text = entry->second;
    return true;
}

bool lookupFiles(const zt::string& id, const zt::string& file, const char16_t* language, zt::string& text) {
    catalogues& s = state();
    const zt::string& name = file.empty() ? kCommonCatalogue : file;
    const zt::string explicitLanguage = language ? languageOfLocale(language) : zt::string();
    {
        std::shared_lock guard(s.lock);
        if (s.languageKnown || language) {
            const zt::string& lang = language ? explicitLanguage : s.language;
            if (lang.empty()) return false;
            bool loaded = false;
            if (findLoaded(s, lang, name, id, text, loaded)) return true;
            if (loaded) return false;
        }
    }
    std::unique_lock guard(s.lock);
    const zt::string lang = language ? explicitLanguage : resolveLanguage(s);
    if (lang.empty()) return false;
    bool loaded = false;
    if (findLoaded(s, lang, name, id, text, loaded)) return true;
    if (loaded) return false;
    table& entries = s.tables[lang][name];
    entries = loadCatalogue(s.folder, name, lang);
    auto entry = entries.find(id);
    if (entry == entries.end()) return false;
    text = entry->second;
    return true;
}

} // namespace

void setCatalogueFolder(const zt::string& folder) {
    catalogues& s = state();
    std::unique_lock guard(s.lock);
    s.folder = folder;
    s.tables.clear();
}

void setLanguage(const zt::string& language) {
    catalogues& s = state();
    std::unique_lock guard(s.lock);
    s.requestedLanguage = language;
    s.languageKnown = false;
    s.tables.clear();
}

zt::string currentLanguage() {
    catalogues& s = state();
    std::unique_lock guard(s.lock);
    return resolveLanguage(s);
}

zt::string languageOfLocale(const zt::string& locale) {
    zt::string code = locale;
    code.trim();
    const size_t end = code.find_first_of(u"_.@-");
    if (end != zt::string::npos) code.erase(end);
    if (code == u"C" || code == u"POSIX") return zt::string();
    return code.lower();
}

void reloadCatalogues() {
    catalogues& s = state();
    std::unique_lock guard(s.lock);
    s.languageKnown = false;
    s.tables.clear();
}

void locString::setCatalogue(catalogue c) {
    catalogues& s = state();
    std::unique_lock guard(s.hookLock);
    s.hook = std::move(c);
}

bool locStringId::lookup(zt::string& text, const char16_t* language) const {
    if (mId.empty()) return false;
    catalogues& s = state();
    {
        std::shared_lock guard(s.hookLock);
        if (s.hook) {
            zt::string found;
            if (s.hook(mId, found)) {
                text = std::move(found);
                return true;
            }
        }
    }
    return lookupFiles(mId, mFile, language, text);
}

zt::string locMessage(const locStringId& id, const zt::string& defaultText, const locStringParams& params,
                      const char16_t* language) {
    zt::string translated;
    const zt::string& base = id.lookup(translated, language) ? translated : defaultText;
    return fillPlaceholders(base, params, language);
}

} // namespace zt
