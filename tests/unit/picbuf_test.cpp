// PicBuf: host picture buffers: layout, ownership, copies, copy-rectangle, stretch, conversions,
// box smoothing and intensity statistics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "plain_pictures.h"
#include "zt/zt_picbuf.h"
#include "zthost/zthost.h"

namespace {

// A picture of the given format with the values listed row by row (components interleaved).
SZtPicBuf Make(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
               std::uint32_t components, const std::vector<std::uint32_t>& values) {
    SZtPicBuf pic;
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, width, height, bits, components), 0);
    std::size_t i = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t c = 0; c < components; ++c, ++i) {
                EXPECT_EQ(CZtPicBufAPI::SetValue(&pic, x, y, values.at(i), c), 0);
            }
        }
    }
    return pic;
}

std::vector<std::uint32_t> Values(const SZtPicBuf& pic) {
    std::vector<std::uint32_t> values;
    for (std::uint32_t y = 0; y < pic.height; ++y) {
        for (std::uint32_t x = 0; x < pic.width; ++x) {
            for (std::uint32_t c = 0; c < pic.components; ++c) {
                values.push_back(CZtPicBufAPI::GetValue(&pic, x, y, c));
            }
        }
    }
    return values;
}

using V = std::vector<std::uint32_t>;

TEST(PicBuf, AllocLaysRowsOutPerDepthAndZeroFills) {
    struct Case {
        std::uint32_t width, bits, components, stride;
    };
    for (const Case& c : {Case{10, 1, 1, 2}, Case{5, 4, 1, 3}, Case{5, 8, 1, 5}, Case{5, 8, 3, 15},
                          Case{5, 12, 1, 10}, Case{5, 16, 3, 30}}) {
        SZtPicBuf pic;
        ASSERT_EQ(CZtPicBufAPI::Alloc(&pic, c.width, 3, c.bits, c.components), 0);
        EXPECT_EQ(pic.stride, c.stride) << c.bits << " bits, " << c.components << " components";
        EXPECT_EQ(pic.bitsPerComponent, c.bits);
        EXPECT_TRUE(pic.ownsData);
        EXPECT_EQ(Values(pic), V(c.width * 3 * c.components, 0));
    }
}

TEST(PicBuf, AllocRefusesBadFormatsAndAbsurdSizes) {
    SZtPicBuf pic;
    EXPECT_EQ(CZtPicBufAPI::Alloc(nullptr, 4, 4, 8, 1), -4);
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, 0, 4, 8, 1), -4);
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, 4, 4, 4, 3), -4);
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, 4, 4, 17, 1), -4);
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, 4, 4, 8, 2), -4);
    ASSERT_EQ(CZtPicBufAPI::Alloc(&pic, 4, 4, 8, 1), 0);
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, 65536, 65536, 16, 3), -3);
    EXPECT_TRUE(pic.IsEmpty());
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, 0xFFFFFFFFu, 0xFFFFFFFFu, 16, 3), -3);
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, 0xFFFFFFFFu, 1, 16, 3), -3);
    EXPECT_TRUE(pic.IsEmpty());
}

TEST(PicBuf, PixelAccessFollowsThePackedLayouts) {
    SZtPicBuf bits1;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&bits1, 16, 1, 1, 1), 0);
    EXPECT_EQ(CZtPicBufAPI::SetValue(&bits1, 9, 0, 1), 0);
    EXPECT_EQ(bits1.data[0], 0);
    EXPECT_EQ(bits1.data[1], 0x40);  // x = 9: bit 6 of byte 1
    EXPECT_EQ(CZtPicBufAPI::SetValue(&bits1, 9, 0, 0), 0);
    EXPECT_EQ(bits1.data[1], 0);

    SZtPicBuf bits4 = Make(3, 1, 4, 1, {0xA, 0x5, 0xF});
    EXPECT_EQ(bits4.data[0], 0xA5);
    EXPECT_EQ(bits4.data[1], 0xF0);

    SZtPicBuf rgb16 = Make(2, 1, 16, 3, {1, 2, 3, 0xFFFF, 0x1234, 0});
    const auto* words = reinterpret_cast<const std::uint16_t*>(rgb16.data);
    EXPECT_EQ(words[3], 0xFFFF);
    EXPECT_EQ(words[4], 0x1234);

    // Values are clipped to the depth; outside the picture nothing is written or read.
    SZtPicBuf grey12;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&grey12, 2, 2, 12, 1), 0);
    EXPECT_EQ(CZtPicBufAPI::SetValue(&grey12, 0, 0, 70000), 0);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&grey12, 0, 0), 4095u);
    EXPECT_EQ(CZtPicBufAPI::SetValue(&grey12, 2, 0, 1), -4);
    EXPECT_EQ(CZtPicBufAPI::SetValue(&grey12, 0, 0, 1, 1), -4);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&grey12, 0, 2), 0u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(nullptr, 0, 0), 0u);
}

