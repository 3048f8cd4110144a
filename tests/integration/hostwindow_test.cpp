// verove-host's window driven as a user drives it, on the offscreen platform: regions drawn with
// the mouse reach the device, the pad's pulse lands on them in the live image, and closing ends
// everything cleanly. The plug-in is loaded through its exports, on the simulated SDK.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>

#include "documentpoints.h"
#include "fake_atcore_control.h"
#include "liveview.h"
#include "mainwindow.h"
#include "measures.h"
#include "shownframeview.h"
#include "simulateddmd.h"
#include "widget_find.h"
#include "zt/zt_guielement.h"
#include "zt/zt_roi.h"
#include "zthost/gui.h"
#include "zthost/zthost.h"

namespace {

const QString kScenarios = QStringLiteral(VEROVE_SOURCE_DIR "/apps/verove-host/scenarios/");

void Trigger(QWidget* window, const QString& text) {
    for (QAction* action : window->findChildren<QAction*>()) {
        if (action->text().remove('&') == text) {
            action->trigger();
            return;
        }
    }
    ADD_FAILURE() << "no menu entry " << text.toStdString();
}

// A rectangle of this size about the live image's centre: inside the DMD's field in every
// scenario and camera setting used here.
QRectF MiddleRectangle(const QSize& image) {
    return QRectF(image.width() / 2.0 - 90, image.height() / 2.0 - 70, 180, 140);
}

class HostWindow : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        fake_atcore::Reset();
        ASSERT_TRUE(m_folder.isValid());
        m_logPath = m_folder.filePath("verove-host.log");
        ASSERT_TRUE(zthost::SetLogFile(m_logPath.toStdWString()));
        m_options.pluginPath = QStringLiteral(VEROVE_BIN_DIR "/q9_plugin_verove.so");
        m_options.sdkFolder = QStringLiteral(VEROVE_FAKE_SDK_DIR);
    }
    void TearDown() override {
        m_window.reset();
        if (m_report) {
            m_report->Discard();
        }
        zthost::ResetForTests();
        fake_atcore::Reset();
    }

    // The window on the scenario, started: false when the scenario or the report does not open.
    bool Open(const QString& file, int* started) {
        QString error;
        if (!m_scenario.Load(QDir(kScenarios).filePath(file), &error)) {
            ADD_FAILURE() << error.toStdString();
            return false;
        }
        m_report = std::make_unique<Report>(m_scenario.Path(), m_scenario.Description(),
                                            std::array<bool, 3>{});
        if (!m_report->Begin(m_folder.filePath("session"), {}, &error)) {
            ADD_FAILURE() << error.toStdString();
            return false;
        }
        m_window = std::make_unique<MainWindow>(m_scenario, m_options, m_report.get(), m_logPath);
        m_window->show();
        *started = m_window->Start();
        return true;
    }

    // The window on the scenario with the device connected.
    void OpenConnected(const QString& file) {
        int started = -1;
        ASSERT_TRUE(Open(file, &started));
        ASSERT_EQ(started, 0);
    }

    // The pad's "Configure..." and, in the configuration dialog it opens beside the window, the
    // calibration button: the calibration dialog with this title (null when it did not open).
    QWidget* OpenCalibrationDialog(const QString& button, const QString& title) {
        QTest::mouseClick(PadChild<QPushButton>("m_pBtnConfigure"), Qt::LeftButton);
        m_config = TopLevel("DMD Configuration");
        if (!m_config) {
            return nullptr;
        }
        QTest::mouseClick(VisibleButton(m_config, button), Qt::LeftButton);
        return TopLevel(title);
    }

    // OK in the calibration dialog and in the configuration dialog; the pad then says calibrated
    // and a pulse lands where drawn.
    void AcceptCalibrationAndPulse(QWidget* dialog) {
        QTest::mouseClick(VisibleButton(dialog, "OK"), Qt::LeftButton);
        QTest::mouseClick(VisibleButton(m_config, "OK"), Qt::LeftButton);
        EXPECT_TRUE(PadChild<QLabel>("m_pLabelStatus")->text().startsWith("Calibrated ["));
        ExpectOnTarget(PulseOn(MiddleRectangle(NextFrame().image.size())));
        StopPulse();
    }

    // Waits until the view shows a frame taken after this call.
    const LiveFrame& NextFrame() {
        QSignalSpy shown(m_window->View(), &LiveView::FrameShown);
        // The first may have been under way already.
        EXPECT_TRUE(shown.wait(20000) && (shown.count() >= 2 || shown.wait(20000)));
        return m_window->View()->Frame();
    }

    template <typename T>
    T* PadChild(const char* name) const {
        T* child = m_window->PadWindow()->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    void Drag(const QPointF& from, const QPointF& to) {
        LiveView* view = m_window->View();
        const QTransform toWidget = view->ImageToWidget();
        const QPoint a = toWidget.map(from).toPoint();
        const QPoint b = toWidget.map(to).toPoint();
        QTest::mousePress(view, Qt::LeftButton, {}, a);
        QTest::mouseMove(view, (a + b) / 2);
        QTest::mouseRelease(view, Qt::LeftButton, {}, b);
    }

    // Starts a pulse of S1 that lasts until stopped ("Toggle").
    void StartPulse() {
        QComboBox* times = PadChild<QComboBox>("combo_pulse_time");
        times->setCurrentIndex(times->findText("Toggle"));
        QPushButton* pulse = PadChild<QPushButton>("btn_pulse");
        ASSERT_TRUE(pulse->isEnabled()) << "the device is calibrated";
        QTest::mouseClick(pulse, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->Mirrors()->Lit(), 10000);
    }

    void StopPulse() {
        QTest::mouseClick(PadChild<QPushButton>("btn_pulse"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->Mirrors()->Lit(), 10000);
    }

    // Where a pulse landed against what was drawn.
    struct Landing {
        PlacementMap placement;
        QPointF offset;  // centre of the lit pixels from the drawn rectangle's centre
    };

    // Draws one rectangle in S1 instead of every region, pulses it and measures, in a live frame
    // taken during the pulse, how the lit camera pixels overlap it and where their centre lies.
    // The pulse goes on.
    Landing PulseOn(const QRectF& drawn) {
        m_window->Tools()->Clear();
        m_window->Tools()->SetGroup(0);
        m_window->Tools()->SetTool(RoiTool::Rectangle);
        Drag(drawn.topLeft(), drawn.bottomRight());
        EXPECT_EQ(m_window->Tools()->Regions().size(), 1u);
        StartPulse();
        const LiveFrame& lit = NextFrame();
        EXPECT_TRUE(m_window->Mirrors()->Lit()) << "the pulse still runs";
        const SZtPicBuf& frame = lit.sample->GetPicture();
        const QRectF region = m_window->Tools()->Regions().at(0).roi.bounds;
        CZtRoiObjectList areas;
        areas.Add(Scenario::RoiObject(m_window->Tools()->Regions().at(0).roi, 0, 1));
        SZtRLEPicBuf mask;
        ZT_RoiListToRLE(&areas, frame.width, frame.height, &mask);
        Landing landing{MapPlacement(frame, LitThreshold(frame), mask), {}};
        QPointF sum;
        std::uint64_t count = 0;
        for (std::uint32_t y = 0; y < frame.height; ++y) {
            for (std::uint32_t x = 0; x < frame.width; ++x) {
                const Placement at = landing.placement.pixels[std::size_t(y) * frame.width + x];
                if (at == Placement::LitInside || at == Placement::LitOutside) {
                    sum += QPointF(x + 0.5, y + 0.5);
                    ++count;
                }
            }
        }
        landing.offset = count ? sum / double(count) - region.center() : QPointF(1e9, 1e9);
        return landing;
    }

    // The pulse landed on the drawn rectangle: most of both overlap and the light is centred on
    // it (half a pixel: a misplaced calibration shifts all of it).
    static void ExpectOnTarget(const Landing& landing) {
        const PlacementMap& placement = landing.placement;
        EXPECT_GE(placement.Overlap(), 0.95)
            << "lit inside " << placement.counts[1] << ", lit outside " << placement.counts[2]
            << ", not lit inside " << placement.counts[3];
        EXPECT_LT(std::hypot(landing.offset.x(), landing.offset.y()), 0.5)
            << "light centred " << landing.offset.x() << ", " << landing.offset.y()
            << " px off the drawn centre";
    }

    // A left-button drag on the live image with the mouse at exact (sub-pixel) positions, as a
    // high-resolution pointer gives them.
    void DragExactly(const QPointF& from, const QPointF& to) {
        LiveView* view = m_window->View();
        const QTransform toWidget = view->ImageToWidget();
        auto send = [view](QEvent::Type type, const QPointF& at, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, Qt::LeftButton, buttons, Qt::NoModifier);
            QCoreApplication::sendEvent(view, &event);
        };
        send(QEvent::MouseButtonPress, toWidget.map(from), Qt::LeftButton);
        send(QEvent::MouseMove, toWidget.map((from + to) / 2), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, toWidget.map(to), Qt::NoButton);
    }

    QTemporaryDir m_folder;
    QString m_logPath;
    QWidget* m_config = nullptr;  // the pad's configuration dialog, once opened
    SessionOptions m_options;
    Scenario m_scenario;
    std::unique_ptr<Report> m_report;
    std::unique_ptr<MainWindow> m_window;
};

