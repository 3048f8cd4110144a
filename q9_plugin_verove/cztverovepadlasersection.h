// The pad's laser lines: one record and one line widget per line of the associated light.
#pragma once

#include <QPointer>
#include <cstdint>
#include <functional>
#include <vector>

#include "cztverovesettings.h"
#include "zt/zt_gui.h"

class QObject;
class QWidget;
class CZtStimulationDeviceVerove;
class CZtVeroveLaserLine;
class CZtVerovePadUi;

// The device's associated light as the pad shows it.
struct SZtVerovePadLight {
    bool multiLaser = false;  // "IDeviceMultiLaser"; a single light shows no enable buttons
    std::vector<SZtVeroveLaserLine> lines;
};

// One line of the pad: its number and wavelength, whether it is shown, the used flag and power of
// each line group (0-2 S1-S3, 3 direct control) and its widget.
struct SZtVerovePadLaserLine {
    std::uint32_t line = 0;
    std::uint32_t wavelength = 0;
    bool enabled = true;
    bool used[ZT_STIM_GROUP_COUNT] = {false, false, false, false};
    double power[ZT_STIM_GROUP_COUNT] = {0.0, 0.0, 0.0, 0.0};
    QPointer<CZtVeroveLaserLine> widget;
};

// GUI thread only.
class CZtVerovePadLaserSection {
public:
    // ui and owner (the pad, parent of the line widgets) are borrowed.
    CZtVerovePadLaserSection(CZtVerovePadUi& ui, QWidget* owner);
    ~CZtVerovePadLaserSection();
    CZtVerovePadLaserSection(const CZtVerovePadLaserSection&) = delete;
    CZtVerovePadLaserSection& operator=(const CZtVerovePadLaserSection&) = delete;

    // The device's light now: no lines without a device or an associated light.
    static SZtVerovePadLight ReadLight(CZtStimulationDeviceVerove* device);
    // Whether the section shows that light's lines: same numbers, wavelengths and style.
    bool Shows(const SZtVerovePadLight& light) const;
    // Every line goes: its record and, deferred, its widget.
    void Clear();
    // A record and a widget for the line, shown or hidden as its visible flag says; the caller
    // connects the widget.
    CZtVeroveLaserLine* Add(const SZtVeroveLaserLine& values, bool simpleStyle);
    // Takes the values into the line's record and shows them without signals.
    void ShowValues(const SZtVeroveLaserLine& values);

    // What the pad does with its lines; connect wires a new line widget to the pad.
    using Connect = std::function<void(CZtVeroveLaserLine*)>;
    // Every line of the light, afresh.
    void Rebuild(const SZtVerovePadLight& light, const Connect& connect);
    // The light's line: its values when the section has it, else a new widget. True when added.
    bool AddOrShow(const SZtVerovePadLight& light, int line, const Connect& connect);
    // The values and visibility of the light's lines, which the section shows already.
    void Sync(const SZtVerovePadLight& light);
    // Shows or hides every control of the line; false without such a line.
    bool SetShown(std::uint32_t line, bool show);
    // The lines the device reports visible (without a device: the records' own flag).
    int CountShown(CZtStimulationDeviceVerove* device) const;
    // For a verification from the calibration dialog: when the device has no line used for S1
    // and no S1 power above 0, every shown line takes its direct-control use and power as S1's,
    // in its widget and in the device.
    void CopyDirectControlToS1(CZtStimulationDeviceVerove* device);
    // Enables the direct-control control of every line the device reports in use.
    void EnableDirectControls(CZtStimulationDeviceVerove* device, bool enabled);
    SZtVerovePadLaserLine* Find(std::uint32_t line);
    // The record whose widget is sender; null for any other object.
    SZtVerovePadLaserLine* FindByWidget(const QObject* sender);
    std::vector<SZtVerovePadLaserLine>& Lines() { return m_lines; }
    bool IsSimpleStyle() const { return m_simpleStyle; }
    void ApplyZoom(double zoom);

private:
    CZtVerovePadUi& m_ui;
    QPointer<QWidget> m_owner;
    std::vector<SZtVerovePadLaserLine> m_lines;
    bool m_simpleStyle = false;
};
