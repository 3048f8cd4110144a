// Manual calibration of one device.
#include "cztmanualcalibration.h"

#include <algorithm>
#include <cmath>

#include "cztautocalibration.h"
#include "cztref.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "patterns.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_document.h"
#include "zt/zt_grabber.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_util.h"

namespace {

// The host's live mode for a device's set-up.
constexpr int kCalibrationLiveMode = 2;
// The device's calibration mode indicator while a manual calibration runs.
constexpr int kManualMode = 2;

}  // namespace

CZtManualCalibration::CZtManualCalibration(CZtStimulationDeviceVerove* device) : m_pDevice(device) {
    m_container.Clear();
}

bool CZtManualCalibration::HasResult() const {
    return m_container.m_pdResultDMDToCam.size() == 9 && m_container.m_pdResultCamToDMD.size() == 9;
}

int CZtManualCalibration::Init() {
    IZtGrabberProvider* grabber = m_pDevice->GetGrabberProvider();
    if (!grabber) {
        ZT_MessageBox_(nullptr,
                       ZT_GetTranslation(L"Calibration failed: no camera connected!").GetString(),
                       ZT_GetTranslation(L"Error").GetString(), ZT_MB_OK | ZT_MB_ICONERROR);
        return VeroveStatus::kRefused;
    }
    m_pDevice->SetCalibrationMode(kManualMode);
    m_bApplied = false;
    _SZtACContainer& c = m_container;
    c.Clear();
    c.m_pdResultDMDToCam.clear();
    c.m_pdResultCamToDMD.clear();
    c.m_fit = SZtCalibrationFit();
    c.m_bLiveWasOn = ZT_IsLive();
    c.m_iLiveMode = ZT_GetLiveMode();
    c.m_bPictureExisted = ZT_HasLiveOrFrozenDocument();
    bool roiOn = false;
    c.m_bROIWasOn = grabber->CameraRoiIsOn(&roiOn) == 0 && roiOn;
    c.m_iSavedBitDepth = m_pDevice->GetBitDepth();
    ZT_GetGrabberPictureMetadata(&c.m_metadata);
    int cameraIndex = 0;
    grabber->SecGrabber_GetActive(&cameraIndex);
    c.m_uiCameraIndex = static_cast<std::uint32_t>(cameraIndex);
    ZT_DWORD active = 0;
    m_pDevice->GetActivePatternId(&active);
    c.m_iSavedActivePattern = static_cast<std::int32_t>(active);
    c.m_dmdPoints.clear();
    c.m_cameraPoints.clear();
    m_bSession = true;

    m_pDevice->SetBitDepth(1, false);
    if (c.m_bROIWasOn) {
        grabber->CameraRoiEnable(false);
    }
    if (c.m_bPictureExisted) {
        ZT_ShowMeasurementRois();
    }
    c.m_bROILabels = ZT_GetRoiLabels();
    m_pDevice->SetAssociatedShuttersOpenState(true);
    return ZT_LiveStart(kCalibrationLiveMode);
}

int CZtManualCalibration::AddPair(const SZtPointD& dmd, const SZtPointD& camera) {
    m_container.m_dmdPoints.push_back(dmd);
    m_container.m_cameraPoints.push_back(camera);
    return m_container.m_dmdPoints.size() == m_container.m_cameraPoints.size()
               ? 0
               : VeroveStatus::kRefused;
}

void CZtManualCalibration::ClearPairs() {
    m_container.m_dmdPoints.clear();
    m_container.m_cameraPoints.clear();
}

int CZtManualCalibration::DisplayRectangleAtPos(const SZtPointD& point, int halfSize) {
    const char* function = "CZtStimulationDeviceVerove::DisplayRectangleAtPos";
    CZtVeroveDriver* driver = m_pDevice->GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"No driver, aborting...");
        return VeroveStatus::kRefused;
    }
    const int width = driver->GetDmdWidth();
    const int height = driver->GetDmdHeight();
    if (halfSize < 1) {
        VEROVE_LOG(function, L"Invalid rectangle size, aborting...");
        return VeroveStatus::kInvalidArgument;
    }
    if (point.x < 0 || point.y < 0 || point.x >= width || point.y >= height) {
        VEROVE_LOG(function, L"Requested square out of DMD bounds, aborting...");
        return VeroveStatus::kInvalidArgument;
    }
    const long left = std::max(0L, std::lround(point.x - halfSize));
    const long top = std::max(0L, std::lround(point.y - halfSize));
    const long right = std::min<long>(width, std::lround(point.x + halfSize));
    const long bottom = std::min<long>(height, std::lround(point.y + halfSize));
    if (right <= left || bottom <= top) {
        VEROVE_LOG(function, L"Requested square has zero area, aborting...");
        return VeroveStatus::kRefused;
    }
    m_pDevice->SetCalibrationInProgress(true);
    SZtPicBuf frame;
    const int allocated = CZtPicBufAPI::Alloc(&frame, static_cast<std::uint32_t>(width),
                                              static_cast<std::uint32_t>(height), 8, 1);
    if (allocated != 0) {
        return allocated;
    }
    for (long y = top; y < bottom; ++y) {
        std::fill_n(frame.data + y * frame.stride + left, right - left, std::uint8_t{255});
    }
    CZtPattern square(
        CZtStringW(ZT_FormatW(L"Rectangle(x=%d,y=%d,size=%d)", static_cast<int>(point.x),
                              static_cast<int>(point.y), halfSize)
                       .c_str()),
        static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    square.SetBitmap(&frame);
    square.SetMapping(0);
    CZtLock lock(driver->GetExposeLock());
    driver->StopPattern();
    const int uploaded = driver->UploadPattern(0, &square);
    driver->StartPattern();
    driver->NextPattern();
    return uploaded;
}

