// The code manager: runs a host's call "script$file$function". It finds the script file, keeps
// the parsed functions (and an index of each file's definitions) while their files stay the
// same, binds the arguments and runs the body under the call's execution limits.
#include "core/execution_budget.h"
#include "core/internal.h"

#include "ztscript.h"

#include <ztchecks.h>
#include <ztfile.h>
#include <ztsystem.h>
#include <ztthread.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace zt::script {

using core::budgetScope;
using core::kBlanks;
using core::makeMessage;

// What one load of a function produced. Calls hold it by shared pointer, so a refresh can put
// a new body in place while older calls still run the previous one.
struct codeManager::loadedFunction {
    clonePtr<statement> body;
    std::vector<parameterDeclaration> parameters;
    std::vector<scString> parameterNames; // interned once, in the order of parameters
    zt::file file;
    zt::string folder;     // the file's folder, handed to the body as "scriptbasepath"
    zt::entryStamp stamp;  // the file as it was just before it was read
    std::uint32_t crc = 0; // CRC-32 of the bytes read
    // The stamp alone proves the content: the bytes were read again, found unchanged, after the
    // stamp had settled (see loadFunction).
    mutable std::atomic<bool> trusted{false};
    // Calls running this version; releaseIdleFunctions keeps an entry whose version runs.
    mutable std::atomic<std::uint32_t> uses{0};

    // Whether this is the function of the file found at where while it has the stamp given.
    bool currentWith(const zt::entryStamp& fileStamp, const zt::file& where) const {
        return stamp == fileStamp && zt::sameText(file.name(), where.name());
    }
};

struct codeManager::scriptFunctionEntry {
    std::shared_ptr<const loadedFunction> function;
};

// The definitions of one script file, as read under one stamp: the file's bytes (unscrambled)
// and where each definition starts, found by the hash of its lower-cased name. The first call of
// a function reads only that function's definitions from them, so the first calls of a file's
// other functions do not read and split the whole file again.
struct codeManager::fileIndex {
    struct definitionStart {
        std::size_t nameHash;
        std::size_t position;
        std::uint32_t line;
    };

    zt::entryStamp stamp;   // the file just before it was read
    std::uint32_t crc = 0;  // CRC-32 of the bytes read (before unscrambling)
    mutable std::atomic<bool> trusted{false}; // as loadedFunction::trusted
    std::shared_ptr<const zt::binaryBuffer> bytes;
    std::vector<definitionStart> starts; // by nameHash, in file order within one hash

    static std::size_t hashOf(const zt::string& lowerName) { return std::hash<std::u16string>()(lowerName); }

    // Finds the definitions as scriptFileReader::readInto would: up to the end, or up to the first
    // definition that cannot be split.
    void findDefinitions() {
        scriptFileReader reader(bytes);
        zt::string name, body;
        std::vector<zt::string> params;
        for (;;) {
            const std::size_t position = reader.position();
            const std::uint32_t line = reader.line();
            if (!reader.readNextDefinition(name, params, body)) break;
            starts.push_back({hashOf(name.lower()), position, line});
        }
        std::stable_sort(starts.begin(), starts.end(),
                         [](const definitionStart& a, const definitionStart& b) { return a.nameHash < b.nameHash; });
    }

    // The definitions of function (lower-case) in index, as readInto would put them: a later
    // definition of the same name writes over the keys of an earlier one.
    void readFunction(const zt::string& function, zt::configStructure& index) const {
        const std::size_t hash = hashOf(function);
        auto range = std::equal_range(starts.begin(), starts.end(), definitionStart{hash, 0, 0},
                                      [](const definitionStart& a, const definitionStart& b) { return a.nameHash < b.nameHash; });
        scriptFileReader reader(bytes);
        zt::string name, body;
        std::vector<zt::string> params;
        sourceMap lines;
        for (auto it = range.first; it != range.second; ++it) {
            reader.seek(it->position, it->line);
            if (!reader.readNextDefinition(name, params, body, lines) || name.lower() != function) continue;
            for (size_t n = 0; n < params.size(); ++n)
                index.setValue(name, zt::string::format(u"parameter%d", static_cast<int>(n + 1)), params[n]);
            index.setValue(name, u"script", body);
            index.setValue(name, u"lines", lines.encode());
        }
    }
};

