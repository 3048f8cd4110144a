// The pad's element in the host's acquisition controls: tab titles, activation, the caption
// command, the GUI zoom, the laser-line widgets, device events from other threads, and the
// auto-calibration dialog's stimulation through the pad.
#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>
#include <thread>

#include "cztautocalibrationdialog.h"
#include "cztmanualcalibrationdialog.h"
#include "cztqlaserlinewrapper.h"
#include "cztveroveconfig.h"
#include "cztverovelaserline.h"
#include "logical_device.h"
#include "pad_microscope.h"
#include "widget_find.h"
#include "zt/zt_layout.h"
#include "zt/zt_qtwidgets.h"
#include "zthost/acquisition.h"
#include "zthost/camera_control.h"

using namespace pad_test;

namespace {

CZtTabContainer* Tabs() {
    return zthost::AcquisitionControls();
}

}  // namespace

// ---- Titles
// ---------------------------------------------------------------------------------------

struct TitleCase {
    const wchar_t* uniqueName;
    bool simulated;
    const char* title;
    friend void PrintTo(const TitleCase& c, std::ostream* os) {
        *os << CZtStringW(c.uniqueName).ToUtf8();
    }
};

class PadWrapperTitle : public PadMicroscope, public ::testing::WithParamInterface<TitleCase> {
protected:
    void SetUp() override {
        m_uniqueName = GetParam().uniqueName;
        m_associateLaunch = false;
        PadMicroscope::SetUp();
    }
    CZtStimulationDeviceVerove* NewDevice() override {
        return GetParam().simulated ? new CZtStimulationDeviceVeroveSim()
                                    : new CZtStimulationDeviceVerove();
    }
};

TEST_P(PadWrapperTitle, TheTabIsTitledWithTheDeviceNameItsKindAndItsNumber) {
    CZtVerovePadWrapper* wrapper = m_device->GetPadWrapper();
    const QString title = QString::fromUtf8(GetParam().title);
    EXPECT_EQ(QString::fromStdWString(wrapper->GetCaption().Str()), title);
    EXPECT_EQ(Tabs()->GetTabTitle(wrapper), title);
    // Created once: a second CreateUI answers the same window and keeps the title.
    QWidget* window = wrapper->GetNativeWindow();
    EXPECT_EQ(wrapper->CreateUI(L"Other", Tabs()), window);
    EXPECT_EQ(Tabs()->GetTabTitle(wrapper), title);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, PadWrapperTitle,
    ::testing::Values(
        TitleCase{L"CZtStimulationDeviceVerove_0", false, "Andor Verove 3"},
        TitleCase{L"CZtStimulationDeviceVerove_1", false, "Andor Verove 3 (2)"},
        TitleCase{L"CZtStimulationDeviceVeroveSim_0", true, "Andor Verove 3 Simulator"},
        TitleCase{L"CZtStimulationDeviceVeroveSim_2", true, "Andor Verove 3 Simulator (3)"}));

class PadWrapper : public PadMicroscope {};

TEST_F(PadWrapper, AnActivatedPortMarksTheTitleAndShowsThePadAsSaved) {
    CZtVerovePadWrapper* wrapper = m_device->GetPadWrapper();
    QWidget other;
    Tabs()->insertTab(0, &other, QStringLiteral("Other"));
    ASSERT_EQ(Tabs()->GetSavedIndex(wrapper), 1);
    Tabs()->setCurrentIndex(0);

    // Only the title: " - active", refreshed in the tab.
    m_device->OnPortActivated(true, false);
    EXPECT_EQ(Tabs()->GetTabTitle(wrapper), QStringLiteral("Andor Verove 3 - active"));
    EXPECT_EQ(Tabs()->currentIndex(), 0);

    // The user had closed the pad: showing brings it back where it stood and makes it active.
    ASSERT_EQ(Tabs()->RemoveElement(wrapper), 0);
    m_device->OnPortActivated(false, true);
    EXPECT_EQ(Tabs()->GetTabTitle(wrapper), QStringLiteral("Andor Verove 3"));
    EXPECT_EQ(Tabs()->indexOf(wrapper->GetNativeWindow()), 1);
    EXPECT_EQ(Tabs()->GetActiveElement(), wrapper);
    EXPECT_EQ(ZT_GetLayoutManager()->GetActiveVisibleElement(), wrapper);
    EXPECT_TRUE(Tabs()->updatesEnabled()) << "layout changes are resumed";
    Tabs()->removeTab(0);
}

