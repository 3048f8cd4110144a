// Spot detection in camera frames, the least-squares affine fit and the calibration matrices
// computed from DMD / camera point pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "plain_pictures.h"
#include "verove_sample_analysis.h"
#include "zt/zt_grabber.h"
#include "zthost/zthost.h"

namespace {

// A DMD square seen by the camera: side x side pixels blurred by a Gaussian of sigma pixels,
// share times the amplitude above the background, centred at (x, y) with pixel (i, j) sampled at
// (i, j). A length makes it a bar, length pixels wide.
struct SSpot {
    double x;
    double y;
    double side = 10.0;
    double sigma = 3.0;
    double share = 1.0;
    double length = 0.0;
};

// Seeded normal noise from the engine's standardised output, so every platform draws the same.
class CNoise {
public:
    explicit CNoise(std::uint32_t seed) : m_engine(seed) {}
    double Next() {
        const double u = (m_engine() + 0.5) / 4294967296.0;
        const double v = (m_engine() + 0.5) / 4294967296.0;
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
    }

private:
    std::mt19937 m_engine;
};

double Profile(double t, double centre, double side, double sigma) {
    const double k = 1.0 / (sigma * std::sqrt(2.0));
    return 0.5 * (std::erf((t - centre + side / 2) * k) - std::erf((t - centre - side / 2) * k));
}

// A frame of the given depth and components (grey repeated) with background, spots and noise
// (standard deviation in levels), clipped to the depth.
SZtPicBuf Render(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
                 const std::vector<SSpot>& spots, double background, double amplitude, double noise,
                 std::uint32_t seed, std::uint32_t components = 1) {
    SZtPicBuf frame;
    EXPECT_EQ(CZtPicBufAPI::Alloc(&frame, width, height, bits, components), 0);
    CNoise random(seed);
    const double top = std::ldexp(1.0, static_cast<int>(bits)) - 1.0;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            double value = background + noise * random.Next();
            for (const SSpot& spot : spots) {
                const double length = spot.length > 0.0 ? spot.length : spot.side;
                value += amplitude * spot.share * Profile(x, spot.x, length, spot.sigma) *
                         Profile(y, spot.y, spot.side, spot.sigma);
            }
            const auto level = static_cast<std::uint32_t>(std::clamp(std::round(value), 0.0, top));
            for (std::uint32_t c = 0; c < components; ++c) {
                CZtPicBufAPI::SetValue(&frame, x, y, level, c);
            }
        }
    }
    return frame;
}

SZtPicBuf Grey(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
               const std::vector<std::uint32_t>& values) {
    SZtPicBuf pic;
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, width, height, bits, 1), 0);
    for (std::uint32_t i = 0; i < values.size(); ++i) {
        CZtPicBufAPI::SetValue(&pic, i % width, i / width, values[i]);
    }
    return pic;
}

std::vector<std::uint32_t> Values(const SZtPicBuf& pic) {
    std::vector<std::uint32_t> values;
    for (std::uint32_t y = 0; y < pic.height; ++y) {
        for (std::uint32_t x = 0; x < pic.width; ++x) {
            values.push_back(CZtPicBufAPI::GetValue(&pic, x, y));
        }
    }
    return values;
}

// ---- Primitives --------------------------------------------------------------------------------

TEST(SpotDetection, MinMaxAndFirstMaximumAgreeWithAPlainScanAtEveryWidth) {
    // Widths around the vector steps put extremes into the vector part and the scalar tail, with
    // values on both sides of 0x8000 (where a signed comparison would go wrong).
    std::mt19937 random(3);
    for (std::uint32_t width = 1; width <= 70; ++width) {
        for (const std::uint32_t bits : {8u, 16u}) {
            const std::uint32_t top = bits == 8 ? 0xFF : 0xFFFF;
            std::vector<std::uint32_t> values(width * 3);
            for (auto& v : values) {
                v = bits == 8 ? random() % 256 : 0x7000 + random() % 0x2000;
            }
            values[random() % values.size()] = top - random() % 3;
            values[random() % values.size()] = random() % 3;
            const SZtPicBuf pic = Grey(width, 3, bits, values);
            std::uint32_t low = 0, high = 0;
            ASSERT_EQ(GetMinMax(pic, &low, &high), 0);
            EXPECT_EQ(low, *std::min_element(values.begin(), values.end())) << width;
            EXPECT_EQ(high, *std::max_element(values.begin(), values.end())) << width;
            if (bits == 16) {
                std::uint32_t peak = 0, x = 0, y = 0;
                ASSERT_EQ(FindFirstMaximum(pic, &peak, &x, &y), 0);
                const auto first = std::max_element(values.begin(), values.end());
                EXPECT_EQ(peak, *first);
                EXPECT_EQ(y * width + x, first - values.begin()) << width;
            }
        }
    }
}

