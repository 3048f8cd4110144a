// The DMD driver of one Verove device.
#include "cztverovedriver.h"

#include <algorithm>
#include <cmath>

#include "cztpluginverove.h"
#include "cztverovecameraroimatch.h"
#include "cztverovedrivertable.h"
#include "cztveroveproxy.h"
#include "verove_galvo.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_devices.h"
#include "zt/zt_module.h"
#include "zt/zt_util.h"

namespace {

// Value strings of the mode numbers, in the device's index order.
constexpr const wchar_t* kOperationModes[] = {L"Live", L"FrameMemory", L"FrameSequence",
                                              L"ContinuousFrameSequence"};
constexpr const wchar_t* kTriggerModes[] = {L"InternalExpose", L"InternalSoftware",
                                            L"ExternalExpose", L"ExternalSequenceStart",
                                            L"ExternalBulb"};
constexpr int kOperationLive = 0;
constexpr int kOperationFrameSequence = 2;
constexpr int kOperationContinuousFrameSequence = 3;
constexpr int kTriggerInternalExpose = 0;
constexpr int kTriggerInternalSoftware = 1;
constexpr int kTriggerExternalExpose = 2;
constexpr double kGrayScaleExposureSeconds = 0.05;

CZtVeroveProxy& Proxy() {
    return CZtVeroveProxy::Instance();
}

IZtGrabberProvider* Grabber() {
    IZtHostContext* context = VerovePluginState().hostContext;
    return context ? context->GetGrabberProvider() : nullptr;
}

bool IsMirrored(IZtGrabberProvider* grabber) {
    double params[4] = {1.0, 0.0, 0.0, 1.0};
    return grabber->CameraAngleParamsGet(params) == 0 && std::fabs(params[0] - params[3]) > 0.0001;
}

// Sets a flag for the lifetime of a scope.
class CZtFlagScope {
public:
    explicit CZtFlagScope(std::atomic<bool>& flag) : m_flag(flag) { m_flag.store(true); }
    ~CZtFlagScope() { m_flag.store(false); }
    CZtFlagScope(const CZtFlagScope&) = delete;
    CZtFlagScope& operator=(const CZtFlagScope&) = delete;

private:
    std::atomic<bool>& m_flag;
};

}  // namespace

CZtVeroveDriver::CZtVeroveDriver(IZtVeroveDriverOwner* owner)
    : m_owner(owner),
      m_settings(owner ? owner->GetDriverSettings() : nullptr),
      m_frameBuffer(m_settings),
      m_exposureEndEvent(true, true, L"ExposureEndEvent") {
    VEROVE_LOG("CZtVeroveDriver::CZtVeroveDriver", L"Start");
}

CZtVeroveDriver::~CZtVeroveDriver() {
    // No camera slot may run on a half-destroyed driver.
    UnregisterCameraUpdate();
    if (IsConnected()) {
        Disconnect();
    }
    CZtVeroveDriverTable::Remove(this);
}

// ---- Device ------------------------------------------------------------------------------------

int CZtVeroveDriver::Connect(int deviceIndex) {
    VEROVE_LOG("CZtVeroveDriver::Connect", L"Start");
    if (IsConnected()) {
        return 0;
    }
    if (m_owner && m_owner->IsSimulated()) {
        return OpenDevice(CZtVeroveProxy::SimulatorIndex);
    }
    const int result = Proxy().InitialiseLibrary(false) == 0 ? OpenDevice(deviceIndex) : -1;
    if (Grabber()) {
        CameraFormatChanged();
    }
    // The open device holds its own library reference.
    Proxy().FinaliseLibrary();
    return result;
}

bool CZtVeroveDriver::GalvoConflict() {
    IZtHostContext* context = VerovePluginState().hostContext;
    return VeroveFindGalvo(context ? context->GetDeviceManager() : nullptr) != EZtVeroveGalvo::None;
}

CZtStringW CZtVeroveDriver::ActiveCameraName() {
    IZtGrabberProvider* grabber = Grabber();
    int index = 0;
    SZtCameraDesc camera;
    if (grabber && grabber->SecGrabber_GetActive(&index) == 0 &&
        grabber->CameraGet_WRP(index, &camera) == 0) {
        return camera.name;
    }
    return CZtStringW();
}

