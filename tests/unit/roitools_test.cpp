// The window's region tools: what a sequence of mouse actions on the image leaves drawn, moved or
// deleted, in which group.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <vector>

#include "roitools.h"

namespace {

enum class Mouse { Press, Move, Release, DoubleClick, Delete, Tool, Group };

struct Action {
    Mouse what;
    double x = 0.0;
    double y = 0.0;
    int value = 0;  // Tool: a RoiTool; Group: 0..2
};

struct ToolCase {
    const char* name;
    std::vector<Action> actions;
    std::vector<ScenarioRoiShape> shapes;  // what is left, in order
    QRectF lastBounds;                     // of the last region left
    int lastGroup = 0;
    int changes = 0;  // RegionsChanged signals
};

void PrintTo(const ToolCase& c, std::ostream* os) {
    *os << c.name;
}

class RoiToolsTable : public ::testing::TestWithParam<ToolCase> {};

constexpr int kRect = static_cast<int>(RoiTool::Rectangle);
constexpr int kSelect = static_cast<int>(RoiTool::Select);
constexpr int kPolygon = static_cast<int>(RoiTool::Polygon);
constexpr int kPoint = static_cast<int>(RoiTool::Point);
constexpr int kEllipse = static_cast<int>(RoiTool::Ellipse);

TEST_P(RoiToolsTable, LeavesTheRegionsTheUserDrew) {
    RoiTools tools;
    QSignalSpy changed(&tools, &RoiTools::RegionsChanged);
    for (const Action& a : GetParam().actions) {
        const QPointF p(a.x, a.y);
        switch (a.what) {
            case Mouse::Press:
                tools.Press(p);
                break;
            case Mouse::Move:
                tools.Move(p);
                break;
            case Mouse::Release:
                tools.Release(p);
                break;
            case Mouse::DoubleClick:
                tools.DoubleClick(p);
                break;
            case Mouse::Delete:
                tools.DeleteSelected();
                break;
            case Mouse::Tool:
                tools.SetTool(static_cast<RoiTool>(a.value));
                break;
            case Mouse::Group:
                tools.SetGroup(a.value);
                break;
        }
    }
    const ToolCase& c = GetParam();
    ASSERT_EQ(tools.Regions().size(), c.shapes.size());
    for (size_t i = 0; i < c.shapes.size(); ++i) {
        EXPECT_EQ(tools.Regions()[i].roi.shape, c.shapes[i]) << i;
    }
    if (!c.shapes.empty()) {
        EXPECT_EQ(tools.Regions().back().roi.bounds, c.lastBounds);
        EXPECT_EQ(tools.Regions().back().group, c.lastGroup);
    }
    EXPECT_EQ(changed.count(), c.changes);
}

using S = ScenarioRoiShape;
INSTANTIATE_TEST_SUITE_P(
    Mouse, RoiToolsTable,
    ::testing::Values(
        ToolCase{"RectangleDraggedUpwards",
                 {{Mouse::Press, 50, 60}, {Mouse::Move, 30, 20}, {Mouse::Release, 10, 20}},
                 {S::Rectangle},
                 QRectF(QPointF(10, 20), QPointF(50, 60)),
                 0,
                 1},
        ToolCase{"AClickDrawsNoRectangle",
                 {{Mouse::Press, 50, 60}, {Mouse::Release, 51, 61}},
                 {},
                 {},
                 0,
                 0},
        ToolCase{"EllipseInS3",
                 {{Mouse::Tool, 0, 0, kEllipse},
                  {Mouse::Group, 0, 0, 2},
                  {Mouse::Press, 0, 0},
                  {Mouse::Release, 30, 40}},
                 {S::Ellipse},
                 QRectF(0, 0, 30, 40),
                 2,
                 1},
        ToolCase{"PolygonClosedByDoubleClick",
                 {{Mouse::Tool, 0, 0, kPolygon},
                  {Mouse::Press, 0, 0},
                  {Mouse::Press, 40, 0},
                  {Mouse::Press, 20, 30},
                  {Mouse::DoubleClick, 20, 30}},
                 {S::Polygon},
                 QRectF(0, 0, 40, 30),
                 0,
                 1},
        ToolCase{"PolygonOfTwoCornersIsNone",
                 {{Mouse::Tool, 0, 0, kPolygon},
                  {Mouse::Press, 0, 0},
                  {Mouse::Press, 40, 0},
                  {Mouse::DoubleClick, 40, 0}},
                 {},
                 {},
                 0,
                 0},
        ToolCase{"PointInS2",
                 {{Mouse::Tool, 0, 0, kPoint}, {Mouse::Group, 0, 0, 1}, {Mouse::Press, 7, 9}},
                 {S::Point},
                 QRectF(7, 9, 0, 0),
                 1,
                 1},
        ToolCase{"MovedByItsInside",
                 {{Mouse::Press, 10, 10},
                  {Mouse::Release, 30, 30},
                  {Mouse::Tool, 0, 0, kSelect},
                  {Mouse::Press, 20, 20},
                  {Mouse::Move, 25, 22},
                  {Mouse::Release, 70, 25}},
                 {S::Rectangle},
                 QRectF(60, 15, 20, 20),
                 0,
                 2},
        ToolCase{"APressOutsideMovesNothing",
                 {{Mouse::Press, 10, 10},
                  {Mouse::Release, 30, 30},
                  {Mouse::Tool, 0, 0, kSelect},
                  {Mouse::Press, 50, 50},
                  {Mouse::Release, 90, 90}},
                 {S::Rectangle},
                 QRectF(10, 10, 20, 20),
                 0,
                 1},
        ToolCase{"TheTopmostIsDeleted",
                 {{Mouse::Press, 10, 10},
                  {Mouse::Release, 30, 30},
                  {Mouse::Tool, 0, 0, kEllipse},
                  {Mouse::Press, 20, 20},
                  {Mouse::Release, 40, 40},
                  {Mouse::Tool, 0, 0, kSelect},
                  {Mouse::Press, 25, 25},
                  {Mouse::Release, 25, 25},
                  {Mouse::Delete}},
                 {S::Rectangle},
                 QRectF(10, 10, 20, 20),
                 0,
                 3},
        ToolCase{"DeleteWithoutSelectionKeepsAll",
                 {{Mouse::Tool, 0, 0, kRect},
                  {Mouse::Press, 10, 10},
                  {Mouse::Release, 30, 30},
                  {Mouse::Tool, 0, 0, kSelect},
                  {Mouse::Press, 90, 90},
                  {Mouse::Release, 90, 90},
                  {Mouse::Delete}},
                 {S::Rectangle},
                 QRectF(10, 10, 20, 20),
                 0,
                 1}),
    [](const ::testing::TestParamInfo<ToolCase>& info) { return std::string(info.param.name); });

}  // namespace
