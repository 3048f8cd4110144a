// SDK proxy under concurrent use: the simulator thread, re-entrant callbacks, Close racing calls
// and exposures, and several devices driven in parallel. Meant to run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "cztveroveproxy.h"
#include "fake_atcore_control.h"
#include "zthost/zthost.h"

namespace {

constexpr int kSim = CZtVeroveProxy::SimulatorIndex;

CZtVeroveProxy& Proxy() {
    return CZtVeroveProxy::Instance();
}

// Counts exposure ends per handle. The callback re-enters the proxy on the handle it is called
// for, as the driver does.
struct SEnds {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, int> ends;
    std::atomic<int> failedReads{0};
    std::atomic<int> calls{0};
};

SEnds& Ends() {
    static SEnds ends;
    return ends;
}

void CountEnd(int handle, const wchar_t* feature) {
    ++Ends().calls;
    bool exposing = true;
    int width = 0;
    if (Proxy().GetBool(handle, L"IsExposing", &exposing) != 0 ||
        Proxy().GetInt32(handle, L"SensorWidth", &width) != 0) {
        ++Ends().failedReads;
        return;
    }
    if (!exposing) {
        std::lock_guard<std::mutex> lock(Ends().mutex);
        ++Ends().ends[handle];
        Ends().changed.notify_all();
    }
}

int EndsOf(int handle) {
    std::lock_guard<std::mutex> lock(Ends().mutex);
    return Ends().ends[handle];
}

bool WaitForEnds(int handle, int count) {
    std::unique_lock<std::mutex> lock(Ends().mutex);
    return Ends().changed.wait_for(lock, std::chrono::seconds(60),
                                   [&] { return Ends().ends[handle] >= count; });
}

class VeroveProxyThreads : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::SetDetailLogging(false);
        zthost::SetSearchFolders({CZtStringW::FromUtf8(VEROVE_FAKE_SDK_DIR).Str()});
        fake_atcore::Reset();
        std::lock_guard<std::mutex> lock(Ends().mutex);
        Ends().ends.clear();
        Ends().failedReads = 0;
        Ends().calls = 0;
    }
    void TearDown() override {
        EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 0);
        EXPECT_FALSE(fake_atcore::IsInitialised());
    }
};

TEST_F(VeroveProxyThreads, SimulatorCallbacksReenterWhileOthersCall) {
    int handle = 0;
    ASSERT_EQ(Proxy().Open(kSim, &handle), 0);
    ASSERT_EQ(Proxy().SetFeatureCallback(handle, CountEnd), 0);
    ASSERT_EQ(Proxy().SetTriggerMode(handle, L"InternalExpose"), 0);
    ASSERT_EQ(Proxy().SetExposureTime(handle, 0.002), 0);

    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread reader([&] {
        while (!done) {
            bool exposing = false;
            int value = 0;
            if (Proxy().IsExposing(handle, &exposing) != 0 ||
                Proxy().SetInt32(handle, L"FrameIndex", 5) != 0 ||
                Proxy().GetInt32(handle, L"FrameIndex", &value) != 0 || value != 5) {
                ++failures;
            }
        }
    });
    constexpr int kExposures = 40;
    for (int i = 1; i <= kExposures; ++i) {
        ASSERT_EQ(Proxy().Expose(handle), 0);
        ASSERT_TRUE(WaitForEnds(handle, i)) << "exposure " << i << " never ended";
    }
    done = true;
    reader.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Ends().failedReads, 0);
    Proxy().SetExposureTime(handle, 0.0);
    EXPECT_EQ(Proxy().Close(handle), 0);
}