int CZtManualCalibration::ValidationPhase() {
    const char* function = "CZtStimulationDeviceVerove::OnManualcalibrationValidationPhase";
    _SZtACContainer& c = m_container;
    CZtVeroveDriver* driver = m_pDevice->GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"End - failure");
        return VeroveStatus::kRefused;
    }
    c.m_pdResultDMDToCam.clear();
    c.m_pdResultCamToDMD.clear();
    c.m_fit = SZtCalibrationFit();
    CZtMatrix3 dmdToCamera{};
    CZtMatrix3 cameraToDmd{};
    const int fitted =
        CZtAutocalibration::FitPairs(m_pDevice, c.m_dmdPoints, c.m_cameraPoints, &dmdToCamera,
                                     &cameraToDmd, &c.m_fit, kMinimumPairs);
    if (fitted == 0) {
        c.m_pdResultDMDToCam.assign(dmdToCamera.begin(), dmdToCamera.end());
        c.m_pdResultCamToDMD.assign(cameraToDmd.begin(), cameraToDmd.end());
        VEROVE_LOG(function,
                   L"Calibration fit: %u pairs used of %u; residual on its own pairs %.3f px "
                   L"rms, %.3f px max (camera pixels)",
                   static_cast<unsigned>(c.m_fit.pairs),
                   static_cast<unsigned>(c.m_dmdPoints.size()), c.m_fit.rms, c.m_fit.max);
    } else {
        VEROVE_LOG(function, L"No calibration computed from %u pairs, res = %d",
                   static_cast<unsigned>(c.m_dmdPoints.size()), fitted);
    }
    driver->SetOperationMode(0);
    driver->SetTriggerMode(1);
    ZT_LiveStart(kCalibrationLiveMode);
    if (const auto capture =
            CZtRef<IZtDocument>::Adopt(ZT_FindCaptureDocument(c.m_uiCameraIndex))) {
        capture->ActivateView(0);
    }
    CZtCalibrationData* calibration = m_pDevice->GetCalibrationData();
    if (calibration && HasResult()) {
        calibration->SetCalibrationCamToDMD(cameraToDmd);
        calibration->SetCalibrationDMDToCam(dmdToCamera);
        m_bApplied = true;
    }
    m_pDevice->RefreshPad();
    const auto current = CZtRef<IZtDocument>::Adopt(ZT_GetCurrentDocument());
    if (!current) {
        VEROVE_LOG(function, L"End - failure");
        return VeroveStatus::kRefused;
    }
    current->ClearAllRois(L"Clear all ROIs");
    CZtAutocalibration::AddVerificationRoi(m_pDevice);
    return 0;
}

int CZtManualCalibration::Restore() {
    _SZtACContainer& c = m_container;
    if (IZtGrabberProvider* grabber = m_pDevice->GetGrabberProvider()) {
        grabber->CameraRoiEnable(c.m_bROIWasOn);
    }
    m_pDevice->SetBitDepth(c.m_iSavedBitDepth, false);
    // The squares were shown past the pattern store, which still names the pattern shown before.
    if (CZtVeroveDriver* driver = m_pDevice->GetDriver()) {
        driver->ExposePattern(0, true);
        driver->ExposePattern(c.m_iSavedActivePattern, true);
    }
    return 0;
}

int CZtManualCalibration::End(bool apply) {
    const char* function = "CZtStimulationDeviceVerove::OnManualCalibrationEnd";
    VEROVE_LOG(function, L"Start - bApply = %d", apply ? 1 : 0);
    if (!m_bSession) {
        VEROVE_LOG(function, L"End, res = %d", 0);
        return 0;
    }
    m_bSession = false;
    _SZtACContainer& c = m_container;
    Restore();
    CZtVeroveDriver* driver = m_pDevice->GetDriver();
    if (apply && driver && HasResult()) {
        CZtMatrix3 dmdToCamera{};
        CZtMatrix3 cameraToDmd{};
        std::copy(c.m_pdResultDMDToCam.begin(), c.m_pdResultDMDToCam.end(), dmdToCamera.begin());
        std::copy(c.m_pdResultCamToDMD.begin(), c.m_pdResultCamToDMD.end(), cameraToDmd.begin());
        driver->SetCalibrationMatrices(dmdToCamera, cameraToDmd);
    } else if (m_bApplied && driver) {
        // The matrices validation applied unsaved must not stay behind a Cancel.
        driver->ReloadCalibration();
    }
    m_bApplied = false;
    int result = VeroveStatus::kRefused;
    if (!c.m_bLiveWasOn) {
        result = ZT_Freeze();
        ZT_CloseCurrentDocument();
    } else {
        // Live goes on in the mode the user had.
        ZT_LiveStart(c.m_iLiveMode);
    }
    if (apply) {
        m_pDevice->RefreshPad();
    }
    ZT_SetRoiLabels(c.m_bROILabels);
    m_pDevice->SetCalibrationMode(0);
    // A dialog clears the in-progress mark again as it goes; a calibration driven through the
    // device's operations alone has none, so End clears it too.
    m_pDevice->SetCalibrationInProgress(false);
    VEROVE_LOG(function, L"End, res = %d", result);
    return result;
}