TEST(PicBuf, OwnershipMovesAndViewsAreNeverFreed) {
    SZtPicBuf owner = Make(2, 1, 8, 1, {7, 9});
    const std::uint8_t* pixels = owner.data;
    SZtPicBuf moved(std::move(owner));
    EXPECT_TRUE(owner.IsEmpty());
    EXPECT_EQ(moved.data, pixels);
    SZtPicBuf assigned = Make(1, 1, 8, 1, {1});
    assigned = std::move(moved);
    EXPECT_EQ(Values(assigned), (V{7, 9}));

    std::uint8_t external[8] = {1, 2, 3, 0, 4, 5, 6, 0};  // two rows of three, padded to four
    {
        SZtPicBuf view;
        view.width = 3;
        view.height = 2;
        view.stride = 4;
        view.bitsPerComponent = 8;
        view.components = 1;
        view.data = external;
        EXPECT_EQ(Values(view), (V{1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(CZtPicBufAPI::Free(&view), 0);
        EXPECT_TRUE(view.IsEmpty());
    }
    EXPECT_EQ(external[5], 5);
}

TEST(PicBuf, CopyIsDeepAndTight) {
    std::uint8_t external[8] = {1, 2, 3, 99, 4, 5, 6, 99};
    SZtPicBuf view;
    view.width = 3;
    view.height = 2;
    view.stride = 4;
    view.bitsPerComponent = 8;
    view.components = 1;
    view.data = external;
    SZtPicBuf copy;
    ASSERT_EQ(CZtPicBufAPI::Copy(&view, &copy), 0);
    EXPECT_EQ(copy.stride, 3u);
    EXPECT_TRUE(copy.ownsData);
    EXPECT_EQ(Values(copy), (V{1, 2, 3, 4, 5, 6}));
    CZtPicBufAPI::SetValue(&copy, 0, 0, 50);
    EXPECT_EQ(external[0], 1);
    EXPECT_EQ(CZtPicBufAPI::Copy(&copy, &copy), 0);
    EXPECT_EQ(Values(copy), (V{50, 2, 3, 4, 5, 6}));
    view.stride = 2;  // shorter than a row: not a picture
    EXPECT_EQ(CZtPicBufAPI::Copy(&view, &copy), -4);
    EXPECT_EQ(CZtPicBufAPI::Copy(nullptr, &copy), -4);

    SZtPicBuf mask = Make(10, 1, 1, 1, {1, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    ASSERT_EQ(CZtPicBufAPI::Copy(&mask, &copy), 0);
    EXPECT_EQ(copy.bitsPerComponent, 1u);
    EXPECT_EQ(Values(copy), Values(mask));
    EXPECT_EQ(CZtPicBufAPI::Zero(&copy), 0);
    EXPECT_EQ(Values(copy), V(10, 0));
}

TEST(PicBuf, CopyRectClipsToBothPictures) {
    const SZtPicBuf src = Make(3, 3, 8, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    SZtPicBuf dst;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&dst, 4, 3, 8, 1), 0);

    // The whole source placed one pixel up and two to the right loses its first row and column.
    ASSERT_EQ(CZtPicBufAPI::CopyRect(&src, 0, 0, 3, 3, &dst, 2, -1), 0);
    EXPECT_EQ(Values(dst), (V{0, 0, 4, 5, 0, 0, 7, 8, 0, 0, 0, 0}));

    // A negative source corner moves the destination corner with it.
    CZtPicBufAPI::Zero(&dst);
    ASSERT_EQ(CZtPicBufAPI::CopyRect(&src, -1, -1, 3, 3, &dst, 0, 0), 0);
    EXPECT_EQ(Values(dst), (V{0, 0, 0, 0, 0, 1, 2, 0, 0, 4, 5, 0}));

    // The spot box of the calibration: a part of the source into a new picture of its size.
    SZtPicBuf box;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&box, 2, 2, 8, 1), 0);
    ASSERT_EQ(CZtPicBufAPI::CopyRect(&src, 1, 1, 2, 2, &box, 0, 0), 0);
    EXPECT_EQ(Values(box), (V{5, 6, 8, 9}));

    // Nothing overlaps: nothing changes.
    ASSERT_EQ(CZtPicBufAPI::CopyRect(&src, 0, 0, 3, 3, &box, 5, 0), 0);
    ASSERT_EQ(CZtPicBufAPI::CopyRect(&src, 0, 0, -3, 3, &box, 0, 0), 0);
    ASSERT_EQ(CZtPicBufAPI::CopyRect(&src, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF, &box, -0x7FFFFFFF, 0), 0);
    EXPECT_EQ(Values(box), (V{5, 6, 8, 9}));

    SZtPicBuf rgb;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&rgb, 3, 3, 8, 3), 0);
    EXPECT_EQ(CZtPicBufAPI::CopyRect(&src, 0, 0, 3, 3, &rgb, 0, 0), -4);
    SZtPicBuf mask;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&mask, 3, 3, 1, 1), 0);
    EXPECT_EQ(CZtPicBufAPI::CopyRect(&mask, 0, 0, 3, 3, &mask, 0, 0), -4);
}

