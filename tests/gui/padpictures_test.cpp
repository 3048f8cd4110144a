// Pictures of the pad with a four-line laser launch, both pages, written into the build folder
// (pictures/pad_control.png, pictures/pad_stimulation.png) for the documentation.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTest>

#include "pad_microscope.h"
#include "zt/zt_gui.h"

using namespace pad_test;

namespace {

// Whether some pixel of the picture has the colour.
bool Shows(const QImage& image, const QColor& color) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == color) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

class PadPictures : public PadMicroscope {
protected:
    QImage Grab(const QString& file) {
        QWidget* window = m_device->GetPadWrapper()->GetWinWidget();
        window->show();
        QCoreApplication::processEvents();
        const QImage image = window->grab().toImage();
        const QDir dir(QStringLiteral(VEROVE_BIN_DIR "/../pictures"));
        EXPECT_TRUE(dir.mkpath(QStringLiteral(".")));
        EXPECT_TRUE(image.save(dir.filePath(file)));
        return image;
    }
};

TEST_F(PadPictures, BothPagesWithAFourLineLaunch) {
    ASSERT_EQ(SetAreas(TwoGroups()), 0);
    const QImage control = Grab(QStringLiteral("pad_control.png"));
    ASSERT_FALSE(control.isNull());
    EXPECT_EQ(control.width(), 270);
    // The direct-control lines are drawn in their wavelengths' colours.
    for (int nm : {405, 488, 561, 640}) {
        EXPECT_TRUE(Shows(control, ZT_WavelengthToRGB(nm))) << nm;
    }

    QTest::mouseClick(Ui().m_pBtnTabStimulation, Qt::LeftButton);
    QTest::mouseClick(Ui().m_stimGroupButtons[1], Qt::LeftButton);
    const QImage stimulation = Grab(QStringLiteral("pad_stimulation.png"));

    ASSERT_FALSE(stimulation.isNull());
    EXPECT_NE(stimulation, control);
    EXPECT_TRUE(Shows(stimulation, ZT_WavelengthToRGB(561)));
    // The status line moved to the bottom row: its colour is the style sheet's "ok".
    EXPECT_TRUE(Shows(stimulation, QColor(0x4c, 0xaf, 0x50)));
}
