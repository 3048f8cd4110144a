// Calibration geometry as a property: for seeded combinations of sensor size, camera region,
// binning, software rotation and mirroring, set before calibration and changed after it, the
// light of a stimulation area lands on the displayed pixels where it was drawn, and the camera
// region match finds the DMD field. The truth is an affine DMD-to-sensor map and the display
// model of displaymodel.h, written apart from the host's and the plug-in's transforms.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "cztautocalibration.h"
#include "cztcalibrationdata.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "displaymodel.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "zt/zt_grabber.h"
#include "zt/zt_roi.h"
#include "zthost/camera_control.h"
#include "zthost/microscope.h"
#include "zthost/registry_store.h"
#include "zthost/zthost.h"

namespace {

constexpr const wchar_t* kName = L"CZtStimulationDeviceVerove_0";
constexpr int kMirrorsX = 800;
constexpr int kMirrorsY = 600;

struct ReleaseDevice {
    void operator()(CZtStimulationDeviceVerove* device) const { device->Release(); }
};
using DevicePtr = std::unique_ptr<CZtStimulationDeviceVerove, ReleaseDevice>;

// A camera state: the display model plus what zthost needs to show it.
struct CameraState {
    int sensorWidth = 0, sensorHeight = 0;
    bool regionOn = false;
    DisplayModel display;
};

// Mirror coordinates -> sensor: sensor = centre + scale R(angle) F (mirror - middle).
struct Optics {
    double a = 1, b = 0, c = 0, d = 0, e = 1, f = 0;

    DisplayPoint ToSensor(DisplayPoint m) const {
        return {a * m.x + b * m.y + c, d * m.x + e * m.y + f};
    }
    DisplayPoint ToMirror(DisplayPoint s) const {
        const double det = a * e - b * d;
        const double x = s.x - c, y = s.y - f;
        return {(e * x - b * y) / det, (-d * x + a * y) / det};
    }
};

struct Case {
    CameraState before, after;
    Optics optics;