TEST(PicBuf, CopyRectWithinOnePictureMovesRowsDown) {
    SZtPicBuf pic = Make(2, 3, 16, 1, {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(CZtPicBufAPI::CopyRect(&pic, 0, 0, 2, 2, &pic, 0, 1), 0);
    EXPECT_EQ(Values(pic), (V{1, 2, 1, 2, 3, 4}));
}

TEST(PicBuf, AreaStretchAveragesCoveredSourcePixels) {
    SZtPicBuf out;
    // Two pixels into one: the mean, rounded half up.
    SZtPicBuf pair = Make(2, 1, 8, 1, {0, 255});
    ASSERT_EQ(CZtPicBufAPI::Stretch(&pair, &out, 1, 1, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(Values(out), (V{128}));
    // Two into three: the middle target pixel covers half of each.
    ASSERT_EQ(CZtPicBufAPI::Stretch(&pair, &out, 3, 1, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(Values(out), (V{0, 128, 255}));
    // Three into two: weights 2:1 and 1:2.
    SZtPicBuf three = Make(3, 1, 8, 1, {0, 90, 255});
    ASSERT_EQ(CZtPicBufAPI::Stretch(&three, &out, 2, 1, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(Values(out), (V{30, 200}));
    // Both axes at once: (0 + 100 + 200 + 255) / 4 = 138.75.
    SZtPicBuf square = Make(2, 2, 8, 1, {0, 100, 200, 255});
    ASSERT_EQ(CZtPicBufAPI::Stretch(&square, &out, 1, 1, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(Values(out), (V{139}));
    // Two into three rows as well: the centre pixel is the mean of all four.
    ASSERT_EQ(CZtPicBufAPI::Stretch(&square, &out, 3, 3, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(Values(out), (V{0, 50, 100, 100, 139, 178, 200, 228, 255}));
    // 16 bits and RGB per component.
    SZtPicBuf deep = Make(2, 1, 16, 3, {0, 100, 65535, 65535, 101, 65535});
    ASSERT_EQ(CZtPicBufAPI::Stretch(&deep, &out, 1, 1, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(out.bitsPerComponent, 16u);
    EXPECT_EQ(Values(out), (V{32768, 101, 65535}));
}

TEST(PicBuf, AreaStretchReplicatesAtWholeFactorsAndKeepsPicturesAtFactorOne) {
    // A binary pattern doubled stays binary: every source pixel becomes a 2 x 2 block.
    const SZtPicBuf pattern = Make(3, 2, 8, 1, {255, 0, 255, 0, 255, 0});
    SZtPicBuf out;
    ASSERT_EQ(CZtPicBufAPI::Stretch(&pattern, &out, 6, 4, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(out.width, 6u);
    EXPECT_EQ(out.height, 4u);
    EXPECT_EQ(Values(out), (V{255, 255, 0,   0,   255, 255, 255, 255, 0,   0,   255, 255,
                              0,   0,   255, 255, 0,   0,   0,   0,   255, 255, 0,   0}));
    // Halving averages 2 x 2 blocks.
    SZtPicBuf back;
    ASSERT_EQ(CZtPicBufAPI::Stretch(&out, &back, 3, 2, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(Values(back), Values(pattern));

    std::vector<std::uint32_t> values;
    for (std::uint32_t i = 0; i < 7 * 5 * 3; ++i) {
        values.push_back((i * 37 + 11) % 256);
    }
    const SZtPicBuf rgb = Make(7, 5, 8, 3, values);
    ASSERT_EQ(CZtPicBufAPI::Stretch(&rgb, &out, 7, 5, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(Values(out), values);
    ASSERT_EQ(CZtPicBufAPI::Stretch(&rgb, &out, 7, 5, ZT_INTERPOLATION_NEAREST), 0);
    EXPECT_EQ(Values(out), values);
}

TEST(PicBuf, StretchFitsThePatternSizes) {
    // A 400 x 300 bitmap fitted to an 800 x 600 DMD, and a 1 x 1 picture to any size.
    SZtPicBuf bitmap;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&bitmap, 400, 300, 8, 1), 0);
    CZtPicBufAPI::SetValue(&bitmap, 399, 299, 255);
    SZtPicBuf out;
    ASSERT_EQ(CZtPicBufAPI::Stretch(&bitmap, &out, 800, 600, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(out.width, 800u);
    EXPECT_EQ(out.height, 600u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&out, 798, 598), 255u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&out, 799, 599), 255u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&out, 797, 599), 0u);

    const SZtPicBuf dot = Make(1, 1, 8, 1, {42});
    ASSERT_EQ(CZtPicBufAPI::Stretch(&dot, &out, 5, 2, ZT_INTERPOLATION_AREA), 0);
    EXPECT_EQ(Values(out), V(10, 42));
}

TEST(PicBuf, NearestStretchTakesThePixelUnderTheCentre) {
    const SZtPicBuf three = Make(3, 1, 8, 1, {10, 20, 30});
    SZtPicBuf out;
    ASSERT_EQ(CZtPicBufAPI::Stretch(&three, &out, 2, 1, ZT_INTERPOLATION_NEAREST), 0);
    EXPECT_EQ(Values(out), (V{10, 30}));
    ASSERT_EQ(CZtPicBufAPI::Stretch(&three, &out, 6, 1, ZT_INTERPOLATION_NEAREST), 0);
    EXPECT_EQ(Values(out), (V{10, 10, 20, 20, 30, 30}));
}

TEST(PicBuf, StretchRefusesWhatItCannotDo) {
    const SZtPicBuf pic = Make(2, 2, 8, 1, {1, 2, 3, 4});
    SZtPicBuf out = Make(1, 1, 8, 1, {77});
    EXPECT_EQ(CZtPicBufAPI::Stretch(&pic, &out, 4, 4, 2), -4);
    EXPECT_EQ(CZtPicBufAPI::Stretch(&pic, &out, 0, 4, ZT_INTERPOLATION_AREA), -4);
    EXPECT_EQ(CZtPicBufAPI::Stretch(&pic, nullptr, 4, 4, ZT_INTERPOLATION_AREA), -4);
    SZtPicBuf mask;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&mask, 8, 1, 1, 1), 0);
    EXPECT_EQ(CZtPicBufAPI::Stretch(&mask, &out, 4, 4, ZT_INTERPOLATION_AREA), -4);
    EXPECT_EQ(CZtPicBufAPI::Stretch(&pic, &out, 100000, 100000, ZT_INTERPOLATION_AREA), -3);
    EXPECT_EQ(Values(out), (V{77}));  // a failed stretch leaves the target as it was
}

TEST(PicBuf, ConvertOneBitMaskToVisibleEightBits) {
    SZtPicBuf mask = Make(3, 1, 1, 1, {1, 0, 1});
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&mask, 8, 1), 0);
    EXPECT_EQ(mask.bitsPerComponent, 8u);
    EXPECT_EQ(Values(mask), (V{1, 0, 1}));
    ASSERT_EQ(CZtPicBufAPI::MultiplyC(&mask, 255), 0);
    EXPECT_EQ(Values(mask), (V{255, 0, 255}));
}

TEST(PicBuf, ConvertScalesGreyLevelsBetweenDepths) {
    SZtPicBuf four = Make(3, 1, 4, 1, {0, 15, 8});
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&four, 8, 1), 0);
    EXPECT_EQ(Values(four), (V{0, 255, 136}));

    SZtPicBuf eight = Make(3, 1, 8, 1, {0, 1, 255});
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&eight, 16, 1), 0);
    EXPECT_EQ(eight.bitsPerComponent, 16u);
    EXPECT_EQ(Values(eight), (V{0, 257, 65535}));
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&eight, 8, 1), 0);
    EXPECT_EQ(Values(eight), (V{0, 1, 255}));

    SZtPicBuf twelve = Make(3, 1, 12, 1, {4095, 2048, 0x0AB});
    SZtPicBuf twelveCopy;
    ASSERT_EQ(CZtPicBufAPI::Copy(&twelve, &twelveCopy), 0);
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&twelve, 16, 1), 0);
    EXPECT_EQ(Values(twelve), (V{65535, 32776, 2737}));
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&twelveCopy, 8, 1), 0);
    EXPECT_EQ(Values(twelveCopy), (V{255, 128, 0x0A}));

    SZtPicBuf sixteen = Make(1, 1, 16, 1, {0xABCD});
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&sixteen, 8, 1), 0);
    EXPECT_EQ(Values(sixteen), (V{0xAB}));
}

TEST(PicBuf, ConvertBetweenRgbAndGrey) {
    SZtPicBuf rgb = Make(3, 1, 8, 3, {255, 0, 0, 100, 150, 200, 255, 255, 255});
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&rgb, 8, 1), 0);
    EXPECT_EQ(rgb.components, 1u);
    EXPECT_EQ(Values(rgb), (V{76, 141, 255}));

    SZtPicBuf deep = Make(1, 1, 16, 3, {65535, 65535, 0});
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&deep, 8, 1), 0);
    EXPECT_EQ(Values(deep), (V{226}));  // (299 + 587) * 255 / 1000 = 225.93

    SZtPicBuf grey = Make(2, 1, 8, 1, {7, 200});
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&grey, 16, 3), 0);
    EXPECT_EQ(Values(grey), (V{7 * 257, 7 * 257, 7 * 257, 200 * 257, 200 * 257, 200 * 257}));
}

