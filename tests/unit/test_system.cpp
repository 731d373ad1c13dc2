// Loggers, sleeping and thread ids.
#include "ztlog.h"
#include "ztsystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// The level in force when this module was loaded, before any test changed it.
const zt::logLevel gLevelAtStartUp = zt::logManager::level();

// Restores the process-wide level when a test is done.
class levelGuard {
public:
    levelGuard() : mSaved(zt::logManager::level()) {}
    ~levelGuard() { zt::logManager::setLevel(mSaved); }

private:
    zt::logLevel mSaved;
};

} // namespace

TEST(Log, LevelComesFromTheEnvironment) {
    const char* value = std::getenv("ZTSCRIPT_LOG");
    const zt::logLevel expected = value ? zt::logManager::parseLevel(zt::string::fromUtf8(value)) : zt::logLevel::off;
    EXPECT_EQ(gLevelAtStartUp, expected);
}

TEST(Log, ParseLevel) {
    EXPECT_EQ(zt::logManager::parseLevel(u"trace"), zt::logLevel::trace);
    EXPECT_EQ(zt::logManager::parseLevel(u"DEBUG"), zt::logLevel::debug);
    EXPECT_EQ(zt::logManager::parseLevel(u" Info "), zt::logLevel::info);
    EXPECT_EQ(zt::logManager::parseLevel(u"warn"), zt::logLevel::warn);
    EXPECT_EQ(zt::logManager::parseLevel(u"warning"), zt::logLevel::warn);
    EXPECT_EQ(zt::logManager::parseLevel(u"error"), zt::logLevel::error);
    EXPECT_EQ(zt::logManager::parseLevel(u"off"), zt::logLevel::off);
    EXPECT_EQ(zt::logManager::parseLevel(u"verbose"), zt::logLevel::off);
    EXPECT_EQ(zt::logManager::parseLevel(u""), zt::logLevel::off);
    EXPECT_EQ(zt::logManager::parseLevel(u"tr\u00E4ce"), zt::logLevel::off);
}

TEST(Log, SetLevelControlsIsEnabled) {
    levelGuard guard;
    zt::logManager::setLevel(zt::logLevel::warn);
    EXPECT_EQ(zt::logManager::level(), zt::logLevel::warn);
    zt::logger& l = zt::logManager::getLogger(u"levels");
    EXPECT_FALSE(l.isEnabled(zt::logLevel::info));
    EXPECT_TRUE(l.isEnabled(zt::logLevel::warn));
    EXPECT_TRUE(l.isEnabled(zt::logLevel::error));
    zt::logManager::setLevel(zt::logLevel::off);
    EXPECT_FALSE(l.isEnabled(zt::logLevel::error));
}

TEST(Log, LoggersAreStablePerName) {
    zt::logger& a = zt::logManager::getLogger(u"alpha");
    zt::logger& b = zt::logManager::getLogger(u"beta");
    EXPECT_NE(&a, &b);
    EXPECT_EQ(&a, &zt::logManager::getLogger(u"alpha"));
    EXPECT_EQ(a.name(), zt::string(u"alpha"));

    // Many threads asking for the same new name get the same logger.
    std::vector<zt::logger*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = &zt::logManager::getLogger(u"shared"); });
    for (auto& t : threads) t.join();
    for (zt::logger* p : seen) EXPECT_EQ(p, seen[0]);
}

TEST(Log, WritesNameTextAndPlace) {
    levelGuard guard;
    zt::logger& l = zt::logManager::getLogger(u"unit");
    zt::logManager::setLevel(zt::logLevel::info);

    testing::internal::CaptureStderr();
    l.log_info(u"value %d of %s", "here.cpp", 42, "doWork", 7, "seven");
    l.log_debug(u"hidden %d", "here.cpp", 43, "doWork", 1);
    const std::string out = testing::internal::GetCapturedStderr();

    EXPECT_NE(out.find("[unit] value 7 of seven (here.cpp:42 doWork)"), std::string::npos) << out;
    EXPECT_NE(out.find("info"), std::string::npos) << out;
    EXPECT_EQ(out.find("hidden"), std::string::npos) << out;

    zt::logManager::setLevel(zt::logLevel::off);
    testing::internal::CaptureStderr();
    l.write(zt::logLevel::error, u"silent", "f.cpp", 1, "g");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(System, SleepWaitsAtLeastTheGivenTime) {
    const auto start = std::chrono::steady_clock::now();
    zt::sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

// The coarse clock measures a wait as the steady clock around it does, to its tick (at most about
// 16 ms).
TEST(System, CoarseClockMeasuresToItsTick) {
    using namespace std::chrono_literals;
    const auto before = std::chrono::steady_clock::now();
    const auto start = zt::coarseClock::now();
    zt::sleep(60);
    const auto gone = zt::coarseClock::now() - start;
    const auto around = std::chrono::steady_clock::now() - before;
    EXPECT_GE(gone, 60ms - 20ms);
    EXPECT_LE(gone, around + 20ms);
}

TEST(System, ThreadIdsDifferBetweenThreads) {
    const std::uint64_t mine = zt::getCurrentThreadId();
    EXPECT_EQ(mine, zt::getCurrentThreadId());
    std::uint64_t other = mine;
    std::thread t([&other] { other = zt::getCurrentThreadId(); });
    t.join();
    EXPECT_NE(other, mine);
    EXPECT_NE(mine, 0u);
}