TEST_F(HostWindow, ARectangleDrawnInS1IsWhereThePulseLightLandsAndClosingMidPulseEndsIt) {
    ASSERT_NO_FATAL_FAILURE(OpenConnected("binning-roi.json"));
    ASSERT_EQ(m_window->CalibrateAutomatically(), 0);
    ASSERT_FALSE(NextFrame().image.isNull());

    // The user's own region instead of the scenario's, inside the DMD field.
    const QRectF drawn(QPointF(300, 350), QPointF(520, 530));
    ExpectOnTarget(PulseOn(drawn));
    const RoiTools::Region& region = m_window->Tools()->Regions().at(0);
    EXPECT_EQ(region.group, 0);
    // Mouse positions are whole widget pixels: the corners land within one image pixel.
    EXPECT_NEAR(region.roi.bounds.left(), drawn.left(), 1.0 / m_window->View()->Zoom() + 0.01);
    EXPECT_NEAR(region.roi.bounds.bottom(), drawn.bottom(), 1.0 / m_window->View()->Zoom() + 0.01);

    // Closing while the light is on: the mirrors go dark, the settings are saved, the device is
    // let go.
    m_window->close();
    EXPECT_TRUE(m_window->HostSession()->DeviceName().empty());
    zthost::MirrorFrame shown;
    std::uint64_t counter = 0;
    SimulatedDmd(m_options.sdkFolder).ShownFrame(&shown, &counter);
    EXPECT_TRUE(std::all_of(shown.levels.begin(), shown.levels.end(),
                            [](std::uint8_t level) { return level == 0; }));
    EXPECT_TRUE(QFileInfo::exists(QDir(m_report->StagingPath()).filePath("settings/Verove.bin")));
}

