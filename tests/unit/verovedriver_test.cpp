// DMD driver on the built-in simulated unit: connect, hardware check, mode caches, exposure
// shortcuts, camera geometry, camera ROI matching and the exposure-end event.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cztpluginverove.h"
#include "cztverovedriver.h"
#include "cztveroveproxy.h"
#include "driver_owner_double.h"
#include "zt/zt_camera.h"
#include "zt/zt_devices.h"
#include "zt/zt_util.h"
#include "zthost/camera_control.h"
#include "zthost/microscope.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

constexpr int kSim = CZtVeroveProxy::SimulatorIndex;

int CountContaining(const std::wstring& text) {
    const std::vector<std::wstring> log = zthost::CapturedLog();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::wstring& line) {
        return line.find(text) != std::wstring::npos;
    }));
}

bool SameRect(const SZtRect& a, const SZtRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// A camera of 2048 x 2048 sensor pixels, binned 2 x 2: its full image is 1024 x 1024.
zthost::CameraSetup BinnedCamera() {
    zthost::CameraSetup camera;
    camera.name = L"Cam1";
    camera.sensorWidth = 2048;
    camera.sensorHeight = 2048;
    camera.binningX = 2.0;
    camera.binningY = 2.0;
    return camera;
}

// Records whether the driver reported a running ROI match whenever the camera format changed.
class MatchWatcher : public CZtCameraUpdate {
public:
    explicit MatchWatcher(CZtVeroveDriver* driver) : m_driver(driver) {}
    ~MatchWatcher() override { UnregisterCameraUpdate(); }
    int CameraFormatChanged() override {
        (m_driver->IsSyncingCameraROI() ? sawMatching : sawIdle) = true;
        return 0;
    }
    bool sawMatching = false;
    bool sawIdle = false;

private:
    CZtVeroveDriver* m_driver;
};

}  // namespace

class VeroveDriver : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        ASSERT_TRUE(m_dir.isValid());
        zthost::SetSettingsLocation(m_dir.path().toStdWString());
        VerovePluginState().hostContext = zthost::HostContext();
        ASSERT_EQ(zthost::SetCamera(BinnedCamera()), 0);
        zthost::OpenCameraDocument();
        m_owner.simulated = true;
        m_driver = std::make_unique<CZtVeroveDriver>(&m_owner);
        m_owner.driver = m_driver.get();
    }

    void TearDown() override {
        m_owner.driver = nullptr;
        m_driver.reset();
        VerovePluginState().hostContext = nullptr;
        zthost::ResetForTests();
    }

    void Connect() {
        ASSERT_EQ(m_driver->Connect(0), 0);
        ASSERT_NE(m_owner.settings.calibration, nullptr);
    }

    // Sets the measured camera->DMD matrix so that the DMD->camera mapping is
    // x' = scale x + tx, y' = scale y + ty (no rotation or mirror: the mapping is its inverse).
    void SetMapping(double scale, double tx, double ty) {
        m_owner.settings.calibration->SetCalibrationCamToDMD(
            {1.0 / scale, 0.0, -tx / scale, 0.0, 1.0 / scale, -ty / scale, 0.0, 0.0, 1.0});
    }

    bool PatternValid(int id) {
        CZtLock lock(m_driver->GetBufferLock());
        return m_driver->GetPatterns().FindById(static_cast<std::uint32_t>(id))->IsValid();
    }

    void MarkValid(int id) {
        CZtLock lock(m_driver->GetBufferLock());
        m_driver->GetPatterns().FindById(static_cast<std::uint32_t>(id))->SetValid(true);
    }

    QTemporaryDir m_dir;
    DriverOwnerDouble m_owner;
    std::unique_ptr<CZtVeroveDriver> m_driver;
};

// ---- Connect and hardware check ----------------------------------------------------------------

