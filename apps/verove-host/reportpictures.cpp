// Drawing the report's camera, placement and mirror pictures.
#include "reportpictures.h"

#include <QColor>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace {

const QColor kGroupColours[] = {QColor(230, 60, 60), QColor(60, 200, 90), QColor(70, 140, 255)};
const char* const kGroupNames[] = {"S1", "S2", "S3"};
const QColor kBackground(20, 20, 24);
const QColor kSpot(255, 230, 0);
const QColor kFitted(0, 230, 255);
const QColor kResidual(255, 0, 220);
const QColor kFittedField(255, 170, 0);
// The residuals are enlarged so that the largest is drawn about this long, picture pixels.
constexpr double kResidualLength = 40.0;
constexpr int kFontPixels = 14;
constexpr double kCrossGap = 7.0;  // picture pixels from the centre to the cross's arms
constexpr double kCrossArm = 7.0;

// A legend line: a swatch of the colour (a filled square, or a line of the style) and its text.
struct LegendEntry {
    QColor colour;  // invalid: text alone
    QString text;
    bool fill = false;
    Qt::PenStyle style = Qt::SolidLine;
};

QImage Scaled(const QImage& image, double scale) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    if (scale == 1.0) {
        return rgb;
    }
    const QSize size(std::max(1, qRound(image.width() * scale)),
                     std::max(1, qRound(image.height() * scale)));
    // Whole factors up replicate pixels; shrinking averages them.
    return rgb.scaled(size, Qt::IgnoreAspectRatio,
                      scale > 1.0 ? Qt::FastTransformation : Qt::SmoothTransformation);
}

// A painter for labels and lines in picture pixels: lines sharp, text smooth.
void Prepare(QPainter* painter) {
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setRenderHint(QPainter::TextAntialiasing, true);
    QFont font = painter->font();
    font.setPixelSize(kFontPixels);
    painter->setFont(font);
}

// The text on a dark box whose top-left is at corner, moved inside the picture.
void DrawLabel(QPainter* painter, QPointF corner, const QString& text, const QColor& colour) {
    const QFontMetrics metrics(painter->font());
    const QSizeF size(metrics.horizontalAdvance(text) + 8, metrics.height() + 2);
    const QRect picture = painter->viewport();
    corner.setX(std::clamp(corner.x(), 0.0, std::max(0.0, picture.width() - size.width())));
    corner.setY(std::clamp(corner.y(), 0.0, std::max(0.0, picture.height() - size.height())));
    const QRectF box(corner, size);
    painter->fillRect(box, QColor(0, 0, 0, 170));
    painter->setPen(colour);
    painter->drawText(box, Qt::AlignCenter, text);
}

// A label for the area bounds: above it where there is room, else below it, else inside.
void DrawAreaLabel(QPainter* painter, const QRectF& bounds, const QString& text,
                   const QColor& colour) {
    const double height = QFontMetrics(painter->font()).height() + 2;
    double top = bounds.top() - height - 2;
    if (top < 0) {
        top = bounds.bottom() + 2 + height <= painter->viewport().height() ? bounds.bottom() + 2
                                                                           : bounds.top() + 2;
    }
    DrawLabel(painter, QPointF(bounds.left(), top), text, colour);
}