TEST(PicBuf, ConvertMakesViewsOwnedAndRefusesOtherTargets) {
    std::uint8_t external[2] = {3, 4};
    SZtPicBuf view;
    view.width = 2;
    view.height = 1;
    view.stride = 2;
    view.bitsPerComponent = 8;
    view.components = 1;
    view.data = external;
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&view, 16, 1), 0);
    EXPECT_TRUE(view.ownsData);
    EXPECT_EQ(Values(view), (V{3 * 257, 4 * 257}));
    EXPECT_EQ(external[0], 3);

    EXPECT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&view, 4, 1), -4);
    EXPECT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&view, 8, 2), -4);
    EXPECT_EQ(CZtPicBufAPI::ConvertBpcAndComp(nullptr, 8, 1), -4);
    SZtPicBuf empty;
    EXPECT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&empty, 8, 1), -4);
    EXPECT_EQ(Values(view), (V{3 * 257, 4 * 257}));
}

TEST(PicBuf, MultiplySaturatesAtTheDepth) {
    SZtPicBuf grey12 = Make(3, 1, 12, 1, {1, 1000, 4095});
    ASSERT_EQ(CZtPicBufAPI::MultiplyC(&grey12, 4), 0);
    EXPECT_EQ(Values(grey12), (V{4, 4000, 4095}));
    SZtPicBuf grey8 = Make(2, 1, 8, 1, {2, 200});
    ASSERT_EQ(CZtPicBufAPI::MultiplyC(&grey8, 0xFFFFFFFFu), 0);
    EXPECT_EQ(Values(grey8), (V{255, 255}));
    EXPECT_EQ(CZtPicBufAPI::MultiplyC(nullptr, 2), -4);
}