TEST_F(VeroveDriver, SimulatedUnitConnectsWithoutTheSdk) {
    Connect();

    EXPECT_TRUE(m_driver->IsConnected());
    EXPECT_EQ(m_driver->GetHandle(), kSim);
    EXPECT_EQ(m_driver->GetDmdWidth(), 800);
    EXPECT_EQ(m_driver->GetDmdHeight(), 600);
    EXPECT_EQ(m_driver->GetBufferSize(), 480000) << "packed encoding for bit depth 1";
    ASSERT_EQ(m_driver->SetPixelEncoding(false), 0);
    EXPECT_EQ(m_driver->GetBufferSize(), 480000) << "the simulator has one image size";

    {
        CZtLock lock(m_driver->GetBufferLock());
        CZtPatternStore& store = m_driver->GetPatterns();
        ASSERT_EQ(store.Count(), 6);
        EXPECT_EQ(store.GetCurrentId(), 0);
        EXPECT_EQ(store.FindById(0)->GetWidth() * store.FindById(0)->GetHeight(), 480000u);
    }
    EXPECT_EQ(m_owner.settings.firmwareVersion, L"Simulator");
    EXPECT_EQ(m_owner.settings.cameraName, L"Cam1");
    EXPECT_EQ(m_owner.versionReads.load(), 1);

    // A second connect keeps the open device.
    CZtCalibrationData* calibration = m_owner.settings.calibration.get();
    EXPECT_EQ(m_driver->Connect(0), 0);
    EXPECT_EQ(CountContaining(L"CZtVeroveDriver::OpenDevice: Start"), 1);
    EXPECT_EQ(m_owner.settings.calibration.get(), calibration);
}

TEST_F(VeroveDriver, GalvoScannerRefusesTheDeviceAndWarnsOncePerProcess) {
    zthost::SetGalvoXYCount(1);
    EXPECT_EQ(m_driver->Connect(0), 14);
    EXPECT_FALSE(m_driver->IsConnected());
    EXPECT_TRUE(m_owner.invalidHardware.load());
    ASSERT_EQ(zthost::MessageBoxes().size(), 1u);
    const zthost::MessageBoxRecord box = zthost::MessageBoxes()[0];
    EXPECT_EQ(box.title, L"Invalid HW Configuration");
    EXPECT_EQ(box.text,
              L"Combination of DMD with Galvo XY device is not supported.\nDMD device status: "
              L"Disconnected.");
    EXPECT_EQ(box.icon, ZT_MB_ICONERROR);
    EXPECT_TRUE(ZT_GetGalvoMessageShown());

    // A logical device with galvo capability refuses it as well, without a second box.
    zthost::SetGalvoXYCount(0);
    zthost::LogicalDeviceSetup scanner;
    scanner.id = 7;
    scanner.type = 99;
    scanner.capabilities = {ZT_LOGDEV_CAP_GALVO_XY};
    ASSERT_EQ(zthost::AddLogicalDevice(scanner), 0);
    CZtVeroveDriver other(&m_owner);
    EXPECT_EQ(other.Connect(0), 14);
    EXPECT_EQ(zthost::MessageBoxes().size(), 1u);

    ASSERT_EQ(zthost::RemoveLogicalDevice(7), 0);
    EXPECT_EQ(m_driver->Connect(0), 0);
    EXPECT_FALSE(m_owner.invalidHardware.load()) << "cleared by the next open";
}

// ---- Modes and exposure ------------------------------------------------------------------------

TEST_F(VeroveDriver, ModeCachesSkipRepeatedWrites) {
    Connect();
    zthost::ClearCapturedLog();
    EXPECT_EQ(m_driver->SetOperationMode(1), 0);
    EXPECT_EQ(CountContaining(L"CZtVeroveProxy::SetOperationMode("), 0)
        << "the cache starts at FrameMemory";

    EXPECT_EQ(m_driver->SetOperationMode(0), 0);
    EXPECT_EQ(m_driver->SetOperationMode(0), 0);
    EXPECT_EQ(CountContaining(L"CZtVeroveProxy::SetOperationMode(123456789, Live)"), 1);
    EXPECT_NE(m_driver->SetOperationMode(4), 0);
    EXPECT_NE(m_driver->SetOperationMode(-1), 0);
    EXPECT_EQ(CountContaining(L"CZtVeroveProxy::SetOperationMode("), 1);

    int index = -1;
    EXPECT_EQ(m_driver->SetTriggerMode(4), 0);
    ASSERT_EQ(CZtVeroveProxy::Instance().GetEnumIndex(kSim, L"TriggerMode", &index), 0);
    EXPECT_EQ(index, 4) << "ExternalBulb";
    EXPECT_NE(m_driver->SetTriggerMode(5), 0);
    ASSERT_EQ(CZtVeroveProxy::Instance().GetEnumIndex(kSim, L"TriggerMode", &index), 0);
    EXPECT_EQ(index, 4);
}

