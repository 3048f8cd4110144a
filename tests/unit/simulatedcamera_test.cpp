// The simulated camera: where the DMD's light lands in the captured picture, the camera's noise,
// bit depths, binning, regions and turns.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "zt/zt_acquisition.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

namespace {

constexpr int kDmdWidth = 800;
constexpr int kDmdHeight = 600;

struct Point {
    double x = 0.0;
    double y = 0.0;
};

// Centre of mass of the picture's values above baseline, in image coordinates (pixel (i, j) is
// centred on (i + 0.5, j + 0.5)), and their sum: over the whole picture, or over the pixels
// within radius of a point.
struct Spot {
    Point centre;
    double sum = 0.0;
};

Spot Measure(const SZtPicBuf& picture, double baseline, Point around = {}, int radius = 0) {
    int x0 = 0, y0 = 0, x1 = int(picture.width), y1 = int(picture.height);
    if (radius > 0) {
        x0 = std::max(x0, int(around.x) - radius);
        y0 = std::max(y0, int(around.y) - radius);
        x1 = std::min(x1, int(around.x) + radius);
        y1 = std::min(y1, int(around.y) + radius);
    }
    Spot spot;
    double sx = 0.0, sy = 0.0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const double v =
                CZtPicBufAPI::GetValue(&picture, std::uint32_t(x), std::uint32_t(y)) - baseline;
            sx += (x + 0.5) * v;
            sy += (y + 0.5) * v;
            spot.sum += v;
        }
    }
    spot.centre = {sx / spot.sum, sy / spot.sum};
    return spot;
}

// A DMD showing the given mirrors fully lit, everything else dark.
zthost::MirrorFrameSource Lit(std::vector<std::array<int, 2>> mirrors, int width = kDmdWidth,
                              int height = kDmdHeight) {
    return [=] {
        zthost::MirrorFrame frame{width, height,
                                  std::vector<std::uint8_t>(std::size_t(width) * height, 0)};
        for (const auto& [x, y] : mirrors) {
            frame.levels[std::size_t(y) * width + x] = 255;
        }
        return frame;
    };
}

// Light without noise, offset or background: the picture holds the DMD's light alone.
zthost::OpticsSetup Clean(const std::array<double, 6>& truth, double sigma = 1.0) {
    zthost::OpticsSetup optics;
    optics.dmdToSensor = truth;
    optics.blurSigma = sigma;
    optics.signal = 5000.0;
    optics.background = 0.0;
    optics.offset = 0.0;
    optics.shotNoise = false;
    optics.readNoise = 0.0;
    return optics;
}

Point Apply(const std::array<double, 6>& m, Point p) {
    return {m[0] * p.x + m[1] * p.y + m[2], m[3] * p.x + m[4] * p.y + m[5]};
}

Point Apply(const std::array<double, 9>& m, Point p) {
    return {m[0] * p.x + m[1] * p.y + m[2], m[3] * p.x + m[4] * p.y + m[5]};
}

// Where the camera image shows a sensor point, by the host's own display geometry.
Point ImageFromSensor(Point sensor) {
    IZtGrabberProvider* grabber = zthost::HostContext()->GetGrabberProvider();
    SZtGrabberFormatDesc format;
    double angle = 0.0;
    EXPECT_EQ(grabber->CameraSettingsGet(&format), 0);
    EXPECT_EQ(grabber->CameraAngleSWGet(&angle), 0);
    std::array<double, 9> sensorToImage{};
    EXPECT_EQ(zthost::CalcTransformSensorToImage(&format, angle, nullptr, sensorToImage.data()), 0);
    return Apply(sensorToImage, sensor);
}

SZtPicBuf Capture() {
    CZtGrabberSample sample;
    EXPECT_EQ(sample.Capture(), 0);
    SZtPicBuf picture;
    EXPECT_EQ(sample.CopyPicture(&picture), 0);
    return picture;
}