TEST_F(PadWrapper, CustomCommandThreeSetsTheCaption) {
    CZtVerovePadWrapper* wrapper = m_device->GetPadWrapper();
    EXPECT_EQ(wrapper->CustomCommand(3, nullptr, L"My pad"), 0);
    EXPECT_EQ(Tabs()->GetTabTitle(wrapper), QStringLiteral("My pad"));
    const std::wstring longText(300, L'x');
    wrapper->CustomCommand(3, nullptr, longText.c_str());
    EXPECT_EQ(wrapper->GetCaption().Str(), longText.substr(0, 255));
    EXPECT_EQ(wrapper->CustomCommand(7, nullptr, L"ignored"), -2);
}

TEST_F(PadWrapper, TheZoomScalesThePadItsWindowAndItsLines) {
    CZtVerovePadWrapper* wrapper = m_device->GetPadWrapper();
    const QSize base = wrapper->GetBaseSize();
    EXPECT_EQ(base.width(), 270);
    EXPECT_EQ(m_pad->width(), 270);
    zthost::SetGUIZoom(1.5);
    EXPECT_EQ(m_pad->width(), 405);
    EXPECT_EQ(m_pad->height(), static_cast<int>(std::lround(base.height() * 1.5)));
    EXPECT_EQ(wrapper->GetWinWidget()->size(), m_pad->size());
    CZtVeroveLaserLine* line = m_pad->LaserSection().Find(0)->widget;
    EXPECT_EQ(line->GetLine(ZtStimGroupS1)->height(), 60);
    zthost::SetGUIZoom(1.0);
    EXPECT_EQ(m_pad->width(), 270);
    EXPECT_EQ(m_pad->height(), base.height());
}

TEST_F(PadWrapper, TheDeviceClearsAndAddsLineWidgets) {
    const int height = m_device->GetPadWrapper()->GetBaseSize().height();
    m_device->OnLaserLinesCleared();
    EXPECT_TRUE(m_pad->LaserSection().Lines().empty());
    EXPECT_FALSE(Ui().m_pLabelNoLaunch->isHidden());
    EXPECT_EQ(m_device->GetPadWrapper()->GetBaseSize().height(), height - 4 * 40);
    m_device->OnLaserLineAdded(2);
    ASSERT_EQ(m_pad->LaserSection().Lines().size(), 1u);
    EXPECT_EQ(m_pad->LaserSection().Lines()[0].widget->GetWavelength(), 561u);
    EXPECT_DOUBLE_EQ(m_pad->LaserSection().Lines()[0].widget->GetLinePower(ZtStimGroupDirect),
                     30.0);
    m_device->OnLaserLineAdded(2);  // shown already: only its values
    m_device->OnLaserLineAdded(7);  // no such line
    EXPECT_EQ(m_pad->LaserSection().Lines().size(), 1u);
    EXPECT_EQ(m_device->GetPadWrapper()->GetBaseSize().height(), height - 3 * 40);
    // A refresh puts the light's four lines back.
    m_device->RefreshPad();
    EXPECT_EQ(m_pad->LaserSection().Lines().size(), 4u);
    EXPECT_EQ(m_device->GetPadWrapper()->GetBaseSize().height(), height);
}

