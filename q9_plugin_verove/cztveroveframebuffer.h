// The memory the SDK reads the DMD's frames from, and the frames rendered into it.
#pragma once

#include <vector>

#include "cztverovedriverowner.h"
#include "patterns.h"
#include "zt/zt_grabber.h"

// Not thread-safe: the driver's buffer lock guards it, and every caller holds that lock. The SDK
// reads the queued memory until other memory is queued, so the memory is replaced only after its
// successor is queued.
class CZtVeroveFrameBuffer {
public:
    // settings is borrowed and outlives the buffer; it is read only when a frame is rendered.
    explicit CZtVeroveFrameBuffer(const SZtVeroveDriverSettings* settings) : m_settings(settings) {}

    // "Mono1Packed" for binary frames, else "Mono1": queues memory of the device's new frame size
    // with the SDK. 0, or the failed step's status.
    int SetPixelEncoding(int handle, bool packed);
    // Whether a frame of the pattern, packed or one byte per mirror, fits the memory.
    bool Fits(const CZtPattern& pattern, bool packed) const;
    // Renders the pattern as the mode's frame (packed in a sequence or at bit depth 1, else grey
    // levels) and uploads it where the mode needs an upload. -6 while the device reads
    // the memory in another encoding.
    int Upload(int handle, CZtPattern* pattern, bool sequenceMode, int bitDepth,
               const SZtGrabberFormatValue& format, CZtCalibrationData* calibration);
    // Dark mirrors in the live frame.
    void Clear();
    // Gives the memory back once the device is closed.
    void Release();
    int Size() const { return static_cast<int>(m_memory.size()); }

private:
    int UploadSequenceFrame(int handle, CZtPattern* pattern, const SZtGrabberFormatValue& format,
                            CZtCalibrationData* calibration);
    int UploadGrayScaleFrame(int handle, CZtPattern* pattern, int bitDepth,
                             const SZtGrabberFormatValue& format, CZtCalibrationData* calibration);
    int RenderBinaryFrame(CZtPattern* pattern, const SZtGrabberFormatValue& format,
                          CZtCalibrationData* calibration);

    const SZtVeroveDriverSettings* const m_settings;
    std::vector<unsigned char> m_memory;  // queued with the SDK
    // The encoding the device reads the queued memory in: 1 packed, 0 one byte per mirror, -1
    // unknown after a failed change (then no frame is rendered for it).
    int m_encoding = -1;
};