    std::string Describe() const {
        std::ostringstream out;
        const auto camera = [&out](const CameraState& s) {
            out << s.sensorWidth << "x" << s.sensorHeight << " bin " << s.display.binning
                << " region ";
            if (s.regionOn) {
                out << "[" << s.display.region[0] << "," << s.display.region[1] << ","
                    << s.display.region[2] << "," << s.display.region[3] << "]";
            } else {
                out << "off";
            }
            out << " turned " << s.display.quarterTurns * 90 << (s.display.flip ? " mirrored" : "");
        };
        out << "calibrated on ";
        camera(before);
        out << "; used on ";
        camera(after);
        out << "; optics [" << optics.a << " " << optics.b << " " << optics.c << "; " << optics.d
            << " " << optics.e << " " << optics.f << "]";
        return out.str();
    }
};

class Draw {
public:
    explicit Draw(std::uint64_t seed) : m_engine(seed) {}
    double Real(double low, double high) {
        return low + (high - low) * std::generate_canonical<double, 53>(m_engine);
    }
    int Int(int low, int high) {
        return low + static_cast<int>(m_engine() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool Chance(double p) { return Real(0.0, 1.0) < p; }

private:
    std::mt19937_64 m_engine;
};

void DrawRegion(Draw* draw, CameraState* s) {
    const int b = s->display.binning;
    s->regionOn = draw->Chance(0.6);
    s->display.region = {0, 0, s->sensorWidth / b * b, s->sensorHeight / b * b};
    if (s->regionOn) {
        const int w = static_cast<int>(s->sensorWidth * draw->Real(0.4, 0.95)) / b * b;
        const int h = static_cast<int>(s->sensorHeight * draw->Real(0.4, 0.95)) / b * b;
        const int left = draw->Int(0, (s->sensorWidth - w) / b) * b;
        const int top = draw->Int(0, (s->sensorHeight - h) / b) * b;
        s->display.region = {left, top, left + w, top + h};
    }
    s->display.quarterTurns = draw->Int(0, 3);
    s->display.flip = draw->Chance(0.5);
}

Case DrawCase(std::uint64_t seed) {
    Draw draw(seed * 7919 + 3);
    Case c;
    c.before.sensorWidth = draw.Int(300, 1300) * 2;
    c.before.sensorHeight = draw.Int(250, 1100) * 2;
    c.before.display.binning = draw.Int(1, 4);
    DrawRegion(&draw, &c.before);
    c.after = c.before;
    // Half the cases change the camera after calibration: its turn, its region, or both.
    if (draw.Chance(0.5)) {
        const CameraState kept = c.after;
        DrawRegion(&draw, &c.after);
        if (draw.Chance(0.3)) {
            c.after.regionOn = kept.regionOn;
            c.after.display.region = kept.display.region;
        }
    }
    // The field's middle near the calibrated region's middle, its size a few image pixels per
    // mirror or less.
    const auto& r = c.before.display.region;
    const double scale = draw.Real(0.8, 4.0) * c.before.display.binning / 2.0 + 0.4;
    const double angle = draw.Real(0.0, 2.0 * M_PI);
    const double flip = draw.Chance(0.5) ? -1.0 : 1.0;
    const double cx = r[0] + (r[2] - r[0]) * draw.Real(0.35, 0.65);
    const double cy = r[1] + (r[3] - r[1]) * draw.Real(0.35, 0.65);
    c.optics.a = scale * std::cos(angle);
    c.optics.b = -scale * std::sin(angle) * flip;
    c.optics.d = scale * std::sin(angle);
    c.optics.e = scale * std::cos(angle) * flip;
    c.optics.c = cx - (c.optics.a * kMirrorsX / 2 + c.optics.b * kMirrorsY / 2);
    c.optics.f = cy - (c.optics.d * kMirrorsX / 2 + c.optics.e * kMirrorsY / 2);
    return c;
}

bool InsideImage(const DisplayModel& m, DisplayPoint p, double margin) {
    return p.x >= margin && p.y >= margin && p.x <= m.ImageWidth() - margin &&
           p.y <= m.ImageHeight() - margin;
}

bool InsideMirrors(DisplayPoint m, double margin) {
    return m.x >= margin && m.y >= margin && m.x <= kMirrorsX - margin && m.y <= kMirrorsY - margin;
}

class CalibrationGeometry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ResetPluginHost(m_dir));
        zthost::SetRegistryLocation(m_dir.filePath("registry.ini").toStdWString());
        zthost::SetSearchFolders({QString(VEROVE_FAKE_SDK_DIR).toStdWString()});
        zthost::CameraSetup camera;
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        zthost::OpenCameraDocument();
        m_device.reset(new CZtStimulationDeviceVerove());
        m_device->SetUniqueName(kName);
        ASSERT_TRUE(m_device->Connect(true, 0, 0));
        SZtStimulationDeviceRecord record;
        record.uniqueName = kName;
        record.device = m_device.get();
        ASSERT_EQ(CZtStimulationDeviceManager::GetInstance()->StaticDeviceAdd(record), 0);
        zthost::SetGalvoXYCount(0);
        m_device->LoadSettings();
    }

    void TearDown() override {
        if (m_device) {
            m_device->Connect(false, 0, -1);
        }
        zthost::ResetForTests();
        m_device.reset();
        VerovePluginState().hostContext = nullptr;
    }

    // The camera as the user sets it; the device hears of it as from the host's camera events.
    void UseCamera(const CameraState& s) {
        zthost::CameraSetup camera;
        camera.sensorWidth = s.sensorWidth;
        camera.sensorHeight = s.sensorHeight;
        camera.binningX = camera.binningY = s.display.binning;
        camera.rotationDegrees = s.display.quarterTurns * 90.0;
        camera.angleParams = {1.0, 0.0, 0.0, s.display.flip ? -1.0 : 1.0};
        camera.roiOn = s.regionOn;
        const auto& r = s.display.region;
        camera.roi = {r[0], r[1], r[2], r[3]};
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        zthost::NotifyCameraAngleChanged();
        m_device->HandleCameraNewParams(true);
    }

    // Pairs as the auto-calibration finds them, exact: mirrors and the displayed pixels that
    // show them, fitted and stored the way accepting a calibration stores them.
    void Calibrate(const Case& c) {
        Draw draw(17);
        std::vector<SZtPointD> dmd, camera;
        // Squares the fit keeps: a square's diagonal away from the image's border.
        const double pixelsPerMirror =
            std::sqrt(std::fabs(c.optics.a * c.optics.e - c.optics.b * c.optics.d)) /
            c.before.display.binning;
        const double margin = 16.0 * pixelsPerMirror + 2.0;
        for (int i = 0; i < 20000 && dmd.size() < 30; ++i) {
            const DisplayPoint m{draw.Real(20.0, kMirrorsX - 20.0),
                                 draw.Real(20.0, kMirrorsY - 20.0)};
            const DisplayPoint image = c.before.display.SensorToImage(c.optics.ToSensor(m));
            if (InsideImage(c.before.display, image, margin)) {
                dmd.push_back({m.x, m.y});
                camera.push_back({image.x, image.y});
            }
        }
        ASSERT_GE(dmd.size(), 10u);
        CZtMatrix3 dmdToCamera{}, cameraToDmd{};
        ASSERT_EQ(
            CZtAutocalibration::FitPairs(m_device.get(), dmd, camera, &dmdToCamera, &cameraToDmd),
            0);
        ASSERT_EQ(m_device->GetDriver()->SetCalibrationMatrices(dmdToCamera, cameraToDmd), 0);
    }

