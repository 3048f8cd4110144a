// The configuration dialog's calibration section: the tree built from the settings file the
// device wrote, and a manual calibration opened from it and played as a user plays it.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <array>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "calibration_microscope.h"
#include "calibration_truth.h"
#include "cztcalibrationtreeinnerwidget.h"
#include "cztcalibrationtreewidget.h"
#include "cztdmdpreviewcontrol.h"
#include "cztmanualcalibrationdialog.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztveroveconfig.h"
#include "cztverovedriver.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "shown_mirrors.h"
#include "verove_sample_analysis.h"
#include "widget_find.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_devices.h"
#include "zt/zt_document.h"
#include "zthost/camera_control.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

static void InitResources() {
    Q_INIT_RESOURCE(q9_plugin_verove);
}

namespace {

constexpr ZT_DWORD kTurret1 = 12;
constexpr ZT_DWORD kTurret2 = 13;

// One top-level item of the tree: its title, whether it is bold, its rows with their match.
struct SItem {
    std::string title;
    bool bold = false;
    std::vector<std::pair<std::string, bool>> rows;
};

std::vector<SItem> Items(QTreeWidget* tree) {
    std::vector<SItem> items;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = tree->topLevelItem(i);
        SItem item{top->text(0).toStdString(), top->font(0).weight() == 75, {}};
        for (int r = 0; r < top->childCount(); ++r) {
            auto* label =
                qobject_cast<CZtCalibrationTreeInnerWidget*>(tree->itemWidget(top->child(r), 0));
            if (label) {
                item.rows.emplace_back(label->text().toStdString(), label->IsMatching());
            }
        }
        items.push_back(item);
    }
    return items;
}

// The stimulation point ROIs of group 0 in the current document.
std::vector<CZtRoiObject> CalibrationPoints() {
    std::vector<CZtRoiObject> points;
    IZtDocument* current = ZT_GetCurrentDocument();
    if (!current) {
        return points;
    }
    CZtRoiObjectList rois;
    current->GetRois(&rois);
    current->Release();
    for (const CZtRoiObject& roi : rois) {
        if (roi.GetStimulation() && roi.GetType() == ZT_ROITYPE_POINT) {
            points.push_back(roi);
        }
    }
    return points;
}

}  // namespace

class VeroveConfig : public CalibrationMicroscope {
protected:
    void SetUp() override {
        InitResources();
        CalibrationMicroscope::SetUp();
    }

    void TearDown() override {
        m_config.reset();
        CalibrationMicroscope::TearDown();
    }

    void AddDevice(ZT_DWORD id, int type, const wchar_t* key, std::vector<std::wstring> names) {
        zthost::LogicalDeviceSetup device;
        device.id = id;
        device.type = type;
        device.key = key;
        device.positionNames = std::move(names);
        ASSERT_EQ(zthost::AddLogicalDevice(device), 0);
    }

    // Stores a calibration for the configuration the device sees now, as a calibration does.
    void StoreCalibration() {
        const CZtMatrix3 identity = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        ASSERT_EQ(m_device->GetDriver()->SetCalibrationMatrices(identity, identity), 0);
    }

    CZtVeroveConfig* OpenConfig() {
        m_config = std::make_unique<CZtVeroveConfig>(m_device.get(), false);
        m_config->SetupUi();
        m_config->show();
        return m_config.get();
    }

    std::unique_ptr<CZtVeroveConfig> m_config;
};

