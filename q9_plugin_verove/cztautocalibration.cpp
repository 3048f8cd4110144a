// Auto-calibration of one device.
#include "cztautocalibration.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "cztautocalibrationdialog.h"
#include "cztref.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_document.h"
#include "zt/zt_grabber.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_roi.h"
#include "zt/zt_util.h"

namespace {

constexpr int kMaxAttempts = 1001;
constexpr size_t kMaxPositions = 138;
constexpr int kBorder = 10;
constexpr double kMinDistance = 10.0;
constexpr double kHalfSquare = 5.0;
constexpr double kProgressPerPair = 3.0;
// The host's live mode for a device's set-up.
constexpr int kCalibrationLiveMode = 2;
// The title of the document and view that show the frames.
constexpr const wchar_t* kCalibrationTitle = L"DMD Calibration";

// Lights, at the picture's top value in every component, the 10 x 10 square centred on centre
// after both are scaled by (scaleX, scaleY); bounds rounded half away from zero, clipped.
void DrawSquare(SZtPicBuf* picture, const SZtPointD& centre, double scaleX, double scaleY) {
    const long left = std::max(0L, std::lround((centre.x - kHalfSquare) * scaleX));
    const long top = std::max(0L, std::lround((centre.y - kHalfSquare) * scaleY));
    const long right =
        std::min<long>(picture->width, std::lround((centre.x + kHalfSquare) * scaleX));
    const long bottom =
        std::min<long>(picture->height, std::lround((centre.y + kHalfSquare) * scaleY));
    const std::uint32_t lit = (1u << picture->bitsPerComponent) - 1;
    for (long y = top; y < bottom; ++y) {
        for (long x = left; x < right; ++x) {
            for (std::uint32_t k = 0; k < picture->components; ++k) {
                CZtPicBufAPI::SetValue(picture, static_cast<std::uint32_t>(x),
                                       static_cast<std::uint32_t>(y), lit, k);
            }
        }
    }
}

}  // namespace

CZtAutocalibration::CZtAutocalibration(CZtStimulationDeviceVerove* device) : m_pDevice(device) {
    m_container.Clear();
}

CZtAutocalibration::~CZtAutocalibration() {
    Abort();
}

std::vector<SZtPointD> CZtAutocalibration::RandomPositions(int width, int height) {
    std::vector<SZtPointD> points;
    if (width < 1 || height < 1) {
        return points;
    }
    for (int attempt = 0; attempt < kMaxAttempts && points.size() < kMaxPositions; ++attempt) {
        const int x = std::rand() % width;
        const int y = std::rand() % height;
        if (x < kBorder || x > width - kBorder || y < kBorder || y > height - kBorder) {
            continue;
        }
        const bool apart = std::all_of(points.begin(), points.end(), [&](const SZtPointD& p) {
            return std::hypot(p.x - x, p.y - y) >= kMinDistance;
        });
        if (apart) {
            points.push_back({static_cast<double>(x), static_cast<double>(y)});
        }
    }
    return points;
}

int CZtAutocalibration::ShowSquare(CZtVeroveDriver* driver, int width, int height,
                                   const SZtPointD& point) {
    if (!driver || width < 1 || height < 1) {
        return VeroveStatus::kMissingPrerequisite;
    }
    SZtPicBuf frame;
    const int allocated = CZtPicBufAPI::Alloc(&frame, static_cast<std::uint32_t>(width),
                                              static_cast<std::uint32_t>(height), 8, 1);
    if (allocated != 0) {
        return allocated;
    }
    DrawSquare(&frame, point, 1.0, 1.0);
    CZtPattern square(L"CalibrationRect", static_cast<std::uint32_t>(width),
                      static_cast<std::uint32_t>(height));
    square.SetBitmap(&frame);
    square.SetMapping(0);
    CZtLock lock(driver->GetExposeLock());
    driver->StopPattern();
    const int uploaded = driver->UploadPattern(0, &square);
    return uploaded != 0 ? uploaded : driver->StartPattern();
}

