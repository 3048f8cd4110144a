// Synchronisation primitives: events, semaphores and the recursive critical section.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "zt/zt_sync.h"

namespace {

// Long enough that a correct implementation never times out on a loaded machine.
constexpr ZT_DWORD kGenerous = 10000;
// Short: used only where the wait must time out.
constexpr ZT_DWORD kShort = 50;

TEST(ZtEvent, InitialStateAndResetModes) {
    CZtEvent off(true, false);
    EXPECT_EQ(off.Wait(kShort), ZT_WAIT_TIMEOUT);
    EXPECT_EQ(off.Wait(0), 258u);
    CZtEvent autoOn(false, true);
    EXPECT_EQ(autoOn.Wait(0), ZT_WAIT_OBJECT_0);
    EXPECT_EQ(autoOn.Wait(0), ZT_WAIT_TIMEOUT);
    // Manual reset stays signalled until reset; auto reset is a flag, not a counter.
    CZtEvent manual(true, false);
    manual.Set();
    EXPECT_EQ(manual.Wait(0), ZT_WAIT_OBJECT_0);
    EXPECT_EQ(manual.Wait(0), ZT_WAIT_OBJECT_0);
    manual.Reset();
    EXPECT_EQ(manual.Wait(0), ZT_WAIT_TIMEOUT);
    autoOn.Set();
    autoOn.Set();
    EXPECT_EQ(autoOn.Wait(0), ZT_WAIT_OBJECT_0);
    EXPECT_EQ(autoOn.Wait(0), ZT_WAIT_TIMEOUT);
}

TEST(ZtEvent, AutoResetReleasesExactlyOneWaiterPerSet) {
    CZtEvent event(false, false);
    CZtEvent done(false, false);
    std::atomic<int> released{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            event.Wait();
            ++released;
            done.Set();
        });
    }
    for (int expected = 1; expected <= 4; ++expected) {
        event.Set();
        ASSERT_EQ(done.Wait(kGenerous), ZT_WAIT_OBJECT_0);
        // The event reset itself when it let one waiter through: no other is released.
        EXPECT_EQ(event.Wait(0), ZT_WAIT_TIMEOUT);
        EXPECT_EQ(released, expected);
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

TEST(ZtEvent, NamedEventsShareOneObjectPerName) {
    CZtEvent first(true, false, L"ZtEventTest.Shared");
    CZtEvent second(false, true, L"ZtEventTest.Shared");  // opens the existing event
    CZtEvent other(true, false, L"ZtEventTest.Other");
    EXPECT_TRUE(first.IsNamed());
    EXPECT_EQ(second.Wait(0), ZT_WAIT_TIMEOUT);  // the existing state, not the initial one
    first.Set();
    EXPECT_EQ(second.Wait(0), ZT_WAIT_OBJECT_0);
    EXPECT_EQ(second.Wait(0), ZT_WAIT_OBJECT_0);  // manual reset, as first created it
    EXPECT_EQ(other.Wait(0), ZT_WAIT_TIMEOUT);
    second.Reset();
    EXPECT_EQ(first.Wait(0), ZT_WAIT_TIMEOUT);

    std::thread setter([] { CZtEvent(true, false, L"ZtEventTest.Shared").Set(); });
    EXPECT_EQ(first.Wait(kGenerous), ZT_WAIT_OBJECT_0);
    setter.join();
}

TEST(ZtSemaphore, CountsAndRefusesBeyondMaximum) {
    CZtSemaphore semaphore(1, 2);
    long previous = -1;
    EXPECT_TRUE(semaphore.Release(1, &previous));
    EXPECT_EQ(previous, 1);
    previous = -1;
    EXPECT_FALSE(semaphore.Release(1, &previous));  // would be 3 > 2
    EXPECT_EQ(previous, -1);
    EXPECT_FALSE(semaphore.Release(0));
    EXPECT_EQ(semaphore.Wait(0), ZT_WAIT_OBJECT_0);
    EXPECT_EQ(semaphore.Wait(0), ZT_WAIT_OBJECT_0);
    EXPECT_EQ(semaphore.Wait(kShort), ZT_WAIT_TIMEOUT);
    EXPECT_FALSE(semaphore.Release(3));
    EXPECT_TRUE(semaphore.Release(2, &previous));
    EXPECT_EQ(previous, 0);
}

TEST(CriticalSection, OwnerReentersOtherThreadsAreKeptOut) {
    CZtCriticalSection section;
    section.Enter();
    section.Enter();
    bool otherGotIn = true;
    std::thread([&] { otherGotIn = section.TryEnter(); }).join();
    EXPECT_FALSE(otherGotIn);
    section.Leave();
    std::thread([&] { otherGotIn = section.TryEnter(); }).join();
    EXPECT_FALSE(otherGotIn);  // still held once
    section.Leave();

    std::atomic<bool> entered{false};
    section.Enter();
    std::thread other([&] {
        CZtLock lock(section);  // blocks until the owner leaves
        entered = true;
    });
    EXPECT_FALSE(entered);
    section.Leave();
    other.join();
    EXPECT_TRUE(entered);
}

}  // namespace
