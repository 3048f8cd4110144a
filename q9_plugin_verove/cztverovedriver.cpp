// The DMD driver of one Verove device.
#include "cztverovedriver.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <map>
#include <new>

#include "cztpluginverove.h"
#include "cztveroveproxy.h"
#include "verove_galvo.h"
#include "verove_log.h"
#include "verove_sample_analysis.h"
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
// Indexed by (bit depth - 4) / 2.
constexpr const wchar_t* kGrayScaleEncodings[] = {L"4BitDIP", L"6BitDIP", L"8BitDIP"};

constexpr int kOperationLive = 0;
constexpr int kOperationFrameSequence = 2;
constexpr int kOperationContinuousFrameSequence = 3;
constexpr int kTriggerInternalExpose = 0;
constexpr int kTriggerInternalSoftware = 1;
constexpr int kTriggerExternalExpose = 2;
constexpr double kGrayScaleExposureSeconds = 0.05;
constexpr double kDegreesPerRadian = 57.29577951308232;

// Handle -> driver, for the SDK's event callback. Never destroyed: the SDK may call back while
// the process exits.
struct SDriverTable {
    CZtCriticalSection lock;
    std::map<int, CZtVeroveDriver*> drivers;  // lock
};

SDriverTable& DriverTable() {
    static SDriverTable* const table = new SDriverTable;
    return *table;
}

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

// Overlapping rectangles give their common part, which is empty (zero width or height) when
// they only touch; disjoint ones give the all-zero rectangle.
SZtRect Intersect(const SZtRect& a, const SZtRect& b) {
    const SZtRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                    std::min(a.bottom, b.bottom)};
    return (r.right < r.left || r.bottom < r.top) ? SZtRect{} : r;
}

bool IsNull(const SZtRect& r) {
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
}

bool IsEmpty(const SZtRect& r) {
    return r.right == r.left || r.bottom == r.top;
}

