// The report's pictures as a user sees them: their size, and the colours at pixels whose meaning
// is known (where the light landed, the calibration's squares and residuals).
#include "reportpictures.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>

#include "zthost/zthost.h"

namespace {

const QString kScenarios = QStringLiteral(VEROVE_SOURCE_DIR "/apps/verove-host/scenarios");

QString ColourText(QRgb rgb) {
    return QColor(rgb).name();
}

TEST(ReportPictures, SmallPicturesGrowByWholeFactorsAndLargeOnesShrink) {
    struct Case {
        int width;
        int height;
        double scale;
    };
    const Case cases[] = {
        {2048, 2048, 0.5}, {2560, 2160, 0.4}, {1025, 10, 1024.0 / 1025}, {1024, 768, 1.0},
        {768, 640, 1.0},   {513, 40, 1.0},    {512, 512, 2.0},           {260, 348, 2.0},
        {100, 50, 10.0},   {1, 1, 1024.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        EXPECT_DOUBLE_EQ(ReportScale(c.width, c.height), c.scale);
    }
}

// A frame lit over [10, 20) x [10, 20) against an ROI over [14, 24) x [10, 20): each pixel in
// its class's colour, whole pixels at the picture's scale, the legend in a band below.
TEST(ReportPictures, PlacementColoursLitInsideLitOutsideAndMissedPixels) {
    const int width = 40;
    const int height = 30;
    SZtPicBuf frame;
    ASSERT_EQ(CZtPicBufAPI::Alloc(&frame, width, height, 16, 1), 0);
    for (int y = 10; y < 20; ++y) {
        for (int x = 10; x < 20; ++x) {
            CZtPicBufAPI::SetValue(&frame, x, y, 3000);
        }
    }
    SZtRLEPicBuf masks;
    ASSERT_EQ(CZtRLEPicBufAPI::Alloc(&masks, width, height, 16), 0);
    ASSERT_EQ(CZtRLEPicBufAPI::AddRectangle(&masks, 1, 14, 10, 24, 20), 0);
    const PlacementMap placement = MapPlacement(frame, 1500, masks);
    EXPECT_DOUBLE_EQ(placement.Overlap(), 60.0 / 140.0);

    const QImage picture = PlacementPicture(Scenario(), placement, 0);
    const int scale = 25;  // 1024 / 40, whole
    ASSERT_EQ(picture.width(), width * scale);
    ASSERT_GT(picture.height(), height * scale);  // the legend's band
    struct Pixel {
        int x;
        int y;
        Placement expected;
    };
    const Pixel pixels[] = {{12, 15, Placement::LitOutside}, {10, 10, Placement::LitOutside},
                            {14, 10, Placement::LitInside},  {19, 19, Placement::LitInside},
                            {20, 15, Placement::RoiNotLit},  {23, 19, Placement::RoiNotLit},
                            {24, 15, Placement::Dark},       {9, 15, Placement::Dark},
                            {16, 20, Placement::Dark},       {35, 25, Placement::Dark}};
    for (const Pixel& p : pixels) {
        SCOPED_TRACE(testing::Message() << p.x << ", " << p.y);
        const QRgb want = kPlacementColours[static_cast<int>(p.expected)];
        // Every picture pixel of the frame pixel, corners included.
        for (const QPoint& at : {QPoint(0, 0), QPoint(scale - 1, scale - 1), QPoint(12, 12)}) {
            EXPECT_EQ(ColourText(picture.pixel(p.x * scale + at.x(), p.y * scale + at.y())),
                      ColourText(want));
        }
    }
    // Three colours a user tells apart.
    EXPECT_NE(kPlacementColours[1], kPlacementColours[2]);
    EXPECT_NE(kPlacementColours[2], kPlacementColours[3]);
    EXPECT_NE(kPlacementColours[1], kPlacementColours[3]);
}

class ReportPicturesOnTheCamera : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        QString error;
        ASSERT_TRUE(m_scenario.Load(kScenarios + "/default.json", &error)) << error.toStdString();
        ASSERT_EQ(m_scenario.Apply(), 0);  // a 2048 x 2048 camera, image as the sensor
    }
    void TearDown() override { zthost::ResetForTests(); }

    Scenario m_scenario;
};