    // The S1 pattern as the mirrors show it at bit depth 1, for a rectangle of displayed pixels.
    std::vector<std::uint8_t> RenderRectangle(const DisplayModel& display, double left, double top,
                                              double size) {
        CZtRoiObject area;
        area.SetGeometry(ZT_ROITYPE_RECTANGLE,
                         {left + size / 2, top + size / 2, size / 2, size / 2});
        area.SetId(1);
        area.SetStimulation(true);
        area.SetStimulationGroup(0);
        CZtRoiObjectList areas;
        areas.Add(area);
        SZtRLEPicBuf masks;
        EXPECT_EQ(ZT_RoiListToRLE(&areas, static_cast<std::uint32_t>(display.ImageWidth()),
                                  static_cast<std::uint32_t>(display.ImageHeight()), &masks),
                  0);
        SZtGrabberFormatDesc format;
        EXPECT_EQ(zthost::HostContext()->GetGrabberProvider()->CameraSettingsGet(&format), 0);
        const SZtRect rect{0, 0, static_cast<std::int32_t>(display.ImageWidth()),
                           static_cast<std::int32_t>(display.ImageHeight())};
        EXPECT_EQ(m_device->StimulationAreaSet(&areas, &masks, nullptr, &format, &rect), 0);

        CZtVeroveDriver* driver = m_device->GetDriver();
        CZtPattern copy;
        {
            CZtLock lock(driver->GetBufferLock());
            copy = *driver->GetPatterns().FindById(3);
        }
        SZtGrabberFormatDesc current;
        EXPECT_EQ(driver->GetCurrentFormat(&current), 0);
        std::vector<std::uint8_t> frame(kMirrorsX * kMirrorsY / 8);
        EXPECT_EQ(
            copy.GetBitmap(frame.data(), 1, true, &current.value, m_device->GetCalibrationData()),
            0);
        return frame;
    }

