// Manual calibration through the device's operations: the squares it lights and its refusals. The
// whole calibration played by hand is in the VeroveConfig and HostWindow suites.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibration_microscope.h"
#include "cztmanualcalibration.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "shown_mirrors.h"
#include "verove_sample_analysis.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_devices.h"
#include "zt/zt_document.h"
#include "zthost/camera_control.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

namespace {

// Six points spread over the 800 x 600 mirrors, not on one line.
const std::vector<SZtPointD> kSixPoints = {{100, 90},  {700, 110}, {400, 300},
                                           {120, 520}, {680, 500}, {260, 410}};

}  // namespace

class ManualCalibration : public CalibrationMicroscope {
protected:
    void TearDown() override {
        if (m_device) {
            m_device->OnManualCalibrationEnd(false);
        }
        CalibrationMicroscope::TearDown();
    }

    // What the user does for one point: lights it, finds the lit square in the live picture and
    // pairs the square's centre with it. The camera point, or (-1, -1) when no square shows.
    SZtPointD PairPoint(const SZtPointD& dmd) {
        EXPECT_EQ(m_device->GetManualCalibration().DisplayRectangleAtPos(dmd, 7), 0);
        CZtGrabberSample sample;
        EXPECT_EQ(sample.Capture(), 0);
        CZtSpotDetector eye;
        SZtPointD camera{-1, -1};
        if (eye.DetectSpot(&sample.GetPicture(), &camera) != 0) {
            return {-1, -1};
        }
        // Pixel (i, j) has its centre at (i + 0.5, j + 0.5).
        camera.x += 0.5;
        camera.y += 0.5;
        EXPECT_EQ(m_device->AddManualCalibrationPair(dmd.x, dmd.y, camera.x, camera.y), 0);
        return camera;
    }
};

TEST_F(ManualCalibration, FewerThanThreePairsComputeNothingAndOkStoresNothing) {
    CZtStimulationDeviceVerove* device =
        SetUpMicroscope(zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024));
    CZtCalibrationData* calibration = device->GetCalibrationData();
    ASSERT_EQ(device->OnManualCalibrationInit(), 0);
    PairPoint(kSixPoints[0]);
    PairPoint(kSixPoints[1]);
    EXPECT_EQ(device->OnManualcalibrationValidationPhase(), 0);
    EXPECT_FALSE(device->GetManualCalibration().HasResult());
    device->OnManualCalibrationEnd(true);
    std::wstring key = calibration->GetCurrentConfigurationString();
    EXPECT_NE(calibration->FindCalibration(&key), 0);
    EXPECT_NE(calibration->GetCalibrationState(), Calibrated);
}

TEST_F(ManualCalibration, WithoutACameraItFailsWithAMessage) {
    CZtStimulationDeviceVerove* device =
        SetUpMicroscope(zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024));
    zthost::SetGrabberPresent(false);
    EXPECT_EQ(device->OnManualCalibrationInit(), -9);
    ASSERT_EQ(zthost::MessageBoxes().size(), 1u);
    EXPECT_EQ(zthost::MessageBoxes()[0].title, L"Error");
    EXPECT_EQ(zthost::MessageBoxes()[0].text, L"Calibration failed: no camera connected!");
    EXPECT_EQ(device->GetCalibrationMode(), 0);
}

// The square DisplayRectangleAtPos lights: side twice the half-size, right and bottom edges
// excluded, clipped to the mirrors; refusals leave the DMD as it was.
struct SRectangleCase {
    const char* name;
    SZtPointD point;
    int halfSize;
    int status;
    SLitBox lit;  // count 0: nothing new lit
};

class ManualCalibrationRectangle : public ManualCalibration,
                                   public ::testing::WithParamInterface<SRectangleCase> {};

TEST_P(ManualCalibrationRectangle, LightsTheClippedSquareOrRefuses) {
    const SRectangleCase& c = GetParam();
    CZtStimulationDeviceVerove* device =
        SetUpMicroscope(zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024));
    device->GetDriver()->ExposePattern(0, true);
    EXPECT_EQ(device->DisplayRectangleAtPos(static_cast<int>(c.point.x),
                                            static_cast<int>(c.point.y), c.halfSize),
              c.status);
    EXPECT_EQ(LitMirrors(), c.lit);
    if (c.status == 0) {
        EXPECT_TRUE(device->IsCalibrationInProgress());
    }
}

INSTANTIATE_TEST_SUITE_P(
    ManualCalibration, ManualCalibrationRectangle,
    ::testing::Values(
        // The preview's click at (10, 20) is the DMD point (40, 80).
        SRectangleCase{"PreviewClick", {40, 80}, 7, 0, {33, 73, 47, 87, 196}},
        SRectangleCase{"Corner", {0, 0}, 7, 0, {0, 0, 7, 7, 49}},
        SRectangleCase{"FarCorner", {799, 599}, 3, 0, {796, 596, 800, 600, 16}},
        SRectangleCase{"HalfSizeZero", {400, 300}, 0, -4, {}},
        SRectangleCase{"OffTheDmd", {800, 300}, 7, -4, {}},
        SRectangleCase{"Negative", {-1, 10}, 7, -4, {}}),
    [](const ::testing::TestParamInfo<SRectangleCase>& info) { return info.param.name; });
