// Fuzz target: load and run whole script files through the code manager, as a host does.
//
// The input is the content of a script file. Inputs that name the file, directory, process
// (loaddll, runexe) or message box statements, or a device or process folder, are skipped: the
// fuzzer must not touch the machine it runs on. Blanks and line breaks are ignored for that
// check (the parser drops them inside keywords) and case does not matter.
//
// The definitions are renamed f0 .. f7 (in order, modulo 8) before the file is written, so
// that the code manager's cache, which keeps every function it ever loaded, stays small over
// millions of inputs. Each input is written to the same file with a newer modification time,
// so the cache reloads it. Every defined function is then called with a fresh scriptcontext
// limited to 100000 executed statements and a few text arguments.
#include "fuzzcommon.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

using namespace zt::script;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxSteps = 100000;
constexpr int kNames = 8;

// Texts that make the input unfit to run here; compared with the input lower-cased, without
// blanks, tabs and line breaks, with "\" read as "/".
const char* const kRefused[] = {
    "file_",       // file statements
    "directory_",  // directory statements
    "loaddll",     // libraries
    "runexe",      // programs
    "messagebox",  // message boxes
    "dev/",        // devices (/dev/zero, /dev/stdin as a script file of callfunction)
    "proc/",       // process information
    "sys/",
};

bool refused(const std::uint8_t* data, std::size_t size) {
    std::string folded;
    folded.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        char c = static_cast<char>(data[i]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == '\\') c = '/';
        folded.push_back(c);
    }
    for (const char* r : kRefused)
        if (folded.find(r) != std::string::npos) return true;
    return false;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Replaces the name of every "scrdef NAME(" line by f0 .. f7 when the name is a plain word;
// other definitions keep their name and are not called.
std::string renamed(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    std::string out;
    out.reserve(size + 16);
    int next = 0;
    std::size_t pos = 0;
    while (pos < in.size()) {
        std::size_t end = in.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = in.size();
        const std::string line = in.substr(pos, end - pos);
        std::size_t i = line.find_first_not_of(" \t");
        bool done = false;
        if (i != std::string::npos && line.size() >= i + 7) {
            std::string head = line.substr(i, 7);
            for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (head == "scrdef ") {
                std::size_t n = line.find_first_not_of(" \t", i + 7);
                std::size_t e = n;
                while (e != std::string::npos && e < line.size() && isNameChar(line[e])) ++e;
                if (n != std::string::npos && e < line.size() && e > n && line[e] == '(') {
                    out += line.substr(0, n);
                    out += 'f';
                    out += static_cast<char>('0' + next);
                    out += line.substr(e);
                    next = (next + 1) % kNames;
                    done = true;
                }
            }
        }
        if (!done) out += line;
        if (end < in.size()) out += in[end];
        pos = end + 1;
    }
    return out;
}

struct workspace {
    fs::path folder;
    fs::path file;
    fs::file_time_type stamp;

    workspace() {
        folder = fs::temp_directory_path() / ("ztfuzz-run-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        file = folder / "ztfuzzinput.ztscr";
        stamp = fs::file_time_type::clock::now();
    }
    ~workspace() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    // Writes the script; every write is one second newer than the last, so the cache reloads.
    void write(const std::string& content) {
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(content.data(), static_cast<std::streamsize>(content.size()));
        }
        stamp += std::chrono::seconds(1);
        fs::last_write_time(file, stamp);
    }
};

workspace& space() {
    static workspace w;
    return w;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ztfuzz::silenceAssertions();
    if (refused(data, size)) return -1; // keep it out of the corpus

    const std::string script = renamed(data, size);
    workspace& w = space();
    w.write(script);

    // The functions the file defines, as the engine reads it.
    zt::binaryBuffer buffer;
    buffer.bytes().assign(script.begin(), script.end());
    zt::configStructure index;
    ZTFUZZ_GUARDED("scriptFileReader::readInto", scriptFileReader(buffer).readInto(index));

    const zt::string base = zt::string::fromUtf8(w.folder.string() + "/");
    for (int n = 0; n < kNames; ++n) {
        const zt::string name = zt::string::format(u"f%d", n);
        if (!index.hasSection(name)) continue;
        scriptcontext context;
        executionLimits limits;
        limits.maxSteps = kMaxSteps;
        context.setLimits(limits);
        std::vector<genericValue> args{genericValue::of(zt::string(u"1")), genericValue::of(zt::string(u"abc")),
                                       genericValue::of(zt::string(u"-2.5"))};
        genericValue result;
        ZTFUZZ_GUARDED("codeManager::executeFunction", {
            codeManager::instance()->executeFunction(base, u"script$ztfuzzinput$" + name, context, args, result);
            zt::string shown;
            result.get(shown); // a host shows the result
        });
    }
    return 0;
}
