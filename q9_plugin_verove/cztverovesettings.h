// The settings record of one device: what its settings file keeps, and the record's key tree.
#pragma once

#include <cstdint>
#include <vector>

#include "sztpatternfile.h"
#include "zt/zt_settings.h"
#include "zt/zt_string.h"

// One laser line of the associated light: stored per stimulation group (0-2) and current (3).
// The settings file keeps the index, the visible flag and the group values.
struct SZtVeroveLaserLine {
    std::uint32_t index = 0;
    bool visible = true;
    bool used[4] = {false, false, false, false};
    double power[4] = {0.0, 0.0, 0.0, 0.0};
    std::uint32_t wavelength = 0;
};

// Thread-compatible: the device uses its record on the host's main thread.
//
// The user settings of one device. The file holds them under the device's unique name:
// "Definition" / "Patterns", "Illumination" and the grey-scaling values.
class CZtVeroveSettings {
public:
    // Every field back to its default.
    void Reset();
    // Resets the record, then reads it from the device's level, where reader stands; reader is
    // left there. A missing key gives its default. 0; -4 for a null reader.
    int Read(CZtLiteVariantR* reader);
    // The file path of the bitmap pattern named name. 0; -4 for null arguments; -13 when there
    // are no bitmap patterns or none of that name.
    int FindBitmap(const wchar_t* name, CZtStringW* path) const;
    // Appends the device's level uniqueName, holding the record, at the writer's current level.
    // 0; -4 for a null writer or name.
    int Write(CZtLiteVariantW* writer, const wchar_t* uniqueName) const;

    std::vector<SZtPatternFile> bitmaps;  // the file keeps name, path and mapping
    double patternDuration = 1000.0;      // milliseconds
    std::int32_t bitDepth = 1;
    CZtStringW laserLaunchKey;   // the light's device-manager key
    CZtStringW laserLaunchType;  // "IDeviceMultiLaser" or "IDeviceLight"
    std::vector<SZtVeroveLaserLine> laserLines;
    CZtStringW laserSwitcherKey;  // the laser output's device-manager key
    std::uint32_t laserSwitcherPort = 0;
    std::vector<CZtStringW> shutterKeys;
    bool externalTriggerSet = false;
    CZtStringW nidaqResource;
    std::int32_t pfiTimestamp = 0;
    CZtStringW pfiTerminal;
    bool useTTL = false;
    bool grayscalingEnabled = false;
    std::int32_t grayscalingLevelsIndex = 16;

private:
    void ReadPatterns(CZtLiteVariantR* reader);
    void ReadIllumination(CZtLiteVariantR* reader);
    void ReadStimulationGroups(CZtLiteVariantR* reader);
    void ReadGroupLines(CZtLiteVariantR* reader, std::uint32_t group);
    void WriteIllumination(CZtLiteVariantW* writer) const;
    // The bit depth, the light and the switcher: written in "Illumination" and once more at the
    // definition level.
    void WriteLightSource(CZtLiteVariantW* writer) const;
};