void CZtAutocalibration::SetDialog(CZtAutocalibrationDialog* dialog) {
    std::lock_guard<std::mutex> lock(m_dialogLock);
    m_pDialog = dialog;
}

CZtAutocalibrationDialog* CZtAutocalibration::GetDialog() {
    std::lock_guard<std::mutex> lock(m_dialogLock);
    return m_pDialog;
}

void CZtAutocalibration::NotifyProgress() {
    std::lock_guard<std::mutex> lock(m_dialogLock);
    if (m_pDialog) {
        emit m_pDialog->NotifyProgress();
    }
}

void CZtAutocalibration::ClearContainer(bool keepLiveWasOn) {
    const std::int32_t result = m_container.m_iResult;
    const bool liveWasOn = m_container.m_bLiveWasOn;
    const std::int32_t liveMode = m_container.m_iLiveMode;
    m_container.Clear();
    m_container.m_iResult = result;
    // End still has to put live mode back the way it was.
    if (keepLiveWasOn) {
        m_container.m_bLiveWasOn = liveWasOn;
        m_container.m_iLiveMode = liveMode;
    }
}

bool CZtAutocalibration::IsAborted() {
    CZtLock lock(*m_container.m_pMutex);
    return m_container.m_bAbort;
}

void CZtAutocalibration::StopWorker() {
    {
        CZtLock lock(*m_container.m_pMutex);
        m_container.m_bAbort = true;
    }
    m_container.m_pGoAhead->Release();
    m_container.m_pDone->Wait();
    m_container.m_thread.join();
}

void CZtAutocalibration::Abort() {
    if (IsRegistered()) {
        StopWorker();
        ClearContainer(false);
    }
}

void CZtAutocalibration::ThreadProc(CZtAutocalibration* self) {
    self->RunWorker();
}

void CZtAutocalibration::Finish(int result, bool notify) {
    {
        CZtLock lock(*m_container.m_pMutex);
        m_container.m_iResult = result;
    }
    if (notify) {
        std::lock_guard<std::mutex> lock(m_dialogLock);
        if (m_pDialog) {
            emit m_pDialog->NotifyCalibrationRunEnded(result);
        }
    }
    m_container.m_pGoAhead->Wait();
    m_container.m_pDone->Release();
}

// ---- The steps on the GUI thread ---------------------------------------------------------------

int CZtAutocalibration::Init() {
    IZtGrabberProvider* grabber = m_pDevice->GetGrabberProvider();
    if (!grabber) {
        ZT_MessageBox_(nullptr,
                       ZT_GetTranslation(L"Calibration failed: no camera connected!").GetString(),
                       ZT_GetTranslation(L"Error").GetString(), ZT_MB_OK | ZT_MB_ICONERROR);
        return VeroveStatus::kRefused;
    }
    if (IsRegistered()) {
        return VeroveStatus::kBusy;
    }
    _SZtACContainer& c = m_container;
    c.Clear();
    c.m_iResult = VeroveStatus::kRefused;
    c.m_pdResultDMDToCam.clear();
    c.m_pdResultCamToDMD.clear();
    c.m_dProgress.store(0.0);
    c.m_bLiveWasOn = ZT_IsLive();
    c.m_iLiveMode = ZT_GetLiveMode();
    c.m_bPictureExisted = ZT_HasLiveOrFrozenDocument();
    bool roiOn = false;
    c.m_bROIWasOn = grabber->CameraRoiIsOn(&roiOn) == 0 && roiOn;
    c.m_iSavedBitDepth = m_pDevice->GetBitDepth();
    int cameraIndex = 0;
    grabber->SecGrabber_GetActive(&cameraIndex);
    c.m_uiCameraIndex = static_cast<std::uint32_t>(cameraIndex);
    ZT_GetGrabberPictureMetadata(&c.m_metadata);
    ZT_DWORD active = 0;
    m_pDevice->GetActivePatternId(&active);
    c.m_iSavedActivePattern = static_cast<std::int32_t>(active);
    CZtVeroveDriver* driver = m_pDevice->GetDriver();
    c.m_iDMDWidth = driver ? driver->GetDmdWidth() : 0;
    c.m_iDMDHeight = driver ? driver->GetDmdHeight() : 0;
    c.m_dmdPoints.clear();
    c.m_cameraPoints.clear();
    c.m_fit = SZtCalibrationFit();
    m_bSession = true;

    m_pDevice->SetBitDepth(1, false);
    if (c.m_bROIWasOn) {
        grabber->CameraRoiEnable(false);
    }
    m_pDevice->SetActivePatternId(2);
    m_pDevice->SetAssociatedShuttersOpenState(true);
    return ZT_LiveStart(kCalibrationLiveMode);
}