TEST_F(VeroveProxyThreads, AbortRacingTheSimulatorTimerLeavesTheUnitIdle) {
    int handle = 0;
    ASSERT_EQ(Proxy().Open(kSim, &handle), 0);
    ASSERT_EQ(Proxy().SetFeatureCallback(handle, CountEnd), 0);
    ASSERT_EQ(Proxy().SetTriggerMode(handle, L"InternalExpose"), 0);
    ASSERT_EQ(Proxy().SetExposureTime(handle, 0.001), 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                Proxy().Expose(handle);
                Proxy().Abort(handle);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_EQ(Proxy().Abort(handle), 0);
    bool exposing = true;
    ASSERT_EQ(Proxy().IsExposing(handle, &exposing), 0);
    EXPECT_FALSE(exposing);
    EXPECT_EQ(Ends().failedReads, 0);
    Proxy().SetExposureTime(handle, 0.0);
    EXPECT_EQ(Proxy().Close(handle), 0);
}

TEST_F(VeroveProxyThreads, CloseWhileTheSimulatorIsExposing) {
    for (int i = 0; i < 30; ++i) {
        int handle = 0;
        ASSERT_EQ(Proxy().Open(kSim, &handle), 0);
        ASSERT_EQ(Proxy().SetFeatureCallback(handle, CountEnd), 0);
        ASSERT_EQ(Proxy().SetExposureTime(handle, (i % 3) * 0.001), 0);
        ASSERT_EQ(Proxy().Expose(handle), 0);
        if (i % 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(Proxy().Close(handle), 0);
    }
    // Whatever the thread managed before Close: the unit reopens and still times exposures.
    int handle = 0;
    ASSERT_EQ(Proxy().Open(kSim, &handle), 0);
    ASSERT_EQ(Proxy().Abort(handle), 0);
    const int before = EndsOf(kSim);
    ASSERT_EQ(Proxy().Expose(handle), 0);
    EXPECT_TRUE(WaitForEnds(kSim, before + 1));
    Proxy().SetExposureTime(handle, 0.0);
    EXPECT_EQ(Proxy().Close(handle), 0);
}

TEST_F(VeroveProxyThreads, CloseRacingCallsOnTheSameHandle) {
    fake_atcore::SetDelay("AT_GetInt", 2);
    for (int round = 0; round < 5; ++round) {
        int handle = 0;
        ASSERT_EQ(Proxy().Open(0, &handle), 0);
        std::atomic<bool> closed{false};
        std::thread caller([&] {
            while (!closed) {
                int width = 0;
                Proxy().GetInt32(handle, L"SensorWidth", &width);
            }
            int width = 0;
            // After Close the handle is gone in the SDK: a plain failure, no crash.
            EXPECT_EQ(Proxy().GetInt32(handle, L"SensorWidth", &width), -1);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(Proxy().Close(handle), 0);
        closed = true;
        caller.join();
    }
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL_DEV_0"), 0);
}

// The SDK's Close waits for its callback under way, as a library ending its threads does; that
// callback reads the handle again and again until the proxy turns it away. Before Close turned
// waiting callers away, the read waited for the handle's lock, which Close holds around AT_Close:
// neither ever returned.
std::atomic<bool> g_callbackStarted{false};
std::atomic<int> g_readsWhileOpen{0};
std::atomic<int> g_readsAfterClose{0};

void ReadUntilTurnedAway(int handle, const wchar_t* feature) {
    if (std::wcscmp(feature, L"IsExposing") != 0 || g_callbackStarted.exchange(true)) {
        return;
    }
    bool exposing = false;
    while (Proxy().GetBool(handle, L"IsExposing", &exposing) == 0) {
        ++g_readsWhileOpen;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ++g_readsAfterClose;
}

TEST_F(VeroveProxyThreads, CloseNeverWaitsForACallbackWaitingForTheHandle) {
    for (int round = 0; round < 5; ++round) {
        g_callbackStarted = false;
        g_readsWhileOpen = 0;
        g_readsAfterClose = 0;
        int handle = 0;
        ASSERT_EQ(Proxy().Open(0, &handle), 0);
        ASSERT_EQ(Proxy().SetFeatureCallback(handle, ReadUntilTurnedAway), 0);
        int size = 0;
        ASSERT_EQ(Proxy().SetPixelEncoding(handle, L"Mono1Packed"), 0);
        ASSERT_EQ(Proxy().GetImageSizeBytes(handle, &size), 0);
        std::vector<unsigned char> buffer(static_cast<size_t>(size));
        ASSERT_EQ(Proxy().SetBuffer(handle, buffer.data(), size), 0);
        ASSERT_EQ(Proxy().SetTriggerMode(handle, L"InternalSoftware"), 0);
        ASSERT_EQ(Proxy().Expose(handle), 0);
        while (g_readsWhileOpen.load() == 0) {
            std::this_thread::yield();
        }
        EXPECT_EQ(Proxy().Close(handle), 0);
        EXPECT_EQ(g_readsAfterClose.load(), 1) << "the SDK waited for its callback";
        EXPECT_EQ(fake_atcore::OpenDeviceCount(), 0);
    }
}

TEST_F(VeroveProxyThreads, CallsAfterCloseNeverReachTheSdk) {
    int handle = 0;
    ASSERT_EQ(Proxy().Open(0, &handle), 0);
    ASSERT_EQ(Proxy().SetFeatureCallback(handle, CountEnd), 0);
    ASSERT_EQ(Proxy().Close(handle), 0);
    fake_atcore::ClearCalls();
    // A late report of the SDK and a late caller: both fail without a word to the SDK.
    CZtVeroveProxy::Callback(handle, L"IsExposing", nullptr);
    EXPECT_EQ(Ends().failedReads, 1);
    bool exposing = false;
    EXPECT_EQ(Proxy().GetBool(handle, L"IsExposing", &exposing), -1);
    EXPECT_EQ(Proxy().Command(handle, L"Expose"), -1);
    EXPECT_TRUE(fake_atcore::Calls().empty());

    // The index opens again under the same handle, which works as before.
    int again = 0;
    ASSERT_EQ(Proxy().Open(0, &again), 0);
    ASSERT_EQ(again, handle);
    int width = 0;
    EXPECT_EQ(Proxy().GetInt32(again, L"SensorWidth", &width), 0);
    EXPECT_EQ(width, 800);
    EXPECT_EQ(Proxy().Close(again), 0);
}

// The SDK sees the calls on one handle one after the other: each starts after the one before has
// returned, whichever thread makes it. Two threads and a slow call make any overlap likely the
// moment the handle's lock is missing.
TEST_F(VeroveProxyThreads, CallsOnOneHandleNeverOverlapAtTheSdk) {
    int handle = 0;
    ASSERT_EQ(Proxy().Open(0, &handle), 0);
    fake_atcore::SetDelay("AT_GetInt", 1);
    fake_atcore::SetDelay("AT_SetInt", 1);
    fake_atcore::ClearCalls();
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([handle, t] {
            for (int i = 0; i < 30; ++i) {
                int value = 0;
                Proxy().SetInt32(handle, L"FrameCycleCount", t * 100 + i);
                Proxy().GetInt32(handle, L"FrameCycleCount", &value);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<fake_atcore::CallRecord> calls = fake_atcore::Calls();
    std::erase_if(calls,
                  [handle](const fake_atcore::CallRecord& call) { return call.handle != handle; });
    ASSERT_EQ(calls.size(), 120u);
    std::sort(calls.begin(), calls.end(),
              [](const auto& a, const auto& b) { return a.startMs < b.startMs; });
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GE(calls[i].startMs, calls[i - 1].timeMs) << "call " << i << " overlaps";
    }
    fake_atcore::SetDelay("AT_GetInt", 0);
    fake_atcore::SetDelay("AT_SetInt", 0);
    EXPECT_EQ(Proxy().Close(handle), 0);
}

TEST_F(VeroveProxyThreads, DevicesRunInParallel) {
    fake_atcore::SetDeviceCount(2);
    int handles[3] = {};
    ASSERT_EQ(Proxy().Open(0, &handles[0]), 0);
    ASSERT_EQ(Proxy().Open(1, &handles[1]), 0);
    ASSERT_EQ(Proxy().Open(kSim, &handles[2]), 0);
    ASSERT_NE(handles[0], handles[1]);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 1);

    std::vector<std::vector<unsigned char>> buffers(2);
    for (int d = 0; d < 3; ++d) {
        ASSERT_EQ(Proxy().SetFeatureCallback(handles[d], CountEnd), 0);
        ASSERT_EQ(Proxy().SetTriggerMode(handles[d], L"InternalExpose"), 0);
        ASSERT_EQ(Proxy().SetExposureTime(handles[d], 0.002), 0);
        if (d < 2) {
            int size = 0;
            ASSERT_EQ(Proxy().SetPixelEncoding(handles[d], L"Mono1Packed"), 0);
            ASSERT_EQ(Proxy().GetImageSizeBytes(handles[d], &size), 0);
            buffers[d].assign(size, static_cast<unsigned char>(d ? 0xF0 : 0x0F));
            ASSERT_EQ(Proxy().SetBuffer(handles[d], buffers[d].data(), size), 0);
        }
    }
    constexpr int kExposures = 15;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int d = 0; d < 3; ++d) {
        threads.emplace_back([&, d] {
            const int handle = handles[d];
            for (int i = 1; i <= kExposures; ++i) {
                int index = -1;
                if (Proxy().SetInt32(handle, L"FrameCycleCount", i) != 0 ||
                    Proxy().GetInt32(handle, L"FrameCycleCount", &index) != 0 || index != i ||
                    Proxy().Expose(handle) != 0 || !WaitForEnds(handle, i)) {
                    ++failures;
                    return;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Ends().failedReads, 0);
    for (const int handle : handles) {
        EXPECT_GE(EndsOf(handle), kExposures) << handle;
    }
    Proxy().SetExposureTime(handles[2], 0.0);
    for (const int handle : handles) {
        EXPECT_EQ(Proxy().Close(handle), 0);
    }
    EXPECT_EQ(fake_atcore::OpenDeviceCount(), 0);
}

TEST_F(VeroveProxyThreads, ConcurrentUsersShareOneInitialisation) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                if (Proxy().InitialiseLibrary(false) != 0) {
                    ++failures;
                    continue;
                }
                int count = 0;
                if (Proxy().GetDeviceCount(&count) != 0 || count != 1) {
                    ++failures;
                }
                Proxy().FinaliseLibrary();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    int initialisations = 0, finalisations = 0;
    for (const fake_atcore::CallRecord& call : fake_atcore::Calls()) {
        initialisations += call.function == "AT_InitialiseLibrary";
        finalisations += call.function == "AT_FinaliseLibrary";
    }
    EXPECT_GE(initialisations, 1);
    EXPECT_EQ(initialisations, finalisations);
}

}  // namespace
