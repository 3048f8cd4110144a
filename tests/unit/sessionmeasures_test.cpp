// verove-host's measures: calibration residual in displayed pixels, the lit threshold of a frame,
// the overlap of the light with the ROIs, and frames as report pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "measures.h"

namespace {

const Matrix3 kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1};
// Two sensor pixels per mirror, the DMD's centre on the sensor's (2048 x 2048).
const Matrix3 kTruth = {2, 0, 224, 0, 2, 424, 0, 0, 1};

// A 16-bit frame of dark value with the rectangle [left, right) x [top, bottom) at lit.
SZtPicBuf Frame(std::uint32_t width, std::uint32_t height, std::uint32_t dark, std::uint32_t lit,
                int left, int top, int right, int bottom) {
    SZtPicBuf frame;
    CZtPicBufAPI::Alloc(&frame, width, height, 16, 1);
    frame.bitsPerComponent = 12;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const bool inside = static_cast<int>(x) >= left && static_cast<int>(x) < right &&
                                static_cast<int>(y) >= top && static_cast<int>(y) < bottom;
            // A little pattern noise, so the classes are not single values.
            CZtPicBufAPI::SetValue(&frame, x, y, (inside ? lit : dark) + (x * 7 + y * 3) % 5);
        }
    }
    return frame;
}

TEST(SessionMeasures, CalibrationResidualIsTheDistanceInDisplayedPixels) {
    CalibrationResidual same = MeasureCalibrationResidual(kTruth, kTruth, kIdentity, 800, 600);
    EXPECT_EQ(same.rms, 0.0);
    EXPECT_EQ(same.max, 0.0);

    // Measured 0.3 sensor pixels to the right everywhere; binned 2 on the screen, that is 0.15.
    Matrix3 shifted = kTruth;
    shifted[2] += 0.3;
    const Matrix3 binned = {0.5, 0, 0, 0, 0.5, 0, 0, 0, 1};
    CalibrationResidual shift = MeasureCalibrationResidual(kTruth, shifted, binned, 800, 600);
    EXPECT_NEAR(shift.rms, 0.15, 1e-12);
    EXPECT_NEAR(shift.max, 0.15, 1e-12);

    // A scale error about the first mirror grows towards the far corner: 0.1 % of the way.
    const Matrix3 measured = {2.002, 0, 224 - 0.001, 0, 2.002, 424 - 0.001, 0, 0, 1};
    CalibrationResidual scale = MeasureCalibrationResidual(kTruth, measured, kIdentity, 800, 600);
    EXPECT_NEAR(scale.max, 0.002 * std::hypot(799.0, 599.0), 1e-9);
    EXPECT_GT(scale.max, scale.rms);
    EXPECT_GT(scale.rms, 0.3 * scale.max);
}

// A map 0.1 % too large about the sensor's middle: its error grows with the distance from there.
// Over the camera's region only the mirrors it shows count.
TEST(SessionMeasures, CalibrationResidualCountsTheMirrorsTheRegionShows) {
    const Matrix3 measured = {2.002, 0, 224 * 1.001 - 1.024, 0, 2.002, 424 * 1.001 - 1.024, 0,
                              0,     1};
    const CalibrationResidual whole =
        MeasureCalibrationResidual(kTruth, measured, kIdentity, 800, 600);
    EXPECT_NEAR(whole.max, 0.001 * std::hypot(799.0, 599.0), 1e-9);
    // The whole field inside the region: the same grid.
    const CalibrationResidual sensor =
        MeasureCalibrationResidual(kTruth, measured, kIdentity, 800, 600, QRectF(0, 0, 2048, 2048));
    EXPECT_NEAR(sensor.max, whole.max, 1e-12);
    EXPECT_NEAR(sensor.rms, whole.rms, 1e-12);
    // A region of 200 x 100 sensor pixels about the middle: the grid spans it, corners included.
    const CalibrationResidual region = MeasureCalibrationResidual(
        kTruth, measured, kIdentity, 800, 600, QRectF(QPointF(924, 974), QPointF(1124, 1074)));
    EXPECT_NEAR(region.max, 0.001 * std::hypot(100.0, 50.0), 1e-9);
    EXPECT_LT(region.rms, region.max);
    // Half the region off the field: only its part on the field counts.
    const CalibrationResidual edge = MeasureCalibrationResidual(
        kTruth, measured, kIdentity, 800, 600, QRectF(QPointF(1724, 974), QPointF(2148, 1074)));
    EXPECT_NEAR(edge.max, 0.001 * std::hypot(799.0, 50.0), 1e-9);
}

