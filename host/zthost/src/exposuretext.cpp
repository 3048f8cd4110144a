// Exposure times as users type and read them: ZT_TextToExposure and ZT_ExposureToText.
#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <cmath>

#include "zt/zt_gui.h"

namespace {

struct SUnit {
    const char16_t* name;
    double ms;
};

// Largest first: the writer tries them in this order.
constexpr std::array<SUnit, 4> kUnits = {{
    {u"min", 60000.0},
    {u"s", 1000.0},
    {u"ms", 1.0},
    {u"\u00b5s", 0.001},
}};

// The unit's length in milliseconds; 0 for an unknown unit. Empty means milliseconds.
double UnitMs(const QString& unit) {
    const QString u = unit.toLower();
    if (u.isEmpty() || u == QLatin1String("ms")) {
        return 1.0;
    }
    if (u == QLatin1String("s")) {
        return 1000.0;
    }
    if (u == QLatin1String("min")) {
        return 60000.0;
    }
    if (u == QLatin1String("us") || u == QStringLiteral("\u00b5s") ||
        u == QStringLiteral("\u03bcs")) {
        return 0.001;
    }
    return 0.0;
}

// The value with at most three decimals and no trailing zeros.
QString Number(double value) {
    QString text = QString::number(value, 'f', 3);
    while (text.endsWith(QLatin1Char('0'))) {
        text.chop(1);
    }
    if (text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    return text;
}

// Whether value needs at most three decimals.
bool ThreeDecimals(double value) {
    const double scaled = value * 1000.0;
    return std::fabs(scaled - std::round(scaled)) < 1e-6 * std::max(1.0, std::fabs(scaled));
}

}  // namespace

double ZT_TextToExposure(const QString& text, double fallbackMs, double minMs, double maxMs,
                         bool* ok) {
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\d+(?:[.,]\\d*)?|[.,]\\d+)\\s*([A-Za-z\u00b5\u03bc]*)\\s*$"));
    if (ok) {
        *ok = false;
    }
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        return fallbackMs;
    }
    QString number = match.captured(1);
    number.replace(QLatin1Char(','), QLatin1Char('.'));
    bool read = false;
    const double value = QLocale::c().toDouble(number, &read);
    const double unit = UnitMs(match.captured(2));
    if (!read || unit == 0.0) {
        return fallbackMs;
    }
    const double ms = value * unit;
    if (!(ms >= minMs && ms <= maxMs)) {
        return fallbackMs;
    }
    if (ok) {
        *ok = true;
    }
    return ms;
}

QString ZT_ExposureToText(double ms, double unitMs) {
    for (const SUnit& unit : kUnits) {
        if (unitMs == unit.ms) {
            return Number(ms / unit.ms) + QLatin1Char(' ') + QString::fromUtf16(unit.name);
        }
    }
    for (const SUnit& unit : kUnits) {
        const double value = ms / unit.ms;
        if (value >= 1.0 && ThreeDecimals(value)) {
            return Number(value) + QLatin1Char(' ') + QString::fromUtf16(unit.name);
        }
    }
    // Below a microsecond, or no unit reads exactly: the nearest microseconds.
    return Number(ms / 0.001) + QStringLiteral(" \u00b5s");
}