class SimulatedCamera : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        ASSERT_EQ(zthost::SetCamera(zthost::CameraSetup{}), 0);
    }
    void TearDown() override { zthost::ResetForTests(); }
};

}  // namespace

// ---- Geometry ----------------------------------------------------------------------------------

TEST_F(SimulatedCamera, LitMirrorAppearsWhereHandWorkedGeometrySaysItShould) {
    // Two sensor pixels per mirror; the DMD's origin at sensor (224, 424): mirror (100, 50),
    // centred on (100.5, 50.5), lights sensor point (425, 525).
    ASSERT_EQ(zthost::SetOptics(Clean({2.0, 0.0, 224.0, 0.0, 2.0, 424.0})), 0);
    zthost::SetMirrorFrameSource(Lit({{100, 50}}));
    struct Case {
        const char* what;
        double rotation;
        bool flip;
        double binning;
        bool roiOn;
        Point expected;
    };
    const Case cases[] = {
        {"plain", 0.0, false, 1.0, false, {425.0, 525.0}},
        {"binned by 2", 0.0, false, 2.0, false, {212.5, 262.5}},
        {"region (200, 400)-(1200, 1000)", 0.0, false, 1.0, true, {225.0, 125.0}},
        {"mirrored top to bottom", 0.0, true, 1.0, false, {425.0, 2048.0 - 525.0}},
        // A quarter turn clockwise about the centre (1024, 1024): up-left goes up-right.
        {"turned by 90 degrees", 90.0, false, 1.0, false, {1024.0 + 499.0, 1024.0 - 599.0}},
        {"turned by 180 degrees", 180.0, false, 1.0, false, {2048.0 - 425.0, 2048.0 - 525.0}},
        // Region 1000 x 600, binned by 2: the 500 x 300 image turned to 300 x 500; the point
        // (112.5, 62.5) of the unturned image, (-137.5, -87.5) from its centre, goes to
        // (150 + 87.5, 250 - 137.5).
        {"region, binning and a quarter turn", 90.0, false, 2.0, true, {237.5, 112.5}},
    };
    for (const Case& c : cases) {
        zthost::CameraSetup camera;
        camera.rotationDegrees = c.rotation;
        camera.angleParams = {1.0, 0.0, 0.0, c.flip ? -1.0 : 1.0};
        camera.binningX = camera.binningY = c.binning;
        camera.roiOn = c.roiOn;
        camera.roi = {200, 400, 1200, 1000};
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        const Spot spot = Measure(Capture(), 0.0, c.expected, 40);
        EXPECT_NEAR(spot.centre.x, c.expected.x, 0.05) << c.what;
        EXPECT_NEAR(spot.centre.y, c.expected.y, 0.05) << c.what;
    }
}

TEST_F(SimulatedCamera, EachUnitsDmdLandsThroughItsOwnOptics) {
    // Three units light the same mirror (100, 50); each map puts it elsewhere on the sensor.
    ASSERT_EQ(zthost::SetOptics(Clean({2.0, 0.0, 224.0, 0.0, 2.0, 424.0})), 0);
    zthost::SetMirrorFrameSource(Lit({{100, 50}}));
    const std::array<double, 6> second =
        zthost::DmdToSensor(3.0, 90.0, false, 100.5, 50.5, 1500, 300);
    const std::array<double, 6> third = zthost::DmdToSensor(1.5, 0.0, true, 100.5, 50.5, 300, 1700);
    ASSERT_EQ(zthost::SetFurtherDmds({{Lit({{100, 50}}), second}, {Lit({}), third}}), 0);
    const SZtPicBuf picture = Capture();
    const Spot first = Measure(picture, 0.0, {425.0, 525.0}, 40);
    const Spot other = Measure(picture, 0.0, {1500.0, 300.0}, 40);
    EXPECT_NEAR(other.centre.x, 1500.0, 0.05);
    EXPECT_NEAR(other.centre.y, 300.0, 0.05);
    // A mirror's light grows with the area its own optics give it; the dark third DMD adds none.
    EXPECT_NEAR(other.sum / first.sum, 9.0 / 4.0, 0.01);
    EXPECT_NEAR(Measure(picture, 0.0, {300.0, 1700.0}, 40).sum, 0.0, 1e-9);

    EXPECT_EQ(zthost::SetFurtherDmds({{Lit({}), {1.0, 2.0, 0.0, 2.0, 4.0, 0.0}}}), -4);
    EXPECT_NEAR(Measure(Capture(), 0.0, {1500.0, 300.0}, 40).sum, other.sum, 1e-6 * other.sum);
}

