// The DMD driver of one Verove device: connection, patterns and their upload, exposure, modes,
// and the camera geometry the patterns are rendered for.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "cztcalibrationdata.h"
#include "cztpatternstore.h"
#include "cztverovedriverowner.h"
#include "cztveroveframebuffer.h"
#include "zt/zt_camera.h"
#include "zt/zt_grabber.h"
#include "zt/zt_string.h"
#include "zt/zt_sync.h"

// One event of an illumination sequence: frames frameIndex .. frameIndex + frameCount - 1 of
// the uploaded patterns, shown frameCycleCount times, each for exposureTime seconds, then a gap.
struct SZtVeroveSequenceEvent {
    std::int32_t frameIndex = 0;
    std::int32_t frameCount = 1;
    std::int32_t frameCycleCount = 1;
    double exposureTime = 0.0;
    double gapTime = 0.0;
};

// Thread-safe. ExposePattern runs under the expose lock; every write into the user buffer, every
// upload command reading it, and every use of the pattern store runs under the buffer lock
// (lock order: expose lock, then buffer lock, then the proxy's handle lock). The SDK's event
// callback only reads through the proxy and sets the exposure-end event.
class CZtVeroveDriver : public CZtCameraUpdate {
public:
    // owner is borrowed and outlives the driver; null for a driver without a device.
    explicit CZtVeroveDriver(IZtVeroveDriverOwner* owner);
    ~CZtVeroveDriver() override;
    CZtVeroveDriver(const CZtVeroveDriver&) = delete;
    CZtVeroveDriver& operator=(const CZtVeroveDriver&) = delete;

    int CameraFormatChanged() override;
    // Matches the camera ROI to the part of the image the DMD illuminates (enable), or switches
    // the camera ROI off and re-renders camera-mapped patterns (!enable).
    virtual int SyncCameraROI(bool enable);

    // ---- Device ----
    int Connect(int deviceIndex);
    int Disconnect();
    int OpenDevice(int deviceIndex);
    bool IsConnected() const { return m_handle.load() > 0; }
    int GetHandle() const { return m_handle.load(); }
    bool IsExposing() const { return m_exposing.load(); }
    int GetFirmwareVersion(CZtStringW* text);
    int GetControllerFirmwareVersion(CZtStringW* text);
    int GetSDKVersion(CZtStringW* text);

    // ---- Patterns and exposure ----
    // Shows a pattern of the store; 0, or -9 when it is missing or "Full OFF" had to stand in.
    int ExposePattern(int patternId, bool force);
    // Renders pattern into the user buffer and, where the mode needs it, uploads it.
    int UploadPattern(int slot, CZtPattern* pattern);
    int StartPattern();
    int StopPattern();
    int Expose();
    int Abort();
    int NextPattern();
    int UpdateDevicePatterns();
    int ClearDeviceMemory();
    void ClearFrameBuffer();
    int InvalidatePattern(int patternId);
    int InvalidateCameraMappedPatterns();
    // The store; use it only while holding GetBufferLock().
    CZtPatternStore& GetPatterns() { return m_patterns; }
    // Held around ExposePattern; callers that show a frame of their own (StopPattern,
    // UploadPattern, StartPattern) hold it the same way.
    CZtCriticalSection& GetExposeLock() { return m_exposeLock; }