namespace {

// CRC-32 of a file's bytes, to tell two versions of a file apart when their stamps do not.
std::uint32_t crcOf(const zt::binaryBuffer& buffer) {
    zt::calcCrc32 crc;
    crc.crc(buffer.bytes().data(), buffer.bytes().size());
    return crc.result();
}

// Files whose definitions stay indexed; beyond that the oldest index is dropped.
constexpr size_t kMaxIndexedFiles = 8;

} // namespace

// Where the file of a (base path, file name) pair was found, and what on disk decided it: the
// folders whose listings showed the earlier candidates missing. The record holds while those
// folders keep their stamps and the file is still a plain file, so a call looks at the disk
// once per folder instead of trying every candidate again.
struct codeManager::resolvedFile {
    zt::file file;
    std::vector<std::pair<zt::string, zt::entryStamp>> folders;
    bool verifiable = true; // false: the folders could not be trusted; resolve again after the interval
    zt::entryStamp fileStamp;                          // the file when last looked at
    zt::coarseClock::time_point checkedAt;             // when the disk was last looked at

    // Whether what was seen on disk may stand at now, with the host's file check interval.
    bool standsAt(zt::coarseClock::time_point now, std::chrono::milliseconds interval) const {
        return interval.count() > 0 && now - checkedAt < interval;
    }
};

namespace {
codeManager* gCodeManager = nullptr;

// Deletes the code manager with its cache when the library is unloaded.
struct codeManagerDestroyer {
    ~codeManagerDestroyer() {
        delete gCodeManager;
        gCodeManager = nullptr;
    }
} gCodeManagerDestroyer;

constexpr size_t kMaxResolvedFiles = 4096;

// The key of a (base path, file name) pair: the base path's length first, so that no two pairs
// give the same key. Built in a buffer of the thread, to spare an allocation per call.
const std::u16string& resolveKey(const zt::string& basePath, const zt::string& fileName) {
    struct keyTag;
    std::u16string& key = zt::threadOwned<std::u16string, keyTag>();
    const size_t n = basePath.size();
    key.resize(2 + n + fileName.size());
    char16_t* out = key.data();
    out[0] = static_cast<char16_t>(n & 0xFFFF);
    out[1] = static_cast<char16_t>((n >> 16) & 0xFFFF);
    std::memcpy(out + 2, basePath.data(), n * sizeof(char16_t));
    std::memcpy(out + 2 + n, fileName.data(), fileName.size() * sizeof(char16_t));
    return key;
}

// What this thread copied of one of the code manager's shared tables (its file records, its
// functions), at one generation of the table: while the generation stays, the copies are what
// the table holds, and a call that repeats one takes it without the manager's lock.
template <class T>
struct copiesByThread {
    const void* manager = nullptr;
    std::uint64_t generation = 0;
    std::unordered_map<std::u16string, std::shared_ptr<const T>, std::hash<std::u16string>, zt::sameTextEqual> byKey;

    // The copy of key while the table of manager is at generation current, else null.
    const std::shared_ptr<const T>* find(const void* owner, std::uint64_t current, const std::u16string& key) const {
        if (manager != owner || generation != current) return nullptr;
        auto it = byKey.find(key);
        return it == byKey.end() ? nullptr : &it->second;
    }
    // Under the table's lock, after it moved from generation before to now: the copies stay
    // when they were of before, and are dropped otherwise.
    void moveTo(const void* owner, std::uint64_t before, std::uint64_t now) {
        if (manager != owner || generation != before) {
            byKey.clear();
            manager = owner;
        }
        generation = now;
    }
};

using functionsByThread = copiesByThread<codeManager::loadedFunction>;

struct resolvedByThread : copiesByThread<codeManager::resolvedFile> {
    std::shared_ptr<const codeManager::resolvedFile> unrecorded; // the last one not kept by the manager
};
} // namespace

