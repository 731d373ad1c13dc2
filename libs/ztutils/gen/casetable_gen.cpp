// Writes the table of simple case mappings that the Windows build uses in place of ICU
// (libs/ztutils/src/casetable.inc). Built and run on Linux: ninja update_casetable.
//
// A run maps `count` code points starting at `first`, every `stride`-th one, by adding `delta`;
// runs are sorted by `first` and do not overlap.
#include <unicode/uchar.h>
#include <unicode/uversion.h>

#include <cstdio>
#include <vector>

namespace {

struct run {
    UChar32 first;
    int count;
    int stride;
    int delta;
};

std::vector<run> runsOf(UChar32 (*map)(UChar32)) {
    std::vector<run> runs;
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        const int delta = map(c) - c;
        if (delta == 0) continue;
        if (!runs.empty()) {
            run& last = runs.back();
            const UChar32 next = last.first + last.count * last.stride;
            if (last.delta == delta && next == c && (last.count > 1 || last.stride == c - last.first)) {
                ++last.count;
                continue;
            }
            // A second member decides the stride of a run of one (1 for blocks, 2 for pairs).
            if (last.count == 1 && last.delta == delta && (c - last.first == 1 || c - last.first == 2)) {
                last.stride = c - last.first;
                ++last.count;
                continue;
            }
        }
        runs.push_back({c, 1, 1, delta});
    }
    return runs;
}

void print(const char* name, const std::vector<run>& runs) {
    std::printf("constexpr caseRun %s[] = {\n", name);
    for (const run& r : runs) std::printf("    {0x%04X, %d, %d, %d},\n", r.first, r.count, r.stride, r.delta);
    std::printf("};\n");
}

} // namespace

int main() {
    char version[U_MAX_VERSION_STRING_LENGTH];
    UVersionInfo info;
    u_getUnicodeVersion(info);
    u_versionToString(info, version);
    std::printf("// Simple case mappings of Unicode %s, generated from ICU by libs/ztutils/gen/casetable_gen.cpp.\n"
                "// Do not edit; regenerate with `ninja update_casetable` on Linux.\n",
                version);
    print("kLowerRuns", runsOf(&u_tolower));
    print("kUpperRuns", runsOf(&u_toupper));
    return 0;
}