    // ---- Modes ----
    // Operation modes 0-3: "Live", "FrameMemory", "FrameSequence", "ContinuousFrameSequence".
    int SetOperationMode(int mode);
    // Trigger modes 0-4: "InternalExpose", "InternalSoftware", "ExternalExpose",
    // "ExternalSequenceStart", "ExternalBulb".
    int SetTriggerMode(int mode);
    int SetOverlapMode(bool overlap);
    // "Mono1Packed" for binary patterns, else "Mono1"; reallocates and queues the user buffer.
    int SetPixelEncoding(bool packed);
    int SetSequence(int startIndex, int loopLength, int loopCount);
    // Enters sequence mode and programs the device: frame memory gets the patterns in order
    // (binary; the owner has shown "Full OFF" and set bit depth 1 first), the events refer to
    // them by position; the sequence runs repeatCount + 1 times, each event waiting for its
    // external trigger. 0, or the failed pattern upload's status.
    int ProgramIlluminationSequence(const std::vector<CZtPattern*>& patterns,
                                    const std::vector<SZtVeroveSequenceEvent>& events,
                                    int repeatCount);
    // Stops the sequence, empties the device memory and returns to live single patterns; the
    // owner then restores its bit depth and shows its pattern again.
    int LeaveIlluminationSequence();
    // The illumination-sequence mode, set while a sequence is programmed.
    void SetSequenceMode(bool on) { m_sequenceMode.store(on); }
    bool GetSequenceMode() const { return m_sequenceMode.load(); }
    // The device holds it while it programs an illumination sequence.
    CZtCriticalSection& GetBufferLock() { return m_bufferLock; }
    // Shared by every driver of the process: set when an exposure ended or was aborted.
    CZtEvent& GetExposureEndEvent() { return m_exposureEndEvent; }

    // ---- Camera and calibration ----
    int SetCalibrationMatrices(const CZtMatrix3& dmdToCamera, const CZtMatrix3& cameraToDmd);
    // Loads the stored calibration that fits the current configuration; when it changed, the
    // camera-mapped patterns are rendered again and the active one shown again if it is one.
    // The status of the load; -12 without calibration data.
    int ReloadCalibration();
    int GetCurrentFormat(SZtGrabberFormatDesc* format);
    // rotation: R(a) for the software camera angle a; flip: y scaled by -1 when the image is
    // mirrored; centre: (ROI width / 2, ROI height / 2, 1), integer halves.
    int GetCameraTransform(CZtMatrix3* rotation, CZtMatrix3* flip, std::array<double, 3>* centre);
    // The camera format as the last camera ROI match left it.
    SZtGrabberFormatValue GetMatchedFormat() {
        CZtLock lock(m_formatLock);
        return m_currentFormat;
    }
    // Whether SyncCameraROI is running: ROI changes it makes reach the device as camera events.
    bool IsSyncingCameraROI() const { return m_syncingCameraROI.load(); }
    // Recomputes the TRAX state from the owner's light-path ports.
    void UpdateTriggerAvailability();
    bool IsTRAXConnected() const { return m_traxConnected.load(); }

    int GetDmdWidth() const { return m_dmdWidth.load(); }
    int GetDmdHeight() const { return m_dmdHeight.load(); }
    int GetBufferSize();

private:
    // Uploads the pattern, else "Full OFF", else leaves a dark buffer; the ID now shown.
    int UploadWithFallback(int patternId);
    bool GalvoConflict();
    CZtStringW ActiveCameraName();
    CZtCalibrationData* Calibration();

    std::atomic<bool> m_exposing{false};
    std::atomic<bool> m_sequenceMode{false};
    std::atomic<int> m_dmdWidth{0};
    std::atomic<int> m_dmdHeight{0};
    IZtVeroveDriverOwner* const m_owner;
    SZtVeroveDriverSettings* const m_settings;
    std::atomic<int> m_handle{0};
    std::atomic<bool> m_overlapMode{false};
    std::atomic<int> m_triggerModeCache{-1};
    std::atomic<int> m_operationModeCache{1};
    CZtVeroveFrameBuffer m_frameBuffer;  // m_bufferLock
    CZtPatternStore m_patterns;          // m_bufferLock
    CZtCriticalSection m_bufferLock;
    CZtEvent m_exposureEndEvent;
    CZtCriticalSection m_exposeLock;
    CZtCriticalSection m_formatLock;
    SZtGrabberFormatValue m_currentFormat;  // m_formatLock
    std::atomic<bool> m_syncingCameraROI{false};
    std::atomic<bool> m_traxConnected{false};
};
