// RLEPicBuf: run-length object pictures: building, bounding boxes, extraction, comparison, copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zt/zt_picbuf.h"

namespace {

// Rows of the picture as text: '#' for a non-zero pixel, '.' for zero.
std::vector<std::string> Rows(const SZtPicBuf& pic) {
    std::vector<std::string> rows;
    for (std::uint32_t y = 0; y < pic.height; ++y) {
        std::string row;
        for (std::uint32_t x = 0; x < pic.width; ++x) {
            row += CZtPicBufAPI::GetValue(&pic, x, y) ? '#' : '.';
        }
        rows.push_back(row);
    }
    return rows;
}

SZtPicBuf MaskFromRows(const std::vector<std::string>& rows) {
    SZtPicBuf mask;
    EXPECT_EQ(CZtPicBufAPI::Alloc(&mask, rows[0].size(), rows.size(), 8, 1), 0);
    for (std::uint32_t y = 0; y < rows.size(); ++y) {
        for (std::uint32_t x = 0; x < rows[y].size(); ++x) {
            CZtPicBufAPI::SetValue(&mask, x, y, rows[y][x] == '#' ? 1 : 0);
        }
    }
    return mask;
}

struct Box {
    std::int32_t left = -1, top = -1, right = -1, bottom = -1;
    bool operator==(const Box&) const = default;
};

Box BoundingBox(const SZtRLEPicBuf& rle, int index) {
    Box box;
    EXPECT_EQ(
        CZtRLEPicBufAPI::GetBoundingBox(&rle, index, &box.left, &box.top, &box.right, &box.bottom),
        0);
    return box;
}

TEST(RLEPicBuf, MaskBecomesRunsAndRendersBack) {
    const std::vector<std::string> rows = {
        "........",  //
        ".##..###",  //
        "........",  //
        "#......#",  //
    };
    SZtRLEPicBuf rle;
    ASSERT_EQ(CZtRLEPicBufAPI::Alloc(&rle, 8, 4, 16), 0);
    const SZtPicBuf mask = MaskFromRows(rows);
    ASSERT_EQ(CZtRLEPicBufAPI::AddObjectFromMask(&rle, 7, &mask), 0);
    ASSERT_EQ(CZtRLEPicBufAPI::GetObjectCount(&rle), 1);
    EXPECT_EQ(rle.objects[0].id, 7u);
    EXPECT_EQ(rle.objects[0].runs,
              (std::vector<SZtRLERun>{{1, 1, 2}, {1, 5, 3}, {3, 0, 1}, {3, 7, 1}}));
    EXPECT_EQ(BoundingBox(rle, 0), (Box{0, 1, 8, 4}));

    SZtPicBuf rendered;
    ASSERT_EQ(CZtRLEPicBufAPI::ToPicture(&rle, &rendered), 0);
    EXPECT_EQ(Rows(rendered), rows);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&rendered, 1, 1), 255u);

    // A 1-bit mask gives the same object; a mask of another size is refused.
    SZtPicBuf bits = MaskFromRows(rows);
    ASSERT_EQ(CZtPicBufAPI::Alloc(&bits, 8, 4, 1, 1), 0);
    ASSERT_EQ(CZtPicBufAPI::CopyRect(&mask, 0, 0, 8, 4, &bits, 0, 0), -4);  // depths differ
    for (std::uint32_t y = 0; y < 4; ++y) {
        for (std::uint32_t x = 0; x < 8; ++x) {
            CZtPicBufAPI::SetValue(&bits, x, y, CZtPicBufAPI::GetValue(&mask, x, y));
        }
    }
    ASSERT_EQ(CZtRLEPicBufAPI::AddObjectFromMask(&rle, 7, &bits), 0);
    EXPECT_EQ(rle.objects[1], rle.objects[0]);
    const SZtPicBuf small = MaskFromRows({"##"});
    EXPECT_EQ(CZtRLEPicBufAPI::AddObjectFromMask(&rle, 1, &small), -4);
    EXPECT_EQ(CZtRLEPicBufAPI::AddObjectFromMask(&rle, 1, nullptr), -4);
    EXPECT_EQ(CZtRLEPicBufAPI::GetObjectCount(&rle), 2);
}

TEST(RLEPicBuf, RectanglesAreClippedToTheFrame) {
    SZtRLEPicBuf rle;
    ASSERT_EQ(CZtRLEPicBufAPI::Alloc(&rle, 6, 4, 8), 0);
    ASSERT_EQ(CZtRLEPicBufAPI::AddRectangle(&rle, 1, 1, 1, 3, 3), 0);
    ASSERT_EQ(CZtRLEPicBufAPI::AddRectangle(&rle, 2, 4, -5, 100, 2), 0);
    ASSERT_EQ(CZtRLEPicBufAPI::AddRectangle(&rle, 3, 10, 10, 12, 12), 0);  // outside: empty
    ASSERT_EQ(CZtRLEPicBufAPI::GetObjectCount(&rle), 3);
    EXPECT_EQ(BoundingBox(rle, 0), (Box{1, 1, 3, 3}));
    EXPECT_EQ(BoundingBox(rle, 1), (Box{4, 0, 6, 2}));
    EXPECT_EQ(BoundingBox(rle, 2), (Box{0, 0, 0, 0}));
    SZtPicBuf rendered;
    ASSERT_EQ(CZtRLEPicBufAPI::ToPicture(&rle, &rendered), 0);
    EXPECT_EQ(Rows(rendered), (std::vector<std::string>{"....##", ".##.##", ".##...", "......"}));

    std::uint32_t id = 0;
    ASSERT_EQ(CZtRLEPicBufAPI::GetObjectId(&rle, 1, &id), 0);
    EXPECT_EQ(id, 2u);
}

