// The device settings file: loading and saving one device's record, and checking its pattern files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cztverovesettings.h"
#include "patterns.h"

// Thread-bound to the host's main thread: the pattern checks show message boxes.
//
// All devices of one kind share one file in the host's settings location, each device's record
// under its unique name below "Verove", next to the file's "FileVersion" (8).
class CZtVeroveSettingsFile {
public:
    static constexpr std::int32_t kFileVersion = 8;
    // The first ID of the user's file patterns; 0-5 are the built-in patterns.
    static constexpr std::uint32_t kFirstFilePatternId = 6;

    // The name the host's settings manager takes: the file name without ".bin".
    static std::wstring WithoutExtension(const wchar_t* fileName);
    // Resets settings, then reads the record of uniqueName from the file fileName (with or
    // without ".bin"). 0; -4 for null arguments; -5 when the file, its "Verove" level or the
    // device's level is missing (or the file does not read); -9 for another file version. The
    // record keeps its defaults on every failure.
    static int Load(const wchar_t* fileName, const wchar_t* uniqueName,
                    CZtVeroveSettings* settings);
    // Stores the record of uniqueName in the file. The device's shutter chain and bitmap list
    // replace the stored ones whole; every other value of the file, other devices' records and
    // calibrations included, stays. 0; -4 for null arguments; the host's save status.
    static int Save(const wchar_t* fileName, const wchar_t* uniqueName,
                    const CZtVeroveSettings& settings);
    // Merges tree into the file fileName and saves it: every value of the file that tree does
    // not hold stays. clear first empties, in the loaded file, the levels tree replaces whole.
    // The host's save status, logged under function on a failure.
    static int MergeIntoFile(const char* function, const wchar_t* fileName,
                             const CZtLiteVariantW& tree,
                             const std::function<void(CZtLiteVariantW*)>& clear);
    // Checks the record's bitmap entries in order; a warning box reports each that gives no
    // pattern. A later entry whose name an earlier pattern has is dropped from the record. Every
    // usable file becomes a pattern of width x height, kind 1, with the entry's mapping and the
    // ID kFirstFilePatternId + its entry's position in the record, and the file's path; patterns
    // receives them in the order of the record.
    static void CheckBitmapPatterns(CZtVeroveSettings* settings, std::uint32_t width,
                                    std::uint32_t height,
                                    std::vector<std::unique_ptr<CZtPattern>>* patterns);
};
