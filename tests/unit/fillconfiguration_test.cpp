// Gathering the live optical configuration from the host's logical devices and the active camera.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "cztconfigurationdata.h"
#include "dmapi_stub.h"
#include "fake_grabber_provider.h"
#include "zt/zt_devices.h"

namespace {

// A device manager whose logical devices are plain records; unknown ids answer -5.
class FakeDeviceManager : public DMApiStub {
public:
    struct Device {
        int type = 0;
        bool visible = true;
        bool active = true;
        std::wstring key{};
        int position = 0;
        std::vector<std::wstring> names{};  // objective codes or filter names by position
        std::vector<bool> linesUsed{};
        bool manualZoom = false;
        double zoom = 0.0;
    };

    int LogDev_GetCount(int* count) override {
        *count = static_cast<int>(devices.size());
        return 0;
    }
    int LogDev_GetId(int index, ZT_DWORD* id) override { return -5; }
    int LogDev_GetType(ZT_DWORD id, int* type) override {
        return With(id, [&](Device& d) { *type = d.type; });
    }
    int LogDev_GetVisible(ZT_DWORD id, bool* visible) override {
        return With(id, [&](Device& d) { *visible = d.visible; });
    }
    int LogDev_GetActive(ZT_DWORD id, bool* active) override {
        return With(id, [&](Device& d) { *active = d.active; });
    }
    int LogDev_GetKey(ZT_DWORD id, CZtStringW* key) override {
        return With(id, [&](Device& d) { *key = d.key; });
    }
    int LogDev_HasCapability(ZT_DWORD, ZT_DWORD, bool* has) override {
        *has = false;
        return 0;
    }
    int LogDev_GetPhysicalId(ZT_DWORD id, ZT_DWORD* physicalId) override { return -5; }
    int Nosepiece_GetPosition(ZT_DWORD id, int* position) override {
        return Typed(id, ZT_LOGDEV_NOSEPIECE, [&](Device& d) { *position = d.position; });
    }
    int Nosepiece_GetObjectiveCode(ZT_DWORD id, int position, CZtStringW* code) override {
        return Named(id, ZT_LOGDEV_NOSEPIECE, position, code);
    }
    int FilterChanger_GetPosition(ZT_DWORD id, int* position) override {
        return Typed(id, ZT_LOGDEV_FILTERCHANGER, [&](Device& d) { *position = d.position; });
    }
    int FilterChanger_GetKey(ZT_DWORD id, CZtStringW* key) override {
        return Typed(id, ZT_LOGDEV_FILTERCHANGER, [&](Device& d) { *key = d.key; });
    }
    int FilterChanger_GetFilterName(ZT_DWORD id, int position, CZtStringW* name) override {
        return Named(id, ZT_LOGDEV_FILTERCHANGER, position, name);
    }
    int Light_GetKey(ZT_DWORD id, CZtStringW* key) override {
        return Typed(id, ZT_LOGDEV_LIGHT, [&](Device& d) { *key = d.key; });
    }
    int Microscope_GetKey(ZT_DWORD id, CZtStringW* key) override {
        return Typed(id, ZT_LOGDEV_MICROSCOPE, [&](Device& d) { *key = d.key; });
    }
    int MultiLaser_GetKey(ZT_DWORD id, CZtStringW* key) override {
        return Typed(id, ZT_LOGDEV_MULTILASER, [&](Device& d) { *key = d.key; });
    }
    int MultiLaser_GetLineCount(ZT_DWORD id, int* count) override {
        return Typed(id, ZT_LOGDEV_MULTILASER,
                     [&](Device& d) { *count = static_cast<int>(d.linesUsed.size()); });
    }
    int MultiLaser_GetLineUsed(ZT_DWORD id, int line, bool* used) override {
        auto it = devices.find(id);
        if (it == devices.end() || line < 0 || line >= int(it->second.linesUsed.size())) {
            return -7;
        }
        *used = it->second.linesUsed[line];
        return 0;
    }
    int Zoom_GetManual(ZT_DWORD id, bool* manual) override {
        return Typed(id, ZT_LOGDEV_ZOOM, [&](Device& d) { *manual = d.manualZoom; });
    }
    int Zoom_GetZoom(ZT_DWORD id, double* zoom) override {
        return Typed(id, ZT_LOGDEV_ZOOM, [&](Device& d) { *zoom = d.zoom; });
    }
    int DMApi_GalvoXY_GetCount(int* count) override {
        *count = 0;
        return 0;
    }
    std::map<ZT_DWORD, Device> devices;

private:
    template <typename F>
    int With(ZT_DWORD id, F f) {
        auto it = devices.find(id);
        if (it == devices.end()) {
            return -5;
        }
        f(it->second);
        return 0;
    }
    template <typename F>
    int Typed(ZT_DWORD id, int type, F f) {
        auto it = devices.find(id);
        if (it == devices.end()) {
            return -5;
        }
        if (it->second.type != type) {
            return -6;
        }
        f(it->second);
        return 0;
    }
    int Named(ZT_DWORD id, int type, int position, CZtStringW* name) {
        auto it = devices.find(id);
        if (it == devices.end()) {
            return -5;
        }
        if (it->second.type != type) {
            return -6;
        }
        if (position < 0 || position >= int(it->second.names.size())) {
            return -7;
        }
        *name = it->second.names[position];
        return 0;
    }
};

class FillConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        using Device = FakeDeviceManager::Device;
        auto& d = m_devices.devices;
        d[1] = Device{.type = ZT_LOGDEV_NOSEPIECE, .position = 1, .names = {L"P10", L"P20"}};
        d[2] = Device{.type = ZT_LOGDEV_FILTERCHANGER,
                      .key = L"Turret1",
                      .position = 2,
                      .names = {L"DAPI", L"RFP", L"GFP"}};
        d[3] = Device{.type = ZT_LOGDEV_LIGHT, .key = L"LED"};
        d[4] = Device{.type = ZT_LOGDEV_MICROSCOPE, .key = L"Stand"};
        d[5] = Device{
            .type = ZT_LOGDEV_MULTILASER, .key = L"Launch", .linesUsed = {true, false, true, true}};
        d[6] = Device{.type = ZT_LOGDEV_ZOOM, .manualZoom = true, .zoom = 1.5};
        d[7] = Device{.type = ZT_LOGDEV_SHUTTER, .key = L"Shutter"};
        for (const auto& [id, device] : m_devices.devices) {
            m_ids.push_back(id);
        }
        m_grabber.cameraName = L"Cam3";
        m_grabber.rotation = 450;
    }

    int Fill(CZtConfigurationData* record, std::optional<bool> trax = std::nullopt) {
        return FillConfigurationData(&m_devices, &m_grabber, m_ids.data(),
                                     static_cast<int>(m_ids.size()), record, trax);
    }

    FakeDeviceManager m_devices;
    FakeGrabberProvider m_grabber;
    std::vector<ZT_DWORD> m_ids;
};

