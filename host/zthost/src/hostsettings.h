// HostSettings: the host's view settings, GUI state, focus drive and objective calibrations.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "zt/zt_document.h"

// Thread-safe; every member is guarded by m_mutex.
class HostSettings {
public:
    static HostSettings& Instance();

    void SetGuiEnabled(bool enabled);
    bool GuiEnabled();

    void SetZStagePresent(bool present);
    bool ZStagePresent();
    int ShowFocusSetup();
    int FocusSetupCount();

    void SetMeasurementRoisShown(bool shown);
    bool MeasurementRoisShown();
    void SetRoiLabels(bool on);
    bool RoiLabels();
    void SetAutoLookUpTables(bool on);
    bool AutoLookUpTables();

    void SetObjective(const SZtObjective& objective);
    // The database's entry for the code; "Uncalibrated" without calibration when it has none.
    // The database's objective of code; false when it has none.
    bool FindObjective(const std::wstring& code, SZtObjective* objective);
    SZtObjective Objective(const std::wstring& code);
    void SetCameraZoom(double zoom);
    double CameraZoom();

    // Back to the start state.
    void Clear();

private:
    std::mutex m_mutex;
    bool m_guiEnabled = true;
    bool m_zStage = true;
    int m_focusSetups = 0;
    bool m_measurementRois = true;
    bool m_roiLabels = true;
    bool m_autoLookUpTables = true;
    std::map<std::wstring, SZtObjective> m_objectives;
    double m_cameraZoom = 1.0;
};
