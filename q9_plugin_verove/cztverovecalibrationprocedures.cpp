// The device's calibration procedures and the check of its optical configuration.
#include "cztverovecalibrationprocedures.h"

#include <cmath>

#include "cztstimulationdeviceverove.h"
#include "cztverovepadwrapper.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_camera.h"
#include "zt/zt_devices.h"
#include "zt/zt_macro.h"

int CZtVeroveCalibrationProcedures::CheckConfigurationDataAndUpdateCalibration(bool* changed) {
    const char* function = "CZtStimulationDeviceVerove::CheckConfigurationDataAndUpdateCalibration";
    bool calibrationChanged = false;
    if (m_device.m_calibrationInProgress.load()) {
        if (changed) {
            *changed = false;
        }
        VEROVE_LOG(function, L"Aborting, autocalibration in progress...");
        return VeroveStatus::kRefused;
    }
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"End - Fail");
        return VeroveStatus::kNoDriver;
    }
    DMApi* devices = m_device.DeviceManager();
    CZtCalibrationData* calibration = m_device.GetCalibrationData();
    std::vector<ZT_DWORD> ids;
    int count = 0;
    if (devices && devices->LogDev_GetCount(&count) == 0) {
        for (int i = 0; i < count; ++i) {
            ZT_DWORD id = 0;
            if (devices->LogDev_GetId(i, &id) == 0) {
                ids.push_back(id);
            }
        }
    }
    CZtConfigurationData fresh;
    if (calibration && !ids.empty() &&
        FillConfigurationData(devices, m_device.GetGrabberProvider(), ids.data(),
                              static_cast<int>(ids.size()), &fresh,
                              driver->IsTRAXConnected()) == 0) {
        const std::wstring previous = calibration->GetCurrentConfigurationString();
        const SZtRect rect = calibration->GetCameraRect();
        const double rotation = std::round(calibration->GetCameraRotation());
        // The driver follows the notice and hands the calibration the camera's new geometry.
        ZT_CameraFormatChanged();
        const bool rotationChanged = calibration->GetCameraRotation() != rotation;
        const SZtRect newRect = calibration->GetCameraRect();
        const bool rectChanged = newRect.left != rect.left || newRect.top != rect.top ||
                                 newRect.right != rect.right || newRect.bottom != rect.bottom;
        const auto port = static_cast<std::int32_t>(m_device.m_traxPortA.load());
        if (fresh.IsTRAXConnected() != driver->IsTRAXConnected() ||
            (fresh.IsTRAXConnected() && fresh.GetConnectionPort() != port)) {
            fresh.SetTRAXConnected(driver->IsTRAXConnected());
            fresh.AddConnectionPort(port);
        }
        if (fresh.GetConfigurationString() != previous || rotationChanged || rectChanged) {
            *calibration->LockCurrentConfiguration() = fresh;
            calibration->UnlockCurrentConfiguration();
            calibration->LoadCalibration(&calibrationChanged);
            if (calibrationChanged || rotationChanged || rectChanged) {
                driver->InvalidateCameraMappedPatterns();
                int current = 0;
                bool cameraMapped = false;
                {
                    CZtLock lock(driver->GetBufferLock());
                    CZtPatternStore& store = driver->GetPatterns();
                    current = store.GetCurrentId();
                    const CZtPattern* pattern = store.FindById(static_cast<std::uint32_t>(current));
                    cameraMapped = pattern && pattern->GetMapping() == 1;
                }
                if (cameraMapped) {
                    driver->ExposePattern(current, false);
                }
                m_device.RefreshPad();
            }
        }
    }
    if (changed) {
        *changed = calibrationChanged;
    }
    VEROVE_LOG(function, L"End - OK, calibration changed = %d", calibrationChanged ? 1 : 0);
    return 0;
}

int CZtVeroveCalibrationProcedures::OnAutocalibrationInit() {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnAutocalibrationInit", L"Start");
    return m_device.m_autocalibration->Init();
}

int CZtVeroveCalibrationProcedures::OnManualCalibrationInit() {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnManualCalibrationInit", L"Start");
    return m_device.m_manualCalibration->Init();
}

int CZtVeroveCalibrationProcedures::AutocalibrationRun() {
    VEROVE_LOG("CZtStimulationDeviceVerove::AutocalibrationRun", L"Start");
    return m_device.m_autocalibration->Run();
}

int CZtVeroveCalibrationProcedures::OnAutocalibrationEnd(bool apply) {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnAutocalibrationEnd", L"Start");
    return m_device.m_autocalibration->End(apply);
}

int CZtVeroveCalibrationProcedures::OnManualCalibrationEnd(bool apply) {
    return m_device.m_manualCalibration->End(apply);
}

int CZtVeroveCalibrationProcedures::OnAutocalibrationValidationPhase() {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnAutocalibrationValidationPhase", L"Start");
    return m_device.m_autocalibration->ValidationPhase();
}

int CZtVeroveCalibrationProcedures::OnManualcalibrationValidationPhase() {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnManualcalibrationValidationPhase", L"Start");
    return m_device.m_manualCalibration->ValidationPhase();
}

void CZtVeroveCalibrationProcedures::SetCalibrated(EZtCalibrationState state) {
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (state == NotCalibrated && driver && !driver->IsSyncingCameraROI()) {
        driver->SyncCameraROI(false);
    }
    // Light placed through a calibration that no longer applies would miss its areas: a running
    // manual shot ends through the macro layer, and the host's protocol keeps the line.
    if (state == NotCalibrated) {
        m_device.m_run.EndManualShotThroughMacro();
    }
    if (m_device.m_padWrapper) {
        m_device.m_padWrapper->StimulationState();
    }
    m_device.m_lightPath->SendStateReport();
}