bool SameRect(const SZtRect& a, const SZtRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The matrix and its decomposition, so that a support engineer can tell a bad calibration from
// a bad camera set-up.
void LogCalibrationMatrix(const CZtMatrix3& m) {
    const double sx = std::sqrt(m[0] * m[0] + m[1] * m[1]);
    const double det = m[4] * m[0] - m[3] * m[1];
    const double sy = det / sx;
    const double angle = std::atan2(m[1], m[0]);
    const double shear = (m[4] * m[1] + m[3] * m[0]) / det;
    VEROVE_LOG("CZtVeroveDriver::SyncCameraROI",
               L"Calibration matrix\n %.4f %.4f %.4f \n %.4f %.4f %.4f\n %.4f %.4f %.4f\n sx: "
               L"%.4f, sy: %.4f, tx: %.4f, ty: %.4f, angle: %.4f, shear: %.4f",
               m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], sx, sy, m[2], m[5], angle,
               shear);
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
      m_exposureEndEvent(true, true, L"ExposureEndEvent") {
    VEROVE_LOG("CZtVeroveDriver::CZtVeroveDriver", L"Start");
}

CZtVeroveDriver::~CZtVeroveDriver() {
    // No camera slot may run on a half-destroyed driver.
    UnregisterCameraUpdate();
    if (IsConnected()) {
        Disconnect();
    }
    ForgetHandle();
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

    proxy.SetFeatureCallback(handle, &CZtVeroveDriver::EventCallback);
    {
        SDriverTable& table = DriverTable();
        CZtLock lock(table.lock);
        table.drivers[handle] = this;
    }

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

void CZtVeroveDriver::ForgetHandle() {
    SDriverTable& table = DriverTable();
    CZtLock lock(table.lock);
    for (auto it = table.drivers.begin(); it != table.drivers.end();) {
        it = it->second == this ? table.drivers.erase(it) : std::next(it);
    }
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
        ForgetHandle();
        Proxy().Close(m_handle.load());
    }
    m_handle.store(0);
    CZtLock lock(m_bufferLock);
    m_imageSizeBytes = 0;
    m_bufferSize = 0;
    m_bufferEncoding = -1;
    std::vector<unsigned char>().swap(m_userBuffer);
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
    return m_bufferSize;
}

CZtCalibrationData* CZtVeroveDriver::Calibration() {
    return m_settings ? m_settings->calibration.get() : nullptr;
}

// ---- Pixel encoding and modes ------------------------------------------------------------------

int CZtVeroveDriver::SetPixelEncoding(bool packed) {
    VEROVE_LOG("CZtVeroveDriver::SetPixelEncoding", L"Start");
    CZtVeroveProxy& proxy = Proxy();
    const int handle = m_handle.load();
    // The frame size changes with the encoding: no upload may read the buffer meanwhile.
    CZtLock lock(m_bufferLock);
    // Until the change is complete the device may read the buffer in either encoding.
    m_bufferEncoding = -1;
    int result = proxy.SetPixelEncoding(handle, packed ? L"Mono1Packed" : L"Mono1");
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::SetPixelEncoding", L"Failed to SetPixelEncoding.");
        return result;
    }
    int size = 0;
    result = proxy.GetImageSizeBytes(handle, &size);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::SetPixelEncoding", L"Failed to GetImageSizeBytes.");
        return result;
    }
    m_imageSizeBytes = size;
    // The SDK holds the queued buffer until another is queued: the old one lives until then.
    std::vector<unsigned char> fresh;
    try {
        fresh.assign(static_cast<size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        VEROVE_LOG("CZtVeroveDriver::SetPixelEncoding", L"Failed to allocate user buffer.");
        return VeroveStatus::kNoMemory;
    }
    result = proxy.SetBuffer(handle, fresh.data(), size);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::SetPixelEncoding", L"Failed to set user buffer.");
        return result;
    }
    m_userBuffer.swap(fresh);
    m_bufferSize = size;
    m_bufferEncoding = packed ? 1 : 0;
    return 0;
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
    std::fill(m_userBuffer.begin(), m_userBuffer.end(), 0);
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
    const bool packed = m_sequenceMode.load() || bitDepth == 1;
    // The frame must fit the buffer the SDK reads: a pixel encoding left behind by a bit depth
    // change would otherwise be overrun.
    const size_t frameBytes =
        static_cast<size_t>(pattern->GetWidth()) * pattern->GetHeight() / (packed ? 8 : 1);
    if (m_userBuffer.empty() || frameBytes > m_userBuffer.size()) {
        return VeroveStatus::kMissingPrerequisite;
    }
    SZtGrabberFormatDesc format;
    if (GetCurrentFormat(&format) != 0) {
        return VeroveStatus::kRefused;
    }
    if (m_sequenceMode.load() && bitDepth != 1) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"Grayscale patterns not supported in illumination sequence.");
        return VeroveStatus::kRefused;
    }
    // A frame in another encoding than the device reads would show as garbage.
    if (m_bufferEncoding != (packed ? 1 : 0)) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"The device does not read %s frames now: pattern %u not uploaded.",
                   packed ? L"packed" : L"grey-scale", pattern->GetId());
        return VeroveStatus::kMissingPrerequisite;
    }
    if (m_sequenceMode.load()) {
        return UploadSequenceFrame(pattern, format.value, calibration);
    }
    if (bitDepth != 1) {
        return UploadGrayScaleFrame(pattern, bitDepth, format.value, calibration);
    }
    return RenderBinaryFrame(pattern, format.value, calibration);
}

int CZtVeroveDriver::UploadSequenceFrame(CZtPattern* pattern, const SZtGrabberFormatValue& format,
                                         CZtCalibrationData* calibration) {
    // The frame goes to the next free frame-memory slot; the sequence events refer to slots in
    // upload order.
    pattern->SetDebugDeviceMemory(m_settings->debugDeviceMemory.load());
    pattern->SetDitheringMethod(m_settings->ditheringMethod.load());
    int result = pattern->GetBitmap(m_userBuffer.data(), 1, true, &format, calibration);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"Failed to prepare pattern in illumination sequence mode.");
        return result;
    }
    result = Proxy().UploadFrame(m_handle.load());
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"Failed to upload pattern in illumination sequence mode.");
    }
    return result;
}

int CZtVeroveDriver::UploadGrayScaleFrame(CZtPattern* pattern, int bitDepth,
                                          const SZtGrabberFormatValue& format,
                                          CZtCalibrationData* calibration) {
    int result = pattern->GetBitmap(m_userBuffer.data(), static_cast<std::uint32_t>(bitDepth),
                                    false, &format, calibration);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"Failed to obtain bitmap data for grayscaling mode, pattern ID = %u, pattern "
                   L"name = %s",
                   pattern->GetId(), pattern->GetName().GetString());
        return result;
    }
    CZtVeroveProxy& proxy = Proxy();
    const int handle = m_handle.load();
    const wchar_t* encoding = kGrayScaleEncodings[(bitDepth - 4) / 2];
    result = proxy.SetGrayScaleSequenceEncoding(handle, encoding);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern", L"Failed to SetGrayScaleSequenceEncoding %s",
                   encoding);
        return result;
    }
    result = proxy.UploadGrayScaleImage(handle);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern", L"Failed to UploadGrayScaleImage");
    }
    return result;
}

