// A long-running host: many calls while the script files change underneath, concurrent callers
// with rewrites, deletes and cancels, and the file faults a host meets. It prints its figures
// and exits with 1 when any call gave a wrong result or a fault was handled badly.
//
//   ztsoak [--calls N] [--threads T] [--seconds S]
//
// The defaults are the short run of the test suite; the README gives the figures of a long run
// (--calls 1000000 --threads 8 --seconds 600).
#include "../../tools/ztscript/demohost.h"

#include <ztscript.h>
#include <ztutils.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace zt::script;
using namespace std::chrono_literals;

namespace {

struct options {
    long calls = 20000;
    int threads = 4;
    double seconds = 5;
};

int gProblems = 0;

void problem(const std::string& what) {
    std::fprintf(stderr, "PROBLEM %s\n", what.c_str());
    ++gProblems;
}

// The resident memory of the process in KiB where the system tells it, else the heap's bytes / 1024.
long memoryKiB() {
#if defined(__linux__)
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
#endif
    return static_cast<long>(zt::heapInUse() / 1024);
}

void writeFile(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary | std::ios::trunc) << text; }

std::string versionScript(long version) {
    // The size changes with the version only now and then: rewrites of equal size happen too.
    return "scrdef v()\n  return(\"" + std::to_string(version) + "\")\nscrdef pad()\n  return(\"" +
           std::string(static_cast<size_t>(version % 3), 'x') + "\")\n";
}

// What a call of script$FILE$FUNCTION returned as text; throws what the engine throws.
std::string call(const fs::path& folder, const std::string& file, const char* function, scriptcontext& context) {
    std::vector<zt::genericValue> args;
    zt::genericValue result;
    codeManager::instance()->executeFunction(zt::string(folder.u16string()) + u"/",
                                             zt::string::fromUtf8("script$" + file + "$" + function), context, args,
                                             result);
    zt::string text;
    result.get(text);
    return text.toUtf8();
}

// One file rewritten again and again, its time moved forward, kept or set back; every call
// after a rewrite must see the new version.
void sequentialSoak(const fs::path& folder, long calls) {
    const fs::path file = folder / "seq.ztscr";
    const auto base = fs::file_time_type::clock::now() - 1h;
    std::mt19937 random(7);
    long version = 0, rewrites = 0, backwards = 0, wrong = 0;
    writeFile(file, versionScript(version));
    scriptcontext context; // one context for all calls, as hosts keep one per thread
    const long rssStart = memoryKiB();
    const auto started = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; ++i) {
        if (i % 10 == 9) {
            writeFile(file, versionScript(++version));
            ++rewrites;
            switch (random() % 3) {
            case 0: fs::last_write_time(file, base - std::chrono::seconds(version)); ++backwards; break; // older copy
            case 1: fs::last_write_time(file, base); break; // the same time as before
            default: break;                                  // now
            }
        }
        if (call(folder, "seq", "v", context) != std::to_string(version)) ++wrong;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("sequential: %ld calls, %ld rewrites (%ld set back in time), %ld wrong, %.1f s, RSS %ld KiB -> %ld KiB\n",
                calls, rewrites, backwards, wrong, seconds, rssStart, memoryKiB());
    if (wrong) problem("sequential calls returned an earlier version");
}

// Callers on several threads while another thread rewrites, deletes and recreates the files and
// a third cancels calls. A call may fail (the file is missing for a moment, the call was
// cancelled) but never return anything but a version that was written.
void concurrentSoak(const fs::path& folder, int threads, double seconds) {
    const int files = 3;
    // The file holds a version from saved to written: written is raised before the new version
    // takes the file's place, saved once it has.
    std::atomic<long> saved[files], written[files];
    for (int f = 0; f < files; ++f) {
        saved[f] = written[f] = 0;
        writeFile(folder / ("c" + std::to_string(f) + ".ztscr"), versionScript(0));
    }
    std::atomic<bool> stop{false};
    std::atomic<long> callsDone{0}, failures{0}, cancels{0}, wrong{0}, rewrites{0}, deletes{0};
    const long rssStart = memoryKiB();
    std::vector<std::thread> callers;
    for (int t = 0; t < threads; ++t) {
        callers.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            std::atomic<bool> cancel{false};
            scriptcontext context;
            executionLimits limits;
            limits.cancel = &cancel;
            context.setLimits(limits);
            while (!stop) {
                const int f = static_cast<int>(random() % files);
                // Every tenth call is cancelled from another thread while it runs.
                std::thread canceller;
                if (random() % 10 == 0) canceller = std::thread([&] { cancel = true; });
                try {
                    const long before = saved[f].load();
                    const std::string got = call(folder, "c" + std::to_string(f), "v", context);
                    const long after = written[f].load();
                    const long value = std::atol(got.c_str());
                    if (got.empty() || value < before || value > after) ++wrong;
                } catch (const executionLimitException&) {
                    ++cancels;
                } catch (const zt::exception& e) {
                    const zt::exception* inner = &e;
                    while (inner->inner()) inner = inner->inner();
                    if (dynamic_cast<const executionLimitException*>(inner)) ++cancels;
                    else ++failures;
                }
                if (canceller.joinable()) canceller.join();
                cancel = false;
                ++callsDone;
            }
        });
    }
    std::thread writer([&] {
        std::mt19937 random(99);
        while (!stop) {
            const int f = static_cast<int>(random() % files);
            const fs::path p = folder / ("c" + std::to_string(f) + ".ztscr");
            std::error_code ec;
            if (random() % 5 == 0) {
                fs::remove(p, ec);
                ++deletes;
                std::this_thread::sleep_for(1ms);
            }
            // Saved the way editors do: a new file renamed over the old one.
            const long version = written[f].load() + 1;
            writeFile(fs::path(p).replace_extension(".tmp"), versionScript(version));
            written[f] = version;
            fs::rename(fs::path(p).replace_extension(".tmp"), p, ec);
            // (Windows refuses the rename for a moment while a reader opens the file.)
            if (!ec) {
                saved[f] = version;
                ++rewrites;
            }
            std::this_thread::sleep_for(1ms);
        }
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& c : callers) c.join();
    writer.join();
    std::printf("concurrent: %d threads, %ld calls, %ld rewrites, %ld deletes, %ld cancels, %ld failed calls, "
                "%ld wrong, RSS %ld KiB -> %ld KiB\n",
                threads, callsDone.load(), rewrites.load(), deletes.load(), cancels.load(), failures.load(),
                wrong.load(), rssStart, memoryKiB());
    if (wrong) problem("concurrent calls returned a version that was never written");
}

