// Micro-benchmarks of the engine's hot path: value copies, conversions, variable lookup,
// statement dispatch and one host call. Run: build-bench/bench/bench_micro (Google Benchmark
// options apply, e.g. --benchmark_filter=Lookup).
#include <ztscript.h>
#include <ztutils.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using zt::genericValue;
using zt::scString;
using zt::script::codecontext;
using zt::script::scriptcontext;
using zt::script::statement;

namespace {

// Owns a parsed statement and releases it as the engine's owners do.
struct statementDeleter {
    void operator()(statement* st) const {
        if (st) st->release();
    }
};
using statementPtr = std::unique_ptr<statement, statementDeleter>;

statementPtr parse(const char16_t* text) {
    statementPtr st(statement::createFrom(zt::string(text), 0));
    if (!st) std::fprintf(stderr, "could not parse %s\n", zt::string(text).toUtf8().c_str());
    return st;
}

// ---------------------------------------------------------------------------------------------
// Value copies

void ValueCopyInt(benchmark::State& state) {
    genericValue source = genericValue::of(42);
    for (auto _ : state) {
        genericValue copy(source);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(ValueCopyInt);

void ValueCopyDouble(benchmark::State& state) {
    genericValue source = genericValue::of(2.5);
    for (auto _ : state) {
        genericValue copy(source);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(ValueCopyDouble);

// Short texts fit the string's own buffer; long ones need a heap block.
void ValueCopyString(benchmark::State& state) {
    genericValue source = genericValue::of(zt::string(static_cast<size_t>(state.range(0)), u'x'));
    for (auto _ : state) {
        genericValue copy(source);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(ValueCopyString)->Arg(6)->Arg(64);

void ValueAssignInt(benchmark::State& state) {
    genericValue source = genericValue::of(42);
    genericValue target = genericValue::of(7);
    for (auto _ : state) {
        target = source;
        benchmark::DoNotOptimize(target);
    }
}
BENCHMARK(ValueAssignInt);

// ---------------------------------------------------------------------------------------------
// Conversions

void GetIntFromInt(benchmark::State& state) {
    genericValue v = genericValue::of(12345);
    int out = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.get(out));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(GetIntFromInt);

void GetIntFromText(benchmark::State& state) {
    genericValue v = genericValue::of(zt::string(u"12345"));
    int out = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.get(out));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(GetIntFromText);

void GetDoubleFromInt(benchmark::State& state) {
    genericValue v = genericValue::of(12345);
    double out = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.get(out));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(GetDoubleFromInt);

void GetTextFromInt(benchmark::State& state) {
    genericValue v = genericValue::of(12345);
    for (auto _ : state) {
        zt::string out;
        benchmark::DoNotOptimize(v.get(out));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(GetTextFromInt);

// A value keeps its type: writing an int into a text value converts it.
void SetIntIntoText(benchmark::State& state) {
    genericValue v = genericValue::of(zt::string(u"0"));
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.set(++i));
    }
}
BENCHMARK(SetIntIntoText);

void SetIntIntoInt(benchmark::State& state) {
    genericValue v = genericValue::of(0);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.set(++i));
    }
}
BENCHMARK(SetIntIntoInt);

// ---------------------------------------------------------------------------------------------
// Variable lookup: a name found in the innermost of DEPTH nested blocks, each holding four
// variables, or found only as a parameter of the root after searching every block.

// The name "v<block letter><digit>": va0 .. va3 in the outermost block, vb0 .. in the next.
scString nameOf(int block, int k) {
    const char16_t text[] = {u'v', static_cast<char16_t>(u'a' + block), static_cast<char16_t>(u'0' + k), 0};
    return scString(text);
}

struct nestedBlocks {
    scriptcontext root;
    std::vector<std::unique_ptr<codecontext>> blocks;
    explicit nestedBlocks(int depth) {
        codecontext* outer = &root;
        for (int d = 0; d < depth; ++d) {
            blocks.push_back(std::make_unique<codecontext>(outer));
            outer = blocks.back().get();
            for (int k = 0; k < 4; ++k)
                outer->createVariable(nameOf(d, k), genericValue::of(k));
        }
        root.setParameter(scString(u"param"), genericValue::of(1));
    }
    codecontext& inner() { return blocks.empty() ? static_cast<codecontext&>(root) : *blocks.back(); }
};

void LookupLocal(benchmark::State& state) {
    nestedBlocks ctx(static_cast<int>(state.range(0)));
    scString name = nameOf(static_cast<int>(state.range(0)) - 1, 3);
    for (auto _ : state) benchmark::DoNotOptimize(ctx.inner().variableAddress(name));
}
BENCHMARK(LookupLocal)->Arg(1)->Arg(4);

// A name of the outermost block, searched from the innermost.
void LookupOuter(benchmark::State& state) {
    nestedBlocks ctx(static_cast<int>(state.range(0)));
    scString name(u"va3");
    for (auto _ : state) benchmark::DoNotOptimize(ctx.inner().variableAddress(name));
}
BENCHMARK(LookupOuter)->Arg(4);

void LookupParameter(benchmark::State& state) {
    nestedBlocks ctx(static_cast<int>(state.range(0)));
    scString name(u"param");
    for (auto _ : state) benchmark::DoNotOptimize(ctx.inner().variableAddress(name));
}
BENCHMARK(LookupParameter)->Arg(1)->Arg(4);

// Building a name key from text (what a statement would pay if it did not keep its key).
void InternName(benchmark::State& state) {
    zt::string text(u"counter");
    for (auto _ : state) benchmark::DoNotOptimize(scString(text));
}
BENCHMARK(InternName);

// ---------------------------------------------------------------------------------------------
// Statement dispatch: one parsed statement run through statement::exec in a block that holds
// the variables i (int) and sum (double).

void runStatement(benchmark::State& state, const char16_t* text) {
    scriptcontext root;
    codecontext block(&root);
    block.createVariable(scString(u"i"), genericValue::of(1));
    block.createVariable(scString(u"sum"), genericValue::of(0.0));
    block.createVariable(scString(u"s"), genericValue::of(zt::string(u"item")));
    statementPtr st = parse(text);
    if (!st) {
        state.SkipWithError("parse failed");
        return;
    }
    for (auto _ : state) {
        genericValue result;
        st->exec(block, result);
        benchmark::DoNotOptimize(result);
    }
}

void ExecGetvar(benchmark::State& state) { runStatement(state, u"getvar(i)"); }
BENCHMARK(ExecGetvar);
void ExecAddConstants(benchmark::State& state) { runStatement(state, u"add<int>(\"2\", \"3\")"); }
BENCHMARK(ExecAddConstants);
void ExecAddVariable(benchmark::State& state) { runStatement(state, u"add<int>(i, \"1\")"); }
BENCHMARK(ExecAddVariable);
void ExecCompare(benchmark::State& state) { runStatement(state, u"issmallerorequal<int>(i, \"10\")"); }
BENCHMARK(ExecCompare);
void ExecSetvarAdd(benchmark::State& state) { runStatement(state, u"setvar(i, add<int>(\"1\", \"0\"))"); }
BENCHMARK(ExecSetvarAdd);
void ExecSumStep(benchmark::State& state) { runStatement(state, u"setvar(sum, add<double>(\"0\", i))"); }
BENCHMARK(ExecSumStep);
void ExecStrcatStrlen(benchmark::State& state) { runStatement(state, u"strlen(strcat(\"item\", i))"); }
BENCHMARK(ExecStrcatStrlen);
// A block of two statements: opens a block context per run.
void ExecBlock(benchmark::State& state) {
    runStatement(state, u"{ setvar(sum, add<double>(\"0\", i)); setvar(i, add<int>(\"1\", \"0\")) }");
}
BENCHMARK(ExecBlock);
// A loop of 100 rounds per run (the loop workload in small).
void ExecWhile100(benchmark::State& state) {
    runStatement(state, u"{ setvar(i, \"1\"); while(issmallerorequal<int>(i, \"100\"), { setvar(sum, add<double>(sum, i)); "
                        u"setvar(i, add<int>(i, \"1\")) }) }");
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(ExecWhile100);

// ---------------------------------------------------------------------------------------------
// Parsing one statement line.

void ParseStatement(benchmark::State& state) {
    zt::string text(u"while(issmallerorequal<int>(i, limit), { setvar(sum, add<double>(sum, i)); setvar(i, add<int>(i, \"1\")) })");
    for (auto _ : state) {
        statementPtr st(statement::createFrom(text, 0));
        benchmark::DoNotOptimize(st.get());
    }
}
BENCHMARK(ParseStatement);

// ---------------------------------------------------------------------------------------------
// One host call of a cached one-statement function through codeManager::executeFunction.

void HostCall(benchmark::State& state) {
    char dirTemplate[] = "/tmp/ztbenchXXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string file = std::string(dir) + "/hostcall.ztscr";
    std::ofstream(file) << "scrdef inc(in<int> x)\n  return(add<int>(x, \"1\"))\n";
    zt::string base = zt::string::fromUtf8(dir) + u"/";
    zt::string call(u"script$hostcall$inc");
    auto* manager = zt::script::codeManager::instance();
    scriptcontext context;
    int x = 0;
    for (auto _ : state) {
        std::vector<genericValue> args{genericValue::of(x)};
        genericValue result;
        manager->executeFunction(base, call, context, args, result);
        result.get(x);
    }
    if (x != static_cast<int>(state.iterations())) state.SkipWithError("wrong result");
    std::remove(file.c_str());
    rmdir(dir);
}
BENCHMARK(HostCall);

// ---------------------------------------------------------------------------------------------
// Maps: the container behind a script's map<int> alone (keys 1..N inserted, then each found),
// the floor under the map workload of compare.sh; its time per item is per key.

void MapOfValuesInsertFind(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::map<int, genericValue> m;
        for (int i = 1; i <= n; ++i) m.insert_or_assign(i, genericValue::of(i));
        double sum = 0;
        for (int i = 1; i <= n; ++i) {
            int v = 0;
            m.find(i)->second.get(v);
            sum += v;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(MapOfValuesInsertFind)->Arg(500000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
