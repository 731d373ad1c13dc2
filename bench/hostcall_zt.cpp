// Host calls, ztScript side: a C++ host calls one small cached script function N times through
// codeManager::executeFunction. Usage: bench_hostcall_zt SCRIPTDIR N (SCRIPTDIR holds
// hostcall.ztscr). Prints the final counter (N) and the time per call on stderr.
#include <ztscript.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SCRIPTDIR N\n", argv[0]);
        return 2;
    }
    zt::string base = zt::string::fromUtf8(argv[1]);
    if (!base.empty() && base.back() != u'/') base += u'/';
    const long n = std::atol(argv[2]);
    const zt::string call(u"script$hostcall$inc");

    try {
        auto* manager = zt::script::codeManager::instance();
        zt::script::scriptcontext context; // reused like the peers' interpreter state
        int x = 0;
        auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < n; ++i) {
            std::vector<zt::genericValue> args{zt::genericValue::of(x)};
            zt::genericValue result;
            manager->executeFunction(base, call, context, args, result);
            if (!result.get(x)) {
                std::fprintf(stderr, "no int result\n");
                return 1;
            }
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%d\n", x);
        std::fprintf(stderr, "ztscript: %.1f ns per call\n", n ? seconds * 1e9 / double(n) : 0.0);
        return x == n ? 0 : 1;
    } catch (const zt::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.text().toUtf8().c_str());
    } catch (...) {
        std::fprintf(stderr, "error: the call failed\n");
    }
    return 1;
}
