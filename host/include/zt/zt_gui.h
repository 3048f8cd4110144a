// The host's GUI services for device controls: zoom, colours, style sheets, exposure texts and
// the enumerations device controls share with the host.
#pragma once

#include <QColor>
#include <QMetaType>
#include <QString>

#include "zt/zt_export.h"

class QWidget;

// What the host's current state forbids in a device control. The host announces a change to the
// control elements; each control decides which of its widgets a mode switches off.
enum EZtDisableMode : int {
    ZtDisableNone = 0,
    // The whole control.
    ZtDisableAll = 1,
    // Settings that change what the camera sees (bit depth, camera region).
    ZtDisableSetup = 2,
    // Direct stimulation and everything that changes the light or the pattern.
    ZtDisableAcquisition = 3,
    // As ZtDisableAcquisition, but the pattern may still be chosen.
    ZtDisableAcquisitionKeepPattern = 4,
};

// The line groups of a laser-line control: the three stimulation groups and the direct control
// of the light.
enum EZtStimGroup : int {
    ZtStimGroupS1 = 0,
    ZtStimGroupS2 = 1,
    ZtStimGroupS3 = 2,
    ZtStimGroupDirect = 3,
};
constexpr int ZT_STIM_GROUP_COUNT = 4;

Q_DECLARE_METATYPE(EZtDisableMode)
Q_DECLARE_METATYPE(EZtStimGroup)

// GUI thread only, like every function of this header that touches a widget.

// The factor the user scales the host's controls by; 1.0 is 100 %. Controls hear of a change
// through CZtQtGUIControlElement::OnGuiZoomChanged.
ZTHOST_API double ZT_GetGUIZoom();

// The host's system colour of a Windows COLOR_* index (4 menu, 5 window, 8 window text, 13
// highlight, 15 button face, 17 grey text, ...); black for an index outside 0 ... 30.
ZTHOST_API QColor ZT_GetSysColor(int index);

// The colour a light of that wavelength (nanometres) looks to the eye, for laser-line controls;
// a neutral grey outside 380 ... 780 nm.
ZTHOST_API QColor ZT_WavelengthToRGB(double wavelengthNm);

// Loads a style sheet (a file or a ":/..." resource), replaces the host's colour variables in it
// ("@ColorOk", "@ColorWarning", ...; docs/host_gui.md lists them) and applies it to widget.
// 0; -4 for a null widget; -5 when the file cannot be read.
ZTHOST_API int ZT_LoadStyleSheet(QWidget* widget, const QString& path);

// Reads an exposure time a user typed: a decimal number ("." or "," before the decimals), then
// an optional unit "us"/"µs", "ms", "s" or "min" (any case, blanks allowed); no unit means
// milliseconds. Returns milliseconds with *ok true when the text reads and the time lies in
// minMs ... maxMs; otherwise fallbackMs with *ok false. ok may be null.
ZTHOST_API double ZT_TextToExposure(const QString& text, double fallbackMs, double minMs,
                                    double maxMs, bool* ok);
// Writes a time for a user: unitMs of 0.001, 1, 1000 or 60000 forces that unit; any other value
// picks the largest unit in which the number is at least 1 and needs at most three decimals.
// Trailing zeros are dropped ("1.5 s", "250 ms", "500 µs", "1 min").
ZTHOST_API QString ZT_ExposureToText(double ms, double unitMs);