// One square found at image point (1000, 1000) whose fitted position is 0.2 px to its left: the
// cross around it leaves the square free, the fitted position is a dot, and the residual is drawn
// from there to the right, enlarged 200 times (0.1 picture pixels to 20).
TEST_F(ReportPicturesOnTheCamera, CalibrationShowsSquaresFittedPositionsAndResiduals) {
    CameraPictureParts parts;
    parts.fittedOutline = true;
    parts.fittedDmdToSensor = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // the DMD point is the fitted one
    parts.spots = {QPointF(1000.0, 1000.0)};
    parts.spotsDmd = {QPointF(999.8, 1000.0)};
    QImage frame(2048, 2048, QImage::Format_RGB32);
    frame.fill(Qt::black);
    for (int y = 990; y < 1010; ++y) {
        for (int x = 990; x < 1010; ++x) {
            frame.setPixel(x, y, qRgb(255, 255, 255));  // the square, 20 px wide
        }
    }
    parts.frame = frame;
    const QImage picture = CameraPicture(m_scenario, parts);
    ASSERT_EQ(picture.width(), 1024);
    const QString yellow = QColor(255, 230, 0).name();
    const QString cyan = QColor(0, 230, 255).name();
    const QString magenta = QColor(255, 0, 220).name();
    const QString white = QColor(Qt::white).name();
    EXPECT_EQ(ColourText(picture.pixel(500, 500)), cyan);    // the fitted position
    EXPECT_EQ(ColourText(picture.pixel(496, 496)), white);   // the square, inside the cross
    EXPECT_EQ(ColourText(picture.pixel(500, 489)), yellow);  // the cross's arms
    EXPECT_EQ(ColourText(picture.pixel(489, 500)), yellow);
    EXPECT_EQ(ColourText(picture.pixel(500, 511)), yellow);
    EXPECT_EQ(ColourText(picture.pixel(504, 500)), magenta);  // the residual, to the right
    EXPECT_EQ(ColourText(picture.pixel(518, 500)), magenta);
    EXPECT_NE(ColourText(picture.pixel(524, 500)), magenta);  // and 20 pixels long
    EXPECT_NE(ColourText(picture.pixel(484, 500)), magenta);
    // The fitted DMD field: mirrors (0, 0) to (800, 600) on the sensor, halved.
    EXPECT_EQ(ColourText(picture.pixel(400, 150)), QColor(255, 170, 0).name());
    EXPECT_GT(picture.height(), 1024);  // the legend's band
}

// Labels stay inside the picture: above an ROI where there is room, below one at the top edge.
TEST_F(ReportPicturesOnTheCamera, RoiLabelsStayInsideThePicture) {
    QFile file(kScenarios + "/default.json");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray json = file.readAll();
    json.replace("[500, 600, 800, 850], \"label\": \"Soma\"",
                 "[500, 0, 800, 250], \"label\": \"Soma\"");
    QTemporaryDir folder;
    QFile edited(folder.filePath("top.json"));
    ASSERT_TRUE(edited.open(QIODevice::WriteOnly));
    edited.write(json);
    edited.close();
    Scenario top;
    QString error;
    ASSERT_TRUE(top.Load(edited.fileName(), &error)) << error.toStdString();

    // S1's red text in the rows from `from` to `to` (picture pixels) over the ROI's width.
    auto redText = [](const QImage& picture, int from, int to) {
        int count = 0;
        for (int y = std::max(0, from); y < to; ++y) {
            for (int x = 255; x < 395; ++x) {  // inside the ROI's sides
                const QColor colour(picture.pixel(x, y));
                count += colour.red() > 120 && colour.green() < 100;
            }
        }
        return count;
    };
    CameraPictureParts parts;
    parts.groupMask = 1;
    const QImage inside = CameraPicture(m_scenario, parts);  // the ROI's top at 300
    EXPECT_GT(redText(inside, 278, 298), 10);
    EXPECT_EQ(redText(inside, 302, 420), 0);
    const QImage atTheTop = CameraPicture(top, parts);  // the ROI from 0 to 125
    EXPECT_GT(redText(atTheTop, 127, 147), 10);
    EXPECT_EQ(redText(atTheTop, 2, 123), 0);
}

}  // namespace