int CZtAutocalibration::Run() {
    _SZtACContainer& c = m_container;
    if (!m_bSession || IsRegistered()) {
        return VeroveStatus::kBusy;
    }
    m_pDevice->SetCalibrationInProgress(true);
    c.m_dProgress.store(0.0);
    ZT_Freeze();
    Q9_EnableGUI(false);

    c.m_sample.Release();
    m_pDevice->SetActivePatternId(0);
    c.m_sample.Capture();
    OpenCalibrationDocument();
    c.m_sample.Release();

    c.m_pDevice = m_pDevice;
    c.m_iResult = VeroveStatus::kRefused;
    c.m_bAbort = false;
    c.m_bSimulated = m_pDevice->IsSimulated();
    c.m_pGoAhead = std::make_unique<CZtSemaphore>(0, 1);
    c.m_pDone = std::make_unique<CZtSemaphore>(0, 1);
    c.m_pMutex = std::make_unique<CZtCriticalSection>();
    c.m_thread = std::thread(&CZtAutocalibration::ThreadProc, this);
    c.m_threadId = c.m_thread.get_id();
    m_pDevice->SetAutocalibrationRunning(true);
    return 0;
}

int CZtAutocalibration::ValidationPhase() {
    _SZtACContainer& c = m_container;
    if (!IsRegistered()) {
        RestoreRoiSettings();
        return 0;
    }
    c.m_pGoAhead->Release();
    c.m_pDone->Wait();
    ClearContainer(true);
    CloseCurrentDocument();
    ZT_LiveStart(kCalibrationLiveMode);
    ActivateCaptureView();

    CZtVeroveDriver* driver = m_pDevice->GetDriver();
    if (driver) {
        driver->ExposePattern(0, true);
    }
    Q9_EnableGUI(true);
    CZtCalibrationData* calibration = m_pDevice->GetCalibrationData();
    CZtMatrix3 dmdToCamera{};
    CZtMatrix3 cameraToDmd{};
    if (calibration && GetResultMatrices(&dmdToCamera, &cameraToDmd)) {
        calibration->SetCalibrationCamToDMD(cameraToDmd);
        calibration->SetCalibrationDMDToCam(dmdToCamera);
    }
    m_pDevice->SetAutocalibrationRunning(false);
    AddVerificationRoi(m_pDevice);
    ZT_ShowMeasurementRois();
    RestoreRoiSettings();
    return 0;
}