    // "Match": the camera region becomes the part of the image the DMD field covers, as the
    // field's corner mirrors truly land on the whole sensor's image.
    void ExpectMatchFindsTheField(const Case& c) {
        const CameraState& now = c.after;
        DisplayModel whole = now.display;
        const int b = whole.binning;
        whole.region = {0, 0, now.sensorWidth, now.sensorHeight};
        double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
        for (const DisplayPoint m :
             {DisplayPoint{0, 0}, DisplayPoint{kMirrorsX - 1.0, 0},
              DisplayPoint{0, kMirrorsY - 1.0}, DisplayPoint{kMirrorsX - 1.0, kMirrorsY - 1.0}}) {
            const DisplayPoint p = whole.SensorToImage(c.optics.ToSensor(m));
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
        // The region shown now, in the whole image.
        double rl = HUGE_VAL, rt = HUGE_VAL, rr = -HUGE_VAL, rb = -HUGE_VAL;
        const auto& r = now.display.region;
        for (const DisplayPoint s :
             {DisplayPoint{double(r[0]), double(r[1])}, DisplayPoint{double(r[2]), double(r[3])}}) {
            const DisplayPoint p = whole.SensorToImage(s);
            rl = std::min(rl, p.x);
            rr = std::max(rr, p.x);
            rt = std::min(rt, p.y);
            rb = std::max(rb, p.y);
        }
        const double il = std::max({std::trunc(minX), rl, 0.0});
        const double it = std::max({std::trunc(minY), rt, 0.0});
        const double ir = std::min(std::trunc(maxX), rr);
        const double ib = std::min(std::trunc(maxY), rb);
        if (ir - il < 4 || ib - it < 4) {
            return;  // the field misses the region: the whole image is matched instead
        }
        double sl = HUGE_VAL, st = HUGE_VAL, sr = -HUGE_VAL, sb = -HUGE_VAL;
        for (const DisplayPoint p : {DisplayPoint{il, it}, DisplayPoint{ir, ib}}) {
            const DisplayPoint s = whole.ImageToSensor(p);
            sl = std::min(sl, s.x);
            sr = std::max(sr, s.x);
            st = std::min(st, s.y);
            sb = std::max(sb, s.y);
        }
        zthost::ClearCapturedLog();
        const int matched = m_device->GetDriver()->SyncCameraROI(true);
        if (matched != 0) {
            for (const std::wstring& line : zthost::CapturedLog()) {
                if (line.find(L"SyncCameraROI") != std::wstring::npos) {
                    ADD_FAILURE() << CZtStringW(line.c_str()).ToUtf8();
                }
            }
        }
        ASSERT_EQ(matched, 0);
        const zthost::CameraSetup camera = zthost::Camera();
        const SZtRect got =
            camera.roiOn ? camera.roi : SZtRect{0, 0, now.sensorWidth, now.sensorHeight};
        const double tolerance = 2.0 * b + 1.0;
        EXPECT_NEAR(got.left, sl, tolerance) << "matched region";
        EXPECT_NEAR(got.top, st, tolerance) << "matched region";
        EXPECT_NEAR(got.right, sr, tolerance) << "matched region";
        EXPECT_NEAR(got.bottom, sb, tolerance) << "matched region";
    }

    QTemporaryDir m_dir;
    DevicePtr m_device;
};

bool Lit(const std::vector<std::uint8_t>& frame, int x, int y) {
    return (frame[static_cast<size_t>(y * kMirrorsX / 8 + x / 8)] >> (7 - x % 8)) & 1;
}

// Light lands where it was drawn: a mirror is lit when, and only when, the displayed pixel it
// truly lands on (its centre through the optics and the display) lies in the drawn rectangle,
// give or take half a displayed pixel.
TEST_F(CalibrationGeometry, LightLandsOnTheDrawnPixelsInEveryCameraSetting) {
    constexpr int kCases = 200;
    constexpr double kTolerance = 0.5;
    int checked = 0;
    for (std::uint64_t seed = 1; seed <= kCases; ++seed) {
        const Case c = DrawCase(seed);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + c.Describe());
        m_device->GetCalibrationData()->ClearCalibrations();  // -13 when none is stored yet
        ASSERT_NO_FATAL_FAILURE(UseCamera(c.before));
        ASSERT_NO_FATAL_FAILURE(Calibrate(c));
        ASSERT_NO_FATAL_FAILURE(UseCamera(c.after));
        bool calibrated = false;
        ASSERT_EQ(m_device->IsCalibrated(&calibrated), 0);
        ASSERT_TRUE(calibrated);

        // A square of displayed pixels inside the image and inside the field.
        const DisplayModel& display = c.after.display;
        Draw draw(seed);
        const double size = std::round(draw.Real(8.0, 24.0));
        bool placed = false;
        double left = 0, top = 0;
        for (int i = 0; i < 500 && !placed; ++i) {
            left = std::floor(draw.Real(2.0, display.ImageWidth() - size - 2.0));
            top = std::floor(draw.Real(2.0, display.ImageHeight() - size - 2.0));
            placed = true;
            for (const DisplayPoint corner :
                 {DisplayPoint{left, top}, DisplayPoint{left + size, top},
                  DisplayPoint{left, top + size}, DisplayPoint{left + size, top + size}}) {
                placed =
                    placed && InsideMirrors(c.optics.ToMirror(display.ImageToSensor(corner)), 3.0);
            }
        }
        if (!placed) {
            continue;
        }
        ++checked;
        const std::vector<std::uint8_t> frame = RenderRectangle(display, left, top, size);
        int lit = 0, wrong = 0;
        double worst = 0.0;
        for (int y = 0; y < kMirrorsY; ++y) {
            for (int x = 0; x < kMirrorsX; ++x) {
                const DisplayPoint p = display.SensorToImage(c.optics.ToSensor({x + 0.5, y + 0.5}));
                const double outside =
                    std::max({left - p.x, p.x - (left + size), top - p.y, p.y - (top + size)});
                const bool on = Lit(frame, x, y);
                lit += on;
                // Lit but outside by more than the tolerance, or well inside and dark.
                if ((on && outside > kTolerance) || (!on && outside < -kTolerance)) {
                    ++wrong;
                    worst = std::max(worst, std::fabs(outside));
                }
            }
        }
        EXPECT_GT(lit, 0);
        EXPECT_EQ(wrong, 0) << "mirrors misplaced, worst by " << worst << " px; square at (" << left
                            << ", " << top << ") size " << size;
        ExpectMatchFindsTheField(c);
    }
    EXPECT_GE(checked, kCases * 9 / 10);
}

}  // namespace