struct codeManager::state {
    mutable zt::mutex mMutex;
    std::map<zt::string, std::unique_ptr<scriptFunctionEntry>> mCache;
    std::atomic<size_t> mLoads{0};
    std::atomic<size_t> mFileReads{0};
    std::atomic<std::int64_t> mFileCheckInterval{0}; // milliseconds
    std::mutex mResolveMutex;
    // resolveKey(base path, file name) -> where the file was found.
    std::unordered_map<std::u16string, std::shared_ptr<const resolvedFile>, std::hash<std::u16string>,
                       zt::sameTextEqual>
        mResolved;
    // Counts the changes of mResolved (made under mResolveMutex): a thread's copies of records
    // taken at the current count are still the records (see resolvedByThread).
    std::atomic<std::uint64_t> mResolvedGeneration{0};
    void resolvedChanged() { mResolvedGeneration.fetch_add(1, std::memory_order_release); }
    // The entries of mCache by key again, found by hashing.
    std::unordered_map<std::u16string, scriptFunctionEntry*, std::hash<std::u16string>, zt::sameTextEqual> mIndex;
    // Counts the releases of entries and the replacements of their functions (made under
    // mMutex): a thread's copies of functions taken at the current count are still the
    // entries' functions (see functionsByThread).
    std::atomic<std::uint64_t> mFunctionsGeneration{0};
    // The definitions of the script files read last, by file name (a few; see fileIndex).
    std::unordered_map<std::u16string, std::shared_ptr<const fileIndex>, std::hash<std::u16string>, zt::sameTextEqual>
        mFiles;
    // Functions replaced in their entry while calls ran them (under mMutex). A function in use is
    // kept by the manager, its entry's or here, so that a call taken by takeAgain needs no
    // reference of its own; those whose uses ended are dropped at the next replacement or release.
    std::vector<std::shared_ptr<const loadedFunction>> mRetired;
    void dropEndedRetired() {
        std::erase_if(mRetired, [](const auto& fn) { return fn->uses.load() == 0; });
    }
};

codeManager::codeManager() : mp(std::make_unique<state>()) {}
codeManager::~codeManager() = default;

codeManager* codeManager::instance() {
    if (!gCodeManager) gCodeManager = new codeManager;
    return gCodeManager;
}

void codeManager::setFileCheckInterval(std::chrono::milliseconds interval) {
    mp->mFileCheckInterval.store(interval.count() > 0 ? interval.count() : 0, std::memory_order_relaxed);
}

std::chrono::milliseconds codeManager::fileCheckInterval() const {
    return std::chrono::milliseconds(mp->mFileCheckInterval.load(std::memory_order_relaxed));
}

size_t codeManager::loadCount() const { return mp->mLoads.load(); }

size_t codeManager::fileReadCount() const { return mp->mFileReads.load(); }

size_t codeManager::cachedFunctionCount() const {
    zt::lockGuard guard(mp->mMutex);
    return mp->mCache.size();
}

size_t codeManager::releaseIdleFunctions() {
    size_t dropped = 0;
    {
        // A call that takes a function without this lock counts its use first and then makes
        // sure the generation did not move; the generation moves here before the uses are
        // read. So either the call sees the move and takes the lock, or its use is seen here.
        zt::lockGuard guard(mp->mMutex);
        mp->mFunctionsGeneration.fetch_add(1);
        for (auto it = mp->mCache.begin(); it != mp->mCache.end();) {
            if (it->second->function->uses.load() == 0) {
                mp->mIndex.erase(it->first);
                it = mp->mCache.erase(it);
                ++dropped;
            } else {
                ++it;
            }
        }
        mp->mFiles.clear();
        mp->dropEndedRetired();
    }
    std::lock_guard<std::mutex> guard(mp->mResolveMutex);
    mp->mResolved.clear();
    mp->resolvedChanged();
    return dropped;
}