// The pad's "Configure..." opens the configuration dialog beside the window, so both calibrations
// run from it against the live camera while the image goes on.
TEST_F(HostWindow, TheAutomaticCalibrationFromThePadsConfigurationDialogPlacesThePulse) {
    ASSERT_NO_FATAL_FAILURE(OpenConnected("binning-roi.json"));
    NextFrame();
    QWidget* dialog = OpenCalibrationDialog("Auto Calibration", "Autocalibration dialog");
    ASSERT_NE(dialog, nullptr);
    QSignalSpy shown(m_window->View(), &LiveView::FrameShown);
    QTest::mouseClick(VisibleButton(dialog, "Next"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(VisibleButton(dialog, "OK") != nullptr, 300000);
    EXPECT_GE(shown.count(), 2) << "the live image went on during the calibration";
    AcceptCalibrationAndPulse(dialog);
}

// The manual calibration as a user plays it in the window: a click on the DMD preview lights a
// square, the user drags the calibration's cross on the live image onto the light and adds the
// pair; six pairs, Next, OK.
TEST_F(HostWindow, AManualCalibrationPlayedOnTheLiveImagePlacesThePulse) {
    ASSERT_NO_FATAL_FAILURE(OpenConnected("binning-roi.json"));
    NextFrame();
    QWidget* dialog = OpenCalibrationDialog("Manual Calibration", "Manual Calibration");
    ASSERT_NE(dialog, nullptr);
    QTest::mouseClick(VisibleButton(dialog, "Next"), Qt::LeftButton);
    QWidget* preview = nullptr;
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        if (child->inherits("CZtDMDPreviewControl")) {
            preview = child;
        }
    }
    ASSERT_NE(preview, nullptr);
    const QSizeF size = preview->size();
    const std::vector<QPointF> picks = {{0.38, 0.36}, {0.64, 0.38}, {0.5, 0.5},
                                        {0.37, 0.62}, {0.63, 0.63}, {0.45, 0.56}};
    for (const QPointF& pick : picks) {
        QTest::mouseClick(preview, Qt::LeftButton, {},
                          QPoint(int(pick.x() * size.width()), int(pick.y() * size.height())));
        QPointF spot;
        ASSERT_TRUE(LitSpotCentre(NextFrame().sample->GetPicture(), &spot));
        const std::vector<DocumentPoints::Point> crosses = DocumentPoints::Read();
        ASSERT_EQ(crosses.size(), 1u) << "one cross to place";
        DragExactly(crosses[0].position, spot);
        ASSERT_EQ(DocumentPoints::Read().at(0).position, spot) << "the cross followed the mouse";
        QAbstractButton* add = VisibleButton(dialog, "+");
        ASSERT_TRUE(add && add->isEnabled());
        QTest::mouseClick(add, Qt::LeftButton);
    }
    QTest::mouseClick(VisibleButton(dialog, "Next"), Qt::LeftButton);
    AcceptCalibrationAndPulse(dialog);
}

// The camera turned and mirrored from the window's menu after calibrating: the light still lands
// where the user draws on the turned image.
TEST_F(HostWindow, TurnsAndMirroringFromTheCameraMenuKeepThePulseInPlace) {
    ASSERT_NO_FATAL_FAILURE(OpenConnected("binning-roi.json"));
    ASSERT_EQ(m_window->CalibrateAutomatically(), 0);
    for (const char* entry : {"90°", "Mirror top to bottom", "180°"}) {
        SCOPED_TRACE(entry);
        Trigger(m_window.get(), QString::fromUtf8(entry));
        ExpectOnTarget(PulseOn(MiddleRectangle(NextFrame().image.size())));
        StopPulse();
    }
    EXPECT_EQ(zthost::Camera().rotationDegrees, 180.0);
    EXPECT_NE(zthost::Camera().angleParams[0], zthost::Camera().angleParams[3]) << "mirrored";
}

// "Configuration..." runs the plug-in's export: the modal dialog over the window, in which the
// automatic calibration is left to the pad; "Pattern manager..." opens the pad's pattern manager.
TEST_F(HostWindow, TheDeviceMenuOpensThePlugInsDialogs) {
    ASSERT_NO_FATAL_FAILURE(OpenConnected("binning-roi.json"));
    struct Seen {
        bool shown = false;
        bool autoButton = true;
        bool hint = false;
    };
    auto seen = std::make_shared<Seen>();
    QTimer::singleShot(0, [seen] {
        QWidget* config = TopLevel("DMD Configuration");
        if (!config) {
            return;
        }
        seen->shown = config->isModal() || QApplication::activeModalWidget() == config;
        seen->autoButton = VisibleButton(config, "Auto Calibration") != nullptr;
        seen->hint = Texts(config).contains(
            "Use the 'Calibrate' button on the device pad to run this calibration.");
        QTest::mouseClick(VisibleButton(config, "OK"), Qt::LeftButton);
    });
    Trigger(m_window.get(), "Configuration...");
    QCoreApplication::processEvents();
    EXPECT_TRUE(seen->shown);
    EXPECT_FALSE(seen->autoButton);
    EXPECT_TRUE(seen->hint);
    EXPECT_EQ(TopLevel("DMD Configuration"), nullptr);

    auto patterns = std::make_shared<bool>(false);
    QTimer::singleShot(0, [patterns] {
        if (QWidget* manager = TopLevel("Pattern Manager")) {
            *patterns = QApplication::activeModalWidget() == manager;
            QTest::mouseClick(VisibleButton(manager, "Cancel"), Qt::LeftButton);
        }
    });
    Trigger(m_window.get(), "Pattern manager...");
    QCoreApplication::processEvents();
    EXPECT_TRUE(*patterns);
    EXPECT_EQ(TopLevel("Pattern Manager"), nullptr);
}

TEST_F(HostWindow, ClosingDuringTheCalibrationClosesWhenItHasEnded) {
    ASSERT_NO_FATAL_FAILURE(OpenConnected("binning-roi.json"));
    // The user closes the window while the calibration's squares are being found.
    QTimer::singleShot(100, m_window.get(), &QWidget::close);
    EXPECT_EQ(m_window->CalibrateAutomatically(), 0);
    EXPECT_FALSE(m_window->isVisible()) << "closed once the calibration ended";
    EXPECT_TRUE(m_window->HostSession()->DeviceName().empty());
    // The calibration was accepted (above) and saved with the settings.
    EXPECT_TRUE(QFileInfo::exists(QDir(m_report->StagingPath()).filePath("settings/Verove.bin")));
}

TEST_F(HostWindow, ARefusedHardwareConfigurationLeavesAWindowWithoutTheDevice) {
    int started = -1;
    ASSERT_TRUE(Open("galvo-conflict.json", &started));
    EXPECT_EQ(started, 3);
    EXPECT_EQ(m_window->PadWindow(), nullptr);
    // Still a live image to draw on; the regions stay with the window.
    NextFrame();
    const size_t before = m_window->Tools()->Regions().size();
    Drag(QPointF(10, 10), QPointF(60, 50));
    EXPECT_EQ(m_window->Tools()->Regions().size(), before + 1);

    // The camera's settings from the menu: the live image follows; the regions, drawn on the
    // image as it was, go.
    Trigger(m_window.get(), "4 x 4");
    EXPECT_EQ(NextFrame().image.size(), QSize(512, 512));
    EXPECT_TRUE(m_window->Tools()->Regions().empty());
    Trigger(m_window.get(), "Region: middle of the sensor");
    EXPECT_EQ(NextFrame().image.size(), QSize(256, 256));
    m_window->close();
}

// Pictures of the window as a person sees it: only on a real X server (ctest runs this suite
// under Xvfb as HostWindowScreenshot.UnderXvfb). Writes pictures/window_regions.png (the regions
// of S1-S3 over the live image, the pad's Control page) and pictures/window_pulse.png (S1's
// light landing, the pad's Stimulation page) into the build folder.
class HostWindowScreenshot : public HostWindow {};

TEST_F(HostWindowScreenshot, TheWindowWithRegionsAndAPulse) {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        GTEST_SKIP() << "needs a real X server";
    }
    ASSERT_NO_FATAL_FAILURE(OpenConnected("binning-roi.json"));
    ASSERT_EQ(m_window->CalibrateAutomatically(), 0);
    NextFrame();
    m_window->Tools()->Clear();
    const QRectF regions[] = {QRectF(150, 200, 160, 120), QRectF(400, 150, 150, 150),
                              QRectF(300, 420, 200, 120)};
    for (int g = 0; g < 3; ++g) {
        m_window->Tools()->SetGroup(g);
        m_window->Tools()->SetTool(g == 1 ? RoiTool::Ellipse : RoiTool::Rectangle);
        Drag(regions[g].topLeft(), regions[g].bottomRight());
    }
    m_window->Tools()->SetGroup(0);
    const QDir pictures(QStringLiteral(VEROVE_BIN_DIR "/../pictures"));
    ASSERT_TRUE(pictures.mkpath("."));
    auto shoot = [&](const char* name) {
        QTest::qWait(300);  // the window's last paint reaches the X server
        const QPixmap shot = m_window->screen()->grabWindow(m_window->winId());
        EXPECT_EQ(shot.size(), m_window->size() * m_window->devicePixelRatio());
        EXPECT_TRUE(shot.save(pictures.filePath(name)));
        // A real picture of the window: the live image and the controls, not one flat colour.
        const QImage image = shot.toImage();
        EXPECT_NE(image.pixel(10, 10), image.pixel(image.width() / 3, image.height() / 2));
    };
    NextFrame();
    shoot("window_regions.png");
    for (QAbstractButton* tab : m_window->PadWindow()->findChildren<QAbstractButton*>()) {
        if (tab->text() == QLatin1String("Stimulation")) {
            tab->click();  // the pad's page with "Pulse"
        }
    }
    StartPulse();
    NextFrame();
    shoot("window_pulse.png");
    m_window->close();
}

}  // namespace
