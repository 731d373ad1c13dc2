// The execution budget: the limits of the call running on a thread (steps, time, memory,
// cancellation), counted down by every statement. The code manager puts a call's limits in
// force with budgetScope; statement execution (execution.cpp) counts the steps.
#pragma once

#include <ztthread.h>

#include "ztscript.h"

#include <ztlog.h>
#include <ztsystem.h>

#include <chrono>
#include <cstdint>
#include <optional>

namespace zt::script::core {

// The execution limits of the call running on this thread, counted down by every statement.
// Limits of a call made inside another limited call hold in addition to the outer ones.
class executionBudget {
public:
    explicit executionBudget(const executionLimits& limits, executionBudget* outer)
        : mLimits(limits), mpOuter(outer), mHeapAtStart(limits.maxMemory ? zt::heapInUse() : 0) {}

    // Counts one statement against the limits (and those of the outer calls). Only calls with
    // limits get here: kept out of the callers, so that the test of gBudget stays all they do.
    [[gnu::noinline]] void step() {
        if (mTripped) throw executionLimitException(*mTripped, amountOf(*mTripped));
        ++mSteps;
        if (mLimits.maxSteps != 0 && mSteps > mLimits.maxSteps) trip(executionLimitException::limit::steps);
        if (mLimits.cancel && mLimits.cancel->load(std::memory_order_relaxed))
            trip(executionLimitException::limit::cancelled);
        // Reading the clock costs more than a statement: look every 64 statements.
        if (mLimits.deadline && (mSteps & 63u) == 1u && std::chrono::steady_clock::now() >= *mLimits.deadline)
            trip(executionLimitException::limit::time);
        // The heap's size is cheap to read and can double in one statement: look every time.
        if (mLimits.maxMemory != 0 && zt::heapInUse() > mHeapAtStart + mLimits.maxMemory)
            trip(executionLimitException::limit::memory);
        if (mpOuter) mpOuter->step();
    }

private:
    std::uint64_t amountOf(executionLimitException::limit which) const {
        return which == executionLimitException::limit::memory ? mLimits.maxMemory : mLimits.maxSteps;
    }
    [[noreturn]] void trip(executionLimitException::limit which) {
        mTripped = which;
        throw executionLimitException(which, amountOf(which));
    }

    executionLimits mLimits;
    executionBudget* mpOuter;
    std::uint64_t mSteps = 0;
    std::uint64_t mHeapAtStart;
    std::optional<executionLimitException::limit> mTripped;
};

// The budget of the call running on this thread; null while no limit is set (defined in
// execution.cpp).
extern constinit ZT_FAST_TLS thread_local executionBudget* gBudget;

// Whether a step is only its statement's work: no limit to count against and no trace to write.
inline bool plainSteps() {
    return !gBudget && zt::gLogLevel.load(std::memory_order_relaxed) > static_cast<int>(zt::logLevel::trace);
}

// Puts a call's limits in force on this thread for as long as the call runs.
class budgetScope {
public:
    explicit budgetScope(const executionLimits& limits) {
        if (!limits.limitsAnything()) return;
        mBudget.emplace(limits, gBudget);
        mpPrevious = gBudget;
        gBudget = &*mBudget;
    }
    ~budgetScope() {
        if (mBudget) gBudget = mpPrevious;
    }
    budgetScope(const budgetScope&) = delete;
    budgetScope& operator=(const budgetScope&) = delete;

private:
    std::optional<executionBudget> mBudget;
    executionBudget* mpPrevious = nullptr;
};

} // namespace zt::script::core