// code call := [kind] '$' file '$' function        (kind: "script" or empty, or "dll")
bool codeManager::parseCodeCall(const zt::string& codeCall, eCodeType& type, zt::string& file,
                                zt::string& function) {
    std::vector<zt::string> fields;
    codeCall.splitAt(u"$", fields, false);
    if (fields.size() != 3) return false;
    zt::string kind = fields[0];
    kind.deleteAll(kBlanks).toLower();
    if (kind == u"dll") {
        type = ctDll;
    } else if (kind == u"script" || kind.empty()) {
        type = ctScript;
    } else {
        zt::assertMsg(u"parseCodeCall: invalid codetype %s", kind);
        return false;
    }
    file = fields[1];
    file.trim(kBlanks).toLower();
    function = fields[2];
    function.deleteAll(kBlanks).toLower();
    return !file.empty() && !function.empty();
}

// The file of the call: the first candidate that exists as a plain file, tried as written, in
// the base path, beside the program, in ".". stamp receives the file's stamp.
const std::shared_ptr<const codeManager::resolvedFile>& codeManager::resolveFile(const zt::string& basePath,
                                                                                 const zt::string& fileName,
                                                                                 zt::entryStamp& stamp) {
    // The record of an earlier call, when the disk still looks the same: this thread's copy
    // while the records are unchanged, else the manager's.
    resolvedByThread& mine = zt::threadOwned<resolvedByThread>();
    const std::u16string& key = resolveKey(basePath, fileName);
    static const std::shared_ptr<const resolvedFile> none;
    const std::shared_ptr<const resolvedFile>* found =
        mine.find(this, mp->mResolvedGeneration.load(std::memory_order_acquire), key);
    if (!found) {
        std::lock_guard<std::mutex> guard(mp->mResolveMutex);
        const std::uint64_t generation = mp->mResolvedGeneration.load(std::memory_order_relaxed);
        mine.moveTo(this, generation, generation);
        auto it = mp->mResolved.find(key);
        found = it == mp->mResolved.end() ? &none : &mine.byKey.insert_or_assign(key, it->second).first->second;
    }
    const std::shared_ptr<const resolvedFile>& known = *found;
    // Keeps this thread's copies the manager's after the key's record changed to record (under
    // mResolveMutex, the generation moved on from before); gives this thread's copy.
    const auto keep = [&](std::shared_ptr<const resolvedFile> record, bool recorded,
                          std::uint64_t before) -> const std::shared_ptr<const resolvedFile>& {
        mine.moveTo(this, before, mp->mResolvedGeneration.load(std::memory_order_relaxed));
        if (recorded) return mine.byKey.insert_or_assign(key, std::move(record)).first->second;
        mine.byKey.erase(key);
        mine.unrecorded = std::move(record);
        return mine.unrecorded;
    };
    const auto interval = std::chrono::milliseconds(mp->mFileCheckInterval.load(std::memory_order_relaxed));
    const auto checkTime = interval.count() > 0 ? zt::coarseClock::now()
                                                : zt::coarseClock::time_point();
    if (known) {
        // The host lets what was seen on disk stand for a while.
        if (known->standsAt(checkTime, interval)) {
            stamp = known->fileStamp;
            return known;
        }
        bool unchanged = known->verifiable;
        for (size_t i = 0; unchanged && i < known->folders.size(); ++i) {
            const auto& [folder, folderStamp] = known->folders[i];
            unchanged = zt::entryStamp::of(folder) == folderStamp;
        }
        if (unchanged) {
            stamp = zt::entryStamp::of(known->file.name());
            if (stamp.isFile) {
                if (interval.count() > 0) {
                    auto renewed = std::make_shared<resolvedFile>(*known);
                    renewed->fileStamp = stamp;
                    renewed->checkedAt = checkTime;
                    std::lock_guard<std::mutex> guard(mp->mResolveMutex);
                    const std::uint64_t before = mp->mResolvedGeneration.load(std::memory_order_relaxed);
                    mp->mResolved.insert_or_assign(key, renewed);
                    mp->resolvedChanged();
                    return keep(std::move(renewed), true, before);
                }
                return known;
            }
        }
    }

    std::vector<zt::string> candidates;
    candidates.push_back(fileName);
    auto addFolder = [&](zt::string folder) {
        if (!folder.empty() && folder.back() != u'/' && folder.back() != u'\\') folder += u'/';
        candidates.push_back(folder + fileName + u".ztscr");
        candidates.push_back(folder + fileName + u".ztsscr");
    };
    if (!basePath.empty()) addFolder(basePath);
    addFolder(zt::getModulePath(u""));
    addFolder(u".");

    // A candidate's absence is remembered through its folder's stamp, which is only possible
    // when the folder exists exactly as written and has not changed in the last moments.
    auto record = std::make_shared<resolvedFile>();
    bool recordable = true;
    const std::int64_t now = zt::entryStamp::nowNs();
    for (const zt::string& c : candidates) {
        zt::file candidate(c);
        const zt::string asWritten = candidate.name();
        if (candidate.exists()) {
            stamp = zt::entryStamp::of(candidate.name());
            // A name found only without regard to case depends on more than one folder.
            recordable = recordable && stamp.isFile && candidate.name() == asWritten;
            record->file = candidate;
            record->verifiable = recordable;
            record->fileStamp = stamp;
            record->checkedAt = checkTime;
            std::lock_guard<std::mutex> guard(mp->mResolveMutex);
            const std::uint64_t before = mp->mResolvedGeneration.load(std::memory_order_relaxed);
            if (mp->mResolved.size() >= kMaxResolvedFiles) mp->mResolved.clear();
            // Without an interval, a record that cannot be verified is of no use.
            const bool recorded = recordable || interval.count() > 0;
            if (recorded)
                mp->mResolved.insert_or_assign(key, record);
            else
                mp->mResolved.erase(key);
            mp->resolvedChanged();
            return keep(std::move(record), recorded, before);
        }
        if (recordable) {
            const zt::fsEntryName name(asWritten);
            const zt::string last = name.fileName();
            const zt::string folder = name.path().empty() ? zt::string(u".") : name.path();
            const zt::entryStamp folderStamp = zt::entryStamp::of(folder);
            recordable = !last.empty() && last != u"." && last != u".." && folderStamp.isFolder &&
                         folderStamp.settledAt(now);
            if (recordable) record->folders.emplace_back(folder, folderStamp);
        }
    }
    // Every place that was looked at, so that a host sees where the file was expected.
    zt::string tried;
    for (const zt::string& c : candidates) tried += (tried.empty() ? u"" : u", ") + c;
    throw zt::fileNotFoundException(makeMessage(u"EScriptFileNotFound", u"File [File] not found! Looked for: [Tried]",
                                                {{u"File", &fileName}, {u"Tried", &tried}}));
}