TEST_F(VeroveDriver, ExposeSkipsTheShownPatternAndRefusesUnknownOnes) {
    Connect();
    EXPECT_EQ(m_driver->ExposePattern(1, false), 0);
    EXPECT_TRUE(m_driver->IsExposing());
    EXPECT_EQ(m_owner.stateChanges.load(), 1);

    zthost::ClearCapturedLog();
    EXPECT_EQ(m_driver->ExposePattern(1, false), 0);
    EXPECT_EQ(CountContaining(L"CZtVeroveProxy::"), 0) << "no SDK call for the shown pattern";
    EXPECT_EQ(m_owner.stateChanges.load(), 1);

    EXPECT_EQ(m_driver->ExposePattern(99, false), -9);
    EXPECT_EQ(CountContaining(L"CZtVeroveProxy::Abort"), 0) << "the exposure keeps running";
    EXPECT_TRUE(m_driver->IsExposing());

    EXPECT_EQ(m_driver->ExposePattern(1, true), 0);
    EXPECT_EQ(CountContaining(L"CZtVeroveProxy::Abort(123456789)"), 1);
    EXPECT_EQ(CountContaining(L"CZtVeroveProxy::Expose(123456789)"), 1);

    // A changed rendering is shown again without force.
    ASSERT_EQ(m_driver->InvalidatePattern(1), 0);
    EXPECT_EQ(m_driver->InvalidatePattern(42), -9);
    EXPECT_EQ(m_driver->ExposePattern(1, false), 0);
    EXPECT_EQ(CountContaining(L"CZtVeroveProxy::Expose(123456789)"), 2);
}

TEST_F(VeroveDriver, UploadNeedsItsPrerequisitesAndSequencesStayBinary) {
    CZtPattern loose(L"Loose", 800, 600);
    EXPECT_EQ(m_driver->UploadPattern(0, &loose), -6) << "no calibration before connect";
    Connect();
    EXPECT_EQ(m_driver->UploadPattern(0, nullptr), -6);
    EXPECT_EQ(m_driver->UploadPattern(0, &loose), 0);

    m_owner.settings.bitDepth = 4;
    m_driver->SetSequenceMode(true);
    ASSERT_EQ(m_driver->SetPixelEncoding(false), 0);
    EXPECT_EQ(m_driver->UploadPattern(0, &loose), -9);
}

TEST_F(VeroveDriver, ExposureEndSetsTheSharedNamedEvent) {
    Connect();
    CZtEvent shared(true, false, L"ExposureEndEvent");
    ASSERT_EQ(m_driver->SetTriggerMode(0), 0);
    ASSERT_EQ(CZtVeroveProxy::Instance().SetExposureTime(kSim, 0.05), 0);
    shared.Reset();
    ASSERT_EQ(m_driver->StartPattern(), 0);
    EXPECT_EQ(shared.Wait(10000), ZT_WAIT_OBJECT_0) << "the timed exposure ended";
    EXPECT_GT(CountContaining(L"CZtVeroveProxy::IsExposing(123456789, 0)"), 0)
        << "the callback read the end back before setting the event";

    // Abort sets it too, whatever the SDK reports.
    shared.Reset();
    m_driver->Abort();
    EXPECT_EQ(m_driver->GetExposureEndEvent().Wait(0), ZT_WAIT_OBJECT_0);
}

TEST_F(VeroveDriver, DisconnectShowsFullOffSavesAndFreesTheBuffer) {
    Connect();
    ASSERT_EQ(m_driver->ExposePattern(1, false), 0);
    ASSERT_EQ(m_driver->Disconnect(), 0);
    EXPECT_FALSE(m_driver->IsConnected());
    EXPECT_FALSE(m_driver->IsExposing());
    EXPECT_EQ(m_owner.saves.load(), 1);
    EXPECT_EQ(m_driver->GetBufferSize(), 0);
    CZtLock lock(m_driver->GetBufferLock());
    EXPECT_EQ(m_driver->GetPatterns().GetCurrentId(), 0) << "Full OFF went up before the close";
}

