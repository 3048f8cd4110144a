// Auto-calibration: the grid patterns of the sequence pool, the random square positions, the
// square on the mirrors, and the run's worker against the reference host.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cztautocalibration.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "fake_atcore_control.h"
#include "zthost/microscope.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

struct ReleaseDevice {
    void operator()(CZtStimulationDeviceVerove* device) const { device->Release(); }
};
using DevicePtr = std::unique_ptr<CZtStimulationDeviceVerove, ReleaseDevice>;

// The lit mirrors of a shown frame as a bounding box; all -1 when none is lit.
struct SLit {
    int left = -1;
    int top = -1;
    int right = -1;  // exclusive
    int bottom = -1;
    int count = 0;
};

SLit LitMirrors(const fake_atcore::MirrorFrame& frame) {
    SLit lit;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            if (frame.levels[static_cast<size_t>(y * frame.width + x)] == 0) {
                continue;
            }
            if (lit.count++ == 0) {
                lit = {x, y, x + 1, y + 1, 1};
            }
            lit.left = std::min(lit.left, x);
            lit.top = std::min(lit.top, y);
            lit.right = std::max(lit.right, x + 1);
            lit.bottom = std::max(lit.bottom, y + 1);
        }
    }
    return lit;
}

}  // namespace

class Autocalibration : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        fake_atcore::Reset();
        ASSERT_TRUE(m_dir.isValid());
        zthost::SetSettingsLocation(m_dir.path().toStdWString());
        zthost::SetSearchFolders({CZtStringW::FromUtf8(VEROVE_FAKE_SDK_DIR).Str()});
        VerovePluginState().hostContext = zthost::HostContext();
        zthost::CameraSetup camera;
        camera.name = L"Cam1";
        ASSERT_EQ(zthost::SetCamera(camera), 0);
    }

    void TearDown() override {
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

    QTemporaryDir m_dir;
    DevicePtr m_device;
};

// ---- Grid patterns of the sequence pool ----------------------------------------------------

TEST_F(Autocalibration, GridPatternsLightOneCellEachRowByRowAndNumberFrom10000) {
    CZtStimulationDeviceVerove* device = ConnectDevice();
    ASSERT_EQ(device->GenerateGridAppendToISPool(3, 2), 0);
    CZtVeroveDriver* driver = device->GetDriver();
    CZtLock lock(driver->GetBufferLock());
    CZtPatternStore& pool = driver->GetSequencePatterns();
    ASSERT_EQ(pool.Count(), 6);
    const wchar_t* const names[] = {L"Grid (1/3, 1/2)", L"Grid (2/3, 1/2)", L"Grid (3/3, 1/2)",
                                    L"Grid (1/3, 2/2)", L"Grid (2/3, 2/2)", L"Grid (3/3, 2/2)"};
    for (int i = 0; i < 6; ++i) {
        const CZtPattern* pattern = pool.GetAt(i);
        EXPECT_EQ(pattern->GetName(), names[i]);
        EXPECT_EQ(pattern->GetId(), 10000u + static_cast<unsigned>(i));
        EXPECT_EQ(pattern->GetMapping(), 0u);
        EXPECT_EQ(pattern->GetKind(), 2u);
        // 800 / 3 = 266 columns and 600 / 2 = 300 rows per cell.
        const SZtPicBuf& bitmap = pattern->GetBitmapPicture();
        ASSERT_EQ(bitmap.width, 800u);
        ASSERT_EQ(bitmap.height, 600u);
        const std::uint32_t left = 266u * static_cast<std::uint32_t>(i % 3);
        const std::uint32_t top = 300u * static_cast<std::uint32_t>(i / 3);
        int lit = 0;
        for (std::uint32_t y = 0; y < 600; ++y) {
            for (std::uint32_t x = 0; x < 800; ++x) {
                const bool inside = x >= left && x < left + 266 && y >= top && y < top + 300;
                const std::uint8_t value = bitmap.Row(y)[x];
                ASSERT_EQ(value, inside ? 255 : 0) << names[i] << " at " << x << ", " << y;
                lit += value != 0;
            }
        }
        EXPECT_EQ(lit, 266 * 300);
    }
}