// The definitions of the file as it is now. An index read under the same stamp is used as long
// as the stamp can be trusted; until then the file is read and compared by its CRC-32.
std::shared_ptr<const codeManager::fileIndex> codeManager::indexOf(const zt::file& resolved,
                                                                   const zt::entryStamp& stamp) {
    const std::u16string& name = resolved.name();
    std::shared_ptr<const fileIndex> known;
    {
        zt::lockGuard guard(mp->mMutex);
        auto it = mp->mFiles.find(name);
        if (it != mp->mFiles.end() && it->second->stamp == stamp) known = it->second;
    }
    if (known && known->trusted.load(std::memory_order_acquire)) return known;

    const std::int64_t readAt = zt::entryStamp::nowNs();
    auto bytes = std::make_shared<zt::binaryBuffer>();
    // Errors name the file by its full name: a file found as written in the current folder (a
    // program named like the script, say) may not be the one the host meant.
    if (!bytes->readFromFile(resolved)) throw zt::readFileException(resolved.fullName());
    const std::uint32_t crc = crcOf(*bytes);
    const bool settled = stamp.settledAt(readAt);
    if (known && known->crc == crc) {
        // The same bytes: once the stamp has settled no change can hide behind it any more.
        if (settled) known->trusted.store(true, std::memory_order_release);
        return known;
    }

    if (resolved.extension().lower() == u"ztsscr") bytes->xxor(scrambleKey());
    auto fresh = std::make_shared<fileIndex>();
    fresh->stamp = stamp;
    fresh->crc = crc;
    fresh->trusted = settled;
    fresh->bytes = std::move(bytes);
    ++mp->mFileReads;
    try {
        fresh->findDefinitions();
    } catch (const zt::exception& e) {
        throw zt::readFileException(resolved.fullName(), &e);
    } catch (...) {
        throw zt::readFileException(resolved.fullName());
    }
    zt::lockGuard guard(mp->mMutex);
    if (mp->mFiles.size() >= kMaxIndexedFiles && mp->mFiles.find(name) == mp->mFiles.end()) mp->mFiles.erase(mp->mFiles.begin());
    mp->mFiles.insert_or_assign(name, fresh);
    return fresh;
}

