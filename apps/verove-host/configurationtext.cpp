// The configuration key in a user's words.
#include "configurationtext.h"

#include <QRegularExpression>
#include <QStringList>

QString ConfigurationText(const QString& key) {
    static const QRegularExpression filter(QStringLiteral(R"(\$K(.*?)\$N(.*?)\$P-?\d+)"));
    QStringList filters;
    QString objective;
    QString camera;
    QString port;
    double rotation = 0.0;
    double zoom = 0.0;
    for (const QString& part : key.split('#', Qt::SkipEmptyParts)) {
        const QString value = part.mid(1);
        switch (part.at(0).toLatin1()) {
            case 'F': {
                QRegularExpressionMatchIterator it = filter.globalMatch(value);
                while (it.hasNext()) {
                    const QRegularExpressionMatch match = it.next();
                    filters << QStringLiteral("%1: %2").arg(match.captured(1), match.captured(2));
                }
                break;
            }
            case 'O':
                objective = value;
                break;
            case 'C':
                camera = value;
                break;
            case 'R':
                rotation = value.toDouble();
                break;
            case 'L':
                port = value;
                break;
            case 'Z':
                zoom = value.toDouble();
                break;
            default:
                break;
        }
    }
    QStringList text = filters.isEmpty() ? QStringList{"no filters"} : filters;
    text << (objective.isEmpty() ? QStringLiteral("no objective") : "objective: " + objective);
    QString cameraText = camera.isEmpty() ? QStringLiteral("unnamed camera") : "camera: " + camera;
    if (rotation != 0.0) {
        cameraText += QStringLiteral(" turned %1°").arg(rotation);
    }
    text << cameraText;
    if (!port.isEmpty()) {
        text << "TRAX port " + port;
    }
    if (zoom > 0.0) {
        text << QStringLiteral("zoom %1x").arg(zoom);
    }
    return text.join(", ");
}
