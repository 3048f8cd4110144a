// TiffPictureFile: TIFF and STK pictures through libtiff.
#pragma once

#include <cstdint>
#include <string>

struct SZtPicBuf;

// Reentrant: every call opens its own file and keeps libtiff's messages to itself.
class TiffPictureFile {
public:
    // The first page of the file; a page claiming more than maxPixelBytes of pixel data is refused
    // unread. Status codes as ZT_LoadPictureFromFile; error gets the reason.
    static int Load(const std::string& path, std::uint64_t maxPixelBytes, SZtPicBuf* pic,
                    std::wstring* error);
    // Uncompressed, one strip layout chosen by libtiff. 0, or -9 with error filled.
    static int Save(const std::string& path, const SZtPicBuf& pic, std::wstring* error);
};
