// TiffPictureFile: reads the first page of TIFF and STK files and writes TIFF files with libtiff.
#include "tiffpicturefile.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "zt/zt_picbuf.h"
#include "zt/zt_string.h"

namespace {

// Keeps libtiff's first error message for the caller instead of printing it to stderr.
int KeepError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* error = static_cast<std::string*>(user);
    if (error->empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        *error = text;
    }
    return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle Open(const std::string& path, const char* mode, std::string* libraryError) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, libraryError);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, nullptr);
    // libtiff's own buffers (strips, tag arrays) stay within what a picture may take.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(ZT_PICBUF_MAX_BYTES));
    TiffHandle tif(TIFFOpenExt(path.c_str(), mode, options));
    TIFFOpenOptionsFree(options);
    return tif;
}

std::wstring Reason(const wchar_t* what, const std::string& libraryError) {
    std::wstring reason = what;
    if (!libraryError.empty()) {
        reason += L" (" + CZtStringW::FromUtf8(libraryError).Str() + L")";
    }
    return reason;
}

}  // namespace

int TiffPictureFile::Load(const std::string& path, std::uint64_t maxPixelBytes, SZtPicBuf* pic,
                          std::wstring* error) {
    std::string libraryError;
    TiffHandle tif = Open(path, "r", &libraryError);
    if (!tif) {
        *error = Reason(L"not a readable TIFF file", libraryError);
        return ZT_PIC_UNREADABLE;
    }
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1, bits = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    std::uint16_t photometric = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    if (!TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric)) {
        photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
    const bool rgb = photometric == PHOTOMETRIC_RGB && samples >= 3;
    const bool grey =
        photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const std::uint32_t components = rgb ? 3 : 1;
    // A layout the host does not read is named, so that the user knows what to save instead.
    std::wstring layout;
    if (TIFFIsTiled(tif.get())) {
        layout = L"tiled";
    } else if (planar != PLANARCONFIG_CONTIG && samples > 1) {
        layout = L"planar (one plane per sample)";
    } else if (format == SAMPLEFORMAT_IEEEFP) {
        layout = L"floating-point samples";
    } else if (format != SAMPLEFORMAT_UINT) {
        layout = L"signed samples";
    } else if (photometric == PHOTOMETRIC_PALETTE) {
        layout = L"palette colour";
    } else if (!(rgb || grey)) {
        layout = L"photometric interpretation " + std::to_wstring(photometric);
    } else if (!(bits == 8 || bits == 16 || ((bits == 1 || bits == 4) && samples == 1 && grey))) {
        layout = std::to_wstring(bits) + L" bits per sample";
    } else if (width == 0 || height == 0) {
        layout = L"no pixels";
    }
    if (!layout.empty()) {
        *error = L"unsupported TIFF layout: " + layout;
        return ZT_PIC_UNREADABLE;
    }
    // The pixel data the page claims, in bits (wide: 32-bit sizes times samples and depth).
    const unsigned __int128 claimedBits =
        static_cast<unsigned __int128>(width) * height * samples * bits;
    if (claimedBits > static_cast<unsigned __int128>(ZT_PICBUF_MAX_BYTES) * 8) {
        *error = L"picture too large";
        return ZT_PIC_ALLOC_FAILED;
    }
    if (claimedBits > static_cast<unsigned __int128>(maxPixelBytes) * 8) {
        *error = L"more pixel data than the file can hold";
        return ZT_PIC_UNREADABLE;
    }
    SZtPicBuf out;
    const int status = CZtPicBufAPI::Alloc(&out, width, height, bits, components);
    if (status != ZT_PIC_OK) {
        *error = L"picture too large";
        return status;
    }
    const tmsize_t lineSize = TIFFScanlineSize(tif.get());
    const std::size_t bytesPerSample = bits / 8;
    if (lineSize <= 0 || (bits >= 8 && static_cast<std::uint64_t>(lineSize) <
                                           std::uint64_t{width} * samples * bytesPerSample)) {
        *error = Reason(L"inconsistent TIFF strips", libraryError);
        return ZT_PIC_UNREADABLE;
    }
    std::vector<std::uint8_t> line(static_cast<std::size_t>(lineSize));
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif.get(), line.data(), y) < 0) {
            *error = Reason(L"TIFF pixel data cannot be read", libraryError);
            return ZT_PIC_UNREADABLE;
        }
        if (samples == components) {
            std::memcpy(out.Row(y), line.data(), out.stride);
        } else {
            // Extra samples (alpha) are dropped.
            const std::size_t pixelBytes = components * bytesPerSample;
            for (std::uint32_t x = 0; x < width; ++x) {
                std::memcpy(out.Row(y) + x * pixelBytes, line.data() + x * samples * bytesPerSample,
                            pixelBytes);
            }
        }
    }
    if (photometric == PHOTOMETRIC_MINISWHITE) {
        const std::uint32_t maxValue = (1u << bits) - 1;
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x) {
                CZtPicBufAPI::SetValue(&out, x, y, maxValue - CZtPicBufAPI::GetValue(&out, x, y));
            }
        }
    }
    *pic = std::move(out);
    return ZT_PIC_OK;
}

int TiffPictureFile::Save(const std::string& path, const SZtPicBuf& pic, std::wstring* error) {
    std::string libraryError;
    TiffHandle tif = Open(path, "w", &libraryError);
    if (!tif) {
        *error = Reason(L"the file cannot be created", libraryError);
        return ZT_PIC_UNREADABLE;
    }
    const std::uint16_t bits =
        static_cast<std::uint16_t>(pic.bitsPerComponent > 8 ? 16 : pic.bitsPerComponent);
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, pic.width);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, pic.height);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(pic.components));
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC,
                 pic.components == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif.get(), 0));
    const tmsize_t lineSize = TIFFScanlineSize(tif.get());
    if (lineSize <= 0) {
        *error = Reason(L"TIFF layout refused", libraryError);
        return ZT_PIC_UNREADABLE;
    }
    // libtiff may modify the line it writes (byte swapping): write from a copy.
    std::vector<std::uint8_t> line(static_cast<std::size_t>(lineSize));
    for (std::uint32_t y = 0; y < pic.height; ++y) {
        std::memcpy(line.data(), pic.Row(y), std::min<std::size_t>(line.size(), pic.stride));
        if (TIFFWriteScanline(tif.get(), line.data(), y, 0) < 0) {
            *error = Reason(L"TIFF pixel data cannot be written", libraryError);
            return ZT_PIC_UNREADABLE;
        }
    }
    if (!TIFFFlush(tif.get())) {
        *error = Reason(L"TIFF directory cannot be written", libraryError);
        return ZT_PIC_UNREADABLE;
    }
    return ZT_PIC_OK;
}