TEST(PicBuf, ConvertKeepsPicturesAlreadyInTheTargetFormat) {
    SZtPicBuf owned = Make(2, 1, 16, 1, {5, 65535});
    const std::uint8_t* pixels = owned.data;
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&owned, 16, 1), 0);
    EXPECT_EQ(owned.data, pixels);
    EXPECT_EQ(Values(owned), (V{5, 65535}));

    std::uint16_t external[3] = {7, 8, 9};
    SZtPicBuf view;
    view.width = 3;
    view.height = 1;
    view.stride = 6;
    view.bitsPerComponent = 16;
    view.components = 1;
    view.data = reinterpret_cast<std::uint8_t*>(external);
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&view, 16, 1), 0);
    EXPECT_TRUE(view.ownsData);
    CZtPicBufAPI::SetValue(&view, 0, 0, 1);
    EXPECT_EQ(external[0], 7);
    EXPECT_EQ(Values(view), (V{1, 8, 9}));
}

TEST(PicBuf, ConvertIntoATargetReusesItsPixelsAndLeavesTheSourceAlone) {
    const SZtPicBuf twelve = Make(3, 1, 12, 1, {4095, 2048, 0x0AB});
    SZtPicBuf target = Make(3, 1, 16, 1, {1, 1, 1});
    const std::uint8_t* pixels = target.data;
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&twelve, &target, 16, 1), 0);
    EXPECT_EQ(target.data, pixels);
    EXPECT_EQ(Values(target), (V{65535, 32776, 2737}));
    EXPECT_EQ(Values(twelve), (V{4095, 2048, 0x0AB}));

    // Same format: a copy into the target; another size or format: the target is replaced.
    const SZtPicBuf sixteen = Make(3, 1, 16, 1, {9, 8, 7});
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&sixteen, &target, 16, 1), 0);
    EXPECT_EQ(target.data, pixels);
    EXPECT_EQ(Values(target), (V{9, 8, 7}));
    const SZtPicBuf rgb = Make(2, 1, 8, 3, {255, 0, 0, 0, 0, 255});
    ASSERT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&rgb, &target, 16, 1), 0);
    EXPECT_EQ(target.width, 2u);
    EXPECT_EQ(Values(target), (V{19595, 7471}));  // depth first, then (299 R + 114 B) / 1000
    EXPECT_EQ(CZtPicBufAPI::ConvertBpcAndComp(&rgb, nullptr, 16, 1), -4);
}