TEST_F(SimulatedCamera, LitMirrorLandsWhereTheImageShowsItsSensorPointInEveryCameraSetting) {
    struct Optics {
        double scale, rotation;
        bool flip;
        double sigma;
    };
    const Optics optics[] = {{2.0, 0.0, false, 1.0},
                             {3.1, 37.0, true, 0.8},
                             {0.7, -120.0, false, 2.5},
                             {1.3, 90.0, true, 0.0}};
    struct Camera {
        double rotation;
        bool flip;
        double binningX, binningY;
        bool roiOn;
    };
    const Camera cameras[] = {{0, false, 1, 1, false},  {90, true, 1, 1, false},
                              {180, false, 2, 2, true}, {270, true, 3, 3, false},
                              {30, false, 1, 1, true},  {-45, true, 2, 2, false},
                              {90, false, 2, 1, true},  {0, true, 4, 4, true}};
    const std::vector<std::array<int, 2>> mirrors = {
        {400, 300}, {380, 310}, {433, 287}, {410, 322}};
    for (const Optics& o : optics) {
        const std::array<double, 6> truth =
            zthost::DmdToSensor(o.scale, o.rotation, o.flip, 400.0, 300.0, 1000.0, 1100.0);
        ASSERT_EQ(zthost::SetOptics(Clean(truth, o.sigma)), 0);
        for (const Camera& c : cameras) {
            zthost::CameraSetup camera;
            camera.sensorWidth = 1600;
            camera.sensorHeight = 1500;
            camera.rotationDegrees = c.rotation;
            camera.angleParams = {1.0, 0.0, 0.0, c.flip ? -1.0 : 1.0};
            camera.binningX = c.binningX;
            camera.binningY = c.binningY;
            camera.roiOn = c.roiOn;
            camera.roi = {600, 700, 1500, 1400};
            ASSERT_EQ(zthost::SetCamera(camera), 0);
            for (const auto& [mx, my] : mirrors) {
                const std::string what = "scale " + std::to_string(o.scale) + " truth turn " +
                                         std::to_string(o.rotation) + " camera turn " +
                                         std::to_string(c.rotation) + " binning " +
                                         std::to_string(c.binningX) + " mirror " +
                                         std::to_string(mx) + "," + std::to_string(my);
                zthost::SetMirrorFrameSource(Lit({{mx, my}}));
                const SZtPicBuf picture = Capture();
                const Point expected = ImageFromSensor(Apply(truth, {mx + 0.5, my + 0.5}));
                ASSERT_GT(expected.x, 20.0) << what;
                ASSERT_LT(expected.x, picture.width - 20.0) << what;
                ASSERT_GT(expected.y, 20.0) << what;
                ASSERT_LT(expected.y, picture.height - 20.0) << what;
                const Spot spot = Measure(picture, 0.0, expected, 30);
                EXPECT_NEAR(spot.centre.x, expected.x, 0.05) << what;
                EXPECT_NEAR(spot.centre.y, expected.y, 0.05) << what;
            }
        }
    }
}

