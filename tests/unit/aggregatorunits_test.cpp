// The aggregator over Verove devices on units of the fake SDK: what each unit's SDK sees.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "atcore.h"
#include "cztstimulationdeviceverove.h"
#include "cztveroveaggregator.h"
#include "cztverovenamemanager.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "shown_mirrors.h"
#include "verove_device.h"
#include "zt/zt_acquisition.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

namespace {

class AggregatorUnits : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(ResetSmallDmdHost(m_dir)); }

    void TearDown() override {
        if (m_aggregator) {
            m_aggregator->ReleaseDevices();
            m_aggregator->Release();
        }
        for (DevicePtr& device : m_devices) {
            device->Connect(false, 0, -1);
        }
        zthost::ResetForTests();
        m_devices.clear();
        VerovePluginState().hostContext = nullptr;
    }

    // count devices on as many units, registered and aggregated.
    void Connect(int count) {
        CZtVeroveNameManager::Instance().SetBrand(1);
        fake_atcore::SetDeviceCount(count);
        for (int i = 0; i < count; ++i) {
            fake_atcore::SetSensorSize(kSmallDmdWidth, kSmallDmdHeight, i);
            const std::wstring name = L"CZtStimulationDeviceVerove_" + std::to_wstring(i);
            m_devices.emplace_back(new CZtStimulationDeviceVerove());
            m_devices.back()->SetUniqueName(name.c_str());
            ASSERT_TRUE(m_devices.back()->Connect(true, 0, i));
            SZtStimulationDeviceRecord record;
            record.uniqueName = name;
            record.device = m_devices.back().get();
            ASSERT_EQ(CZtStimulationDeviceManager::GetInstance()->StaticDeviceAdd(record), 0);
        }
        m_aggregator = new CZtVeroveAggregator();
        ASSERT_EQ(m_aggregator->Initialize(CZtStimulationDeviceManager::GetInstance(),
                                           L"CZtStimulationDeviceVerove"),
                  -9);
        ASSERT_EQ(SetSmallDmdAreas(m_aggregator), 0);
    }

    // How many "Expose" commands unit i's SDK received.
    static int Exposes(int unit) {
        int count = 0;
        for (const fake_atcore::CallRecord& call : fake_atcore::DeviceCalls(unit)) {
            count += call.function == "AT_Command" && call.feature == L"Expose";
        }
        return count;
    }

    // The position of unit i's device among the aggregator's devices.
    int Position(int unit) {
        int position = 0;
        for (const auto& [device, groups] : *m_aggregator->GetDevices()) {
            if (device == static_cast<IZtStimulationDevice*>(m_devices[unit].get())) {
                return position;
            }
            ++position;
        }
        return -1;
    }

    static int LogCount(const std::wstring& text) {
        int count = 0;
        for (const std::wstring& line : zthost::CapturedLog()) {
            count += line.find(text) != std::wstring::npos;
        }
        return count;
    }

    QTemporaryDir m_dir;
    std::vector<DevicePtr> m_devices;
    CZtVeroveAggregator* m_aggregator = nullptr;
};

TEST_F(AggregatorUnits, EachUnitGetsTheAreasOfItsGroupsAndOnlyItsUnitExposes) {
    ASSERT_NO_FATAL_FAILURE(Connect(4));
    // Unit 3 owns no group; ROIs never reach it.
    const std::vector<int> expected = {1, 1, 1, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(m_devices[i]->StimulationAreaGetCount(), expected[i]) << i;
    }
    fake_atcore::ClearCalls();
    const SZtStimulationRequest s2{1, 0.0, 0x2};
    EXPECT_EQ(m_aggregator->StimulationBegin(&s2), 0);
    EXPECT_EQ(Exposes(1), 1);
    EXPECT_EQ(Exposes(0) + Exposes(2) + Exposes(3), 0);
    EXPECT_TRUE(fake_atcore::ShownFrame(1).exposing);
    EXPECT_EQ(m_aggregator->StimulationEnd(nullptr, nullptr, 0), 0);

    // Shown as the units it drives, whatever order the devices have in the map.
    const std::wstring shown =
        std::wstring(CZtVeroveNameManager::Instance().GetDeviceName()) + L" (1 + 2 + 3 + 4)";
    CZtStringW name;
    EXPECT_EQ(m_aggregator->GetDisplayName(&name, 0), 0);
    EXPECT_EQ(name.Str(), shown);
    EXPECT_EQ(static_cast<IZtVeroveAggregator*>(m_aggregator)->GetDisplayName(&name), 0);
    EXPECT_EQ(name.Str(), shown);
}