TEST(RLEPicBuf, PolygonsTakeThePixelsWhoseCentresAreInside) {
    SZtRLEPicBuf rle;
    ASSERT_EQ(CZtRLEPicBufAPI::Alloc(&rle, 9, 9, 8), 0);
    // A triangle with its hypotenuse through pixel corners: rows of 7, 6, ... 1 pixels.
    const double triangle[] = {0, 0, 8, 0, 0, 8};
    ASSERT_EQ(CZtRLEPicBufAPI::AddPolygon(&rle, 1, triangle, 3), 0);
    SZtPicBuf picture;
    ASSERT_EQ(CZtRLEPicBufAPI::ToPicture(&rle, &picture), 0);
    EXPECT_EQ(Rows(picture), (std::vector<std::string>{"#######..", "######...", "#####....",
                                                       "####.....", "###......", "##.......",
                                                       "#........", ".........", "........."}));

    // An axis-aligned polygon covers what the same rectangle covers, clipped alike.
    SZtRLEPicBuf polygon, rectangle;
    CZtRLEPicBufAPI::Alloc(&polygon, 9, 9, 8);
    CZtRLEPicBufAPI::Alloc(&rectangle, 9, 9, 8);
    const double square[] = {-2.0, 6.0, 3.0, 6.0, 3.0, 12.0, -2.0, 12.0};
    ASSERT_EQ(CZtRLEPicBufAPI::AddPolygon(&polygon, 4, square, 4), 0);
    ASSERT_EQ(CZtRLEPicBufAPI::AddRectangle(&rectangle, 4, -2, 6, 3, 12), 0);
    EXPECT_TRUE(CZtRLEPicBufAPI::IsEqual(&polygon, &rectangle));
    EXPECT_EQ(BoundingBox(polygon, 0), (Box{0, 6, 3, 9}));

    // A bow tie (even-odd rule): a centre on the left edge of a span is inside, on its right
    // edge outside.
    SZtRLEPicBuf bow;
    CZtRLEPicBufAPI::Alloc(&bow, 4, 4, 8);
    const double bowTie[] = {0, 0, 4, 4, 4, 0, 0, 4};
    ASSERT_EQ(CZtRLEPicBufAPI::AddPolygon(&bow, 1, bowTie, 4), 0);
    ASSERT_EQ(CZtRLEPicBufAPI::ToPicture(&bow, &picture), 0);
    EXPECT_EQ(Rows(picture), (std::vector<std::string>{"...#", "#.##", "#.##", "...#"}));
}

TEST(RLEPicBuf, ExtractGivesTheObjectInItsBoundingBox) {
    SZtRLEPicBuf rle;
    ASSERT_EQ(CZtRLEPicBufAPI::Alloc(&rle, 10, 8, 16), 0);
    ASSERT_EQ(CZtRLEPicBufAPI::AddRectangle(&rle, 5, 0, 0, 1, 1), 0);
    const SZtPicBuf lShape = MaskFromRows({
        "..........",  //
        "..........",  //
        "...#......",  //
        "...#......",  //
        "...####...",  //
        "..........",  //
        "..........",  //
        "..........",  //
    });
    ASSERT_EQ(CZtRLEPicBufAPI::AddObjectFromMask(&rle, 6, &lShape), 0);

    SZtPicBuf object;
    std::int32_t left = -1, top = -1;
    ASSERT_EQ(CZtRLEPicBufAPI::ExtractObject(&rle, 1, &object, &left, &top), 0);
    EXPECT_EQ(left, 3);
    EXPECT_EQ(top, 2);
    EXPECT_EQ(object.bitsPerComponent, 8u);
    EXPECT_EQ(object.components, 1u);
    EXPECT_EQ(Rows(object), (std::vector<std::string>{"#...", "#...", "####"}));
    EXPECT_EQ(CZtPicBufAPI::GetValue(&object, 0, 0), 255u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&object, 1, 0), 0u);

    // Filling the box at its corner reproduces the object on the frame.
    SZtPicBuf frame;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&frame, 10, 8, 8, 1), 0);
    ASSERT_EQ(CZtPicBufAPI::CopyRect(&object, 0, 0, object.width, object.height, &frame, left, top),
              0);
    EXPECT_EQ(Rows(frame), Rows(lShape));

    ASSERT_EQ(CZtRLEPicBufAPI::ExtractObject(&rle, 0, &object, nullptr, nullptr), 0);
    EXPECT_EQ(Rows(object), (std::vector<std::string>{"#"}));
}

