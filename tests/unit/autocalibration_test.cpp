// Auto-calibration: the grid patterns of the sequence pool, the random square positions, the
// square on the mirrors, and the run's worker against the reference host.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cztautocalibration.h"
#include "cztautocalibrationdialog.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "shown_mirrors.h"
#include "verove_device.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_roi.h"
#include "zthost/camera_control.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

// Whether the lit mirrors are the calibration's square centred at position.
bool IsSquareAt(const SLitBox& lit, const SZtPointD& position) {
    return lit.count == 100 && lit.left + 5 == position.x && lit.top + 5 == position.y;
}

// A 1024 x 768 camera seeing the 800 x 600 mirrors at 1.2 pixels per mirror, centred.
const std::array<double, 6> kTruth = {1.2, 0.0, 32.0, 0.0, 1.2, 24.0};

}  // namespace

class Autocalibration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ResetPluginHost(m_dir));
        zthost::SetSearchFolders({CZtStringW::FromUtf8(VEROVE_FAKE_SDK_DIR).Str()});
        zthost::CameraSetup camera;
        camera.name = L"Cam1";
        ASSERT_EQ(zthost::SetCamera(camera), 0);
    }

    void TearDown() override {
        if (m_device) {
            m_device->OnAutocalibrationEnd(false);
        }
        m_ended.reset();
        m_progress.reset();
        m_receiver.reset();
        m_device.reset();
        VerovePluginState().hostContext = nullptr;
        zthost::ResetForTests();
    }

    // A device over the fake SDK's Verove III.
    CZtStimulationDeviceVerove* ConnectDevice() {
        m_device.reset(new CZtStimulationDeviceVerove());
        m_device->SetUniqueName(L"CZtStimulationDeviceVerove_0");
        EXPECT_TRUE(m_device->Connect(true, 0, 0));
        return m_device.get();
    }

    // The run's steps without the dialog's own slots: a dialog that was never set up receives
    // the worker's signals, and the test plays the user.
    void UseCamera(zthost::MirrorFrameSource source) {
        zthost::CameraSetup camera;
        camera.name = L"Cam1";
        camera.sensorWidth = 1024;
        camera.sensorHeight = 768;
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        zthost::OpticsSetup optics;
        optics.dmdToSensor = kTruth;
        ASSERT_EQ(zthost::SetOptics(optics), 0);
        zthost::SetMirrorFrameSource(std::move(source));
    }

    // A camera that sees the squares at positions 0, every, 2 every, ... and none of the others.
    void UseCameraSeeingEvery(const std::vector<SZtPointD>& positions, size_t every) {
        UseCamera([&positions, every] {
            const SLitBox lit = LitMirrors(fake_atcore::ShownFrame());
            bool listed = false;
            for (size_t i = 0; i < positions.size(); i += every) {
                listed = listed || IsSquareAt(lit, positions[i]);
            }
            return listed ? ShownMirrors() : zthost::MirrorFrame{};
        });
    }

    // Init and Run; then waits for the worker's run-ended signal. Its result, or 1 when none came.
    int RunUntilEnded() {
        CZtStimulationDeviceVerove* device = m_device.get();
        m_receiver = std::make_unique<CZtAutocalibrationDialog>(device);
        device->SetAutocalibrationDialog(m_receiver.get());
        m_ended = std::make_unique<QSignalSpy>(
            m_receiver.get(), &CZtAutocalibrationDialog::NotifyCalibrationRunEnded);
        m_progress = std::make_unique<QSignalSpy>(m_receiver.get(),
                                                  &CZtAutocalibrationDialog::NotifyProgress);
        EXPECT_EQ(device->OnAutocalibrationInit(), 0);
        EXPECT_EQ(device->AutocalibrationRun(), 0);
        if (m_ended->count() == 0 && !m_ended->wait(1200000)) {
            return 1;
        }
        return m_ended->at(0).at(0).toInt();
    }

    // The DMD mirror the first two rows of the truth take to the sensor.
    static std::array<double, 2> Truth(const SZtPointD& dmd) {
        return {kTruth[0] * dmd.x + kTruth[1] * dmd.y + kTruth[2],
                kTruth[3] * dmd.x + kTruth[4] * dmd.y + kTruth[5]};
    }

    QTemporaryDir m_dir;
    DevicePtr m_device;
    std::unique_ptr<CZtAutocalibrationDialog> m_receiver;
    std::unique_ptr<QSignalSpy> m_ended;
    std::unique_ptr<QSignalSpy> m_progress;
};