// ---- Camera and calibration --------------------------------------------------------------------

TEST_F(VeroveDriver, CameraChangesReachTheCalibration) {
    Connect();
    CZtCalibrationData& calibration = *m_owner.settings.calibration;
    zthost::CameraSetup camera = BinnedCamera();
    camera.name = L"Cam2";
    camera.rotationDegrees = 90.0;
    camera.roiOn = true;
    camera.roi = {100, 200, 612, 712};
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    EXPECT_DOUBLE_EQ(calibration.GetCameraRotation(), 90.0);
    EXPECT_TRUE(SameRect(calibration.GetCameraRect(), camera.roi));
    EXPECT_EQ(m_owner.settings.cameraName, L"Cam2");

    IZtGrabberProvider* grabber = zthost::HostContext()->GetGrabberProvider();
    ASSERT_EQ(grabber->CameraRoiEnable(false), 0);
    EXPECT_TRUE(SameRect(calibration.GetCameraRect(), SZtRect{0, 0, 2048, 2048}));
}

TEST_F(VeroveDriver, CurrentFormatPrefersTheDocument) {
    SZtGrabberFormatDesc document;
    document.value.sensorRect = {0, 0, 100, 100};
    document.value.imageRect = {0, 0, 100, 50};
    zthost::OpenDocument(document);
    SZtGrabberFormatDesc format;
    ASSERT_EQ(m_driver->GetCurrentFormat(&format), 0);
    EXPECT_TRUE(SameRect(format.value.imageRect, document.value.imageRect));

    document.value.imageRect = {10, 10, 10, 50};
    zthost::OpenDocument(document);
    ASSERT_EQ(m_driver->GetCurrentFormat(&format), 0);
    EXPECT_TRUE(SameRect(format.value.imageRect, SZtRect{0, 0, 2048, 2048}))
        << "a document without area gives way to the camera";

    zthost::CloseDocument();
    zthost::SetGrabberPresent(false);
    EXPECT_EQ(m_driver->GetCurrentFormat(&format), -1);
}

TEST_F(VeroveDriver, CameraTransformFollowsAngleMirrorAndRoi) {
    zthost::CameraSetup camera = BinnedCamera();
    camera.rotationDegrees = 90.0;
    camera.angleParams = {1.0, 0.0, 0.0, -1.0};
    camera.roiOn = true;
    camera.roi = {0, 0, 101, 51};
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    CZtMatrix3 rotation{};
    CZtMatrix3 flip{};
    std::array<double, 3> centre{};
    ASSERT_EQ(m_driver->GetCameraTransform(&rotation, &flip, &centre), 0);
    const CZtMatrix3 turn = {0.0, -1.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0};
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(rotation[i], turn[i], 1e-12) << i;
    }
    EXPECT_EQ(flip, (CZtMatrix3{1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, 1.0}));
    EXPECT_EQ(centre, (std::array<double, 3>{50.0, 25.0, 1.0}));

    camera.roiOn = false;
    camera.angleParams = {1.0, 0.0, 0.0, 1.00001};
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    ASSERT_EQ(m_driver->GetCameraTransform(&rotation, &flip, &centre), 0);
    EXPECT_EQ(flip[4], 1.0) << "angle parameters within 0.0001 do not mirror";
    EXPECT_EQ(centre, (std::array<double, 3>{1024.0, 1024.0, 1.0}));
}

TEST_F(VeroveDriver, NewCalibrationReRendersCameraMappedPatternsOnlyWhenItChanged) {
    Connect();
    const CZtMatrix3 cameraToDmd = {0.5, 0.0, -50.0, 0.0, 0.5, -25.0, 0.0, 0.0, 1.0};
    const CZtMatrix3 dmdToCamera = {2.0, 0.0, 100.0, 0.0, 2.0, 50.0, 0.0, 0.0, 1.0};
    MarkValid(0);
    MarkValid(3);
    EXPECT_EQ(m_driver->SetCalibrationMatrices(dmdToCamera, cameraToDmd), 0);
    EXPECT_EQ(m_owner.settings.calibration->GetCalibrationCamToDMD(), cameraToDmd);
    EXPECT_EQ(m_owner.settings.calibration->GetCalibrationDMDToCam(), dmdToCamera);
    EXPECT_FALSE(PatternValid(3)) << "camera-mapped: rendered again";
    EXPECT_TRUE(PatternValid(0)) << "DMD-mapped: unaffected";

    // The same configuration again: the loaded calibration did not change.
    MarkValid(3);
    EXPECT_EQ(m_driver->SetCalibrationMatrices(dmdToCamera, cameraToDmd), 0);
    EXPECT_TRUE(PatternValid(3));
}

