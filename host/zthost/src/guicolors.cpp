// The host's colours: system colours, the colour of a wavelength and the colour variables of
// style sheets.
#include "guicolors.h"

#include <QFile>
#include <QRegularExpression>
#include <QWidget>
#include <array>
#include <cmath>

#include "zt/zt_gui.h"
#include "zt/zt_log.h"

namespace {

// The host's dark theme, by Windows COLOR_* index.
constexpr std::array<QRgb, 31> kSysColors = {
    0x3c3c3c,  // 0 scroll bar
    0x1e1e1e,  // 1 desktop
    0x2d5b8a,  // 2 active caption
    0x3a3a3a,  // 3 inactive caption
    0x5a5a5a,  // 4 menu
    0x2b2b2b,  // 5 window
    0x1a1a1a,  // 6 window frame
    0xe0e0e0,  // 7 menu text
    0xe0e0e0,  // 8 window text
    0xffffff,  // 9 caption text
    0x5a5a5a,  // 10 active border
    0x3a3a3a,  // 11 inactive border
    0x202020,  // 12 application workspace
    0x3c8dde,  // 13 highlight
    0xffffff,  // 14 highlight text
    0x3a3a3a,  // 15 button face
    0x262626,  // 16 button shadow
    0x8c8c8c,  // 17 grey text
    0xe0e0e0,  // 18 button text
    0xa0a0a0,  // 19 inactive caption text
    0x5a5a5a,  // 20 button highlight
    0x141414,  // 21 3D dark shadow
    0x4a4a4a,  // 22 3D light
    0x000000,  // 23 info text
    0xffffe1,  // 24 info background
    0x000000,  // 25 unused
    0x5aa0ff,  // 26 hot light
    0x3c6ea0,  // 27 gradient of the active caption
    0x444444,  // 28 gradient of the inactive caption
    0x3c8dde,  // 29 menu highlight
    0x2b2b2b,  // 30 menu bar
};

struct SColorVariable {
    const char* name;
    int sysIndex;  // a system colour, or -1 for the colour of its own
    QRgb rgb;
};

// The variables style sheets use.
constexpr std::array<SColorVariable, 11> kVariables = {{
    {"ColorWindow", 5, 0},
    {"ColorWindowText", 8, 0},
    {"ColorButton", 15, 0},
    {"ColorButtonText", 18, 0},
    {"ColorHighlight", 13, 0},
    {"ColorHighlightText", 14, 0},
    {"ColorDisabledText", 17, 0},
    {"ColorFrame", 10, 0},
    {"ColorOk", -1, 0x4caf50},
    {"ColorWarning", -1, 0xe0a030},
    {"ColorError", -1, 0xe04040},
}};

}  // namespace

QColor ZT_GetSysColor(int index) {
    if (index < 0 || index >= static_cast<int>(kSysColors.size())) {
        return QColor(Qt::black);
    }
    return QColor(kSysColors[static_cast<size_t>(index)]);
}

// Piecewise-linear approximation of the visible spectrum, dimmed towards its ends where the eye
// sees little, with the display's gamma of 0.8.
QColor ZT_WavelengthToRGB(double nm) {
    if (!(nm >= 380.0 && nm <= 780.0)) {
        return QColor(0xa0, 0xa0, 0xa0);
    }
    double r = 0.0, g = 0.0, b = 0.0;
    if (nm < 440.0) {
        r = (440.0 - nm) / 60.0;
        b = 1.0;
    } else if (nm < 490.0) {
        g = (nm - 440.0) / 50.0;
        b = 1.0;
    } else if (nm < 510.0) {
        g = 1.0;
        b = (510.0 - nm) / 20.0;
    } else if (nm < 580.0) {
        r = (nm - 510.0) / 70.0;
        g = 1.0;
    } else if (nm < 645.0) {
        r = 1.0;
        g = (645.0 - nm) / 65.0;
    } else {
        r = 1.0;
    }
    double factor = 1.0;
    if (nm < 420.0) {
        factor = 0.3 + 0.7 * (nm - 380.0) / 40.0;
    } else if (nm > 700.0) {
        factor = 0.3 + 0.7 * (780.0 - nm) / 80.0;
    }
    const auto level = [factor](double c) {
        return c <= 0.0 ? 0 : static_cast<int>(std::lround(255.0 * std::pow(c * factor, 0.8)));
    };
    return QColor(level(r), level(g), level(b));
}

QString ReplaceColorVariables(const QString& styleSheet) {
    static const QRegularExpression variable(QStringLiteral("@([A-Za-z][A-Za-z0-9]*)"));
    QString result;
    int last = 0;
    QRegularExpressionMatchIterator it = variable.globalMatch(styleSheet);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        result += styleSheet.mid(last, match.capturedStart() - last);
        last = match.capturedEnd();
        const QString name = match.captured(1);
        bool known = false;
        for (const SColorVariable& v : kVariables) {
            if (name == QLatin1String(v.name)) {
                result += (v.sysIndex >= 0 ? ZT_GetSysColor(v.sysIndex) : QColor(v.rgb)).name();
                known = true;
                break;
            }
        }
        if (!known) {
            ZT_DIAG_OUTPUT(L"zthost %hs: unknown colour variable @%s", "ZT_LoadStyleSheet",
                           name.toStdWString().c_str());
            result += match.captured(0);
        }
    }
    result += styleSheet.mid(last);
    return result;
}

int ZT_LoadStyleSheet(QWidget* widget, const QString& path) {
    if (!widget) {
        return -4;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ZT_DIAG_OUTPUT(L"zthost %hs: cannot read %s", "ZT_LoadStyleSheet",
                       path.toStdWString().c_str());
        return -5;
    }
    widget->setStyleSheet(ReplaceColorVariables(QString::fromUtf8(file.readAll())));
    return 0;
}