TEST_F(PadWrapper, ASingleLightShowsItsLineWithoutEnableButtons) {
    zthost::LogicalDeviceSetup light = LogicalDevice(41, ZT_LOGDEV_LIGHT, L"Lamp1");
    light.capabilities = {16};
    light.lightControl = zthost::LightControl::Voltage;
    light.minimum = 0.0;
    light.maximum = 5.0;
    light.stepCount = 50;
    light.value = 2.5;
    ASSERT_EQ(zthost::AddLogicalDevice(light), 0);
    ASSERT_EQ(m_device->OnAssociatedLightChanged(41), 0);
    QCoreApplication::processEvents();
    ASSERT_EQ(m_pad->LaserSection().Lines().size(), 1u);
    CZtQLaserLine* control = m_pad->LaserSection().Lines()[0].widget->GetLine(ZtStimGroupS2);
    EXPECT_EQ(control->GetStyle(), 1);
    EXPECT_FALSE(control->findChild<QToolButton*>()->isVisibleTo(control));
    // No light at all: the section says so.
    EXPECT_EQ(m_device->OnAssociatedLightChanged(0), -9);
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_pad->LaserSection().Lines().empty());
    EXPECT_FALSE(Ui().m_pLabelNoLaunch->isHidden());
    EXPECT_EQ(m_pad->GetVisibleLaserLineCount(), 0);
}

TEST_F(PadWrapper, ADestroyedElementTakesThePadAlongAndTheDeviceCarriesOn) {
    CZtVerovePadWrapper* wrapper = m_device->GetPadWrapper();
    QPointer<CZtVerovePadQt> pad = m_pad;
    wrapper->DestroyUI();
    EXPECT_TRUE(pad.isNull());
    EXPECT_EQ(m_device->GetPad(), nullptr);
    EXPECT_EQ(Tabs()->count(), 0);
    // Device events find no pad and no device behind the element.
    m_device->RefreshPad();
    m_device->OnLaserLineShow(0, false);
    m_device->OnPortActivated(true, true);
    wrapper->OnDeviceGUIReady();
    QCoreApplication::processEvents();
    EXPECT_EQ(m_device->GetLineVisible(0), false);
}

// ---- Threads
// ---------------------------------------------------------------------------------------

// Device events raised on other threads reach the widgets only through the GUI thread's event
// loop. Run under the tsan preset too.
class DevicePadThreads : public PadMicroscope {};

TEST_F(DevicePadThreads, EventsFromWorkerThreadsChangeWidgetsOnlyOnTheGuiThread) {
    CZtVerovePadWrapper* wrapper = m_device->GetPadWrapper();
    CZtVeroveLaserLine* line = m_pad->LaserSection().Find(0)->widget;
    const QString statusBefore = Ui().m_pLabelStatus->text();
    std::thread worker([&] {
        SetAreas(TwoGroups(), false);
        m_device->SetDisableMode(ZtDisableAcquisition);
        m_device->SetLinePower(0, 3, 44.0);
        m_device->RefreshPad();
        const std::uint32_t ids[] = {kLaunch, kShutter};
        wrapper->DeviceChanged(ids, 2);
        wrapper->DMRefresh();
        wrapper->CameraNewParams();
        wrapper->StimulationState();
        wrapper->Durations();
        wrapper->ActivePattern(1);
    });
    worker.join();
    // Nothing has reached the widgets yet.
    EXPECT_TRUE(Ui().m_pComboPattern->isEnabled());
    EXPECT_DOUBLE_EQ(line->GetLinePower(ZtStimGroupDirect), 10.0);
    EXPECT_EQ(Ui().m_pComboPattern->findText(QStringLiteral("S1")), -1);
    EXPECT_EQ(Ui().m_pLabelStatus->text(), statusBefore);

    ASSERT_TRUE(WaitFor([&] { return !Ui().m_pComboPattern->isEnabled(); }));
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(line->GetLinePower(ZtStimGroupDirect), 44.0);
    EXPECT_GE(Ui().m_pComboPattern->findText(QStringLiteral("S1")), 0);
}