int CZtAutocalibration::End(bool apply) {
    _SZtACContainer& c = m_container;
    if (!m_bSession) {
        return 0;
    }
    m_bSession = false;
    IZtGrabberProvider* grabber = m_pDevice->GetGrabberProvider();
    CZtVeroveDriver* driver = m_pDevice->GetDriver();
    int result = 0;
    if (IsRegistered()) {
        StopWorker();
        m_pDevice->SetBitDepth(c.m_iSavedBitDepth, false);
        if (c.m_bROIWasOn && grabber) {
            grabber->CameraRoiEnable(false);
        }
        RestoreActivePattern();
        c.m_sample.Release();
        Q9_EnableGUI(true);
        result = RestoreLive();
        ClearContainer(false);
    } else {
        if (c.m_iResult == 0 && !c.m_sample.IsEmpty()) {
            if (grabber) {
                grabber->CameraRoiEnable(c.m_bROIWasOn);
            }
            m_pDevice->SetBitDepth(c.m_iSavedBitDepth, false);
            if (c.m_bROIWasOn && grabber) {
                grabber->CameraRoiEnable(false);
            }
            RestoreActivePattern();
            c.m_sample.Release();
        }
        CZtMatrix3 dmdToCamera{};
        CZtMatrix3 cameraToDmd{};
        if (apply && driver && GetResultMatrices(&dmdToCamera, &cameraToDmd)) {
            driver->SetCalibrationMatrices(dmdToCamera, cameraToDmd);
        }
        result = RestoreLive();
        if (apply) {
            m_pDevice->RefreshPad();
        }
    }
    if (apply && driver) {
        driver->ExposePattern(0, true);
    }
    RestoreRoiSettings();
    m_pDevice->SetAutocalibrationRunning(false);
    // An open dialog clears the in-progress mark when it goes; a calibration driven through the
    // device's operations alone has no dialog, and the device would never follow the optical
    // configuration again.
    bool dialog = false;
    {
        std::lock_guard<std::mutex> lock(m_dialogLock);
        dialog = m_pDialog != nullptr;
    }
    if (!dialog) {
        m_pDevice->SetCalibrationInProgress(false);
    }
    return result;
}

bool CZtAutocalibration::GetResultMatrices(CZtMatrix3* dmdToCamera, CZtMatrix3* cameraToDmd) {
    const _SZtACContainer& c = m_container;
    if (c.m_iResult != 0 || c.m_pdResultDMDToCam.size() != 9 || c.m_pdResultCamToDMD.size() != 9) {
        return false;
    }
    std::copy(c.m_pdResultDMDToCam.begin(), c.m_pdResultDMDToCam.end(), dmdToCamera->begin());
    std::copy(c.m_pdResultCamToDMD.begin(), c.m_pdResultCamToDMD.end(), cameraToDmd->begin());
    return true;
}

// ---- The worker ----------------------------------------------------------------------------

void CZtAutocalibration::RunWorker() {
    _SZtACContainer& c = m_container;
    const char* function = "CZtStimulationDeviceVerove::AutocalibrationThreadProc";
    CZtStimulationDeviceVerove* device = c.m_pDevice;
    CZtVeroveDriver* driver = device ? device->GetDriver() : nullptr;
    if (!driver) {
        VEROVE_LOG(function, L"Autocalibration aborted due to invalid device / driver pointer.");
        Finish(VeroveStatus::kRefused, false);
        return;
    }
    driver->StopPattern();
    device->SetBitDepth(1, false);
    driver->SetOperationMode(0);
    driver->SetTriggerMode(1);

    const std::vector<SZtPointD> points = RandomPositions(c.m_iDMDWidth, c.m_iDMDHeight);
    CZtSpotDetector detector;
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        if (IsAborted()) {
            Finish(VeroveStatus::kRefused, false);
            return;
        }
        if (i == 0) {
            ShowSquare(driver, c.m_iDMDWidth, c.m_iDMDHeight, points[0]);
            c.m_sample.Capture();
        }
        ShowSquare(driver, c.m_iDMDWidth, c.m_iDMDHeight, points[i + 1]);
        SZtPointD camera;
        if (Evaluate(&detector, points[i], &camera) == 0) {
            MarkDetectedPoint(camera);
            c.m_dmdPoints.push_back(points[i]);
            c.m_cameraPoints.push_back(camera);
            VEROVE_LOG(function, L"DMD point %u [%.2f, %.2f] mapped to camera point [%.2f, %.2f]",
                       static_cast<unsigned>(c.m_dmdPoints.size()), points[i].x, points[i].y,
                       camera.x, camera.y);
            c.m_dProgress.store(kProgressPerPair * static_cast<double>(c.m_dmdPoints.size()));
            NotifyProgress();
        }
        c.m_sample.Release();
        if (c.m_dmdPoints.size() >= kSquaresAsked) {
            break;
        }
        c.m_sample.Capture();
    }
    VEROVE_LOG(function, L"Computing calibration matrices");
    const int result = ComputeMatrices();
    LogQuality(function, result);
    if (result == 0) {
        VEROVE_LOG(function, L"Done");
    }
    Finish(result, true);
}