TEST_F(FillConfiguration, GathersEveryVisibleActiveDeviceAndTheCamera) {
    CZtConfigurationData record;
    ASSERT_EQ(Fill(&record, true), 0);
    EXPECT_EQ(record.GetConfigurationString(),
              L"#F$KTurret1$NGFP$P2#OP20#R90.000000#L0#Z1.500000#CCam3");
    EXPECT_EQ(record.GetMicroscope(), L"Stand");
    EXPECT_EQ(record.GetLights(), std::set<std::wstring>{L"LED"});
    ASSERT_EQ(record.GetMultilasers().size(), 1u);
    EXPECT_EQ(record.GetMultilasers().begin()->key, L"Launch");
    EXPECT_EQ(record.GetMultilasers().begin()->usedLineMask, 0b1101u);
    EXPECT_TRUE(record.IsTRAXConnected());
}

TEST_F(FillConfiguration, HiddenInactiveAndFailingDevicesAreLeftOut) {
    m_devices.devices[1].visible = false;
    m_devices.devices[2].active = false;
    m_devices.devices[6].manualZoom = false;
    m_devices.devices[3].type = 99;
    m_ids.push_back(42);  // no such device
    CZtConfigurationData record;
    ASSERT_EQ(Fill(&record), 0);
    EXPECT_EQ(record.GetConfigurationString(), L"#F#O#R90.000000#CCam3");
    EXPECT_TRUE(record.GetLights().empty());
    EXPECT_FALSE(record.IsTRAXConnected()) << "no driver, no TRAX flag";

    m_devices.devices[2].active = true;
    m_devices.devices[2].position = 7;  // no filter at that position
    CZtConfigurationData again;
    ASSERT_EQ(Fill(&again), 0);
    EXPECT_TRUE(again.GetFilterChangers().empty());
}

TEST_F(FillConfiguration, LaserLinesBeyond32WrapIntoTheMask) {
    m_devices.devices[5].linesUsed.assign(34, false);
    m_devices.devices[5].linesUsed[33] = true;
    CZtConfigurationData record;
    ASSERT_EQ(Fill(&record), 0);
    EXPECT_EQ(record.GetMultilasers().begin()->usedLineMask, 0b10u);
}

TEST_F(FillConfiguration, ConfocalCameraNamesItsScannerType) {
    m_grabber.confocal = true;
    m_grabber.cameraName = std::wstring(70, L'c');
    CZtConfigurationData galvano;
    ASSERT_EQ(Fill(&galvano), 0);
    EXPECT_EQ(galvano.GetCamera(), std::wstring(64, L'c') + L"_Galvano");
    m_grabber.cameraName = L"Confocal";
    m_grabber.scannerType = 1;
    CZtConfigurationData resonant;
    ASSERT_EQ(Fill(&resonant), 0);
    EXPECT_EQ(resonant.GetCamera(), L"Confocal_Resonant");
    m_grabber.scannerType = 2;
    CZtConfigurationData other;
    ASSERT_EQ(Fill(&other), 0);
    EXPECT_EQ(other.GetCamera(), L"Confocal");
}

TEST_F(FillConfiguration, CameraAndRotationFallBackWhenTheGrabberCannotTell) {
    m_grabber.cameraStatus = -6;
    m_grabber.rotationStatus = -5;
    CZtConfigurationData record;
    ASSERT_EQ(Fill(&record, false), 0);
    EXPECT_EQ(record.GetCamera(), L"");
    EXPECT_TRUE(record.IsRotationSet());
    EXPECT_EQ(record.GetCameraRotation(), 0.0);
    EXPECT_FALSE(record.IsTRAXConnected());
}

TEST_F(FillConfiguration, MissingIdsOrGrabberAreRefused) {
    CZtConfigurationData record;
    EXPECT_EQ(FillConfigurationData(&m_devices, &m_grabber, nullptr, 0, &record, true), -4);
    EXPECT_FALSE(record.IsValid());
    EXPECT_EQ(FillConfigurationData(&m_devices, nullptr, m_ids.data(),
                                    static_cast<int>(m_ids.size()), &record, true),
              -12);
    EXPECT_EQ(record.GetObjective(), L"P20") << "the devices were gathered before";
    EXPECT_EQ(record.GetCamera(), L"");
}

}  // namespace