// Faults a host meets: each must end the call with an error, never hang or crash, and a save
// that cannot be written must leave the file as it was.
void faultCases(const fs::path& folder) {
    scriptcontext context;
    auto expectError = [&](const char* what, const std::string& file) {
        try {
            call(folder, file, "v", context);
            problem(std::string(what) + ": the call succeeded");
        } catch (const zt::exception&) {
            std::printf("fault %-40s error, as it should\n", what);
        }
    };
    writeFile(folder / "truncated.ztscr", "scrdef v()\n  return(add<string>(\"a\", \"b\"");
    expectError("truncated file", "truncated");
    fs::create_directories(folder / "dir.ztscr");
    expectError("a folder in the file's place", "dir");
#if !defined(_WIN32)
    writeFile(folder / "unreadable.ztscr", versionScript(1));
    fs::permissions(folder / "unreadable.ztscr", fs::perms::none);
    if (::geteuid() != 0) expectError("unreadable file", "unreadable");
    if (::mkfifo((folder / "fifo.ztscr").c_str(), 0600) == 0) expectError("a FIFO in the file's place", "fifo");

    // Saving host objects where nothing can be written.
    writeFile(folder / "o.json", "{\"total\": 1}");
    const std::string original = "{\"total\": 1}";
    // What became of a save that cannot be written ("" when it failed as it should); nothing is
    // printed meanwhile, since a file-size limit may hold.
    auto failedSave = [&]() -> std::string {
        ztscript_tool::demoHost host;
        zt::genericValue object = host.load((folder / "o.json").string());
        std::vector<zt::genericValue> args{object};
        zt::genericValue result;
        codeManager::instance()->executeFunction(zt::string(folder.u16string()) + u"/", u"script$set$v", context, args,
                                                 result);
        try {
            host.save();
            return "the save succeeded";
        } catch (const ztscript_tool::demoError&) {
            std::ifstream in(folder / "o.json");
            const std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            return now == original ? std::string() : "the file changed";
        }
    };
    auto report = [](const char* what, const std::string& outcome) {
        if (outcome.empty()) std::printf("fault %-40s error, file unchanged\n", what);
        else problem(std::string(what) + ": " + outcome);
    };
    writeFile(folder / "set.ztscr", "scrdef v(in<unknownptr> o)\n  obj_set<int>(o, \"total\", \"2\")\n");
    if (::geteuid() != 0) {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        const std::string outcome = failedSave();
        fs::permissions(folder, fs::perms::owner_all);
        report("save into a read-only folder", outcome);
    }
    // A full disk: writing beyond a file-size limit fails as a full disk does.
    std::fflush(stdout); // the limit holds for every file, the output too
    std::fflush(stderr);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit tiny = old;
    tiny.rlim_cur = 4;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    const std::string outcome = failedSave();
    ::setrlimit(RLIMIT_FSIZE, &old);
    report("save onto a full disk", outcome);
#endif
}

} // namespace

int main(int argc, char** argv) {
    options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--calls") o.calls = std::atol(argv[i + 1]);
        else if (name == "--threads") o.threads = std::atoi(argv[i + 1]);
        else if (name == "--seconds") o.seconds = std::atof(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: ztsoak [--calls N] [--threads T] [--seconds S]\n");
            return 2;
        }
    }
    codeManager::instance(); // before the threads
    const fs::path folder = fs::temp_directory_path() / ("ztsoak-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder);
    try {
        sequentialSoak(folder, o.calls);
        concurrentSoak(folder, o.threads, o.seconds);
        faultCases(folder);
    } catch (const std::exception& e) {
        problem(std::string("unexpected: ") + e.what());
    } catch (const zt::exception& e) {
        problem("unexpected: " + e.text().toUtf8());
    }
    std::error_code ec;
    fs::permissions(folder, fs::perms::owner_all, ec);
    fs::remove_all(folder, ec);
    std::printf("%s\n", gProblems ? "soak: PROBLEMS" : "soak: ok");
    return gProblems ? 1 : 0;
}