TEST_F(VeroveConfig, TreeListsTheStoredCalibrationsWithTheCurrentOneInBold) {
    SetUpMicroscope(zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024));
    AddDevice(kTurret1, ZT_LOGDEV_FILTERCHANGER, L"Turret1", {L"GFP", L"RFP"});
    SetPosition(kNosepiece, 0);
    StoreCalibration();
    SetPosition(kNosepiece, 1);
    StoreCalibration();
    SetPosition(kTurret1, 1);
    StoreCalibration();
    SetPosition(kTurret1, 0);

    CZtVeroveConfig* config = OpenConfig();
    const std::vector<SItem> items = Items(config->GetCalibrationTree());
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[2].title, "Calibration 3");
    EXPECT_FALSE(items[0].bold);
    EXPECT_TRUE(items[1].bold);
    EXPECT_FALSE(items[2].bold);
    for (const auto& row : items[1].rows) {
        EXPECT_TRUE(row.second) << row.first;
    }
    // The settings file keeps the newest calibration first: the first differs in its filter,
    // the last in its objective.
    EXPECT_EQ(items[0].rows.back(), std::make_pair(std::string("Turret1: RFP, Position 2"), false));
    EXPECT_EQ(items[2].rows[2], std::make_pair(std::string("Objective: P10"), false));

    // Clearing empties the file and the tree.
    EXPECT_EQ(config->OnBtnCalibrationsClear(), 0);
    EXPECT_EQ(config->GetCalibrationTree()->topLevelItemCount(), 0);
}

TEST_F(VeroveConfig, AChangerTheStoredKeyLacksIsAMissingRow) {
    SetUpMicroscope(zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024));
    AddDevice(kTurret1, ZT_LOGDEV_FILTERCHANGER, L"Turret1", {L"GFP", L"RFP"});
    SetPosition(kTurret1, 0);
    StoreCalibration();
    AddDevice(kTurret2, ZT_LOGDEV_FILTERCHANGER, L"Turret2", {L"Em1", L"Em2"});
    SetPosition(kTurret2, 0);

    const std::vector<SItem> items = Items(OpenConfig()->GetCalibrationTree());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_FALSE(items[0].bold);
    const std::vector<std::pair<std::string, bool>> expected = {
        {"Camera: Cam1", true},
        {"Camera Rotation: 0.00°", true},
        {"Objective: P10", true},
        {"TRAX Port: TRAX Not connected", true},
        {"Turret1: GFP, Position 1", true},
        {"Turret2: Missing", false}};
    EXPECT_EQ(items[0].rows, expected);
}

// The whole manual calibration from the configuration dialog: six squares lit by clicks on the
// preview, each found in the camera's frame and the red cross moved onto it, Next, OK.
TEST_F(VeroveConfig, ManualCalibrationPlayedByHandStoresTheTrueMapping) {
    const std::array<double, 6> truth = zthost::DmdToSensor(2.2, 5.0, false, 400, 300, 1010, 1030);
    CZtStimulationDeviceVerove* device = SetUpMicroscope(truth);
    CZtVeroveConfig* config = OpenConfig();
    ASSERT_EQ(config->GetCalibrationTree()->topLevelItemCount(), 0);
    QTest::mouseClick(Button(config, QStringLiteral("Manual Calibration")), Qt::LeftButton);
    CZtManualCalibrationDialog* dialog = config->GetManualCalibrationDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(Button(config, QStringLiteral("Manual Calibration"))->isEnabled());
    QPushButton* next = Button(dialog, QStringLiteral("Next"));
    QPushButton* add = Button(dialog, QStringLiteral("+"));
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_FALSE(next->isEnabled());

    // Two crosses left over from before: both go, one new one comes.
    IZtDocument* live = ZT_GetCurrentDocument();
    ASSERT_NE(live, nullptr);
    for (double x : {100.0, 200.0}) {
        CZtRoiObject stray(ZT_ROITYPE_POINT, {x, x});
        stray.SetStimulation(true);
        live->AddRoi(&stray);
    }
    live->Release();

    CZtDMDPreviewControl* preview = dialog->GetPreview();
    const std::vector<QPoint> clicks = {{25, 22},  {175, 28},  {100, 75},
                                        {30, 130}, {170, 125}, {65, 102}};
    CZtSpotDetector eye;
    for (const QPoint& click : clicks) {
        QTest::mouseClick(preview, Qt::LeftButton, {}, click + QPoint(1, 1));
        const std::vector<CZtRoiObject> points = CalibrationPoints();
        ASSERT_EQ(points.size(), 1u);
        EXPECT_GT(points[0].GetId(), 2u) << "the strays are gone";
        CZtGrabberSample sample;
        ASSERT_EQ(sample.Capture(), 0);
        SZtPointD spot;
        ASSERT_EQ(eye.DetectSpot(&sample.GetPicture(), &spot), 0);
        IZtDocument* current = ZT_GetCurrentDocument();
        ASSERT_EQ(current->MoveRoi(points[0].GetId(), spot.x + 0.5, spot.y + 0.5), 0);
        current->Release();
        ASSERT_TRUE(add->isEnabled());
        QTest::mouseClick(add, Qt::LeftButton);
    }
    EXPECT_EQ(dialog->GetAcquiredPointCount(), 6);
    // A click the preview cannot take, off the DMD, lights nothing new.
    const std::vector<std::uint8_t> shown = fake_atcore::ShownFrame().levels;
    dialog->OnCurrentDMDRectHasChanged(900, 10);
    EXPECT_EQ(fake_atcore::ShownFrame().levels, shown);

    ASSERT_TRUE(next->isEnabled());
    QTest::mouseClick(next, Qt::LeftButton);
    // Applied for the verification, stored only with OK.
    CZtCalibrationData* calibration = device->GetCalibrationData();
    EXPECT_LT(Deviation(calibration->GetCalibrationDMDToCam(), truth).max, 0.3);
    std::wstring key = calibration->GetCurrentConfigurationString();
    EXPECT_NE(calibration->FindCalibration(&key), 0);
    QTest::mouseClick(Button(dialog, QStringLiteral("OK")), Qt::LeftButton);
    key = calibration->GetCurrentConfigurationString();
    ASSERT_EQ(calibration->FindCalibration(&key), 0);
    const SDeviation stored = Deviation(calibration->GetCalibrationDMDToCam(), truth);
    std::cout << "manual calibration by hand: deviation over the DMD field rms " << stored.rms
              << " px, max " << stored.max << " px" << std::endl;
    EXPECT_LT(stored.max, 0.3);
    EXPECT_EQ(device->GetCalibrationMode(), 0);
    EXPECT_TRUE(Items(config->GetCalibrationTree()).at(0).bold);
}

