// Reading the fields of a scenario file: each reader checks one JSON value and names it by its
// path when it is wrong.
#include "scenariofields.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace scenariofields {

QString Field(const QString& path, const QString& key) {
    return path.isEmpty() ? key : path + '.' + key;
}

QString Item(const QString& path, int index) {
    return QStringLiteral("%1[%2]").arg(path).arg(index);
}

QString Text(double value) {
    return QString::number(value, 'g', 10);
}

QJsonObject Object(Problems& p, const QJsonValue& value, const QString& path,
                   const QStringList& known, const QString& unknown) {
    if (!p.Ok()) {
        return {};
    }
    if (value.isUndefined()) {
        p.Fail(path, QStringLiteral("missing"));
        return {};
    }
    if (!value.isObject()) {
        p.Fail(path, QStringLiteral("expected an object"));
        return {};
    }
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key())) {
            p.Fail(Field(path, it.key()), unknown);
            return {};
        }
    }
    return object;
}

QJsonArray Array(Problems& p, const QJsonValue& value, const QString& path, int minimumSize) {
    if (!p.Ok()) {
        return {};
    }
    if (value.isUndefined()) {
        p.Fail(path, QStringLiteral("missing"));
    } else if (!value.isArray()) {
        p.Fail(path, QStringLiteral("expected an array"));
    } else if (value.toArray().size() < minimumSize) {
        p.Fail(path, minimumSize == 1
                         ? QStringLiteral("expected at least one entry")
                         : QStringLiteral("expected at least %1 entries").arg(minimumSize));
    } else {
        return value.toArray();
    }
    return {};
}

double Real(Problems& p, const QJsonValue& value, const QString& path, double low, double high,
            bool positive) {
    if (!p.Ok()) {
        return 0.0;
    }
    if (value.isUndefined()) {
        p.Fail(path, QStringLiteral("missing"));
        return 0.0;
    }
    const double number = value.toDouble();
    if (value.isDouble() && std::isfinite(number) && number >= low && number <= high &&
        (!positive || number > 0.0)) {
        return number;
    }
    if (positive && high == kInfinity) {
        p.Fail(path, QStringLiteral("expected a positive number"));
    } else if (positive) {
        p.Fail(path, QStringLiteral("expected a positive number up to %1").arg(Text(high)));
    } else if (low == -kInfinity && high == kInfinity) {
        p.Fail(path, QStringLiteral("expected a number"));
    } else if (high == kInfinity) {
        p.Fail(path, QStringLiteral("expected a number of at least %1").arg(Text(low)));
    } else {
        p.Fail(path, QStringLiteral("expected a number from %1 to %2").arg(Text(low), Text(high)));
    }
    return 0.0;
}

long long Integer(Problems& p, const QJsonValue& value, const QString& path, long long low,
                  long long high) {
    if (!p.Ok()) {
        return low;
    }
    if (value.isUndefined()) {
        p.Fail(path, QStringLiteral("missing"));
        return low;
    }
    const double number = value.toDouble();
    if (value.isDouble() && std::isfinite(number) && number == std::floor(number) &&
        number >= static_cast<double>(low) && number <= static_cast<double>(high)) {
        return static_cast<long long>(number);
    }
    if (high != kNoLimit) {
        p.Fail(path, QStringLiteral("expected an integer from %1 to %2").arg(low).arg(high));
    } else if (low == 1) {
        p.Fail(path, QStringLiteral("expected a positive integer"));
    } else {
        p.Fail(path, QStringLiteral("expected an integer of at least %1").arg(low));
    }
    return low;
}

bool Boolean(Problems& p, const QJsonValue& value, const QString& path) {
    if (p.Ok() && !value.isBool()) {
        p.Fail(path, value.isUndefined() ? QStringLiteral("missing")
                                         : QStringLiteral("expected true or false"));
    }
    return value.toBool();
}

std::wstring String(Problems& p, const QJsonValue& value, const QString& path) {
    if (p.Ok() && (!value.isString() || value.toString().isEmpty())) {
        p.Fail(path, value.isUndefined() ? QStringLiteral("missing")
                                         : QStringLiteral("expected a non-empty string"));
    }
    return value.toString().toStdWString();
}

int Choice(Problems& p, const QJsonValue& value, const QString& path, const QStringList& choices) {
    const int index = choices.indexOf(value.toString());
    if (p.Ok() && (!value.isString() || index < 0)) {
        QStringList quoted;
        for (const QString& choice : choices) {
            quoted << '"' + choice + '"';
        }
        const QString last = quoted.takeLast();
        p.Fail(path, value.isUndefined()
                         ? QStringLiteral("missing")
                         : QStringLiteral("expected %1 or %2").arg(quoted.join(", "), last));
    }
    return std::max(index, 0);
}

std::vector<double> Reals(Problems& p, const QJsonValue& value, const QString& path, int count,
                          const QString& expected) {
    std::vector<double> numbers;
    if (!p.Ok()) {
        return std::vector<double>(count, 0.0);
    }
    if (value.isUndefined()) {
        p.Fail(path, QStringLiteral("missing"));
    } else if (value.isArray() && value.toArray().size() == count) {
        for (const QJsonValue& item : value.toArray()) {
            if (!item.isDouble() || !std::isfinite(item.toDouble())) {
                break;
            }
            numbers.push_back(item.toDouble());
        }
    }
    if (static_cast<int>(numbers.size()) != count) {
        p.Fail(path, "expected " + expected);
        numbers.assign(count, 0.0);
    }
    return numbers;
}

std::vector<std::wstring> Strings(Problems& p, const QJsonValue& value, const QString& path) {
    std::vector<std::wstring> strings;
    const QJsonArray array = Array(p, value, path, 1);
    for (int i = 0; i < array.size(); ++i) {
        strings.push_back(String(p, array[i], Item(path, i)));
    }
    return strings;
}

}  // namespace scenariofields