TEST(SpotDetection, FirstMaximumIsTheFirstInRowOrder) {
    // Equal maxima at (5, 1) and (1, 2): row 1 comes first although its x is larger; within one
    // row the leftmost wins.
    const SZtPicBuf rows =
        Grey(6, 3, 16, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 900, 0, 900, 0, 0, 0, 0});
    std::uint32_t peak = 0, x = 0, y = 0;
    ASSERT_EQ(FindFirstMaximum(rows, &peak, &x, &y), 0);
    EXPECT_EQ(peak, 900u);
    EXPECT_EQ(x, 5u);
    EXPECT_EQ(y, 1u);
    const SZtPicBuf line = Grey(20, 1, 16, std::vector<std::uint32_t>(20, 7));
    ASSERT_EQ(FindFirstMaximum(line, &peak, &x, &y), 0);
    EXPECT_EQ(x, 0u);
    const SZtPicBuf grey8 = Grey(2, 1, 8, {1, 2});
    EXPECT_EQ(FindFirstMaximum(grey8, &peak, &x, &y), -4);
}

TEST(SpotDetection, StretchContrastSpreadsValuesOverTheDepth) {
    SZtPicBuf eight = Grey(3, 1, 8, {10, 20, 30});
    ASSERT_EQ(StretchContrast(&eight), 0);
    EXPECT_EQ(Values(eight), (std::vector<std::uint32_t>{0, 128, 255}));  // 10 * 12.75 + 0.5

    SZtPicBuf twelve = Grey(3, 1, 12, {100, 150, 200});
    ASSERT_EQ(StretchContrast(&twelve), 0);
    EXPECT_EQ(Values(twelve), (std::vector<std::uint32_t>{0, 2048, 4095}));

    // Long enough for the vector search; the minimum sits in the tail.
    std::vector<std::uint32_t> ramp(37);
    for (std::uint32_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = 40000 - 1000 * i;
    }
    SZtPicBuf sixteen = Grey(37, 1, 16, ramp);
    ASSERT_EQ(StretchContrast(&sixteen), 0);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&sixteen, 0, 0), 65535u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&sixteen, 36, 0), 0u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&sixteen, 18, 0), 32768u);  // 18000 * 65535 / 36000 + 0.5

    SZtPicBuf uniform = Grey(3, 1, 16, {500, 500, 500});
    ASSERT_EQ(StretchContrast(&uniform), 0);
    EXPECT_EQ(Values(uniform), (std::vector<std::uint32_t>{500, 500, 500}));

    SZtPicBuf rgb;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&rgb, 2, 1, 8, 3), 0);
    EXPECT_EQ(StretchContrast(&rgb), -4);
    EXPECT_EQ(StretchContrast(nullptr), -4);
}

TEST(SpotDetection, StretchIntoATargetReusesItsPixelsButNeverWritesAView) {
    const SZtPicBuf source = Grey(3, 1, 16, {100, 150, 200});
    SZtPicBuf target = Grey(3, 1, 16, {7, 7, 7});
    const std::uint8_t* pixels = target.data;
    ASSERT_EQ(StretchContrast(source, &target), 0);
    EXPECT_EQ(target.data, pixels);
    EXPECT_EQ(Values(target), (std::vector<std::uint32_t>{0, 32768, 65535}));

    // Another format is replaced; a uniform picture is copied as it is.
    const SZtPicBuf uniform = Grey(2, 2, 12, {300, 300, 300, 300});
    ASSERT_EQ(StretchContrast(uniform, &target), 0);
    EXPECT_EQ(target.width, 2u);
    EXPECT_EQ(target.bitsPerComponent, 12u);
    EXPECT_EQ(Values(target), (std::vector<std::uint32_t>{300, 300, 300, 300}));

    std::uint16_t external[3] = {1, 2, 3};
    SZtPicBuf view = PictureView(external, 3, 1, 6, 16);
    ASSERT_EQ(StretchContrast(source, &view), 0);
    EXPECT_TRUE(view.ownsData);
    EXPECT_EQ(Values(view), (std::vector<std::uint32_t>{0, 32768, 65535}));
    EXPECT_EQ(external[0], 1);

    SZtPicBuf rgb;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&rgb, 2, 1, 8, 3), 0);
    EXPECT_EQ(StretchContrast(rgb, &target), -4);
    EXPECT_EQ(StretchContrast(source, nullptr), -4);
}

// ---- DetectSpot --------------------------------------------------------------------------------

// A detector of its own for one frame.
int DetectSpot(const SZtPicBuf* frame, SZtPointD* point) {
    CZtSpotDetector detector;
    return detector.DetectSpot(frame, point);
}

