// The memory the SDK reads the DMD's frames from, and the frames rendered into it.
#include "cztveroveframebuffer.h"

#include <algorithm>
#include <new>

#include "cztveroveproxy.h"
#include "verove_log.h"
#include "verovestatus.h"

namespace {

// Indexed by (bit depth - 4) / 2.
constexpr const wchar_t* kGrayScaleEncodings[] = {L"4BitDIP", L"6BitDIP", L"8BitDIP"};

}  // namespace

int CZtVeroveFrameBuffer::SetPixelEncoding(int handle, bool packed) {
    CZtVeroveProxy& proxy = CZtVeroveProxy::Instance();
    // Until the change is complete the device may read the memory in either encoding.
    m_encoding = -1;
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
    // The SDK holds the queued memory until another is queued: the old one lives until then.
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
    m_memory.swap(fresh);
    m_encoding = packed ? 1 : 0;
    return 0;
}

bool CZtVeroveFrameBuffer::Fits(const CZtPattern& pattern, bool packed) const {
    const size_t frameBytes =
        static_cast<size_t>(pattern.GetWidth()) * pattern.GetHeight() / (packed ? 8 : 1);
    return !m_memory.empty() && frameBytes <= m_memory.size();
}

int CZtVeroveFrameBuffer::Upload(int handle, CZtPattern* pattern, bool sequenceMode, int bitDepth,
                                 const SZtGrabberFormatValue& format,
                                 CZtCalibrationData* calibration) {
    const bool packed = sequenceMode || bitDepth == 1;
    // A frame in another encoding than the device reads would show as garbage.
    if (m_encoding != (packed ? 1 : 0)) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"The device does not read %s frames now: pattern %u not uploaded.",
                   packed ? L"packed" : L"grey-scale", pattern->GetId());
        return VeroveStatus::kMissingPrerequisite;
    }
    if (sequenceMode) {
        return UploadSequenceFrame(handle, pattern, format, calibration);
    }
    if (bitDepth != 1) {
        return UploadGrayScaleFrame(handle, pattern, bitDepth, format, calibration);
    }
    return RenderBinaryFrame(pattern, format, calibration);
}

void CZtVeroveFrameBuffer::Clear() {
    std::fill(m_memory.begin(), m_memory.end(), 0);
}

void CZtVeroveFrameBuffer::Release() {
    m_encoding = -1;
    std::vector<unsigned char>().swap(m_memory);
}

int CZtVeroveFrameBuffer::UploadSequenceFrame(int handle, CZtPattern* pattern,
                                              const SZtGrabberFormatValue& format,
                                              CZtCalibrationData* calibration) {
    // The frame goes to the next free frame-memory slot; the sequence events refer to slots in
    // upload order.
    pattern->SetDebugDeviceMemory(m_settings->debugDeviceMemory.load());
    pattern->SetDitheringMethod(m_settings->ditheringMethod.load());
    int result = pattern->GetBitmap(m_memory.data(), 1, true, &format, calibration);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"Failed to prepare pattern in illumination sequence mode.");
        return result;
    }
    result = CZtVeroveProxy::Instance().UploadFrame(handle);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"Failed to upload pattern in illumination sequence mode.");
    }
    return result;
}

int CZtVeroveFrameBuffer::UploadGrayScaleFrame(int handle, CZtPattern* pattern, int bitDepth,
                                               const SZtGrabberFormatValue& format,
                                               CZtCalibrationData* calibration) {
    int result = pattern->GetBitmap(m_memory.data(), static_cast<std::uint32_t>(bitDepth), false,
                                    &format, calibration);
    if (result != 0) {
        VEROVE_LOG("CZtVeroveDriver::UploadPattern",
                   L"Failed to obtain bitmap data for grayscaling mode, pattern ID = %u, pattern "
                   L"name = %s",
                   pattern->GetId(), pattern->GetName().GetString());
        return result;
    }
    CZtVeroveProxy& proxy = CZtVeroveProxy::Instance();
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

int CZtVeroveFrameBuffer::RenderBinaryFrame(CZtPattern* pattern,
                                            const SZtGrabberFormatValue& format,
                                            CZtCalibrationData* calibration) {
    // No upload command: the queued memory is the live frame that Expose shows.
    pattern->SetDebugDeviceMemory(m_settings->debugDeviceMemory.load());
    pattern->SetDitheringMethod(m_settings->ditheringMethod.load());
    return pattern->GetBitmap(m_memory.data(), 1, true, &format, calibration);
}
