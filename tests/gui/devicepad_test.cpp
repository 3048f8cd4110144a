// The device pad worked as a user works it, on the fake SDK: pulses and manual exposures (the
// frames the DMD shows), the status line, the disable modes, the pattern and pulse-time lists,
// laser lines and the refusals.
#include <gtest/gtest.h>

#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QToolButton>
#include <algorithm>

#include "cztpatterncombobox.h"
#include "cztverovelaserline.h"
#include "cztverovepadrules.h"
#include "pad_microscope.h"
#include "zt/zt_gui.h"
#include "zt/zt_qtwidgets.h"
#include "zt/zt_util.h"
#include "zthost/acquisition.h"
#include "zthost/camera_control.h"

using namespace pad_test;

namespace {

bool HasLine(const std::wstring& line) {
    const std::vector<std::wstring> log = zthost::CapturedLog();
    return std::find(log.begin(), log.end(), line) != log.end();
}

// S1's rectangle, S2's ellipse and a mirror far from both, on the identity calibration.
constexpr int kS1X = 150, kS1Y = 125, kS2X = 400, kS2Y = 300, kFarX = 700, kFarY = 550;

}  // namespace

class DevicePad : public PadMicroscope {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PadMicroscope::SetUp());
        ASSERT_EQ(SetAreas(TwoGroups()), 0);
    }

    QPushButton* Pulse() const { return Ui().m_pBtnPulse; }
    QPushButton* Manual() const { return Ui().m_pBtnManual; }
    QString Status() const { return Ui().m_pLabelStatus->text(); }
    QString StatusStyle() const { return Ui().m_pLabelStatus->property("style").toString(); }

    // The Stimulation page with the pulse time chosen, S1 active.
    void ChoosePulseTime(const QString& text) {
        QTest::mouseClick(Ui().m_pBtnTabStimulation, Qt::LeftButton);
        Choose(Ui().m_pComboPulseTime, text);
    }

    // The Grid shown through the pattern combo: the pattern a pulse must return to.
    void ShowGrid() {
        Choose(Ui().m_pComboPattern, QStringLiteral("Grid"));
        ZT_DWORD active = 0;
        ASSERT_EQ(m_device->GetActivePatternId(&active), 0);
        ASSERT_EQ(active, 2u);
    }

    static bool GridShown() { return Mirror(0, 0) == 255 && Mirror(5, 5) == 0; }
    static bool S1Shown() {
        return Mirror(kS1X, kS1Y) == 255 && Mirror(kS2X, kS2Y) == 0 && Mirror(0, 0) == 0;
    }
};

// ---- Stimulation
// ----------------------------------------------------------------------------------

TEST_F(DevicePad, PulseOnS1ShowsTheGroupFrameForTheChosenTimeThenThePreviousPattern) {
    ShowGrid();
    ChoosePulseTime(QStringLiteral("100 ms"));
    ASSERT_TRUE(Pulse()->isEnabled()) << Pulse()->toolTip().toStdString();
    zthost::ClearMacroRecords();

    QTest::mouseClick(Pulse(), Qt::LeftButton);
    // The host times the shot it was given: 100 ms of group 1.
    const std::vector<zthost::ManualShotRecord> shots = zthost::ManualShotCalls();
    ASSERT_FALSE(shots.empty());
    EXPECT_EQ(zthost::ProtocolLines().at(0),
              L"ManualShot(\"CZtStimulationDeviceVerove_0\", 1, 100.000000, 1);");

    // The host ends the shot by itself, on its own thread; the DMD shows the Grid again once the
    // device has put the light path back.
    ASSERT_TRUE(WaitFor([] { return zthost::ManualShotTimedEndCount() == 1; }));
    ASSERT_TRUE(WaitFor([] { return GridShown(); }));
    EXPECT_FALSE(m_device->IsPadPulseStimulation());
    ASSERT_TRUE(WaitFor([&] { return Pulse()->text() == QStringLiteral("Pulse"); }));
    EXPECT_EQ(Status(), QStringLiteral("Calibrated [Cam1 / P10]"));
}

// A "Toggle" pulse runs until the user or the host stops it.
class DevicePadToggle : public DevicePad, public ::testing::WithParamInterface<bool> {};