TEST_F(SimulatedCamera, TurnedImageReadsNothingWhereItShowsNoSensor) {
    zthost::OpticsSetup optics = Clean(zthost::Optics().dmdToSensor);
    optics.offset = 100.0;
    ASSERT_EQ(zthost::SetOptics(optics), 0);
    zthost::CameraSetup camera;
    camera.rotationDegrees = 30.0;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    const SZtPicBuf picture = Capture();
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 0, 0), 0u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 2047, 2047), 0u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 1024, 1024), 100u) << "the camera's offset";
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 1024, 2), 100u) << "mid-edge still shows sensor";
}

// ---- Light and noise ---------------------------------------------------------------------------

TEST_F(SimulatedCamera, LightOfTheMirrorsIsKeptWhateverTheBinningAndBlur) {
    // A 4 x 4 block of mirrors of 2 x 2 sensor pixels each: 64 sensor pixels at the signal.
    std::vector<std::array<int, 2>> block;
    for (int y = 300; y < 304; ++y) {
        for (int x = 400; x < 404; ++x) {
            block.push_back({x, y});
        }
    }
    zthost::SetMirrorFrameSource(Lit(block));
    for (double sigma : {0.0, 1.0, 3.0}) {
        zthost::OpticsSetup optics = Clean(zthost::Optics().dmdToSensor, sigma);
        optics.gain = 0.5;
        ASSERT_EQ(zthost::SetOptics(optics), 0);
        for (double binning : {1.0, 2.0, 4.0}) {
            zthost::CameraSetup camera;
            camera.binningX = camera.binningY = binning;
            ASSERT_EQ(zthost::SetCamera(camera), 0);
            const Spot spot = Measure(Capture(), 0.0);
            EXPECT_NEAR(spot.sum, 64 * 5000.0 * 0.5, 64 * 5000.0 * 0.5 * 0.002)
                << "sigma " << sigma << " binning " << binning;
        }
    }
}

// The sum of the values in the square of the given half size about a pixel.
double WindowSum(const SZtPicBuf& picture, int cx, int cy, int half) {
    double sum = 0.0;
    for (int y = cy - half; y <= cy + half; ++y) {
        for (int x = cx - half; x <= cx + half; ++x) {
            sum += CZtPicBufAPI::GetValue(&picture, std::uint32_t(x), std::uint32_t(y));
        }
    }
    return sum;
}

TEST_F(SimulatedCamera, GreyLevelsOfMirrorsDimTheirLight) {
    ASSERT_EQ(zthost::SetOptics(Clean(zthost::Optics().dmdToSensor, 1.0)), 0);
    zthost::SetMirrorFrameSource([] {
        zthost::MirrorFrame frame{kDmdWidth, kDmdHeight,
                                  std::vector<std::uint8_t>(kDmdWidth * kDmdHeight, 0)};
        frame.levels[300 * kDmdWidth + 100] = 255;
        frame.levels[300 * kDmdWidth + 200] = 51;  // a fifth
        return frame;
    });
    const SZtPicBuf picture = Capture();
    // Mirror (100, 300) covers the 2 x 2 sensor pixels from (424, 1024), (200, 300) those from
    // (624, 1024).
    EXPECT_NEAR(WindowSum(picture, 425, 1025, 8), 4 * 5000.0, 20.0);
    EXPECT_NEAR(WindowSum(picture, 625, 1025, 8), 4 * 1000.0, 20.0);
    EXPECT_EQ(WindowSum(picture, 525, 1025, 8), 0.0);
}

