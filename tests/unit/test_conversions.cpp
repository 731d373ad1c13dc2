// The type conversion manager seen from several threads: what one thread registers or removes
// holds for every other thread at once, also for threads that converted the pair before.
#include <ztutils.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

struct celsius {
    double degrees = 0;
};
struct kelvin {
    double degrees = 0;
};

bool toKelvin(kelvin& k, const celsius& c) {
    k.degrees = c.degrees + 273.15;
    return true;
}
bool toKelvinRoughly(kelvin& k, const celsius& c) {
    k.degrees = c.degrees + 273;
    return true;
}

// Runs steps one after the other, alternating between the test's thread and another one.
class turns {
public:
    void waitFor(int turn) {
        std::unique_lock lock(mMutex);
        mCv.wait(lock, [&] { return mTurn == turn; });
    }
    void pass(int turn) {
        {
            std::lock_guard lock(mMutex);
            mTurn = turn;
        }
        mCv.notify_all();
    }

private:
    std::mutex mMutex;
    std::condition_variable mCv;
    int mTurn = 0;
};

TEST(Conversions, ARemovedConverterIsGoneForAThreadThatUsedIt) {
    static const zt::typeconvert::typeConverter<celsius, kelvin> exact(&toKelvin);
    static const zt::typeconvert::typeConverter<celsius, kelvin> rough(&toKelvinRoughly);
    auto& manager = zt::typeConversionManager::instance();
    manager.add(&exact);

    turns turn;
    bool first = false, afterForeignRemove = false, afterRemove = true, canAfterRemove = true;
    double firstDegrees = 0, foreignDegrees = 0;
    std::thread other([&] {
        const celsius warm{20};
        kelvin k;
        first = manager.convert(typeid(kelvin), &k, typeid(celsius), &warm, 0, nullptr);
        firstDegrees = k.degrees;
        turn.pass(1);
        turn.waitFor(2);
        kelvin again;
        afterForeignRemove = manager.convert(typeid(kelvin), &again, typeid(celsius), &warm, 0, nullptr);
        foreignDegrees = again.degrees;
        turn.pass(3);
        turn.waitFor(4);
        kelvin last;
        afterRemove = manager.convert(typeid(kelvin), &last, typeid(celsius), &warm, 0, nullptr);
        canAfterRemove = manager.canConvert(typeid(kelvin), typeid(celsius));
    });
    turn.waitFor(1);
    manager.remove(&rough); // not the registered one: changes nothing
    turn.pass(2);
    turn.waitFor(3);
    manager.remove(&exact);
    EXPECT_EQ(manager.converter(typeid(kelvin), typeid(celsius)), nullptr);
    turn.pass(4);
    other.join();

    EXPECT_TRUE(first);
    EXPECT_DOUBLE_EQ(firstDegrees, 293.15);
    EXPECT_TRUE(afterForeignRemove);
    EXPECT_DOUBLE_EQ(foreignDegrees, 293.15);
    EXPECT_FALSE(afterRemove) << "the other thread still converts with the removed converter";
    EXPECT_FALSE(canAfterRemove);
}

} // namespace
