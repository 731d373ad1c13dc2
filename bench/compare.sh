#!/usr/bin/env bash
# Compares ztScript with Lua 5.4 and Tcl 8.6 on the workloads of bench/: installs what is
# missing (Debian packages), builds a Release tree with the benchmarks (build-bench/), runs every
# workload several times and prints the median wall time, the peak memory and the ratios.
#
#   bash bench/compare.sh [--runs N] [--quick] [--micro] [--no-install] [--no-build]
#
#   --runs N      runs of each program (default 5); the table shows the median
#   --quick       a tenth of the sizes, one run each (a smoke test of the script itself)
#   --micro       also run the Google Benchmark micro-benchmarks (bench_micro)
#   --no-install  do not install packages
#   --no-build    use the existing build folder as it is
#
# Environment: ZTSCRIPT_BENCH_BUILD (build folder, default build-bench in the checkout),
# JOBS (parallel build jobs, default 2), N_LOOP N_FIB N_STRINGS N_MAP N_HOST (the peers' sizes)
# and ZT_N_LOOP ... ZT_N_HOST (ztScript's sizes, where it runs smaller ones).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZTSCRIPT_BENCH_BUILD:-$repo/build-bench}"
jobs="${JOBS:-2}"
runs=5
quick=0
micro=0
install=1
dobuild=1

while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --quick) quick=1; runs=1; shift ;;
    --micro) micro=1; shift ;;
    --no-install) install=0; shift ;;
    --no-build) dobuild=0; shift ;;
    -h|--help) sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "compare.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
case "$runs" in ''|*[!0-9]*|0) echo "compare.sh: --runs needs a positive number" >&2; exit 2 ;; esac

# ---------------------------------------------------------------------------------------------
# 1. Packages

packages=(
  cmake ninja-build g++ pkg-config
  libicu-dev zlib1g-dev libspdlog-dev libfmt-dev libcli11-dev nlohmann-json3-dev tzdata
  lua5.4 liblua5.4-dev tcl8.6 tcl8.6-dev libbenchmark-dev time
)
if [ "$install" -eq 1 ]; then
  missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
fi

for tool in lua5.4 luac5.4 tclsh8.6 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing (run without --no-install)" >&2; exit 1; }
done

# ---------------------------------------------------------------------------------------------
# 2. Build (Release, benchmarks on, tests off)

if [ "$dobuild" -eq 1 ]; then
  echo "== building $build"
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZTSCRIPT_BENCH=ON -DZTSCRIPT_TESTS=OFF >/dev/null
  ninja -C "$build" -j"$jobs" ztscript_tool bench_hostcall_zt bench_hostcall_lua bench_hostcall_tcl bench_micro
fi
zt="$build/ztscript"
for f in "$zt" "$build/bench_hostcall_zt" "$build/bench_hostcall_lua" "$build/bench_hostcall_tcl"; do
  [ -x "$f" ] || { echo "compare.sh: $f was not built" >&2; exit 1; }
done

# ---------------------------------------------------------------------------------------------
# 3. Generated files for the parse workload: about 1 MB of functions in ztScript and in Lua,
#    of the same shape (one function per definition, the same statements).