TEST(RLEPicBuf, EqualityComparesFormatIdentifiersPixelsAndOrder) {
    SZtRLEPicBuf a, b;
    CZtRLEPicBufAPI::Alloc(&a, 8, 8, 16);
    CZtRLEPicBufAPI::Alloc(&b, 8, 8, 16);
    EXPECT_TRUE(CZtRLEPicBufAPI::IsEqual(&a, &b));
    CZtRLEPicBufAPI::AddRectangle(&a, 1, 0, 0, 2, 2);
    CZtRLEPicBufAPI::AddRectangle(&a, 2, 4, 4, 6, 6);
    const SZtPicBuf first = MaskFromRows({"##......", "##......", "........", "........",
                                          "........", "........", "........", "........"});
    CZtRLEPicBufAPI::AddObjectFromMask(&b, 1, &first);
    CZtRLEPicBufAPI::AddRectangle(&b, 2, 4, 4, 6, 6);
    EXPECT_TRUE(CZtRLEPicBufAPI::IsEqual(&a, &b));

    SZtRLEPicBuf c = b;
    c.bitsPerComponent = 8;
    EXPECT_FALSE(CZtRLEPicBufAPI::IsEqual(&a, &c));
    c = b;
    c.objects[1].id = 3;
    EXPECT_FALSE(CZtRLEPicBufAPI::IsEqual(&a, &c));
    c = b;
    std::swap(c.objects[0], c.objects[1]);
    EXPECT_FALSE(CZtRLEPicBufAPI::IsEqual(&a, &c));
    c = b;
    c.objects[1].runs[0].length = 1;
    EXPECT_FALSE(CZtRLEPicBufAPI::IsEqual(&a, &c));
}

TEST(RLEPicBuf, CopyObjectsByIdentifierKeepsOrderAndIdentifiers) {
    SZtRLEPicBuf mask;
    CZtRLEPicBufAPI::Alloc(&mask, 8, 8, 16);
    CZtRLEPicBufAPI::AddRectangle(&mask, 10, 0, 0, 1, 1);
    CZtRLEPicBufAPI::AddRectangle(&mask, 20, 2, 2, 3, 3);
    CZtRLEPicBufAPI::AddRectangle(&mask, 10, 4, 4, 5, 5);

    // A device's share of the areas, as the aggregator hands it out.
    SZtRLEPicBuf scratch;
    CZtRLEPicBufAPI::Alloc(&scratch, mask.width, mask.height, mask.bitsPerComponent);
    EXPECT_EQ(CZtRLEPicBufAPI::CopyObjects(&mask, 20, &scratch), 1);
    EXPECT_EQ(CZtRLEPicBufAPI::CopyObjects(&mask, 10, &scratch), 2);
    EXPECT_EQ(CZtRLEPicBufAPI::CopyObjects(&mask, 99, &scratch), 0);
    ASSERT_EQ(CZtRLEPicBufAPI::GetObjectCount(&scratch), 3);
    EXPECT_EQ(scratch.objects[0], mask.objects[1]);
    EXPECT_EQ(scratch.objects[1], mask.objects[0]);
    EXPECT_EQ(scratch.objects[2], mask.objects[2]);
    EXPECT_EQ(BoundingBox(scratch, 2), (Box{4, 4, 5, 5}));

    EXPECT_EQ(CZtRLEPicBufAPI::CopyObjects(&mask, 10, &mask), 2);
    EXPECT_EQ(CZtRLEPicBufAPI::GetObjectCount(&mask), 5);

    SZtRLEPicBuf other;
    CZtRLEPicBufAPI::Alloc(&other, 4, 8, 16);
    EXPECT_EQ(CZtRLEPicBufAPI::CopyObjects(&mask, 10, &other), -4);
    EXPECT_EQ(CZtRLEPicBufAPI::GetObjectCount(&other), 0);

    // A whole copy is equal and independent; emptying keeps the format.
    ASSERT_EQ(CZtRLEPicBufAPI::Copy(&scratch, &other), 0);
    EXPECT_TRUE(CZtRLEPicBufAPI::IsEqual(&scratch, &other));
    ASSERT_EQ(CZtRLEPicBufAPI::Empty(&scratch), 0);
    EXPECT_EQ(CZtRLEPicBufAPI::GetObjectCount(&scratch), 0);
    EXPECT_EQ(CZtRLEPicBufAPI::GetObjectCount(&other), 3);
    EXPECT_EQ(scratch.width, 8u);
    EXPECT_EQ(scratch.bitsPerComponent, 16u);
    EXPECT_EQ(CZtRLEPicBufAPI::Copy(nullptr, &other), -4);
    EXPECT_EQ(CZtRLEPicBufAPI::GetObjectCount(nullptr), -4);
}

}  // namespace
