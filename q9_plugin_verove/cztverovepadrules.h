// What the pad offers in a given situation: the status line, which controls work and why not.
#pragma once

#include <QPointer>
#include <QString>
#include <vector>

#include "zt/zt_gui.h"
#include "zt/zt_string.h"

class QLabel;
class QWidget;
class CZtStimulationDeviceVerove;
class CZtVerovePadUi;

// The facts the pad's controls depend on.
struct SZtPadSituation {
    bool calibrationData = false;
    int calibrationState = 1;   // EZtCalibrationState
    QString configurationText;  // short form of the optical configuration; empty: no camera
    bool manual = false;        // the device's manual-stimulation flag
    bool pulse = false;         // the device's pulse flag
    QString lastPulseText;
    int group = 0;  // the checked group button, 0-2
    bool groupHasAreas = false;
    bool s1HasAreas = false;
    double durationMs = 0.0;  // the pad pulse duration
    QString pulseText;        // the pulse combo's current text
    bool autocalibrationRunning = false;
};

struct SZtControlState {
    bool enabled = true;
    QString tooltip;
};

struct SZtPadAvailability {
    QString pulseText;  // "Pulse" or "Abort"
    SZtControlState pulse, manual, match, patternCombo, patternManager, picker;
    // An open calibration dialog's stimulation button.
    bool calibrationStimulation = false;
};

// Thread-compatible: plain functions of their arguments.
class CZtVerovePadRules {
public:
    // The device's side of the situation; the pad adds what its widgets show.
    static SZtPadSituation Read(CZtStimulationDeviceVerove* device);
    // The status line: its text and its "style" property ("ok", "warning", "error").
    static QString StatusText(const SZtPadSituation& situation, QString* style);
    static SZtPadAvailability Availability(const SZtPadSituation& situation);
    // Gives the pad's widgets what Availability found.
    static void Apply(const SZtPadAvailability& availability, const CZtVerovePadUi& ui);
    // Sets the status line; the style sheet picks the colour by the "style" property, which
    // applies only after the label is polished again.
    static void ShowStatus(QLabel* label, const QString& text, const QString& style);
    // The grey-level picker's items: bits per mirror of item 0-2 (4, 6, 8; 1 for any other), the
    // count an item's text names (16, 64, 256; 0 for any other) and the text of a count.
    static int BitDepthOfItem(int item);
    static int LevelsOfText(const QString& text);
    static QString LevelsText(int levels);
    // The shutter chain as the pad's button shows it: the shutter's key when the chain has one,
    // else "Shutter"; enabled with a chain; checked while every shutter of the chain is open.
    static void ReadShutter(CZtStimulationDeviceVerove* device, CZtStringW* text, bool* enabled,
                            bool* open);
    // The widgets a disable mode switches off. 0; -4 with an empty list for an unknown mode.
    static int WidgetsToDisable(EZtDisableMode mode, const CZtVerovePadUi& ui,
                                std::vector<QPointer<QWidget>>* widgets);
};
