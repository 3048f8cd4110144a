// Patterns: device frames of DMD- and camera-mapped patterns, their cache, the camera projection,
// the export of the DMD picture, and pattern files of every supported format.
#include <gtest/gtest.h>
#include <ipp.h>

#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "cztcalibrationdata.h"
#include "patterns.h"
#include "zthost/zthost.h"

namespace {

// The device as the calibration sees it: no grabber, so the camera is neither turned nor flipped.
class FakeOwner : public IZtCalibrationOwner {
public:
    CZtStringW GetUniqueName() override { return L"CZtStimulationDeviceVerove_0"; }
    CZtStringW GetSettingsFileName() override { return L"PatternTest.bin"; }
    IZtGrabberProvider* GetGrabberProvider() override { return nullptr; }
    bool HasDriver() override { return false; }
    int GetCurrentFormat(SZtGrabberFormatDesc*) override { return -1; }
    void SetCalibrated(EZtCalibrationState) override {}
};

SZtPicBuf Picture(std::uint32_t width, std::uint32_t height, std::uint8_t value = 0) {
    SZtPicBuf picture;
    CZtPicBufAPI::Alloc(&picture, width, height, 8, 1);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::memset(picture.Row(y), value, width);
    }
    return picture;
}

void Show(CZtPattern& pattern, const SZtPicBuf& bitmap) {
    pattern.SetBitmap(&bitmap);
}

// A DMD-mapped pattern of the given DMD size showing bitmap.
CZtPattern DmdPattern(std::uint32_t width, std::uint32_t height, const SZtPicBuf& bitmap) {
    CZtPattern pattern(L"P", width, height);
    pattern.SetBitmap(&bitmap);
    return pattern;
}

std::vector<std::uint8_t> Render(CZtPattern& pattern, std::uint32_t bitDepth, bool packed,
                                 const SZtGrabberFormatValue* format = nullptr,
                                 CZtCalibrationData* calibration = nullptr, int* status = nullptr) {
    const std::size_t mirrors = std::size_t{pattern.GetWidth()} * pattern.GetHeight();
    std::vector<std::uint8_t> frame(packed ? mirrors / 8 : mirrors, 0xCD);
    const int result = pattern.GetBitmap(frame.data(), bitDepth, packed, format, calibration);
    if (status) {
        *status = result;
    } else {
        EXPECT_EQ(result, 0);
    }
    return frame;
}

// Packs an 8-bit picture the way the device reads it, written out bit by bit: rows of width / 8
// bytes, so the last bits of a row whose width is no multiple of 8 share a byte with the next
// row's first ones; bits beyond the frame are dropped.
std::vector<std::uint8_t> PackedReference(const std::vector<std::uint8_t>& pixels, int width,
                                          int height) {
    std::vector<std::uint8_t> frame(std::size_t(width) * height / 8, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t byte = std::size_t(y) * (width / 8) + x / 8;
            if (pixels[y * width + x] != 0 && byte < frame.size()) {
                frame[byte] |= 0x80 >> (x % 8);
            }
        }
    }
    return frame;
}

SZtGrabberFormatValue Format(SZtRect sensor, SZtRect image, double binning) {
    SZtGrabberFormatValue format;
    format.sensorRect = sensor;
    format.imageRect = image;
    format.binningX = format.binningY = binning;
    return format;
}

// Camera- and DMD-sized 1:1: a calibration that maps mirror (x, y) onto camera pixel (x, y).
class IdentityCamera {
public:
    IdentityCamera(int width, int height)
        : calibration(&owner), format(Format({0, 0, width, height}, {0, 0, width, height}, 1.0)) {
        calibration.SetCalibrationCamToDMD({1, 0, 0, 0, 1, 0, 0, 0, 1});
    }
    FakeOwner owner;
    CZtCalibrationData calibration;
    SZtGrabberFormatValue format;
};

CZtPattern AreaPattern(std::uint32_t width, std::uint32_t height,
                       const std::vector<SZtStimulationArea>& areas, const SZtRLEPicBuf& mask) {
    CZtPattern pattern(L"S1", width, height);
    pattern.SetBitmap(nullptr);
    pattern.SetMapping(1);
    pattern.SetKind(0);
    EXPECT_EQ(pattern.SetStimulationAreas(areas, &mask), 0);
    return pattern;
}

SZtRLEPicBuf RectMask(std::uint32_t width, std::uint32_t height,
                      const std::vector<SZtRect>& rects) {
    SZtRLEPicBuf mask;
    CZtRLEPicBufAPI::Alloc(&mask, width, height, 8);
    for (std::size_t i = 0; i < rects.size(); ++i) {
        const SZtRect& r = rects[i];
        CZtRLEPicBufAPI::AddRectangle(&mask, static_cast<std::uint32_t>(i + 1), r.left, r.top,
                                      r.right, r.bottom);
    }
    return mask;
}

class Pattern : public ::testing::Test {
protected:
    void SetUp() override { zthost::ClearCapturedLog(); }
};

// ---- DMD-mapped patterns -----------------------------------------------------------------------

TEST_F(Pattern, SmallBitmapIsScaledByTwoOntoTheWholeDmd) {
    SZtPicBuf bitmap = Picture(400, 300);
    bitmap.Row(20)[10] = 200;
    bitmap.Row(299)[399] = 90;
    CZtPattern pattern = DmdPattern(800, 600, bitmap);
    const std::vector<std::uint8_t> frame = Render(pattern, 8, false);

    EXPECT_TRUE(zthost::LogContains(
        L"The pattern P does not fit the DMD chip and will be resized by a factor of 2.00."));
    std::vector<std::uint8_t> expected(800 * 600, 0);
    for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
            expected[(40 + dy) * 800 + 20 + dx] = 200;
            expected[(598 + dy) * 800 + 798 + dx] = 90;
        }
    }
    EXPECT_EQ(frame, expected);
}