TEST(SpotDetection, FindsBlurredSquaresAtSubPixelCentresInEveryDepth) {
    // The centre is that of the pixels above a threshold, so which edge pixels pass decides a
    // few hundredths of a pixel: single finds stay within 0.15 pixels, and they scatter by less
    // than 0.05 pixels (root mean square per coordinate).
    struct SDepth {
        std::uint32_t bits;
        std::uint32_t components;
        double background;
        double amplitude;
        double noise;
    };
    const SDepth depths[] = {
        {8, 1, 12, 180, 2}, {12, 1, 200, 3000, 20}, {16, 1, 3000, 40000, 300}, {8, 3, 12, 180, 2}};
    std::uint32_t seed = 1;
    for (const SDepth& depth : depths) {
        double squares = 0.0;
        int finds = 0;
        for (const double fx : {0.0, 0.25, 0.5, 0.8}) {
            for (const double fy : {0.1, 0.45, 0.7}) {
                const SSpot spot{137.0 + fx, 71.0 + fy};
                const SZtPicBuf frame =
                    Render(256, 192, depth.bits, {spot}, depth.background, depth.amplitude,
                           depth.noise, ++seed, depth.components);
                SZtPointD found{-5.0, -5.0};
                ASSERT_EQ(DetectSpot(&frame, &found), 0) << depth.bits << " bits, seed " << seed;
                EXPECT_NEAR(found.x, spot.x, 0.15) << depth.bits << " bits, seed " << seed;
                EXPECT_NEAR(found.y, spot.y, 0.15) << depth.bits << " bits, seed " << seed;
                squares += (found.x - spot.x) * (found.x - spot.x) +
                           (found.y - spot.y) * (found.y - spot.y);
                finds += 2;
            }
        }
        EXPECT_LT(std::sqrt(squares / finds), 0.05) << depth.bits << " bits";
    }
}

TEST(SpotDetection, ASymmetricSpotIsFoundExactlyAndTheFrameIsLeftAlone) {
    // Without noise a spot centred on a pixel or between two is symmetric about its centre, and
    // so is every step of the search.
    for (const SSpot spot : {SSpot{100.0, 60.0}, SSpot{100.5, 60.5, 7.0, 2.0}}) {
        const SZtPicBuf frame = Render(220, 150, 16, {spot}, 1000, 20000, 0, 0);
        const std::vector<std::uint32_t> before = Values(frame);
        SZtPointD found;
        ASSERT_EQ(DetectSpot(&frame, &found), 0);
        EXPECT_NEAR(found.x, spot.x, 1e-9);
        EXPECT_NEAR(found.y, spot.y, 1e-9);
        EXPECT_EQ(Values(frame), before);
    }
}

TEST(SpotDetection, AFaintStreakJoinedToTheSpotStaysOutOfItsCentre) {
    // The streak belongs to the region that grows from the peak, but lies below the threshold
    // that separates the spot from its surroundings; counted in, it would pull the centre two
    // and a half pixels to the right.
    const SSpot spot{100.0, 80.0, 10.0, 1.5};
    const SSpot streak{120.0, 80.0, 4.0, 1.0, 0.2, 30.0};
    const SZtPicBuf frame = Render(256, 192, 16, {spot, streak}, 1000, 30000, 0, 0);
    SZtPointD found;
    ASSERT_EQ(DetectSpot(&frame, &found), 0);
    EXPECT_NEAR(found.x, spot.x, 0.1);
    EXPECT_NEAR(found.y, spot.y, 1e-9);
}

TEST(SpotDetection, OneDetectorServesFrameAfterFrameOfAnySize) {
    // What a detector keeps from one frame must not leak into the next: larger frames need a
    // larger queue, other depths another conversion, and a frame without a spot in between must
    // not disturb the ones after it.
    const std::vector<SZtPicBuf> frames = [] {
        std::vector<SZtPicBuf> f;
        f.push_back(Render(200, 160, 16, {{20.3, 30.2, 10.0, 2.0}}, 100, 20000, 5, 21));
        f.push_back(Render(300, 200, 12, {{250.6, 150.1}}, 200, 3000, 20, 22));
        f.push_back(Render(300, 200, 12, {}, 200, 0, 20, 23));
        f.push_back(Render(160, 256, 8, {{40.0, 200.5, 10.0, 2.0}}, 12, 180, 2, 24));
        f.push_back(Render(300, 200, 12, {{10.2, 100.7}}, 200, 3000, 20, 25));
        return f;
    }();
    CZtSpotDetector reused;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SZtPointD fresh{-1.0, -1.0};
        SZtPointD again{-1.0, -1.0};
        const int status = DetectSpot(&frames[i], &fresh);
        EXPECT_EQ(reused.DetectSpot(&frames[i], &again), status) << "frame " << i;
        EXPECT_EQ(again.x, fresh.x) << "frame " << i;
        EXPECT_EQ(again.y, fresh.y) << "frame " << i;
        EXPECT_EQ(status, i == 2 ? -13 : 0) << "frame " << i;
    }
}