// The box mean by its definition: every pixel of the window that lies inside, rounded half up.
std::vector<std::uint32_t> BoxMeans(const SZtPicBuf& pic, int size) {
    std::vector<std::uint32_t> means;
    const int w = static_cast<int>(pic.width);
    const int h = static_cast<int>(pic.height);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint64_t sum = 0;
            std::uint64_t count = 0;
            for (int j = y - size / 2; j < y - size / 2 + size; ++j) {
                for (int i = x - size / 2; i < x - size / 2 + size; ++i) {
                    if (i >= 0 && i < w && j >= 0 && j < h) {
                        sum += CZtPicBufAPI::GetValue(&pic, i, j);
                        ++count;
                    }
                }
            }
            means.push_back(static_cast<std::uint32_t>((2 * sum + count) / (2 * count)));
        }
    }
    return means;
}

TEST(PicBuf, SmoothSquareAveragesTheWindowClippedToThePicture) {
    // A 3-box keeps whole windows inside and shrinks them at the ends: (30 + 61) / 2 rounds up.
    SZtPicBuf out;
    const SZtPicBuf line = Make(3, 1, 16, 1, {0, 30, 61});
    ASSERT_EQ(CZtPicBufAPI::SmoothSquare(&line, &out, 3), 0);
    EXPECT_EQ(Values(out), (V{15, 30, 46}));
    // An even box reaches one pixel further back than forward.
    ASSERT_EQ(CZtPicBufAPI::SmoothSquare(&line, &out, 2), 0);
    EXPECT_EQ(Values(out), (V{0, 15, 46}));
    ASSERT_EQ(CZtPicBufAPI::SmoothSquare(&line, &out, 1), 0);
    EXPECT_EQ(Values(out), (V{0, 30, 61}));

    // A bright pixel spreads over the 3 x 3 block around it.
    std::vector<std::uint32_t> dot(25, 0);
    dot[12] = 900;
    const SZtPicBuf square = Make(5, 5, 12, 1, dot);
    ASSERT_EQ(CZtPicBufAPI::SmoothSquare(&square, &out, 3), 0);
    EXPECT_EQ(out.bitsPerComponent, 12u);
    EXPECT_EQ(Values(out), (V{0,   0, 0, 0,   0,   0,   100, 100, 100, 0, 0, 100, 100,
                              100, 0, 0, 100, 100, 100, 0,   0,   0,   0, 0, 0}));
}