TEST_F(Pattern, WideBitmapIsCentredVerticallyOnAClearedTarget) {
    // The first rendering fills the whole working picture; the narrower bitmap that replaces it
    // must not show any of it in the margins.
    CZtPattern pattern = DmdPattern(800, 600, Picture(800, 600, 255));
    Render(pattern, 8, false);
    Show(pattern, Picture(800, 300, 255));
    pattern.SetValid(false);
    const std::vector<std::uint8_t> frame = Render(pattern, 8, false);

    EXPECT_TRUE(zthost::LogContains(L"resized by a factor of 1.00."));
    for (int y = 0; y < 600; ++y) {
        const std::uint8_t want = (y >= 150 && y < 450) ? 255 : 0;
        ASSERT_EQ(frame[y * 800], want) << "row " << y;
        ASSERT_EQ(frame[y * 800 + 799], want) << "row " << y;
    }
}

TEST_F(Pattern, BitmapOfTheDmdSizeIsTakenAsItIs) {
    SZtPicBuf bitmap = Picture(16, 8);
    for (std::uint32_t i = 0; i < 16 * 8; ++i) {
        bitmap.data[i] = static_cast<std::uint8_t>(i * 2);
    }
    CZtPattern pattern = DmdPattern(16, 8, bitmap);
    const std::vector<std::uint8_t> frame = Render(pattern, 8, false);
    EXPECT_EQ(frame, std::vector<std::uint8_t>(bitmap.data, bitmap.data + 16 * 8));
    EXPECT_TRUE(zthost::CapturedLog().empty());
}

TEST_F(Pattern, GreyScaleDepthsKeepTheHighBits) {
    CZtPattern pattern = DmdPattern(8, 1, Picture(8, 1, 200));
    EXPECT_EQ(Render(pattern, 6, false)[0], 50);
    EXPECT_EQ(Render(pattern, 4, false)[0], 12);
    EXPECT_EQ(Render(pattern, 8, false)[0], 200);
}

TEST_F(Pattern, PackedFramePutsTheLeftmostMirrorInTheHighBit) {
    SZtPicBuf bitmap = Picture(800, 600);
    bitmap.Row(0)[9] = 255;
    bitmap.Row(1)[0] = 255;
    bitmap.Row(599)[799] = 255;
    CZtPattern pattern = DmdPattern(800, 600, bitmap);
    const std::vector<std::uint8_t> frame = Render(pattern, 1, true);

    ASSERT_EQ(frame.size(), 800u * 600 / 8);
    std::vector<std::uint8_t> expected(frame.size(), 0);
    expected[1] = 0x40;
    expected[100] = 0x80;
    expected[expected.size() - 1] = 0x01;
    EXPECT_EQ(frame, expected);

    // Unpacked 1-bit frames keep one byte per mirror and the bits at the start of each row.
    const std::vector<std::uint8_t> unpacked = Render(pattern, 1, false);
    ASSERT_EQ(unpacked.size(), 800u * 600);
    EXPECT_EQ(unpacked[1], 0x40);
    EXPECT_EQ(unpacked[800], 0x80);
    EXPECT_EQ(unpacked[599 * 800 + 99], 0x01);
}

TEST_F(Pattern, PackedRowsOfAnyWidthSetTheBitsOfTheirLitMirrors) {
    // Widths on both sides of the eight-pixel steps, most of them no multiple of 8.
    std::mt19937 random(5);
    for (const int width : {8, 13, 16, 21, 61, 64, 100, 803}) {
        constexpr int kHeight = 5;
        SZtPicBuf bitmap = Picture(width, kHeight);
        std::vector<std::uint8_t> pixels;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < width; ++x) {
                bitmap.Row(y)[x] = random() % 2 ? 255 : 0;
                pixels.push_back(bitmap.Row(y)[x]);
            }
        }
        CZtPattern pattern = DmdPattern(width, kHeight, bitmap);
        pattern.SetDitheringMethod(0);
        EXPECT_EQ(Render(pattern, 1, true), PackedReference(pixels, width, kHeight))
            << "width " << width;
    }
}

TEST_F(Pattern, EachDitheringMethodUsesItsReduction) {
    // A grey ramp, reduced independently with the IPP type each index stands for.
    constexpr int kWidth = 61;
    constexpr int kHeight = 16;
    SZtPicBuf bitmap = Picture(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            bitmap.Row(y)[x] = static_cast<std::uint8_t>((x * 4 + y * 3) % 256);
        }
    }
    const IppiDitherType types[] = {ippDitherNone, ippDitherStucki, ippDitherFS, ippDitherJJN,
                                    ippDitherBayer};
    std::set<std::vector<std::uint8_t>> distinct;
    for (std::uint32_t method = 0; method < 5; ++method) {
        std::vector<std::uint8_t> reduced(kWidth * kHeight);
        int size = 0;
        ASSERT_EQ(ippiReduceBitsGetBufferSize(ippC1, {kWidth, kHeight}, 0, types[method], &size),
                  ippStsNoErr);
        std::vector<Ipp8u> buffer(size);
        ASSERT_EQ(ippiReduceBits_8u_C1R(bitmap.data, kWidth, reduced.data(), kWidth,
                                        {kWidth, kHeight}, 0, types[method], 2, buffer.data()),
                  ippStsNoErr);

        CZtPattern pattern = DmdPattern(kWidth, kHeight, bitmap);
        pattern.SetDitheringMethod(method);
        const std::vector<std::uint8_t> frame = Render(pattern, 1, true);
        EXPECT_EQ(frame, PackedReference(reduced, kWidth, kHeight)) << "method " << method;
        distinct.insert(frame);
    }
    EXPECT_EQ(distinct.size(), 5u);
}

TEST_F(Pattern, BayerDitherOfFlatGreyIsACheckerboardLitAtTheOrigin) {
    CZtPattern pattern = DmdPattern(16, 4, Picture(16, 4, 128));
    pattern.SetDitheringMethod(4);
    EXPECT_EQ(Render(pattern, 1, true),
              (std::vector<std::uint8_t>{0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55}));
    pattern.SetDitheringMethod(0);
    pattern.SetValid(false);
    EXPECT_EQ(Render(pattern, 1, true), std::vector<std::uint8_t>(8, 0xFF));
}

