// QtPictureFile: BMP and PNG files to host pictures and back, keeping 1- and 4-bit grey depths.
#include "qtpicturefile.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QRgba64>
#include <QVector>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "zt/zt_picbuf.h"

namespace {

// What the file header states. Qt expands 4-bit pictures to 8 bits on reading, and refuses large
// pictures without saying why: the header tells both.
struct FileHeader {
    int bits = 0;  // per pixel for BMP, per channel for PNG
    std::uint64_t width = 0, height = 0;
    int channels = 1;
};

FileHeader ReadHeader(const QString& path, const char* format) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray head = file.read(30);
    const auto byte = [&head](int i) -> std::uint32_t {
        return i < head.size() ? static_cast<quint8>(head[i]) : 0;
    };
    const auto bigEndian = [&byte](int i) {
        return byte(i) << 24 | byte(i + 1) << 16 | byte(i + 2) << 8 | byte(i + 3);
    };
    const auto littleEndian = [&byte](int i, int size) {
        std::uint32_t value = 0;
        for (int k = size - 1; k >= 0; --k) {
            value = value << 8 | byte(i + k);
        }
        return value;
    };
    if (qstrcmp(format, "PNG") == 0) {
        // IHDR; colour types 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA.
        static constexpr int kChannels[] = {1, 1, 3, 1, 2, 1, 4};
        const std::uint32_t colourType = byte(25);
        return {static_cast<int>(byte(24)), bigEndian(16), bigEndian(20),
                colourType < 7 ? kChannels[colourType] : 4};
    }
    // BMP: a 12-byte core header has 16-bit sizes, the later headers signed 32-bit ones (a
    // negative height marks top-down rows).
    if (byte(14) == 12) {
        return {static_cast<int>(littleEndian(24, 2)), littleEndian(18, 2), littleEndian(20, 2)};
    }
    const auto height = static_cast<std::int32_t>(littleEndian(22, 4));
    return {static_cast<int>(littleEndian(28, 2)),
            static_cast<std::uint64_t>(std::abs(
                static_cast<std::int64_t>(static_cast<std::int32_t>(littleEndian(18, 4))))),
            static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(height)))};
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

int QtPictureFile::Load(const QString& path, const char* format, std::uint64_t maxPixelBytes,
                        SZtPicBuf* pic, std::wstring* error) {
    const FileHeader header = ReadHeader(path, format);
    if (static_cast<unsigned __int128>(header.width) * header.height > ZT_PICBUF_MAX_BYTES) {
        *error = L"picture too large";
        return ZT_PIC_ALLOC_FAILED;
    }
    // The pixel data the header claims, in bits (wide: 32-bit sizes times the depth).
    const unsigned __int128 bits = static_cast<unsigned __int128>(header.width) * header.height *
                                   static_cast<unsigned>(std::max(header.bits, 1)) *
                                   static_cast<unsigned>(header.channels);
    if (bits > static_cast<unsigned __int128>(maxPixelBytes) * 8) {
        *error = L"more pixel data than the file can hold";
        return ZT_PIC_UNREADABLE;
    }
    QImageReader reader(path, format);
    reader.setAutoTransform(false);
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
                         ? FromIndexed(image, header.bits, &out)
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
