#!/usr/bin/env python3
"""Mutation sample: does the test suite notice when the engine is changed on purpose?

Each mutation replaces one exact text snippet of the sources by another. The file is not named:
the one file below libs/ and tools/ whose text contains the snippet is used, so that the list
keeps working while files move. A snippet found nowhere, or more than once, is an error.

For each mutation the script applies it, builds incrementally (nice -n 19 ninja), runs the test
suite (ctest -j2 --timeout 60), records whether a test failed ("caught"), no test failed
("missed") or the build failed ("not compiled"), and puts the file back, also on Ctrl-C or
an error. Before the first mutation the unchanged sources are built and tested once: a suite
that fails already would call every mutation caught.

    tests/mutation/mutate.py --build build-mut               # all mutations
    tests/mutation/mutate.py --build build-mut --only limits-outer-budget-dropped
    tests/mutation/mutate.py --check                         # only look up every snippet
    tests/mutation/mutate.py --source /other/checkout --build /other/checkout/build

Standard library only.
"""

import argparse
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SOURCE = os.path.dirname(os.path.dirname(HERE))
SEARCHED_FOLDERS = ("libs", "tools")
SEARCHED_SUFFIXES = (".cpp", ".h", ".hpp", ".c", ".inc")


class Mutation:
    def __init__(self, name, area, snippet, replacement):
        self.name = name
        self.area = area
        self.snippet = snippet
        self.replacement = replacement


M = Mutation

# name, area, snippet (exact, unique below libs/ and tools/), replacement
MUTATIONS = [
    # --- parser
    M("parser-semicolon-ignores-braces", "parser",
      "else if (c == u';' && depth == 0) {",
      "else if (c == u';') {"),
    M("parser-definition-quote-not-toggled", "script-file reader",
      "if (c == u'\"' && !escaped) inQuote = !inQuote;",
      "if (c == u'\"' && escaped) inQuote = !inQuote;"),
    # --- execution and the statement wrapper
    M("wrapper-no-statement-in-chain", "execution",
      "        throw positioned(scriptExecException(mText, nullptr, &e));",
      "        throw;"),
    M("execute-return-value-dropped", "execution",
      "if (genericValue* ret = context.parameterAddress(scriptcontext::returnparam()))\n            if (ret != &result) result = *ret;",
      "if (genericValue* ret = context.parameterAddress(scriptcontext::returnparam()))\n            if (ret != &result) (void)ret;"),
    # --- execution limits
    M("limits-step-off-by-one", "limits",
      "if (mLimits.maxSteps != 0 && mSteps > mLimits.maxSteps)",
      "if (mLimits.maxSteps != 0 && mSteps > mLimits.maxSteps + 1)"),
    M("limits-outer-budget-dropped", "limits (nested calls)",
      "mBudget.emplace(limits, gBudget);",
      "mBudget.emplace(limits, nullptr);"),
    M("limits-outer-not-stepped", "limits (nested calls)",
      "        if (mpOuter) mpOuter->step();",
      "        if (false && mpOuter) mpOuter->step();"),
    M("limits-hit-limit-forgotten", "limits",
      "        if (mTripped) throw executionLimitException(*mTripped, amountOf(*mTripped));",
      "        if (false && mTripped) throw executionLimitException(*mTripped, amountOf(*mTripped));"),
    # --- contexts and variables
    M("context-createvar-shadows-outer", "contexts/variables",
      "    if (hasVariable(name)) return false;\n    return mVariables.setGenericValue(name, value, true);",
      "    if (mVariables.genericValue(name)) return false;\n    return mVariables.setGenericValue(name, value, true);"),
    # --- code manager: cache, refresh, stamps
    M("codemanager-key-per-base-path", "code manager cache",
      "    key.assign(fileName);",
      "    key.assign(basePath + fileName);"),
    M("codemanager-running-body-not-held", "code manager refresh",
      "std::shared_ptr<const loadedFunction> fn = loadFunction(basePath, file, function, entry);",
      "const loadedFunction* fn = loadFunction(basePath, file, function, entry).get();"),
    M("codemanager-unsettled-stamp-trusted", "code manager stamps",
      "    const bool settled = stamp.settledAt(readAt);",
      "    const bool settled = true;"),
    M("codemanager-index-ignores-stamp", "code manager stamps",
      "if (it != mp->mFiles.end() && it->second->stamp == stamp) known = it->second;",
      "if (it != mp->mFiles.end()) known = it->second;"),
    M("codemanager-malformed-call-not-reported", "code manager",
      "if (!parseCodeCall(codeCall, fresh.type, fresh.file, fresh.function)) throw malformedCodeCallException(codeCall);",
      "if (!parseCodeCall(codeCall, fresh.type, fresh.file, fresh.function)) return false;"),
    # --- script files
    M("scriptfile-read-failure-ignored", "script-file reader",
      "    if (!bytes->readFromFile(resolved)) throw zt::readFileException(resolved.fullName());",
      "    bytes->readFromFile(resolved);"),
    M("scriptfile-scrdef-case-sensitive", "script-file reader",
      "line.substr(0, 7).lower() == u\"scrdef \"",
      "line.substr(0, 7) == u\"scrdef \""),
    # --- values and conversions (ztutils)
    M("conversions-remove-keeps-thread-caches", "values/conversions",
      "        mpImpl->converters.erase(it);\n        mpImpl->generation.fetch_add(1, std::memory_order_acq_rel);",
      "        mpImpl->converters.erase(it);"),
    M("dates-every-century-leap", "dates (ztutils)",
      "return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);",
      "return year % 4 == 0;"),
    # --- statement libraries
    M("string-substr-ignores-length", "string statements",
      "const size_t count = std::min(n - first, static_cast<size_t>(length));",
      "const size_t count = n - first;"),
    M("string-strfind-last-occurrence", "string statements",
      "const size_t at = what.empty() ? 0 : s.find(what);",
      "const size_t at = what.empty() ? 0 : s.rfind(what);"),
    M("set-insertintomap-keeps-old-value", "set statements",
      "            m.insert_or_assign(k, std::move(value));",
      "            m.insert({k, std::move(value)});"),
    M("math-sqrt-is-cube-root", "math statements",
      "result.replace(std::sqrt(value));",
      "result.replace(std::cbrt(value));"),
    M("file-exchangeextension-separator", "file statements",
      "        exchanged += u\".\";",
      "        exchanged += u\"_\";"),
    # --- demo host
    M("demohost-large-unsigned-wraps-to-int", "demo host JSON",
      "if (u <= static_cast<std::uint64_t>(INT_MAX)) return zt::genericValue::of(static_cast<int>(u));",
      "if (u <= static_cast<std::uint64_t>(UINT_MAX)) return zt::genericValue::of(static_cast<int>(u));"),
    M("demohost-line-limit-shorter", "demo host dump/save",
      "constexpr std::size_t kLineLimit = 100;",
      "constexpr std::size_t kLineLimit = 60;"),
    # --- C interface
    M("capi-step-limit-not-passed", "C API",
      "        limits.maxSteps = context->maxSteps;",
      "        limits.maxSteps = 0;"),
    M("capi-cancel-sticks", "C API",
      "    context->cancel.store(false);\n    return outcome;",
      "    return outcome;"),
]