gen="$build/bench-gen"
mkdir -p "$gen"
awk -v target=1048576 'BEGIN {
  size = 0
  for (i = 1; size < target; i++) {
    s = sprintf("// function %d\nscrdef f%d(in<int> a, in<int> b = \"2\")\n", i, i)
    s = s sprintf("  createvar(x, add<int>(a, b));\n")
    s = s sprintf("  createvar(text, strcat(\"value \", x));\n")
    s = s sprintf("  while(issmaller<int>(x, \"%d\"), {\n", i)
    s = s sprintf("    setvar(x, add<int>(x, multiply<int>(b, \"3\")));\n")
    s = s sprintf("    if(isequal<int>(x, \"7\"), setvar(text, \"seven\"), setvar(text, strcat(text, \".\")))\n")
    s = s sprintf("  });\n")
    s = s sprintf("  return(strcat(text, x))\n")
    printf "%s", s
    size += length(s)
  }
}' > "$gen/parse.ztscr"
awk -v target=1048576 'BEGIN {
  size = 0
  for (i = 1; size < target; i++) {
    s = sprintf("-- function %d\nfunction f%d(a, b)\n  b = b or 2\n", i, i)
    s = s sprintf("  local x = a + b\n")
    s = s sprintf("  local text = \"value \" .. x\n")
    s = s sprintf("  while x < %d do\n", i)
    s = s sprintf("    x = x + b * 3\n")
    s = s sprintf("    if x == 7 then text = \"seven\" else text = text .. \".\" end\n")
    s = s sprintf("  end\n")
    s = s sprintf("  return text .. x\nend\n")
    printf "%s", s
    size += length(s)
  }
}' > "$gen/parse.lua"
# The call that loads the ztScript file: f1(1) runs its loop until x >= 1, i.e. not at all.
printf 'scrdef empty()\n  return("")\n' > "$gen/empty.ztscr"
printf '' > "$gen/empty.lua"
printf '' > "$gen/empty.tcl"

# ---------------------------------------------------------------------------------------------
# 4. Measuring

# Sizes: the peers' sizes, and ztScript's where it runs a smaller size (override with the
# variables of the same name). The ratios compare time per item (per iteration, per call):
# ztScript's ms / its items against the peer's ms / its items.
N_LOOP=${N_LOOP:-10000000}
N_FIB=${N_FIB:-27}            # fib 27: 635 621 calls
N_STRINGS=${N_STRINGS:-1000000}
N_MAP=${N_MAP:-500000}
N_HOST=${N_HOST:-1000000}
ZT_N_LOOP=${ZT_N_LOOP:-$N_LOOP}
ZT_N_FIB=${ZT_N_FIB:-22}      # fib 22: 57 313 calls
ZT_N_STRINGS=${ZT_N_STRINGS:-$N_STRINGS}
ZT_N_MAP=${ZT_N_MAP:-$N_MAP}
ZT_N_HOST=${ZT_N_HOST:-100000}
# With a file check interval (the script files are not looked at on every call) ztScript runs
# the peers' sizes.
ZT_N_FIB_CHECKED=${ZT_N_FIB_CHECKED:-$N_FIB}
ZT_N_HOST_CHECKED=${ZT_N_HOST_CHECKED:-$N_HOST}
if [ "$quick" -eq 1 ]; then
  N_LOOP=$((N_LOOP / 10)); ZT_N_LOOP=$((ZT_N_LOOP / 10))
  N_FIB=$((N_FIB - 5)); ZT_N_FIB=$((ZT_N_FIB - 5))
  N_STRINGS=$((N_STRINGS / 10)); ZT_N_STRINGS=$((ZT_N_STRINGS / 10))
  N_MAP=$((N_MAP / 10)); ZT_N_MAP=$((ZT_N_MAP / 10))
  N_HOST=$((N_HOST / 10)); ZT_N_HOST=$((ZT_N_HOST / 10))
  ZT_N_FIB_CHECKED=$((ZT_N_FIB_CHECKED - 5)); ZT_N_HOST_CHECKED=$((ZT_N_HOST_CHECKED / 10))
fi

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

now_ns() { date +%s%N; }

