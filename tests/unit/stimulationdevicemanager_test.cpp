// The stimulation-device manager: static devices, their references, look-ups and the active one.
#include <gtest/gtest.h>

#include <atomic>

#include "zt/zt_stimulation.h"
#include "zthost/zthost.h"

namespace {

// Thread-safe (atomic counts). A stimulation device that only counts its references.
class CountingDevice : public IZtStimulationDevice {
public:
    long AddRef() override {
        ++addRefs;
        return ++refs;
    }
    long Release() override {
        ++releases;
        return --refs;
    }
    void* QueryInterface(const char*) override { return nullptr; }

    CZtStringW GetUniqueName() override { return {}; }
    bool IsConnected() override { return true; }
    bool IsVisible() override { return true; }
    int SetActive(bool) override { return 0; }
    bool HasCapability(std::uint32_t) override { return false; }
    bool HasCapabilityNow(std::uint32_t) override { return false; }
    int GetDisplayName(CZtStringW*, int) override { return 0; }
    int Reserved07() override { return 0; }
    double Reserved08() override { return 0; }
    int Reserved09() override { return 0; }
    double Reserved10() override { return 0; }
    int Reserved11() override { return 0; }
    int StimulationAreaGetCount() override { return 0; }
    int StimulationAreaSet(const CZtRoiObjectList*, const SZtRLEPicBuf*, const SZtScanAreaDesc*,
                           const SZtGrabberFormatDesc*, const SZtRect*) override {
        return 0;
    }
    int StimulationAreaGet(CZtRoiObjectList*, SZtRLEPicBuf*, SZtScanAreaDesc*,
                           SZtGrabberFormatDesc*, SZtRect*, std::uint64_t*) override {
        return 0;
    }
    int StimulationAreaAppendAsPattern() override { return 0; }
    int StimulationAreaUpload() override { return 0; }
    bool StimulationAreaIsUpToDate() override { return true; }
    int StimulationReady() override { return 0; }
    bool StimulationIsReady() override { return true; }
    int StimulationBegin(const SZtStimulationRequest*) override { return 0; }
    int StimulationEnd(double*, double*, int) override { return 0; }
    int StimulationFire(double*, double*) override { return 0; }
    int StimulationAbort() override { return 0; }
    int StimulationROIPrepare() override { return 0; }
    int StimulationValidate(const SZtExperiment*, CZtStringW*) override { return 0; }
    IZtLaserPowerControl* GetLaserPowerControl() override { return nullptr; }

    std::atomic<long> refs{1};
    std::atomic<int> addRefs{0};
    std::atomic<int> releases{0};
};

SZtStimulationDeviceRecord Record(const wchar_t* name, IZtStimulationDevice* device) {
    SZtStimulationDeviceRecord record;
    record.uniqueName = name;
    record.libraryPath = L"/opt/plugins/q9_plugin_verove.so";
    record.device = device;
    return record;
}

class StimulationDeviceManager : public ::testing::Test {
protected:
    void SetUp() override { zthost::ResetForTests(); }
    void TearDown() override { zthost::ResetForTests(); }

    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    // Members, so they outlive the manager's references, which TearDown gives back.
    CountingDevice device, first, second, other;
};

TEST_F(StimulationDeviceManager, HoldsOneReferencePerStaticDevice) {
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->StaticDeviceAdd(Record(L"CZtStimulationDeviceVerove_0", &device)), 0);
    EXPECT_EQ(device.refs, 2);
    EXPECT_EQ(manager->GetDeviceCount(), 1);
    EXPECT_EQ(manager->GetStaticDevice(L"CZtStimulationDeviceVerove_0"), &device);
    EXPECT_EQ(device.addRefs, 1);  // look-ups lend the device, they add nothing

    EXPECT_EQ(manager->StaticDeviceRemove("CZtStimulationDeviceVerove_0"), 0);
    EXPECT_EQ(device.refs, 1);
    EXPECT_EQ(device.releases, 1);
    EXPECT_EQ(manager->GetDeviceCount(), 0);
    EXPECT_EQ(manager->GetStaticDevice(L"CZtStimulationDeviceVerove_0"), nullptr);
}

TEST_F(StimulationDeviceManager, DeviceInfoInOrderOfAdding) {
    ASSERT_EQ(manager->StaticDeviceAdd(Record(L"CZtStimulationDeviceVerove_0", &first)), 0);
    ASSERT_EQ(manager->StaticDeviceAdd(Record(L"CZtStimulationDeviceVerove_1", &second)), 0);
    SZtStimulationDeviceRecord info;
    ASSERT_EQ(manager->GetDeviceInfo(1, &info), 0);
    EXPECT_EQ(info.uniqueName, L"CZtStimulationDeviceVerove_1");
    EXPECT_EQ(info.libraryPath, L"/opt/plugins/q9_plugin_verove.so");
    EXPECT_EQ(info.typeName, L"Unknown");
    EXPECT_EQ(info.device, &second);
    EXPECT_EQ(manager->GetDeviceInfo(2, &info), -5);
    EXPECT_EQ(manager->GetDeviceInfo(-1, &info), -5);
    EXPECT_EQ(manager->GetDeviceInfo(0, nullptr), -4);
}

TEST_F(StimulationDeviceManager, RefusalsTakeNoReference) {
    EXPECT_EQ(manager->StaticDeviceAdd(Record(L"", &device)), -4);
    EXPECT_EQ(manager->StaticDeviceAdd(Record(L"Dev", nullptr)), -4);
    EXPECT_EQ(manager->StaticDeviceAdd(Record(L"Dev", &device)), 0);
    EXPECT_EQ(manager->StaticDeviceAdd(Record(L"Dev", &other)), -10);
    EXPECT_TRUE(zthost::LogContains(L"a device named \"Dev\" exists"));
    EXPECT_EQ(other.addRefs, 0);
    EXPECT_EQ(manager->StaticDeviceRemove(nullptr), -4);
    EXPECT_EQ(manager->StaticDeviceRemove("Nobody"), -5);
    EXPECT_TRUE(zthost::LogContains(L"no device named \"Nobody\""));
    EXPECT_EQ(device.releases, 0);
    EXPECT_EQ(manager->GetStaticDevice(nullptr), nullptr);
}

TEST_F(StimulationDeviceManager, ActiveDeviceIsTheChosenOrTheFirst) {
    EXPECT_EQ(manager->GetActive(), nullptr);
    manager->StaticDeviceAdd(Record(L"A", &first));
    manager->StaticDeviceAdd(Record(L"B", &second));
    EXPECT_EQ(manager->GetActive(), &first);
    EXPECT_EQ(zthost::SetActiveStimulationDevice(L"B"), 0);
    EXPECT_EQ(manager->GetActive(), &second);
    EXPECT_EQ(zthost::SetActiveStimulationDevice(L"C"), -5);
    EXPECT_EQ(manager->GetActive(), &second);
    manager->StaticDeviceRemove("B");
    EXPECT_EQ(manager->GetActive(), &first);
}

TEST_F(StimulationDeviceManager, UpdatesAreCountedAndResetReleasesDevices) {
    EXPECT_EQ(manager->Update(), 0);
    EXPECT_EQ(manager->Update(), 0);
    EXPECT_EQ(zthost::StimulationDeviceUpdateCount(), 2);
    manager->StaticDeviceAdd(Record(L"A", &device));
    zthost::ResetForTests();
    EXPECT_EQ(device.refs, 1);
    EXPECT_EQ(manager->GetDeviceCount(), 0);
    EXPECT_EQ(zthost::StimulationDeviceUpdateCount(), 0);
}

}  // namespace