// The light field is kept from frame to frame: a small square after a fully lit DMD, on every blur,
// gives the picture the square gives after itself.
TEST_F(SimulatedCamera, NoLightOfAnEarlierFrameShowsInTheNext) {
    zthost::CameraSetup camera;
    camera.sensorWidth = camera.sensorHeight = 512;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    std::vector<std::array<int, 2>> square;
    for (int y = 290; y < 300; ++y) {
        for (int x = 400; x < 410; ++x) {
            square.push_back({x, y});
        }
    }
    for (const double sigma : {0.0, 1.0, 3.0}) {
        ASSERT_EQ(zthost::SetOptics(Clean(
                      zthost::DmdToSensor(0.6, 5.0, false, 400.0, 300.0, 256.0, 256.0), sigma)),
                  0);
        zthost::SetMirrorFrameSource(Lit(square));
        const SZtPicBuf alone = Capture();
        zthost::SetMirrorFrameSource([] {
            return zthost::MirrorFrame{kDmdWidth, kDmdHeight,
                                       std::vector<std::uint8_t>(kDmdWidth * kDmdHeight, 255)};
        });
        Capture();
        zthost::SetMirrorFrameSource(Lit(square));
        const SZtPicBuf after = Capture();
        ASSERT_EQ(after.height, alone.height);
        EXPECT_TRUE(std::equal(alone.data, alone.data + std::size_t(alone.stride) * alone.height,
                               after.data))
            << "sigma " << sigma;
    }
}

TEST_F(SimulatedCamera, NoiseHasTheConfiguredMeanAndVariance) {
    zthost::OpticsSetup optics;
    optics.background = 100.0;  // photoelectrons per sensor pixel
    optics.gain = 2.0;
    optics.offset = 100.0;
    optics.readNoise = 3.0;
    optics.shotNoise = true;
    struct Case {
        double binning;
        bool shot;
        double mean, variance;
    };
    // mean = gain (background binned) + offset; variance = gain^2 (background binned + read^2)
    // and a twelfth for the rounding.
    const Case cases[] = {{1.0, true, 300.0, 4.0 * 109.0 + 1.0 / 12.0},
                          {2.0, true, 900.0, 4.0 * 409.0 + 1.0 / 12.0},
                          {1.0, false, 300.0, 4.0 * 9.0 + 1.0 / 12.0}};
    for (const Case& c : cases) {
        optics.shotNoise = c.shot;
        ASSERT_EQ(zthost::SetOptics(optics), 0);
        zthost::CameraSetup camera;
        camera.sensorWidth = camera.sensorHeight = 512;
        camera.binningX = camera.binningY = c.binning;
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        const SZtPicBuf picture = Capture();
        double sum = 0.0, squares = 0.0;
        const double n = double(picture.width) * picture.height;
        for (std::uint32_t y = 0; y < picture.height; ++y) {
            for (std::uint32_t x = 0; x < picture.width; ++x) {
                const double v = CZtPicBufAPI::GetValue(&picture, x, y);
                sum += v;
                squares += v * v;
            }
        }
        const double mean = sum / n;
        const double variance = squares / n - mean * mean;
        EXPECT_NEAR(mean, c.mean, c.mean * 0.01) << "binning " << c.binning << " shot " << c.shot;
        EXPECT_NEAR(variance, c.variance, c.variance * 0.1)
            << "binning " << c.binning << " shot " << c.shot;
    }
}