TEST_F(Autocalibration, GridPatternsOfASecondCallNumberOnFromThePoolSize) {
    CZtStimulationDeviceVerove* device = ConnectDevice();
    ASSERT_EQ(device->GenerateGridAppendToISPool(2, 1), 0);
    ASSERT_EQ(device->GenerateGridAppendToISPool(1, 1), 0);
    CZtVeroveDriver* driver = device->GetDriver();
    CZtLock lock(driver->GetBufferLock());
    CZtPatternStore& pool = driver->GetSequencePatterns();
    ASSERT_EQ(pool.Count(), 3);
    EXPECT_EQ(pool.GetAt(2)->GetId(), 10002u);
    EXPECT_EQ(pool.GetAt(2)->GetName(), L"Grid (1/1, 1/1)");
    // The device's own store is untouched.
    EXPECT_EQ(driver->GetPatterns().Count(), 6);
}

TEST_F(Autocalibration, GridPatternsWithoutADriverAreRefused) {
    m_device.reset(new CZtStimulationDeviceVerove());
    EXPECT_EQ(m_device->GenerateGridAppendToISPool(2, 2), 21);
    EXPECT_TRUE(zthost::LogContains(
        L"Verove CZtStimulationDeviceVerove::GenerateGridAppendToISPool: Aborting, no device "
        L"driver loaded..."));
}

// ---- Random positions ----------------------------------------------------------------------

TEST_F(Autocalibration, RandomPositionsKeepTheirDistanceFromTheBorderAndEachOther) {
    std::srand(7);
    const std::vector<SZtPoint2D> points = CZtAutocalibration::RandomPositions(800, 600);
    EXPECT_EQ(points.size(), 138u);
    for (size_t i = 0; i < points.size(); ++i) {
        EXPECT_GE(points[i].x, 10.0);
        EXPECT_LE(points[i].x, 790.0);
        EXPECT_GE(points[i].y, 10.0);
        EXPECT_LE(points[i].y, 590.0);
        for (size_t j = 0; j < i; ++j) {
            EXPECT_GE(std::hypot(points[i].x - points[j].x, points[i].y - points[j].y), 10.0);
        }
    }
}

TEST_F(Autocalibration, RandomPositionsOnASmallDmdStopWhenNoPlaceIsLeft) {
    // 11 x 11 possible centres 10 mirrors apart at most: a few points, all of them valid.
    std::srand(3);
    const std::vector<SZtPoint2D> points = CZtAutocalibration::RandomPositions(30, 30);
    EXPECT_GE(points.size(), 1u);
    EXPECT_LE(points.size(), 4u);
    for (const SZtPoint2D& p : points) {
        EXPECT_GE(p.x, 10.0);
        EXPECT_LE(p.x, 20.0);
    }
}

TEST_F(Autocalibration, RandomPositionsOnADmdNarrowerThan20MirrorsAreNone) {
    std::srand(1);
    EXPECT_TRUE(CZtAutocalibration::RandomPositions(16, 600).empty());
    EXPECT_TRUE(CZtAutocalibration::RandomPositions(800, 19).empty());
    EXPECT_TRUE(CZtAutocalibration::RandomPositions(0, 0).empty());
}

// ---- The square on the mirrors -------------------------------------------------------------

TEST_F(Autocalibration, SquareLightsTenByTenMirrorsAroundThePointRoundedAwayFromZero) {
    CZtStimulationDeviceVerove* device = ConnectDevice();
    CZtVeroveDriver* driver = device->GetDriver();
    fake_atcore::ClearCalls();
    ASSERT_EQ(CZtAutocalibration::ShowSquare(driver, 800, 600, {100.5, 40.0}), 0);
    const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    EXPECT_TRUE(shown.exposing);
    const SLit lit = LitMirrors(shown);
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
}

TEST_F(Autocalibration, SquareAtTheEdgeIsClippedToTheMirrors) {
    CZtStimulationDeviceVerove* device = ConnectDevice();
    ASSERT_EQ(CZtAutocalibration::ShowSquare(device->GetDriver(), 800, 600, {2.0, 598.0}), 0);
    const SLit lit = LitMirrors(fake_atcore::ShownFrame());
    EXPECT_EQ(lit.left, 0);
    EXPECT_EQ(lit.right, 7);
    EXPECT_EQ(lit.top, 593);
    EXPECT_EQ(lit.bottom, 600);
}