TEST_F(Pattern, SecondCallCopiesTheCachedFrame) {
    SZtPicBuf bitmap = Picture(16, 2);
    bitmap.Row(0)[3] = 255;
    CZtPattern pattern = DmdPattern(16, 2, bitmap);
    const std::vector<std::uint8_t> first = Render(pattern, 1, true);
    EXPECT_TRUE(pattern.IsValid());
    EXPECT_TRUE(pattern.IsRenderedFor(1, true));

    // A new source without invalidation: the cache answers, and fills the whole frame.
    Show(pattern, Picture(16, 2, 255));
    EXPECT_EQ(Render(pattern, 1, true), first);

    // Another packing renders again, from the new source.
    EXPECT_FALSE(pattern.IsRenderedFor(1, false));
    const std::vector<std::uint8_t> unpacked = Render(pattern, 1, false);
    EXPECT_EQ(unpacked[0], 0xFF);
    EXPECT_TRUE(pattern.IsRenderedFor(1, false));
    EXPECT_FALSE(pattern.IsRenderedFor(1, true));

    pattern.SetValid(false);
    EXPECT_EQ(Render(pattern, 1, true), std::vector<std::uint8_t>(4, 0xFF));
}

TEST_F(Pattern, UnsupportedBitDepthIsRefusedAndDropsTheCache) {
    CZtPattern pattern = DmdPattern(16, 2, Picture(16, 2));
    Render(pattern, 1, true);
    ASSERT_TRUE(pattern.IsValid());

    int status = 0;
    std::vector<std::uint8_t> frame = Render(pattern, 2, true, nullptr, nullptr, &status);
    EXPECT_EQ(status, -9);
    EXPECT_EQ(frame, std::vector<std::uint8_t>(4, 0xCD));
    EXPECT_FALSE(pattern.IsValid());

    // The next call renders again, so it shows a source changed in between.
    Show(pattern, Picture(16, 2, 255));
    EXPECT_EQ(Render(pattern, 1, true), std::vector<std::uint8_t>(4, 0xFF));

    std::uint8_t* none = nullptr;
    EXPECT_EQ(pattern.GetBitmap(none, 1, true, nullptr, nullptr), -6);
}

TEST_F(Pattern, WithoutSourceNothingIsRendered) {
    CZtPattern pattern(L"Empty", 16, 2);
    pattern.SetBitmap(nullptr);
    int status = -1;
    EXPECT_EQ(Render(pattern, 1, true, nullptr, nullptr, &status),
              std::vector<std::uint8_t>(4, 0xCD));
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(pattern.IsValid());

    // A camera-mapped area pattern before any area was set.
    pattern.SetMapping(1);
    pattern.SetKind(0);
    IdentityCamera camera(16, 2);
    EXPECT_EQ(Render(pattern, 8, false, &camera.format, &camera.calibration, &status),
              std::vector<std::uint8_t>(32, 0xCD));
    EXPECT_EQ(status, 0);
}

// ---- Stimulation areas -------------------------------------------------------------------------

TEST_F(Pattern, IdenticalAreasKeepTheCacheAndChangedOnesDropIt) {
    const SZtRLEPicBuf mask = RectMask(16, 4, {{0, 0, 8, 2}, {8, 2, 16, 4}});
    std::vector<SZtStimulationArea> areas = {{0, 100, 100}, {2, 20, 80}};
    CZtPattern pattern(L"S1", 16, 4);
    pattern.SetMapping(1);
    pattern.SetKind(0);
    EXPECT_EQ(pattern.GetStimulationAreas(nullptr), -9);
    EXPECT_FALSE(pattern.HasStimulationAreas());
    EXPECT_EQ(pattern.SetStimulationAreas(areas, nullptr), -4);

    ASSERT_EQ(pattern.SetStimulationAreas(areas, &mask), 0);
    EXPECT_TRUE(pattern.HasStimulationAreas());
    IdentityCamera camera(16, 4);
    Render(pattern, 1, true, &camera.format, &camera.calibration);
    ASSERT_TRUE(pattern.IsValid());

    EXPECT_EQ(pattern.SetStimulationAreas(areas, &mask), 0);
    EXPECT_TRUE(pattern.IsValid());

    std::vector<SZtStimulationArea> changed = areas;
    changed[1].secondIntensity = 81;
    EXPECT_EQ(pattern.SetStimulationAreas(changed, &mask), 0);
    EXPECT_FALSE(pattern.IsValid());
    std::vector<SZtStimulationArea> stored;
    EXPECT_EQ(pattern.GetStimulationAreas(&stored), 0);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[1].secondIntensity, 81);

    const auto dropsCache = [&](const std::vector<SZtStimulationArea>& list,
                                const SZtRLEPicBuf& withMask) {
        pattern.SetStimulationAreas(changed, &mask);
        Render(pattern, 1, true, &camera.format, &camera.calibration);
        pattern.SetStimulationAreas(list, &withMask);
        return !pattern.IsValid();
    };
    std::vector<SZtStimulationArea> otherMode = changed;
    otherMode[0].intensityMode = 1;
    std::vector<SZtStimulationArea> otherIntensity = changed;
    otherIntensity[0].intensity = 99;
    EXPECT_TRUE(dropsCache(otherMode, mask));
    EXPECT_TRUE(dropsCache(otherIntensity, mask));
    EXPECT_TRUE(dropsCache({changed[0]}, mask));
    EXPECT_TRUE(dropsCache(changed, RectMask(16, 4, {{0, 0, 8, 2}, {8, 2, 15, 4}})));
    EXPECT_FALSE(dropsCache(changed, mask));
}