# measure NAME EXPECTED CMD...: runs CMD $runs times; checks that its first output line is
# EXPECTED (when not empty); leaves the median wall time in ms and the median peak memory in
# KiB in the variables ms_NAME and kb_NAME.
measure() {
  local name="$1" expected="$2"
  shift 2
  local times=() mems=() i start end out
  for ((i = 0; i < runs; i++)); do
    start=$(now_ns)
    if ! /usr/bin/time -f %M -o "$tmp/mem" "$@" >"$tmp/out" 2>"$tmp/err"; then
      echo "compare.sh: $name failed: $*" >&2
      cat "$tmp/err" >&2
      exit 1
    fi
    end=$(now_ns)
    out="$(head -n 1 "$tmp/out")"
    if [ -n "$expected" ] && ! awk -v a="$out" -v b="$expected" 'BEGIN { exit !(a == b || (a + 0 == b + 0 && a ~ /^[-+0-9.e]+$/)) }'; then
      echo "compare.sh: $name printed '$out', expected '$expected': $*" >&2
      exit 1
    fi
    times+=($(((end - start) / 1000)))
    mems+=("$(tail -n 1 "$tmp/mem")")
  done
  local mid=$((runs / 2))
  local t m
  t=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$((mid + 1))p")
  m=$(printf '%s\n' "${mems[@]}" | sort -n | sed -n "$((mid + 1))p")
  printf -v "ms_$name" '%s' "$(awk -v us="$t" 'BEGIN { printf "%.1f", us / 1000 }')"
  printf -v "kb_$name" '%s' "$m"
  printf '   %-14s %10s ms %8s KiB\n' "$name" "$(eval echo "\$ms_$name")" "$m" >&2
}

sum_to() { awk -v n="$1" 'BEGIN { printf "%.0f", n * (n + 1) / 2 }'; }
fib_of() { awk -v n="$1" 'BEGIN { a = 0; b = 1; for (i = 0; i < n; i++) { t = a + b; a = b; b = t }; print a }'; }
# Sum of the lengths of "item1".."itemN".
item_lengths() {
  awk -v n="$1" 'BEGIN { total = 0; lo = 1; d = 1
    while (lo <= n) { hi = lo * 10 - 1; if (hi > n) hi = n; total += (hi - lo + 1) * (4 + d); lo *= 10; d++ }
    printf "%.0f", total }'
}

cd "$repo"
echo "== running each program $runs times (median wall time, peak resident memory)" >&2
wl="$repo/bench"

measure zt_loop "$(sum_to "$ZT_N_LOOP")" "$zt" run bench/workloads.ztscr loop "$ZT_N_LOOP"
measure lua_loop "$(sum_to "$N_LOOP")" lua5.4 "$wl/workloads.lua" loop "$N_LOOP"
measure tcl_loop "$(sum_to "$N_LOOP")" tclsh8.6 "$wl/workloads.tcl" loop "$N_LOOP"

measure zt_fib "$(fib_of "$ZT_N_FIB")" "$zt" run bench/workloads.ztscr fib "$ZT_N_FIB"
measure zt_fibi "$(fib_of "$ZT_N_FIB_CHECKED")" "$zt" run --file-check-interval 1000 bench/workloads.ztscr fib "$ZT_N_FIB_CHECKED"
measure lua_fib "$(fib_of "$N_FIB")" lua5.4 "$wl/workloads.lua" fib "$N_FIB"
measure tcl_fib "$(fib_of "$N_FIB")" tclsh8.6 "$wl/workloads.tcl" fib "$N_FIB"

measure zt_strings "$(item_lengths "$ZT_N_STRINGS")" "$zt" run bench/workloads.ztscr strings "$ZT_N_STRINGS"
measure lua_strings "$(item_lengths "$N_STRINGS")" lua5.4 "$wl/workloads.lua" strings "$N_STRINGS"
measure tcl_strings "$(item_lengths "$N_STRINGS")" tclsh8.6 "$wl/workloads.tcl" strings "$N_STRINGS"

measure zt_map "$(sum_to "$ZT_N_MAP")" "$zt" run bench/workloads.ztscr map "$ZT_N_MAP"
measure lua_map "$(sum_to "$N_MAP")" lua5.4 "$wl/workloads.lua" map "$N_MAP"
measure tcl_map "$(sum_to "$N_MAP")" tclsh8.6 "$wl/workloads.tcl" map "$N_MAP"

