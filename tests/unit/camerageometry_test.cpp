// The host's camera geometry: matrix inversion, the mapping to the unrotated camera, image <-> chip
// transforms and rectangle conversions, checked against pictures turned and mirrored by hand.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "zt/zt_grabber.h"
#include "zthost/optics.h"

namespace {

using Mat3 = std::array<double, 9>;
constexpr double kPi = std::numbers::pi;

struct Point {
    double x, y;
};

Point Apply(const Mat3& m, Point p) {
    return {m[0] * p.x + m[1] * p.y + m[2], m[3] * p.x + m[4] * p.y + m[5]};
}

Mat3 Multiply(const Mat3& a, const Mat3& b) {
    Mat3 c{};
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) {
            for (int i = 0; i < 3; ++i) {
                c[r * 3 + k] += a[r * 3 + i] * b[i * 3 + k];
            }
        }
    }
    return c;
}

void ExpectIdentity(const Mat3& m, double tolerance) {
    const Mat3 identity = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(m[i], identity[i], tolerance) << "element " << i;
    }
}

SZtGrabberFormatDesc Format(int sensorW, int sensorH, SZtRect image, double binning,
                            bool flip = false) {
    SZtGrabberFormatDesc f;
    f.value.sensorRect = {0, 0, sensorW, sensorH};
    f.value.imageRect = image;
    f.value.binningX = binning;
    f.value.binningY = binning;
    f.value.flipY = flip;
    return f;
}

