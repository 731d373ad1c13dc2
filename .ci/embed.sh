#!/usr/bin/env bash
# The embedding stage of continuous integration (Linux): installs the build tree given as the
# first argument into a temporary prefix, checks what was installed, builds the example hosts of
# examples/embed outside the source tree against that prefix (C++ with find_package, C with
# pkg-config) and compares their output with examples/embed/expected.txt. Then builds the C++
# host with the engine as a subproject (add_subdirectory), libraries only.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# The build folder's programs look for libraries beside them: an empty run path entry would send
# the loader through the working folder for every library.
for f in "$build/ztscript" "$build/libztscript.so.0" "$build/libztutils.so.0"; do
  if readelf -d "$f" | sed -n 's/.*RUNPATH.*\[\(.*\)\]/\1/p' | grep -qE '^$|^:|::|:$'; then
    echo "embed: $f has an empty run path entry" >&2
    exit 1
  fi
done

# Versioned libraries without a run path into the build folder; only the public symbols.
lib=$prefix/lib
for name in ztscript ztutils; do
  readelf -d "$lib/lib$name.so.0" | grep -q "SONAME.*\[lib$name.so.0\]"
  if readelf -d "$lib/lib$name.so.0" | grep -E 'RPATH|RUNPATH' | grep -q "$(pwd)"; then
    echo "embed: lib$name.so.0 has a run path into the build folder" >&2
    exit 1
  fi
done
# ICU is loaded when a text first needs it, not with the library.
if readelf -d "$lib/libztutils.so.0" | grep NEEDED | grep -q icu; then
  echo "embed: libztutils.so.0 loads ICU when it is loaded" >&2
  exit 1
fi
if nm -DC --defined-only "$lib/libztscript.so.0" | grep -q 'zt::script::modules::'; then
  echo "embed: the engine exports internals of its statement libraries" >&2
  exit 1
fi
grep -q '#define ZTSCRIPT_VERSION "' "$prefix/include/ztscript/ztscript_version.h"
test "$("$prefix/bin/ztscript" --version)" = "ztscript $(sed -n 's/^#define ZTSCRIPT_VERSION "\(.*\)"/\1/p' "$prefix/include/ztscript/ztscript_version.h")"

# The public headers reach no header of the libraries' own dependencies.
for header in "$prefix"/include/ztscript/*.h; do
  if echo "#include <$(basename "$header")>" | g++ -std=c++20 -E -x c++ - -I"$prefix/include/ztscript" -H 2>&1 >/dev/null |
     grep -E 'spdlog|/fmt/|unicode/|zlib|nlohmann|CLI'; then
    echo "embed: $(basename "$header") includes a third-party header" >&2
    exit 1
  fi
done

# C++ host: find_package(ztscript).
cmake -S examples/embed/cpp -B "$work/cpp" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
ninja -C "$work/cpp" >/dev/null
"$work/cpp/invoice_host" examples/embed >"$work/cpp.out"
diff -u examples/embed/expected.txt "$work/cpp.out"

# C host, compiled as C: pkg-config.
cp -r examples/embed/c "$work/c"
PKG_CONFIG_PATH="$lib/pkgconfig" make -s -C "$work/c" >/dev/null
LD_LIBRARY_PATH="$lib" "$work/c/invoice_host_c" examples/embed >"$work/c.out"
diff -u examples/embed/expected.txt "$work/c.out"

# The engine as a subproject: only the libraries are built, the tool's and tests' packages are
# not looked for.
mkdir -p "$work/sub"
cat >"$work/sub/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(subproject LANGUAGES CXX)
add_subdirectory($(pwd) ztscript)
foreach(option ZTSCRIPT_TOOL ZTSCRIPT_TESTS ZTSCRIPT_INSTALL)
  if(\${option})
    message(FATAL_ERROR "\${option} is on in a subproject")
  endif()
endforeach()
add_executable(invoice_host $(pwd)/examples/embed/cpp/main.cpp)
target_link_libraries(invoice_host PRIVATE ztscript::ztscript)
CMAKE
cmake -S "$work/sub" -B "$work/sub/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$work/sub.log"
if grep -qE '^(CLI11|nlohmann_json|GTest)_DIR' "$work/sub/build/CMakeCache.txt"; then
  echo "embed: the subproject looked for the tool's or the tests' packages" >&2
  exit 1
fi
ninja -C "$work/sub/build" -j2 invoice_host >/dev/null
"$work/sub/build/invoice_host" examples/embed >"$work/sub.out"
diff -u examples/embed/expected.txt "$work/sub.out"
echo "embed stage: ok ($(wc -l <examples/embed/cpp/main.cpp) lines C++ host, $(wc -l <examples/embed/c/main.c) lines C host)"