TEST(SpotDetection, FramesWithoutASpotFindNothing) {
    SZtPointD found{1.0, 2.0};
    for (const std::uint32_t level : {0u, 1000u, 4095u}) {
        const SZtPicBuf uniform = Render(64, 48, 12, {}, level, 0, 0, 0);
        EXPECT_EQ(DetectSpot(&uniform, &found), -13) << level;
    }
    const SZtPicBuf noise = Render(256, 192, 12, {}, 500, 0, 30, 9);
    EXPECT_EQ(DetectSpot(&noise, &found), -13);
    // A faint spot does not stand out from the noise.
    const SZtPicBuf faint = Render(256, 192, 12, {{100.0, 100.0}}, 500, 40, 30, 9);
    EXPECT_EQ(DetectSpot(&faint, &found), -13);
    EXPECT_EQ(found.x, 1.0);
    EXPECT_EQ(found.y, 2.0);

    SZtPicBuf empty;
    EXPECT_EQ(DetectSpot(&empty, &found), -9);
    EXPECT_EQ(DetectSpot(nullptr, &found), -9);
    const SZtPicBuf frame = Render(64, 48, 12, {{30.0, 20.0}}, 100, 3000, 0, 0);
    EXPECT_EQ(DetectSpot(&frame, nullptr), -9);
}

TEST(SpotDetection, OfTwoEqualSpotsTheFirstInRowOrderIsFound) {
    // Identical spots, whole pixels apart: their smoothed peaks are equal. The upper one is met
    // first although it lies further right; on one row the left one is.
    const SSpot upper{200.3, 40.6};
    const SSpot lower{60.3, 120.6};
    const SZtPicBuf frame = Render(256, 192, 16, {lower, upper}, 1000, 30000, 0, 0);
    SZtPointD found;
    ASSERT_EQ(DetectSpot(&frame, &found), 0);
    EXPECT_NEAR(found.x, upper.x, 0.1);
    EXPECT_NEAR(found.y, upper.y, 0.1);

    const SSpot left{60.3, 90.6};
    const SSpot right{180.3, 90.6};
    const SZtPicBuf row = Render(256, 192, 16, {right, left}, 1000, 30000, 0, 0);
    ASSERT_EQ(DetectSpot(&row, &found), 0);
    EXPECT_NEAR(found.x, left.x, 0.1);
    EXPECT_NEAR(found.y, left.y, 0.1);
}

TEST(SpotDetection, ASpotCutByTheImageEdgeIsStillFound) {
    // Centred 2 pixels inside the left edge and 1 inside the bottom one: the box around the spot
    // is clipped to the frame, and the centre found lies in the part the camera sees.
    const SSpot corner{2.0, 190.0};
    const SZtPicBuf frame = Render(256, 192, 12, {corner}, 200, 3000, 10, 4);
    SZtPointD found;
    ASSERT_EQ(DetectSpot(&frame, &found), 0);
    EXPECT_GE(found.x, 0.0);
    EXPECT_LT(found.x, 7.0);
    EXPECT_GT(found.y, 185.0);
    EXPECT_LE(found.y, 191.0);

    // Cut on one side only: the other coordinate keeps its accuracy.
    const SSpot top{128.4, 1.0};
    const SZtPicBuf edge = Render(256, 192, 12, {top}, 200, 3000, 10, 5);
    ASSERT_EQ(DetectSpot(&edge, &found), 0);
    EXPECT_NEAR(found.x, top.x, 0.1);
    EXPECT_GE(found.y, 0.0);
    EXPECT_LT(found.y, 6.0);
}

TEST(SpotDetection, CentralOtsuThresholdSeparatesTwoClustersOfTheCentralPart) {
    // Only the central two thirds count (heights of whole sixths keep that part a rectangle): a
    // bright frame around a two-valued centre leaves the threshold between the centre's values,
    // around a centre of one value at 0 (every pixel counts). Padded rows never count.
    std::mt19937 random(37);
    CZtSpotDetector detector;
    for (const auto& [width, height] :
         {std::pair{6u, 6u}, std::pair{30u, 24u}, std::pair{61u, 48u}}) {
        for (const std::uint32_t padding : {0u, 3u}) {
            SZtPicBuf box;
            ASSERT_EQ(CZtPicBufAPI::Alloc(&box, width + padding, height, 16, 1), 0);
            SZtPicBuf flat;
            ASSERT_EQ(CZtPicBufAPI::Alloc(&flat, width + padding, height, 16, 1), 0);
            for (std::uint32_t y = 0; y < height; ++y) {
                for (std::uint32_t x = 0; x < width + padding; ++x) {
                    const bool central = x >= width / 6 && x < width / 6 + 2 * (width / 3) &&
                                         y >= height / 6 && y < height / 6 + 2 * (height / 3);
                    const std::uint32_t low = 100 + random() % 800;
                    const std::uint32_t high = 40000 + random() % 3000;
                    CZtPicBufAPI::SetValue(&box, x, y, !central ? 65535 : (x + y) % 2 ? high : low);
                    CZtPicBufAPI::SetValue(&flat, x, y, central ? 777 : 60000);
                }
            }
            box.width = flat.width = width;
            const std::uint32_t cut = detector.CentralOtsuThreshold(box);
            EXPECT_GE(cut, 100u) << width << " x " << height << " + " << padding;
            EXPECT_LT(cut, 40000u) << width << " x " << height << " + " << padding;
            EXPECT_EQ(detector.CentralOtsuThreshold(flat), 0u) << width << " x " << height;
        }
    }
}