std::shared_ptr<const codeManager::loadedFunction> codeManager::loadFunction(const zt::string& basePath,
                                                                             const zt::string& fileName,
                                                                             const zt::string& function,
                                                                             const zt::string& key) {
    // 1. Resolve the file: as written, in the base path, beside the program, in ".".
    zt::entryStamp stamp;
    const std::shared_ptr<const resolvedFile>& where = resolveFile(basePath, fileName, stamp);

    // 2./3. Cached and current? The names come lower-cased from parseCodeCall. An entry read
    // from this very file is current while the file's stamp (time, size, identity) is the one
    // taken before it was read, and that stamp is trusted. A stamp taken within the file
    // system's clock granularity of a change is not: another change in the same tick keeps it,
    // so until then the bytes are read and compared again.
    const auto current = [&](const loadedFunction& fn) { return fn.currentWith(stamp, where->file); };
    // The function this thread took last time, while no entry changed since (the use is
    // counted before the generation is looked at again: see releaseIdleFunctions).
    functionsByThread& mine = zt::threadOwned<functionsByThread>();
    if (const auto* copy = mine.find(this, mp->mFunctionsGeneration.load(), key)) {
        const std::shared_ptr<const loadedFunction>& fn = *copy;
        if (current(*fn) && fn->trusted.load(std::memory_order_acquire)) {
            fn->uses.fetch_add(1);
            if (mp->mFunctionsGeneration.load() == mine.generation) return fn;
            fn->uses.fetch_sub(1);
        }
    }
    // Takes fn for the call (under mMutex) and keeps this thread's copy of it.
    const auto take = [&](const std::shared_ptr<const loadedFunction>& fn, std::uint64_t generationBefore) {
        ++fn->uses;
        mine.moveTo(this, generationBefore, mp->mFunctionsGeneration.load(std::memory_order_relaxed));
        mine.byKey.insert_or_assign(key, fn);
        return fn;
    };

    std::shared_ptr<const loadedFunction> cached;
    {
        zt::lockGuard guard(mp->mMutex);
        auto it = mp->mIndex.find(key);
        if (it != mp->mIndex.end() && current(*it->second->function)) {
            cached = it->second->function;
            if (cached->trusted.load(std::memory_order_acquire))
                return take(cached, mp->mFunctionsGeneration.load(std::memory_order_relaxed));
        }
    }

    // 4. The file's definitions, and a function read from the very same bytes stays. Reading
    // and parsing may run a host's code, which may call again: hold the record itself.
    const std::shared_ptr<const resolvedFile> held = where;
    const zt::file& resolved = held->file;
    const std::shared_ptr<const fileIndex> file = indexOf(resolved, stamp);
    if (cached && cached->crc == file->crc) {
        if (file->trusted.load(std::memory_order_acquire)) cached->trusted.store(true, std::memory_order_release);
        zt::lockGuard guard(mp->mMutex);
        auto it = mp->mIndex.find(key);
        if (it != mp->mIndex.end() && it->second->function == cached)
            return take(cached, mp->mFunctionsGeneration.load(std::memory_order_relaxed));
    }

    // 5. Parse the function without holding the lock.
    zt::configStructure index;
    file->readFunction(function.lower(), index);
    ++mp->mLoads;

    auto loaded = std::make_shared<loadedFunction>();
    loaded->file = resolved;
    loaded->folder = zt::fsEntryName(resolved.name()).path();
    loaded->stamp = stamp;
    loaded->crc = file->crc;
    loaded->trusted = file->trusted.load(std::memory_order_acquire);
    zt::string bodyText;
    if (index.getValue(function.lower(), u"script", bodyText)) {
        zt::string lines;
        index.getValue(function.lower(), u"lines", lines);
        const sourceMap map = sourceMap::decode(resolved.name(), lines);
        const sourceScope positions(map);
        // The parse leaves its statements among the texts and lists it made on the way; a copy
        // lays the body out in one piece, in the order it runs, which its executions find
        // faster (about 9 % on the strings benchmark).
        const clonePtr<statement> parsed(statementParser::instance()->createStatementFrom(bodyText, 0));
        if (parsed) loaded->body.reset(static_cast<statement*>(parsed->clone()));
    }
    if (!loaded->body) throw scriptFunctionNotFoundException(function, zt::file(resolved.fullName()));
    for (int n = 1;; ++n) {
        zt::string declaration;
        if (!index.getValue(function.lower(), zt::string::format(u"parameter%d", n), declaration)) break;
        loaded->parameters.push_back(parseParameterDeclaration(declaration, 0));
        loaded->parameterNames.emplace_back(loaded->parameters.back().name);
    }

    // 6. Insert, or refresh the entry in place. Running calls keep the body they started with.
    zt::lockGuard guard(mp->mMutex);
    auto& slot = mp->mCache[key];
    if (!slot) {
        slot = std::make_unique<scriptFunctionEntry>();
        mp->mIndex.emplace(key, slot.get());
    }
    const std::uint64_t before = mp->mFunctionsGeneration.load(std::memory_order_relaxed);
    if (slot->function) {
        // The generation moves before the uses are read, as in releaseIdleFunctions.
        mp->mFunctionsGeneration.fetch_add(1);
        mp->dropEndedRetired();
        if (slot->function->uses.load() > 0) mp->mRetired.push_back(std::move(slot->function));
    }
    slot->function = loaded;
    return take(loaded, before);
}

