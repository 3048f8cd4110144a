// The stimulation-device manager: static devices, their references, look-ups and the active one.
#include <gtest/gtest.h>

#include <atomic>

#include "stimulation_device_stub.h"
#include "zt/zt_stimulation.h"
#include "zthost/zthost.h"

namespace {

// Thread-safe (atomic counts). A stimulation device that only counts its references.
class CountingDevice : public StimulationDeviceStub<> {
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
    EXPECT_EQ(other.addRefs, 0);
    EXPECT_EQ(manager->StaticDeviceRemove(nullptr), -4);
    EXPECT_EQ(manager->StaticDeviceRemove("Nobody"), -5);
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

}  // namespace
