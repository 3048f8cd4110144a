// The auto-calibration dialog driven the way a user does: its pages, Next, the run's progress,
// the verification step, OK and Cancel, and what the device and the host show afterwards.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "cztautocalibrationdialog.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "fake_atcore_control.h"
#include "zt/zt_util.h"
#include "zthost/microscope.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

// The plug-in's resources (style sheets) live in the statically linked core.
static void InitResources() {
    Q_INIT_RESOURCE(q9_plugin_verove);
}

namespace {

struct ReleaseDevice {
    void operator()(CZtStimulationDeviceVerove* device) const { device->Release(); }
};
using DevicePtr = std::unique_ptr<CZtStimulationDeviceVerove, ReleaseDevice>;

QPushButton* Button(QWidget* dialog, const QString& text) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

QStringList Texts(QWidget* dialog) {
    QStringList texts;
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            texts << label->text();
        }
    }
    return texts;
}

}  // namespace

class AutocalibrationDialog : public ::testing::Test {
protected:
    void SetUp() override {
        InitResources();
        zthost::ResetForTests();
        fake_atcore::Reset();
        ASSERT_TRUE(m_dir.isValid());
        zthost::SetSettingsLocation(m_dir.path().toStdWString());
        zthost::SetSearchFolders({CZtStringW::FromUtf8(VEROVE_FAKE_SDK_DIR).Str()});
        VerovePluginState().hostContext = zthost::HostContext();
    }

    void TearDown() override {
        m_dialog.reset();
        m_device.reset();
        VerovePluginState().hostContext = nullptr;
        zthost::ResetForTests();
    }

    CZtStimulationDeviceVerove* ConnectDevice() {
        m_device.reset(new CZtStimulationDeviceVerove());
        m_device->SetUniqueName(L"CZtStimulationDeviceVerove_0");
        EXPECT_TRUE(m_device->Connect(true, 0, 0));
        return m_device.get();
    }

    QTemporaryDir m_dir;
    DevicePtr m_device;
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
    EXPECT_TRUE(
        zthost::LogContains(L"Verove CZtAutocalibrationDialog::SetupUi: Autocalibration "
                            L"failed, Stimulation Device pointer not set."));
    EXPECT_EQ(rejected.count(), 1);
}

TEST_F(AutocalibrationDialog, WithoutACameraTheCalibrationFailsWithAMessage) {
    CZtStimulationDeviceVerove* device = ConnectDevice();
    zthost::SetGrabberPresent(false);
    m_dialog = std::make_unique<CZtAutocalibrationDialog>(device);
    EXPECT_EQ(m_dialog->SetupUi(), -9);
    ASSERT_EQ(zthost::MessageBoxes().size(), 1u);
    EXPECT_EQ(zthost::MessageBoxes()[0].title, L"Error");
    EXPECT_EQ(zthost::MessageBoxes()[0].text, L"Calibration failed: no camera connected!");
    EXPECT_EQ(zthost::MessageBoxes()[0].icon, ZT_MB_ICONERROR);
    // The window is built all the same: the user closes it.
    EXPECT_EQ(m_dialog->windowTitle(), QStringLiteral("Autocalibration dialog"));
    EXPECT_FALSE(m_dialog->styleSheet().isEmpty());
    EXPECT_TRUE(Texts(m_dialog.get()).contains(QStringLiteral("Calibration progress")));
    ASSERT_NE(Button(m_dialog.get(), QStringLiteral("Next")), nullptr);
    EXPECT_FALSE(Button(m_dialog.get(), QStringLiteral("OK"))->isVisibleTo(m_dialog.get()));
}