TEST_F(DevicePadThreads, AStimulationOnAHostWorkThreadEndsThePadsPulse) {
    ASSERT_EQ(SetAreas(TwoGroups()), 0);
    QTest::mouseClick(Ui().m_pBtnTabStimulation, Qt::LeftButton);
    Choose(Ui().m_pComboPulseTime, QStringLiteral("Toggle"));
    QTest::mouseClick(Ui().m_pBtnPulse, Qt::LeftButton);
    ASSERT_TRUE(m_device->IsPadPulseStimulation());
    std::thread host([&] { m_device->StimulationEnd(nullptr, nullptr, 0); });
    host.join();
    EXPECT_FALSE(m_device->IsPadPulseStimulation());
    EXPECT_EQ(Ui().m_pBtnPulse->text(), QStringLiteral("Abort"));
    ASSERT_TRUE(WaitFor([&] { return Ui().m_pBtnPulse->text() == QStringLiteral("Pulse"); }));
    EXPECT_EQ(Ui().m_pLabelStatus->text(), QStringLiteral("Calibrated [Cam1 / P10]"));
}

// ---- The auto-calibration dialog stimulates through the pad
// ---------------------------------------

class PadAutocalibration : public PadMicroscope {};

TEST_F(PadAutocalibration, StimulateS1UsesThePadAndClosingTheDialogStopsIt) {
    ASSERT_EQ(SetAreas(TwoGroups()), 0);
    QTest::mouseClick(Ui().m_pBtnTabStimulation, Qt::LeftButton);
    Choose(Ui().m_pComboPulseTime, QStringLiteral("Toggle"));
    auto dialog = std::make_unique<CZtAutocalibrationDialog>(m_device.get());
    ASSERT_EQ(dialog->SetupUi(), 0);
    dialog->show();
    QCoreApplication::processEvents();
    zthost::ClearMacroRecords();

    dialog->OnButtonStimulate();
    EXPECT_TRUE(m_device->IsPadPulseStimulation());
    EXPECT_EQ(zthost::ManualShotCalls().at(0).parameter, 1);
    // S1 had no lines: it takes the direct control's (405 nm in use at 10 %, 561 nm at 30 %).
    EXPECT_TRUE(m_device->GetLineUsed(0, 0));
    EXPECT_DOUBLE_EQ(m_device->GetLinePower(0, 0), 10.0);
    EXPECT_TRUE(m_device->GetLineUsed(2, 0));
    EXPECT_FALSE(m_device->GetLineUsed(1, 0));
    QPushButton* stimulate = Button(dialog.get(), QStringLiteral("Stimulate S1 group"));
    ASSERT_NE(stimulate, nullptr);
    EXPECT_TRUE(stimulate->isChecked());

    dialog->reject();
    EXPECT_FALSE(m_device->IsPadPulseStimulation());
    EXPECT_FALSE(m_device->IsManualShotActive());
    EXPECT_EQ(zthost::ManualShotCalls().back().on, 0);
    dialog.reset();
    m_device->OnAutocalibrationEnd(false);
}

TEST_F(PadAutocalibration, ManualCalibrationsStimulateS1ThroughThePadAndShowItsState) {
    ASSERT_EQ(SetAreas(TwoGroups()), 0);
    QTest::mouseClick(Ui().m_pBtnTabStimulation, Qt::LeftButton);
    Choose(Ui().m_pComboPulseTime, QStringLiteral("Toggle"));
    auto config = std::make_unique<CZtVeroveConfig>(m_device.get(), false);
    config->SetupUi();
    config->show();
    config->OnBtnCalibrateManual();
    CZtManualCalibrationDialog* dialog = config->GetManualCalibrationDialog();
    ASSERT_NE(dialog, nullptr);
    QPushButton* stimulate = Button(dialog, QStringLiteral("Stimulate S1 Group"));
    ASSERT_NE(stimulate, nullptr);
    zthost::ClearMacroRecords();

    dialog->OnBtnStimulate();
    EXPECT_TRUE(m_device->IsPadPulseStimulation());
    EXPECT_EQ(zthost::ManualShotCalls().at(0).parameter, 1);
    EXPECT_TRUE(stimulate->isChecked());
    // The pad's "Abort" ends it, and the dialog's button follows.
    QTest::mouseClick(Ui().m_pBtnPulse, Qt::LeftButton);
    EXPECT_FALSE(m_device->IsPadPulseStimulation());
    EXPECT_FALSE(stimulate->isChecked());
    config.reset();
}
