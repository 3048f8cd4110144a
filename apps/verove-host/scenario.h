// A simulated microscope and the session to run on it, read from a JSON scenario file.
#pragma once

#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zt/zt_roi.h"
#include "zthost/microscope.h"

// The devices the host's device manager offers, ready for zthost::AddLogicalDevice.
struct ScenarioDevices {
    std::vector<zthost::LogicalDeviceSetup> logical;  // in file order, ids from 1
    int galvoXYCount = 0;
    bool traxSet = false;  // whether the light path has a TRAX port (SetTraxPort)
    std::uint32_t traxPortA = 0;
    std::uint32_t traxPortB = 0;
};

struct ScenarioCamera {
    zthost::CameraSetup setup;  // as zthost::SetCamera takes it
    double pixelSizeUm = 0.0;   // one unbinned sensor pixel in the sample plane's camera
    int imageWidth = 0;         // the image as displayed: region, binned, turned
    int imageHeight = 0;
};

// What the camera sees of the DMD: the ground truth calibration is measured against, and how the
// camera turns the light into grey values. The fields mean what zthost's simulated camera takes.
struct ScenarioOptics {
    // Mirror coordinates -> unbinned sensor coordinates, row-major 2 x 3:
    // (x, y) -> (m[0] x + m[1] y + m[2], m[3] x + m[4] y + m[5]). Mirror (i, j) covers
    // [i, i + 1) x [j, j + 1), like a pixel.
    std::array<double, 6> dmdToSensor = {1, 0, 0, 0, 1, 0};
    double blurSigma = 0.0;   // Gaussian point spread, sensor pixels
    double signal = 0.0;      // photoelectrons per sensor pixel under fully lit mirrors
    double background = 0.0;  // photoelectrons per sensor pixel of light from elsewhere
    double gain = 0.0;        // grey values per photoelectron
    double offset = 0.0;      // grey values the camera adds to every pixel
    bool shotNoise = true;    // Poisson noise of the photoelectrons
    double readNoise = 0.0;   // photoelectrons rms per pixel
    std::uint64_t seed = 1;   // of the noise
};

struct ScenarioDmd {
    // The Verove III's mirror array, the same on the SDK path and in the simulated unit.
    static constexpr int kMirrorColumns = 800;
    static constexpr int kMirrorRows = 600;
    static constexpr int kMaxUnits = 4;
    bool simulator = false;   // the SDK's built-in simulated unit instead of the SDK path
    std::uint32_t brand = 0;  // Connect's brand: 0 Andor names, 1 Velmar names
    // The mirror-to-sensor maps of the SDK's units 1, 2, ... in the same microscope (unit 0's is
    // the optics'); the host aggregates the units when there are any.
    std::vector<std::array<double, 6>> furtherUnits;
    int Units() const { return 1 + static_cast<int>(furtherUnits.size()); }
};

// A point is drawn in the window only: scenario files have areas.
enum class ScenarioRoiShape { Rectangle, Ellipse, Polygon, Point };

// A stimulation ROI as drawn on the camera image as displayed, in image pixels.
struct ScenarioRoi {
    ScenarioRoiShape shape = ScenarioRoiShape::Rectangle;
    std::wstring label;
    QRectF bounds;      // the rectangle, the ellipse's bounding box, the polygon's bounding box
    QPolygonF polygon;  // the polygon's vertices; empty for the other shapes
};

struct ScenarioLine {
    double power = 0.0;  // percent for a launch line; voltage or iris value for a single light
    bool used = false;
};

// Which devices the Verove is associated with, and each group's line settings.
struct ScenarioLight {
    std::wstring source;      // key of the laser launch or single light
    bool multiLaser = false;  // the source is a laser launch ("IDeviceMultiLaser")
    ZT_DWORD sourceId = 0;
    std::wstring switcher;  // key of the laser output; empty for none
    ZT_DWORD switcherId = 0;
    int switcherPort = 0;  // port combination used for stimulation
    std::vector<std::wstring> shutters;
    // Per group S1-S3: one entry per line of the source, or empty when the file gives none.
    std::array<std::vector<ScenarioLine>, 3> groups;
};