// The picture with a band below it holding the legend's entries, side by side as they fit, so
// that the legend covers nothing.
QImage WithLegend(const QImage& picture, const std::vector<LegendEntry>& entries) {
    QFont font;
    font.setPixelSize(kFontPixels);
    const QFontMetrics metrics(font);
    const int line = metrics.height() + 6;
    const int swatch = 18;
    const int margin = 8;
    std::vector<QRect> places;
    QPoint at(margin, margin / 2);
    for (const LegendEntry& entry : entries) {
        const int width = metrics.horizontalAdvance(entry.text) +
                          (entry.colour.isValid() ? swatch + 6 : 0) + 2 * margin;
        if (at.x() > margin && at.x() + width > picture.width()) {
            at = QPoint(margin, at.y() + line);
        }
        places.emplace_back(at, QSize(width, line));
        at.rx() += width;
    }
    QImage image(picture.width(), picture.height() + at.y() + line + margin / 2,
                 QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    Prepare(&painter);
    painter.drawImage(0, 0, picture);
    painter.translate(0, picture.height());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const LegendEntry& entry = entries[i];
        int x = places[i].left();
        if (entry.colour.isValid()) {
            const QRect sample(x, places[i].top() + 5, swatch, line - 10);
            if (entry.fill) {
                painter.fillRect(sample, entry.colour);
            } else {
                painter.setPen(QPen(entry.colour, 2, entry.style));
                painter.drawLine(sample.left(), sample.center().y(), sample.right(),
                                 sample.center().y());
            }
            x += swatch + 6;
        }
        painter.setPen(Qt::white);
        painter.drawText(QRect(x, places[i].top(), places[i].right() - x, line), Qt::AlignVCenter,
                         entry.text);
    }
    return image;
}

void DrawOutline(QPainter* painter, const QPolygonF& field, const QColor& colour,
                 Qt::PenStyle style) {
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(colour, 2, style));
    painter->drawPolygon(field);
    painter->setPen(QPen(colour, 5, style));
    painter->drawLine(field[0], field[1]);
}

// The ROIs of the groups in groupMask, outlined in their group's colour when outline is set,
// each labelled.
}  // namespace

QColor GroupColour(int group) {
    return kGroupColours[group];
}

void DrawRoiOutline(QPainter* painter, const ScenarioRoi& roi, const QTransform& toPicture) {
    const QRectF bounds = toPicture.mapRect(roi.bounds);
    switch (roi.shape) {
        case ScenarioRoiShape::Rectangle:
            painter->drawRect(bounds);
            break;
        case ScenarioRoiShape::Ellipse:
            painter->drawEllipse(bounds);
            break;
        case ScenarioRoiShape::Polygon:
            painter->drawPolygon(toPicture.map(roi.polygon));
            break;
        case ScenarioRoiShape::Point: {
            const QPointF centre = bounds.center();
            painter->drawLine(centre - QPointF(6, 0), centre + QPointF(6, 0));
            painter->drawLine(centre - QPointF(0, 6), centre + QPointF(0, 6));
            break;
        }
    }
}