// ---- Camera ROI matching -----------------------------------------------------------------------
// The DMD (800 x 600) lands on the sensor at x' = 2x + 100, y' = 2y + 50: sensor rectangle
// (100, 50, 1698, 1248), image rectangle (50, 25, 849, 624) with 2 x 2 binning.

TEST_F(VeroveDriver, MatchSetsTheCameraRoiToTheIlluminatedArea) {
    Connect();
    SetMapping(2.0, 100.0, 50.0);
    ASSERT_EQ(m_driver->SyncCameraROI(true), 0);
    EXPECT_EQ(m_owner.Events(), std::vector<int>{16});
    zthost::CameraSetup camera = zthost::Camera();
    EXPECT_TRUE(camera.roiOn);
    EXPECT_TRUE(SameRect(camera.roi, SZtRect{100, 50, 1698, 1248}));
    EXPECT_TRUE(SameRect(m_driver->GetMatchedFormat().imageRect, camera.roi));
    EXPECT_TRUE(SameRect(m_owner.settings.calibration->GetCameraRect(), camera.roi))
        << "the ROI change reached the calibration";

    // Matched already: the region stays.
    ASSERT_EQ(m_driver->SyncCameraROI(true), 0);
    EXPECT_TRUE(SameRect(zthost::Camera().roi, camera.roi));

    MarkValid(3);
    MarkValid(1);
    ASSERT_EQ(m_driver->SyncCameraROI(false), 0);
    EXPECT_FALSE(zthost::Camera().roiOn);
    EXPECT_FALSE(PatternValid(3));
    EXPECT_TRUE(PatternValid(1));
}

TEST_F(VeroveDriver, MatchFallsBackToTheFullImageWhenTheRoiMissesTheDmd) {
    zthost::CameraSetup camera = BinnedCamera();
    camera.roiOn = true;
    camera.roi = {1900, 1900, 2048, 2048};
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    Connect();
    SetMapping(2.0, 100.0, 50.0);
    ASSERT_EQ(m_driver->SyncCameraROI(true), 0);
    EXPECT_TRUE(SameRect(zthost::Camera().roi, SZtRect{100, 50, 1698, 1248}));
    EXPECT_TRUE(zthost::Camera().roiOn);
}

TEST_F(VeroveDriver, MatchFailsWhenTheDmdMissesOrOnlyTouchesTheImage) {
    Connect();
    SetMapping(2.0, 5000.0, 5000.0);
    EXPECT_EQ(m_driver->SyncCameraROI(true), -9);
    EXPECT_FALSE(zthost::Camera().roiOn);

    SetMapping(2.0, 2048.0, 0.0);
    EXPECT_EQ(m_driver->SyncCameraROI(true), -9);
    EXPECT_FALSE(zthost::Camera().roiOn);
}

TEST_F(VeroveDriver, MatchIsRefusedDuringFastTimelapseAndWithoutView) {
    Connect();
    zthost::SetFastTimelapse(true);
    EXPECT_EQ(m_driver->SyncCameraROI(true), -8);
    EXPECT_TRUE(m_owner.Events().empty());

    zthost::SetFastTimelapse(false);
    zthost::CloseDocument();
    EXPECT_EQ(m_driver->SyncCameraROI(true), -1);
    EXPECT_FALSE(zthost::Camera().roiOn);
}

TEST_F(VeroveDriver, RoiChangesOfAMatchArriveWhileTheMatchRuns) {
    Connect();
    SetMapping(2.0, 100.0, 50.0);
    MatchWatcher watcher(m_driver.get());
    ASSERT_EQ(m_driver->SyncCameraROI(true), 0);
    EXPECT_TRUE(watcher.sawMatching);
    EXPECT_FALSE(watcher.sawIdle);
    EXPECT_FALSE(m_driver->IsSyncingCameraROI());
}
