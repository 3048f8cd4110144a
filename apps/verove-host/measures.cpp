// Calibration residual, placement overlap and report pictures of camera frames.
#include "measures.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <vector>

#include "zt/zt_grabber.h"
#include "zt/zt_module.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

namespace {

constexpr int kGridColumns = 17;
constexpr int kGridRows = 13;

void Apply(const Matrix3& m, double x, double y, double* outX, double* outY) {
    *outX = m[0] * x + m[1] * y + m[2];
    *outY = m[3] * x + m[4] * y + m[5];
}

std::vector<std::uint64_t> Histogram(const SZtPicBuf& frame) {
    std::vector<std::uint64_t> histogram(std::size_t{1} << std::min(frame.bitsPerComponent, 16u));
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            const std::uint32_t value = CZtPicBufAPI::GetValue(&frame, x, y);
            ++histogram[std::min<std::size_t>(value, histogram.size() - 1)];
        }
    }
    return histogram;
}

// Each pixel of a width x height frame, lit as lit(x, y) says, against the pixels of masks'
// objects; empty when masks does not have that size.
template <class Lit>
PlacementMap Map(std::uint32_t width, std::uint32_t height, const SZtRLEPicBuf& masks, Lit lit) {
    PlacementMap map;
    if (width != masks.width || height != masks.height) {
        return map;
    }
    map.width = width;
    map.height = height;
    std::vector<bool> inside(std::size_t{width} * height, false);
    for (const SZtRLEObject& object : masks.objects) {
        for (const SZtRLERun& run : object.runs) {
            for (std::int32_t x = run.x; x < run.x + run.length; ++x) {
                inside[std::size_t{static_cast<std::uint32_t>(run.y)} * width +
                       static_cast<std::uint32_t>(x)] = true;
            }
        }
    }
    map.pixels.resize(inside.size());
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::size_t i = std::size_t{y} * width + x;
            const Placement placement =
                lit(x, y) ? (inside[i] ? Placement::LitInside : Placement::LitOutside)
                          : (inside[i] ? Placement::RoiNotLit : Placement::Dark);
            map.pixels[i] = placement;
            ++map.counts[static_cast<int>(placement)];
        }
    }
    return map;
}

}  // namespace

Matrix3 AffineMatrix(const std::array<double, 6>& a) {
    return {a[0], a[1], a[2], a[3], a[4], a[5], 0.0, 0.0, 1.0};
}

bool SensorToImage(Matrix3* sensorToImage) {
    IZtGrabberProvider* grabber = zthost::HostContext()->GetGrabberProvider();
    SZtGrabberFormatDesc format;
    double radians = 0.0;
    return grabber && grabber->CameraSettingsGet(&format) == 0 &&
           grabber->CameraAngleSWGet(&radians) == 0 &&
           zthost::CalcTransformSensorToImage(&format, radians, nullptr, sensorToImage->data()) ==
               0;
}

