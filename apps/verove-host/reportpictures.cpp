// Drawing the report's camera and mirror pictures.
#include "reportpictures.h"

#include <QColor>
#include <QPainter>
#include <QPen>
#include <algorithm>

namespace {

const QColor kGroupColours[] = {QColor(230, 60, 60), QColor(60, 200, 90), QColor(70, 140, 255)};
const char* const kGroupNames[] = {"S1", "S2", "S3"};

void DrawOutline(QPainter* painter, const QPolygonF& field, const QColor& colour,
                 Qt::PenStyle style, double scale) {
    painter->setPen(QPen(colour, 2 / scale, style));
    painter->drawPolygon(field);
    painter->setPen(QPen(colour, 5 / scale));
    painter->drawLine(field[0], field[1]);
}

void DrawRois(QPainter* painter, const Scenario& scenario, std::uint32_t groupMask, double scale) {
    QFont font = painter->font();
    font.setPixelSize(std::max(8, qRound(16 / scale)));
    painter->setFont(font);
    painter->setBrush(Qt::NoBrush);
    for (int g = 0; g < 3; ++g) {
        if (!(groupMask & (1u << g))) {
            continue;
        }
        painter->setPen(QPen(kGroupColours[g], 2 / scale));
        for (const ScenarioRoi& roi : scenario.Rois()[g]) {
            switch (roi.shape) {
                case ScenarioRoiShape::Rectangle:
                    painter->drawRect(roi.bounds);
                    break;
                case ScenarioRoiShape::Ellipse:
                    painter->drawEllipse(roi.bounds);
                    break;
                case ScenarioRoiShape::Polygon:
                    painter->drawPolygon(roi.polygon);
                    break;
            }
            const QString label = roi.label.empty()
                                      ? QString(kGroupNames[g])
                                      : QStringLiteral("%1 %2").arg(
                                            kGroupNames[g], QString::fromStdWString(roi.label));
            painter->drawText(roi.bounds.topLeft() + QPointF(0, -4 / scale), label);
        }
    }
}

}  // namespace

QPolygonF DmdOutline(const Matrix3& dmdToSensor, const Matrix3& sensorToImage) {
    const double columns = ScenarioDmd::kMirrorColumns;
    const double rows = ScenarioDmd::kMirrorRows;
    QPolygonF field;
    for (const QPointF& mirror :
         {QPointF(0, 0), QPointF(columns, 0), QPointF(columns, rows), QPointF(0, rows)}) {
        const Matrix3& m = dmdToSensor;
        const double sx = m[0] * mirror.x() + m[1] * mirror.y() + m[2];
        const double sy = m[3] * mirror.x() + m[4] * mirror.y() + m[5];
        const Matrix3& d = sensorToImage;
        field << QPointF(d[0] * sx + d[1] * sy + d[2], d[3] * sx + d[4] * sy + d[5]);
    }
    return field;
}

QImage CameraPicture(const Scenario& scenario, const CameraPictureParts& parts) {
    const ScenarioCamera& camera = scenario.Camera();
    const int width = parts.frame.isNull() ? camera.imageWidth : parts.frame.width();
    const int height = parts.frame.isNull() ? camera.imageHeight : parts.frame.height();
    const double scale = std::min(1.0, 1024.0 / std::max(width, height));
    QImage image(std::max(1, qRound(width * scale)), std::max(1, qRound(height * scale)),
                 QImage::Format_RGB32);
    image.fill(QColor(20, 20, 24));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.scale(scale, scale);
    if (!parts.frame.isNull()) {
        painter.drawImage(QRectF(0, 0, width, height), parts.frame);
    }
    Matrix3 sensorToImage{};
    if ((parts.truthOutline || parts.fittedOutline) && SensorToImage(&sensorToImage)) {
        if (parts.truthOutline) {
            const Matrix3 truth = AffineMatrix(scenario.Optics().dmdToSensor);
            DrawOutline(&painter, DmdOutline(truth, sensorToImage), Qt::white, Qt::DashLine, scale);
        }
        if (parts.fittedOutline) {
            DrawOutline(&painter, DmdOutline(parts.fittedDmdToSensor, sensorToImage),
                        QColor(255, 170, 0), Qt::SolidLine, scale);
        }
    }
    painter.setPen(QPen(QColor(255, 230, 0), 2 / scale));
    const double arm = 8 / scale;
    for (const QPointF& spot : parts.spots) {
        painter.drawLine(spot - QPointF(arm, 0), spot + QPointF(arm, 0));
        painter.drawLine(spot - QPointF(0, arm), spot + QPointF(0, arm));
    }
    DrawRois(&painter, scenario, parts.groupMask, scale);
    return image;
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
    return image;
}