int CZtVeroveDriver::OpenDevice(int deviceIndex) {
    VEROVE_LOG("CZtVeroveDriver::OpenDevice", L"Start");
    if (m_owner) {
        m_owner->SetInvalidHardware(false);
    }
    if (GalvoConflict()) {
        VeroveShowGalvoRefusal(
            ZT_GetTranslation(L"Combination of DMD with Galvo XY device is not "
                              L"supported.\nDMD device status: Disconnected."));
        if (m_owner) {
            m_owner->SetInvalidHardware(true);
        }
        return VeroveStatus::kDmdInvalidHardware;
    }

    CZtVeroveProxy& proxy = Proxy();
    int handle = 0;
    int result = proxy.Open(deviceIndex, &handle);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::OpenDevice", L"Device %d was not opened.", deviceIndex);
        return result;
    }
    int isVerove = 0;
    proxy.IsVerove3(handle, &isVerove);
    if (isVerove != 1) {
        VEROVE_LOG("CZtVeroveDriver::OpenDevice",
                   L"Device %d was not opened. Device type %d is not Verove III.", deviceIndex,
                   isVerove);
        proxy.Close(handle);
        m_handle.store(0);
        return VeroveStatus::kBusy;
    }
    m_handle.store(handle);

    int width = 0;
    int height = 0;
    if (proxy.GetSensorSize(handle, &width, &height) == 0) {
        m_dmdWidth.store(width);
        m_dmdHeight.store(height);
        CZtLock lock(m_bufferLock);
        m_patterns.SetSize(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
        m_patterns.CreateDefaultPatterns();
        m_patterns.SetCurrentId(0);
    } else {
        VEROVE_LOG("CZtVeroveDriver::OpenDevice",
                   L"Failed to read the DMD size: no patterns until the device is opened again.");
    }

    proxy.SetFeatureCallback(handle, &CZtVeroveDriverTable::EventCallback);
    CZtVeroveDriverTable::Add(handle, this);

    CZtStringW firmware;
    CZtStringW controllerFirmware;
    CZtStringW sdkVersion;
    proxy.GetFirmwareVersion(handle, &firmware);
    proxy.GetControllerFirmwareVersion(handle, &controllerFirmware);
    proxy.GetSDKVersion(&sdkVersion);
    VEROVE_LOG("CZtVeroveDriver::OpenDevice",
               L"Connected with Device Firmware: %s, PCIe Card Firmware: %s, SDK Version: %s",
               firmware.GetString(), controllerFirmware.GetString(), sdkVersion.GetString());
    if (m_settings) {
        m_settings->firmwareVersion = firmware;
        m_settings->controllerFirmwareVersion = controllerFirmware;
        m_settings->sdkVersion = sdkVersion;
    }
    if (m_owner) {
        m_owner->OnVersionsChanged();
    }

    SetPixelEncoding(m_settings ? m_settings->bitDepth.load() < 2 : true);

    if (m_owner && m_settings && !m_settings->calibration) {
        m_settings->cameraName = ActiveCameraName();
        m_settings->calibration =
            std::make_unique<CZtCalibrationData>(m_owner->GetCalibrationOwner());
    }
    if (CZtCalibrationData* calibration = Calibration()) {
        bool changed = false;
        calibration->LoadCalibration(&changed);
    }
    return 0;
}

int CZtVeroveDriver::Disconnect() {
    VEROVE_LOG("CZtVeroveDriver::Disconnect", L"Start");
    // Dark mirrors before the device goes; a driver that never connected has nothing to show.
    if (IsConnected()) {
        ExposePattern(0, false);
    }
    StopPattern();
    if (IsConnected()) {
        if (m_owner) {
            m_owner->SaveSettings();
        }
        Abort();
        CZtVeroveDriverTable::Remove(this);
        Proxy().Close(m_handle.load());
    }
    m_handle.store(0);
    CZtLock lock(m_bufferLock);
    m_frameBuffer.Release();
    return 0;
}