bool SameRect(const SZtRect& a, const SZtRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Show(const SZtRect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
           std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

// ---- InvertMatrix ------------------------------------------------------------------------------

TEST(CameraGeometry, InvertMatrixInvertsAndRefusesSingular) {
    const Mat3 a = {2, 1, 5, 0, 0.5, -3, 0, 0, 1};
    Mat3 inv{};
    ASSERT_EQ(InvertMatrix(3, a.data(), inv.data()), 0);
    ExpectIdentity(Multiply(a, inv), 1e-12);
    ExpectIdentity(Multiply(inv, a), 1e-12);

    // Two proportional rows, an all-zero matrix: -9, output untouched.
    const Mat3 singular = {1, 2, 3, 2, 4, 6, 0, 0, 1};
    Mat3 out;
    out.fill(7.0);
    EXPECT_EQ(InvertMatrix(3, singular.data(), out.data()), -9);
    const Mat3 zero{};
    EXPECT_EQ(InvertMatrix(3, zero.data(), out.data()), -9);
    // A scale of 1e-9 is still invertible: singularity is judged against the matrix's own size.
    const Mat3 tiny = {1e-9, 0, 0, 0, 1e-9, 0, 0, 0, 1e-9};
    EXPECT_EQ(InvertMatrix(3, tiny.data(), inv.data()), 0);
    EXPECT_NEAR(inv[0], 1e9, 1e-3);
    for (double v : out) {
        EXPECT_EQ(v, 7.0);
    }
}

// ---- GetMappingToUnrotatedCamera ---------------------------------------------------------------

// The plug-in's R and F, and the displayed place of a sensor point written out by hand: mirror
// about the centre's row, then turn about the centre.
Mat3 PluginRotation(double radians) {
    return {
        std::cos(radians), -std::sin(radians), 0, std::sin(radians), std::cos(radians), 0, 0, 0, 1};
}
Mat3 PluginFlip(bool flip) {
    return {1, 0, 0, 0, flip ? -1.0 : 1.0, 0, 0, 0, 1};
}
Point Displayed(Point s, double radians, bool flip, Point t) {
    const double dx = s.x - t.x;
    const double dy = flip ? t.y - s.y : s.y - t.y;
    return {t.x + std::cos(radians) * dx - std::sin(radians) * dy,
            t.y + std::sin(radians) * dx + std::cos(radians) * dy};
}

TEST(CameraGeometry, MappingToUnrotatedTakesDisplayedPointsBackToTheSensor) {
    const Point t = {1024.0, 512.0};
    const double translation[3] = {t.x, t.y, 1.0};
    const Point sensor[] = {{0, 0}, {2047, 1023}, {300.5, 900.25}, {1024, 512}, {-10, 1500}};
    for (double degrees : {0.0, 30.0, 90.0, 180.0, 270.0, -45.0, 359.5}) {
        for (bool flip : {false, true}) {
            const double radians = degrees * kPi / 180.0;
            const Mat3 r = PluginRotation(radians);
            const Mat3 f = PluginFlip(flip);
            Mat3 u{};
            ASSERT_EQ(GetMappingToUnrotatedCamera(r.data(), f.data(), translation, u.data()), 0);
            for (Point s : sensor) {
                const Point back = Apply(u, Displayed(s, radians, flip, t));
                EXPECT_NEAR(back.x, s.x, 1e-9) << degrees << " flip " << flip;
                EXPECT_NEAR(back.y, s.y, 1e-9) << degrees << " flip " << flip;
            }
            // The centre stays where it is; U is affine.
            const Point c = Apply(u, t);
            EXPECT_NEAR(c.x, t.x, 1e-9);
            EXPECT_NEAR(c.y, t.y, 1e-9);
            EXPECT_EQ(u[6], 0.0);
            EXPECT_EQ(u[7], 0.0);
            EXPECT_EQ(u[8], 1.0);
        }
    }
    const Mat3 singular{};
    const Mat3 f = PluginFlip(true);
    Mat3 out;
    out.fill(3.0);
    EXPECT_EQ(GetMappingToUnrotatedCamera(singular.data(), f.data(), translation, out.data()), -9);
    EXPECT_EQ(GetMappingToUnrotatedCamera(f.data(), nullptr, translation, out.data()), -4);
    EXPECT_EQ(out[0], 3.0);
}

// ---- Image <-> chip ----------------------------------------------------------------------------

// A sensor picture turned by hand: mirror the rows when flipped, then turn clockwise (as seen with
// y pointing down) by quarter turns. Returns the displayed picture and its size.
std::vector<int> TurnPicture(const std::vector<int>& sensor, int w, int h, int quarters, bool flip,
                             int* outW, int* outH) {
    std::vector<int> cur(sensor);
    int cw = w, ch = h;
    if (flip) {
        for (int y = 0; y < ch; ++y) {
            for (int x = 0; x < cw; ++x) {
                cur[y * cw + x] = sensor[(h - 1 - y) * w + x];
            }
        }
    }
    for (int q = 0; q < quarters; ++q) {
        std::vector<int> next(cur.size());
        // Clockwise: displayed (x', y') = (ch - 1 - y, x).
        for (int y = 0; y < ch; ++y) {
            for (int x = 0; x < cw; ++x) {
                next[x * ch + (ch - 1 - y)] = cur[y * cw + x];
            }
        }
        cur.swap(next);
        std::swap(cw, ch);
    }
    *outW = cw;
    *outH = ch;
    return cur;
}

TEST(CameraGeometry, ImageToSensorFindsEachDisplayedPixelOnTheSensor) {
    // A non-square region of a larger sensor, 2x2 binned: every displayed pixel centre must land
    // in the sensor block that was binned into it.
    const SZtRect region{40, 20, 40 + 2 * 7, 20 + 2 * 4};
    const int w = 7, h = 4;  // binned
    std::vector<int> binned(w * h);
    for (int i = 0; i < w * h; ++i) {
        binned[i] = 100 + i;
    }
    for (int quarters = 0; quarters < 4; ++quarters) {
        for (bool flip : {false, true}) {
            const SZtGrabberFormatDesc f = Format(200, 100, region, 2.0, flip);
            int dw = 0, dh = 0;
            const std::vector<int> shown = TurnPicture(binned, w, h, quarters, flip, &dw, &dh);
            Mat3 m{};
            ASSERT_EQ(
                zthost::CalcTransformImageToSensor(&f, quarters * kPi / 2.0, nullptr, m.data()), 0);
            for (int y = 0; y < dh; ++y) {
                for (int x = 0; x < dw; ++x) {
                    const Point s = Apply(m, {x + 0.5, y + 0.5});
                    const int bx = static_cast<int>(std::floor((s.x - region.left) / 2.0));
                    const int by = static_cast<int>(std::floor((s.y - region.top) / 2.0));
                    ASSERT_TRUE(bx >= 0 && bx < w && by >= 0 && by < h)
                        << quarters << " " << flip << " at " << x << "," << y;
                    EXPECT_EQ(binned[by * w + bx], shown[y * dw + x])
                        << quarters * 90 << " degrees, flip " << flip << ", pixel " << x << ","
                        << y;
                }
            }
        }
    }
}

TEST(CameraGeometry, ChipToImageIsTheInverse) {
    const SZtRect roi{64, 32, 64 + 512, 32 + 256};
    const SZtGrabberFormatDesc f = Format(1024, 1024, roi, 2.0, true);
    const SZtScanAreaDesc scan{10.0, 20.0, 110.0, 70.0, 50, 25};
    for (double degrees : {0.0, 33.0, 90.0, 180.0, 270.0}) {
        for (bool confocal : {false, true}) {
            for (const SZtRect* r : {static_cast<const SZtRect*>(nullptr), &roi}) {
                Mat3 toChip{}, toImage{};
                const double a = degrees * kPi / 180.0;
                ASSERT_EQ(CalcTransformImgToChip(&f, a, &scan, r, confocal, toChip.data()), 0);
                ASSERT_EQ(CalcTransformChipToImg(&f, a, &scan, r, confocal, toImage.data()), 0);
                ExpectIdentity(Multiply(toChip, toImage), 1e-9);
                ExpectIdentity(Multiply(toImage, toChip), 1e-9);
            }
        }
    }
}

TEST(CameraGeometry, RoiBinningAndScanAreaPlaceTheImage) {
    // The ROI argument wins over the format's image rectangle.
    const SZtGrabberFormatDesc f = Format(200, 100, SZtRect{0, 0, 200, 100}, 2.0);
    const SZtRect roi{40, 20, 120, 80};
    Mat3 m{};
    ASSERT_EQ(CalcTransformImgToChip(&f, 0.0, nullptr, &roi, false, m.data()), 0);
    Point p = Apply(m, {0.0, 0.0});
    EXPECT_NEAR(p.x, 40.0, 1e-12);
    EXPECT_NEAR(p.y, 20.0, 1e-12);
    p = Apply(m, {40.0, 30.0});
    EXPECT_NEAR(p.x, 120.0, 1e-12);
    EXPECT_NEAR(p.y, 80.0, 1e-12);

    // A confocal image shows its scan area: 50 x 25 pixels over 100 x 50 field pixels.
    const SZtScanAreaDesc scan{10.0, 20.0, 110.0, 70.0, 50, 25};
    ASSERT_EQ(CalcTransformImgToChip(&f, 0.0, &scan, &roi, true, m.data()), 0);
    p = Apply(m, {50.0, 25.0});
    EXPECT_NEAR(p.x, 110.0, 1e-12);
    EXPECT_NEAR(p.y, 70.0, 1e-12);
}

// ---- Rectangles
// ----------------------------------------------------------------------------------

TEST(CameraGeometry, RectanglesRoundTrip) {
    const SZtRect roi{100, 50, 900, 650};
    const SZtGrabberFormatDesc f = Format(2048, 2048, roi, 2.0);
    const SZtRect images[] = {{0, 0, 10, 20}, {37, 11, 250, 199}, {0, 0, 300, 300}};
    const SZtRect sensors[] = {{100, 50, 102, 52}, {300, 200, 700, 640}, {0, 0, 2048, 2048}};
    for (double degrees : {0.0, 90.0, 180.0, 270.0}) {
        for (bool flip : {false, true}) {
            for (const SZtRect& in : images) {
                SZtRect sensor, back;
                ASSERT_EQ(ConvertRectImageToSensor(&f, degrees, flip, &in, &sensor), 0);
                ASSERT_EQ(ConvertRectSensorToImage(&f, degrees, flip, &sensor, &back), 0);
                EXPECT_TRUE(SameRect(back, in))
                    << degrees << " flip " << flip << ": " << Show(in) << " -> " << Show(back);
            }
            // Sensor rectangles on whole binned pixels come back unchanged.
            for (const SZtRect& in : sensors) {
                SZtRect image, back;
                ASSERT_EQ(ConvertRectSensorToImage(&f, degrees, flip, &in, &image), 0);
                ASSERT_EQ(ConvertRectImageToSensor(&f, degrees, flip, &image, &back), 0);
                EXPECT_TRUE(SameRect(back, in))
                    << degrees << " flip " << flip << ": " << Show(in) << " -> " << Show(back);
            }
        }
    }
}

TEST(CameraGeometry, RectanglesLandWhereThePictureShowsThem) {
    // The sensor's top-left 20 x 10 corner of a 200 x 100 sensor, unbinned.
    const SZtGrabberFormatDesc f = Format(200, 100, SZtRect{0, 0, 200, 100}, 1.0);
    const SZtRect corner{0, 0, 20, 10};
    struct Case {
        double degrees;
        bool flip;
        SZtRect expected;
    };
    const Case cases[] = {
        {0.0, false, {0, 0, 20, 10}},      {0.0, true, {0, 90, 20, 100}},
        {90.0, false, {90, 0, 100, 20}},   {180.0, false, {180, 90, 200, 100}},
        {270.0, false, {0, 180, 10, 200}}, {90.0, true, {0, 0, 10, 20}},
    };
    for (const Case& c : cases) {
        SZtRect image;
        ASSERT_EQ(ConvertRectSensorToImage(&f, c.degrees, c.flip, &corner, &image), 0);
        EXPECT_TRUE(SameRect(image, c.expected))
            << c.degrees << " flip " << c.flip << ": " << Show(image);
    }

    // A sensor rectangle off the binned grid widens to every image pixel it touches.
    const SZtGrabberFormatDesc binned = Format(200, 100, SZtRect{0, 0, 200, 100}, 4.0);
    const SZtRect loose{5, 3, 13, 9};
    SZtRect image;
    ASSERT_EQ(ConvertRectSensorToImage(&binned, 0.0, false, &loose, &image), 0);
    EXPECT_TRUE(SameRect(image, SZtRect{1, 0, 4, 3})) << Show(image);

    SZtRect untouched{1, 2, 3, 4};
    const SZtRect inverted{10, 0, 5, 5};
    EXPECT_EQ(ConvertRectSensorToImage(&f, 0.0, false, &inverted, &untouched), -4);
    EXPECT_EQ(ConvertRectImageToSensor(nullptr, 0.0, false, &corner, &untouched), -4);
    EXPECT_EQ(ConvertRectImageToSensor(&f, 0.0, false, nullptr, &untouched), -4);
    EXPECT_TRUE(SameRect(untouched, SZtRect{1, 2, 3, 4}));
}

}  // namespace
