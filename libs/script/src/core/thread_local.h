// ZT_FAST_TLS: the initial-exec model for the engine's thread-local variables on hot paths. It
// spares the call that a shared library's thread-local variables otherwise cost on each access.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#  define ZT_FAST_TLS __attribute__((tls_model("initial-exec")))
#else
#  define ZT_FAST_TLS
#endif
