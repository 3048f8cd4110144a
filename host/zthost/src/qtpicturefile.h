// QtPictureFile: BMP and PNG pictures through Qt's image reader and writer.
#pragma once

#include <string>

class QString;
struct SZtPicBuf;

// Reentrant.
class QtPictureFile {
public:
    // format: "BMP" or "PNG". Status codes as ZT_LoadPictureFromFile; error gets the reason.
    static int Load(const QString& path, const char* format, SZtPicBuf* pic, std::wstring* error);
    // 0; -4 for a picture the format cannot hold; -9 with error filled when writing fails.
    static int Save(const QString& path, const char* format, const SZtPicBuf& pic,
                    std::wstring* error);
};
