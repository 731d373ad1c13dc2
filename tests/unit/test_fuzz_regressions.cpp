// Inputs found by the fuzz targets (fuzz/): each one once took the host down, hung it or broke
// an invariant. Every case states what a host must be able to rely on instead.
#include "testlib.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

using namespace zt::script;
using namespace std::chrono_literals;

namespace {

class FuzzRegressions : public ::testing::Test {
protected:
    // Runs function of the script text with the given limits on a thread of its own. A call
    // that does not end within 20 s is a hang that no limit stops: the process is ended, since
    // the thread cannot be stopped from outside.
    const executionLimitException* runBounded(const std::string& script, const char16_t* function,
                                              const executionLimits& limits) {
        static int serial = 0;
        const std::string file = "fuzzreg" + std::to_string(++serial);
        dir.write(file + ".ztscr", script);
        failure.reset();
        auto call = std::async(std::launch::async, [&] {
            scriptcontext context;
            context.setLimits(limits);
            try {
                testlib::callFunction(dir.path, file, zt::string(function).toUtf8(), context);
            } catch (const zt::exception& e) {
                failure.reset(e.clone());
            }
        });
        if (call.wait_for(20s) != std::future_status::ready) {
            std::fprintf(stderr, "%s: the call did not end; no execution limit stopped it\n",
                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
            std::fflush(stderr);
            std::_Exit(1);
        }
        call.get();
        const zt::exception* innermost = failure.get();
        while (innermost && innermost->inner()) innermost = innermost->inner();
        return dynamic_cast<const executionLimitException*>(innermost);
    }

    testlib::tempDir dir;
    std::unique_ptr<zt::exception> failure;
};

// while("1", x) and while("1", {}) have an empty body: they loop without executing any
// statement. The limits are checked between statements, so they never came into play and the
// call spun for ever (found by fuzz_run as a timeout).
TEST_F(FuzzRegressions, StepLimitEndsALoopWithoutBody) {
    executionLimits limits;
    limits.maxSteps = 500;
    const char* bodies[] = {"{}", "x", "\"text\""};
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        const executionLimitException* hit =
            runBounded(std::string("scrdef spin()\n  while(\"1\", ") + body + ")\n", u"spin", limits);
        ASSERT_NE(hit, nullptr) << (failure ? testlib::chainText(*failure) : std::string("no failure"));
        EXPECT_EQ(hit->which(), executionLimitException::limit::steps);
    }
}

TEST_F(FuzzRegressions, DeadlineAndCancelEndALoopWithoutBody) {
    executionLimits byTime;
    byTime.deadline = std::chrono::steady_clock::now() + 200ms;
    const executionLimitException* hit = runBounded("scrdef spin()\n  while(\"1\", {})\n", u"spin", byTime);
    ASSERT_NE(hit, nullptr) << (failure ? testlib::chainText(*failure) : std::string("no failure"));
    EXPECT_EQ(hit->which(), executionLimitException::limit::time);

    std::atomic<bool> cancel{false};
    executionLimits byFlag;
    byFlag.cancel = &cancel;
    std::thread canceller([&] {
        std::this_thread::sleep_for(100ms);
        cancel = true;
    });
    hit = runBounded("scrdef spin()\n  while(\"true\", x)\n", u"spin", byFlag);
    canceller.join();
    ASSERT_NE(hit, nullptr) << (failure ? testlib::chainText(*failure) : std::string("no failure"));
    EXPECT_EQ(hit->which(), executionLimitException::limit::cancelled);
}

// An empty body is still an empty body: a loop that ends by its condition runs as before.
TEST_F(FuzzRegressions, LoopWithoutBodyStillEndsByItsCondition) {
    executionLimits none;
    EXPECT_EQ(runBounded("scrdef once()\n  while(\"0\", {})\n", u"once", none), nullptr);
    EXPECT_FALSE(failure) << testlib::chainText(*failure);
}

} // namespace