// The detector numbers pixel (i, j) as (i, j); the camera geometry puts its centre at
// (i + 0.5, j + 0.5).
int CZtAutocalibration::FindSpot(CZtSpotDetector* detector, const SZtPicBuf* picture,
                                 SZtPointD* camera) {
    const int result = detector->DetectSpot(picture, camera);
    if (result == 0) {
        camera->x += 0.5;
        camera->y += 0.5;
    }
    return result;
}

int CZtAutocalibration::Evaluate(CZtSpotDetector* detector, const SZtPointD& dmd,
                                 SZtPointD* camera) {
    _SZtACContainer& c = m_container;
    // The detector only reads the frame: the sample's own picture serves, uncopied.
    const SZtPicBuf& frame = c.m_sample.GetPicture();
    if (frame.IsEmpty()) {
        return VeroveStatus::kRefused;
    }
    if (!c.m_bSimulated) {
        return FindSpot(detector, &frame, camera);
    }
    // The simulated unit lights no camera: the square is drawn where a camera that sees the
    // whole DMD in its picture would find it, into a blank picture of the frame's format.
    const bool grey = frame.components == 1 && frame.bitsPerComponent >= 8;
    const bool colour = frame.components >= 3 && frame.bitsPerComponent == 8;
    if (!(grey || colour) || c.m_iDMDWidth < 1 || c.m_iDMDHeight < 1) {
        *camera = dmd;
        return 0;
    }
    SZtPicBuf picture;
    if (CZtPicBufAPI::Alloc(&picture, frame.width, frame.height, frame.bitsPerComponent,
                            frame.components) != 0) {
        return VeroveStatus::kRefused;
    }
    const double scaleX = static_cast<double>(picture.width) / c.m_iDMDWidth;
    const double scaleY = static_cast<double>(picture.height) / c.m_iDMDHeight;
    DrawSquare(&picture, dmd, scaleX, scaleY);
    return FindSpot(detector, &picture, camera);
}

int CZtAutocalibration::ComputeMatrices() {
    _SZtACContainer& c = m_container;
    CZtMatrix3 dmdToCamera{};
    CZtMatrix3 cameraToDmd{};
    const int status = FitPairs(c.m_pDevice, c.m_dmdPoints, c.m_cameraPoints, &dmdToCamera,
                                &cameraToDmd, &c.m_fit);
    if (status != 0) {
        return status;
    }
    CZtLock lock(*c.m_pMutex);
    c.m_pdResultDMDToCam.assign(dmdToCamera.begin(), dmdToCamera.end());
    c.m_pdResultCamToDMD.assign(cameraToDmd.begin(), cameraToDmd.end());
    return 0;
}

