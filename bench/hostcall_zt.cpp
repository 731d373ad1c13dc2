// Host calls, ztScript side: a C++ host calls one small cached script function N times through
// codeManager::executeFunction. Usage: bench_hostcall_zt SCRIPTDIR N [CHECK_MS] (SCRIPTDIR holds
// hostcall.ztscr; CHECK_MS sets the code manager's file check interval, default 0: every call
// looks at the disk). Prints the final counter (N) and the time per call on stderr.
#include <ztscript.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s SCRIPTDIR N [CHECK_MS]\n", argv[0]);
        return 2;
    }
    zt::string base = zt::string::fromUtf8(argv[1]);
    if (!base.empty() && base.back() != u'/') base += u'/';
    const long n = std::atol(argv[2]);
    const zt::string call(u"script$hostcall$inc");

    try {
        auto* manager = zt::script::codeManager::instance();
        if (argc == 4) manager->setFileCheckInterval(std::chrono::milliseconds(std::atol(argv[3])));
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