TEST(PicBuf, SmoothingAndStatisticsAgreeWithPlainSumsInEveryVectorPath) {
    // Widths around the 8- and 16-pixel steps of the smoothing and the 8- and 32-value steps of
    // the statistics put pixels into each kind of step and into the plain tail; boxes up to 11
    // divide in vector lanes, larger ones one pixel at a time. The rows are padded with bright
    // values that must never be read as pixels. Each picture runs with the AVX-512 steps and the
    // AVX2 steps (on processors that have them) and with the SSE2 steps alone.
    std::mt19937 random(11);
    for (const int widest : {512, 256, 128}) {
        zthost::SetAvx512Allowed(widest == 512);
        zthost::SetAvx2Allowed(widest == 256);
        for (const std::uint32_t width :
             {1u, 2u, 7u, 8u, 9u, 15u, 16u, 17u, 24u, 31u, 32u, 33u, 47u, 63u, 64u, 65u, 100u}) {
            for (const std::uint32_t bits : {9u, 12u, 16u}) {
                const std::uint32_t top = (1u << bits) - 1;
                const std::uint32_t height = 2 + random() % 13;
                SZtPicBuf padded;
                ASSERT_EQ(CZtPicBufAPI::Alloc(&padded, width + 5, height, bits, 1), 0);
                std::vector<std::uint32_t> values;
                for (std::uint32_t y = 0; y < height; ++y) {
                    for (std::uint32_t x = 0; x < width + 5; ++x) {
                        // The first row at the bottom of the range, the last at its top: whole
                        // vectors of extremes.
                        const std::uint32_t v = y == 0 ? 0 : y == height - 1 ? top : random() & top;
                        CZtPicBufAPI::SetValue(&padded, x, y, x < width ? v : 65535);
                        if (x < width) {
                            values.push_back(v);
                        }
                    }
                }
                const SZtPicBuf pic = PictureView(padded.data, width, height, padded.stride, bits);
                const auto where = [&] {
                    return ::testing::Message() << width << " x " << height << ", " << bits
                                                << " bits, vectors of " << widest << " bits";
                };
                for (const int size : {1, 2, 3, 10, 11, 12}) {
                    SZtPicBuf out;
                    ASSERT_EQ(CZtPicBufAPI::SmoothSquare(&pic, &out, size), 0);
                    EXPECT_EQ(Values(out), BoxMeans(pic, size)) << where() << ", box " << size;
                }
                double expectedMean = 0.0;
                double expectedDeviation = 0.0;
                PlainMeanAndDeviation(values, &expectedMean, &expectedDeviation);
                double mean = -1.0;
                double variation = -1.0;
                ASSERT_EQ(CZtPicBufAPI::GetMeanIntAndVariation(&pic, &mean, &variation), 0);
                EXPECT_EQ(mean, expectedMean) << where();
                EXPECT_EQ(variation, expectedDeviation) << where();
            }
        }
    }
    zthost::SetAvx512Allowed(true);
    zthost::SetAvx2Allowed(true);
}

TEST(PicBuf, SmoothSquareWritesInPlaceOrAside) {
    const SZtPicBuf frame = Make(4, 2, 16, 1, {10, 20, 30, 40, 50, 60, 70, 80});
    const V expected = BoxMeans(frame, 3);
    // A target of the same format is reused.
    SZtPicBuf target = Make(4, 2, 16, 1, V(8, 1));
    const std::uint8_t* pixels = target.data;
    ASSERT_EQ(CZtPicBufAPI::SmoothSquare(&frame, &target, 3), 0);
    EXPECT_EQ(target.data, pixels);
    EXPECT_EQ(Values(target), expected);
    // The picture itself: smoothed from its old values, not from those already written.
    SZtPicBuf same = Make(4, 2, 16, 1, {10, 20, 30, 40, 50, 60, 70, 80});
    ASSERT_EQ(CZtPicBufAPI::SmoothSquare(&same, &same, 3), 0);
    EXPECT_EQ(Values(same), expected);
    // A view is never written: the result replaces it.
    std::uint16_t external[2] = {100, 300};
    SZtPicBuf view;
    view.width = 2;
    view.height = 1;
    view.stride = 4;
    view.bitsPerComponent = 16;
    view.components = 1;
    view.data = reinterpret_cast<std::uint8_t*>(external);
    SZtPicBuf source = Make(2, 1, 16, 1, {100, 300});
    ASSERT_EQ(CZtPicBufAPI::SmoothSquare(&source, &view, 2), 0);
    EXPECT_TRUE(view.ownsData);
    EXPECT_EQ(Values(view), (V{100, 200}));
    EXPECT_EQ(external[1], 300);
}