// ---- Grid patterns of the sequence pool ----------------------------------------------------

TEST_F(Autocalibration, GridPatternsJoinTheSequencePoolRowByRowNumberedFrom10000) {
    CZtStimulationDeviceVerove* device = ConnectDevice();
    ASSERT_EQ(device->GenerateGridAppendToISPool(3, 2), 0);
    ASSERT_EQ(device->GetSequencePoolSize(), 6);
    const wchar_t* const names[] = {L"Grid (1/3, 1/2)", L"Grid (2/3, 1/2)", L"Grid (3/3, 1/2)",
                                    L"Grid (1/3, 2/2)", L"Grid (2/3, 2/2)", L"Grid (3/3, 2/2)"};
    for (int i = 0; i < 6; ++i) {
        CZtStringW name;
        ASSERT_EQ(device->GetPatternName(10000u + static_cast<ZT_DWORD>(i), &name), 0);
        EXPECT_EQ(name, names[i]);
    }
    // A second grid numbers on from the pool's size; the device's own patterns stay.
    ASSERT_EQ(device->GenerateGridAppendToISPool(1, 1), 0);
    CZtStringW name;
    ASSERT_EQ(device->GetPatternName(10006, &name), 0);
    EXPECT_EQ(name, L"Grid (1/1, 1/1)");
    ZT_DWORD count = 0;
    ASSERT_EQ(device->GetPatternCount(&count), 0);
    EXPECT_EQ(count, 6u);
}

TEST_F(Autocalibration, GridPatternsWithoutADriverAreRefused) {
    m_device.reset(new CZtStimulationDeviceVerove());
    EXPECT_EQ(m_device->GenerateGridAppendToISPool(2, 2), 21);
}

// ---- Random positions ----------------------------------------------------------------------

// Squares are placed 10 mirrors from the border and from each other, as many as fit; a DMD
// narrower than 20 mirrors has no place for one.
TEST_F(Autocalibration, RandomPositionsKeepTheirDistanceFromTheBorderAndEachOther) {
    struct SCase {
        int width, height;
        unsigned seed;
        std::size_t least, most;
    };
    for (const SCase& c :
         {SCase{800, 600, 7, 138, 138}, SCase{30, 30, 3, 1, 4}, SCase{16, 600, 1, 0, 0},
          SCase{800, 19, 1, 0, 0}, SCase{0, 0, 1, 0, 0}}) {
        std::srand(c.seed);
        const std::vector<SZtPointD> points =
            CZtAutocalibration::RandomPositions(c.width, c.height);
        EXPECT_GE(points.size(), c.least) << c.width << " x " << c.height;
        EXPECT_LE(points.size(), c.most) << c.width << " x " << c.height;
        for (size_t i = 0; i < points.size(); ++i) {
            EXPECT_GE(points[i].x, 10.0);
            EXPECT_LE(points[i].x, c.width - 10.0);
            EXPECT_GE(points[i].y, 10.0);
            EXPECT_LE(points[i].y, c.height - 10.0);
            for (size_t j = 0; j < i; ++j) {
                EXPECT_GE(std::hypot(points[i].x - points[j].x, points[i].y - points[j].y), 10.0);
            }
        }
    }
}

// ---- The square on the mirrors -------------------------------------------------------------