struct ScenarioStimulationRun {
    int group = 0;                // 0-based: S1 is 0; the lowest of groupMask
    std::uint32_t groupMask = 1;  // bit g: group g; several only with further units
    double durationMs = 0.0;
    int runMode = 1;  // 1 timed by the caller, 2 frozen in StimulationBegin
};

struct ScenarioSequenceEvent {
    std::wstring pattern;  // "Full OFF", "Full ON", "Grid", "S1", "S2" or "S3"
    int frames = 1;
    int cycles = 1;
    double exposureMs = 0.0;  // per frame
    double gapMs = 0.0;       // after the event
};

struct ScenarioProtocol {
    std::vector<ScenarioStimulationRun> stimulations;  // in order
    std::vector<int> bitDepths;                        // steps, each 1, 4, 6 or 8
    std::vector<ScenarioSequenceEvent> illuminationSequence;
};

// The bars a session's figures must meet, as the scenario sets them; unset ones take the
// defaults the verdict gives (verdict.h).
struct ScenarioThresholds {
    std::optional<double> residualRmsPx;  // calibration residual, displayed image pixels
    std::optional<double> residualMaxPx;
    std::optional<double> overlapPercent;  // placement overlap of every group
    std::optional<int> squaresFound;       // calibration squares found
};

// Thread-bound: loaded and applied on the host's main thread.
class Scenario {
public:
    // A scenario is a few kilobytes; a larger file is refused unread.
    static constexpr qint64 kMaxFileBytes = 1 << 20;

    // Reads and checks the whole file. On failure returns false with error set to one line
    // naming the file and the field, and leaves the scenario as it was.
    bool Load(const QString& path, QString* error);
    // Builds the microscope in the reference host: devices, galvo scanners, camera, the optics
    // between DMD and camera, and a live camera document. 0, or the first refusal of zthost.
    int Apply() const;

    const QString& Path() const { return m_path; }
    const QString& Description() const { return m_description; }
    const ScenarioDevices& Devices() const { return m_devices; }
    // The camera as the session starts and calibrates with it.
    const ScenarioCamera& Camera() const { return m_camera; }
    // The camera after calibration: turned and mirrored as "turnAfterCalibration" says, else
    // the same as Camera(). The ROIs are drawn on its image.
    const ScenarioCamera& CameraAfterCalibration() const { return m_turnedCamera; }
    bool TurnsCameraAfterCalibration() const {
        return m_turnedCamera.setup.rotationDegrees != m_camera.setup.rotationDegrees ||
               m_turnedCamera.setup.angleParams != m_camera.setup.angleParams;
    }
    const ScenarioOptics& Optics() const { return m_optics; }
    const ScenarioDmd& Dmd() const { return m_dmd; }
    // By group: S1, S2, S3.
    const std::array<std::vector<ScenarioRoi>, 3>& Rois() const { return m_rois; }
    // The stimulation ROIs of the groups in groupMask (bit g: group g) as a document's ROI
    // objects: S1's first, numbered from 1 in that order over all groups, labelled as drawn.
    CZtRoiObjectList RoiObjects(std::uint32_t groupMask = 7) const;
    // One stimulation ROI of group (0 S1 ... 2 S3) as a document's ROI object numbered id.
    static CZtRoiObject RoiObject(const ScenarioRoi& roi, std::uint32_t group, std::uint32_t id);
    const ScenarioLight& Light() const { return m_light; }
    const ScenarioProtocol& Protocol() const { return m_protocol; }
    const ScenarioThresholds& Thresholds() const { return m_thresholds; }

    // The SDK's built-in simulated unit instead of the scenario's DMD path.
    void UseSimulator() { m_dmd.simulator = true; }

private:
    QString m_path;
    QString m_description;
    ScenarioDevices m_devices;
    ScenarioCamera m_camera;
    ScenarioCamera m_turnedCamera;
    ScenarioOptics m_optics;
    ScenarioDmd m_dmd;
    std::array<std::vector<ScenarioRoi>, 3> m_rois;
    ScenarioLight m_light;
    ScenarioProtocol m_protocol;
    ScenarioThresholds m_thresholds;
};