measure zt_host "$ZT_N_HOST" "$build/bench_hostcall_zt" "$wl" "$ZT_N_HOST"
measure zt_hosti "$ZT_N_HOST_CHECKED" "$build/bench_hostcall_zt" "$wl" "$ZT_N_HOST_CHECKED" 1000
measure lua_host "$N_HOST" "$build/bench_hostcall_lua" "$N_HOST"
measure tcl_host "$N_HOST" "$build/bench_hostcall_tcl" "$N_HOST"

# Parse: the first call of one function loads the whole file (ztscript run), and ztscript check
# parses every function; luac5.4 -p parses the Lua file. The start-up of ztscript itself is
# measured on its own (a one-line file) for reference.
# A start takes a few milliseconds, no more than the machine's jitter: the start-ups take the
# median of ten times as many runs, the three programs in turn, so that a slow spell of the
# machine hits all three alike.
median() { sort -n "$1" | sed -n "$(( ($(wc -l < "$1") + 1) / 2 ))p"; }
for ((i = 0; i < runs * 10; i++)); do
  for name in zt lua tcl; do
    case $name in
      zt) cmd=("$zt" run "$gen/empty.ztscr" empty) ;;
      lua) cmd=(lua5.4 "$gen/empty.lua") ;;
      tcl) cmd=(tclsh8.6 "$gen/empty.tcl") ;;
    esac
    start=$(now_ns)
    /usr/bin/time -f %M -o "$tmp/mem" "${cmd[@]}" >/dev/null 2>&1 || { echo "compare.sh: ${cmd[*]} failed" >&2; exit 1; }
    end=$(now_ns)
    echo $(((end - start) / 1000)) >> "$tmp/start_$name.us"
    tail -n 1 "$tmp/mem" >> "$tmp/start_$name.kb"
  done
done
for name in zt lua tcl; do
  ms=$(awk -v us="$(median "$tmp/start_$name.us")" 'BEGIN { printf "%.1f", us / 1000 }')
  kb=$(median "$tmp/start_$name.kb")
  printf -v "ms_${name}_start" '%s' "$ms"
  printf -v "kb_${name}_start" '%s' "$kb"
  printf '   %-14s %10s ms %8s KiB\n' "${name}_start" "$ms" "$kb" >&2
done
measure zt_load "" "$zt" run "$gen/parse.ztscr" f1 1
measure zt_check "" "$zt" check "$gen/parse.ztscr"
measure lua_parse "" luac5.4 -p "$gen/parse.lua"

# ---------------------------------------------------------------------------------------------
# 5. The table

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

zt_size=$(wc -c <"$gen/parse.ztscr")
lua_size=$(wc -c <"$gen/parse.lua")
nfun=$(grep -c '^scrdef ' "$gen/parse.ztscr")