TEST_F(Pattern, AreaIntensityModesFillTheirAreas) {
    // One 10 x 4 area per mode, side by side; mirror (x, y) shows camera pixel (x, y).
    constexpr int kWidth = 80;
    constexpr int kHeight = 8;
    std::vector<SZtRect> rects;
    for (int i = 0; i < 7; ++i) {
        rects.push_back({i * 10, 2, i * 10 + 10, 6});
    }
    const std::vector<SZtStimulationArea> areas = {
        {0, 10, 10}, {1, 50, 0}, {2, 20, 80}, {3, 20, 80}, {4, 20, 80}, {5, 20, 80}, {6, 50, 50}};
    CZtPattern pattern = AreaPattern(kWidth, kHeight, areas, RectMask(kWidth, kHeight, rects));
    IdentityCamera camera(kWidth, kHeight);
    const std::vector<std::uint8_t> frame =
        Render(pattern, 8, false, &camera.format, &camera.calibration);
    const auto at = [&](int x, int y) { return int(frame[y * kWidth + x]); };

    EXPECT_EQ(at(0, 1), 0);
    EXPECT_EQ(at(0, 2), 255);
    EXPECT_EQ(at(9, 5), 255);
    EXPECT_EQ(at(15, 3), 127);  // 50 % of 255, truncated
    // Gradients from lo = 51 to hi = 204 over a box 10 wide and 4 high.
    EXPECT_EQ(at(20, 2), 51);
    EXPECT_EQ(at(25, 2), 127);  // t = 0.5
    EXPECT_EQ(at(29, 2), 188);  // t = 0.9: 51 + 137.7
    EXPECT_EQ(at(30, 2), 204);
    EXPECT_EQ(at(39, 2), 66);  // t = 0.1
    EXPECT_EQ(at(40, 2), 51);
    EXPECT_EQ(at(40, 5), 165);  // t = 0.75: 51 + 114.75
    EXPECT_EQ(at(50, 2), 204);
    EXPECT_EQ(at(50, 5), 89);  // t = 0.25: 51 + 38.25
    EXPECT_EQ(at(65, 3), 0);   // unknown mode: left as it was

    // A second intensity below the first flattens the gradient; a flat intensity above 100 %
    // saturates.
    CZtPattern flat = AreaPattern(kWidth, kHeight, {{2, 80, 20}, {1, 150, 0}},
                                  RectMask(kWidth, kHeight, {{0, 0, 10, 8}, {10, 0, 20, 8}}));
    const std::vector<std::uint8_t> flatFrame =
        Render(flat, 8, false, &camera.format, &camera.calibration);
    EXPECT_EQ(flatFrame[0], 51);
    EXPECT_EQ(flatFrame[9], 51);
    EXPECT_EQ(flatFrame[15], 255);

    // Grey-scale depths shift the area values as they do bitmap values.
    pattern.SetValid(false);
    EXPECT_EQ(Render(pattern, 6, false, &camera.format, &camera.calibration)[25 + 2 * kWidth],
              127 >> 2);
}

TEST_F(Pattern, CameraMappedPatternNeedsFormatAndCalibration) {
    CZtPattern pattern = AreaPattern(16, 4, {{0, 100, 100}}, RectMask(16, 4, {{0, 0, 4, 4}}));
    IdentityCamera camera(16, 4);
    int status = 0;
    Render(pattern, 1, true, nullptr, &camera.calibration, &status);
    EXPECT_EQ(status, -9);
    Render(pattern, 1, true, &camera.format, nullptr, &status);
    EXPECT_EQ(status, -9);
    EXPECT_FALSE(pattern.IsValid());
    EXPECT_EQ(Render(pattern, 1, true, &camera.format, &camera.calibration),
              (std::vector<std::uint8_t>{0xF0, 0x00, 0xF0, 0x00, 0xF0, 0x00, 0xF0, 0x00}));
}

// The calibration of a DMD that sees a binned camera ROI scaled, turned and moved: mirror (x, y)
// lands on sensor point D (x, y, 1), shown on image pixel ((sx - 100) / 2, (sy - 60) / 2).
struct TurnedCamera {
    TurnedCamera() : calibration(&owner) {
        const double angle = 20.0 * M_PI / 180.0;
        const double scale = 2.3;
        const double c = std::cos(angle) * scale;
        const double s = std::sin(angle) * scale;
        dmdToSensor = {c, -s, 180.0, s, c, 20.0, 0, 0, 1};
        // The calibration stores camera -> DMD: the inverse of the affine map above.
        const double det = c * c + s * s;
        const double ic = c / det;
        const double is = s / det;
        calibration.SetCalibrationCamToDMD(
            {ic, is, -(ic * 180.0 + is * 20.0), -is, ic, -(-is * 180.0 + ic * 20.0), 0, 0, 1});
        calibration.SetCameraRect(roi);
        format = Format({0, 0, 640, 480}, roi, 2.0);
    }
    // Image pixel a mirror shows, rounded half away from zero.
    // The displayed pixel the centre of mirror (x, y) lands on.
    std::pair<long, long> ImagePixel(int x, int y) const {
        const double cx = x + 0.5, cy = y + 0.5;
        const double sx = dmdToSensor[0] * cx + dmdToSensor[1] * cy + dmdToSensor[2];
        const double sy = dmdToSensor[3] * cx + dmdToSensor[4] * cy + dmdToSensor[5];
        return {std::lround(std::floor((sx - roi.left) / 2.0)),
                std::lround(std::floor((sy - roi.top) / 2.0))};
    }

    FakeOwner owner;
    CZtCalibrationData calibration;
    SZtRect roi = {100, 60, 500, 360};
    CZtMatrix3 dmdToSensor;
    SZtGrabberFormatValue format;
};

TEST_F(Pattern, CameraMappedAreasLightExactlyTheMirrorsThatSeeThem) {
    constexpr int kWidth = 160;
    constexpr int kHeight = 120;
    TurnedCamera camera;
    SZtRLEPicBuf mask;
    CZtRLEPicBufAPI::Alloc(&mask, 200, 150, 8);
    CZtRLEPicBufAPI::AddRectangle(&mask, 1, 30, 20, 90, 70);
    const double triangle[] = {120, 30, 190, 60, 110, 140};
    CZtRLEPicBufAPI::AddPolygon(&mask, 2, triangle, 3);
    SZtPicBuf maskPicture;
    ASSERT_EQ(CZtRLEPicBufAPI::ToPicture(&mask, &maskPicture), 0);
    CZtPattern pattern = AreaPattern(kWidth, kHeight, {{0, 100, 100}, {0, 100, 100}}, mask);

    std::vector<std::uint8_t> expected(kWidth * kHeight, 0);
    int lit = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const auto [u, v] = camera.ImagePixel(x, y);
            if (u >= 0 && u < 200 && v >= 0 && v < 150 && maskPicture.Row(v)[u] != 0) {
                expected[y * kWidth + x] = 255;
                ++lit;
            }
        }
    }
    ASSERT_GT(lit, 500);
    ASSERT_LT(lit, kWidth * kHeight / 2);

    EXPECT_EQ(Render(pattern, 8, false, &camera.format, &camera.calibration), expected);
    EXPECT_EQ(Render(pattern, 1, true, &camera.format, &camera.calibration),
              PackedReference(expected, kWidth, kHeight));
}