TEST(SessionMeasures, LitThresholdSeparatesLightFromBackground) {
    const SZtPicBuf frame = Frame(64, 48, 120, 1100, 10, 10, 30, 20);
    const std::uint32_t threshold = LitThreshold(frame);
    EXPECT_GE(threshold, 124u);
    EXPECT_LT(threshold, 1100u);
    EXPECT_EQ(LitThreshold(SZtPicBuf()), 0u);
}

TEST(SessionMeasures, OverlapIsIntersectionOverUnionOfLightAndRois) {
    const SZtPicBuf frame = Frame(64, 48, 120, 1100, 10, 10, 30, 20);  // 200 lit pixels
    const std::uint32_t threshold = LitThreshold(frame);
    SZtRLEPicBuf rois;
    CZtRLEPicBufAPI::Alloc(&rois, 64, 48, 16);
    CZtRLEPicBufAPI::AddRectangle(&rois, 1, 10, 10, 30, 20);
    EXPECT_DOUBLE_EQ(PlacementOverlap(frame, threshold, rois), 1.0);

    // Drawn two pixels to the right: 180 in common, 220 in either.
    CZtRLEPicBufAPI::Empty(&rois);
    CZtRLEPicBufAPI::AddRectangle(&rois, 1, 12, 10, 32, 20);
    EXPECT_DOUBLE_EQ(PlacementOverlap(frame, threshold, rois), 180.0 / 220.0);

    // Two ROIs count together; a second one where no light fell lowers the overlap.
    CZtRLEPicBufAPI::Empty(&rois);
    CZtRLEPicBufAPI::AddRectangle(&rois, 1, 10, 10, 30, 20);
    CZtRLEPicBufAPI::AddRectangle(&rois, 2, 40, 30, 50, 40);
    EXPECT_DOUBLE_EQ(PlacementOverlap(frame, threshold, rois), 200.0 / 300.0);

    // Masks of another frame size measure nothing.
    CZtRLEPicBufAPI::Alloc(&rois, 32, 48, 16);
    CZtRLEPicBufAPI::AddRectangle(&rois, 1, 10, 10, 30, 20);
    EXPECT_EQ(PlacementOverlap(frame, threshold, rois), 0.0);
}

// A 12-bit camera frame: 100 grey values dark, 1100 where [left, right) x [top, bottom) is lit,
// with noise of about 20 grey values (a fixed pseudo-random sequence).
SZtPicBuf NoisyFrame(std::uint32_t width, std::uint32_t height, int left, int top, int right,
                     int bottom, std::uint32_t seed) {
    SZtPicBuf frame;
    CZtPicBufAPI::Alloc(&frame, width, height, 16, 1);
    frame.bitsPerComponent = 12;
    std::uint32_t state = seed;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>(state >> 24) % 69 - 34;  // -34..34: ~20 rms
            const bool lit = static_cast<int>(x) >= left && static_cast<int>(x) < right &&
                             static_cast<int>(y) >= top && static_cast<int>(y) < bottom;
            CZtPicBufAPI::SetValue(&frame, x, y,
                                   static_cast<std::uint32_t>((lit ? 1100 : 100) + noise));
        }
    }
    return frame;
}

// The field as the session draws it: a polygon in image pixels, clipped to the image.
SZtRLEPicBuf Field(std::uint32_t width, std::uint32_t height, double left, double top, double right,
                   double bottom) {
    SZtRLEPicBuf field;
    CZtRLEPicBufAPI::Alloc(&field, width, height, 16);
    const double corners[] = {left, top, right, top, right, bottom, left, bottom};
    CZtRLEPicBufAPI::AddPolygon(&field, 1, corners, 4);
    return field;
}

