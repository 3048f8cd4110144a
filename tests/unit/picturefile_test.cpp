// PictureFile: loading and saving BMP, PNG, TIFF and STK pictures, and broken files.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cstdint>
#include <string>
#include <vector>

#include "zt/zt_picbuf.h"
#include "zthost/zthost.h"

namespace {

using V = std::vector<std::uint32_t>;

V Values(const SZtPicBuf& pic) {
    V values;
    for (std::uint32_t y = 0; y < pic.height; ++y) {
        for (std::uint32_t x = 0; x < pic.width; ++x) {
            for (std::uint32_t c = 0; c < pic.components; ++c) {
                values.push_back(CZtPicBufAPI::GetValue(&pic, x, y, c));
            }
        }
    }
    return values;
}

SZtPicBuf Make(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
               std::uint32_t components, const V& values) {
    SZtPicBuf pic;
    EXPECT_EQ(CZtPicBufAPI::Alloc(&pic, width, height, bits, components), 0);
    std::size_t i = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t c = 0; c < components; ++c) {
                CZtPicBufAPI::SetValue(&pic, x, y, values.at(i++), c);
            }
        }
    }
    return pic;
}

// Values 0 .. maxValue spread over count samples, the last one maxValue.
V Ramp(std::size_t count, std::uint32_t maxValue) {
    V values;
    for (std::size_t i = 0; i < count; ++i) {
        values.push_back(static_cast<std::uint32_t>((i * 7919 + 13) % (maxValue + 1)));
    }
    values.back() = maxValue;
    return values;
}

struct TiffLayout {
    std::uint32_t width = 3, height = 2;
    std::uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t compression = COMPRESSION_NONE;
};

// Writes one page per entry of pages with libtiff; each page lists its samples row by row.
void WriteTiff(const QString& path, const TiffLayout& layout, const std::vector<V>& pages) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tif, nullptr);
    for (const V& page : pages) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1u);
        if (layout.samples == 4 || layout.samples == 2) {
            const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        const std::size_t perRow = std::size_t{layout.width} * layout.samples;
        std::vector<std::uint8_t> line(TIFFScanlineSize(tif));
        for (std::uint32_t y = 0; y < layout.height; ++y) {
            std::fill(line.begin(), line.end(), 0);
            for (std::size_t i = 0; i < perRow; ++i) {
                const std::uint32_t v = page.at(y * perRow + i);
                if (layout.bits == 1) {
                    line[i / 8] |= static_cast<std::uint8_t>(v << (7 - i % 8));
                } else if (layout.bits == 4) {
                    line[i / 2] |= static_cast<std::uint8_t>(i % 2 ? v : v << 4);
                } else if (layout.bits == 8) {
                    line[i] = static_cast<std::uint8_t>(v);
                } else {
                    reinterpret_cast<std::uint16_t*>(line.data())[i] =
                        static_cast<std::uint16_t>(v);
                }
            }
            ASSERT_EQ(TIFFWriteScanline(tif, line.data(), y, 0), 1);
        }
        ASSERT_TRUE(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A BMP file with a 40-byte header, bottom-up rows padded to four bytes.
QByteArray Bmp(std::int32_t width, std::int32_t height, std::uint16_t bitCount,
               const std::vector<QRgb>& palette, const QByteArray& pixels) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const std::uint32_t offset = 14 + 40 + 4 * static_cast<std::uint32_t>(palette.size());
    out.writeRawData("BM", 2);
    out << quint32(offset + pixels.size()) << quint32(0) << quint32(offset);
    out << quint32(40) << qint32(width) << qint32(height) << quint16(1) << quint16(bitCount)
        << quint32(0) << quint32(pixels.size()) << qint32(2835) << qint32(2835)
        << quint32(palette.size()) << quint32(0);
    for (QRgb c : palette) {
        out << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
    }
    out.writeRawData(pixels.constData(), pixels.size());
    return bytes;
}

// A PNG file of one IDAT chunk, written byte by byte: Qt writes no grey-with-alpha PNGs, nor grey
// at 2 or 4 bits. rows are the filtered scanlines without their filter byte.
QByteArray Png(std::uint32_t width, std::uint32_t height, std::uint8_t bits,
               std::uint8_t colourType, const std::vector<QByteArray>& rows) {
    const auto crc32 = [](const QByteArray& data) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (char c : data) {
            crc ^= static_cast<std::uint8_t>(c);
            for (int k = 0; k < 8; ++k) {
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
            }
        }
        return ~crc;
    };
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    const auto chunk = [&png, &crc32](const char* type, const QByteArray& body) {
        QByteArray typed = QByteArray(type) + body;
        QDataStream out(&png, QIODevice::Append);
        out << quint32(body.size());
        out.writeRawData(typed.constData(), typed.size());
        out << quint32(crc32(typed));
    };
    QByteArray header;
    QDataStream(&header, QIODevice::WriteOnly)
        << quint32(width) << quint32(height) << quint8(bits) << quint8(colourType) << quint8(0)
        << quint8(0) << quint8(0);
    chunk("IHDR", header);
    QByteArray raw;
    for (const QByteArray& row : rows) {
        raw += '\0' + row;
    }
    chunk("IDAT", qCompress(raw).mid(4));  // qCompress puts the length before the zlib stream
    chunk("IEND", QByteArray());
    return png;
}

class PictureFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        zthost::ClearCapturedLog();
    }
    QString Path(const char* name) const { return QDir(m_dir.path()).filePath(name); }
    static std::wstring W(const QString& path) { return path.toStdWString(); }

    // Loads path and expects a picture of the given format and values.
    void ExpectLoads(const QString& path, std::uint32_t width, std::uint32_t height,
                     std::uint32_t bits, std::uint32_t components, const V& values) {
        SZtPicBuf pic;
        ASSERT_EQ(ZT_LoadPictureFromFile(W(path).c_str(), &pic), 0) << path.toStdString();
        EXPECT_EQ(pic.width, width) << path.toStdString();
        EXPECT_EQ(pic.height, height) << path.toStdString();
        EXPECT_EQ(pic.bitsPerComponent, bits) << path.toStdString();
        EXPECT_EQ(pic.components, components) << path.toStdString();
        EXPECT_EQ(Values(pic), values) << path.toStdString();
    }

    QTemporaryDir m_dir;
};

TEST_F(PictureFile, TiffMinIsWhiteAndAlpha) {
    // Min-is-white pictures are turned so that 0 is black.
    TiffLayout white;
    white.photometric = PHOTOMETRIC_MINISWHITE;
    WriteTiff(Path("white8.tif"), white, {{0, 200, 255, 1, 2, 3}});
    ExpectLoads(Path("white8.tif"), 3, 2, 8, 1, {255, 55, 0, 254, 253, 252});
    white.bits = 1;
    WriteTiff(Path("white1.tif"), white, {{1, 0, 1, 0, 0, 0}});
    ExpectLoads(Path("white1.tif"), 3, 2, 1, 1, {0, 1, 0, 1, 1, 1});

    TiffLayout rgba;
    rgba.width = 2;
    rgba.height = 1;
    rgba.samples = 4;
    rgba.photometric = PHOTOMETRIC_RGB;
    WriteTiff(Path("rgba.tif"), rgba, {{10, 20, 30, 255, 40, 50, 60, 0}});
    ExpectLoads(Path("rgba.tif"), 2, 1, 8, 3, {10, 20, 30, 40, 50, 60});
}

TEST_F(PictureFile, MultiPageTiffAndStkGiveTheFirstPage) {
    TiffLayout layout;
    layout.bits = 16;
    const V first = {1, 2, 3, 4, 5, 6};
    const V second = {60000, 50000, 40000, 30000, 20000, 10000};
    WriteTiff(Path("stack.tif"), layout, {first, second});
    WriteTiff(Path("stack.stk"), layout, {first, second, second});
    ExpectLoads(Path("stack.tif"), 3, 2, 16, 1, first);
    ExpectLoads(Path("stack.stk"), 3, 2, 16, 1, first);
}

TEST_F(PictureFile, BrokenFilesGiveStatusCodes) {
    SZtPicBuf pic = Make(1, 1, 8, 1, {42});
    EXPECT_EQ(ZT_LoadPictureFromFile(W(Path("missing.tif")).c_str(), &pic), -5);

    WriteBytes(Path("empty.png"), QByteArray());
    EXPECT_EQ(ZT_LoadPictureFromFile(W(Path("empty.png")).c_str(), &pic), -9);
    WriteBytes(Path("garbage.bmp"), QByteArray("this is not a picture at all\n"));
    EXPECT_EQ(ZT_LoadPictureFromFile(W(Path("garbage.bmp")).c_str(), &pic), -9);
    EXPECT_EQ(ZT_LoadPictureFromFile(W(m_dir.path()).c_str(), &pic), -9);

    EXPECT_EQ(Values(pic), (V{42}));  // failed loads leave the picture alone
    EXPECT_EQ(ZT_LoadPictureFromFile(nullptr, &pic), -4);
    EXPECT_EQ(ZT_LoadPictureFromFile(W(Path("garbage.bmp")).c_str(), nullptr), -4);
    EXPECT_EQ(ZT_LoadPictureFromFile(L"", &pic), -4);
}