TEST_P(DevicePadToggle, AbortOrTheHostsStopAllEndsATogglePulse) {
    const bool byHost = GetParam();
    ShowGrid();
    ChoosePulseTime(QStringLiteral("Toggle"));
    zthost::ClearMacroRecords();
    QTest::mouseClick(Pulse(), Qt::LeftButton);
    ASSERT_TRUE(S1Shown());
    EXPECT_DOUBLE_EQ(zthost::ManualShotCalls().at(0).duration, 8.28e7);
    QCoreApplication::processEvents();
    EXPECT_EQ(Pulse()->text(), QStringLiteral("Abort"));
    EXPECT_EQ(Status(), QStringLiteral("Stimulating...Toggle"));

    if (byHost) {
        m_pad->OnStopAllStimulation();
    } else {
        QTest::mouseClick(Pulse(), Qt::LeftButton);
    }
    EXPECT_TRUE(GridShown());
    EXPECT_FALSE(m_device->IsManualShotActive());
    EXPECT_EQ(zthost::ProtocolLines().back(),
              L"ManualShot(\"CZtStimulationDeviceVerove_0\", 0, 0.000000, 1);");
    QCoreApplication::processEvents();
    EXPECT_EQ(Pulse()->text(), QStringLiteral("Pulse"));
    // Stopping everything again has nothing left to stop.
    const size_t shots = zthost::ManualShotCalls().size();
    m_pad->OnStopAllStimulation();
    EXPECT_EQ(zthost::ManualShotCalls().size(), shots);
}

INSTANTIATE_TEST_SUITE_P(AbortButtonOrHost, DevicePadToggle, ::testing::Bool());

TEST_F(DevicePad, ManualStimulatesTheActiveGroupWhileTheButtonIsHeld) {
    ShowGrid();
    QTest::mouseClick(Ui().m_pBtnTabStimulation, Qt::LeftButton);
    QTest::mouseClick(Ui().m_stimGroupButtons[1], Qt::LeftButton);
    zthost::ClearMacroRecords();

    QTest::mousePress(Manual(), Qt::LeftButton);
    EXPECT_EQ(Mirror(kS2X, kS2Y), 255);
    EXPECT_EQ(Mirror(kS1X, kS1Y), 0);
    EXPECT_EQ(zthost::ManualShotCalls().at(0).parameter, 2);
    EXPECT_DOUBLE_EQ(zthost::ManualShotCalls().at(0).duration, 0.0);
    EXPECT_FALSE(Pulse()->isEnabled());
    EXPECT_EQ(Status(), QStringLiteral("Stimulating..."));

    QTest::mouseRelease(Manual(), Qt::LeftButton);
    EXPECT_TRUE(GridShown());
    EXPECT_EQ(zthost::ManualShotCalls().back().on, 0);
    EXPECT_TRUE(Pulse()->isEnabled());
}

TEST_F(DevicePad, AGroupWithoutAreasCannotBeStimulated) {
    QTest::mouseClick(Ui().m_pBtnTabStimulation, Qt::LeftButton);
    QPushButton* s3 = Ui().m_stimGroupButtons[2];
    EXPECT_EQ(s3->toolTip(), QStringLiteral("No stimulation areas defined for S3."));
    QTest::mouseClick(s3, Qt::LeftButton);
    EXPECT_FALSE(Pulse()->isEnabled());
    EXPECT_FALSE(Manual()->isEnabled());
    EXPECT_EQ(Pulse()->toolTip(),
              QStringLiteral("Unable to stimulate S3, no stimulation ROIs defined."));
}

// ---- Status line
// ------------------------------------------------------------------------------------

struct StatusCase {
    int state;
    const char* configuration;
    const char* text;
    const char* style;
    friend void PrintTo(const StatusCase& c, std::ostream* os) {
        *os << "state" << c.state << (*c.configuration ? "_configuration" : "_none");
    }
};

class DevicePadStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(DevicePadStatus, TheStatusLineNamesTheCalibrationState) {
    const StatusCase& c = GetParam();
    SZtPadSituation situation;
    situation.calibrationData = true;
    situation.calibrationState = c.state;
    situation.configurationText = QString::fromUtf8(c.configuration);
    QString style;
    EXPECT_EQ(CZtVerovePadRules::StatusText(situation, &style), QString::fromUtf8(c.text));
    EXPECT_EQ(style, QString::fromUtf8(c.style));
}