namespace {

void DrawRois(QPainter* painter, const Scenario& scenario, std::uint32_t groupMask,
              const QTransform& toPicture, bool outline) {
    painter->setBrush(Qt::NoBrush);
    for (int g = 0; g < 3; ++g) {
        if (!(groupMask & (1u << g))) {
            continue;
        }
        for (const ScenarioRoi& roi : scenario.Rois()[g]) {
            const QRectF bounds = toPicture.mapRect(roi.bounds);
            if (outline) {
                painter->setPen(QPen(kGroupColours[g], 2));
                DrawRoiOutline(painter, roi, toPicture);
            }
            const QString label = roi.label.empty()
                                      ? QString(kGroupNames[g])
                                      : QStringLiteral("%1 %2").arg(
                                            kGroupNames[g], QString::fromStdWString(roi.label));
            DrawAreaLabel(painter, bounds, label, outline ? kGroupColours[g] : Qt::white);
        }
    }
}

QPointF Map(const Matrix3& m, const QPointF& p) {
    return QPointF(m[0] * p.x() + m[1] * p.y() + m[2], m[3] * p.x() + m[4] * p.y() + m[5]);
}

// The largest of 1, 2, 5, 10, 20, … that draws a residual of length (picture pixels) at most
// kResidualLength long; 1 for none.
double ResidualFactor(double length) {
    if (length <= 0.0) {
        return 1.0;
    }
    const double wanted = kResidualLength / length;
    double factor = 1.0;
    for (double decade = 1.0; decade <= wanted; decade *= 10.0) {
        for (double step : {1.0, 2.0, 5.0}) {
            if (step * decade <= wanted) {
                factor = step * decade;
            }
        }
    }
    return factor;
}

// Detected spots, fitted positions and the residuals between them; the legend's lines for them.
void DrawSpots(QPainter* painter, const CameraPictureParts& parts, const Matrix3& sensorToImage,
               bool fitted, const QTransform& toPicture, std::vector<LegendEntry>* legend) {
    std::vector<QPointF> positions;
    double largest = 0.0;
    if (fitted && parts.spotsDmd.size() == parts.spots.size()) {
        for (std::size_t i = 0; i < parts.spots.size(); ++i) {
            positions.push_back(
                Map(sensorToImage, Map(parts.fittedDmdToSensor, parts.spotsDmd[i])));
            const QPointF residual = parts.spots[i] - positions.back();
            largest = std::max(largest, std::hypot(residual.x(), residual.y()));
        }
    }
    const double factor = ResidualFactor(largest * toPicture.m11());
    // The cross leaves its middle open, so that the square it marks shows.
    painter->setPen(QPen(kSpot, 2));
    for (const QPointF& spot : parts.spots) {
        const QPointF at = toPicture.map(spot);
        for (const QPointF& arm : {QPointF(1, 0), QPointF(-1, 0), QPointF(0, 1), QPointF(0, -1)}) {
            painter->drawLine(at + arm * kCrossGap, at + arm * (kCrossGap + kCrossArm));
        }
    }
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const QPointF from = toPicture.map(positions[i]);
        painter->setPen(QPen(kResidual, 2));
        painter->drawLine(from, from + (toPicture.map(parts.spots[i]) - from) * factor);
        painter->fillRect(QRectF(from - QPointF(1.5, 1.5), QSizeF(3, 3)), kFitted);
    }
    if (!parts.spots.empty()) {
        legend->push_back({kSpot, QStringLiteral("square found (%1)").arg(parts.spots.size())});
    }
    if (!positions.empty()) {
        legend->push_back({kFitted, QStringLiteral("its position by the calibration"), true});
        legend->push_back({kResidual, QStringLiteral("residual × %1 (largest %2 px)")
                                          .arg(factor, 0, 'g', 6)
                                          .arg(largest, 0, 'f', 3)});
    }
}

}  // namespace

const QRgb kPlacementColours[4] = {qRgb(20, 20, 24), qRgb(235, 235, 235), qRgb(255, 60, 40),
                                   qRgb(40, 140, 255)};

double ReportScale(int width, int height) {
    const int longer = std::max(width, height);
    if (longer > 1024) {
        return 1024.0 / longer;
    }
    return longer > 0 && longer <= 512 ? std::floor(1024.0 / longer) : 1.0;
}

QPolygonF DmdOutline(const Matrix3& dmdToSensor, const Matrix3& sensorToImage) {
    const double columns = ScenarioDmd::kMirrorColumns;
    const double rows = ScenarioDmd::kMirrorRows;
    QPolygonF field;
    for (const QPointF& mirror :
         {QPointF(0, 0), QPointF(columns, 0), QPointF(columns, rows), QPointF(0, rows)}) {
        field << Map(sensorToImage, Map(dmdToSensor, mirror));
    }
    return field;
}