TEST(SpotDetection, SpotsInFramesOfOddSizesAndEveryDepthAreFoundWhereTheyAre) {
    // Sizes that are no multiple of any vector step, every depth the detector converts, spots
    // near the edges too, and a frame of padded rows: the centre found is the one rendered, to
    // the few tenths of a pixel that the edge pixels of a sharp square decide.
    std::mt19937 random(29);
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{130, 101}, {201, 150}, {333, 211}};
    const std::pair<std::uint32_t, std::uint32_t> depths[] = {
        {8, 1}, {12, 1}, {16, 1}, {8, 3}, {16, 3}};
    CZtSpotDetector reused;
    for (const auto& [width, height] : sizes) {
        for (const auto& [bits, components] : depths) {
            const double top = std::ldexp(1.0, static_cast<int>(bits)) - 1.0;
            const SSpot spot{12.0 + random() % (width - 24) + (random() % 100) / 100.0,
                             12.0 + random() % (height - 24) + (random() % 100) / 100.0, 10.0, 1.0};
            const SZtPicBuf frame = Render(width, height, bits, {spot}, 0.05 * top, 0.6 * top,
                                           0.002 * top, random(), components);
            SZtPointD found{-1.0, -1.0};
            ASSERT_EQ(reused.DetectSpot(&frame, &found), 0) << width << " x " << height;
            EXPECT_NEAR(found.x, spot.x, 0.3) << width << " x " << height << ", " << bits;
            EXPECT_NEAR(found.y, spot.y, 0.3) << width << " x " << height << ", " << bits;
        }
    }
    const SZtPicBuf wide = Render(280, 150, 16, {{70.4, 30.2, 8.0, 1.0}}, 2000, 30000, 100, 31);
    const SZtPicBuf padded = PictureView(wide.data, 263, 150, wide.stride, 16);
    SZtPointD found{-1.0, -1.0};
    ASSERT_EQ(reused.DetectSpot(&padded, &found), 0);
    EXPECT_NEAR(found.x, 70.4, 0.3);
    EXPECT_NEAR(found.y, 30.2, 0.3);
}

TEST(SpotDetection, EveryVectorPathFindsTheCentreThePlainStepsFind) {
    // AVX-512, AVX2 and SSE2 with plain steps must agree to the last bit on frames of odd sizes,
    // every depth, spots at the edges, frames without a spot and pictures of one row or column.
    std::mt19937 random(41);
    std::vector<SZtPicBuf> frames;
    for (const auto& [width, height] : {std::pair{37u, 23u}, std::pair{130u, 101u},
                                        std::pair{257u, 129u}, std::pair{333u, 211u}}) {
        for (const auto& [bits, components] :
             {std::pair{8u, 1u}, std::pair{10u, 1u}, std::pair{12u, 1u}, std::pair{16u, 1u},
              std::pair{8u, 3u}, std::pair{16u, 3u}}) {
            const double top = std::ldexp(1.0, static_cast<int>(bits)) - 1.0;
            const SSpot spot{static_cast<double>(random() % width) + (random() % 100) / 100.0,
                             static_cast<double>(random() % height) + (random() % 100) / 100.0,
                             8.0 + random() % 4, 0.5 + (random() % 10) / 10.0};
            frames.push_back(Render(width, height, bits, {spot}, 0.05 * top, 0.6 * top,
                                    0.002 * top * (random() % 5), random(), components));
        }
        frames.push_back(Render(width, height, 16, {}, 3000, 0, 300, random()));
    }
    for (const auto& [width, height] : {std::pair{1u, 9u}, std::pair{9u, 1u}}) {
        frames.push_back(Render(width, height, 16, {{0.0, 0.0, 1.0, 0.5}}, 10, 60000, 0, 0));
    }
    const auto detectWith = [&](int widest, std::vector<std::pair<int, SZtPointD>>* results) {
        zthost::SetAvx512Allowed(widest == 512);
        zthost::SetAvx2Allowed(widest >= 256);
        SetSpotDetectionVectorBits(widest);
        CZtSpotDetector detector;
        for (const SZtPicBuf& frame : frames) {
            SZtPointD point{-1.0, -1.0};
            const int result = detector.DetectSpot(&frame, &point);
            results->push_back({result, point});
        }
    };
    std::vector<std::pair<int, SZtPointD>> plain;
    detectWith(128, &plain);
    EXPECT_GE(std::count_if(plain.begin(), plain.end(), [](const auto& r) { return r.first == 0; }),
              16);
    for (const int widest : {256, 512}) {
        std::vector<std::pair<int, SZtPointD>> vector;
        detectWith(widest, &vector);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(vector[i].first, plain[i].first) << i << ", vectors of " << widest;
            EXPECT_EQ(vector[i].second.x, plain[i].second.x) << i << ", vectors of " << widest;
            EXPECT_EQ(vector[i].second.y, plain[i].second.y) << i << ", vectors of " << widest;
        }
    }
    zthost::SetAvx512Allowed(true);
    zthost::SetAvx2Allowed(true);
    SetSpotDetectionVectorBits(512);
}

// ---- Least squares -----------------------------------------------------------------------------

