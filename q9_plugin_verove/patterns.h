// DMD patterns: their source pictures and the device frames rendered from them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "stimulationarea.h"
#include "zt/zt_grabber.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_string.h"

class CZtCalibrationData;

// Reentrant: different patterns may be used at once; the driver serialises the uses of one
// pattern under its own lock.
class CZtPattern {
public:
    CZtPattern() = default;
    // A zero-filled 8-bit grey bitmap of width x height; no bitmap when a side is 0.
    CZtPattern(const CZtStringW& name, std::uint32_t width, std::uint32_t height);
    // Copies leave out the file path, the working picture and the rendered frame.
    CZtPattern(const CZtPattern& other);
    CZtPattern& operator=(const CZtPattern& other);
    ~CZtPattern();

    // Writes the device frame for bitDepth (1, 4, 6 or 8) into frame: width * height / 8 bytes
    // when packed (1-bit rows of width / 8 bytes, leftmost mirror in the high bit), else width *
    // height bytes. Camera-mapped patterns need the camera format and the calibration. 0; -6 null
    // frame; -9 another bit depth, no format or calibration, or a failed resize.
    int GetBitmap(std::uint8_t* frame, std::uint32_t bitDepth, bool packed,
                  const SZtGrabberFormatValue* cameraFormat, CZtCalibrationData* calibration);
    // The pattern as it appears on the camera image, for the overlay. calibrationMatrix is the
    // DMD-to-camera mapping, row-major (needed for DMD-mapped patterns only).
    int GetProjectionToCameraSpace(SZtPicBuf* picture, const SZtGrabberFormatValue* cameraFormat,
                                   double cameraAngleDegrees,
                                   const std::vector<double>& calibrationMatrix,
                                   const SZtScanAreaDesc* scanArea);
    // Writes a camera-mapped area pattern as the DMD would show it, 8-bit, without dithering.
    int SaveTransformed(const wchar_t* path, const SZtGrabberFormatValue* cameraFormat,
                        CZtCalibrationData* calibration);

    void SetBitmap(const SZtPicBuf* picture);
    const SZtPicBuf& GetBitmapPicture() const { return m_bitmap; }
    void SetSize(std::uint32_t width, std::uint32_t height);
    std::uint32_t GetWidth() const { return m_width; }
    std::uint32_t GetHeight() const { return m_height; }

    // Keeps the rendered frame when mask and areas are what the pattern already has. -4 null mask.
    int SetStimulationAreas(const std::vector<SZtStimulationArea>& areas, const SZtRLEPicBuf* mask);
    // 0, or -9 when no mask was ever set.
    int GetStimulationAreas(std::vector<SZtStimulationArea>* areas) const;
    bool HasStimulationAreas() const { return m_hasAreas && !m_areas.empty(); }

    const CZtStringW& GetName() const { return m_strName; }
    void SetName(const CZtStringW& name) { m_strName = name; }
    const CZtStringW& GetFilePath() const { return m_strFilePath; }
    void SetFilePath(const CZtStringW& path) { m_strFilePath = path; }
    std::uint32_t GetId() const { return m_id; }
    void SetId(std::uint32_t id) { m_id = id; }
    // 0 DMD coordinates, 1 camera coordinates.
    std::uint32_t GetMapping() const { return m_mapping; }
    void SetMapping(std::uint32_t mapping) { m_mapping = mapping; }
    // 3 generated, 0 rendered from stimulation areas, 1 bitmap file.
    std::uint32_t GetKind() const { return m_kind; }
    void SetKind(std::uint32_t kind) { m_kind = kind; }
    bool GetDebugDeviceMemory() const { return m_debugDeviceMemory; }
    void SetDebugDeviceMemory(bool on) { m_debugDeviceMemory = on; }
    // Index into the dithering table: 0 none, 1 Stucki, 2 Floyd-Steinberg, 3 Jarvis-Judice-Ninke,
    // 4 Bayer.
    std::uint32_t GetDitheringMethod() const { return m_ditheringMethod; }
    void SetDitheringMethod(std::uint32_t method) { m_ditheringMethod = method; }
    // Whether the camera is a scanning (confocal) grabber, whose image shows its scan area; the
    // device copies it from the host's grabber before rendering, as it does the dithering.
    bool GetConfocal() const { return m_confocal; }
    void SetConfocal(bool confocal) { m_confocal = confocal; }
    bool IsValid() const { return m_valid; }
    void SetValid(bool valid) { m_valid = valid; }
    bool IsRenderedFor(std::uint32_t bitDepth, bool packed) const;
    // How often GetBitmap computed the frame rather than copying it from the cache.
    std::uint64_t GetRenderCount() const { return m_renderCount; }

    // Reads a user pattern file and brings it to 8-bit grey: 1-bit pixels become 0 and 255,
    // 4-bit ones are scaled to 8 bits, colour is turned to grey. The load status (-3, -4, -5,
    // -9) or the conversion's; non-zero means the file cannot be used as a pattern.
    static int LoadPictureFile(const wchar_t* path, SZtPicBuf* picture);
    // target(x, y) = source(round(m·(x, y))): every target pixel takes the source pixel that the
    // 3x3 row-major matrix maps it onto, coordinates rounded half away from zero, 0 outside the
    // source. Both pictures 8-bit grey; target keeps its size.
    static void MapNearest(const SZtPicBuf& source, const double* matrix, SZtPicBuf* target);
    // The widest vector steps MapNearest takes on processors that have them: 512 (AVX-512, the
    // default), 256 (AVX2) or less (plain steps). All give the same pixels; tests run each path
    // on one machine.
    static void SetMappingVectorBits(int bits);

private:
    int FitTo(const SZtPicBuf& source, std::uint32_t targetWidth, std::uint32_t targetHeight,
              bool camera, const char* function, SZtPicBuf* target) const;
    // The camera picture to map (m_work or the bitmap), or null when there is none.
    int BuildCameraPicture(const SZtGrabberFormatValue* cameraFormat,
                           CZtCalibrationData* calibration, const SZtPicBuf** picture);
    int BuildAreaPicture();
    int MapToDmd(const SZtPicBuf& camera, const SZtGrabberFormatValue* cameraFormat,
                 CZtCalibrationData* calibration, SZtPicBuf* dmd) const;
    void RenderFromWork(const SZtPicBuf& picture, std::uint32_t bitDepth, bool packed);
    // Reduces the rows from firstRow on into m_dithered's rows, levels 0 and 255. 0 or -9.
    int DitherToTwoLevels(const SZtPicBuf& picture, std::uint32_t firstRow);

    CZtStringW m_strName;
    CZtStringW m_strFilePath;
    std::uint32_t m_id = 0;
    SZtPicBuf m_bitmap;
    SZtPicBuf m_work;
    // Kept from render to render, so that a render allocates nothing once the sizes are known.
    SZtPicBuf m_dmd;
    SZtPicBuf m_dithered;
    std::vector<std::uint8_t> m_ditherBuffer;
    std::vector<std::uint8_t> m_columnLevels;
    std::unique_ptr<SZtRLEPicBuf> m_areaMask;
    std::vector<std::uint8_t> m_rendered;
    std::vector<SZtStimulationArea> m_areas;
    bool m_hasAreas = false;
    std::uint32_t m_mapping = 0;
    std::uint32_t m_kind = 3;
    bool m_valid = false;
    std::uint32_t m_renderedBitDepth = 0;
    std::int32_t m_renderedPacked = -1;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    bool m_debugDeviceMemory = false;
    std::uint32_t m_ditheringMethod = 1;
    bool m_confocal = false;
    std::uint64_t m_renderCount = 0;
};
