// The auto-calibration dialog driven the way a user does: its pages, Next, the run's progress,
// the verification step, OK and Cancel, and what the device and the host show afterwards.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "calibration_microscope.h"
#include "calibration_truth.h"
#include "cztautocalibrationdialog.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "event_wait.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "shown_mirrors.h"
#include "widget_find.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_devices.h"
#include "zt/zt_roi.h"
#include "zt/zt_util.h"
#include "zthost/camera_control.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

// The plug-in's resources (style sheets) live in the statically linked core.
static void InitResources() {
    Q_INIT_RESOURCE(q9_plugin_verove);
}

class AutocalibrationDialog : public CalibrationMicroscope {
protected:
    void SetUp() override {
        InitResources();
        CalibrationMicroscope::SetUp();
    }

    void TearDown() override {
        m_dialog.reset();
        CalibrationMicroscope::TearDown();
    }

    // Opens the dialog the way the configuration dialog does: OK ends the calibration applying
    // it, Cancel and Close end it and load the stored calibration again.
    CZtAutocalibrationDialog* OpenDialog() {
        m_dialog = std::make_unique<CZtAutocalibrationDialog>(m_device.get());
        CZtStimulationDeviceVerove* device = m_device.get();
        QObject::connect(m_dialog.get(), &QDialog::accepted,
                         [device] { device->OnAutocalibrationEnd(true); });
        auto dropped = [device] {
            device->OnAutocalibrationEnd(false);
            bool changed = true;
            device->GetCalibrationData()->LoadCalibration(&changed);
        };
        QObject::connect(m_dialog.get(), &QDialog::rejected, dropped);
        QObject::connect(m_dialog.get(), &CZtAutocalibrationDialog::closed, dropped);
        EXPECT_EQ(m_dialog->SetupUi(), 0);
        m_dialog->show();
        return m_dialog.get();
    }

    void Click(const QString& text) {
        QPushButton* button = Button(m_dialog.get(), text);
        ASSERT_NE(button, nullptr) << text.toStdString();
        ASSERT_TRUE(button->isVisible() && button->isEnabled()) << text.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }

    int Progress() { return m_dialog->findChild<QProgressBar*>()->value(); }

    // The verification page's warning when it shows, else null.
    QLabel* Warning() {
        for (QLabel* label : m_dialog->findChildren<QLabel*>()) {
            if (label->property("warning").toBool() && label->isVisible()) {
                return label;
            }
        }
        return nullptr;
    }

    std::unique_ptr<CZtAutocalibrationDialog> m_dialog;
};

TEST_F(AutocalibrationDialog, WithoutADeviceTheDialogRefusesWithAMessage) {
    m_dialog = std::make_unique<CZtAutocalibrationDialog>(nullptr);
    QSignalSpy rejected(m_dialog.get(), &QDialog::rejected);
    EXPECT_EQ(m_dialog->SetupUi(), -9);
    ASSERT_EQ(zthost::MessageBoxes().size(), 1u);
    EXPECT_EQ(zthost::MessageBoxes()[0].title, L"Verove autocalibration error");
    EXPECT_EQ(zthost::MessageBoxes()[0].text,
              L"Autocalibration failed due to internal error, aborting.");
    EXPECT_EQ(rejected.count(), 1);
}

TEST_F(AutocalibrationDialog, WithoutACameraTheCalibrationFailsWithAMessage) {
    CZtStimulationDeviceVerove* device =
        SetUpMicroscope(zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024));
    zthost::SetGrabberPresent(false);
    m_dialog = std::make_unique<CZtAutocalibrationDialog>(device);
    EXPECT_EQ(m_dialog->SetupUi(), -9);
    ASSERT_EQ(zthost::MessageBoxes().size(), 1u);
    EXPECT_EQ(zthost::MessageBoxes()[0].title, L"Error");
    EXPECT_EQ(zthost::MessageBoxes()[0].text, L"Calibration failed: no camera connected!");
}

TEST_F(AutocalibrationDialog, FocusPageShowsTheGridAndLiveWithoutAutoFocusWhenNoZStage) {
    SetUpMicroscope(zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024));
    zthost::SetZStagePresent(false);
    OpenDialog();
    EXPECT_TRUE(ZT_IsLive());
    const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    EXPECT_EQ(shown.levels[0], 255) << "the grid's first line";
    EXPECT_EQ(shown.levels[5 * 800 + 5], 0);
    QPushButton* focus = Button(m_dialog.get(), QStringLiteral("Auto Focus..."));
    ASSERT_NE(focus, nullptr);
    EXPECT_FALSE(focus->isEnabled());
    EXPECT_EQ(focus->statusTip(), QStringLiteral("No Z stage connected."));
    Click(QStringLiteral("Cancel"));
    EXPECT_FALSE(m_device->GetAutocalibration().IsRegistered());
}