int CZtVeroveDriver::RenderBinaryFrame(CZtPattern* pattern, const SZtGrabberFormatValue& format,
                                       CZtCalibrationData* calibration) {
    // No upload command: the queued buffer is the live frame that Expose shows.
    pattern->SetDebugDeviceMemory(m_settings->debugDeviceMemory.load());
    pattern->SetDitheringMethod(m_settings->ditheringMethod.load());
    return pattern->GetBitmap(m_userBuffer.data(), 1, true, &format, calibration);
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
        return MatchCameraROI(calibration);
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

int CZtVeroveDriver::MatchCameraROI(CZtCalibrationData* calibration) {
    SZtGrabberFormatDesc format;
    if (ZT_GetDocumentCameraFormat(&format) != 0) {
        VEROVE_LOG("CZtVeroveDriver::SyncCameraROI", L"There is no view to match.");
        return VeroveStatus::kFailed;
    }
    // Image coordinates of the whole sensor's image, whatever ROI is set now: the DMD area, the
    // ROI and the full image must share one frame for the clamping at (0, 0) to mean the image's
    // corner, and a repeated match must find the ROI it set.
    format.value.imageRect = format.value.sensorRect;
    IZtGrabberProvider* grabber = Grabber();
    double angle = 0.0;
    if (!grabber || grabber->CameraAngleSWGet(&angle) != 0) {
        return VeroveStatus::kRefused;
    }

    bool confocal = false;
    grabber->IsConfocal(&confocal);
    const SZtScanAreaDesc scanArea = calibration->GetScanAreaDesc();
    CZtMatrix3 chipToImage{};
    if (CalcTransformChipToImg(&format, angle, &scanArea, nullptr, confocal, chipToImage.data()) !=
        0) {
        return VeroveStatus::kRefused;
    }
    // The calibration's mapping gives chip coordinates turned about half the region shown now;
    // the whole sensor's image turns about half the sensor. The stored camera -> DMD matrix is a
    // plain sensor map (the mapping is its inverse, turned), so it is turned about the sensor's
    // half instead.
    CZtMatrix3 sensorToChip{};
    CZtMatrix3 dmdToSensor{};
    const CZtMatrix3 sensorToDmd = calibration->GetCalibrationCamToDMD();
    if (SensorToChip(format.value.sensorRect, &sensorToChip) != 0 ||
        InvertMatrix(3, sensorToDmd.data(), dmdToSensor.data()) != 0) {
        return VeroveStatus::kRefused;
    }
    const CZtMatrix3 dmdToImage =
        MultiplyMatrix3(chipToImage, MultiplyMatrix3(sensorToChip, dmdToSensor));

    const double w = m_dmdWidth.load() - 1.0;
    const double h = m_dmdHeight.load() - 1.0;
    const SZtPointD corners[4] = {{0.0, 0.0}, {w, 0.0}, {0.0, h}, {w, h}};
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    for (const SZtPointD& c : corners) {
        const auto [x, y] = ApplyAffine(dmdToImage, c);
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    const SZtRect dmdRect{static_cast<std::int32_t>(minX), static_cast<std::int32_t>(minY),
                          static_cast<std::int32_t>(maxX), static_cast<std::int32_t>(maxY)};

    const double degrees = angle * kDegreesPerRadian;
    const bool flip = IsMirrored(grabber);
    bool roiOn = false;
    SZtRect sensorRoi = format.value.sensorRect;
    if (grabber->CameraRoiIsOn(&roiOn) == 0 && roiOn) {
        grabber->CameraRoiGet(&sensorRoi);
    }
    SZtRect imageRoi;
    if (ConvertRectSensorToImage(&format, degrees, flip, &sensorRoi, &imageRoi) != 0) {
        return VeroveStatus::kRefused;
    }
    SZtRect intersection = Intersect(dmdRect, imageRoi);
    if (IsEmpty(intersection)) {
        VEROVE_LOG("CZtVeroveDriver::SyncCameraROI",
                   L"Current ROI is outside DMD illumination area. Full image will be synchronized "
                   L"(no image ROI is considered).");
        if (ConvertRectSensorToImage(&format, degrees, flip, &format.value.sensorRect, &imageRoi) !=
            0) {
            return VeroveStatus::kRefused;
        }
        intersection = Intersect(dmdRect, imageRoi);
    }
    if (IsNull(intersection) || IsEmpty(intersection)) {
        LogCalibrationMatrix(dmdToImage);
        VEROVE_LOG("CZtVeroveDriver::SyncCameraROI",
                   IsNull(intersection)
                       ? L"Intersection between DMD and image is RectNull. DMD (%i, %i, %i, %i), "
                         L"Image (%i, %i, %i, %i)"
                       : L"Intersection between DMD and image is RectEmpty. DMD (%i, %i, %i, %i), "
                         L"Image (%i, %i, %i, %i)",
                   dmdRect.left, dmdRect.top, dmdRect.right, dmdRect.bottom, imageRoi.left,
                   imageRoi.top, imageRoi.right, imageRoi.bottom);
        return VeroveStatus::kRefused;
    }
    if (SetCameraRoi(intersection, imageRoi, format, degrees, flip) != 0) {
        VEROVE_LOG("CZtVeroveDriver::SyncCameraROI", L"Failed to set Camera ROI.");
        return VeroveStatus::kRefused;
    }
    SZtGrabberFormatDesc current;
    if (GetCurrentFormat(&current) == 0) {
        CZtLock lock(m_formatLock);
        m_currentFormat = current.value;
    }
    return 0;
}

int CZtVeroveDriver::SensorToChip(const SZtRect& region, CZtMatrix3* sensorToChip) {
    CZtMatrix3 rotation{};
    CZtMatrix3 flip{};
    std::array<double, 3> centre{};
    if (GetCameraTransform(&rotation, &flip, &centre) != 0) {
        return VeroveStatus::kRefused;
    }
    centre = {static_cast<double>((region.right - region.left) / 2),
              static_cast<double>((region.bottom - region.top) / 2), 1.0};
    CZtMatrix3 unturn{};
    if (GetMappingToUnrotatedCamera(rotation.data(), flip.data(), centre.data(), unturn.data()) !=
        0) {
        return VeroveStatus::kRefused;
    }
    return InvertMatrix(3, unturn.data(), sensorToChip->data()) == 0 ? 0 : -9;
}

int CZtVeroveDriver::SetCameraRoi(const SZtRect& intersection, const SZtRect& imageRoi,
                                  const SZtGrabberFormatDesc& format, double degrees, bool flip) {
    const bool differs = !SameRect(intersection, imageRoi);
    SZtRect sensor;
    if (differs) {
        const SZtRect image{std::max(0, intersection.left), std::max(0, intersection.top),
                            std::min(intersection.right, imageRoi.right),
                            std::min(intersection.bottom, imageRoi.bottom)};
        IZtGrabberProvider* grabber = Grabber();
        if (ConvertRectImageToSensor(&format, degrees, flip, &image, &sensor) != 0 ||
            grabber->CameraRoiSet(&sensor) != 0 || grabber->CameraRoiEnable(true) != 0) {
            return VeroveStatus::kRefused;
        }
    } else if (ConvertRectImageToSensor(&format, degrees, flip, &imageRoi, &sensor) != 0) {
        return VeroveStatus::kRefused;
    }
    VEROVE_LOG("CZtVeroveDriver::SyncCameraROI", L"Camera ROI: (%i, %i, %i, %i), set: %i",
               static_cast<int>(sensor.left / format.value.binningX),
               static_cast<int>(sensor.top / format.value.binningY),
               static_cast<int>(sensor.right / format.value.binningX),
               static_cast<int>(sensor.bottom / format.value.binningY), differs ? 1 : 0);
    return 0;
}

// ---- SDK events --------------------------------------------------------------------------------

void CZtVeroveDriver::EventCallback(int handle, const wchar_t* feature) {
    if (!feature || std::wcscmp(feature, L"IsExposing") != 0) {
        return;
    }
    bool exposing = true;
    if (Proxy().IsExposing(handle, &exposing) != 0 || exposing) {
        return;
    }
    SDriverTable& table = DriverTable();
    CZtLock lock(table.lock);
    const auto it = table.drivers.find(handle);
    if (it != table.drivers.end()) {
        it->second->GetExposureEndEvent().Set();
    }
}
