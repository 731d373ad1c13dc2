#!/usr/bin/env bash
# A guard against regressions of the hot paths that is not a timed test: counts the machine
# instructions (callgrind, the same on a busy machine) of fixed workloads and fails when one
# needs more than its budget. CI runs it on the Release build.
#
#   bash bench/instructions.sh [BUILD]      (BUILD: a Release build folder, default build)
#
# Each figure is instructions per item, with the start-up (a one-line script) taken off: a loop
# round, a string built, a map key inserted and looked up, a script call through callfunction
# (with a file check interval, and looking at the disk on every call). The budgets are the
# counts measured when they were set, plus about 10 %; lower them when the engine gets faster.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build}
tool=$build/ztscript
workloads=bench/workloads.ztscr
command -v valgrind >/dev/null || { echo "instructions: valgrind is missing (Debian package valgrind)" >&2; exit 1; }

count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

startup=$(count "$tool" run bench/hostcall.ztscr inc 1)
failed=0
# name, budget per item, items, then the ztscript run arguments
check() {
  local name=$1 budget=$2 items=$3
  shift 3
  local total per
  total=$(count "$tool" run "$@")
  per=$(( (total - startup) / items ))
  if [ "$per" -gt "$budget" ]; then
    echo "instructions: $name needs $per per item, more than its budget of $budget"
    failed=1
  else
    echo "instructions: $name $per per item (budget $budget)"
  fi
}

check "loop round" 1260 100000 $workloads loop 100000
check "string" 2150 100000 $workloads strings 100000
check "map key" 4020 50000 $workloads map 50000
# fib 15 makes 1973 calls
check "call, file check interval" 2530 1973 --file-check-interval 1000 $workloads fib 15
check "call, disk looked at" 4470 1973 $workloads fib 15
echo "instructions: start-up $startup"
exit $failed
