// QtPictureFile: BMP and PNG files to host pictures and back, keeping 1- and 4-bit grey depths.
#include "qtpicturefile.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QRgba64>
#include <QVector>

#include <algorithm>
#include <cstring>
#include <utility>

#include "zt/zt_picbuf.h"

namespace {

// The bits per pixel the file header states; Qt expands 4-bit pictures to 8 bits on reading.
int HeaderBits(const QString& path, const char* format) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray head = file.read(30);
    const auto byte = [&head](int i) { return i < head.size() ? static_cast<quint8>(head[i]) : 0; };
    if (qstrcmp(format, "PNG") == 0) {
        return byte(24);  // IHDR bit depth
    }
    // BMP: a 12-byte core header keeps the bit count at 24, the later headers at 28.
    const int bitCountAt = byte(14) == 12 ? 24 : 28;
    return byte(bitCountAt) | (byte(bitCountAt + 1) << 8);
}

int FromIndexed(const QImage& image, int headerBits, SZtPicBuf* out) {
    const QVector<QRgb> palette = image.colorTable();
    const std::uint32_t bits = image.depth() == 1 ? 1 : (headerBits == 4 ? 4 : 8);
    const int status = CZtPicBufAPI::Alloc(out, image.width(), image.height(), bits, 1);
    if (status != ZT_PIC_OK) {
        return status;
    }
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int index = image.pixelIndex(x, y);
            const int grey = index < palette.size() ? qGray(palette[index]) : 0;
            const int value = bits == 1   ? (grey >= 128 ? 1 : 0)
                              : bits == 4 ? (grey * 15 + 127) / 255
                                          : grey;
            CZtPicBufAPI::SetValue(out, x, y, value);
        }
    }
    return ZT_PIC_OK;
}

// Copies scanlines of a byte-addressed image whose pixels match the picture's layout.
int FromScanlines(const QImage& image, std::uint32_t bits, std::uint32_t components,
                  SZtPicBuf* out) {
    const int status = CZtPicBufAPI::Alloc(out, image.width(), image.height(), bits, components);
    if (status != ZT_PIC_OK) {
        return status;
    }
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(out->Row(y), image.constScanLine(y), out->stride);
    }
    return ZT_PIC_OK;
}

int FromRgb64(const QImage& source, SZtPicBuf* out) {
    const QImage image = source.convertToFormat(QImage::Format_RGBA64);
    const int status = CZtPicBufAPI::Alloc(out, image.width(), image.height(), 16, 3);
    if (status != ZT_PIC_OK) {
        return status;
    }
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgba64*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            CZtPicBufAPI::SetValue(out, x, y, line[x].red(), 0);
            CZtPicBufAPI::SetValue(out, x, y, line[x].green(), 1);
            CZtPicBufAPI::SetValue(out, x, y, line[x].blue(), 2);
        }
    }
    return ZT_PIC_OK;
}

bool IsGreyPalette(const QImage& image) {
    const QVector<QRgb> palette = image.colorTable();
    return std::all_of(palette.begin(), palette.end(), [](QRgb c) { return qIsGray(c); });
}

}  // namespace

int QtPictureFile::Load(const QString& path, const char* format, SZtPicBuf* pic,
                        std::wstring* error) {
    QImageReader reader(path, format);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid() &&
        static_cast<std::uint64_t>(size.width()) * size.height() > ZT_PICBUF_MAX_BYTES) {
        *error = L"picture too large";
        return ZT_PIC_ALLOC_FAILED;
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        *error = reader.errorString().toStdWString();
        return ZT_PIC_UNREADABLE;
    }
    SZtPicBuf out;
    int status;
    switch (image.format()) {
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
        case QImage::Format_Indexed8:
            status = IsGreyPalette(image)
                         ? FromIndexed(image, HeaderBits(path, format), &out)
                         : FromScanlines(image.convertToFormat(QImage::Format_RGB888), 8, 3, &out);
            break;
        case QImage::Format_Grayscale8:
            status = FromScanlines(image, 8, 1, &out);
            break;
        case QImage::Format_Grayscale16:
            status = FromScanlines(image, 16, 1, &out);
            break;
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied:
            status = FromRgb64(image, &out);
            break;
        default:
            status = FromScanlines(image.convertToFormat(QImage::Format_RGB888), 8, 3, &out);
            break;
    }
    if (status != ZT_PIC_OK) {
        *error = L"picture too large";
        return status;
    }
    *pic = std::move(out);
    return ZT_PIC_OK;
}

int QtPictureFile::Save(const QString& path, const char* format, const SZtPicBuf& pic,
                        std::wstring* error) {
    const bool png = qstrcmp(format, "PNG") == 0;
    const int width = static_cast<int>(pic.width), height = static_cast<int>(pic.height);
    QImage image;
    if (pic.bitsPerComponent == 1) {
        image = QImage(width, height, QImage::Format_Mono);
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                image.setPixel(x, y, CZtPicBufAPI::GetValue(&pic, x, y));
            }
        }
    } else if (pic.bitsPerComponent == 8 || (png && pic.bitsPerComponent > 8)) {
        const bool deep = pic.bitsPerComponent > 8;
        QImage::Format qtFormat = pic.components == 3 ? QImage::Format_RGB888
                                  : deep              ? QImage::Format_Grayscale16
                                                      : QImage::Format_Grayscale8;
        if (deep && pic.components == 3) {
            qtFormat = QImage::Format_RGBX64;
        } else if (!png && pic.components == 1) {
            // Qt writes 8-bit BMPs from indexed pictures only.
            qtFormat = QImage::Format_Indexed8;
        }
        image = QImage(width, height, qtFormat);
        if (qtFormat == QImage::Format_Indexed8) {
            QVector<QRgb> greys(256);
            for (int i = 0; i < 256; ++i) {
                greys[i] = qRgb(i, i, i);
            }
            image.setColorTable(greys);
        }
        for (int y = 0; y < height; ++y) {
            if (qtFormat == QImage::Format_RGBX64) {
                auto* line = reinterpret_cast<QRgba64*>(image.scanLine(y));
                for (int x = 0; x < width; ++x) {
                    line[x] = QRgba64::fromRgba64(CZtPicBufAPI::GetValue(&pic, x, y, 0),
                                                  CZtPicBufAPI::GetValue(&pic, x, y, 1),
                                                  CZtPicBufAPI::GetValue(&pic, x, y, 2), 0xFFFF);
                }
            } else {
                const std::size_t rowBytes =
                    std::size_t{pic.width} * pic.components * (deep ? 2 : 1);
                std::memcpy(image.scanLine(y), pic.Row(y), rowBytes);
            }
        }
    } else {
        return ZT_PIC_INVALID_ARG;
    }
    if (image.isNull()) {
        *error = L"picture too large";
        return ZT_PIC_ALLOC_FAILED;
    }
    QImageWriter writer(path, format);
    if (!writer.write(image)) {
        *error = writer.errorString().toStdWString();
        return ZT_PIC_UNREADABLE;
    }
    return ZT_PIC_OK;
}