int CZtVeroveDriver::GetFirmwareVersion(CZtStringW* text) {
    return Proxy().GetFirmwareVersion(m_handle.load(), text);
}

int CZtVeroveDriver::GetControllerFirmwareVersion(CZtStringW* text) {
    return Proxy().GetControllerFirmwareVersion(m_handle.load(), text);
}

int CZtVeroveDriver::GetSDKVersion(CZtStringW* text) {
    return Proxy().GetSDKVersion(text);
}

int CZtVeroveDriver::GetBufferSize() {
    CZtLock lock(m_bufferLock);
    return m_frameBuffer.Size();
}

CZtCalibrationData* CZtVeroveDriver::Calibration() {
    return m_settings ? m_settings->calibration.get() : nullptr;
}

// ---- Pixel encoding and modes ------------------------------------------------------------------

int CZtVeroveDriver::SetPixelEncoding(bool packed) {
    VEROVE_LOG("CZtVeroveDriver::SetPixelEncoding", L"Start");
    const int handle = m_handle.load();
    // The frame size changes with the encoding: no upload may read the buffer meanwhile.
    CZtLock lock(m_bufferLock);
    return m_frameBuffer.SetPixelEncoding(handle, packed);
}

int CZtVeroveDriver::SetOperationMode(int mode) {
    if (mode < 0 || mode >= static_cast<int>(std::size(kOperationModes))) {
        return VeroveStatus::kRefused;
    }
    if (m_operationModeCache.load() == mode) {
        return 0;
    }
    const int result = Proxy().SetOperationMode(m_handle.load(), kOperationModes[mode]);
    if (result == 0) {
        m_operationModeCache.store(mode);
    }
    return result;
}

int CZtVeroveDriver::SetTriggerMode(int mode) {
    if (mode < 0 || mode >= static_cast<int>(std::size(kTriggerModes))) {
        return VeroveStatus::kRefused;
    }
    if (m_triggerModeCache.load() == mode) {
        return 0;
    }
    const int result = Proxy().SetTriggerMode(m_handle.load(), kTriggerModes[mode]);
    if (result == 0) {
        m_triggerModeCache.store(mode);
    }
    return result;
}

int CZtVeroveDriver::SetOverlapMode(bool overlap) {
    const int result = Proxy().SetOverlapMode(m_handle.load(), overlap);
    if (result == 0) {
        m_overlapMode.store(overlap);
    }
    return result;
}

int CZtVeroveDriver::SetSequence(int startIndex, int loopLength, int loopCount) {
    CZtVeroveProxy& proxy = Proxy();
    const int handle = m_handle.load();
    proxy.SetSequenceStartIndex(handle, startIndex);
    proxy.SetSequenceLoopCount(handle, loopCount);
    proxy.SetSequenceLoopLength(handle, loopLength);
    return 0;
}