// The shot noise of dark pixels, whose mean is the background, as counts: for each mean below the
// normal approximation's threshold the counts of 65536 pixels (one seed) against the Poisson
// probabilities, bins of fewer than five expected pixels merged.
TEST_F(SimulatedCamera, ShotNoiseOfEachMeanFollowsThePoissonDistribution) {
    zthost::CameraSetup camera;
    camera.sensorWidth = camera.sensorHeight = 256;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    zthost::OpticsSetup optics;
    optics.offset = 0.0;
    optics.readNoise = 0.0;
    optics.seed = 7;
    for (const double mean : {0.3, 2.5, 9.7, 20.0, 29.5}) {
        optics.background = mean;
        ASSERT_EQ(zthost::SetOptics(optics), 0);
        const SZtPicBuf picture = Capture();
        std::vector<double> observed(200, 0.0);
        for (std::uint32_t y = 0; y < picture.height; ++y) {
            for (std::uint32_t x = 0; x < picture.width; ++x) {
                observed[std::min<std::size_t>(CZtPicBufAPI::GetValue(&picture, x, y), 199)] += 1;
            }
        }
        const double n = double(picture.width) * picture.height;
        double chiSquare = 0.0, binObserved = 0.0, binExpected = 0.0;
        double closedObserved = 0.0, closedExpected = 0.0;
        int bins = 0;
        double p = std::exp(-mean);
        for (int k = 0; k < 199; ++k, p *= mean / k) {
            binObserved += observed[k];
            binExpected += n * p;
            if (binExpected >= 5.0 && n - closedExpected - binExpected >= 5.0) {
                chiSquare += std::pow(binObserved - binExpected, 2) / binExpected;
                closedObserved += binObserved;
                closedExpected += binExpected;
                binObserved = binExpected = 0.0;
                ++bins;
            }
        }
        // The tail beyond the last bin.
        chiSquare += std::pow(closedExpected - closedObserved, 2) / (n - closedExpected);
        ++bins;
        // Far beyond the 99.99th percentile of chi-square with bins - 1 degrees of freedom.
        const double dof = bins - 1;
        EXPECT_LT(chiSquare, dof + 6.0 * std::sqrt(2.0 * dof)) << "mean " << mean;
    }
}

TEST_F(SimulatedCamera, SameSeedGivesTheSameFrames) {
    zthost::CameraSetup camera;
    camera.sensorWidth = camera.sensorHeight = 256;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    zthost::OpticsSetup optics;
    optics.seed = 42;
    ASSERT_EQ(zthost::SetOptics(optics), 0);
    const SZtPicBuf first = Capture();
    const SZtPicBuf second = Capture();
    auto same = [](const SZtPicBuf& a, const SZtPicBuf& b) {
        return a.width == b.width && a.height == b.height &&
               std::equal(a.data, a.data + std::size_t(a.stride) * a.height, b.data);
    };
    EXPECT_FALSE(same(first, second)) << "every frame has noise of its own";

    ASSERT_EQ(zthost::SetOptics(optics), 0);
    EXPECT_TRUE(same(Capture(), first)) << "the seed restarts the frames' noise";
    EXPECT_TRUE(same(Capture(), second));

    optics.seed = 43;
    ASSERT_EQ(zthost::SetOptics(optics), 0);
    EXPECT_FALSE(same(Capture(), first));
}

TEST_F(SimulatedCamera, BrightLightClipsAtTheCameraBitDepth) {
    zthost::OpticsSetup optics = Clean(zthost::Optics().dmdToSensor, 0.0);
    optics.signal = 100000.0;
    optics.offset = 10.0;
    ASSERT_EQ(zthost::SetOptics(optics), 0);
    zthost::SetMirrorFrameSource(Lit({{400, 300}}));
    for (int bits : {8, 12, 16}) {
        zthost::CameraSetup camera;
        camera.bitDepth = bits;
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        const SZtPicBuf picture = Capture();
        EXPECT_EQ(picture.bitsPerComponent, std::uint32_t(bits));
        // Mirror (400, 300) lights sensor pixels 1024..1025 x 1024..1025.
        EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 1024, 1024), (1u << bits) - 1) << bits;
        EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 0, 0), 10u) << bits;
    }
}