TEST_F(Autocalibration, SquareLightsTenByTenMirrorsAroundThePointRoundedAwayFromZero) {
    CZtStimulationDeviceVerove* device = ConnectDevice();
    CZtVeroveDriver* driver = device->GetDriver();
    fake_atcore::ClearCalls();
    ASSERT_EQ(CZtAutocalibration::ShowSquare(driver, 800, 600, {100.5, 40.0}), 0);
    const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    EXPECT_TRUE(shown.exposing);
    const SLitBox lit = LitMirrors(shown);
    // 95.5 and 105.5 round up to 96 and 106.
    EXPECT_EQ(lit.left, 96);
    EXPECT_EQ(lit.right, 106);
    EXPECT_EQ(lit.top, 35);
    EXPECT_EQ(lit.bottom, 45);
    EXPECT_EQ(lit.count, 100);

    // The exposure that showed "Full OFF" is stopped, the frame uploaded, then exposed.
    std::vector<std::wstring> commands;
    for (const fake_atcore::CallRecord& call : fake_atcore::Calls()) {
        if (call.function == "AT_Command") {
            commands.push_back(call.feature);
        }
    }
    EXPECT_EQ(commands, (std::vector<std::wstring>{L"Abort", L"Expose"}));

    // At the edge the square is clipped to the mirrors.
    ASSERT_EQ(CZtAutocalibration::ShowSquare(driver, 800, 600, {2.0, 598.0}), 0);
    const SLitBox edge = LitMirrors(fake_atcore::ShownFrame());
    EXPECT_EQ(std::vector<int>({edge.left, edge.right, edge.top, edge.bottom}),
              std::vector<int>({0, 7, 593, 600}));
}

// ---- The worker ----------------------------------------------------------------------------

TEST_F(Autocalibration, CollectionStopsAtThirtyPairsEachPairedWithTheFrameOfItsSquare) {
    UseCamera(ShownMirrors);
    ConnectDevice();
    std::srand(11);
    const std::vector<SZtPointD> positions = CZtAutocalibration::RandomPositions(800, 600);
    std::srand(11);
    ASSERT_EQ(RunUntilEnded(), 0);
    CZtAutocalibration& run = m_device->GetAutocalibration();
    const std::vector<SZtPointD>& dmd = run.GetDmdPoints();
    const std::vector<SZtPointD>& camera = run.GetCameraPoints();
    ASSERT_EQ(dmd.size(), 30u);
    ASSERT_EQ(camera.size(), 30u);
    for (size_t i = 0; i < dmd.size(); ++i) {
        EXPECT_EQ(dmd[i].x, positions[i].x);
        EXPECT_EQ(dmd[i].y, positions[i].y);
        const auto expected = Truth(dmd[i]);
        EXPECT_NEAR(camera[i].x, expected[0], 0.5) << "pair " << i;
        EXPECT_NEAR(camera[i].y, expected[1], 0.5) << "pair " << i;
    }
    EXPECT_EQ(m_device->GetAutocalibrationProgress(), 90.0);
    EXPECT_EQ(m_progress->count(), 30);
    // The fit on its own pairs, in camera pixels: the squares' centres are found to a fraction
    // of a pixel.
    const SZtCalibrationFit& fit = run.GetFit();
    EXPECT_EQ(fit.pairs, 30u);
    EXPECT_GT(fit.rms, 0.0);
    EXPECT_LT(fit.max, 0.5);
    EXPECT_FALSE(fit.IsHigh());
    // The calibration document shows the last frame with its detected point.
    const std::vector<zthost::DocumentInfo> documents = zthost::Documents();
    const auto current = std::find_if(documents.begin(), documents.end(),
                                      [](const zthost::DocumentInfo& d) { return d.current; });
    ASSERT_NE(current, documents.end());
    EXPECT_FALSE(current->live);
    ASSERT_EQ(current->rois.GetCount(), 1);
    const CZtRoiObject* point = current->rois.GetAt(0);
    EXPECT_EQ(point->GetGeometry(), (std::vector<double>{camera.back().x, camera.back().y}));
    EXPECT_FALSE(zthost::GuiEnabled());

    EXPECT_EQ(m_device->OnAutocalibrationValidationPhase(), 0);
    EXPECT_TRUE(MirrorsDark());
    EXPECT_TRUE(zthost::GuiEnabled());
    EXPECT_TRUE(ZT_IsLive());
    EXPECT_FALSE(run.IsRegistered());
}