int CZtVeroveDriver::ProgramIlluminationSequence(const std::vector<CZtPattern*>& patterns,
                                                 const std::vector<SZtVeroveSequenceEvent>& events,
                                                 int repeatCount) {
    VEROVE_LOG("CZtVeroveDriver::ProgramIlluminationSequence", L"Start");
    CZtVeroveProxy& proxy = Proxy();
    const int handle = m_handle.load();
    m_sequenceMode.store(true);
    {
        CZtLock lock(m_bufferLock);
        // Frames or events left in the memories would stand in for the sequence's own.
        int result = ClearDeviceMemory();
        if (result != 0) {
            VEROVE_LOG("CZtVeroveDriver::ProgramIlluminationSequence",
                       L"Failed to clear device memory.");
            return result;
        }
        result = SetOperationMode(kOperationFrameSequence);
        if (result != 0) {
            VEROVE_LOG("CZtVeroveDriver::ProgramIlluminationSequence",
                       L"Failed to set operation mode FrameSequence.");
            return result;
        }
        SetTriggerMode(kTriggerExternalExpose);
        SetOverlapMode(false);
        for (size_t i = 0; i < patterns.size(); ++i) {
            result = UploadPattern(static_cast<int>(i), patterns[i]);
            if (result != 0) {
                VEROVE_LOG("CZtVeroveDriver::ProgramIlluminationSequence",
                           L"Failed to upload pattern.");
                return result;
            }
        }
        // The device's event memory is never queried: a full one only refuses the upload.
        for (size_t i = 0; i < events.size(); ++i) {
            const SZtVeroveSequenceEvent& event = events[i];
            // An event is uploaded only as a whole: one value left from the event before would
            // show another frame, or for another time.
            const bool set =
                proxy.SetInt32(handle, L"FrameIndex", event.frameIndex) == 0 &&
                proxy.SetInt32(handle, L"FrameCount", event.frameCount) == 0 &&
                proxy.SetInt32(handle, L"FrameCycleCount", event.frameCycleCount) == 0 &&
                proxy.SetFloat(handle, L"SequenceExposureTime", event.exposureTime) == 0 &&
                proxy.SetFloat(handle, L"SequenceGapTime", event.gapTime) == 0;
            if (!set) {
                VEROVE_LOG("CZtVeroveDriver::ProgramIlluminationSequence",
                           L"Failed to set sequence event %u, not uploaded.",
                           static_cast<unsigned>(i));
            } else if (proxy.UploadSequenceEvent(handle) != 0) {
                VEROVE_LOG("CZtVeroveDriver::ProgramIlluminationSequence",
                           L"Maximum sequence event count reached");
            }
        }
        SetSequence(0, static_cast<int>(events.size()), repeatCount + 1);
    }
    const int result = Expose();
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::ProgramIlluminationSequence", L"Failed to call Expose");
    }
    return result;
}

int CZtVeroveDriver::LeaveIlluminationSequence() {
    VEROVE_LOG("CZtVeroveDriver::LeaveIlluminationSequence", L"Start");
    Abort();
    ClearDeviceMemory();
    m_sequenceMode.store(false);
    SetOperationMode(kOperationLive);
    SetTriggerMode(kTriggerInternalSoftware);
    return 0;
}

// ---- Exposure ----------------------------------------------------------------------------------

int CZtVeroveDriver::StartPattern() {
    const int result = Proxy().Expose(m_handle.load());
    if (result == 0) {
        m_exposing.store(true);
    }
    return result;
}

int CZtVeroveDriver::StopPattern() {
    if (m_exposing.load()) {
        Abort();
    }
    m_exposing.store(false);
    return 0;
}

int CZtVeroveDriver::Expose() {
    return Proxy().Expose(m_handle.load());
}

int CZtVeroveDriver::Abort() {
    const int result = Proxy().Abort(m_handle.load());
    m_exposureEndEvent.Set();
    return result;
}

int CZtVeroveDriver::NextPattern() {
    VEROVE_LOG("CZtVeroveDriver::NextPattern", L"Start");
    return 0;
}

int CZtVeroveDriver::UpdateDevicePatterns() {
    VEROVE_LOG("CZtVeroveDriver::UpdateDevicePatterns", L"Start");
    return 0;
}

int CZtVeroveDriver::ClearDeviceMemory() {
    CZtVeroveProxy& proxy = Proxy();
    const int handle = m_handle.load();
    // A refused Abort leaves the frame shown until the next Expose replaces it; what the callers
    // must know is whether old frames and events are gone.
    Abort();
    const int sequenceCleared = proxy.ClearSequenceMemory(handle);
    const int framesCleared = proxy.ClearFrameMemory(handle);
    return sequenceCleared != 0 ? sequenceCleared : framesCleared;
}

void CZtVeroveDriver::ClearFrameBuffer() {
    CZtLock lock(m_bufferLock);
    m_frameBuffer.Clear();
}