CalibrationResidual MeasureCalibrationResidual(const Matrix3& truthDmdToSensor,
                                               const Matrix3& measuredDmdToSensor,
                                               const Matrix3& sensorToImage, int mirrorColumns,
                                               int mirrorRows, const QRectF& region) {
    // The grid's corners: the first and last mirror centres, or those the region shows.
    double left = 0.5, top = 0.5, right = mirrorColumns - 0.5, bottom = mirrorRows - 0.5;
    Matrix3 sensorToDmd{};
    const bool inRegion =
        !region.isEmpty() && InvertMatrix(3, truthDmdToSensor.data(), sensorToDmd.data()) == 0;
    if (inRegion) {
        double boxLeft = HUGE_VAL, boxTop = HUGE_VAL, boxRight = -HUGE_VAL, boxBottom = -HUGE_VAL;
        for (const QPointF& corner :
             {region.topLeft(), region.topRight(), region.bottomLeft(), region.bottomRight()}) {
            double x = 0.0, y = 0.0;
            Apply(sensorToDmd, corner.x(), corner.y(), &x, &y);
            boxLeft = std::min(boxLeft, x);
            boxTop = std::min(boxTop, y);
            boxRight = std::max(boxRight, x);
            boxBottom = std::max(boxBottom, y);
        }
        left = std::max(left, boxLeft);
        top = std::max(top, boxTop);
        right = std::min(right, boxRight);
        bottom = std::min(bottom, boxBottom);
    }
    CalibrationResidual residual;
    double sumSquares = 0.0;
    int points = 0;
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            const double x = left + (right - left) * column / (kGridColumns - 1);
            const double y = top + (bottom - top) * row / (kGridRows - 1);
            double truthX = 0.0, truthY = 0.0, measuredX = 0.0, measuredY = 0.0;
            Apply(truthDmdToSensor, x, y, &truthX, &truthY);
            if (inRegion && !(truthX >= region.left() && truthX <= region.right() &&
                              truthY >= region.top() && truthY <= region.bottom())) {
                continue;
            }
            Apply(sensorToImage, truthX, truthY, &truthX, &truthY);
            Apply(measuredDmdToSensor, x, y, &measuredX, &measuredY);
            Apply(sensorToImage, measuredX, measuredY, &measuredX, &measuredY);
            const double distance = std::hypot(measuredX - truthX, measuredY - truthY);
            sumSquares += distance * distance;
            residual.max = std::max(residual.max, distance);
            ++points;
        }
    }
    residual.rms = points == 0 ? 0.0 : std::sqrt(sumSquares / points);
    return residual;
}

std::uint32_t LitThreshold(const SZtPicBuf& frame) {
    if (frame.IsEmpty()) {
        return 0;
    }
    const std::vector<std::uint64_t> histogram = Histogram(frame);
    double total = 0.0;
    double sum = 0.0;
    for (std::size_t v = 0; v < histogram.size(); ++v) {
        total += static_cast<double>(histogram[v]);
        sum += static_cast<double>(v) * static_cast<double>(histogram[v]);
    }
    double darkCount = 0.0;
    double darkSum = 0.0;
    double best = -1.0;
    std::uint32_t threshold = 0;
    for (std::size_t v = 0; v + 1 < histogram.size(); ++v) {
        darkCount += static_cast<double>(histogram[v]);
        darkSum += static_cast<double>(v) * static_cast<double>(histogram[v]);
        const double litCount = total - darkCount;
        if (darkCount == 0.0 || litCount == 0.0) {
            continue;
        }
        const double difference = darkSum / darkCount - (sum - darkSum) / litCount;
        const double between = darkCount * litCount * difference * difference;
        if (between > best) {
            best = between;
            threshold = static_cast<std::uint32_t>(v);
        }
    }
    return threshold;
}

double PlacementMap::Overlap() const {
    const std::uint64_t inside = counts[static_cast<int>(Placement::LitInside)];
    const std::uint64_t either = inside + counts[static_cast<int>(Placement::LitOutside)] +
                                 counts[static_cast<int>(Placement::RoiNotLit)];
    return either == 0 ? 0.0 : static_cast<double>(inside) / static_cast<double>(either);
}

double OverlapBeside(const PlacementMap& group, const PlacementMap& others) {
    if (group.pixels.size() != others.pixels.size()) {
        return group.Overlap();
    }
    PlacementMap own = group;
    for (size_t i = 0; i < own.pixels.size(); ++i) {
        if (own.pixels[i] == Placement::LitOutside && others.pixels[i] == Placement::LitInside) {
            --own.counts[static_cast<int>(Placement::LitOutside)];
            ++own.counts[static_cast<int>(Placement::Dark)];
        }
    }
    return own.Overlap();
}

PlacementMap MapPlacement(const SZtPicBuf& frame, std::uint32_t threshold,
                          const SZtRLEPicBuf& masks) {
    return Map(frame.width, frame.height, masks, [&](std::uint32_t x, std::uint32_t y) {
        return CZtPicBufAPI::GetValue(&frame, x, y) > threshold;
    });
}