TEST_F(Pattern, CameraMappedBitmapOfTheBinnedRoiSizeIsMappedAsItIs) {
    TurnedCamera camera;
    SZtPicBuf bitmap = Picture(200, 150);
    for (int y = 40; y < 100; ++y) {
        std::memset(bitmap.Row(y) + 50, 255, 80);
    }
    CZtPattern pattern(L"File", 160, 120);
    pattern.SetBitmap(&bitmap);
    pattern.SetMapping(1);
    pattern.SetKind(1);
    const std::vector<std::uint8_t> frame =
        Render(pattern, 8, false, &camera.format, &camera.calibration);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            const auto [u, v] = camera.ImagePixel(x, y);
            const bool inside = u >= 50 && u < 130 && v >= 40 && v < 100;
            ASSERT_EQ(frame[y * 160 + x], inside ? 255 : 0) << x << ", " << y;
        }
    }
    EXPECT_FALSE(zthost::LogContains(L"does not fit the DMD chip"));

    // Any other size is fitted to the unbinned ROI.
    Show(pattern, Picture(100, 75, 255));
    pattern.SetValid(false);
    Render(pattern, 8, false, &camera.format, &camera.calibration);
    EXPECT_TRUE(zthost::LogContains(
        L"The pattern File does not fit the DMD chip and will be resized by a factor of 4.00."));
}

// ---- Renders against the plain path ------------------------------------------------------------

// The camera picture of a mask's areas, pixel by pixel, as the intensity modes define it.
std::vector<std::uint8_t> PlainAreaPicture(const SZtRLEPicBuf& mask,
                                           const std::vector<SZtStimulationArea>& areas) {
    std::vector<std::uint8_t> picture(std::size_t{mask.width} * mask.height, 0);
    for (std::size_t i = 0; i < areas.size() && i < mask.objects.size(); ++i) {
        std::int32_t left, top, right, bottom;
        const SZtStimulationArea& a = areas[i];
        if (CZtRLEPicBufAPI::GetBoundingBox(&mask, int(i), &left, &top, &right, &bottom) != 0 ||
            right <= left || a.intensityMode > 5) {
            continue;
        }
        const double hi = std::min(a.secondIntensity * 2.55, 255.0);
        const double lo = std::min(hi, a.intensity * 2.55);
        const auto level = [&](double t) {
            return std::uint8_t(
                std::clamp(std::trunc(std::min(t * (hi - lo) + lo, 255.0)), 0.0, 255.0));
        };
        for (const SZtRLERun& run : mask.objects[i].runs) {
            for (int x = run.x; x < run.x + run.length; ++x) {
                const double tx = double(x - left) / (right - left);
                const double ty = double(run.y - top) / (bottom - top);
                const double flat = std::min(a.intensity / 100.0 * 255.0, 255.0);
                const std::uint8_t values[] = {255,       std::uint8_t(std::trunc(flat)),
                                               level(tx), level(1.0 - tx),
                                               level(ty), level(1.0 - ty)};
                picture[std::size_t(run.y) * mask.width + x] = values[a.intensityMode];
            }
        }
    }
    return picture;
}

// The 1-bit frame of a grey DMD picture: the whole picture reduced, then packed bit by bit.
std::vector<std::uint8_t> PlainFrame(std::vector<std::uint8_t> grey, int width, int height,
                                     std::uint32_t method, bool packed) {
    const IppiDitherType types[] = {ippDitherNone, ippDitherStucki, ippDitherFS, ippDitherJJN,
                                    ippDitherBayer};
    if (std::any_of(grey.begin(), grey.end(), [](int v) { return v != 0 && v != 255; })) {
        int size = 0;
        ippiReduceBitsGetBufferSize(ippC1, {width, height}, 0, types[method], &size);
        std::vector<Ipp8u> buffer(size);
        std::vector<std::uint8_t> reduced(grey.size());
        ippiReduceBits_8u_C1R(grey.data(), width, reduced.data(), width, {width, height}, 0,
                              types[method], 2, buffer.data());
        grey = reduced;
    }
    const std::size_t rowBytes = packed ? width / 8 : width;
    std::vector<std::uint8_t> frame(std::size_t(width) * height / (packed ? 8 : 1), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (grey[std::size_t(y) * width + x] != 0 && y * rowBytes + x / 8 < frame.size()) {
                frame[y * rowBytes + x / 8] |= 0x80 >> (x % 8);
            }
        }
    }
    return frame;
}

// Seeded scenes of every pattern kind, at sizes that are no multiples of the vector widths, each
// rendered again and again on one pattern (its kept buffers hold the last scene's pixels) with
// every dithering method, against the plain path.
TEST_F(Pattern, RendersEqualThePlainPathOnSeededScenes) {
    std::mt19937 random(24);
    const auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    for (int scene = 0; scene < 40; ++scene) {
        const int width = uniform(9, 107);
        const int height = uniform(3, 77);
        IdentityCamera camera(width, height);
        const int kind = scene % 3;  // areas on the camera, bitmap on the camera, DMD bitmap
        CZtPattern pattern(L"P", width, height);
        std::vector<std::uint8_t> grey;
        for (int round = 0; round < 3; ++round) {
            if (kind == 0) {
                SZtRLEPicBuf mask;
                CZtRLEPicBufAPI::Alloc(&mask, width, height, 8);
                std::vector<SZtStimulationArea> areas;
                const int count = uniform(1, 4);
                for (int i = 0; i < count; ++i) {
                    const int left = uniform(0, width - 2);
                    const int top = uniform(0, height - 2);
                    CZtRLEPicBufAPI::AddRectangle(&mask, i + 1, left, top, uniform(left + 1, width),
                                                  uniform(top + 1, height));
                    areas.push_back({std::uint32_t(uniform(0, 6)), uniform(0, 1200) / 10.0,
                                     uniform(0, 1200) / 10.0});
                }
                pattern = AreaPattern(width, height, areas, mask);
                grey = PlainAreaPicture(mask, areas);
            } else {
                // Dark rows above and below a grey or two-level band.
                SZtPicBuf bitmap = Picture(width, height);
                const int top = uniform(0, height - 1);
                const int bottom = uniform(top + 1, height);
                const bool twoLevels = uniform(0, 3) == 0;
                for (int y = top; y < bottom; ++y) {
                    for (int x = 0; x < width; ++x) {
                        bitmap.Row(y)[x] = twoLevels ? 255 * uniform(0, 1) : uniform(0, 255);
                    }
                }
                pattern.SetMapping(kind == 1 ? 1 : 0);
                pattern.SetKind(1);
                pattern.SetBitmap(&bitmap);
                grey.assign(bitmap.data, bitmap.data + std::size_t(width) * height);
            }
            pattern.SetValid(false);
            ASSERT_EQ(Render(pattern, 8, false, &camera.format, &camera.calibration), grey)
                << "scene " << scene;
            for (std::uint32_t method = 0; method < 5; ++method) {
                const bool packed = method != 3;
                pattern.SetDitheringMethod(method);
                pattern.SetValid(false);
                EXPECT_EQ(Render(pattern, 1, packed, &camera.format, &camera.calibration),
                          PlainFrame(grey, width, height, method, packed))
                    << "scene " << scene << " round " << round << " method " << method;
            }
        }
    }
}