int CZtVeroveDriver::ExposePattern(int patternId, bool force) {
    VEROVE_LOG("CZtVeroveDriver::ExposePattern", L"Start");
    if (!m_owner || !m_settings) {
        return VeroveStatus::kRefused;
    }
    {
        CZtLock lock(m_bufferLock);
        const CZtPattern* pattern = m_patterns.FindById(static_cast<std::uint32_t>(patternId));
        if (!pattern) {
            return VeroveStatus::kRefused;
        }
        if (patternId == m_patterns.GetCurrentId() && pattern->IsValid() && !force) {
            return 0;
        }
    }

    int shownId = 0;
    {
        CZtLock exposeLock(m_exposeLock);
        StopPattern();
        const int bitDepth = m_settings->bitDepth.load();
        if (bitDepth == 1) {
            // In another mode Expose would show what frame memory holds from before.
            const int result = SetOperationMode(kOperationLive);
            if (result != 0) {
                VEROVE_LOG("CZtVeroveDriver::ExposePattern", L"Failed to set operation mode Live.");
                return result;
            }
            SetTriggerMode(kTriggerInternalSoftware);
            shownId = UploadWithFallback(patternId);
        } else {
            CZtVeroveProxy& proxy = Proxy();
            const int handle = m_handle.load();
            SetTriggerMode(kTriggerInternalExpose);
            // Bit planes or events left from the frame before would run in its place.
            int result = ClearDeviceMemory();
            if (result != 0) {
                VEROVE_LOG("CZtVeroveDriver::ExposePattern", L"Failed to clear device memory.");
                return result;
            }
            result = proxy.SetSequenceStartIndex(handle, 0);
            if (result != 0) {
                VEROVE_LOG("CZtVeroveDriver::ExposePattern",
                           L"Failed to call SetSequenceStartIndex");
                return result;
            }
            result = proxy.SetSequenceLoopLength(handle, bitDepth);
            if (result != 0) {
                VEROVE_LOG("CZtVeroveDriver::ExposePattern",
                           L"Failed to call SetSequenceLoopLength");
                return result;
            }
            result = proxy.SetGrayScaleExposureTime(handle, kGrayScaleExposureSeconds);
            if (result != 0) {
                VEROVE_LOG("CZtVeroveDriver::ExposePattern",
                           L"Failed to SetGrayScaleExposureTime %g s.", kGrayScaleExposureSeconds);
                return result;
            }
            shownId = UploadWithFallback(patternId);
            // In Live mode Expose would show the grey levels as a binary frame.
            result = SetOperationMode(kOperationContinuousFrameSequence);
            if (result != 0) {
                VEROVE_LOG("CZtVeroveDriver::ExposePattern",
                           L"Failed to set operation mode ContinuousFrameSequence.");
                return result;
            }
        }
        const int result = Expose();
        if (result != 0) {
            VEROVE_LOG("CZtVeroveDriver::ExposePattern", L"Failed to call Expose");
            return result;
        }
        m_exposing.store(true);
        CZtLock lock(m_bufferLock);
        m_patterns.SetCurrentId(shownId);
    }
    m_owner->OnExposureStateChanged();
    return shownId == patternId ? 0 : -9;
}

int CZtVeroveDriver::UploadWithFallback(int patternId) {
    CZtLock lock(m_bufferLock);
    if (UploadPattern(0, m_patterns.FindById(static_cast<std::uint32_t>(patternId))) == 0) {
        return patternId;
    }
    if (UploadPattern(0, m_patterns.FindById(0)) != 0) {
        ClearFrameBuffer();
    }
    return 0;
}

// ---- Upload ------------------------------------------------------------------------------------

int CZtVeroveDriver::UploadPattern(int slot, CZtPattern* pattern) {
    VEROVE_LOG("CZtVeroveDriver::UploadPattern", L"Start");
    CZtCalibrationData* calibration = Calibration();
    if (!pattern || !m_owner || !m_settings || !calibration) {
        return VeroveStatus::kMissingPrerequisite;
    }
    CZtLock lock(m_bufferLock);
    const int bitDepth = m_settings->bitDepth.load();
    const bool sequenceMode = m_sequenceMode.load();
    // The frame must fit the buffer the SDK reads: a pixel encoding left behind by a bit depth
    // change would otherwise be overrun.
    if (!m_frameBuffer.Fits(*pattern, sequenceMode || bitDepth == 1)) {
        return VeroveStatus::kMissingPrerequisite;
    }
    SZtGrabberFormatDesc format;
    if (GetCurrentFormat(&format) != 0) {
        return VeroveStatus::kRefused;
    }
    if (sequenceMode && bitDepth != 1) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"Grayscale patterns not supported in illumination sequence.");
        return VeroveStatus::kRefused;
    }
    return m_frameBuffer.Upload(m_handle.load(), pattern, sequenceMode, bitDepth, format.value,
                                calibration);
}

