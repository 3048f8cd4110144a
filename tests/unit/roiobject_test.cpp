// RoiObject: ROI records, their lists, the stimulation test and the run-length masks of a list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zt/zt_roi.h"

namespace {

// The mask of object index as rows of text: '#' inside, '.' outside.
std::vector<std::string> Rows(const SZtRLEPicBuf& masks, int index) {
    std::vector<std::string> rows(masks.height, std::string(masks.width, '.'));
    for (const SZtRLERun& run : masks.objects[static_cast<size_t>(index)].runs) {
        for (int x = run.x; x < run.x + run.length; ++x) {
            rows[static_cast<size_t>(run.y)][static_cast<size_t>(x)] = '#';
        }
    }
    return rows;
}

CZtRoiObject Roi(std::uint32_t id, std::uint32_t type, std::vector<double> geometry,
                 double angle = 0.0) {
    CZtRoiObject roi(type, std::move(geometry), angle);
    roi.SetId(id);
    return roi;
}

TEST(RoiObject, MasksFollowTheListOrderWithTheRoiIdentifiers) {
    CZtRoiObjectList list;
    list.Add(Roi(7, ZT_ROITYPE_RECTANGLE, {3.0, 2.0, 2.0, 1.0}));
    list.Add(Roi(2, ZT_ROITYPE_POINT, {5.7, 0.2}));
    list.Add(Roi(9, ZT_ROITYPE_POLYGON, {0.0, 0.0, 4.0, 0.0, 0.0, 4.0}));
    SZtRLEPicBuf masks;
    ASSERT_EQ(ZT_RoiListToRLE(&list, 8, 5, &masks), 0);
    ASSERT_EQ(masks.objects.size(), 3u);
    EXPECT_EQ(masks.width, 8u);
    EXPECT_EQ(masks.height, 5u);
    EXPECT_EQ(masks.objects[0].id, 7u);
    EXPECT_EQ(masks.objects[1].id, 2u);
    EXPECT_EQ(masks.objects[2].id, 9u);
    EXPECT_EQ(Rows(masks, 0), (std::vector<std::string>{"........",  //
                                                        ".####...",  //
                                                        ".####...",  //
                                                        "........",  //
                                                        "........"}));
    EXPECT_EQ(Rows(masks, 1), (std::vector<std::string>{".....#..",  //
                                                        "........",  //
                                                        "........",  //
                                                        "........",  //
                                                        "........"}));
    EXPECT_EQ(Rows(masks, 2), (std::vector<std::string>{"###.....",  //
                                                        "##......",  //
                                                        "#.......",  //
                                                        "........",  //
                                                        "........"}));
}

TEST(RoiObject, TurnedRectanglesAndEllipsesCoverThePixelsWhoseCentresAreInside) {
    CZtRoiObjectList list;
    // A 6 x 2 rectangle turned by 90 degrees stands upright.
    list.Add(Roi(1, ZT_ROITYPE_RECTANGLE, {4.0, 4.0, 3.0, 1.0}, 90.0));
    // A circle of radius 2.1 around a pixel centre.
    list.Add(Roi(2, ZT_ROITYPE_ELLIPSE, {4.5, 4.5, 2.1, 2.1}));
    // A flat ellipse turned upright.
    list.Add(Roi(3, ZT_ROITYPE_ELLIPSE, {4.5, 4.5, 3.5, 1.2}, 90.0));
    SZtRLEPicBuf masks;
    ASSERT_EQ(ZT_RoiListToRLE(&list, 9, 9, &masks), 0);
    EXPECT_EQ(Rows(masks, 0), (std::vector<std::string>{".........",  //
                                                        "...##....",  //
                                                        "...##....",  //
                                                        "...##....",  //
                                                        "...##....",  //
                                                        "...##....",  //
                                                        "...##....",  //
                                                        ".........",  //
                                                        "........."}));
    EXPECT_EQ(Rows(masks, 1), (std::vector<std::string>{".........",  //
                                                        ".........",  //
                                                        "....#....",  //
                                                        "...###...",  //
                                                        "..#####..",  //
                                                        "...###...",  //
                                                        "....#....",  //
                                                        ".........",  //
                                                        "........."}));
    EXPECT_EQ(Rows(masks, 2), (std::vector<std::string>{".........",  //
                                                        "....#....",  //
                                                        "....#....",  //
                                                        "...###...",  //
                                                        "...###...",  //
                                                        "...###...",  //
                                                        "....#....",  //
                                                        "....#....",  //
                                                        "........."}));
}

TEST(RoiObject, RoisOffTheImageOrWithBrokenGeometryKeepTheirPlaceAsEmptyObjects) {
    CZtRoiObjectList list;
    list.Add(Roi(1, ZT_ROITYPE_RECTANGLE, {-50.0, -50.0, 2.0, 2.0}));
    list.Add(Roi(2, ZT_ROITYPE_POINT, {1e300, 3.0}));
    list.Add(Roi(3, ZT_ROITYPE_ELLIPSE, {2.0, 2.0, 0.0, 1.0}));
    list.Add(Roi(4, ZT_ROITYPE_POLYGON, {0.0, 0.0, 1.0, 1.0}));
    list.Add(Roi(5, 77, {1.0, 1.0}));
    list.Add(Roi(6, ZT_ROITYPE_RECTANGLE, {2.0, 2.0, 1.0, 1.0}));
    SZtRLEPicBuf masks;
    ASSERT_EQ(ZT_RoiListToRLE(&list, 4, 4, &masks), 0);
    ASSERT_EQ(masks.objects.size(), 6u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(masks.objects[static_cast<size_t>(i)].id, static_cast<std::uint32_t>(i + 1));
        EXPECT_TRUE(masks.objects[static_cast<size_t>(i)].runs.empty()) << i;
    }
    EXPECT_EQ(Rows(masks, 5), (std::vector<std::string>{"....", ".##.", ".##.", "...."}));
}

TEST(RoiObject, OnlyAStimulationRoiOfSoundGeometryIsStimulated) {
    CZtRoiObject area = Roi(4, ZT_ROITYPE_RECTANGLE, {5.0, 5.0, 1.0, 1.0});
    EXPECT_FALSE(area.IsStimulationRoi());
    area.SetStimulation(true);
    area.SetStimulationGroup(2);
    area.SetLabel(L"Spot");
    area.SetIntensity(2, 10.0, 90.0);
    EXPECT_TRUE(area.IsStimulationRoi());
    CZtRoiObject broken = area;
    broken.SetGeometry(ZT_ROITYPE_RECTANGLE, {5.0, 5.0, 1.0});
    EXPECT_FALSE(broken.IsStimulationRoi());
}

}  // namespace