// Seeded mappings (quarter turns, mirrorings, scales of a half, one, two and odd ones, shifts that
// put coordinates on or a hair beside pixel edges) on every vector path, against each mirror's
// double coordinates rounded one by one.
TEST_F(Pattern, MapNearestTakesTheSourcePixelOfEachMirrorsRoundedCoordinates) {
    std::mt19937 random(2424);
    const auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(random);
    };
    const auto pick = [&](std::initializer_list<double> values) {
        return values
            .begin()[std::uniform_int_distribution<std::size_t>(0, values.size() - 1)(random)];
    };
    for (int mapping = 0; mapping < 60; ++mapping) {
        const int sourceWidth = int(uniform(5, 160));
        const int sourceHeight = int(uniform(5, 120));
        SZtPicBuf source = Picture(std::uint32_t(sourceWidth), std::uint32_t(sourceHeight));
        for (int y = 0; y < sourceHeight; ++y) {
            for (int x = 0; x < sourceWidth; ++x) {
                source.Row(std::uint32_t(y))[x] = std::uint8_t(random());
            }
        }
        const double angle =
            mapping % 2 ? pick({0.0, 90.0, 180.0, 270.0}) * M_PI / 180.0 : uniform(0, 2 * M_PI);
        const double scale = pick({0.5, 1.0, 2.0, 1.5, uniform(0.3, 3.0)});
        const double mirror = pick({1.0, -1.0});
        const double edge = pick({0.0, 0.5, 0.5 + 1e-13, 0.5 - 1e-13, uniform(0, 1)});
        const double m[9] = {scale * std::cos(angle),
                             -scale * std::sin(angle) * mirror,
                             std::round(uniform(-40, sourceWidth + 40)) + edge,
                             scale * std::sin(angle),
                             scale * std::cos(angle) * mirror,
                             std::round(uniform(-40, sourceHeight + 40)) + edge,
                             0,
                             0,
                             1};
        const int width = int(uniform(9, 200));
        const int height = int(uniform(3, 90));
        std::vector<std::uint8_t> expected(std::size_t(width) * height, 0);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const double u = (m[1] * y + m[2]) + m[0] * x;
                const double v = (m[4] * y + m[5]) + m[3] * x;
                if (u > -0.5 && u < sourceWidth - 0.5 && v > -0.5 && v < sourceHeight - 0.5) {
                    expected[std::size_t(y) * width + x] =
                        source.Row(std::uint32_t(v + 0.5))[int(u + 0.5)];
                }
            }
        }
        for (const int bits : {512, 256, 0}) {
            CZtPattern::SetMappingVectorBits(bits);
            SZtPicBuf target = Picture(std::uint32_t(width), std::uint32_t(height), 0xCD);
            CZtPattern::MapNearest(source, m, &target);
            std::vector<std::uint8_t> mapped;
            for (int y = 0; y < height; ++y) {
                mapped.insert(mapped.end(), target.Row(std::uint32_t(y)),
                              target.Row(std::uint32_t(y)) + width);
            }
            EXPECT_EQ(mapped, expected) << "mapping " << mapping << ", " << bits << " bits";
        }
    }
    CZtPattern::SetMappingVectorBits(512);
}

// ---- Projection onto the camera ----------------------------------------------------------------

TEST_F(Pattern, ProjectionRefusesMissingArgumentsWithTheirLogLines) {
    CZtPattern pattern = DmdPattern(16, 8, Picture(16, 8, 255));
    const SZtGrabberFormatValue format = Format({0, 0, 32, 16}, {0, 0, 32, 16}, 1.0);
    const std::vector<double> identity = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    SZtPicBuf picture;
    EXPECT_EQ(pattern.GetProjectionToCameraSpace(nullptr, &format, 0, identity, nullptr), -6);
    EXPECT_TRUE(zthost::LogContains(L"No destination picbuf, aborting..."));
    EXPECT_EQ(pattern.GetProjectionToCameraSpace(&picture, nullptr, 0, identity, nullptr), -6);
    EXPECT_TRUE(zthost::LogContains(L"No grabber format, aborting..."));
    EXPECT_EQ(
        pattern.GetProjectionToCameraSpace(&picture, &format, 0, {1, 0, 0, 0, 1, 0, 0, 0}, nullptr),
        -6);
    EXPECT_TRUE(zthost::LogContains(L"No calibration data, aborting..."));

    // Camera-mapped patterns need no matrix, but an area pattern needs its mask.
    pattern.SetMapping(1);
    pattern.SetKind(0);
    EXPECT_EQ(pattern.GetProjectionToCameraSpace(&picture, &format, 0, {}, nullptr), -9);
}