TEST_F(AggregatorUnits, GroupsInParallelLandOnTheirRoisThroughEachUnitsOptics) {
    ASSERT_NO_FATAL_FAILURE(Connect(2));
    // Each unit images its mirrors one to one onto the camera, through optics of its own.
    zthost::OpticsSetup optics;
    optics.dmdToSensor = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0};
    optics.blurSigma = 0.0;
    optics.shotNoise = false;
    optics.readNoise = 0.0;
    ASSERT_EQ(zthost::SetOptics(optics), 0);
    zthost::SetMirrorFrameSource(UnitMirrors(0));
    ASSERT_EQ(zthost::SetFurtherDmds({{UnitMirrors(1), optics.dmdToSensor}}), 0);

    const SZtStimulationRequest s1s2{1, 0.0, 0x3};
    ASSERT_EQ(m_aggregator->StimulationBegin(&s1s2), 0);
    CZtGrabberSample sample;
    ASSERT_EQ(sample.Capture(), 0);
    SZtPicBuf frame;
    ASSERT_EQ(sample.CopyPicture(&frame), 0);
    EXPECT_EQ(m_aggregator->StimulationEnd(nullptr, nullptr, 0), 0);

    // Lit camera pixels against the S1 and S2 masks, by group: intersection over union.
    CZtRoiObjectList areas = ThreeGroupAreas(0.2);
    SZtRLEPicBuf masks;
    ZT_RoiListToRLE(&areas, kSmallDmdWidth, kSmallDmdHeight, &masks);
    std::vector<int> inside(kSmallDmdWidth * kSmallDmdHeight, -1);
    for (int group = 0; group < 3; ++group) {
        for (const SZtRLERun& run : masks.objects[group].runs) {
            for (int x = run.x; x < run.x + run.length; ++x) {
                inside[run.y * kSmallDmdWidth + x] = group;
            }
        }
    }
    int both[3] = {}, either[3] = {};
    for (int y = 0; y < kSmallDmdHeight; ++y) {
        for (int x = 0; x < kSmallDmdWidth; ++x) {
            const bool lit = CZtPicBufAPI::GetValue(&frame, x, y) >
                             optics.offset + optics.background + optics.signal / 2;
            const int group = inside[y * kSmallDmdWidth + x];
            for (int g = 0; g < 3; ++g) {
                both[g] += lit && group == g;
                // Light outside every ROI counts against each group; inside another group's
                // ROI it is that group's.
                either[g] += group == g || (lit && group == -1);
            }
        }
    }
    EXPECT_GE(double(both[0]) / either[0], 0.95);
    EXPECT_GE(double(both[1]) / either[1], 0.95);
    EXPECT_EQ(both[2], 0);  // S3 stayed dark
}

TEST_F(AggregatorUnits, OnlyTheDeviceOfTheAskingAggregatorTakesAreasFromIt) {
    ASSERT_NO_FATAL_FAILURE(Connect(2));
    auto* stranger = new CZtVeroveAggregator();
    CZtRoiObjectList none;
    SZtRLEPicBuf masks;
    SZtGrabberFormatDesc format;
    zthost::HostContext()->GetGrabberProvider()->CameraSettingsGet(&format);
    EXPECT_EQ(
        m_devices[1]->StimulationAreaSetFor(static_cast<IZtStimulationDeviceAggregator*>(stranger),
                                            &none, &masks, nullptr, &format, nullptr),
        -9);
    EXPECT_EQ(m_devices[1]->StimulationAreaGetCount(), 1);
    stranger->Release();
}

TEST_F(AggregatorUnits, AStalledUnitTimesOutWhileTheOtherStillStimulates) {
    ASSERT_NO_FATAL_FAILURE(Connect(2));
    fake_atcore::ClearCalls();
    fake_atcore::SetDelay("AT_Command", 400, 0);
    const SZtStimulationRequest both{2, 20.0, 0x3};
    EXPECT_EQ(m_aggregator->StimulationBegin(&both), 0);
    EXPECT_TRUE(zthost::LogContains(L"Timeout while waiting on device " +
                                    std::to_wstring(Position(0)) + L"."));
    // The stalled call goes on; both procedures end, and unit 1 has exposed its group.
    for (int tries = 0; tries < 500 && LogCount(L"procedure has finished.") < 2; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(LogCount(L"procedure has finished."), 2);
    EXPECT_GE(Exposes(1), 1);
    fake_atcore::SetDelay("AT_Command", 0, 0);
    EXPECT_EQ(m_aggregator->StimulationEnd(nullptr, nullptr, 0), 0);
}

TEST_F(AggregatorUnits, AUnitThatFailsLogsItAndTheOthersGoOn) {
    ASSERT_NO_FATAL_FAILURE(Connect(2));
    fake_atcore::ClearCalls();
    fake_atcore::InjectError("AT_Command", AT_ERR_CONNECTION, 100, L"", 0);
    const SZtStimulationRequest both{1, 0.0, 0x3};
    EXPECT_EQ(m_aggregator->StimulationBegin(&both), 0);
    EXPECT_EQ(Exposes(1), 1);
    EXPECT_TRUE(fake_atcore::ShownFrame(1).exposing);
    EXPECT_TRUE(zthost::LogContains(
        L"CZtStimulationDeviceVerove::StimulationBegin: Failed to expose pattern"));
    EXPECT_EQ(m_aggregator->StimulationEnd(nullptr, nullptr, 0), 0);
    fake_atcore::ClearFaults();
}

}  // namespace
