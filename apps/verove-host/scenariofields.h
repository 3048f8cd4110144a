// Reading the fields of a scenario file: each reader checks one JSON value and, when it is wrong,
// records one line naming the field by its path ("optics.scale", "devices.shutters[1].key").
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <limits>
#include <string>
#include <vector>

namespace scenariofields {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr long long kNoLimit = std::numeric_limits<long long>::max();

// The first problem found. Once it is set, the readers below only return defaults, so a reading
// function can go on to its end and the first problem is the one reported.
struct Problems {
    QString first;

    bool Fail(const QString& path, const QString& what) {
        if (first.isEmpty()) {
            first = path + QStringLiteral(": ") + what;
        }
        return false;
    }
    bool Ok() const { return first.isEmpty(); }
};

// The path of key inside path, and of entry index of the array at path.
QString Field(const QString& path, const QString& key);
QString Item(const QString& path, int index);
// A number as the messages show it: up to ten significant digits.
QString Text(double value);

// An object whose keys are all among known; any other key fails with unknown.
QJsonObject Object(Problems& p, const QJsonValue& value, const QString& path,
                   const QStringList& known,
                   const QString& unknown = QStringLiteral("unknown field"));
QJsonArray Array(Problems& p, const QJsonValue& value, const QString& path, int minimumSize = 0);
// A finite number in [low, high], and above 0 when positive is set.
double Real(Problems& p, const QJsonValue& value, const QString& path, double low, double high,
            bool positive = false);
long long Integer(Problems& p, const QJsonValue& value, const QString& path, long long low,
                  long long high = kNoLimit);
bool Boolean(Problems& p, const QJsonValue& value, const QString& path);
// A non-empty string.
std::wstring String(Problems& p, const QJsonValue& value, const QString& path);
// One of the choices, as its index.
int Choice(Problems& p, const QJsonValue& value, const QString& path, const QStringList& choices);
// Exactly count finite numbers; expected describes them for the message ("[x, y]").
std::vector<double> Reals(Problems& p, const QJsonValue& value, const QString& path, int count,
                          const QString& expected);
// At least one non-empty string.
std::vector<std::wstring> Strings(Problems& p, const QJsonValue& value, const QString& path);

}  // namespace scenariofields