TEST(PicBuf, SmoothSquareRefusesOtherPictures) {
    SZtPicBuf out = Make(1, 1, 16, 1, {77});
    const SZtPicBuf grey8 = Make(2, 2, 8, 1, {1, 2, 3, 4});
    const SZtPicBuf rgb16 = Make(1, 1, 16, 3, {1, 2, 3});
    const SZtPicBuf grey16 = Make(2, 2, 16, 1, {1, 2, 3, 4});
    EXPECT_EQ(CZtPicBufAPI::SmoothSquare(&grey8, &out, 3), -4);
    EXPECT_EQ(CZtPicBufAPI::SmoothSquare(&rgb16, &out, 3), -4);
    EXPECT_EQ(CZtPicBufAPI::SmoothSquare(&grey16, &out, 0), -4);
    EXPECT_EQ(CZtPicBufAPI::SmoothSquare(&grey16, &out, 256), -4);
    EXPECT_EQ(CZtPicBufAPI::SmoothSquare(nullptr, &out, 3), -4);
    EXPECT_EQ(CZtPicBufAPI::SmoothSquare(&grey16, nullptr, 3), -4);
    EXPECT_EQ(Values(out), (V{77}));
}

TEST(PicBuf, MeanAndStandardDeviationOfTheValues) {
    double mean = -1.0;
    double variation = -1.0;
    const SZtPicBuf ramp = Make(2, 2, 12, 1, {1, 2, 3, 4});
    ASSERT_EQ(CZtPicBufAPI::GetMeanIntAndVariation(&ramp, &mean, &variation), 0);
    EXPECT_DOUBLE_EQ(mean, 2.5);
    EXPECT_DOUBLE_EQ(variation, std::sqrt(1.25));

    const SZtPicBuf uniform = Make(3, 1, 16, 1, {40000, 40000, 40000});
    ASSERT_EQ(CZtPicBufAPI::GetMeanIntAndVariation(&uniform, &mean, &variation), 0);
    EXPECT_DOUBLE_EQ(mean, 40000.0);
    EXPECT_EQ(variation, 0.0);

    // Full-range extremes: the sums must not overflow.
    SZtPicBuf halves;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&halves, 2048, 2048, 16, 1), 0);
    for (std::uint32_t y = 0; y < 1024; ++y) {
        std::fill_n(reinterpret_cast<std::uint16_t*>(halves.Row(y)), 2048, 65535);
    }
    ASSERT_EQ(CZtPicBufAPI::GetMeanIntAndVariation(&halves, &mean, &variation), 0);
    EXPECT_DOUBLE_EQ(mean, 32767.5);
    EXPECT_NEAR(variation, 32767.5, 1e-6);

    // Values on both sides of 32768 in the vector part of each row and in its tail.
    std::mt19937 random(5);
    std::vector<std::uint32_t> values(37 * 5);
    std::uint64_t sum = 0;
    for (auto& v : values) {
        v = random() % 65536;
        sum += v;
    }
    const double expectedMean = double(sum) / values.size();
    double squares = 0.0;
    for (const auto v : values) {
        squares += (v - expectedMean) * (v - expectedMean);
    }
    const SZtPicBuf noise = Make(37, 5, 16, 1, values);
    ASSERT_EQ(CZtPicBufAPI::GetMeanIntAndVariation(&noise, &mean, &variation), 0);
    EXPECT_DOUBLE_EQ(mean, expectedMean);
    EXPECT_NEAR(variation, std::sqrt(squares / values.size()), 1e-9);

    const SZtPicBuf grey8 = Make(1, 1, 8, 1, {1});
    EXPECT_EQ(CZtPicBufAPI::GetMeanIntAndVariation(&grey8, &mean, &variation), -4);
    EXPECT_EQ(CZtPicBufAPI::GetMeanIntAndVariation(&ramp, nullptr, &variation), -4);
    SZtPicBuf empty;
    EXPECT_EQ(CZtPicBufAPI::GetMeanIntAndVariation(&empty, &mean, &variation), -4);
}

}  // namespace