// A TIFF directory for width x height grey pixels in one strip, with 16 bytes behind it.
void WriteHeaderOnlyTiff(const QString& path, std::uint32_t width, std::uint32_t height,
                         std::uint16_t bits) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    char strip[16] = {};
    TIFFWriteRawStrip(tif, 0, strip, sizeof strip);
    TIFFWriteDirectory(tif);
    TIFFClose(tif);
}

TEST_F(PictureFile, AbsurdSizesAreAllocationFailures) {
    WriteHeaderOnlyTiff(Path("huge.tif"), 100000, 100000, 16);
    SZtPicBuf pic;
    EXPECT_EQ(ZT_LoadPictureFromFile(W(Path("huge.tif")).c_str(), &pic), -3);

    WriteBytes(Path("huge.bmp"), Bmp(100000, 100000, 24, {}, QByteArray(16, '\0')));
    EXPECT_EQ(ZT_LoadPictureFromFile(W(Path("huge.bmp")).c_str(), &pic), -3);
    EXPECT_TRUE(pic.IsEmpty());
}

// A few bytes of header must not make the host reserve a picture: one claiming more pixel data
// than its file could hold even compressed is refused before anything is allocated for it.
TEST_F(PictureFile, HeadersClaimingMorePixelsThanTheFileHoldsAreRefused) {
    WriteBytes(Path("tall.bmp"), Bmp(20000, 20000, 8, {}, QByteArray(16, '\0')));
    SZtPicBuf pic;
    EXPECT_EQ(ZT_LoadPictureFromFile(W(Path("tall.bmp")).c_str(), &pic), -9);
    EXPECT_TRUE(pic.IsEmpty());

    WriteHeaderOnlyTiff(Path("wide.tif"), 30000, 10000, 8);
    EXPECT_EQ(ZT_LoadPictureFromFile(W(Path("wide.tif")).c_str(), &pic), -9);
    EXPECT_TRUE(pic.IsEmpty());
}

TEST_F(PictureFile, SavedPicturesLoadBackUnchanged) {
    struct Case {
        const char* name;
        std::uint32_t bits, components;
    };
    for (const Case& c :
         {Case{"t1.tif", 1, 1}, Case{"t4.tif", 4, 1}, Case{"t8.tiff", 8, 1}, Case{"t16.TIF", 16, 1},
          Case{"t8rgb.tif", 8, 3}, Case{"t16rgb.tif", 16, 3}, Case{"p1.png", 1, 1},
          Case{"p8.png", 8, 1}, Case{"p16.png", 16, 1}, Case{"p8rgb.png", 8, 3},
          Case{"p16rgb.PNG", 16, 3}, Case{"b1.bmp", 1, 1}, Case{"b8.bmp", 8, 1},
          Case{"b8rgb.bmp", 8, 3}}) {
        const V values = Ramp(13 * 5 * c.components, (1u << c.bits) - 1);
        const SZtPicBuf pic = Make(13, 5, c.bits, c.components, values);
        ASSERT_EQ(ZT_SavePictureToFile(W(Path(c.name)).c_str(), &pic), 0) << c.name;
        ExpectLoads(Path(c.name), 13, 5, c.bits, c.components, values);
    }
}