// The whole calibration over the SDK path: the camera sees the DMD at 2.3 pixels per mirror,
// turned by 7 degrees and shifted; the calibration must find that mapping.
TEST_F(AutocalibrationDialog, NextRunsTheCalibrationAndOkStoresWhatTheCameraSees) {
    const std::array<double, 6> truth = zthost::DmdToSensor(2.3, 7.0, false, 400, 300, 1030, 1012);
    CZtStimulationDeviceVerove* device = SetUpMicroscope(truth);
    CZtCalibrationData* calibration = device->GetCalibrationData();
    const std::wstring configuration = calibration->GetCurrentConfigurationString();
    ASSERT_NE(calibration->GetCalibrationState(), Calibrated);
    OpenDialog();

    Click(QStringLiteral("Next"));
    EXPECT_TRUE(device->IsCalibrationInProgress());
    bool changed = true;
    EXPECT_EQ(device->CheckConfigurationDataAndUpdateCalibration(&changed), -9);
    EXPECT_FALSE(changed);

    ASSERT_TRUE(WaitFor([&] { return m_dialog->GetStep() == 2; }));
    EXPECT_EQ(device->GetAutocalibration().GetResult(), 0);
    EXPECT_TRUE(MirrorsDark());
    // The page says what the fit rests on and how well it holds on its own pairs; all went well,
    // so no warning shows.
    const SZtCalibrationFit& fit = device->GetAutocalibration().GetFit();
    EXPECT_TRUE(Texts(m_dialog.get())
                    .contains(QStringLiteral("Pairs used: 30 of 30 squares found (30 asked). "
                                             "Residual of the fit on its own pairs: %1 px rms, "
                                             "%2 px max (camera pixels).")
                                  .arg(fit.rms, 0, 'f', 3)
                                  .arg(fit.max, 0, 'f', 3)))
        << Texts(m_dialog.get()).join("\n").toStdString();
    EXPECT_EQ(Warning(), nullptr);

    // Applied for the verification, not stored yet.
    const SDeviation applied = Deviation(calibration->GetCalibrationDMDToCam(), truth);
    std::cout << "DMD -> camera deviation over the DMD field: rms " << applied.rms << " px, max "
              << applied.max << " px" << std::endl;
    EXPECT_LT(applied.max, 0.3);
    // The live picture gets an S1 stimulation ROI over the middle of the 2048 x 2048 image.
    const std::vector<zthost::DocumentInfo> documents = zthost::Documents();
    const auto current = std::find_if(documents.begin(), documents.end(),
                                      [](const zthost::DocumentInfo& d) { return d.current; });
    ASSERT_NE(current, documents.end());
    EXPECT_TRUE(current->live);
    ASSERT_EQ(current->rois.GetCount(), 1);
    const CZtRoiObject* roi = current->rois.GetAt(0);
    EXPECT_EQ(roi->GetGeometry(), (std::vector<double>{1024.0, 1024.0, 1024.0, 1024.0}));
    EXPECT_TRUE(roi->IsStimulationRoi());
    std::wstring key = configuration;
    EXPECT_NE(calibration->FindCalibration(&key), 0);

    Click(QStringLiteral("OK"));
    EXPECT_EQ(calibration->GetCalibrationState(), Calibrated);
    key = configuration;
    EXPECT_EQ(calibration->FindCalibration(&key), 0);
    EXPECT_LT(Deviation(calibration->GetCalibrationDMDToCam(), truth).max, 0.3);
    EXPECT_TRUE(zthost::GuiEnabled());
    // The opener deletes the dialog: configuration changes are followed again.
    m_dialog.reset();
    EXPECT_FALSE(device->IsCalibrationInProgress());
}