TEST_F(Pattern, DmdPatternIsProjectedWhereTheCalibrationPutsIt) {
    SZtPicBuf bitmap = Picture(100, 80);
    for (int y = 10; y < 20; ++y) {
        std::memset(bitmap.Row(y) + 20, 255, 10);
    }
    CZtPattern pattern = DmdPattern(100, 80, bitmap);
    // Mirror (x, y) lands on sensor point (2x + 30, 2y + 40).
    const std::vector<double> dmdToSensor = {2, 0, 30, 0, 2, 40, 0, 0, 1};
    const SZtGrabberFormatValue format = Format({0, 0, 400, 300}, {0, 0, 400, 300}, 1.0);
    SZtPicBuf picture;
    ASSERT_EQ(pattern.GetProjectionToCameraSpace(&picture, &format, 0, dmdToSensor, nullptr), 0);
    ASSERT_EQ(picture.width, 400u);
    ASSERT_EQ(picture.height, 300u);
    // Camera pixel (x, y) shows sensor point (x, y) times the binning: lit where that falls on
    // a mirror of the block.
    const auto expectBlock = [&](int binning) {
        int lit = 0;
        for (int y = 0; y < int(picture.height); ++y) {
            for (int x = 0; x < int(picture.width); ++x) {
                // The mirror under the pixel's centre.
                const long mx = std::lround(std::floor(((x + 0.5) * binning - 30) / 2.0));
                const long my = std::lround(std::floor(((y + 0.5) * binning - 40) / 2.0));
                const bool inside = mx >= 20 && mx < 30 && my >= 10 && my < 20;
                ASSERT_EQ(picture.Row(y)[x], inside ? 255 : 0) << x << ", " << y;
                lit += inside;
            }
        }
        EXPECT_EQ(lit, 400 / (binning * binning));
    };
    expectBlock(1);

    const SZtGrabberFormatValue binned = Format({0, 0, 400, 300}, {0, 0, 400, 300}, 2.0);
    ASSERT_EQ(pattern.GetProjectionToCameraSpace(&picture, &binned, 0, dmdToSensor, nullptr), 0);
    ASSERT_EQ(picture.width, 200u);
    ASSERT_EQ(picture.height, 150u);
    expectBlock(2);

    // A quarter turn shows the sensor on its side.
    ASSERT_EQ(pattern.GetProjectionToCameraSpace(&picture, &format, 90, dmdToSensor, nullptr), 0);
    EXPECT_EQ(picture.width, 300u);
    EXPECT_EQ(picture.height, 400u);
}

TEST_F(Pattern, CameraPatternsProjectTheirMaskOrFittedBitmap) {
    const SZtGrabberFormatValue format = Format({0, 0, 64, 32}, {0, 0, 64, 32}, 1.0);
    CZtPattern area = AreaPattern(16, 8, {{1, 10, 10}}, RectMask(64, 32, {{4, 2, 8, 6}}));
    SZtPicBuf picture;
    ASSERT_EQ(area.GetProjectionToCameraSpace(&picture, &format, 0, {}, nullptr), 0);
    ASSERT_EQ(picture.width, 64u);
    EXPECT_EQ(picture.Row(2)[4], 255);
    EXPECT_EQ(picture.Row(6)[4], 0);

    CZtPattern file(L"F", 16, 8);
    Show(file, Picture(32, 8, 255));
    file.SetMapping(1);
    file.SetKind(1);
    ASSERT_EQ(file.GetProjectionToCameraSpace(&picture, &format, 0, {}, nullptr), 0);
    EXPECT_TRUE(zthost::LogContains(
        L"The pattern F does not fit the camera chip and will be resized by a factor of 2.00."));
    ASSERT_EQ(picture.width, 64u);
    ASSERT_EQ(picture.height, 32u);
    EXPECT_EQ(picture.Row(7)[0], 0);
    EXPECT_EQ(picture.Row(8)[0], 255);
    EXPECT_EQ(picture.Row(23)[63], 255);
    EXPECT_EQ(picture.Row(24)[63], 0);
}

// ---- Export ------------------------------------------------------------------------------------

TEST_F(Pattern, SaveTransformedWritesTheUnditheredDmdPicture) {
    QTemporaryDir dir;
    const std::wstring path = dir.filePath("dmd.tif").toStdWString();
    CZtPattern dmd = DmdPattern(16, 8, Picture(16, 8, 255));
    IdentityCamera camera(32, 8);
    EXPECT_EQ(dmd.SaveTransformed(path.c_str(), &camera.format, &camera.calibration), -9);
    EXPECT_TRUE(zthost::LogContains(L"Output filepath = " + path));
    EXPECT_TRUE(zthost::LogContains(L"Only camera mapping supported - aborting"));

    CZtPattern pattern = AreaPattern(32, 8, {{2, 0, 100}}, RectMask(32, 8, {{0, 0, 32, 8}}));
    EXPECT_EQ(pattern.SaveTransformed(path.c_str(), nullptr, &camera.calibration), -9);
    zthost::ClearCapturedLog();
    ASSERT_EQ(pattern.SaveTransformed(path.c_str(), &camera.format, &camera.calibration), 0);
    EXPECT_TRUE(zthost::LogContains(L"Saving DMD pattern to " + path));

    SZtPicBuf saved;
    ASSERT_EQ(ZT_LoadPictureFromFile(path.c_str(), &saved), 0);
    ASSERT_EQ(saved.width, 32u);
    ASSERT_EQ(saved.height, 8u);
    ASSERT_EQ(saved.bitsPerComponent, 8u);
    for (int x = 0; x < 32; ++x) {
        EXPECT_EQ(saved.Row(3)[x], static_cast<int>(x / 32.0 * 255.0)) << x;
    }
}

// ---- Copies ------------------------------------------------------------------------------------