// A call that its thread made before takes the same function again without looking it up while
// this thread's copies of the file's record and of the function are still the manager's (their
// generations have not moved), the file check interval lets the record stand and the function
// is trusted: what loadFunction's own shortcut checks, without its two hashed lookups.
const codeManager::loadedFunction* codeManager::takeAgain(const takenFunction& taken, const zt::string& basePath,
                                                          std::chrono::milliseconds interval) {
    if (taken.manager != this || !taken.function) return nullptr;
    if (taken.resolvedGeneration != mp->mResolvedGeneration.load(std::memory_order_acquire) ||
        taken.functionsGeneration != mp->mFunctionsGeneration.load() || !zt::sameText(taken.basePath, basePath) ||
        !taken.where->standsAt(zt::coarseClock::now(), interval) ||
        !taken.function->trusted.load(std::memory_order_acquire))
        return nullptr;
    // The use is counted before the generation is looked at again (see releaseIdleFunctions):
    // from then on the manager keeps the function (mRetired). Until then this thread's copy does.
    taken.function->uses.fetch_add(1);
    if (mp->mFunctionsGeneration.load() == taken.functionsGeneration) return taken.function;
    taken.function->uses.fetch_sub(1);
    return nullptr;
}

// Notes what loadFunction just gave for key, when this thread's copies hold it and the file's
// record it is current with: they keep both alive while their generations stay.
void codeManager::remember(takenFunction& taken, const zt::string& basePath, const zt::string& file,
                           const zt::string& key, const loadedFunction& fn) {
    taken = {};
    const auto& functions = zt::threadOwned<functionsByThread>();
    const auto& records = zt::threadOwned<resolvedByThread>();
    const auto* function = functions.find(this, functions.generation, key);
    const auto* where = records.find(this, records.generation, resolveKey(basePath, file));
    if (!function || function->get() != &fn || !where || !*where) return;
    if (!fn.currentWith((*where)->fileStamp, (*where)->file)) return;
    taken = {this, basePath, where->get(), &fn, records.generation, functions.generation};
}

