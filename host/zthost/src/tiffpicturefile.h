// TiffPictureFile: TIFF and STK pictures through libtiff.
#pragma once

#include <string>

struct SZtPicBuf;

// Reentrant: every call opens its own file and keeps libtiff's messages to itself.
class TiffPictureFile {
public:
    // The first page of the file. Status codes as ZT_LoadPictureFromFile; error gets the reason.
    static int Load(const std::string& path, SZtPicBuf* pic, std::wstring* error);
    // Uncompressed, one strip layout chosen by libtiff. 0, or -9 with error filled.
    static int Save(const std::string& path, const SZtPicBuf& pic, std::wstring* error);
};
