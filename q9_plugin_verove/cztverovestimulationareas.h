// The stimulation areas the host sets on the device, and the group patterns S1-S3 built from them.
#pragma once

#include <atomic>
#include <cstdint>

#include "zt/zt_grabber.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_roi.h"

class CZtStimulationDeviceVerove;
class CZtVeroveDriver;

// The host's main thread sets the areas; StimulationAreaGet also runs on host work threads. The
// areas are under the device's areas lock; the group patterns are rebuilt under the driver's
// buffer lock, inside the device's run lock so that a stimulation never sees half of them.
class CZtVeroveStimulationAreas {
public:
    static constexpr std::uint32_t kGroupCount = 3;
    // Group g shows the pattern with this identifier plus g.
    static constexpr int kFirstGroupPattern = 3;

    // device is borrowed: it owns the areas.
    explicit CZtVeroveStimulationAreas(CZtStimulationDeviceVerove& device) : m_device(device) {}
    CZtVeroveStimulationAreas(const CZtVeroveStimulationAreas&) = delete;
    CZtVeroveStimulationAreas& operator=(const CZtVeroveStimulationAreas&) = delete;

    int StimulationAreaGetCount();
    int StimulationAreaSet(const CZtRoiObjectList* areas, const SZtRLEPicBuf* masks,
                           const SZtScanAreaDesc* scanArea, const SZtGrabberFormatDesc* format,
                           const SZtRect* cameraRect);
    int StimulationAreaGet(CZtRoiObjectList* areas, SZtRLEPicBuf* masks, SZtScanAreaDesc* scanArea,
                           SZtGrabberFormatDesc* format, SZtRect* cameraRect,
                           std::uint64_t* groupMask);
    int StimulationAreaAppendAsPattern();
    int StimulationAreaUpload();
    bool StimulationAreaIsUpToDate();
    int StimulationReady();
    bool StimulationIsReady();
    // One log line listing the stimulation areas with their groups, identifiers and labels.
    void LogROIContent();
    // The areas must be set again before a stimulation (a new depth or experiment).
    void Invalidate() { m_areasSet = false; }
    // The scan area of the grabber's scan-area form; false when the grabber shows none.
    static bool ReadScanAreaForm(IZtGrabberProvider* grabber, SZtScanAreaDesc* desc);

private:
    // Gives each group pattern its areas and masks, renders it once at the current depth and shows
    // it again when it is the exposed one and its content changed.
    void UpdateGroupPatterns(CZtVeroveDriver* driver);

    CZtStimulationDeviceVerove& m_device;
    // The stimulation areas as the host gave them; the device's areas lock.
    CZtRoiObjectList m_areas;
    SZtRLEPicBuf m_areaMasks;
    SZtScanAreaDesc m_scanArea;
    SZtGrabberFormatDesc m_cameraFormat;
    SZtRect m_cameraRect;
    std::atomic<bool> m_areasSet{false};
};