QImage CameraPicture(const Scenario& scenario, const CameraPictureParts& parts) {
    const ScenarioCamera& camera = scenario.Camera();
    const int width = parts.frame.isNull() ? camera.imageWidth : parts.frame.width();
    const int height = parts.frame.isNull() ? camera.imageHeight : parts.frame.height();
    const double scale = ReportScale(width, height);
    QImage image;
    if (parts.frame.isNull()) {
        image = QImage(std::max(1, qRound(width * scale)), std::max(1, qRound(height * scale)),
                       QImage::Format_RGB32);
        image.fill(kBackground);
    } else {
        image = Scaled(parts.frame, scale);
    }
    const QTransform toPicture = QTransform::fromScale(scale, scale);
    QPainter painter(&image);
    Prepare(&painter);
    std::vector<LegendEntry> legend;
    Matrix3 sensorToImage{};
    const bool geometry = SensorToImage(&sensorToImage);
    // The optics' field dashed over the calibration's, so that both show where they meet.
    if (geometry && parts.fittedOutline) {
        DrawOutline(&painter, toPicture.map(DmdOutline(parts.fittedDmdToSensor, sensorToImage)),
                    kFittedField, Qt::SolidLine);
        legend.push_back({kFittedField, "DMD field by the calibration"});
    }
    if (geometry && parts.truthOutline) {
        const Matrix3 truth = AffineMatrix(scenario.Optics().dmdToSensor);
        DrawOutline(&painter, toPicture.map(DmdOutline(truth, sensorToImage)), Qt::white,
                    Qt::DashLine);
        legend.push_back({Qt::white, "DMD field by the optics", false, Qt::DashLine});
    }
    DrawSpots(&painter, parts, sensorToImage, geometry && parts.fittedOutline, toPicture, &legend);
    DrawRois(&painter, scenario, parts.groupMask, toPicture, true);
    for (int g = 0; g < 3; ++g) {
        if ((parts.groupMask & (1u << g)) && !scenario.Rois()[g].empty()) {
            legend.push_back({kGroupColours[g], QStringLiteral("%1 ROIs").arg(kGroupNames[g])});
        }
    }
    painter.end();
    return legend.empty() ? image : WithLegend(image, legend);
}

QImage PlacementPicture(const Scenario& scenario, const PlacementMap& placement,
                        std::uint32_t groupMask) {
    if (placement.pixels.empty()) {
        return QImage();
    }
    QImage classes(static_cast<int>(placement.width), static_cast<int>(placement.height),
                   QImage::Format_RGB32);
    for (std::uint32_t y = 0; y < placement.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(classes.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < placement.width; ++x) {
            line[x] = kPlacementColours[static_cast<int>(
                placement.pixels[std::size_t{y} * placement.width + x])];
        }
    }
    const double scale = ReportScale(classes.width(), classes.height());
    QImage image = Scaled(classes, scale);
    QPainter painter(&image);
    Prepare(&painter);
    DrawRois(&painter, scenario, groupMask, QTransform::fromScale(scale, scale), false);
    auto count = [&](Placement p) { return placement.counts[static_cast<int>(p)]; };
    painter.end();
    return WithLegend(
        image,
        {{QColor(), QStringLiteral("overlap %1 %").arg(placement.Overlap() * 100.0, 0, 'f', 1)},
         {QColor(kPlacementColours[1]),
          QStringLiteral("lit inside the ROIs (%1 px)").arg(count(Placement::LitInside)), true},
         {QColor(kPlacementColours[2]),
          QStringLiteral("lit outside them (%1 px)").arg(count(Placement::LitOutside)), true},
         {QColor(kPlacementColours[3]),
          QStringLiteral("ROI not lit (%1 px)").arg(count(Placement::RoiNotLit)), true}});
}

QString CalibrationCaption(int frames, std::size_t squares, bool simulator) {
    QString text = QStringLiteral(
        "Calibration: each square the device found (yellow cross), its position by the fitted "
        "calibration (cyan dot) and the residual from there to the square, enlarged as the "
        "legend says (magenta); the DMD field by the calibration (orange)");
    if (simulator) {
        return text + QStringLiteral(
                          ". The simulated unit draws its squares itself: the camera "
                          "saw none of them.");
    }
    return text + QStringLiteral(
                      " and by the optics (white, dashed), over the camera frames of "
                      "%1 of the %2 squares, combined (the brightest value of each "
                      "pixel).")
                      .arg(frames)
                      .arg(squares);
}

QImage MirrorPicture(int width, int height, const std::vector<std::uint8_t>& levels) {
    if (width <= 0 || height <= 0 ||
        levels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        return QImage();
    }
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        std::copy_n(levels.data() + static_cast<std::size_t>(y) * width, width, image.scanLine(y));
    }
    return Scaled(image, ReportScale(width, height));
}