class SnippetError(Exception):
    pass


def source_files(root):
    for folder in SEARCHED_FOLDERS:
        top = os.path.join(root, folder)
        for base, dirs, files in os.walk(top):
            dirs[:] = sorted(d for d in dirs if not d.startswith("."))
            for name in sorted(files):
                if name.endswith(SEARCHED_SUFFIXES):
                    yield os.path.join(base, name)


def locate(root, mutation):
    """The one file that holds the snippet, with its text; SnippetError otherwise."""
    found = []
    for path in source_files(root):
        with open(path, "r", encoding="utf-8", errors="surrogateescape", newline="") as f:
            text = f.read()
        n = text.count(mutation.snippet)
        if n:
            found.append((path, n, text))
    total = sum(n for _, n, _ in found)
    if total == 0:
        raise SnippetError("%s: the snippet is in no file below %s" % (mutation.name, ", ".join(SEARCHED_FOLDERS)))
    if total > 1:
        where = ", ".join("%s (%d)" % (os.path.relpath(p, root), n) for p, n, _ in found)
        raise SnippetError("%s: the snippet occurs %d times: %s" % (mutation.name, total, where))
    return found[0][0], found[0][2]


def write_text(path, text):
    with open(path, "w", encoding="utf-8", errors="surrogateescape", newline="") as f:
        f.write(text)


def run(cmd, log, timeout):
    """Runs cmd, appending its output to log; returns the exit status (None on timeout)."""
    log.write("\n$ %s\n" % " ".join(cmd))
    log.flush()
    try:
        done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        log.write((e.stdout or b"").decode("utf-8", "replace"))
        log.write("\n(timed out after %d s)\n" % timeout)
        return None, ""
    out = done.stdout.decode("utf-8", "replace")
    log.write(out)
    log.flush()
    return done.returncode, out


def failed_tests(ctest_output):
    names = []
    lines = ctest_output.splitlines()
    for i, line in enumerate(lines):
        if line.strip() == "The following tests FAILED:":
            for rest in lines[i + 1:]:
                rest = rest.strip()
                if not rest or not rest[0].isdigit():
                    break
                # "12 - Limits.NestedCallsObeyTheOuterLimit (Failed)"
                parts = rest.split(" - ", 1)
                names.append(parts[1] if len(parts) == 2 else rest)
    return names