double PlacementOverlap(const SZtPicBuf& frame, std::uint32_t threshold,
                        const SZtRLEPicBuf& masks) {
    return MapPlacement(frame, threshold, masks).Overlap();
}

double FieldCoverage(const SZtPicBuf& on, const SZtPicBuf& off, double step,
                     const SZtRLEPicBuf& field) {
    if (on.width != off.width || on.height != off.height) {
        return 0.0;
    }
    const double cut = step / 2.0;
    return Map(on.width, on.height, field,
               [&](std::uint32_t x, std::uint32_t y) {
                   const double lit = CZtPicBufAPI::GetValue(&on, x, y);
                   return lit - CZtPicBufAPI::GetValue(&off, x, y) > cut;
               })
        .Overlap();
}

DeviceCalibrationFit ReadCalibrationFit(const std::vector<std::wstring>& log) {
    const QString prefix =
        QStringLiteral("Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: ");
    const QRegularExpression fit(
        QStringLiteral(R"(^Calibration fit: (\d+) pairs used of \d+ squares found \(\d+ asked\); )"
                       R"(residual on its own pairs ([0-9.]+) px rms, ([0-9.]+) px max)"));
    DeviceCalibrationFit read;
    for (const std::wstring& entry : log) {
        const QString line = QString::fromStdWString(entry);
        if (!line.startsWith(prefix)) {
            continue;
        }
        const QString text = line.mid(prefix.size());
        const QRegularExpressionMatch match = fit.match(text);
        if (match.hasMatch()) {
            read.pairs = match.captured(1).toInt();
            read.rms = match.captured(2).toDouble();
            read.max = match.captured(3).toDouble();
        } else if (text.startsWith(QStringLiteral("Warning: "))) {
            read.warnings << text.mid(9);
        }
    }
    return read;
}

QImage FrameImage(const SZtPicBuf& frame) {
    if (frame.IsEmpty()) {
        return QImage();
    }
    std::uint32_t low = ~0u;
    std::uint32_t high = 0;
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            const std::uint32_t value = CZtPicBufAPI::GetValue(&frame, x, y);
            low = std::min(low, value);
            high = std::max(high, value);
        }
    }
    const double scale = high > low ? 255.0 / (high - low) : 0.0;
    QImage image(static_cast<int>(frame.width), static_cast<int>(frame.height),
                 QImage::Format_RGB32);
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            const int grey =
                static_cast<int>(std::lround((CZtPicBufAPI::GetValue(&frame, x, y) - low) * scale));
            line[x] = qRgb(grey, grey, grey);
        }
    }
    return image;
}

bool LitSpotCentre(const SZtPicBuf& frame, QPointF* centre) {
    if (frame.IsEmpty()) {
        return false;
    }
    double sum = 0.0;
    std::uint32_t brightest = 0;
    std::uint32_t bx = 0;
    std::uint32_t by = 0;
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            const std::uint32_t value = CZtPicBufAPI::GetValue(&frame, x, y);
            sum += value;
            if (value > brightest) {
                brightest = value;
                bx = x;
                by = y;
            }
        }
    }
    const double mean = sum / (static_cast<double>(frame.width) * frame.height);
    if (brightest <= mean) {
        return false;
    }
    const double level = (mean + brightest) / 2.0;
    constexpr std::uint32_t kReach = 60;
    double weight = 0.0;
    double cx = 0.0;
    double cy = 0.0;
    for (std::uint32_t y = by > kReach ? by - kReach : 0;
         y < std::min(frame.height, by + kReach + 1); ++y) {
        for (std::uint32_t x = bx > kReach ? bx - kReach : 0;
             x < std::min(frame.width, bx + kReach + 1); ++x) {
            const double above = CZtPicBufAPI::GetValue(&frame, x, y) - level;
            if (above > 0.0) {
                weight += above;
                cx += above * (x + 0.5);
                cy += above * (y + 0.5);
            }
        }
    }
    *centre = QPointF(cx / weight, cy / weight);
    return true;
}