TEST_F(AutocalibrationDialog, CancelDuringTheRunStopsItAndKeepsThePreviousCalibration) {
    const std::array<double, 6> truth = zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024);
    CZtStimulationDeviceVerove* device = SetUpMicroscope(truth);
    CZtCalibrationData* calibration = device->GetCalibrationData();
    const CZtMatrix3 previous = {1.5, 0.0, 10.0, 0.0, 1.5, 20.0, 0.0, 0.0, 1.0};
    const CZtMatrix3 previousInverse = {1 / 1.5,   0.0, -10 / 1.5, 0.0, 1 / 1.5,
                                        -20 / 1.5, 0.0, 0.0,       1.0};
    ASSERT_EQ(device->GetDriver()->SetCalibrationMatrices(previous, previousInverse), 0);
    OpenDialog();
    QSignalSpy ended(m_dialog.get(), &CZtAutocalibrationDialog::NotifyCalibrationRunEnded);

    Click(QStringLiteral("Next"));
    ASSERT_TRUE(WaitFor([&] { return Progress() >= 6; }));
    Click(QStringLiteral("Cancel"));
    EXPECT_FALSE(device->GetAutocalibration().IsRegistered()) << "no worker left";
    EXPECT_EQ(device->GetAutocalibration().GetResult(), -9);
    QCoreApplication::processEvents();
    EXPECT_EQ(ended.count(), 0);
    EXPECT_EQ(calibration->GetCalibrationDMDToCam(), previous);
    EXPECT_TRUE(MirrorsDark());
    EXPECT_TRUE(zthost::GuiEnabled());
    m_dialog.reset();
    EXPECT_FALSE(device->IsCalibrationInProgress());
}

TEST_F(AutocalibrationDialog, RunWithTooFewPairsEndsAtTheVerificationPageAndStoresNothing) {
    fake_atcore::SetSensorSize(16, 600);
    CZtStimulationDeviceVerove* device =
        SetUpMicroscope(zthost::DmdToSensor(2.0, 0.0, false, 8, 300, 1024, 1024));
    CZtCalibrationData* calibration = device->GetCalibrationData();
    const CZtMatrix3 before = calibration->GetCalibrationDMDToCam();
    OpenDialog();
    Click(QStringLiteral("Next"));
    ASSERT_TRUE(WaitFor([&] { return m_dialog->GetStep() == 2; }));
    EXPECT_EQ(device->GetAutocalibration().GetResult(), -9);
    EXPECT_TRUE(zthost::GuiEnabled());
    EXPECT_TRUE(MirrorsDark());
    QLabel* warning = Warning();
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->text(),
              QStringLiteral("Warning: only 0 of the 30 squares asked were found. Check the focus "
                             "and that the DMD field lies inside the camera image."));

    Click(QStringLiteral("OK"));
    EXPECT_EQ(calibration->GetCalibrationDMDToCam(), before);
    EXPECT_NE(calibration->GetCalibrationState(), Calibrated);
    std::wstring key = calibration->GetCurrentConfigurationString();
    EXPECT_NE(calibration->FindCalibration(&key), 0);
}

// The simulated unit lights no camera: the calibration draws each square into the frame, scaled
// by frame size / DMD size, and finds that.
TEST_F(AutocalibrationDialog, SimulatedUnitCalibratesOnTheSquaresItDraws) {
    CZtStimulationDeviceVerove* device =
        SetUpMicroscope(zthost::DmdToSensor(1.2, 0.0, false, 400, 300, 512, 384), true, 1024, 768);
    OpenDialog();
    Click(QStringLiteral("Next"));
    ASSERT_TRUE(WaitFor([&] { return m_dialog->GetStep() == 2; }));
    ASSERT_EQ(device->GetAutocalibration().GetResult(), 0);
    Click(QStringLiteral("OK"));
    // 1024 x 768 frames of an 800 x 600 DMD. The drawn squares end on whole pixels, so each
    // centre may sit up to half a pixel off in either direction.
    const std::array<double, 6> drawn = {1024.0 / 800, 0.0, 0.0, 0.0, 768.0 / 600, 0.0};
    EXPECT_LT(Deviation(device->GetCalibrationData()->GetCalibrationDMDToCam(), drawn).max,
              std::sqrt(0.5));
    EXPECT_EQ(device->GetCalibrationData()->GetCalibrationState(), Calibrated);
}

TEST_F(AutocalibrationDialog, StimulateWithoutAnAssociatedLaserSaysSoAndStaysReleased) {
    SetUpMicroscope(zthost::DmdToSensor(1.2, 0.0, false, 400, 300, 512, 384), true, 1024, 768);
    OpenDialog();
    Click(QStringLiteral("Next"));
    ASSERT_TRUE(WaitFor([&] { return m_dialog->GetStep() == 2; }));
    Click(QStringLiteral("Stimulate S1 group"));
    QLabel* message = nullptr;
    for (QLabel* label : m_dialog->findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("No associated laser launch, cannot stimulate.")) {
            message = label;
        }
    }
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->property("error").toBool());
    EXPECT_FALSE(Button(m_dialog.get(), QStringLiteral("Stimulate S1 group"))->isChecked());
    Click(QStringLiteral("Cancel"));
}
