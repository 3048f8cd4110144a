// One entry of a device's list of user pattern files: kept by the settings file, edited by the
// pattern manager.
#pragma once

#include <cstdint>

#include "zt/zt_string.h"

struct SZtPatternFile {
    SZtPatternFile() = default;
    // A new entry for the file at path: base name and suffix from the path, flag 1.
    SZtPatternFile(const CZtStringW& name, const CZtStringW& path, std::int32_t mapping);

    // Opens the picture for its size and bits per pixel; infoRead is set even when the file
    // cannot be read, so that an unreadable file is not opened again at every list rebuild.
    void ReadPictureInfo();

    CZtStringW name;      // shown and editable; initially the base name
    CZtStringW filePath;  // absolute; the key that tells duplicates
    CZtStringW baseName;  // file name without suffix
    CZtStringW suffix;
    std::int32_t flag = 1;
    std::int32_t mapping = 0;   // 0 DMD coordinates, 1 camera coordinates
    std::int32_t bitDepth = 0;  // bits per pixel as read from the file
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool infoRead = false;
};
