// Manual calibration through the device's operations: the squares it lights, the pairs it
// collects, the fit and what OK and Cancel leave behind, against the simulated camera.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <array>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "calibration_microscope.h"
#include "calibration_truth.h"
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

// The lit mirrors of the shown frame as a box (right and bottom exclusive) and their number.
struct SLitBox {
    int left = -1;
    int top = -1;
    int right = -1;
    int bottom = -1;
    int count = 0;
    bool operator==(const SLitBox& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom &&
               count == o.count;
    }
};

SLitBox LitBox() {
    const fake_atcore::MirrorFrame frame = fake_atcore::ShownFrame();
    SLitBox box;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            if (frame.levels[static_cast<size_t>(y * frame.width + x)] == 0) {
                continue;
            }
            if (box.count++ == 0) {
                box = {x, y, x + 1, y + 1, 1};
            }
            box.left = std::min(box.left, x);
            box.top = std::min(box.top, y);
            box.right = std::max(box.right, x + 1);
            box.bottom = std::max(box.bottom, y + 1);
        }
    }
    return box;
}

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

// The closed loop: six squares paired by eye, validated and stored, give the camera's true view
// of the mirrors over the whole field.
TEST_F(ManualCalibration, SixPairsFoundInTheCameraFrameStoreTheTrueMapping) {
    const std::array<double, 6> truth = zthost::DmdToSensor(2.1, -4.0, false, 400, 300, 1000, 1040);
    CZtStimulationDeviceVerove* device = SetUpMicroscope(truth);
    CZtCalibrationData* calibration = device->GetCalibrationData();
    ASSERT_NE(calibration->GetCalibrationState(), Calibrated);
    ASSERT_EQ(device->OnManualCalibrationInit(), 0);
    EXPECT_EQ(device->GetCalibrationMode(), 2);
    EXPECT_TRUE(ZT_IsLive());
    EXPECT_EQ(ZT_GetLiveMode(), 2);
    for (const SZtPointD& dmd : kSixPoints) {
        const SZtPointD camera = PairPoint(dmd);
        ASSERT_GE(camera.x, 0.0) << "no square seen at " << dmd.x << ", " << dmd.y;
    }
    ASSERT_EQ(device->GetManualCalibration().GetDmdPoints().size(), 6u);

    ASSERT_EQ(device->OnManualcalibrationValidationPhase(), 0);
    EXPECT_TRUE(device->GetManualCalibration().HasResult());
    // Applied for the verification, not stored yet.
    const SDeviation applied = Deviation(calibration->GetCalibrationDMDToCam(), truth);
    std::wstring key = calibration->GetCurrentConfigurationString();
    EXPECT_NE(calibration->FindCalibration(&key), 0);
    // The live picture gets the S1 verification rectangle in place of every other ROI.
    IZtDocument* current = ZT_GetCurrentDocument();
    ASSERT_NE(current, nullptr);
    CZtRoiObjectList rois;
    current->GetRois(&rois);
    current->Release();
    ASSERT_EQ(rois.GetCount(), 1);
    EXPECT_EQ(rois.GetAt(0)->GetLabel(), L"Stimulation ROI added by calibration");

    // Live was off before: frozen again.
    EXPECT_EQ(device->OnManualCalibrationEnd(true), 0);
    EXPECT_FALSE(ZT_IsLive());
    EXPECT_EQ(device->GetCalibrationMode(), 0);
    EXPECT_FALSE(device->IsCalibrationInProgress());
    key = calibration->GetCurrentConfigurationString();
    ASSERT_EQ(calibration->FindCalibration(&key), 0);
    EXPECT_EQ(calibration->GetCalibrationState(), Calibrated);
    const SDeviation stored = Deviation(calibration->GetCalibrationDMDToCam(), truth);
    std::cout << "manual calibration: DMD -> camera deviation over the DMD field: rms "
              << stored.rms << " px, max " << stored.max << " px (applied max " << applied.max
              << ")" << std::endl;
    RecordProperty("rms_px", std::to_string(stored.rms));
    RecordProperty("max_px", std::to_string(stored.max));
    EXPECT_LT(applied.max, 0.3);
    EXPECT_LT(stored.max, 0.3);
}

TEST_F(ManualCalibration, CancelLeavesTheStoredCalibrationAsItWas) {
    const std::array<double, 6> truth = zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024);
    CZtStimulationDeviceVerove* device = SetUpMicroscope(truth);
    CZtCalibrationData* calibration = device->GetCalibrationData();
    // A calibration stored earlier, off by 30 pixels.
    std::array<double, 6> earlier = truth;
    earlier[2] += 30.0;
    const CZtMatrix3 dmdToCamera = {earlier[0], earlier[1], earlier[2], earlier[3], earlier[4],
                                    earlier[5], 0,          0,          1};
    CZtMatrix3 cameraToDmd{};
    ASSERT_EQ(InvertMatrix(3, dmdToCamera.data(), cameraToDmd.data()), 0);
    ASSERT_EQ(device->GetDriver()->SetCalibrationMatrices(dmdToCamera, cameraToDmd), 0);

    ASSERT_EQ(device->OnManualCalibrationInit(), 0);
    for (const SZtPointD& dmd : kSixPoints) {
        PairPoint(dmd);
    }
    ASSERT_EQ(device->OnManualcalibrationValidationPhase(), 0);
    EXPECT_LT(Deviation(calibration->GetCalibrationDMDToCam(), truth).max, 0.3);
    device->OnManualCalibrationEnd(false);
    bool changed = false;
    ASSERT_EQ(calibration->LoadCalibration(&changed), 0);
    EXPECT_NEAR(Deviation(calibration->GetCalibrationDMDToCam(), earlier).max, 0.0, 1e-6);
}

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
    EXPECT_EQ(LitBox(), c.lit);
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