class Runner:
    def __init__(self, args, log):
        self.args = args
        self.log = log

    def build(self):
        cmd = ["nice", "-n", "19", "ninja", "-C", self.args.build]
        rc, _ = run(cmd, self.log, self.args.build_timeout)
        return rc == 0

    def test(self):
        cmd = ["nice", "-n", "19", "ctest", "--test-dir", self.args.build, "-j2", "--timeout", "60",
               "--output-on-failure"]
        if not self.args.full:
            cmd.append("--stop-on-failure")
        if self.args.tests:
            cmd += ["-R", self.args.tests]
        if self.args.exclude:
            cmd += ["-E", self.args.exclude]
        rc, out = run(cmd, self.log, self.args.test_timeout)
        return rc == 0, failed_tests(out) if rc is not None else ["(suite timed out)"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", default=DEFAULT_SOURCE, help="source root (default: this checkout)")
    parser.add_argument("--build", help="configured build folder (default: SOURCE/build)")
    parser.add_argument("--only", action="append", help="run only this mutation (may be repeated)")
    parser.add_argument("--check", action="store_true", help="only check that every snippet is found once")
    parser.add_argument("--list", action="store_true", help="list the mutations")
    parser.add_argument("--full", action="store_true", help="run the whole suite even after a first failure")
    parser.add_argument("--tests", default="", help="ctest -R pattern: run only these tests (default: all)")
    parser.add_argument("--exclude", default="", help="ctest -E pattern of tests to leave out")
    parser.add_argument("--no-baseline", action="store_true", help="skip building and testing the unchanged sources")
    parser.add_argument("--log", help="file for build and test output (default: BUILD/mutation.log)")
    parser.add_argument("--build-timeout", type=int, default=3600)
    parser.add_argument("--test-timeout", type=int, default=1800)
    args = parser.parse_args()
    args.source = os.path.abspath(args.source)
    args.build = os.path.abspath(args.build or os.path.join(args.source, "build"))

    names = [m.name for m in MUTATIONS]
    if len(set(names)) != len(names):
        sys.exit("mutation names are not unique")
    selected = MUTATIONS
    if args.only:
        unknown = [n for n in args.only if n not in names]
        if unknown:
            sys.exit("unknown mutation: %s" % ", ".join(unknown))
        selected = [m for m in MUTATIONS if m.name in args.only]

    if args.list:
        for m in selected:
            print("%-45s %s" % (m.name, m.area))
        return 0

    problems = []
    for m in selected:
        try:
            path, _ = locate(args.source, m)
            if args.check:
                print("ok   %-45s %s" % (m.name, os.path.relpath(path, args.source)))
        except SnippetError as e:
            problems.append(str(e))
    for p in problems:
        print("FAIL " + p, file=sys.stderr)
    if problems:
        return 2
    if args.check:
        print("%d mutations, every snippet found once" % len(selected))
        return 0

    if not os.path.isfile(os.path.join(args.build, "build.ninja")):
        sys.exit("%s is no configured Ninja build folder" % args.build)

    # SIGTERM ends the run like Ctrl-C, so that the mutated file is put back.
    def terminate(signum, frame):
        raise KeyboardInterrupt()
    signal.signal(signal.SIGTERM, terminate)

    log_path = args.log or os.path.join(args.build, "mutation.log")
    results = []
    with open(log_path, "w", encoding="utf-8") as log:
        runner = Runner(args, log)
        print("log: %s" % log_path, flush=True)
        if not args.no_baseline:
            print("baseline: building and testing the unchanged sources ...", flush=True)
            if not runner.build():
                sys.exit("the unchanged sources do not build (see %s)" % log_path)
            ok, failing = runner.test()
            if not ok:
                sys.exit("the suite fails on the unchanged sources: %s (see %s)" % (", ".join(failing), log_path))
        try:
            for i, m in enumerate(selected, 1):
                path, original = locate(args.source, m)
                start = time.time()
                log.write("\n===== %s (%s)\n" % (m.name, os.path.relpath(path, args.source)))
                print("[%d/%d] %s (%s) ..." % (i, len(selected), m.name, os.path.relpath(path, args.source)),
                      end=" ", flush=True)
                try:
                    write_text(path, original.replace(m.snippet, m.replacement, 1))
                    if not runner.build():
                        result, detail = "not compiled", ""
                    else:
                        ok, failing = runner.test()
                        result = "missed" if ok else "caught"
                        detail = ", ".join(failing[:3])
                finally:
                    write_text(path, original)
                seconds = time.time() - start
                print("%s %s(%.0f s)" % (result, ("by " + detail + " ") if detail else "", seconds), flush=True)
                results.append((m, result, detail))
        except KeyboardInterrupt:
            print("\ninterrupted: the mutated file is restored", file=sys.stderr)
        finally:
            # The binaries are built from the restored sources again.
            if results:
                runner.build()

    print()
    print("%-45s %-22s %-13s %s" % ("mutation", "area", "result", "first failing tests"))
    for m, result, detail in results:
        print("%-45s %-22s %-13s %s" % (m.name, m.area, result, detail))
    counts = {k: sum(1 for _, r, _ in results if r == k) for k in ("caught", "missed", "not compiled")}
    compiled = counts["caught"] + counts["missed"]
    score = (" (%.0f%% of the compiled ones caught)" % (100.0 * counts["caught"] / compiled)) if compiled else ""
    print("\n%d mutations: %d caught, %d missed, %d not compiled%s" %
          (len(results), counts["caught"], counts["missed"], counts["not compiled"], score))
    return 0 if len(results) == len(selected) else 1


if __name__ == "__main__":
    sys.exit(main())