std::vector<SZtPointD> Mapped(const CZtMatrix3& m, const std::vector<SZtPointD>& points) {
    std::vector<SZtPointD> result;
    for (const SZtPointD& p : points) {
        result.push_back({m[0] * p.x + m[1] * p.y + m[2], m[3] * p.x + m[4] * p.y + m[5]});
    }
    return result;
}

void ExpectMatrixNear(const CZtMatrix3& actual, const CZtMatrix3& expected, double tolerance) {
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
    }
}

CZtMatrix3 Product(const CZtMatrix3& a, const CZtMatrix3& b) {
    CZtMatrix3 c{};
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) {
            for (int col = 0; col < 3; ++col) {
                c[3 * r + col] += a[3 * r + k] * b[3 * k + col];
            }
        }
    }
    return c;
}

const CZtMatrix3 kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1};

TEST(LeastSquares, ThreePairsGiveTheExactAffineMap) {
    const CZtMatrix3 truth = {1.25, -0.2, 310.5, 0.15, 1.3, -42.0, 0, 0, 1};
    std::vector<SZtPointD> source = {{10, 20}, {700, 35}, {300, 550}};
    std::vector<SZtPointD> target = Mapped(truth, source);
    CZtMatrix3 fit{};
    ASSERT_EQ(CalibrateWithLeastSquares_64f(&source, &target, &fit), 0);
    ExpectMatrixNear(fit, truth, 1e-9);
    EXPECT_TRUE(source.empty());
    EXPECT_TRUE(target.empty());
}

TEST(LeastSquares, ErrorsThatNoAffineMapCanExplainAverageOut) {
    // The corners of a square moved by +e, -e, -e, +e: orthogonal to every affine change, so the
    // best fit is the map without them.
    const CZtMatrix3 truth = {0.8, 0.1, 5.0, -0.1, 0.8, 7.0, 0, 0, 1};
    std::vector<SZtPointD> source = {{0, 0}, {100, 0}, {0, 100}, {100, 100}};
    std::vector<SZtPointD> target = Mapped(truth, source);
    const double e[] = {0.5, -0.5, -0.5, 0.5};
    for (int i = 0; i < 4; ++i) {
        target[i].x += e[i];
        target[i].y -= e[i];
    }
    CZtMatrix3 fit{};
    ASSERT_EQ(CalibrateWithLeastSquares_64f(&source, &target, &fit), 0);
    ExpectMatrixNear(fit, truth, 1e-9);
}

TEST(LeastSquares, TooFewDifferentOrCollinearPointsAreRefused) {
    const CZtMatrix3 untouched = {9, 9, 9, 9, 9, 9, 9, 9, 9};
    CZtMatrix3 fit = untouched;
    std::vector<SZtPointD> two = {{0, 0}, {1, 1}};
    std::vector<SZtPointD> twoMore = {{5, 5}, {6, 7}};
    EXPECT_EQ(CalibrateWithLeastSquares_64f(&two, &twoMore, &fit), -9);
    EXPECT_TRUE(two.empty());
    EXPECT_TRUE(twoMore.empty());

    zthost::ClearCapturedLog();
    std::vector<SZtPointD> three = {{0, 0}, {10, 0}, {0, 10}};
    std::vector<SZtPointD> four = {{0, 0}, {10, 0}, {0, 10}, {10, 10}};
    EXPECT_EQ(CalibrateWithLeastSquares_64f(&three, &four, &fit), -9);
    EXPECT_TRUE(three.empty());
    EXPECT_TRUE(four.empty());
    EXPECT_FALSE(zthost::LogContains(L"Invalid data supplied")) << "detail line only";
    zthost::SetDetailLogging(true);
    three = {{0, 0}, {10, 0}, {0, 10}};
    four = {{0, 0}, {10, 0}, {0, 10}, {10, 10}};
    EXPECT_EQ(CalibrateWithLeastSquares_64f(&three, &four, &fit), -9);
    zthost::SetDetailLogging(false);
    EXPECT_TRUE(zthost::LogContains(
        L"Verove CalibrateWithLeastSquares_64f: CalibrateWithLeastSquares_64f Invalid data "
        L"supplied to calibration procedure"));

    // On a slanted line (rank lost to rounding only) and on an axis (rank lost exactly).
    for (const std::vector<SZtPointD>& line :
         {std::vector<SZtPointD>{{1, 2}, {4, 3}, {10, 5}, {13, 6}},
          std::vector<SZtPointD>{{0, 3}, {5, 3}, {9, 3}}}) {
        std::vector<SZtPointD> source = line;
        std::vector<SZtPointD> target = Mapped({2, 0, 1, 0, 2, 1, 0, 0, 1}, line);
        EXPECT_EQ(CalibrateWithLeastSquares_64f(&source, &target, &fit), -9);
    }
    EXPECT_EQ(fit, untouched);
}

// ---- Calibration matrices ----------------------------------------------------------------------