TEST(SessionMeasures, FieldCoverageHoldsWhereverTheFieldLies) {
    const SZtPicBuf dark = NoisyFrame(64, 48, 0, 0, 0, 0, 7);
    struct Case {
        const char* name;
        int left, top, right, bottom;  // the lit pixels, which the optics' field covers
    };
    for (const Case& c : {Case{"inside", 10, 8, 50, 40}, Case{"filling the image", 0, 0, 64, 48},
                          Case{"half outside", 32, -20, 120, 30}}) {
        SCOPED_TRACE(c.name);
        const SZtPicBuf on = NoisyFrame(64, 48, c.left, c.top, c.right, c.bottom, 11);
        EXPECT_DOUBLE_EQ(
            FieldCoverage(on, dark, 1000.0, Field(64, 48, c.left, c.top, c.right, c.bottom)), 1.0);
        // A field the optics put 4 pixels further right: only what is inside the image counts.
        const double inImage = std::min(c.right, 64) - std::max(c.left, 0);
        const double shifted = std::min(c.right + 4, 64) - std::max(c.left + 4, 0);
        const double common = std::min(c.right, 64) - std::max(c.left + 4, 0);
        EXPECT_NEAR(FieldCoverage(on, dark, 1000.0,
                                  Field(64, 48, c.left + 4, c.top, c.right + 4, c.bottom)),
                    common / (inImage + shifted - common), 1e-12);
    }
    // Where the field fills the image, one frame's histogram has a single class: its threshold
    // splits the noise, and only about half the field counts as lit.
    const SZtPicBuf full = NoisyFrame(64, 48, 0, 0, 64, 48, 11);
    EXPECT_LT(PlacementOverlap(full, LitThreshold(full), Field(64, 48, 0, 0, 64, 48)), 0.7);
    // No light at all covers nothing.
    EXPECT_EQ(FieldCoverage(dark, dark, 1000.0, Field(64, 48, 0, 0, 64, 48)), 0.0);
    // Frames of different sizes measure nothing.
    EXPECT_EQ(
        FieldCoverage(full, NoisyFrame(32, 48, 0, 0, 0, 0, 7), 1000.0, Field(64, 48, 0, 0, 64, 48)),
        0.0);
}

TEST(SessionMeasures, CalibrationFitIsReadFromTheDevicesLog) {
    const std::wstring prefix = L"Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: ";
    const DeviceCalibrationFit fit = ReadCalibrationFit({
        prefix + L"DMD point 7 [10.00, 20.00] mapped to camera point [1.00, 2.00]",
        prefix + L"Computing calibration matrices",
        prefix + L"Warning: only 7 of the 30 squares asked were found",
        prefix + L"Calibration fit: 6 pairs used of 7 squares found (30 asked); residual on its "
                 L"own pairs 0.031 px rms, 0.052 px max (camera pixels)",
        L"Verove Other: Warning: not the calibration's",
        prefix + L"Done",
    });
    EXPECT_EQ(fit.pairs, 6);
    EXPECT_DOUBLE_EQ(fit.rms, 0.031);
    EXPECT_DOUBLE_EQ(fit.max, 0.052);
    EXPECT_EQ(fit.warnings, QStringList{"only 7 of the 30 squares asked were found"});
    EXPECT_EQ(ReadCalibrationFit({prefix + L"Done"}).pairs, 0);
}

TEST(SessionMeasures, FrameImageStretchesDarkestToBlackAndBrightestToWhite) {
    const SZtPicBuf frame = Frame(16, 8, 300, 900, 4, 2, 8, 6);
    const QImage image = FrameImage(frame);
    ASSERT_EQ(image.size(), QSize(16, 8));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));  // 300, the darkest
    EXPECT_EQ(qGray(image.pixel(4, 2)), 255);     // 904, the brightest
    EXPECT_LT(qGray(image.pixel(5, 2)), 255);     // 901 is just below
    EXPECT_GT(qGray(image.pixel(5, 2)), qGray(image.pixel(1, 0)));
    EXPECT_TRUE(FrameImage(SZtPicBuf()).isNull());
}

}  // namespace