echo
echo "ztScript $("$zt" --version 2>/dev/null | head -n 1) vs $(lua5.4 -v 2>&1 | cut -d' ' -f1-2) and Tcl $(echo 'puts [info patchlevel]' | tclsh8.6)"
echo "$(nproc) cores, $runs runs each, median wall time of the whole process (start-up included)"
echo
fmt='%-16s %9s %9s %9s %9s %9s %7s %7s %7s %7s %7s\n'
# shellcheck disable=SC2059
printf "$fmt" workload "N zt" "N peers" "zt ms" "Lua ms" "Tcl ms" "zt/Lua" "zt/Tcl" "zt MiB" "Lua MiB" "Tcl MiB"
# Ratio of the time per item: (a ms / a items) / (b ms / b items).
per_item_ratio() { awk -v a="$1" -v na="$2" -v b="$3" -v nb="$4" 'BEGIN { if (b > 0 && na > 0) printf "%.2f", (a / na) / (b / nb); else print "-" }'; }
# row LABEL KEY NZ NP [PEERKEY]: ztScript's measurement KEY against the peers' PEERKEY (default KEY).
row() {
  local label="$1" key="$2" nz="$3" np="$4" peer="${5:-$2}"
  local z l t
  z=$(eval echo "\$ms_zt_$key"); l=$(eval echo "\$ms_lua_$peer"); t=$(eval echo "\$ms_tcl_$peer")
  # shellcheck disable=SC2059
  printf "$fmt" "$label" "$nz" "$np" "$z" "$l" "$t" "$(per_item_ratio "$z" "$nz" "$l" "$np")" \
    "$(per_item_ratio "$z" "$nz" "$t" "$np")" \
    "$(mib "$(eval echo "\$kb_zt_$key")")" "$(mib "$(eval echo "\$kb_lua_$peer")")" "$(mib "$(eval echo "\$kb_tcl_$peer")")"
}
fib_calls() { awk -v n="$1" 'BEGIN { a = 0; b = 1; for (i = 0; i <= n; i++) { t = a + b; a = b; b = t }; printf "%.0f", 2 * a - 1 }'; }
row "0 start-up" start 1 1
row "1 loop" loop "$ZT_N_LOOP" "$N_LOOP"
row "2 calls" fib "$(fib_calls "$ZT_N_FIB")" "$(fib_calls "$N_FIB")"
row "2 calls, cached" fibi "$(fib_calls "$ZT_N_FIB_CHECKED")" "$(fib_calls "$N_FIB")" fib
row "3 strings" strings "$ZT_N_STRINGS" "$N_STRINGS"
row "4 map" map "$ZT_N_MAP" "$N_MAP"
row "5 host calls" host "$ZT_N_HOST" "$N_HOST"
row "5 host, cached" hosti "$ZT_N_HOST_CHECKED" "$N_HOST" host
echo "Start-up: the program run on a script with nothing to do (ztscript: a one-line function), the median of $((runs * 10)) runs of each, in turn."
echo "N: iterations (loop, strings), keys (map), script calls (calls: fib $ZT_N_FIB for ztScript, fib $N_FIB"
echo "for the peers; host calls). Ratios: time per item, ztScript against the peer (1.00 = as fast)."
echo "'cached': a file check interval of 1 s (--file-check-interval 1000, setFileCheckInterval); the"
echo "other rows look at the script file on disk on every call, as the engine does by default."
echo
pfmt='%-30s %10s %10s %8s %10s %8s %8s\n'
# shellcheck disable=SC2059
printf "$pfmt" "parse ($nfun functions)" "ztScript" "luac -p" "zt/luac" "w/o start" "zt MiB" "luac MiB"
# shellcheck disable=SC2059
printf "$pfmt" "  load: run f1 ($zt_size B)" "$ms_zt_load" "$ms_lua_parse" "$(ratio "$ms_zt_load" "$ms_lua_parse")" \
  "$(ratio "$(awk -v a="$ms_zt_load" -v b="$ms_zt_start" 'BEGIN { print a - b }')" "$ms_lua_parse")" \
  "$(mib "$kb_zt_load")" "$(mib "$kb_lua_parse")"
# shellcheck disable=SC2059
printf "$pfmt" "  check: parse all bodies" "$ms_zt_check" "$ms_lua_parse" "$(ratio "$ms_zt_check" "$ms_lua_parse")" \
  "$(ratio "$(awk -v a="$ms_zt_check" -v b="$ms_zt_start" 'BEGIN { print a - b }')" "$ms_lua_parse")" \
  "$(mib "$kb_zt_check")" "$(mib "$kb_lua_parse")"
echo "Lua file: $lua_size B. ztscript start-up alone (a one-line file): $ms_zt_start ms, $(mib "$kb_zt_start") MiB;"
echo "'w/o start' is the ratio with that start-up taken off ztScript's time."

if [ "$micro" -eq 1 ]; then
  echo
  echo "== micro-benchmarks"
  "$build/bench_micro" --benchmark_min_time=0.2
fi