TEST_F(PictureFile, SaveRefusesWhatTheFileTypeCannotHold) {
    const SZtPicBuf deep = Make(2, 1, 16, 1, {1, 2});
    const SZtPicBuf four = Make(2, 1, 4, 1, {1, 2});
    EXPECT_EQ(ZT_SavePictureToFile(W(Path("deep.bmp")).c_str(), &deep), -4);
    EXPECT_EQ(ZT_SavePictureToFile(W(Path("four.png")).c_str(), &four), -4);
    EXPECT_EQ(ZT_SavePictureToFile(W(Path("deep.jpg")).c_str(), &deep), -4);
    EXPECT_EQ(ZT_SavePictureToFile(W(Path("noextension")).c_str(), &deep), -4);
    EXPECT_FALSE(QFile::exists(Path("deep.bmp")));
    SZtPicBuf empty;
    EXPECT_EQ(ZT_SavePictureToFile(W(Path("empty.tif")).c_str(), &empty), -4);
    EXPECT_EQ(ZT_SavePictureToFile(W(Path("null.tif")).c_str(), nullptr), -4);
    EXPECT_EQ(ZT_SavePictureToFile(nullptr, &deep), -4);
    EXPECT_EQ(ZT_SavePictureToFile(W(Path("no/such/folder/x.tif")).c_str(), &deep), -9);
    EXPECT_EQ(ZT_SavePictureToFile(W(Path("no/such/folder/x.png")).c_str(), &deep), -9);
}

// Depths and layouts as users save them; each must show the values it holds.
TEST_F(PictureFile, EveryDepthTheLoadersTakeShowsItsValues) {
    // 16-bit BMP, 5 bits a colour (0x7C00 full red, 0x001F full blue), and 32-bit BMP (BGRX).
    WriteBytes(Path("b16.bmp"), Bmp(2, 1, 16, {}, QByteArray("\x00\x7C\x1F\x00", 4)));
    ExpectLoads(Path("b16.bmp"), 2, 1, 8, 3, {255, 0, 0, 0, 0, 255});
    WriteBytes(Path("b32.bmp"),
               Bmp(2, 1, 32, {}, QByteArray("\x03\x02\x01\x00\x30\x20\x10\x00", 8)));
    ExpectLoads(Path("b32.bmp"), 2, 1, 8, 3, {1, 2, 3, 16, 32, 48});

    // Grey PNGs: 2 and 4 bits read as grey values, grey with alpha stays one component.
    WriteBytes(Path("p2.png"), Png(4, 1, 2, 0, {QByteArray("\x1B", 1)}));
    ExpectLoads(Path("p2.png"), 4, 1, 8, 1, {0, 85, 170, 255});
    WriteBytes(Path("p4.png"), Png(2, 1, 4, 0, {QByteArray("\x0F", 1)}));
    ExpectLoads(Path("p4.png"), 2, 1, 4, 1, {0, 15});
    WriteBytes(Path("ga8.png"), Png(2, 1, 8, 4, {QByteArray("\x10\xFF\xC8\x00", 4)}));
    ExpectLoads(Path("ga8.png"), 2, 1, 8, 1, {16, 200});
    WriteBytes(Path("ga16.png"),
               Png(2, 1, 16, 4, {QByteArray("\x12\x34\xFF\xFF\xFE\xDC\x00\x01", 8)}));
    ExpectLoads(Path("ga16.png"), 2, 1, 16, 1, {0x1234, 0xFEDC});

    // TIFF with the usual compressions, at every grey depth.
    for (std::uint16_t compression :
         {COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_LZW}) {
        for (std::uint16_t bits : {1, 4, 8, 16}) {
            TiffLayout layout;
            layout.width = 11;
            layout.bits = bits;
            layout.compression = compression;
            const V values = Ramp(11 * 2, (1u << bits) - 1);
            const QString path = Path(
                ("c" + std::to_string(compression) + "_" + std::to_string(bits) + ".tif").c_str());
            WriteTiff(path, layout, {values});
            ExpectLoads(path, 11, 2, bits, 1, values);
        }
    }
}

// Qt would read what a cut file holds and leave the rest black; the user gets a refusal instead.
TEST_F(PictureFile, TruncatedPicturesAreRefused) {
    QImage grey(64, 64, QImage::Format_Grayscale8);
    grey.fill(200);
    for (const char* format : {"BMP", "PNG"}) {
        const QString full = Path((std::string("full.") + format).c_str());
        ASSERT_TRUE(grey.convertToFormat(QImage::Format_Indexed8)
                        .save(full, format, 100));  // PNG uncompressed
        QFile file(full);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString half = Path((std::string("half.") + format).c_str());
        WriteBytes(half, file.readAll().left(static_cast<int>(file.size() / 2)));
        SZtPicBuf pic;
        EXPECT_EQ(ZT_LoadPictureFromFile(W(half).c_str(), &pic), -9) << format;
        EXPECT_TRUE(pic.IsEmpty()) << format;
    }
}

}  // namespace
