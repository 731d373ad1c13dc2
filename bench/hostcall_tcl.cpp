// Host calls, Tcl side: a C++ host calls one small Tcl procedure N times through Tcl_EvalObjv.
// Usage: bench_hostcall_tcl N. Prints the final counter (N) and the time per call on stderr.
#include <tcl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s N\n", argv[0]);
        return 2;
    }
    const long n = std::atol(argv[1]);
    Tcl_FindExecutable(argv[0]);
    Tcl_Interp* interp = Tcl_CreateInterp();
    if (Tcl_Eval(interp, "proc inc {x} { expr {$x + 1} }") != TCL_OK) {
        std::fprintf(stderr, "error: %s\n", Tcl_GetStringResult(interp));
        return 1;
    }
    Tcl_Obj* objv[2];
    objv[0] = Tcl_NewStringObj("inc", -1);
    Tcl_IncrRefCount(objv[0]);
    int x = 0;
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i) {
        objv[1] = Tcl_NewIntObj(x);
        Tcl_IncrRefCount(objv[1]);
        int rc = Tcl_EvalObjv(interp, 2, objv, 0);
        Tcl_DecrRefCount(objv[1]);
        if (rc != TCL_OK || Tcl_GetIntFromObj(interp, Tcl_GetObjResult(interp), &x) != TCL_OK) {
            std::fprintf(stderr, "error: %s\n", Tcl_GetStringResult(interp));
            return 1;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Tcl_DecrRefCount(objv[0]);
    std::printf("%d\n", x);
    std::fprintf(stderr, "tcl: %.1f ns per call\n", n ? seconds * 1e9 / double(n) : 0.0);
    Tcl_DeleteInterp(interp);
    return x == n ? 0 : 1;
}