// The camera sees one square in ten (the DMD field mostly outside its image): the run fits the
// squares it found and warns that they are fewer than it asks for.
TEST_F(Autocalibration, FewSquaresFoundAreFittedWithAWarning) {
    std::srand(5);
    const std::vector<SZtPointD> positions = CZtAutocalibration::RandomPositions(800, 600);
    UseCameraSeeingEvery(positions, 10);
    ConnectDevice();
    std::srand(5);
    ASSERT_EQ(RunUntilEnded(), 0);
    // Squares 0, 10, ..., 130 of the 137 shown.
    EXPECT_EQ(m_device->GetAutocalibration().GetDmdPoints().size(), 14u);
    EXPECT_EQ(m_device->GetAutocalibration().GetFit().pairs, 14u);
    const std::wstring prefix = L"Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: ";
    EXPECT_TRUE(
        zthost::LogContains(prefix + L"Warning: only 14 of the 30 squares asked were found"));
}

// One square seen 8 mirrors away from where it was shown: no affine map explains it, and the
// fit's residual on its own pairs says so.
TEST_F(Autocalibration, ASquareSeenOffItsPlaceGivesAHighResidualWarning) {
    std::srand(5);
    const std::vector<SZtPointD> positions = CZtAutocalibration::RandomPositions(800, 600);
    UseCamera([&positions] {
        zthost::MirrorFrame frame = ShownMirrors();
        const SLitBox lit = LitMirrors(fake_atcore::ShownFrame());
        if (IsSquareAt(lit, positions[3]) && lit.right + 8 <= frame.width) {
            std::rotate(frame.levels.begin(), frame.levels.end() - 8, frame.levels.end());
        }
        return frame;
    });
    ConnectDevice();
    std::srand(5);
    ASSERT_EQ(RunUntilEnded(), 0);
    const SZtCalibrationFit& fit = m_device->GetAutocalibration().GetFit();
    EXPECT_EQ(fit.pairs, 30u);
    EXPECT_TRUE(fit.IsHigh());
    // 8 mirrors of 1.2 pixels: the odd pair stays far off the fit the other 29 hold.
    EXPECT_GT(fit.max, 5.0);
}

TEST_F(Autocalibration, WorkerWithoutADriverStopsAtOnceAndWaitsToBeEnded) {
    UseCamera(ShownMirrors);
    CZtStimulationDeviceVerove* device = ConnectDevice();
    m_receiver = std::make_unique<CZtAutocalibrationDialog>(device);
    device->SetAutocalibrationDialog(m_receiver.get());
    QSignalSpy ended(m_receiver.get(), &CZtAutocalibrationDialog::NotifyCalibrationRunEnded);
    ASSERT_EQ(device->OnAutocalibrationInit(), 0);
    ASSERT_TRUE(device->Connect(false, 0, -1));
    ASSERT_EQ(device->AutocalibrationRun(), 0);
    const std::wstring line =
        L"Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: Autocalibration aborted "
        L"due to invalid device / driver pointer.";
    for (int i = 0; i < 2000 && !zthost::LogContains(line); ++i) {
        QThread::msleep(5);
    }
    EXPECT_TRUE(zthost::LogContains(line));
    EXPECT_TRUE(device->GetAutocalibration().IsRegistered());
    device->OnAutocalibrationEnd(false);
    EXPECT_FALSE(device->GetAutocalibration().IsRegistered());
    EXPECT_EQ(device->GetAutocalibration().GetResult(), -9);
    QCoreApplication::processEvents();
    EXPECT_EQ(ended.count(), 0);
}

TEST_F(Autocalibration, EndedWithoutADialogTheDeviceFollowsTheOpticalConfigurationAgain) {
    UseCamera(ShownMirrors);
    CZtStimulationDeviceVerove* device = ConnectDevice();
    ASSERT_EQ(device->OnAutocalibrationInit(), 0);
    ASSERT_EQ(device->AutocalibrationRun(), 0);
    bool changed = true;
    EXPECT_EQ(device->CheckConfigurationDataAndUpdateCalibration(&changed), -9);
    EXPECT_EQ(device->OnAutocalibrationEnd(false), 0);
    EXPECT_FALSE(device->IsCalibrationInProgress());
    EXPECT_EQ(device->CheckConfigurationDataAndUpdateCalibration(&changed), 0);
}
