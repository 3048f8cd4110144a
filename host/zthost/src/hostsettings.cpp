// The host's view settings, GUI state, focus drive and objective calibrations, with their
// exported functions (zt/zt_document.h, zt/zt_acquisition.h, zt/zt_util.h) and control side.
#include "hostsettings.h"

#include "hostcontext.h"
#include "zt/zt_devices.h"
#include "zt/zt_util.h"
#include "zthost/camera_control.h"

HostSettings& HostSettings::Instance() {
    static HostSettings* const settings = new HostSettings;
    return *settings;
}

void HostSettings::SetGuiEnabled(bool enabled) {
    std::lock_guard lock(m_mutex);
    m_guiEnabled = enabled;
}

bool HostSettings::GuiEnabled() {
    std::lock_guard lock(m_mutex);
    return m_guiEnabled;
}

void HostSettings::SetZStagePresent(bool present) {
    std::lock_guard lock(m_mutex);
    m_zStage = present;
}

bool HostSettings::ZStagePresent() {
    std::lock_guard lock(m_mutex);
    return m_zStage;
}

int HostSettings::ShowFocusSetup() {
    std::lock_guard lock(m_mutex);
    if (!m_zStage) {
        return -12;
    }
    ++m_focusSetups;
    return 0;
}

int HostSettings::FocusSetupCount() {
    std::lock_guard lock(m_mutex);
    return m_focusSetups;
}

void HostSettings::SetMeasurementRoisShown(bool shown) {
    std::lock_guard lock(m_mutex);
    m_measurementRois = shown;
}

bool HostSettings::MeasurementRoisShown() {
    std::lock_guard lock(m_mutex);
    return m_measurementRois;
}

void HostSettings::SetRoiLabels(bool on) {
    std::lock_guard lock(m_mutex);
    m_roiLabels = on;
}

bool HostSettings::RoiLabels() {
    std::lock_guard lock(m_mutex);
    return m_roiLabels;
}

void HostSettings::SetAutoLookUpTables(bool on) {
    std::lock_guard lock(m_mutex);
    m_autoLookUpTables = on;
}

bool HostSettings::AutoLookUpTables() {
    std::lock_guard lock(m_mutex);
    return m_autoLookUpTables;
}

void HostSettings::SetObjective(const SZtObjective& objective) {
    std::lock_guard lock(m_mutex);
    m_objectives[objective.code.Str()] = objective;
}

SZtObjective HostSettings::Objective(const std::wstring& code) {
    std::lock_guard lock(m_mutex);
    const auto found = m_objectives.find(code);
    if (found != m_objectives.end()) {
        return found->second;
    }
    SZtObjective unknown;
    unknown.code = code;
    unknown.name = L"Uncalibrated";
    return unknown;
}

bool HostSettings::FindObjective(const std::wstring& code, SZtObjective* objective) {
    std::lock_guard lock(m_mutex);
    const auto found = m_objectives.find(code);
    if (found == m_objectives.end()) {
        return false;
    }
    *objective = found->second;
    return true;
}

void HostSettings::SetCameraZoom(double zoom) {
    std::lock_guard lock(m_mutex);
    m_cameraZoom = zoom;
}

double HostSettings::CameraZoom() {
    std::lock_guard lock(m_mutex);
    return m_cameraZoom;
}

void HostSettings::Clear() {
    std::lock_guard lock(m_mutex);
    m_guiEnabled = true;
    m_zStage = true;
    m_focusSetups = 0;
    m_measurementRois = true;
    m_roiLabels = true;
    m_autoLookUpTables = true;
    m_objectives.clear();
    m_cameraZoom = 1.0;
}

// ---- Plug-in side ------------------------------------------------------------------------------

namespace {

// The objective code the first nosepiece stands at; empty without one.
std::wstring SelectedObjectiveCode() {
    DMApi* devices = HostContext::Instance().GetDeviceManager();
    int count = 0;
    if (!devices || devices->LogDev_GetCount(&count) != 0) {
        return {};
    }
    for (int i = 0; i < count; ++i) {
        ZT_DWORD id = 0;
        int type = 0;
        int position = 0;
        CZtStringW code;
        if (devices->LogDev_GetId(i, &id) == 0 && devices->LogDev_GetType(id, &type) == 0 &&
            type == ZT_LOGDEV_NOSEPIECE) {
            if (devices->Nosepiece_GetPosition(id, &position) == 0 &&
                devices->Nosepiece_GetObjectiveCode(id, position, &code) == 0) {
                return code.Str();
            }
            return {};
        }
    }
    return {};
}

}  // namespace

void Q9_EnableGUI(bool enable) {
    HostSettings::Instance().SetGuiEnabled(enable);
}

bool ZT_HasZStage() {
    return HostSettings::Instance().ZStagePresent();
}

int ZT_ShowFocusSetup() {
    return HostSettings::Instance().ShowFocusSetup();
}

int ZT_ShowMeasurementRois() {
    HostSettings::Instance().SetMeasurementRoisShown(true);
    return 0;
}

bool ZT_GetRoiLabels() {
    return HostSettings::Instance().RoiLabels();
}

void ZT_SetRoiLabels(bool on) {
    HostSettings::Instance().SetRoiLabels(on);
}

bool ZT_GetAutoLookUpTables() {
    return HostSettings::Instance().AutoLookUpTables();
}

void ZT_SetAutoLookUpTables(bool on) {
    HostSettings::Instance().SetAutoLookUpTables(on);
}

int ZT_GetSelectedObjective(SZtObjective* objective) {
    if (!objective) {
        return -4;
    }
    *objective = HostSettings::Instance().Objective(SelectedObjectiveCode());
    return 0;
}

int ZT_GetObjectiveByCode(const wchar_t* code, SZtObjective* objective) {
    if (!code || !objective) {
        return -4;
    }
    return HostSettings::Instance().FindObjective(code, objective) ? 0 : -5;
}

int ZT_GetCameraCalibrationZoom(double* zoom) {
    if (!zoom) {
        return -4;
    }
    *zoom = HostSettings::Instance().CameraZoom();
    return 0;
}

// ---- Control side ------------------------------------------------------------------------------

namespace zthost {

bool GuiEnabled() {
    return HostSettings::Instance().GuiEnabled();
}

void SetZStagePresent(bool present) {
    HostSettings::Instance().SetZStagePresent(present);
}

int FocusSetupCount() {
    return HostSettings::Instance().FocusSetupCount();
}

bool MeasurementRoisShown() {
    return HostSettings::Instance().MeasurementRoisShown();
}

void SetMeasurementRoisShown(bool shown) {
    HostSettings::Instance().SetMeasurementRoisShown(shown);
}

void SetObjective(const std::wstring& code, const std::wstring& name, double pixelSize,
                  double scaleBar) {
    SZtObjective objective;
    objective.code = code;
    objective.name = name;
    objective.m_attr.pixelSize = pixelSize;
    objective.m_attr.scaleBar = scaleBar;
    HostSettings::Instance().SetObjective(objective);
}

void SetCameraCalibrationZoom(double zoom) {
    HostSettings::Instance().SetCameraZoom(zoom);
}

}  // namespace zthost
