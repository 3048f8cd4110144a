// QtPictureFile: BMP and PNG pictures through Qt's image reader and writer.
#pragma once

#include <cstdint>
#include <string>

class QString;
struct SZtPicBuf;

// Reentrant.
class QtPictureFile {
public:
    // format: "BMP" or "PNG". A picture whose header claims more than maxPixelBytes of pixel data
    // is refused unread. Status codes as ZT_LoadPictureFromFile; error gets the reason.
    static int Load(const QString& path, const char* format, std::uint64_t maxPixelBytes,
                    SZtPicBuf* pic, std::wstring* error);
    // 0; -4 for a picture the format cannot hold; -9 with error filled when writing fails.
    static int Save(const QString& path, const char* format, const SZtPicBuf& pic,
                    std::wstring* error);
};