TEST_F(Pattern, CopyTakesTheContentButNotTheFileOrTheCache) {
    CZtPattern original = AreaPattern(16, 4, {{1, 50, 60}}, RectMask(16, 4, {{0, 0, 8, 4}}));
    Show(original, Picture(16, 4, 7));
    original.SetName(L"Original");
    original.SetFilePath(L"/data/original.tif");
    original.SetId(9);
    original.SetDebugDeviceMemory(true);
    original.SetDitheringMethod(4);
    IdentityCamera camera(16, 4);
    const std::vector<std::uint8_t> rendered =
        Render(original, 8, false, &camera.format, &camera.calibration);

    CZtPattern copy(original);
    EXPECT_EQ(copy.GetName(), L"Original");
    EXPECT_TRUE(copy.GetFilePath().IsEmpty());
    EXPECT_EQ(copy.GetId(), 9u);
    EXPECT_EQ(copy.GetMapping(), 1u);
    EXPECT_EQ(copy.GetKind(), 0u);
    EXPECT_TRUE(copy.HasStimulationAreas());
    EXPECT_TRUE(copy.IsValid());
    EXPECT_TRUE(copy.GetDebugDeviceMemory());
    EXPECT_EQ(copy.GetDitheringMethod(), 1u);
    EXPECT_EQ(copy.GetWidth(), 16u);
    EXPECT_EQ(copy.GetHeight(), 4u);
    EXPECT_FALSE(copy.IsRenderedFor(8, false));  // no frame came with it
    EXPECT_EQ(copy.GetBitmapPicture().data[0], 7);

    // The copy owns its pictures: changing the original's areas leaves the copy's rendering.
    const SZtRLEPicBuf wider = RectMask(16, 4, {{0, 0, 16, 4}});
    original.SetStimulationAreas({{1, 100, 100}}, &wider);
    original.SetBitmap(nullptr);
    EXPECT_EQ(Render(copy, 8, false, &camera.format, &camera.calibration), rendered);
    EXPECT_EQ(copy.GetBitmapPicture().data[0], 7);
}

// ---- Pattern files -----------------------------------------------------------------------------

class PatternFile : public Pattern {
protected:
    // Saves a 4 x 2 picture of the given format whose pixels come from values (component-wise).
    std::wstring Write(const char* name, std::uint32_t bits, std::uint32_t components,
                       const std::vector<std::uint32_t>& values) {
        SZtPicBuf picture;
        EXPECT_EQ(CZtPicBufAPI::Alloc(&picture, 4, 2, bits, components), 0);
        for (std::uint32_t i = 0; i < 8; ++i) {
            for (std::uint32_t c = 0; c < components; ++c) {
                CZtPicBufAPI::SetValue(&picture, i % 4, i / 4, values[i * components + c], c);
            }
        }
        const std::wstring path = dir.filePath(name).toStdWString();
        EXPECT_EQ(ZT_SavePictureToFile(path.c_str(), &picture), 0) << name;
        return path;
    }
    // What the pattern shows on a 4 x 2 DMD, 8 bits per mirror.
    std::vector<std::uint8_t> Shown(const std::wstring& path) {
        SZtPicBuf picture;
        EXPECT_EQ(CZtPattern::LoadPictureFile(path.c_str(), &picture), 0);
        EXPECT_EQ(picture.bitsPerComponent, 8u);
        EXPECT_EQ(picture.components, 1u);
        CZtPattern pattern(L"File", 4, 2);
        pattern.SetBitmap(&picture);
        pattern.SetKind(1);
        return Render(pattern, 8, false);
    }
    QTemporaryDir dir;
};

TEST_F(PatternFile, EveryFormatAndDepthLoadsAsGrey) {
    const std::vector<std::uint32_t> bits = {1, 0, 1, 1, 0, 0, 0, 1};
    const std::vector<std::uint8_t> lit = {255, 0, 255, 255, 0, 0, 0, 255};
    for (const char* name : {"one.bmp", "one.png", "one.tif"}) {
        EXPECT_EQ(Shown(Write(name, 1, 1, bits)), lit) << name;
    }
    EXPECT_EQ(Shown(Write("four.tif", 4, 1, {0, 1, 7, 15, 15, 8, 2, 0})),
              (std::vector<std::uint8_t>{0, 17, 119, 255, 255, 136, 34, 0}));
    const std::vector<std::uint32_t> grey = {0, 1, 100, 128, 200, 254, 255, 7};
    const std::vector<std::uint8_t> grey8(grey.begin(), grey.end());
    for (const char* name : {"grey.bmp", "grey.png", "grey.tif"}) {
        EXPECT_EQ(Shown(Write(name, 8, 1, grey)), grey8) << name;
    }
    EXPECT_EQ(Shown(Write("deep.tif", 16, 1, {0, 0xABCD, 0xFFFF, 0x00FF, 0x0100, 1, 0x8000, 2})),
              (std::vector<std::uint8_t>{0, 0xAB, 0xFF, 0, 1, 0, 0x80, 0}));
    const std::vector<std::uint32_t> rgb = {255, 0, 0, 0,  255, 0,  0,   0,   255, 255, 255, 255,
                                            0,   0, 0, 10, 20,  30, 100, 100, 100, 1,   2,   3};
    const std::vector<std::uint8_t> luma = {76, 150, 29, 255, 0, 18, 100, 2};
    EXPECT_EQ(Shown(Write("colour.tif", 8, 3, rgb)), luma);
    EXPECT_EQ(Shown(Write("colour.png", 8, 3, rgb)), luma);
}

TEST_F(PatternFile, BrokenFilesGiveTheirStatus) {
    SZtPicBuf picture;
    const std::wstring missing = dir.filePath("missing.tif").toStdWString();
    EXPECT_EQ(CZtPattern::LoadPictureFile(missing.c_str(), &picture), -5);
    EXPECT_EQ(CZtPattern::LoadPictureFile(nullptr, &picture), -4);

    const std::wstring garbage = dir.filePath("garbage.png").toStdWString();
    std::ofstream(dir.filePath("garbage.png").toStdString()) << "not a picture at all";
    EXPECT_EQ(CZtPattern::LoadPictureFile(garbage.c_str(), &picture), -9);

    const std::wstring empty = dir.filePath("empty.bmp").toStdWString();
    std::ofstream(dir.filePath("empty.bmp").toStdString());
    EXPECT_EQ(CZtPattern::LoadPictureFile(empty.c_str(), &picture), -9);

    // A TIFF cut short after its header.
    const std::wstring whole = Write("whole.tif", 8, 1, {1, 2, 3, 4, 5, 6, 7, 8});
    std::ifstream in(dir.filePath("whole.tif").toStdString(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(dir.filePath("cut.tif").toStdString(), std::ios::binary) << bytes.substr(0, 12);
    const std::wstring cut = dir.filePath("cut.tif").toStdWString();
    EXPECT_EQ(CZtPattern::LoadPictureFile(cut.c_str(), &picture), -9);
}

}  // namespace