INSTANTIATE_TEST_SUITE_P(
    States, DevicePadStatus,
    ::testing::Values(StatusCase{Mismatch, "Cam1 / P40", "Calibration doesn't match", "warning"},
                      StatusCase{Mismatch, "", "Calibration doesn't match", "warning"},
                      StatusCase{Compatible, "Cam1", "Calibrated [Cam1] / Compatibility mode",
                                 "warning"},
                      StatusCase{Compatible, "", "Calibrated", "warning"},
                      StatusCase{Calibrated, "Cam1 / P10", "Calibrated [Cam1 / P10]", "ok"},
                      StatusCase{Calibrated, "", "Calibrated", "ok"},
                      StatusCase{NotCalibrated, "Cam1", "Not calibrated [Cam1]", "error"},
                      StatusCase{NotCalibrated, "", "No grabber", "error"}));

TEST_F(DevicePad, AnotherObjectiveMakesTheCalibrationMismatch) {
    EXPECT_EQ(Status(), QStringLiteral("Calibrated [Cam1 / P10]"));
    zthost::LogicalDeviceSetup nosepiece;
    ASSERT_TRUE(zthost::FindLogicalDevice(kNosepiece, &nosepiece));
    nosepiece.position = 1;
    ASSERT_EQ(zthost::UpdateLogicalDevice(nosepiece), 0);
    const std::uint32_t ids[] = {kNosepiece};
    ASSERT_EQ(m_device->HandleDeviceChanged(ids, 1), 0);
    ASSERT_TRUE(WaitFor([&] { return Status() == QStringLiteral("Calibration doesn't match"); }));
    EXPECT_EQ(StatusStyle(), QStringLiteral("warning"));
    // A mismatching calibration still allows stimulation: the state is above "not calibrated".
    EXPECT_TRUE(Ui().m_pBtnMatchFOV->isEnabled());
}

TEST_F(DevicePad, ACalibrationThatGoesEndsTheShotAndOffersNeitherMatchNorStimulation) {
    ShowGrid();
    // A shot the host started, not the pad.
    m_device->ManualShotBegin(1, 0.0);
    ASSERT_TRUE(S1Shown());
    zthost::ClearMacroRecords();
    // Another camera: no stored calibration fits.
    zthost::CameraSetup camera = zthost::Camera();
    camera.name = L"Cam2";
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    ASSERT_EQ(m_device->CheckConfigurationDataAndUpdateCalibration(nullptr), 0);
    // Light placed through a calibration that is gone would miss the areas: the shot ends.
    const std::wstring stop = L"ManualShot(\"CZtStimulationDeviceVerove_0\", 0, 0.0, 1);";
    EXPECT_EQ(zthost::CliCommands(), std::vector<std::wstring>{stop});
    EXPECT_EQ(zthost::ProtocolLines(), std::vector<std::wstring>{stop});
    EXPECT_TRUE(GridShown());
    EXPECT_FALSE(m_device->IsManualShotActive());
    QCoreApplication::processEvents();
    EXPECT_EQ(Status(), QStringLiteral("Not calibrated [Cam2 / P10]"));
    EXPECT_FALSE(Ui().m_pBtnMatchFOV->isEnabled());
    EXPECT_FALSE(Pulse()->isEnabled());
    EXPECT_EQ(Pulse()->toolTip(), QStringLiteral("Unable to stimulate, invalid calibration"));
    // The pattern list no longer offers the camera-mapped group patterns.
    EXPECT_EQ(Ui().m_pComboPattern->findText(QStringLiteral("S1")), -1);
}

// ---- Disable modes
// ------------------------------------------------------------------------------------

struct DisableCase {
    EZtDisableMode mode;
    std::vector<const char*> disabled;  // object names
    friend void PrintTo(const DisableCase& c, std::ostream* os) { *os << "mode" << c.mode; }
};

class DevicePadDisable : public DevicePad, public ::testing::WithParamInterface<DisableCase> {};

