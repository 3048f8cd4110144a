// The device under threads on the SDK path: rounds of connecting, showing patterns and changing
// the depth on the main thread while a work thread stimulates and the SDK reports every change of
// the exposure on its own thread, then disconnecting, also in the middle of a stimulation. Meant
// to run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <cstdint>
#include <thread>

#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "verove_device.h"
#include "zt/zt_roi.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

constexpr int kRounds = 30;

class StimulationThreads : public ::testing::Test {
protected:
    void SetUp() override { ResetSmallDmdHost(m_dir); }

    void TearDown() override {
        zthost::ResetForTests();
        VerovePluginState().hostContext = nullptr;
    }

    QTemporaryDir m_dir;
};

TEST_F(StimulationThreads, ConnectStimulateAndDisconnectInRounds) {
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        DevicePtr device(new CZtStimulationDeviceVerove());
        device->SetUniqueName(L"CZtStimulationDeviceVerove_0");
        ASSERT_TRUE(device->Connect(true, 0, 0));
        ASSERT_EQ(SetSmallDmdAreas(device.get()), 0);

        std::atomic<bool> stop{false};
        std::atomic<int> stimulations{0};
        std::atomic<int> refusals{0};
        std::thread work([&] {
            for (int i = 0; !stop; ++i) {
                SZtStimulationRequest request;
                request.runMode = 1;
                request.durationMs = 1.0;
                request.groupMask = std::uint64_t{1} << (i % 3);
                const int begun = device->StimulationBegin(&request);
                // Without a driver (disconnected meanwhile) or while a depth change re-renders
                // the group patterns a stimulation is refused; nothing else may answer.
                if (begun == 0) {
                    ++stimulations;
                } else if (begun == -12 || begun == -9) {
                    ++refusals;
                } else {
                    ADD_FAILURE() << "StimulationBegin answered " << begun;
                }
                double start = 0.0;
                double end = 0.0;
                EXPECT_EQ(device->StimulationEnd(&start, &end, 1), 0);
            }
        });
        for (int i = 0; i < 6; ++i) {
            device->SetActivePatternId(static_cast<ZT_DWORD>(i % 3));
            if (round % 3 == 1) {
                device->SetBitDepth(i % 2 ? 4 : 1, false);
                SetSmallDmdAreas(device.get());
            }
        }
        // Every other round disconnects while the work thread is still stimulating.
        if (round % 2 == 0) {
            while (stimulations.load() < 3) {
                std::this_thread::yield();
            }
            stop = true;
            work.join();
            EXPECT_TRUE(device->Connect(false, 0, -1));
        } else {
            EXPECT_TRUE(device->Connect(false, 0, -1));
            stop = true;
            work.join();
        }
        EXPECT_EQ(fake_atcore::OpenDeviceCount(), 0);
        EXPECT_FALSE(fake_atcore::IsInitialised());
        EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 0);
        EXPECT_FALSE(fake_atcore::ShownFrame().exposing) << "the mirrors stay dark";
    }
}

}  // namespace
