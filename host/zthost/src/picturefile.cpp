// ZT_LoadPictureFromFile and ZT_SavePictureToFile: picture files by content and by extension.
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <string>

#include "qtpicturefile.h"
#include "tiffpicturefile.h"
#include "zt/zt_log.h"
#include "zt/zt_picbuf.h"

namespace {

// Compression lets a file hold a picture larger than itself, but not without bound: deflate (PNG)
// expands at most about 1032 times, TIFF's LZW about 2730 times, BMP's run lengths 128 times. A
// picture claiming more pixel data than the file could hold so is damaged, and is refused before
// anything is allocated for it: a header of a few bytes cannot make the host reserve gigabytes.
constexpr std::uint64_t kMaxExpansion = 4096;
constexpr std::uint64_t kHeaderAllowance = 65536;

std::uint64_t MaxPixelBytes(qint64 fileSize) {
    return std::min<std::uint64_t>(
        ZT_PICBUF_MAX_BYTES,
        static_cast<std::uint64_t>(std::max<qint64>(fileSize, 0)) * kMaxExpansion +
            kHeaderAllowance);
}

bool IsTiff(const QByteArray& head) {
    // Classic and BigTIFF, either byte order; STK files are TIFF files.
    return head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)) ||
           head.startsWith(QByteArray("II+\0", 4)) || head.startsWith(QByteArray("MM\0+", 4));
}

}  // namespace

int ZT_LoadPictureFromFile(const wchar_t* path, SZtPicBuf* pic) {
    if (!path || !*path || !pic) {
        return ZT_PIC_INVALID_ARG;
    }
    const QString file = QString::fromWCharArray(path);
    if (!QFileInfo::exists(file)) {
        ZT_DIAG_OUTPUT(L"zthost %hs: \"%s\": no such file", "ZT_LoadPictureFromFile", path);
        return ZT_PIC_NO_FILE;
    }
    QFile reader(file);
    QByteArray head;
    if (reader.open(QIODevice::ReadOnly)) {
        head = reader.read(8);
    }
    const std::uint64_t maxPixelBytes = MaxPixelBytes(reader.size());
    reader.close();
    std::wstring error = L"not a picture file";
    int status = ZT_PIC_UNREADABLE;
    if (IsTiff(head)) {
        status = TiffPictureFile::Load(QFile::encodeName(file).toStdString(), maxPixelBytes, pic,
                                       &error);
    } else if (head.startsWith("BM")) {
        status = QtPictureFile::Load(file, "BMP", maxPixelBytes, pic, &error);
    } else if (head.startsWith("\x89PNG\r\n\x1a\n")) {
        status = QtPictureFile::Load(file, "PNG", maxPixelBytes, pic, &error);
    }
    if (status != ZT_PIC_OK) {
        ZT_DIAG_OUTPUT(L"zthost %hs: \"%s\": %s", "ZT_LoadPictureFromFile", path, error.c_str());
    }
    return status;
}

int ZT_SavePictureToFile(const wchar_t* path, const SZtPicBuf* pic) {
    if (!path || !*path || !pic || pic->IsEmpty()) {
        return ZT_PIC_INVALID_ARG;
    }
    const QString file = QString::fromWCharArray(path);
    const QString extension = QFileInfo(file).suffix().toLower();
    std::wstring error;
    int status = ZT_PIC_INVALID_ARG;
    if (extension == QLatin1String("tif") || extension == QLatin1String("tiff")) {
        status = TiffPictureFile::Save(QFile::encodeName(file).toStdString(), *pic, &error);
    } else if (extension == QLatin1String("png")) {
        status = QtPictureFile::Save(file, "PNG", *pic, &error);
    } else if (extension == QLatin1String("bmp")) {
        status = QtPictureFile::Save(file, "BMP", *pic, &error);
    }
    if (status == ZT_PIC_INVALID_ARG) {
        error = L"the file type cannot hold this picture";
    }
    if (status != ZT_PIC_OK) {
        ZT_DIAG_OUTPUT(L"zthost %hs: \"%s\": %s", "ZT_SavePictureToFile", path, error.c_str());
    }
    return status;
}