int CZtVeroveDriver::InvalidatePattern(int patternId) {
    CZtLock lock(m_bufferLock);
    CZtPattern* pattern = m_patterns.FindById(static_cast<std::uint32_t>(patternId));
    if (!pattern) {
        return VeroveStatus::kRefused;
    }
    pattern->SetValid(false);
    return 0;
}

int CZtVeroveDriver::InvalidateCameraMappedPatterns() {
    CZtLock lock(m_bufferLock);
    for (int i = 0; i < m_patterns.Count(); ++i) {
        CZtPattern* pattern = m_patterns.GetAt(i);
        if (pattern && pattern->GetMapping() == 1) {
            pattern->SetValid(false);
        }
    }
    return 0;
}

// ---- Camera and calibration --------------------------------------------------------------------

int CZtVeroveDriver::SetCalibrationMatrices(const CZtMatrix3& dmdToCamera,
                                            const CZtMatrix3& cameraToDmd) {
    VEROVE_LOG("CZtVeroveDriver::SetCalibrationMatrices", L"Start");
    CZtCalibrationData* calibration = Calibration();
    if (!calibration) {
        return VeroveStatus::kNoDriver;
    }
    calibration->SetCalibrationCamToDMD(cameraToDmd);
    calibration->SetCalibrationDMDToCam(dmdToCamera);
    const int saved =
        calibration->SaveCalibrationMatrices(calibration->GetCurrentConfigurationString());
    ReloadCalibration();
    return saved;
}

int CZtVeroveDriver::ReloadCalibration() {
    CZtCalibrationData* calibration = Calibration();
    if (!calibration) {
        return -12;
    }
    bool changed = true;
    const int loaded = calibration->LoadCalibration(&changed);
    if (changed) {
        InvalidateCameraMappedPatterns();
        int currentId = 0;
        bool cameraMapped = false;
        {
            CZtLock lock(m_bufferLock);
            currentId = m_patterns.GetCurrentId();
            const CZtPattern* current = m_patterns.FindById(static_cast<std::uint32_t>(currentId));
            cameraMapped = current && current->GetMapping() == 1;
        }
        if (cameraMapped) {
            ExposePattern(currentId, false);
        }
    }
    return loaded;
}

int CZtVeroveDriver::CameraFormatChanged() {
    VEROVE_LOG("CZtVeroveDriver::CameraFormatChanged", L"Start");
    IZtGrabberProvider* grabber = Grabber();
    SZtGrabberFormatDesc format;
    if (!grabber || grabber->CameraSettingsGet(&format) != 0) {
        return VeroveStatus::kFailed;
    }
    double rotation = 0.0;
    grabber->Interp_Rotate_Get(1, &rotation);
    CZtCalibrationData* calibration = Calibration();
    if (calibration) {
        calibration->SetCameraRotation(rotation);
        // The calibration turns the camera about half the shown region and mirrors it as the
        // camera does now: a region switched on or off, or a mirroring without a turn, changes
        // where every displayed pixel lies on the sensor as much as a turn does.
        calibration->UpdateFlipMatrix();
        calibration->UpdateTranslationVector();
    }
    if (m_settings) {
        m_settings->cameraName = ActiveCameraName();
    }
    if (calibration) {
        bool roiOn = false;
        SZtRect roi;
        const bool useRoi =
            grabber->CameraRoiIsOn(&roiOn) == 0 && roiOn && grabber->CameraRoiGet(&roi) == 0;
        calibration->SetCameraRect(useRoi ? roi : format.value.sensorRect);
    }
    return 0;
}