bool codeManager::executeFunction(const zt::string& basePath, const zt::string& codeCall, scriptcontext& context,
                                  std::vector<genericValue>& args, genericValue& result) {
    // Hosts and callfunction repeat the same few code calls: keep what their texts say. Only
    // texts that parse cleanly are kept, so malformed ones are reported on every call. Kept
    // entries are never dropped: calls running further up this thread refer to them.
    struct parsedCall {
        eCodeType type = ctScript;
        zt::string file, function;
        zt::string key; // of the function in the cache: file "." function
        takenFunction taken;
    };
    auto& parsedCalls =
        zt::threadOwned<std::unordered_map<std::u16string, parsedCall, std::hash<std::u16string>, zt::sameTextEqual>>();
    parsedCall* call;
    std::unique_ptr<parsedCall> fresh; // a text not kept
    if (auto it = parsedCalls.find(codeCall); it != parsedCalls.end()) {
        call = &it->second;
    } else {
        fresh = std::make_unique<parsedCall>();
        call = fresh.get();
        if (!parseCodeCall(codeCall, call->type, call->file, call->function)) throw malformedCodeCallException(codeCall);
        call->key = call->file + u"." + call->function;
        if (parsedCalls.size() < 1024) call = &parsedCalls.emplace(codeCall, std::move(*fresh)).first->second;
    }
    if (call->type != ctScript) return false;
    const zt::string& file = call->file;
    const zt::string& function = call->function;

    // Without a file check interval every call looks at the disk: there is nothing to take again.
    const auto interval = std::chrono::milliseconds(mp->mFileCheckInterval.load(std::memory_order_relaxed));
    const loadedFunction* fn = interval.count() > 0 ? takeAgain(call->taken, basePath, interval) : nullptr;
    std::shared_ptr<const loadedFunction> held; // what loadFunction gives is held by the call
    if (!fn) {
        held = loadFunction(basePath, file, function, call->key);
        fn = held.get();
        if (interval.count() > 0) remember(call->taken, basePath, file, call->key, *fn);
    }
    // Gives the use of the function back however the call ends.
    struct useRelease {
        const loadedFunction& fn;
        ~useRelease() { --fn.uses; }
    } release{*fn};
    if (!fn->body) return false;

    try {
        // Bind the arguments to the declared parameters.
        try {
            size_t index = 0;
            for (size_t i = 0; i < fn->parameters.size(); ++i) {
                const parameterDeclaration& d = fn->parameters[i];
                if (d.name.empty()) continue;
                if (index < args.size()) {
                    context.setParameter(fn->parameterNames[i], parameterValue(d, args[index]));
                    ++index;
                } else {
                    genericValue fresh;
                    context.setParameter(fn->parameterNames[i], parameterValue(d, fresh));
                }
            }
        } catch (const zt::string& s) {
            throw prepareParameterException(function, &s);
        } catch (...) {
            throw prepareParameterException(function, nullptr);
        }

        // The script's folder.
        // (Calls from the same folder find it set already, as a text value of its own.)
        const genericValue* base = context.globalContextVariableAddress(scriptcontext::scriptbasepath());
        const zt::string* folder = base ? base->constPtrTo<zt::string>() : nullptr;
        if (!folder || base->getHolder()->isReference() || !zt::sameText(*folder, fn->folder))
            context.setGlobalContextVariable(scriptcontext::scriptbasepath(), genericValue::of(fn->folder));

        // Run the body and hand back the return value. A host may reuse its context: the value
        // an earlier call returned would otherwise stop this body after its first statement.
        if (context.returnValueAddress()) context.deleteParameter(scriptcontext::returnparam());
        const budgetScope limits(context.limits());
        fn->body->exec(context, result);
        if (genericValue* ret = context.returnValueAddress())
            if (ret != &result) result = *ret;
        if (context.mayHaveScriptSignals()) {
            context.clearScriptSignal(scriptcontext::breaksignal());
            context.clearScriptSignal(scriptcontext::continuesignal());
        }
        return true;
    } catch (const zt::exception& e) {
        throw scriptExecException(function, nullptr, &e);
    } catch (const zt::string& s) {
        throw scriptMessageException(s, function);
    } catch (const std::exception& e) {
        const hostException host(e.what());
        throw scriptExecException(function, nullptr, &host);
    } catch (...) {
        throw scriptExecException(function, nullptr, nullptr);
    }
}

} // namespace zt::script
