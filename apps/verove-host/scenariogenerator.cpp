#include "scenariogenerator.h"

#include "displaymodel.h"

#include <QJsonArray>
#include <QString>
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace {

constexpr double kMirrorColumns = 800.0;
constexpr double kMirrorRows = 600.0;

using Point = DisplayPoint;

// sensor = centre + scale · R(rotation) · F · (mirror − middle of the array)
struct Optics {
    double scale = 1.0, radians = 0.0;
    bool flip = false;
    Point centre{};

    Point SensorToMirror(Point s) const {
        const double dx = (s.x - centre.x) / scale, dy = (s.y - centre.y) / scale;
        const double c = std::cos(radians), n = std::sin(radians);
        const double x = c * dx + n * dy, y = -n * dx + c * dy;
        return {x + kMirrorColumns / 2, (flip ? -y : y) + kMirrorRows / 2};
    }
};

class Draw {
public:
    explicit Draw(std::uint64_t seed) : m_engine(seed) {}
    double Real(double low, double high) {
        return low + (high - low) * std::generate_canonical<double, 53>(m_engine);
    }
    int Int(int low, int high) {  // inclusive
        return low + static_cast<int>(m_engine() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool Chance(double p) { return Real(0.0, 1.0) < p; }
    template <typename T, std::size_t N>
    T Pick(const std::array<T, N>& values) {
        return values[static_cast<std::size_t>(Int(0, static_cast<int>(N) - 1))];
    }

private:
    std::mt19937_64 m_engine;
};

QJsonArray Json(std::initializer_list<double> values) {
    QJsonArray array;
    for (double v : values) {
        array.append(v);
    }
    return array;
}

// Every corner of the image rectangle shows a mirror at least margin mirrors inside the array.
bool InsideField(const DisplayModel& camera, const Optics& optics, double left, double top,
                 double right, double bottom, double margin) {
    for (const Point corner :
         {Point{left, top}, Point{right, top}, Point{left, bottom}, Point{right, bottom}}) {
        const Point m = optics.SensorToMirror(camera.ImageToSensor(corner));
        if (m.x < margin || m.y < margin || m.x > kMirrorColumns - margin ||
            m.y > kMirrorRows - margin) {
            return false;
        }
    }
    return true;
}

// An image rectangle of about the given size inside the image and the lit field; a smaller one
// when no place fits it.
std::array<double, 4> PlaceRoi(Draw* draw, const DisplayModel& camera, const Optics& optics,
                               double size) {
    const double margin = 4.0 + 2.0 / optics.scale * camera.binning;
    for (;; size *= 0.8) {
        const double w = std::round(size * draw->Real(0.8, 1.25));
        const double h = std::round(size * draw->Real(0.8, 1.25));
        for (int attempt = 0; attempt < 400; ++attempt) {
            const double left = std::floor(draw->Real(1.0, camera.ImageWidth() - w - 1.0));
            const double top = std::floor(draw->Real(1.0, camera.ImageHeight() - h - 1.0));
            if (left >= 1.0 && top >= 1.0 &&
                InsideField(camera, optics, left, top, left + w, top + h, margin)) {
                return {left, top, left + w, top + h};
            }
        }
        if (size < 12.0) {
            return {};
        }
    }
}

QJsonObject Devices() {
    QJsonArray lines;
    for (int wavelength : {405, 488, 561}) {
        lines.append(QJsonObject{{"wavelength", wavelength}});
    }
    return {{"nosepieces",
             QJsonArray{QJsonObject{{"key", "Nosepiece"}, {"objectives", QJsonArray{"20x Air"}}}}},
            {"laserLaunches", QJsonArray{QJsonObject{{"key", "Laser Launch"}, {"lines", lines}}}},
            {"shutters", QJsonArray{QJsonObject{{"key", "Laser Shutter"}}}}};
}

QJsonObject Light() {
    QJsonObject groups;
    for (int g = 0; g < 3; ++g) {
        QJsonArray lines;
        for (int line = 0; line < 3; ++line) {
            lines.append(QJsonObject{{"power", line == g ? 20 + 10 * g : 0}, {"used", line == g}});
        }
        groups.insert(QStringLiteral("S%1").arg(g + 1), lines);
    }
    return {
        {"source", "Laser Launch"}, {"shutters", QJsonArray{"Laser Shutter"}}, {"groups", groups}};
}

}  // namespace

QJsonObject GenerateScenario(std::uint64_t seed) {
    Draw draw(seed * 0x9E3779B97F4A7C15ull + 17);

    DisplayModel camera;
    const std::array<std::array<int, 2>, 3> sensors{{{1392, 1040}, {2048, 2048}, {2560, 2160}}};
    const std::array<int, 2> sensor = draw.Pick(sensors);
    const int sensorWidth = sensor[0];
    const int sensorHeight = sensor[1];
    camera.binning = draw.Pick(std::array<int, 3>{1, 2, 4});
    const int bitDepth = draw.Pick(std::array<int, 2>{12, 16});
    const int b = camera.binning;
    const bool regionOn = draw.Chance(0.5);
    camera.region = {0, 0, sensorWidth / b * b, sensorHeight / b * b};
    if (regionOn) {
        const int w = static_cast<int>(sensorWidth * draw.Real(0.45, 0.9)) / b * b;
        const int h = static_cast<int>(sensorHeight * draw.Real(0.45, 0.9)) / b * b;
        const int left = draw.Int(0, (sensorWidth - w) / b) * b;
        const int top = draw.Int(0, (sensorHeight - h) / b) * b;
        camera.region = {left, top, left + w, top + h};
    }
    camera.quarterTurns = draw.Int(0, 3);
    camera.flip = draw.Chance(0.5);
    DisplayModel after = camera;
    const bool turnAfter = draw.Chance(0.5);
    if (turnAfter) {
        do {
            after.quarterTurns = draw.Int(0, 3);
            after.flip = draw.Chance(0.5);
        } while (after.quarterTurns == camera.quarterTurns && after.flip == camera.flip);
    }

    // The field's middle lands near the region's middle, so that most squares of a calibration
    // fall on the image even when the field is larger than the region.
    Optics optics;
    optics.scale = std::round(draw.Real(1.2, 4.0) * 1000.0) / 1000.0;
    const double degrees = std::round(draw.Real(0.0, 360.0) * 100.0) / 100.0;
    optics.radians = degrees * std::numbers::pi / 180.0;
    optics.flip = draw.Chance(0.5);
    const double regionW = camera.region[2] - camera.region[0];
    const double regionH = camera.region[3] - camera.region[1];
    optics.centre = {std::round(camera.region[0] + regionW * draw.Real(0.35, 0.65)),
                     std::round(camera.region[1] + regionH * draw.Real(0.35, 0.65))};

    // Grey values well below full scale at the brightest binned pixel.
    const double fullScale = std::ldexp(1.0, bitDepth) - 1.0;
    const double gain = std::round(draw.Real(0.5, 2.0) * 100.0) / 100.0;
    const double offset = 100.0;
    const double peak = fullScale * draw.Real(0.3, 0.6);
    const double perPixel = (peak - offset) / (gain * b * b);
    const double background = std::round(perPixel * draw.Real(0.01, 0.05) * 100.0) / 100.0;
    const double signal = std::round((perPixel - background) * 100.0) / 100.0;

    QJsonObject stimulation;
    const std::array<double, 3> sizes{draw.Real(60.0, 260.0), draw.Real(25.0, 200.0),
                                      draw.Real(40.0, 240.0)};
    const double smallest = std::min(after.ImageWidth(), after.ImageHeight());
    for (int g = 0; g < 3; ++g) {
        const double size = std::min(sizes[static_cast<std::size_t>(g)], smallest * 0.4);
        const std::array<double, 4> r = PlaceRoi(&draw, after, optics, size);
        if (r[2] <= r[0]) {
            continue;
        }
        QJsonObject roi;
        if (g == 0) {
            roi.insert("rectangle", Json({r[0], r[1], r[2], r[3]}));
        } else if (g == 1) {
            roi.insert("ellipse", Json({r[0], r[1], r[2], r[3]}));
        } else {
            // A quadrilateral with a corner on each side of the box.
            const double w = r[2] - r[0], h = r[3] - r[1];
            roi.insert("polygon",
                       QJsonArray{Json({std::round(r[0] + w * draw.Real(0.2, 0.8)), r[1]}),
                                  Json({r[2], std::round(r[1] + h * draw.Real(0.2, 0.8))}),
                                  Json({std::round(r[0] + w * draw.Real(0.2, 0.8)), r[3]}),
                                  Json({r[0], std::round(r[1] + h * draw.Real(0.2, 0.8))})});
        }
        stimulation.insert(QStringLiteral("S%1").arg(g + 1), QJsonArray{roi});
    }
    QJsonArray stimulations;
    for (const QString& group : stimulation.keys()) {
        stimulations.append(QJsonObject{
            {"group", group}, {"durationMs", 100}, {"runMode", stimulations.size() % 2 + 1}});
    }

    QJsonObject cameraJson{{"name", "Camera"},
                           {"sensor", Json({double(sensorWidth), double(sensorHeight)})},
                           {"bitDepth", bitDepth},
                           {"binning", b},
                           {"rotation", camera.quarterTurns * 90},
                           {"flip", camera.flip},
                           {"pixelSizeUm", 6.5}};
    if (regionOn) {
        cameraJson.insert("roi", Json({double(camera.region[0]), double(camera.region[1]),
                                       double(camera.region[2]), double(camera.region[3])}));
    }
    if (turnAfter) {
        cameraJson.insert("turnAfterCalibration",
                          QJsonObject{{"rotation", after.quarterTurns * 90}, {"flip", after.flip}});
    }

    const QString description =
        QStringLiteral(
            "Generated from seed %1: %2 x %3 sensor, binning %4, %5-bit, region %6, "
            "image turned %7 deg%8%9; optics %10 px/mirror, %11 deg%12")
            .arg(seed)
            .arg(sensorWidth)
            .arg(sensorHeight)
            .arg(b)
            .arg(bitDepth)
            .arg(regionOn ? QStringLiteral("[%1, %2, %3, %4]")
                                .arg(camera.region[0])
                                .arg(camera.region[1])
                                .arg(camera.region[2])
                                .arg(camera.region[3])
                          : QStringLiteral("off"))
            .arg(camera.quarterTurns * 90)
            .arg(camera.flip ? QStringLiteral(" and mirrored") : QString())
            .arg(turnAfter ? QStringLiteral(", after calibration turned %1 deg%2")
                                 .arg(after.quarterTurns * 90)
                                 .arg(after.flip ? QStringLiteral(" and mirrored") : QString())
                           : QString())
            .arg(optics.scale)
            .arg(degrees)
            .arg(optics.flip ? QStringLiteral(", DMD mirrored") : QString());

    return {{"description", description},
            {"devices", Devices()},
            {"camera", cameraJson},
            {"optics", QJsonObject{{"scale", optics.scale},
                                   {"rotation", degrees},
                                   {"flip", optics.flip},
                                   {"centre", Json({optics.centre.x, optics.centre.y})},
                                   {"blurSigma", std::round(draw.Real(0.8, 1.8) * 100.0) / 100.0},
                                   {"signal", signal},
                                   {"background", background},
                                   {"gain", gain},
                                   {"offset", offset},
                                   {"readNoise", 2.0},
                                   {"seed", static_cast<double>(seed % 1000000 + 1)}}},
            {"dmd", QJsonObject{{"device", "sdk"}}},
            {"stimulation", stimulation},
            {"light", Light()},
            {"protocol", QJsonObject{{"stimulations", stimulations}}}};
}