// A 2048 x 2048 camera looking at a DMD through a scaled, slightly turned mapping, its image shown
// turned by a quarter turn and mirrored.
class LeastSquaresCalibration : public ::testing::Test {
protected:
    void SetUp() override {
        format.value.sensorRect = {0, 0, 2048, 2048};
        format.value.imageRect = format.value.sensorRect;
        format.value.flipY = true;
        ASSERT_EQ(
            CalcTransformChipToImg(&format, kAngle, nullptr, nullptr, false, imageFromChip.data()),
            0);
        rotation = {
            std::cos(kAngle), -std::sin(kAngle), 0, std::sin(kAngle), std::cos(kAngle), 0, 0, 0, 1};
        flip = {1, 0, 0, 0, -1, 0, 0, 0, 1};
        for (int j = 0; j < 6; ++j) {
            for (int i = 0; i < 8; ++i) {
                dmd.push_back({100.0 + 170.0 * i, 80.0 + 140.0 * j});
            }
        }
        camera = Mapped(kDmdToChip, dmd);
    }

    CZtCameraTransformQuery Transform() {
        return [this](CZtMatrix3* r, CZtMatrix3* f, std::array<double, 3>* c) {
            ++queries;
            *r = rotation;
            *f = flip;
            *c = {1024.0, 1024.0, 1.0};
            return 0;
        };
    }

    static constexpr double kAngle = 1.5707963267948966;
    const CZtMatrix3 kDmdToChip = {1.3, -0.09, 130.0, 0.08, 1.28, 150.0, 0, 0, 1};
    SZtGrabberFormatDesc format;
    CZtMatrix3 imageFromChip{};
    CZtMatrix3 rotation{};
    CZtMatrix3 flip{};
    std::vector<SZtPointD> dmd;
    std::vector<SZtPointD> camera;
    int queries = 0;
};

TEST_F(LeastSquaresCalibration, StoredMatricesGiveTheMeasuredMapOnTheUnturnedCamera) {
    CZtMatrix3 dmdToCamera{};
    CZtMatrix3 cameraToDmd{};
    ASSERT_EQ(ComputeCalibrationMatrices(&dmd, &camera, 2048, 2048, imageFromChip, Transform(),
                                         &dmdToCamera, &cameraToDmd),
              0);
    EXPECT_EQ(queries, 1);
    EXPECT_TRUE(dmd.empty());
    EXPECT_TRUE(camera.empty());
    // Applied with the same rotation, flip and centre, the camera -> DMD matrix is the measured
    // chip -> DMD map again, and the DMD -> camera matrix its inverse.
    CZtMatrix3 unrotated{};
    const std::array<double, 3> centre = {1024.0, 1024.0, 1.0};
    ASSERT_EQ(
        GetMappingToUnrotatedCamera(rotation.data(), flip.data(), centre.data(), unrotated.data()),
        0);
    CZtMatrix3 chipToDmd{};
    ASSERT_EQ(InvertMatrix(3, kDmdToChip.data(), chipToDmd.data()), 0);
    ExpectMatrixNear(Product(cameraToDmd, unrotated), chipToDmd, 1e-9);
    ExpectMatrixNear(Product(dmdToCamera, cameraToDmd), kIdentity, 1e-9);
    // The correction is really in them: a quarter turn and a mirror are not the identity.
    EXPECT_GT(std::fabs(cameraToDmd[0] - chipToDmd[0]), 0.5);
}

TEST_F(LeastSquaresCalibration, WithoutTheCameraCorrectionThePlainFitsAreStored) {
    CZtMatrix3 dmdToCamera{};
    CZtMatrix3 cameraToDmd{};
    const CZtCameraTransformQuery failing = [](CZtMatrix3*, CZtMatrix3*, std::array<double, 3>*) {
        return -9;
    };
    ASSERT_EQ(ComputeCalibrationMatrices(&dmd, &camera, 2048, 2048, imageFromChip, failing,
                                         &dmdToCamera, &cameraToDmd),
              0);
    CZtMatrix3 chipToDmd{};
    ASSERT_EQ(InvertMatrix(3, kDmdToChip.data(), chipToDmd.data()), 0);
    ExpectMatrixNear(dmdToCamera, kDmdToChip, 1e-9);
    ExpectMatrixNear(cameraToDmd, chipToDmd, 1e-9);
}

TEST_F(LeastSquaresCalibration, PairsSeenAtTheImageBorderAreLeftOut) {
    // Squares seen 5 image pixels from each border, at camera points that do not follow the
    // mapping (clipped squares): the margin, a 9-mirror diagonal of about 23 pixels, drops them.
    CZtMatrix3 chipFromImage{};
    ASSERT_EQ(InvertMatrix(3, imageFromChip.data(), chipFromImage.data()), 0);
    for (const SZtPointD image :
         {SZtPointD{5, 900}, SZtPointD{2043, 400}, SZtPointD{700, 5}, SZtPointD{1500, 2043}}) {
        dmd.push_back({500.0, 500.0});
        camera.push_back(Mapped(chipFromImage, {image})[0]);
    }
    CZtMatrix3 dmdToCamera{};
    CZtMatrix3 cameraToDmd{};
    ASSERT_EQ(ComputeCalibrationMatrices(&dmd, &camera, 2048, 2048, imageFromChip, nullptr,
                                         &dmdToCamera, &cameraToDmd),
              0);
    ExpectMatrixNear(dmdToCamera, kDmdToChip, 1e-9);
}