int CZtAutocalibration::FitPairs(CZtStimulationDeviceVerove* device,
                                 const std::vector<SZtPointD>& dmdPoints,
                                 const std::vector<SZtPointD>& cameraPoints,
                                 CZtMatrix3* dmdToCamera, CZtMatrix3* cameraToDmd,
                                 SZtCalibrationFit* fit, std::size_t minimumPairs) {
    IZtGrabberProvider* grabber = device->GetGrabberProvider();
    CZtVeroveDriver* driver = device->GetDriver();
    if (dmdPoints.size() < minimumPairs || dmdPoints.size() != cameraPoints.size() || !grabber ||
        !driver) {
        return VeroveStatus::kRefused;
    }
    SZtGrabberFormatDesc format;
    int status = driver->GetCurrentFormat(&format);
    if (status != 0) {
        return status;
    }
    CZtCalibrationData* calibration = device->GetCalibrationData();
    SZtScanAreaDesc scanArea = calibration ? calibration->GetScanAreaDesc() : SZtScanAreaDesc{};
    double angle = 0.0;
    if (grabber->CameraAngleSWGet(&angle) != 0) {
        return VeroveStatus::kRefused;
    }
    bool roiOn = false;
    SZtRect roi;
    const bool useRoi =
        grabber->CameraRoiIsOn(&roiOn) == 0 && roiOn && grabber->CameraRoiGet(&roi) == 0;
    bool confocal = false;
    grabber->IsConfocal(&confocal);
    if (confocal) {
        CZtStimulationDeviceVerove::ReadScanAreaForm(grabber, &scanArea);
    }

    CZtMatrix3 imageToChip{};
    status = CalcTransformImgToChip(&format, angle, &scanArea, useRoi ? &roi : nullptr, confocal,
                                    imageToChip.data());
    if (status != 0) {
        return status;
    }
    std::vector<SZtPointD> chipPoints;
    for (const SZtPointD& p : cameraPoints) {
        chipPoints.push_back(ApplyAffine(imageToChip, p));
    }
    CZtMatrix3 chipToImage{};
    SZtRect image;
    if (InvertMatrix(3, imageToChip.data(), chipToImage.data()) != 0 ||
        ConvertRectSensorToImage(&format, angle * 180.0 / M_PI, format.value.flipY,
                                 &format.value.imageRect, &image) != 0) {
        return VeroveStatus::kRefused;
    }
    std::vector<SZtPointD> dmd = dmdPoints;
    return ComputeCalibrationMatrices(
        &dmd, &chipPoints, image.right - image.left, image.bottom - image.top, chipToImage,
        [driver](CZtMatrix3* rotation, CZtMatrix3* flip, std::array<double, 3>* centre) {
            return driver->GetCameraTransform(rotation, flip, centre);
        },
        dmdToCamera, cameraToDmd, fit);
}

void CZtAutocalibration::LogQuality(const char* function, int result) {
    const _SZtACContainer& c = m_container;
    const auto found = static_cast<unsigned>(c.m_dmdPoints.size());
    const auto asked = static_cast<unsigned>(kSquaresAsked);
    if (found < asked) {
        VEROVE_LOG(function, L"Warning: only %u of the %u squares asked were found", found, asked);
    }
    if (result != 0) {
        return;
    }
    VEROVE_LOG(function,
               L"Calibration fit: %u pairs used of %u squares found (%u asked); residual on its "
               L"own pairs %.3f px rms, %.3f px max (camera pixels)",
               static_cast<unsigned>(c.m_fit.pairs), found, asked, c.m_fit.rms, c.m_fit.max);
    if (c.m_fit.IsHigh()) {
        VEROVE_LOG(function, L"Warning: the fit's residual is high (%.3f px rms, %.3f px max)",
                   c.m_fit.rms, c.m_fit.max);
    }
}

// The squares were shown past the pattern store, which still names the pattern shown before:
// the saved one is exposed again even when the store already calls it current.
void CZtAutocalibration::RestoreActivePattern() {
    if (CZtVeroveDriver* driver = m_pDevice->GetDriver()) {
        driver->ExposePattern(m_container.m_iSavedActivePattern, true);
    }
}

int CZtAutocalibration::RestoreLive() {
    if (m_container.m_bLiveWasOn) {
        return ZT_LiveStart(m_container.m_iLiveMode);
    }
    const int result = ZT_Freeze();
    CloseCurrentDocument();
    return result;
}

// ---- Documents -----------------------------------------------------------------------------

