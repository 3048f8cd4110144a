// verove-host on scenarios drawn from seeds: optics, sensors, binning, camera regions and turns
// nobody chose by hand. Each session calibrates within a tenth of a pixel and puts the light on
// the drawn ROIs.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>

#include "scenariogenerator.h"

namespace {

const QString kHost = QStringLiteral(VEROVE_BIN_DIR "/verove-host");

double Number(const QString& text, const QString& pattern) {
    const QRegularExpressionMatch match = QRegularExpression(pattern).match(text);
    bool ok = false;
    const double value = match.hasMatch() ? match.captured(1).toDouble(&ok) : 0.0;
    return ok ? value : std::nan("");
}

// The smaller side of the ROI's bounding box, in displayed pixels.
double RoiSize(const QJsonObject& roi) {
    QJsonArray box =
        roi.contains("rectangle") ? roi["rectangle"].toArray() : roi["ellipse"].toArray();
    if (box.isEmpty()) {
        double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
        for (const QJsonValue& point : roi["polygon"].toArray()) {
            minX = std::min(minX, point[0].toDouble());
            maxX = std::max(maxX, point[0].toDouble());
            minY = std::min(minY, point[1].toDouble());
            maxY = std::max(maxY, point[1].toDouble());
        }
        return std::min(maxX - minX, maxY - minY);
    }
    return std::min(box[2].toDouble() - box[0].toDouble(), box[3].toDouble() - box[1].toDouble());
}

class GeneratedScenario : public ::testing::TestWithParam<int> {};

TEST_P(GeneratedScenario, CalibratesAndPlacesTheLight) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QJsonObject scenario = GenerateScenario(static_cast<std::uint64_t>(GetParam()));
    SCOPED_TRACE(scenario["description"].toString().toStdString());
    QFile file(folder.filePath("scenario.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(scenario).toJson());
    file.close();

    QProcess process;
    process.start(kHost, {"--scenario", file.fileName(), "--report", folder.filePath("report"),
                          "--log", folder.filePath("host.log")});
    ASSERT_TRUE(process.waitForFinished(900000));
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    ASSERT_EQ(process.exitCode(), 0) << out.toStdString() << err.toStdString();

    QFile reportFile(folder.filePath("report/report.md"));
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(reportFile.readAll());
    EXPECT_LE(Number(report, R"(\| Calibration residual RMS \(camera px\) \| (\S+) px)"), 0.1)
        << report.toStdString();
    EXPECT_LE(Number(report, R"(\| Calibration residual max \(camera px\) \| (\S+) px)"), 0.3)
        << report.toStdString();
    const QJsonObject groups = scenario["stimulation"].toObject();
    for (const QString& group : groups.keys()) {
        SCOPED_TRACE(group.toStdString());
        const double size = RoiSize(groups[group].toArray()[0].toObject());
        EXPECT_GE(
            Number(report, QStringLiteral(R"(\| Placement overlap %1 \| (\S+) %)").arg(group)),
            size >= 60.0 ? 95.0 : 90.0)
            << "ROI " << size << " px across\n"
            << report.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, GeneratedScenario, ::testing::Values(1, 2, 3));

}  // namespace