TEST_F(SimulatedCamera, SpecimenReflectsTheLightWhereItIsBright) {
    ASSERT_EQ(zthost::SetOptics(Clean(zthost::Optics().dmdToSensor, 1.0)), 0);
    zthost::SetMirrorFrameSource([] {
        return zthost::MirrorFrame{kDmdWidth, kDmdHeight,
                                   std::vector<std::uint8_t>(kDmdWidth * kDmdHeight, 255)};
    });
    // Left half of the sensor black, right half white, bottom right quarter at 40 %.
    SZtPicBuf specimen;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&specimen, 4, 4, 8, 1), 0);
    for (std::uint32_t y = 0; y < 4; ++y) {
        for (std::uint32_t x = 2; x < 4; ++x) {
            CZtPicBufAPI::SetValue(&specimen, x, y, y < 2 ? 255 : 102);
        }
    }
    ASSERT_EQ(zthost::SetSpecimen(&specimen), 0);
    const SZtPicBuf picture = Capture();
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 800, 800), 0u);
    EXPECT_NEAR(CZtPicBufAPI::GetValue(&picture, 1200, 800), 5000.0, 50.0);
    EXPECT_NEAR(CZtPicBufAPI::GetValue(&picture, 1200, 1200), 2000.0, 20.0);

    ASSERT_EQ(zthost::SetSpecimen(nullptr), 0);
    const SZtPicBuf mirror = Capture();
    EXPECT_NEAR(CZtPicBufAPI::GetValue(&mirror, 800, 800), 5000.0, 50.0) << "no specimen: a mirror";
    SZtPicBuf empty;
    EXPECT_EQ(zthost::SetSpecimen(&empty), -4);
}

TEST_F(SimulatedCamera, RefusesUnusableOptics) {
    zthost::OpticsSetup optics;
    optics.dmdToSensor = {1.0, 2.0, 0.0, 2.0, 4.0, 0.0};
    EXPECT_EQ(zthost::SetOptics(optics), -4) << "singular";
    optics = {};
    optics.readNoise = -1.0;
    EXPECT_EQ(zthost::SetOptics(optics), -4);
    optics = {};
    optics.blurSigma = std::nan("");
    EXPECT_EQ(zthost::SetOptics(optics), -4);
    EXPECT_EQ(zthost::Optics().blurSigma, 1.0) << "the optics stay as they were";
}

// ---- Samples -----------------------------------------------------------------------------------

TEST_F(SimulatedCamera, SampleNeedsAGrabberWithACameraOfAUsableDepth) {
    CZtGrabberSample sample;
    ASSERT_EQ(sample.Capture(), 0);
    EXPECT_FALSE(sample.IsEmpty());
    EXPECT_EQ(sample.GetMetadata().cameraName, L"Camera");
    sample.Release();
    EXPECT_TRUE(sample.IsEmpty());

    zthost::CameraSetup camera;
    camera.bitDepth = 4;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    EXPECT_EQ(sample.Capture(), -4);
    camera.bitDepth = 16;
    camera.hasCamera = false;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    EXPECT_EQ(sample.Capture(), -6);
    zthost::SetGrabberPresent(false);
    EXPECT_EQ(sample.Capture(), -12);
    EXPECT_TRUE(sample.IsEmpty());
    SZtPictureMetadata metadata;
    EXPECT_EQ(ZT_GetGrabberPictureMetadata(&metadata), -12);
}

TEST_F(SimulatedCamera, MetadataRecordsTheCameraTheSampleWasTakenWith) {
    zthost::CameraSetup camera;
    camera.name = L"Cam2";
    camera.grabberIndex = 3;
    camera.rotationDegrees = 90.0;
    camera.binningX = camera.binningY = 2.0;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    SZtPictureMetadata metadata;
    ASSERT_EQ(ZT_GetGrabberPictureMetadata(&metadata), 0);
    EXPECT_EQ(metadata.cameraName, L"Cam2");
    EXPECT_EQ(metadata.cameraIndex, 3);
    EXPECT_NEAR(metadata.cameraAngle, std::numbers::pi / 2, 1e-12);
    EXPECT_EQ(metadata.format.value.binningX, 2.0);

    CZtGrabberSample sample;
    ASSERT_EQ(sample.Capture(), 0);
    camera.binningX = camera.binningY = 1.0;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    EXPECT_EQ(sample.GetMetadata().format.value.binningX, 2.0) << "the format it was taken with";
    EXPECT_EQ(sample.GetPicture().width, 1024u);
    EXPECT_GE(sample.GetMetadata().timeMs, metadata.timeMs);
}