TEST_F(VeroveConfig, AManualCalibrationCancelledOrCutByADisconnectBringsThePreviousOneBack) {
    // The same validated, unsaved calibration ended two ways: the user's Cancel, and the device
    // disconnecting, which also closes the configuration dialog.
    const std::array<double, 6> truth = zthost::DmdToSensor(2.0, 0.0, false, 400, 300, 1024, 1024);
    CZtStimulationDeviceVerove* device = SetUpMicroscope(truth);
    for (const bool disconnect : {false, true}) {
        SCOPED_TRACE(disconnect ? "disconnect" : "Cancel");
        StoreCalibration();
        CZtCalibrationData* calibration = device->GetCalibrationData();
        const CZtMatrix3 before = calibration->GetCalibrationDMDToCam();
        CZtVeroveConfig* config = OpenConfig();
        QTest::mouseClick(Button(config, QStringLiteral("Manual Calibration")), Qt::LeftButton);
        CZtManualCalibrationDialog* dialog = config->GetManualCalibrationDialog();
        ASSERT_NE(dialog, nullptr);
        // Three pairs far from the identity, validated: applied unsaved.
        for (const SZtPointD& dmd : std::vector<SZtPointD>{{100, 100}, {700, 100}, {400, 500}}) {
            device->AddManualCalibrationPair(dmd.x, dmd.y, 2 * dmd.x + 100, 2 * dmd.y + 50);
        }
        QTest::mouseClick(Button(dialog, QStringLiteral("Next")), Qt::LeftButton);
        dialog->OnBtnNext();
        ASSERT_NE(calibration->GetCalibrationDMDToCam(), before);
        if (disconnect) {
            EXPECT_TRUE(device->Connect(false, 0, 0));
            EXPECT_FALSE(config->isVisible());
        } else {
            QTest::mouseClick(Button(dialog, QStringLiteral("Cancel")), Qt::LeftButton);
        }
        EXPECT_EQ(calibration->GetCalibrationDMDToCam(), before);
        EXPECT_EQ(device->GetCalibrationMode(), 0);
        EXPECT_EQ(config->GetManualCalibrationDialog(), nullptr);
        m_config.reset();
    }
}