void CZtAutocalibration::OpenCalibrationDocument() {
    _SZtACContainer& c = m_container;
    IZtDocument* document = ZT_FindCaptureDocument(c.m_uiCameraIndex);
    if (document) {
        if (document->GetViewCount() < 1) {
            document->AddView(&c.m_iViewIndex);
        } else {
            c.m_iViewIndex = 0;
        }
        document->GetViewTitle(c.m_iViewIndex, &c.m_strViewTitle);
    } else if (ZT_CreateDocumentFromSample(&c.m_sample, kCalibrationTitle, &document) == 0) {
        const std::uint32_t bits = c.m_sample.GetPicture().bitsPerComponent;
        document->SetLookUpTables(0, (1u << (bits > 0 ? bits : 8)) - 1);
        document->AddView(&c.m_iViewIndex);
        document->SetTag(c.m_uiCameraIndex);
        c.m_bDocumentCreated = true;
    }
    c.m_pDocument = CZtRef<IZtDocument>::Adopt(document);

    ZT_ShowMeasurementRois();
    c.m_bROILabels = ZT_GetRoiLabels();
    ZT_SetRoiLabels(false);
    m_bAutoLookUpTables = ZT_GetAutoLookUpTables();
    ZT_SetAutoLookUpTables(false);
    m_bRoiSettingsSaved = true;
    if (!document) {
        return;
    }
    document->LoadSample(&c.m_sample, &c.m_metadata);
    document->RefreshViews();
    SZtObjective objective;
    if (ZT_GetSelectedObjective(&objective) == 0 && !(objective.name == L"Uncalibrated")) {
        document->SetCalibration(&objective.m_attr);
    }
    double zoom = 1.0;
    if (ZT_GetCameraCalibrationZoom(&zoom) == 0) {
        document->SetCameraZoom(zoom);
    }
    if (!c.m_bDocumentCreated) {
        document->SetViewTitle(c.m_iViewIndex, kCalibrationTitle);
    }
}

void CZtAutocalibration::MarkDetectedPoint(const SZtPointD& camera) {
    const auto current = CZtRef<IZtDocument>::Adopt(ZT_GetCurrentDocument());
    if (!current) {
        return;
    }
    current->ClearAllRois(L"Clear all ROIs");
    CZtRoiObject roi(ZT_ROITYPE_POINT, {camera.x, camera.y});
    roi.SetLabel(L"Detected point highlighted by calibration");
    current->AddRoi(&roi);
    if (current.get() == m_container.m_pDocument.get()) {
        current->LoadSample(&m_container.m_sample, nullptr);
        std::lock_guard<std::mutex> lock(m_dialogLock);
        if (m_pDialog) {
            emit m_pDialog->NotifyPictureUpdate();
        }
    }
}

void CZtAutocalibration::RefreshCalibrationDocument() {
    if (m_container.m_pDocument) {
        m_container.m_pDocument->RefreshViews();
    }
}

void CZtAutocalibration::CloseCurrentDocument() {
    ZT_CloseCurrentDocument();
}

void CZtAutocalibration::ActivateCaptureView() {
    if (const auto capture =
            CZtRef<IZtDocument>::Adopt(ZT_FindCaptureDocument(m_container.m_uiCameraIndex))) {
        capture->ActivateView(0);
    }
}

void CZtAutocalibration::AddVerificationRoi(CZtStimulationDeviceVerove* device) {
    const auto current = CZtRef<IZtDocument>::Adopt(ZT_GetCurrentDocument());
    CZtVeroveDriver* driver = device->GetDriver();
    if (!current) {
        return;
    }
    if (current->HasStimulationRoi()) {
        if (driver) {
            driver->InvalidateCameraMappedPatterns();
        }
    } else {
        SZtGrabberFormatDesc format;
        IZtGrabberProvider* grabber = device->GetGrabberProvider();
        double angle = 0.0;
        if (driver && driver->GetCurrentFormat(&format) == 0 && grabber &&
            grabber->CameraAngleSWGet(&angle) == 0) {
            const SZtRect& rect = format.value.imageRect;
            double width = (rect.right - rect.left) / format.value.binningX;
            double height = (rect.bottom - rect.top) / format.value.binningY;
            if (std::lround(angle * 180.0 / M_PI / 90.0) % 2 != 0) {
                std::swap(width, height);
            }
            CZtRoiObject roi(ZT_ROITYPE_RECTANGLE, {width / 2, height / 2, width / 2, height / 2},
                             0.0);
            roi.SetLabel(L"Stimulation ROI added by calibration");
            roi.SetStimulation(true);
            roi.SetStimulationGroup(0);
            current->AddRoi(&roi);
        }
    }
    current->RefreshViews();
}

void CZtAutocalibration::RestoreRoiSettings() {
    if (m_bRoiSettingsSaved) {
        m_bRoiSettingsSaved = false;
        ZT_SetRoiLabels(m_container.m_bROILabels);
        ZT_SetAutoLookUpTables(m_bAutoLookUpTables);
    }
}