int CZtVeroveDriver::GetCurrentFormat(SZtGrabberFormatDesc* format) {
    if (!format) {
        return VeroveStatus::kMissingPrerequisite;
    }
    if (ZT_GetDocumentCameraFormat(format) == 0) {
        return 0;
    }
    IZtGrabberProvider* grabber = Grabber();
    if (!grabber || grabber->CameraSettingsGet(format) != 0) {
        return VeroveStatus::kFailed;
    }
    return 0;
}

int CZtVeroveDriver::GetCameraTransform(CZtMatrix3* rotation, CZtMatrix3* flip,
                                        std::array<double, 3>* centre) {
    if (!rotation || !flip || !centre) {
        return VeroveStatus::kMissingPrerequisite;
    }
    IZtGrabberProvider* grabber = Grabber();
    if (!grabber) {
        return VeroveStatus::kFailed;
    }
    double angle = 0.0;
    SZtGrabberFormatDesc format;
    if (grabber->CameraAngleSWGet(&angle) != 0 || grabber->CameraSettingsGet(&format) != 0) {
        return VeroveStatus::kRefused;
    }
    bool roiOn = false;
    SZtRect rect = format.value.sensorRect;
    if (grabber->CameraRoiIsOn(&roiOn) == 0 && roiOn) {
        grabber->CameraRoiGet(&rect);
    }
    *rotation = {std::cos(angle),
                 -std::sin(angle),
                 0.0,
                 std::sin(angle),
                 std::cos(angle),
                 0.0,
                 0.0,
                 0.0,
                 1.0};
    *flip = {1.0, 0.0, 0.0, 0.0, IsMirrored(grabber) ? -1.0 : 1.0, 0.0, 0.0, 0.0, 1.0};
    *centre = {static_cast<double>((rect.right - rect.left) / 2),
               static_cast<double>((rect.bottom - rect.top) / 2), 1.0};
    return 0;
}

void CZtVeroveDriver::UpdateTriggerAvailability() {
    std::uint32_t portA = 0;
    std::uint32_t portB = 0;
    if (m_owner) {
        m_owner->GetTraxPorts(&portA, &portB);
    }
    m_traxConnected.store(portA != 0 || portB != 0);
}

int CZtVeroveDriver::SyncCameraROI(bool enable) {
    VEROVE_LOG("CZtVeroveDriver::SyncCameraROI", L"Start");
    CZtCalibrationData* calibration = Calibration();
    if (!m_owner || !calibration) {
        return VeroveStatus::kMissingPrerequisite;
    }
    if (ZT_IsFastTimelapse()) {
        VEROVE_LOG("CZtVeroveDriver::SyncCameraROI",
                   L"Attempt to 'Match Camera ROI with DMD' during 'Fast Timelapse', which is "
                   L"forbidden. Taking no action.");
        return VeroveStatus::kConflict;
    }
    CZtFlagScope syncing(m_syncingCameraROI);
    if (enable) {
        m_owner->OnDriverEvent(IZtVeroveDriverOwner::CameraRoiMatching);
        const int result = CZtVeroveCameraRoiMatch(*this, *calibration, Grabber()).Run();
        SZtGrabberFormatDesc current;
        if (result == 0 && GetCurrentFormat(&current) == 0) {
            CZtLock lock(m_formatLock);
            m_currentFormat = current.value;
        }
        return result;
    }

    VEROVE_LOG("CZtVeroveDriver::SyncCameraROI", L"DMD ROI disabled");
    if (IZtGrabberProvider* grabber = Grabber()) {
        grabber->CameraRoiEnable(false);
    }
    VEROVE_LOG("CZtVeroveDriver::SyncCameraROI", L"Camera ROI disabled");
    const int count = m_owner->GetPatternCount();
    int currentId = 0;
    {
        CZtLock lock(m_bufferLock);
        for (int i = 0; i < count; ++i) {
            CZtPattern* pattern = m_patterns.GetAt(i);
            if (pattern && pattern->GetMapping() == 1) {
                pattern->SetValid(false);
            }
        }
        currentId = m_patterns.GetCurrentId();
    }
    if (m_exposing.load()) {
        ExposePattern(currentId, false);
    }
    return 0;
}
