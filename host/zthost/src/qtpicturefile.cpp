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
    bool grey = false;  // PNG: grey, with or without alpha
    // BMP: where the pixels start and whether they are stored uncompressed, so that their size
    // follows from the header.
    std::uint64_t pixelOffset = 0;
    bool uncompressed = false;
    // BMP with 16 bits a pixel: the bits of red, green and blue.
    int channelBits[3] = {0, 0, 0};
};

FileHeader ReadHeader(const QString& path, const char* format) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray head = file.read(66);
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
        FileHeader header{static_cast<int>(byte(24)), bigEndian(16), bigEndian(20),
                          colourType < 7 ? kChannels[colourType] : 4};
        header.grey = colourType == 0 || colourType == 4;
        return header;
    }
    const std::uint64_t pixelOffset = littleEndian(10, 4);
    // BMP: a 12-byte core header has 16-bit sizes, the later headers signed 32-bit ones (a
    // negative height marks top-down rows).
    if (byte(14) == 12) {
        FileHeader header{static_cast<int>(littleEndian(24, 2)), littleEndian(18, 2),
                          littleEndian(20, 2)};
        header.pixelOffset = pixelOffset;
        header.uncompressed = true;
        return header;
    }
    const auto height = static_cast<std::int32_t>(littleEndian(22, 4));
    FileHeader header{static_cast<int>(littleEndian(28, 2)),
                      static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(
                          static_cast<std::int32_t>(littleEndian(18, 4))))),
                      static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(height)))};
    // Compression 0 plain, 3 and 6 bit fields; run lengths (1, 2) vary in size.
    const std::uint32_t compression = littleEndian(30, 4);
    header.pixelOffset = pixelOffset;
    header.uncompressed = compression == 0 || compression == 3 || compression == 6;
    if (header.bits == 16) {
        // Bit fields follow a 40-byte header and lie within the later ones; without them 5-5-5.
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t mask =
                compression == 3 ? littleEndian(54 + 4 * c, 4) : 0x1Fu << (10 - 5 * c);
            header.channelBits[c] = __builtin_popcount(mask);
        }
    }
    return header;
}

// Qt reads a BMP whose pixel data ends early as far as it goes and leaves the rest black; the
// header tells how many bytes the rows take, so a short file is found out before reading.
bool BmpTruncated(const FileHeader& header, std::uint64_t fileSize, std::wstring* error) {
    if (!header.uncompressed || header.bits <= 0) {
        return false;
    }
    const unsigned __int128 rowBytes =
        (static_cast<unsigned __int128>(header.width) * static_cast<unsigned>(header.bits) + 31) /
        32 * 4;
    const unsigned __int128 needed = header.pixelOffset + rowBytes * header.height;
    if (needed <= fileSize) {
        return false;
    }
    *error = L"truncated file: the pixel data needs " +
             std::to_wstring(static_cast<std::uint64_t>(needed)) + L" bytes, the file holds " +
             std::to_wstring(fileSize);
    return true;
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
                  SZtPicBuf* out);

// Qt widens a 5- or 6-bit channel by shifting, so that full red reads 248; the picture gets the
// full range, as the channel means it.
int FromFewBitsRgb(const QImage& image, const int channelBits[3], SZtPicBuf* out) {
    const int status = FromScanlines(image.convertToFormat(QImage::Format_RGB888), 8, 3, out);
    if (status != ZT_PIC_OK) {
        return status;
    }
    for (std::uint32_t y = 0; y < out->height; ++y) {
        std::uint8_t* row = out->Row(y);
        for (std::uint32_t i = 0; i < out->width * 3; ++i) {
            const int bits = channelBits[i % 3];
            if (bits > 0 && bits < 8) {
                const int maxValue = (1 << bits) - 1;
                row[i] = static_cast<std::uint8_t>(((row[i] >> (8 - bits)) * 255 + maxValue / 2) /
                                                   maxValue);
            }
        }
    }
    return ZT_PIC_OK;
}

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

// Qt reads grey with alpha as colour; the grey value is every colour component of it.
int FromGreyAlpha(const QImage& source, int headerBits, SZtPicBuf* out) {
    const bool deep = headerBits > 8;
    const QImage image =
        source.convertToFormat(deep ? QImage::Format_RGBA64 : QImage::Format_ARGB32);
    const int status = CZtPicBufAPI::Alloc(out, image.width(), image.height(), deep ? 16 : 8, 1);
    if (status != ZT_PIC_OK) {
        return status;
    }
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const std::uint32_t value =
                deep ? reinterpret_cast<const QRgba64*>(image.constScanLine(y))[x].red()
                     : static_cast<std::uint32_t>(
                           qRed(reinterpret_cast<const QRgb*>(image.constScanLine(y))[x]));
            CZtPicBufAPI::SetValue(out, x, y, value);
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
    if (BmpTruncated(header, static_cast<std::uint64_t>(std::max<qint64>(QFile(path).size(), 0)),
                     error)) {
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
            status = header.grey ? FromGreyAlpha(image, header.bits, &out) : FromRgb64(image, &out);
            break;
        default:
            if (header.grey) {
                status = FromGreyAlpha(image, header.bits, &out);
            } else if (header.channelBits[0] > 0) {
                status = FromFewBitsRgb(image, header.channelBits, &out);
            } else {
                status = FromScanlines(image.convertToFormat(QImage::Format_RGB888), 8, 3, &out);
            }
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