TEST_P(DevicePadDisable, AModeSwitchesItsWidgetsOffAndNoneGivesThemBack) {
    const DisableCase& c = GetParam();
    const std::vector<const char*> all = {"combo_pulse_time",
                                          "btn_pulse",
                                          "btn_manual",
                                          "m_pComboPattern",
                                          "m_pBtnPatternExternal",
                                          "m_pPickerGrayscaling",
                                          "m_pBtnMatchFOV",
                                          "m_pBtnConfigure"};
    m_device->SetDisableMode(c.mode);
    QCoreApplication::processEvents();
    for (const char* name : all) {
        QWidget* widget = m_pad->findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_NE(widget, nullptr) << name;
        const bool listed = c.mode == ZtDisableAll ||
                            std::find_if(c.disabled.begin(), c.disabled.end(), [&](const char* d) {
                                return std::string(d) == name;
                            }) != c.disabled.end();
        EXPECT_EQ(widget->isEnabled(), !listed) << name;
    }
    m_device->SetDisableMode(ZtDisableNone);
    QCoreApplication::processEvents();
    for (const char* name : all) {
        EXPECT_TRUE(m_pad->findChild<QWidget*>(QString::fromLatin1(name))->isEnabled()) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DevicePadDisable,
    ::testing::Values(
        DisableCase{ZtDisableAll, {}},
        DisableCase{ZtDisableSetup, {"m_pPickerGrayscaling", "m_pBtnMatchFOV"}},
        DisableCase{ZtDisableAcquisition,
                    {"combo_pulse_time", "btn_pulse", "btn_manual", "m_pComboPattern",
                     "m_pBtnPatternExternal", "m_pPickerGrayscaling", "m_pBtnMatchFOV"}},
        DisableCase{ZtDisableAcquisitionKeepPattern,
                    {"combo_pulse_time", "btn_pulse", "btn_manual", "m_pBtnPatternExternal",
                     "m_pPickerGrayscaling", "m_pBtnMatchFOV"}}));

TEST_F(DevicePad, APatternChosenWhileTheComboIsSwitchedOffDoesNotReachTheDmd) {
    m_device->SetDisableMode(ZtDisableAcquisition);
    QCoreApplication::processEvents();
    m_pad->OnPatternSelectionChanged(Ui().m_pComboPattern->findText(QStringLiteral("Full ON")));
    ZT_DWORD active = 99;
    ASSERT_EQ(m_device->GetActivePatternId(&active), 0);
    EXPECT_NE(active, 1u);
}

TEST_F(DevicePad, DuringAutocalibrationPatternsBitDepthAndCameraRoiAreLocked) {
    m_device->SetAutocalibrationRunning(true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(Ui().m_pComboPattern->isEnabled());
    EXPECT_EQ(Ui().m_pPickerGrayscaling->toolTip(),
              QStringLiteral("Cannot change bit depth during autocalibration."));
    EXPECT_EQ(Ui().m_pBtnMatchFOV->toolTip(),
              QStringLiteral("Cannot use camera ROI during autocalibration."));
    m_device->SetAutocalibrationRunning(false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Ui().m_pComboPattern->isEnabled());
    EXPECT_TRUE(Ui().m_pBtnMatchFOV->toolTip().isEmpty());
}

// ---- Pattern list
// -------------------------------------------------------------------------------------

TEST_F(DevicePad, ThePatternListOffersGroupsWithAreasUnderHeadingsThatCannotBeChosen) {
    CZtPatternComboBox* combo = Ui().m_pComboPattern;
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) {
        texts << combo->itemText(i);
    }
    EXPECT_EQ(texts,
              (QStringList{"Full OFF", "Full ON", "Grid", "------------------", "S1", "S2"}));
    const int heading = combo->findText(QStringLiteral("------------------"));
    auto* model = qobject_cast<QStandardItemModel*>(combo->model());
    ASSERT_NE(model, nullptr);

    // Clicking the heading in the open list chooses nothing.
    Choose(combo, QStringLiteral("Grid"));
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    const QRect rect = view->visualRect(model->index(heading, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QCoreApplication::processEvents();
    EXPECT_EQ(combo->currentText(), QStringLiteral("Grid"));
}

TEST_F(DevicePad, AnUnchangedPatternListLeavesTheComboAlone) {
    CZtPatternComboBox* combo = Ui().m_pComboPattern;
    Choose(combo, QStringLiteral("S2"));
    auto* model = qobject_cast<QStandardItemModel*>(combo->model());
    const QStandardItem* before = model->item(combo->currentIndex());
    QSignalSpy changed(combo, qOverload<int>(&QComboBox::currentIndexChanged));
    m_pad->OnUpdatePatternsCombo();
    ASSERT_EQ(SetAreas(TwoGroups()), 0);
    EXPECT_EQ(model->item(combo->currentIndex()), before);
    EXPECT_EQ(changed.count(), 0);

    // S1's areas go: the list is built again, and S2 stays chosen by its text.
    CZtRoiObjectList onlyS2;
    onlyS2.Add(*TwoGroups().GetAt(1));
    ASSERT_EQ(SetAreas(onlyS2), 0);
    EXPECT_EQ(combo->findText(QStringLiteral("S1")), -1);
    EXPECT_EQ(combo->currentText(), QStringLiteral("S2"));
    ZT_DWORD active = 0;
    ASSERT_EQ(m_device->GetActivePatternId(&active), 0);
    EXPECT_EQ(active, 4u) << "a rebuilt list changes nothing on the DMD";
}

TEST_F(DevicePad, AChosenPatternIsShownAndTheDevicesChoiceMovesTheCombo) {
    Choose(Ui().m_pComboPattern, QStringLiteral("Full ON"));
    EXPECT_EQ(Mirror(kFarX, kFarY), 255);
    ASSERT_EQ(m_device->SetActivePatternId(4), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(Ui().m_pComboPattern->currentText(), QStringLiteral("S2"));
    EXPECT_EQ(Mirror(kS2X, kS2Y), 255);
    EXPECT_EQ(Mirror(kFarX, kFarY), 0);
}

// ---- Pulse times
// ---------------------------------------------------------------------------------------

TEST_F(DevicePad, ATypedPulseTimeIsUsedAndKeptInTheList) {
    QComboBox* combo = Ui().m_pComboPulseTime;
    QTest::mouseClick(Ui().m_pBtnTabStimulation, Qt::LeftButton);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("250 ms"));
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    EXPECT_DOUBLE_EQ(m_device->GetPadPulseDuration(), 250.0);
    // Another choice and a refill later, the typed time is still offered.
    Choose(combo, QStringLiteral("1 s"));
    m_pad->OnUpdateDurationsCombo();
    EXPECT_GE(combo->findText(QStringLiteral("250 ms")), 0);
    EXPECT_EQ(combo->currentText(), QStringLiteral("1 s"));
    // A duration no item has is added when it reads.
    m_device->SetPadPulseDuration(1500.0);
    m_pad->OnUpdateDurationsCombo();
    EXPECT_EQ(combo->currentText(), QStringLiteral("1.5 s"));
    m_device->SetPadPulseDuration(8.28e7);
    m_pad->OnUpdateDurationsCombo();
    EXPECT_EQ(combo->currentText(), QStringLiteral("Toggle"));
}

TEST_F(DevicePad, AnUnreadablePulseTimeWarnsAndStartsNothing) {
    QComboBox* combo = Ui().m_pComboPulseTime;
    QTest::mouseClick(Ui().m_pBtnTabStimulation, Qt::LeftButton);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("abc"));
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    EXPECT_DOUBLE_EQ(m_device->GetPadPulseDuration(), -1.0);
    EXPECT_FALSE(Pulse()->isEnabled());
    EXPECT_EQ(Pulse()->toolTip(),
              QStringLiteral("Unable to stimulate, invalid pulse duration: abc"));
    EXPECT_TRUE(Manual()->isEnabled());

    zthost::ClearMacroRecords();
    zthost::ClearMessageBoxes();
    m_pad->OnButtonPulseReleased();
    ASSERT_EQ(zthost::MessageBoxes().size(), 1u);
    EXPECT_EQ(zthost::MessageBoxes()[0].title, L"Warning");
    EXPECT_EQ(zthost::MessageBoxes()[0].text, L"Unable to parse the pulse time, cannot stimulate!");
    EXPECT_TRUE(zthost::ManualShotCalls().empty());
}

// ---- Grey levels, Match
// ---------------------------------------------------------------------------

TEST_F(DevicePad, ThePickerSetsTheGreyLevelsAndUncheckingReturnsToBinary) {
    CZtPickerTogglePushButton* picker = Ui().m_pPickerGrayscaling;
    EXPECT_FALSE(picker->isCheckable());
    picker->SetPickerChecked(true);
    EXPECT_EQ(m_device->GetBitDepth(), 4);
    EXPECT_TRUE(m_device->IsGrayscaleEnabled());
    picker->SetCurrentIndex(1);
    EXPECT_EQ(m_device->GetBitDepth(), 6);
    EXPECT_EQ(m_device->GetGrayscaleLevels(), 64);
    EXPECT_EQ(fake_atcore::ShownFrame().encoding, L"6BitDIP");
    picker->SetPickerChecked(false);
    EXPECT_EQ(m_device->GetBitDepth(), 1);
    EXPECT_FALSE(m_device->IsGrayscaleEnabled());
    // The device side moves the picker without its signals.
    m_pad->SetGrayscaleLevels(256);
    EXPECT_EQ(picker->GetCurrentIndex(), 2);
    EXPECT_EQ(m_device->GetBitDepth(), 1);
}

TEST_F(DevicePad, ARefusedMatchPutsTheButtonBack) {
    QPushButton* match = Ui().m_pBtnMatchFOV;
    QSignalSpy toggled(match, &QPushButton::toggled);
    zthost::SetFastTimelapse(true);
    QTest::mouseClick(match, Qt::LeftButton);
    EXPECT_FALSE(match->isChecked());
    EXPECT_EQ(toggled.count(), 1) << "put back without a signal";
    EXPECT_FALSE(zthost::Camera().roiOn);
}

// ---- Laser lines and shutter
// ----------------------------------------------------------------------

TEST_F(DevicePad, ALinePowerForS2ReachesTheDeviceAsGroupOne) {
    ASSERT_EQ(m_pad->LaserSection().Lines().size(), 4u);
    CZtVeroveLaserLine* line = m_pad->LaserSection().Find(1)->widget;
    QDoubleSpinBox* power = line->GetLine(ZtStimGroupS2)->findChild<QDoubleSpinBox*>();
    ASSERT_NE(power, nullptr);
    QSignalSpy changed(line, &CZtVeroveLaserLine::LinePowerChanged);
    power->setValue(12.5);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<EZtStimGroup>(), ZtStimGroupS2);
    EXPECT_DOUBLE_EQ(m_device->GetLinePower(1, 1), 12.5);
    EXPECT_DOUBLE_EQ(m_device->GetLinePower(1, 0), 0.0);
    // A stimulation group's power is stored, not sent to the laser.
    EXPECT_EQ(zthost::DeviceStateText(kLaunch),
              L"405 nm 10.0% on, 488 nm 20.0% off, 561 nm 30.0% on, 640 nm 0.0% off");

    QToolButton* use = line->GetLine(ZtStimGroupS2)->findChild<QToolButton*>();
    QTest::mouseClick(use, Qt::LeftButton);
    EXPECT_TRUE(m_device->GetLineUsed(1, 1));
}

TEST_F(DevicePad, ARefusedDirectControlPowerReturnsInTheWidget) {
    zthost::LogicalDeviceSetup launch;
    ASSERT_TRUE(zthost::FindLogicalDevice(kLaunch, &launch));
    launch.refused = {zthost::DeviceCommand::LinePower};
    ASSERT_EQ(zthost::UpdateLogicalDevice(launch), 0);
    CZtQLaserLine* direct = m_pad->LaserSection().Find(2)->widget->GetLine(ZtStimGroupDirect);
    direct->findChild<QDoubleSpinBox*>()->setValue(55.0);
    EXPECT_DOUBLE_EQ(direct->GetPower(), 30.0);
    EXPECT_DOUBLE_EQ(m_device->GetLinePower(2, 3), 30.0);
}

TEST_F(DevicePad, AHiddenLineLeavesEveryPageAndShrinksThePad) {
    const int height = m_device->GetPadWrapper()->GetBaseSize().height();
    m_device->OnLaserLineShow(3, false);
    EXPECT_EQ(m_pad->GetVisibleLaserLineCount(), 3);
    EXPECT_EQ(m_device->GetPadWrapper()->GetBaseSize().height(), height - 40);
    CZtVeroveLaserLine* line = m_pad->LaserSection().Find(3)->widget;
    for (int g = 0; g < ZT_STIM_GROUP_COUNT; ++g) {
        EXPECT_FALSE(line->IsGroupVisible(static_cast<EZtStimGroup>(g)));
    }
    m_device->OnLaserLineShow(3, true);
    EXPECT_EQ(m_device->GetPadWrapper()->GetBaseSize().height(), height);
    m_device->OnLaserLineShow(9, false);  // no such line
    EXPECT_EQ(m_pad->GetVisibleLaserLineCount(), 4);
}

TEST_F(DevicePad, TheShutterButtonOpensTheChainAndFollowsIt) {
    QPushButton* shutter = Ui().m_pBtnShutter;
    ASSERT_TRUE(shutter->isEnabled());
    QTest::mouseClick(shutter, Qt::LeftButton);
    EXPECT_EQ(zthost::DeviceStateText(kShutter), L"Open");
    // Direct control of a line in use follows the shutter.
    CZtQLaserLine* direct = m_pad->LaserSection().Find(0)->widget->GetLine(ZtStimGroupDirect);
    EXPECT_TRUE(direct->isEnabled());
    QTest::mouseClick(shutter, Qt::LeftButton);
    EXPECT_EQ(zthost::DeviceStateText(kShutter), L"Closed");
    EXPECT_FALSE(direct->isEnabled());

    // The host opens the shutter: the button follows once the change is handled.
    zthost::LogicalDeviceSetup device;
    ASSERT_TRUE(zthost::FindLogicalDevice(kShutter, &device));
    device.open = true;
    ASSERT_EQ(zthost::UpdateLogicalDevice(device), 0);
    const std::uint32_t ids[] = {kShutter};
    ASSERT_EQ(m_device->HandleDeviceChanged(ids, 1), 0);
    EXPECT_FALSE(shutter->isChecked()) << "the button follows on the GUI thread, later";
    ASSERT_TRUE(WaitFor([&] { return shutter->isChecked(); }));
}

// ---- Refusals
// ---------------------------------------------------------------------------------------

TEST(DevicePadWithoutDevice, EveryOperationRefusesAndTheStatusSaysNotCalibrated) {
    zthost::ClearCapturedLog();
    CZtVerovePadQt pad(nullptr, nullptr, nullptr);
    pad.SetupLayout();
    pad.OnButtonPulseReleased();
    pad.OnButtonManualPressed();
    pad.OnButtonManualReleased();
    pad.OnButtonConfigureReleased();
    pad.OnPatternSelectionChanged(0);
    pad.OnComboPulseTimeSelectionChanged(0);
    pad.RefreshFromDevice();
    EXPECT_EQ(pad.Ui().m_pLabelStatus->text(), QStringLiteral("Not calibrated"));
    EXPECT_FALSE(pad.Ui().m_pPickerGrayscaling->IsPickerChecked());
    pad.Ui().m_pPickerGrayscaling->SetPickerChecked(true);
    EXPECT_FALSE(pad.Ui().m_pPickerGrayscaling->IsPickerChecked());
}

TEST_F(DevicePad, WithoutADriverNothingStarts) {
    ChoosePulseTime(QStringLiteral("100 ms"));
    m_device->Connect(false, 0, -1);
    zthost::ClearMacroRecords();
    m_pad->OnButtonPulseReleased();
    m_pad->OnButtonManualPressed();
    EXPECT_TRUE(zthost::ManualShotCalls().empty());
    EXPECT_FALSE(m_device->IsPadPulseStimulation());
    EXPECT_FALSE(m_device->IsPadManualStimulation());
    QTest::mouseClick(Ui().m_pBtnMatchFOV, Qt::LeftButton);
    EXPECT_FALSE(Ui().m_pBtnMatchFOV->isChecked());
}

// ---- Dialogs
// --------------------------------------------------------------------------------------

namespace {

// A pad whose configuration dialog is a plain host dialog.
class DialogPad : public CZtVerovePadQt {
public:
    using CZtVerovePadQt::CZtVerovePadQt;
    int made = 0;

protected:
    CZtQ9DialogForQt* NewConfigurationDialog() override {
        ++made;
        return new CZtQ9DialogForQt;
    }
};

}  // namespace

TEST_F(DevicePad, ConfigureShowsOneDialogThatGoesWhenItIsDone) {
    QWidget host;
    DialogPad pad(&host, nullptr, m_device.get());
    pad.SetupLayout();
    zthost::ClearCapturedLog();
    QTest::mouseClick(pad.Ui().m_pBtnConfigure, Qt::LeftButton);
    auto* dialog = host.findChild<CZtQ9DialogForQt*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->IsVisible());
    QTest::mouseClick(pad.Ui().m_pBtnConfigure, Qt::LeftButton);
    EXPECT_EQ(pad.made, 1) << "shown once, brought to the front after";

    QPointer<CZtQ9DialogForQt> guard = dialog;
    dialog->accept();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
    EXPECT_TRUE(HasLine(L"Verove CZtStimulationDeviceVerove::SaveSettings: Start"));
    QTest::mouseClick(pad.Ui().m_pBtnConfigure, Qt::LeftButton);
    EXPECT_EQ(pad.made, 2) << "the next press makes a new one";
}