// Each chip point moved by (0.3, 0.4) or its opposite in a checkerboard over the grid: errors
// no affine map can take up, so the fit is the true map and the residual of every pair is half
// a camera pixel.
TEST_F(LeastSquaresCalibration, TheFitIsMeasuredOnThePairsItUsedInImagePixels) {
    for (size_t k = 0; k < camera.size(); ++k) {
        const double sign = ((k % 8) + (k / 8)) % 2 == 0 ? 1.0 : -1.0;
        camera[k].x += 0.3 * sign;
        camera[k].y += 0.4 * sign;
    }
    // A pair at the border, left out of the fit and its residual.
    CZtMatrix3 chipFromImage{};
    ASSERT_EQ(InvertMatrix(3, imageFromChip.data(), chipFromImage.data()), 0);
    dmd.push_back({500.0, 500.0});
    camera.push_back(Mapped(chipFromImage, {{5, 900}})[0]);
    const std::vector<SZtPointD> usedDmd(dmd.begin(), dmd.end() - 1);
    const std::vector<SZtPointD> usedCamera(camera.begin(), camera.end() - 1);

    CZtMatrix3 dmdToCamera{};
    CZtMatrix3 cameraToDmd{};
    SZtCalibrationFit fit;
    ASSERT_EQ(ComputeCalibrationMatrices(&dmd, &camera, 2048, 2048, imageFromChip, Transform(),
                                         &dmdToCamera, &cameraToDmd, &fit),
              0);
    EXPECT_EQ(fit.pairs, 48u);
    EXPECT_NEAR(fit.rms, 0.5, 1e-9);
    EXPECT_NEAR(fit.max, 0.5, 1e-9);
    EXPECT_FALSE(fit.IsHigh());

    // The same pairs on a camera binned 2 x 2: a quarter of a displayed pixel.
    const CZtMatrix3 binned = {0.5, 0, 0, 0, 0.5, 0, 0, 0, 1};
    const SZtCalibrationFit half = MeasureFit(kDmdToChip, usedDmd, usedCamera, binned);
    EXPECT_NEAR(half.rms, 0.25, 1e-9);
    EXPECT_NEAR(half.max, 0.25, 1e-9);
}

TEST_F(LeastSquaresCalibration, ASquareFoundOffItsPlaceMakesTheResidualHigh) {
    std::vector<SZtPointD> found = camera;
    found[17].x += 2.0;
    const SZtCalibrationFit fit = MeasureFit(kDmdToChip, dmd, found, imageFromChip);
    EXPECT_EQ(fit.pairs, 48u);
    EXPECT_NEAR(fit.max, 2.0, 1e-9);
    EXPECT_NEAR(fit.rms, 2.0 / std::sqrt(48.0), 1e-9);
    EXPECT_TRUE(fit.IsHigh());
    EXPECT_EQ(MeasureFit(kDmdToChip, {}, {}, imageFromChip).pairs, 0u);
}

TEST_F(LeastSquaresCalibration, FewerThanThreePairsInsideTheMarginFail) {
    // Only two of the pairs lie inside the image away from its border.
    CZtMatrix3 chipFromImage{};
    ASSERT_EQ(InvertMatrix(3, imageFromChip.data(), chipFromImage.data()), 0);
    const std::vector<SZtPointD> images = {{1000, 1000}, {1200, 800},  {3, 3},
                                           {2045, 30},   {1000, 2046}, {10, 1500}};
    camera = Mapped(chipFromImage, images);
    dmd = Mapped(chipFromImage, images);
    const CZtMatrix3 untouched = {7, 7, 7, 7, 7, 7, 7, 7, 7};
    CZtMatrix3 dmdToCamera = untouched;
    CZtMatrix3 cameraToDmd = untouched;
    SZtCalibrationFit fit;
    fit.pairs = 99;
    EXPECT_EQ(ComputeCalibrationMatrices(&dmd, &camera, 2048, 2048, imageFromChip, Transform(),
                                         &dmdToCamera, &cameraToDmd, &fit),
              -9);
    EXPECT_EQ(dmdToCamera, untouched);
    EXPECT_EQ(cameraToDmd, untouched);
    EXPECT_EQ(fit.pairs, 99u);
    EXPECT_TRUE(dmd.empty());
    EXPECT_TRUE(camera.empty());

    // Lists of different lengths fail at the first fit.
    dmd = {{1, 1}, {2, 3}, {5, 1}};
    camera = {{1, 1}, {2, 3}};
    EXPECT_EQ(ComputeCalibrationMatrices(&dmd, &camera, 2048, 2048, imageFromChip, Transform(),
                                         &dmdToCamera, &cameraToDmd),
              -9);
    EXPECT_EQ(dmdToCamera, untouched);
}

}  // namespace
