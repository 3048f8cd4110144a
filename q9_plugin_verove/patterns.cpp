// DMD patterns: fitting, camera-to-DMD mapping, dithering and packing into device frames.
#include "patterns.h"

#include <ipp.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>

#include "cztcalibrationdata.h"
#include "verove_log.h"

// GCC and Clang compile the mapping's AVX-512 and AVX2 steps into functions of their own, which run
// only when the processor has them; the rest of the library stays plain x86-64.
#if defined(__x86_64__) && defined(__GNUC__)
#define VEROVE_MAP_VECTORS 1
#include "verove_vector_intrinsics.h"
#endif

namespace {

constexpr double kPi = 3.1415926535898;

// ditheringMethod -> IPP dither type.
constexpr IppiDitherType kDitherTypes[] = {ippDitherNone, ippDitherStucki, ippDitherFS,
                                           ippDitherJJN, ippDitherBayer};

bool IsEmptyRect(const SZtRect& rect) {
    return rect.right <= rect.left || rect.bottom <= rect.top;
}

// The camera region the camera-mapped pictures cover: the calibration's camera rectangle, or
// the part of the sensor the format's image shows when the calibration has none.
// MapNearest works on pixel indices (pixel i centred on i); the calibration's maps take continuous
// coordinates, where mirror and pixel i cover [i, i + 1). Sampling a mirror's centre rather than
// its corner keeps the light within the drawn pixels: at two pixels per mirror the corner alone is
// a pixel off. Turns an affine continuous map into the same map on indices: Tr(-1/2) m Tr(1/2).
void ToIndexCoordinates(double* m) {
    m[2] += 0.5 * (m[0] + m[1]) - 0.5;
    m[5] += 0.5 * (m[3] + m[4]) - 0.5;
}

SZtRect CameraRoi(const SZtGrabberFormatValue& format, CZtCalibrationData* calibration) {
    const SZtRect rect = calibration ? calibration->GetCameraRect() : SZtRect{};
    return IsEmptyRect(rect) ? format.imageRect : rect;
}

// Gives picture width x height 8-bit grey pixels, keeping the ones it has when it already is of
// that format: a render that writes every pixel then neither allocates nor faults pages in.
int KeepPicture(SZtPicBuf* picture, std::uint32_t width, std::uint32_t height) {
    if (picture->ownsData && picture->width == width && picture->height == height &&
        picture->bitsPerComponent == 8 && picture->components == 1) {
        return 0;
    }
    return CZtPicBufAPI::Alloc(picture, width, height, 8, 1);
}

// The first row of a picture with a non-zero pixel (height when none has), and whether any pixel
// is neither 0 nor 255.
std::uint32_t FirstLitRow(const SZtPicBuf& picture, bool* grey) {
    std::uint32_t first = picture.height;
    *grey = false;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = picture.Row(y);
        std::uint8_t lit = 0;
        std::uint8_t between = 0;
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            lit |= row[x];
            between |= static_cast<std::uint8_t>(row[x] + 1) > 1;
        }
        if (lit && first == picture.height) {
            first = y;
        }
        if (between) {
            *grey = true;
            return first;
        }
    }
    return first;
}

static_assert(std::endian::native == std::endian::little, "PackBits reads pixels as words");

// Sets bit 7 - x % 8 of byte y * rowBytes + x / 8 for every non-zero pixel of the rows from
// firstRow on; the frame's bits start cleared.
void PackBits(const SZtPicBuf& picture, std::uint32_t firstRow, std::size_t rowBytes,
              std::vector<std::uint8_t>* frame) {
    std::uint8_t* out = frame->data();
    const std::size_t size = frame->size();
    for (std::uint32_t y = firstRow; y < picture.height; ++y) {
        const std::uint8_t* row = picture.Row(y);
        const std::size_t rowStart = std::size_t{y} * rowBytes;
        std::uint32_t x = 0;
        for (; x + 8 <= picture.width && rowStart + x / 8 < size; x += 8) {
            // Eight pixels at once: the high bit of each byte says whether it is non-zero, and
            // the multiplication gathers those bits into the top byte, pixel x first.
            std::uint64_t pixels;
            std::memcpy(&pixels, row + x, 8);
            constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
            const std::uint64_t high = (pixels | ((pixels & kLow7) + kLow7)) & ~kLow7;
            out[rowStart + x / 8] |=
                static_cast<std::uint8_t>(((high >> 7) * 0x8040201008040201ULL) >> 56);
        }
        for (; x < picture.width && rowStart + x / 8 < size; ++x) {
            if (row[x] != 0) {
                out[rowStart + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
    }
}

// Whether target pixel x of a row lies on the source: source coordinates base + slope * x,
// rounded half away from zero, inside [0, width) and [0, height).
struct RowMapping {
    double u0, du, v0, dv, uEnd, vEnd;
    bool Inside(int x) const {
        const double u = u0 + du * x;
        const double v = v0 + dv * x;
        return u > -0.5 && u < uEnd && v > -0.5 && v < vEnd;
    }
};

// Narrows [lo, hi) to the x where lower < base + slope * x < upper, roughly: the caller settles
// the ends with exact tests.
void NarrowRange(double base, double slope, double lower, double upper, double* lo, double* hi) {
    if (slope == 0.0) {
        if (!(base > lower && base < upper)) {
            *hi = *lo;
        }
        return;
    }
    double a = (lower - base) / slope;
    double b = (upper - base) / slope;
    if (a > b) {
        std::swap(a, b);
    }
    *lo = std::max(*lo, a);
    *hi = std::min(*hi, b);
}

// The source offset of every mirror x in [first, end) of a row, from offsets[0] on. Inside, both
// coordinates exceed -0.5, so truncating c + 0.5 rounds half away from zero.
void RowOffsets(const RowMapping& row, int first, int end, std::int32_t stride,
                std::int32_t* offsets) {
    for (int x = first; x < end; ++x) {
        const auto u = static_cast<std::int32_t>(row.u0 + row.du * x + 0.5);
        const auto v = static_cast<std::int32_t>(row.v0 + row.dv * x + 0.5);
        offsets[x - first] = v * stride + u;
    }
}

#ifdef VEROVE_MAP_VECTORS
// RowOffsets eight mirrors at a time, as far as whole steps go; returns where it stopped. Every
// lane does the plain loop's multiply, add, add and truncation (the build never fuses a multiply
// and an add), so the offsets are the same to the last bit.
__attribute__((target("avx512f"))) int RowOffsetsAvx512(const RowMapping& row, int first, int end,
                                                        std::int32_t stride,
                                                        std::int32_t* offsets) {
    const __m512d u0 = _mm512_set1_pd(row.u0), du = _mm512_set1_pd(row.du);
    const __m512d v0 = _mm512_set1_pd(row.v0), dv = _mm512_set1_pd(row.dv);
    const __m512d half = _mm512_set1_pd(0.5);
    const __m256i strides = _mm256_set1_epi32(stride);
    __m512d xs = _mm512_add_pd(_mm512_set1_pd(first), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    const __m512d eight = _mm512_set1_pd(8.0);
    int x = first;
    for (; x + 8 <= end; x += 8) {
        const __m256i u =
            _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_add_pd(u0, _mm512_mul_pd(du, xs)), half));
        const __m256i v =
            _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_add_pd(v0, _mm512_mul_pd(dv, xs)), half));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(offsets + (x - first)),
                            _mm256_add_epi32(_mm256_mullo_epi32(v, strides), u));
        xs = _mm512_add_pd(xs, eight);
    }
    return x;
}

// RowOffsetsAvx512 four mirrors at a time.
__attribute__((target("avx2"))) int RowOffsetsAvx2(const RowMapping& row, int first, int end,
                                                   std::int32_t stride, std::int32_t* offsets) {
    const __m256d u0 = _mm256_set1_pd(row.u0), du = _mm256_set1_pd(row.du);
    const __m256d v0 = _mm256_set1_pd(row.v0), dv = _mm256_set1_pd(row.dv);
    const __m256d half = _mm256_set1_pd(0.5);
    const __m128i strides = _mm_set1_epi32(stride);
    __m256d xs = _mm256_add_pd(_mm256_set1_pd(first), _mm256_setr_pd(0, 1, 2, 3));
    const __m256d four = _mm256_set1_pd(4.0);
    int x = first;
    for (; x + 4 <= end; x += 4) {
        const __m128i u =
            _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_add_pd(u0, _mm256_mul_pd(du, xs)), half));
        const __m128i v =
            _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_add_pd(v0, _mm256_mul_pd(dv, xs)), half));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(offsets + (x - first)),
                         _mm_add_epi32(_mm_mullo_epi32(v, strides), u));
        xs = _mm256_add_pd(xs, four);
    }
    return x;
}
#endif

std::atomic<int> g_widestMappingBits{512};

// RowOffsets in the widest vector steps the processor has and the tests allow.
void VectorRowOffsets(const RowMapping& row, int first, int end, std::int32_t stride,
                      std::int32_t* offsets) {
    int x = first;
#ifdef VEROVE_MAP_VECTORS
    const int widest = UsableVectorBits(g_widestMappingBits.load(std::memory_order_relaxed));
    if (widest == 512) {
        x = RowOffsetsAvx512(row, first, end, stride, offsets);
    } else if (widest == 256) {
        x = RowOffsetsAvx2(row, first, end, stride, offsets);
    }
#endif
    RowOffsets(row, x, end, stride, offsets + (x - first));
}

}  // namespace

// ---- Pattern -----------------------------------------------------------------------------------

CZtPattern::CZtPattern(const CZtStringW& name, std::uint32_t width, std::uint32_t height)
    : m_strName(name), m_width(width), m_height(height) {
    if (width >= 1 && height >= 1) {
        CZtPicBufAPI::Alloc(&m_bitmap, width, height, 8, 1);
    }
}

CZtPattern::CZtPattern(const CZtPattern& other) {
    *this = other;
}

CZtPattern& CZtPattern::operator=(const CZtPattern& other) {
    if (this == &other) {
        return *this;
    }
    m_strName = other.m_strName;
    m_strFilePath.Empty();
    m_id = other.m_id;
    m_mapping = other.m_mapping;
    m_kind = other.m_kind;
    m_hasAreas = other.m_hasAreas;
    m_valid = other.m_valid;
    m_renderedBitDepth = other.m_renderedBitDepth;
    m_renderedPacked = -1;
    m_areas = other.m_areas;
    m_width = other.m_width;
    m_height = other.m_height;
    m_debugDeviceMemory = other.m_debugDeviceMemory;
    m_ditheringMethod = 1;
    m_confocal = other.m_confocal;
    if (other.m_bitmap.IsEmpty()) {
        CZtPicBufAPI::Free(&m_bitmap);
    } else {
        CZtPicBufAPI::Copy(&other.m_bitmap, &m_bitmap);
    }
    m_areaMask.reset();
    if (other.m_areaMask) {
        m_areaMask = std::make_unique<SZtRLEPicBuf>(*other.m_areaMask);
    }
    CZtPicBufAPI::Free(&m_work);
    m_rendered.clear();
    m_rendered.shrink_to_fit();
    return *this;
}

CZtPattern::~CZtPattern() = default;

void CZtPattern::SetBitmap(const SZtPicBuf* picture) {
    if (!picture || picture->IsEmpty()) {
        CZtPicBufAPI::Free(&m_bitmap);
        return;
    }
    CZtPicBufAPI::Copy(picture, &m_bitmap);
    // Rendering reads the source as 8-bit grey.
    if (m_bitmap.bitsPerComponent != 8 || m_bitmap.components != 1) {
        CZtPicBufAPI::ConvertBpcAndComp(&m_bitmap, 8, 1);
    }
}

void CZtPattern::SetSize(std::uint32_t width, std::uint32_t height) {
    m_width = width;
    m_height = height;
    CZtPicBufAPI::Alloc(&m_bitmap, width, height, 8, 1);
}

bool CZtPattern::IsRenderedFor(std::uint32_t bitDepth, bool packed) const {
    return m_valid && m_renderedBitDepth == bitDepth && m_renderedPacked == (packed ? 1 : 0);
}

int CZtPattern::SetStimulationAreas(const std::vector<SZtStimulationArea>& areas,
                                    const SZtRLEPicBuf* mask) {
    if (!mask) {
        return -4;
    }
    bool same = m_areaMask && CZtRLEPicBufAPI::IsEqual(m_areaMask.get(), mask) &&
                m_areas.size() == areas.size();
    for (std::size_t i = 0; same && i < areas.size(); ++i) {
        same = m_areas[i].intensityMode == areas[i].intensityMode &&
               m_areas[i].secondIntensity == areas[i].secondIntensity &&
               m_areas[i].intensity == areas[i].intensity;
    }
    if (!same) {
        m_valid = false;
        if (!m_areaMask) {
            m_areaMask = std::make_unique<SZtRLEPicBuf>();
        }
        CZtRLEPicBufAPI::Copy(mask, m_areaMask.get());
        m_areas = areas;
    }
    m_hasAreas = true;
    return 0;
}

int CZtPattern::GetStimulationAreas(std::vector<SZtStimulationArea>* areas) const {
    if (!m_areaMask) {
        return -9;
    }
    if (areas) {
        *areas = m_areas;
    }
    return 0;
}

int CZtPattern::LoadPictureFile(const wchar_t* path, SZtPicBuf* picture) {
    int result = ZT_LoadPictureFromFile(path, picture);
    if (result != 0) {
        return result;
    }
    if (picture->bitsPerComponent == 1) {
        result = CZtPicBufAPI::ConvertBpcAndComp(picture, 8, picture->components);
        if (result != 0) {
            return result;
        }
        CZtPicBufAPI::MultiplyC(picture, 255);
    } else if (picture->bitsPerComponent == 4) {
        result = CZtPicBufAPI::ConvertBpcAndComp(picture, 8, picture->components);
        if (result != 0) {
            return result;
        }
    }
    return CZtPicBufAPI::ConvertBpcAndComp(picture, 8, 1);
}

// ---- Rendering ---------------------------------------------------------------------------------

int CZtPattern::GetBitmap(std::uint8_t* frame, std::uint32_t bitDepth, bool packed,
                          const SZtGrabberFormatValue* cameraFormat,
                          CZtCalibrationData* calibration) {
    if (!frame) {
        return -6;
    }
    const std::size_t mirrors = std::size_t{m_width} * m_height;
    const std::size_t frameSize = packed ? mirrors / 8 : mirrors;
    if (!m_rendered.empty() && IsRenderedFor(bitDepth, packed)) {
        std::memcpy(frame, m_rendered.data(), frameSize);
        return 0;
    }
    m_rendered.assign(frameSize, 0);
    m_valid = false;
    if (bitDepth != 1 && bitDepth != 4 && bitDepth != 6 && bitDepth != 8) {
        return -9;
    }
    ++m_renderCount;

    const SZtPicBuf* result = &m_bitmap;
    if (m_mapping == 0) {
        if (m_bitmap.IsEmpty()) {
            return 0;
        }
        // A bitmap of the DMD's size is rendered straight from where it is.
        if (m_bitmap.width != m_width || m_bitmap.height != m_height) {
            const int fitted =
                FitTo(m_bitmap, m_width, m_height, false, "CZtPattern::GetBitmap", &m_work);
            if (fitted != 0) {
                return fitted;
            }
            result = &m_work;
        }
    } else {
        const SZtPicBuf* camera = nullptr;
        const int status = BuildCameraPicture(cameraFormat, calibration, &camera);
        if (status != 0 || !camera) {
            return status;
        }
        const int mapped = MapToDmd(*camera, cameraFormat, calibration, &m_dmd);
        if (mapped != 0) {
            return mapped;
        }
        result = &m_dmd;
    }
    RenderFromWork(*result, bitDepth, packed);

    m_valid = true;
    m_renderedBitDepth = bitDepth;
    m_renderedPacked = packed ? 1 : 0;
    std::memcpy(frame, m_rendered.data(), frameSize);
    return 0;
}

void CZtPattern::RenderFromWork(const SZtPicBuf& picture, std::uint32_t bitDepth, bool packed) {
    if (bitDepth == 1) {
        const std::size_t rowBytes = packed ? m_width / 8 : m_width;
        bool grey = false;
        const std::uint32_t firstLit = FirstLitRow(picture, &grey);
        // A picture of only 0 and 255 leaves no quantisation error to diffuse, and every dither
        // type keeps it as it is.
        if (!grey) {
            PackBits(picture, firstLit, rowBytes, &m_rendered);
            return;
        }
        // Rows of 0 above the first lit one carry no error into it and stay 0 under every dither
        // type; Bayer's matrix repeats every fourth row, so the rows dithered start on such a row.
        const std::uint32_t first = firstLit & ~3u;
        if (DitherToTwoLevels(picture, first) == 0) {
            PackBits(m_dithered, first, rowBytes, &m_rendered);
        } else {
            PackBits(picture, firstLit, rowBytes, &m_rendered);
        }
        return;
    }
    const std::uint32_t shift = 8 - bitDepth;
    const std::uint32_t width = std::min(picture.width, m_width);
    const std::uint32_t height = std::min(picture.height, m_height);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = picture.Row(y);
        std::uint8_t* out = m_rendered.data() + std::size_t{y} * m_width;
        for (std::uint32_t x = 0; x < width; ++x) {
            out[x] = static_cast<std::uint8_t>(row[x] >> shift);
        }
    }
}

int CZtPattern::DitherToTwoLevels(const SZtPicBuf& picture, std::uint32_t firstRow) {
    const IppiDitherType type = kDitherTypes[m_ditheringMethod < 5 ? m_ditheringMethod : 1];
    const IppiSize roi = {static_cast<int>(picture.width),
                          static_cast<int>(picture.height - firstRow)};
    int bufferSize = 0;
    if (ippiReduceBitsGetBufferSize(ippC1, roi, 0, type, &bufferSize) != ippStsNoErr ||
        KeepPicture(&m_dithered, picture.width, picture.height) != 0) {
        return -9;
    }
    if (m_ditherBuffer.size() < static_cast<std::size_t>(bufferSize)) {
        m_ditherBuffer.resize(static_cast<std::size_t>(bufferSize));
    }
    return ippiReduceBits_8u_C1R(picture.Row(firstRow), static_cast<int>(picture.stride),
                                 m_dithered.Row(firstRow), static_cast<int>(m_dithered.stride), roi,
                                 0, type, 2, m_ditherBuffer.data()) == ippStsNoErr
               ? 0
               : -9;
}

int CZtPattern::FitTo(const SZtPicBuf& source, std::uint32_t targetWidth,
                      std::uint32_t targetHeight, bool camera, const char* function,
                      SZtPicBuf* target) const {
    if (source.width == targetWidth && source.height == targetHeight) {
        return CZtPicBufAPI::Copy(&source, target) == 0 ? 0 : -9;
    }
    const double factor = std::min(static_cast<double>(targetWidth) / source.width,
                                   static_cast<double>(targetHeight) / source.height);
    const auto newWidth = static_cast<std::uint32_t>(std::round(std::ceil(source.width * factor)));
    const auto newHeight =
        static_cast<std::uint32_t>(std::round(std::ceil(source.height * factor)));
    if (camera) {
        VEROVE_LOG(function,
                   L"The pattern %s does not fit the camera chip and will be resized by a factor "
                   L"of %.2f.",
                   m_strName.GetString(), factor);
    } else {
        VEROVE_LOG(function,
                   L"The pattern %s does not fit the DMD chip and will be resized by a factor of "
                   L"%.2f.",
                   m_strName.GetString(), factor);
    }
    SZtPicBuf stretched;
    if (CZtPicBufAPI::Stretch(&source, &stretched, newWidth, newHeight, ZT_INTERPOLATION_AREA) !=
            0 ||
        CZtPicBufAPI::Alloc(target, targetWidth, targetHeight, 8, 1) != 0) {
        if (camera) {
            VEROVE_LOG(function,
                       L"The pattern does not fit the camera and resize failed, aborting.");
        } else {
            VEROVE_LOG(function, L"The pattern does not fit the DMD and resize failed, aborting.");
        }
        return -9;
    }
    // The target is freshly zero-filled, so the margins around a centred picture are clear.
    const int offsetX = (static_cast<int>(targetWidth) - static_cast<int>(newWidth)) >> 1;
    const int offsetY = (static_cast<int>(targetHeight) - static_cast<int>(newHeight)) >> 1;
    CZtPicBufAPI::CopyRect(&stretched, 0, 0, static_cast<int>(newWidth),
                           static_cast<int>(newHeight), target, offsetX, offsetY);
    return 0;
}

int CZtPattern::BuildCameraPicture(const SZtGrabberFormatValue* cameraFormat,
                                   CZtCalibrationData* calibration, const SZtPicBuf** picture) {
    *picture = nullptr;
    if (m_kind == 0 && HasStimulationAreas() && m_areaMask) {
        const int status = BuildAreaPicture();
        *picture = status == 0 ? &m_work : nullptr;
        return status;
    }
    if (m_kind != 1 || m_bitmap.IsEmpty()) {
        return 0;
    }
    if (!cameraFormat) {
        return -9;
    }
    const SZtRect roi = CameraRoi(*cameraFormat, calibration);
    const std::uint32_t roiWidth = roi.right - roi.left;
    const std::uint32_t roiHeight = roi.bottom - roi.top;
    if (m_bitmap.width == std::round(roiWidth / cameraFormat->binningX) &&
        m_bitmap.height == std::round(roiHeight / cameraFormat->binningY)) {
        *picture = &m_bitmap;
        return 0;
    }
    const int status =
        FitTo(m_bitmap, roiWidth, roiHeight, false, "CZtPattern::GetBitmap", &m_work);
    *picture = status == 0 ? &m_work : nullptr;
    return status;
}

int CZtPattern::BuildAreaPicture() {
    const SZtRLEPicBuf* mask = m_areaMask.get();
    if (KeepPicture(&m_work, mask->width, mask->height) != 0) {
        return -9;
    }
    CZtPicBufAPI::Zero(&m_work);
    const int objects =
        std::min(CZtRLEPicBufAPI::GetObjectCount(mask), static_cast<int>(m_areas.size()));
    for (int i = 0; i < objects; ++i) {
        std::int32_t left = 0, top = 0, right = 0, bottom = 0;
        const SZtStimulationArea& area = m_areas[static_cast<std::size_t>(i)];
        if (CZtRLEPicBufAPI::GetBoundingBox(mask, i, &left, &top, &right, &bottom) != 0 ||
            right <= left || area.intensityMode > 5) {
            continue;
        }
        const double hi = std::min(area.secondIntensity * 2.55, 255.0);
        const double lo = std::min(hi, area.intensity * 2.55);
        const double width = right - left;
        const double height = bottom - top;
        const auto level = [](double value) {
            return static_cast<std::uint8_t>(std::clamp(std::trunc(value), 0.0, 255.0));
        };
        const auto gradient = [&](double t) { return level(std::min(t * (hi - lo) + lo, 255.0)); };
        // Across the box a gradient's value depends on the column alone: one per column, reused
        // by every run of the object.
        if (area.intensityMode == 2 || area.intensityMode == 3) {
            m_columnLevels.resize(static_cast<std::size_t>(right - left) + 1);
            for (std::size_t k = 0; k < m_columnLevels.size(); ++k) {
                const double t = static_cast<double>(k) / width;
                m_columnLevels[k] = gradient(area.intensityMode == 2 ? t : 1.0 - t);
            }
        }
        // The object's runs are exactly the non-zero pixels of its extracted mask picture.
        for (const SZtRLERun& run : mask->objects[static_cast<std::size_t>(i)].runs) {
            std::uint8_t* out = m_work.Row(static_cast<std::uint32_t>(run.y)) + run.x;
            const std::size_t length = static_cast<std::size_t>(run.length);
            switch (area.intensityMode) {
                case 0:
                    std::memset(out, 255, length);
                    break;
                case 1:
                    std::memset(out, level(std::min(area.intensity / 100.0 * 255.0, 255.0)),
                                length);
                    break;
                case 2:
                case 3:
                    std::memcpy(out, m_columnLevels.data() + (run.x - left), length);
                    break;
                case 4:
                    std::memset(out, gradient((run.y - top) / height), length);
                    break;
                case 5:
                    std::memset(out, gradient(1.0 - (run.y - top) / height), length);
                    break;
            }
        }
    }
    return 0;
}

int CZtPattern::MapToDmd(const SZtPicBuf& camera, const SZtGrabberFormatValue* cameraFormat,
                         CZtCalibrationData* calibration, SZtPicBuf* dmd) const {
    if (!cameraFormat || !calibration) {
        return -9;
    }
    SZtGrabberFormatDesc format;
    format.value = *cameraFormat;
    const double angle = calibration->GetCameraRotation() * kPi / 180.0;
    const SZtScanAreaDesc scanArea = calibration->GetScanAreaDesc();
    const SZtRect roi = CameraRoi(*cameraFormat, calibration);
    CZtMatrix3 chipToImage;
    if (CalcTransformChipToImg(&format, angle, &scanArea, &roi, m_confocal, chipToImage.data()) !=
        0) {
        return -9;
    }
    CZtMatrix3 dmdToImage = MultiplyMatrix3(chipToImage, calibration->GetMappingDMDToCam());
    // MapNearest writes every mirror.
    if (KeepPicture(dmd, m_width, m_height) != 0) {
        return -9;
    }
    ToIndexCoordinates(dmdToImage.data());
    MapNearest(camera, dmdToImage.data(), dmd);
    return 0;
}

void CZtPattern::SetMappingVectorBits(int bits) {
    g_widestMappingBits.store(bits, std::memory_order_relaxed);
}

void CZtPattern::MapNearest(const SZtPicBuf& source, const double* m, SZtPicBuf* target) {
    const int width = static_cast<int>(target->width);
    const int height = static_cast<int>(target->height);
    const double uEnd = source.width - 0.5;
    const double vEnd = source.height - 0.5;
    const auto stride = static_cast<std::int32_t>(source.stride);
    // Each mirror is m * (x, y, 1), from the row's start plus x steps: one multiply-add per
    // coordinate, and no error builds up along the row as repeated additions would.
    const auto rowMapping = [&](int y) {
        return RowMapping{m[1] * y + m[2], m[0], m[4] * y + m[5], m[3], uEnd, vEnd};
    };

    // First the run of mirrors of each row that see the source; the rest of the row is 0.
    std::vector<std::int32_t> firsts(static_cast<std::size_t>(height));
    std::vector<std::int32_t> ends(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const RowMapping row = rowMapping(y);
        double lo = 0.0;
        double hi = width;
        NarrowRange(row.u0, row.du, -0.5, uEnd, &lo, &hi);
        NarrowRange(row.v0, row.dv, -0.5, vEnd, &lo, &hi);
        // The estimate is within a pixel of the exact run; settle its ends with the test the
        // mapping uses. Rounding keeps the computed coordinates monotonic along the row, so the
        // inside mirrors form one run.
        int first = static_cast<int>(std::clamp(std::ceil(lo), 0.0, double(width)));
        int end =
            std::max(first, static_cast<int>(std::clamp(std::floor(hi) + 1.0, 0.0, double(width))));
        while (first < end && !row.Inside(first)) {
            ++first;
        }
        while (end > first && !row.Inside(end - 1)) {
            --end;
        }
        if (first == end && first < width && row.Inside(first)) {
            ++end;
        } else if (first == end && first > 0 && row.Inside(first - 1)) {
            end = first--;
        }
        if (first < end) {
            while (first > 0 && row.Inside(first - 1)) {
                --first;
            }
            while (end < width && row.Inside(end)) {
                ++end;
            }
        }
        std::uint8_t* out = target->Row(static_cast<std::uint32_t>(y));
        std::memset(out, 0, static_cast<std::size_t>(first));
        std::memset(out + end, 0, static_cast<std::size_t>(width - end));
        firsts[static_cast<std::size_t>(y)] = first;
        ends[static_cast<std::size_t>(y)] = end;
    }

    // Then the runs, in strips of columns: a strip reads a band of the source small enough to
    // stay in the cache from one row to the next, however large the DMD.
    constexpr int kStrip = 64;
    std::int32_t offsets[kStrip];
    for (int left = 0; left < width; left += kStrip) {
        for (int y = 0; y < height; ++y) {
            const int first = std::max(firsts[static_cast<std::size_t>(y)], left);
            const int end = std::min(ends[static_cast<std::size_t>(y)], left + kStrip);
            if (first >= end) {
                continue;
            }
            VectorRowOffsets(rowMapping(y), first, end, stride, offsets + (first - left));
            std::uint8_t* out = target->Row(static_cast<std::uint32_t>(y));
            for (int x = first; x < end; ++x) {
                out[x] = source.data[offsets[x - left]];
            }
        }
    }
}

// ---- Projection and export ---------------------------------------------------------------------

int CZtPattern::GetProjectionToCameraSpace(SZtPicBuf* picture,
                                           const SZtGrabberFormatValue* cameraFormat,
                                           double cameraAngleDegrees,
                                           const std::vector<double>& calibrationMatrix,
                                           const SZtScanAreaDesc* scanArea) {
    constexpr const char* kFunction = "CZtPattern::GetProjectionToCameraSpace";
    if (!picture) {
        VEROVE_LOG(kFunction, L"No destination picbuf, aborting...");
        return -6;
    }
    if (!cameraFormat) {
        VEROVE_LOG(kFunction, L"No grabber format, aborting...");
        return -6;
    }
    if (m_mapping == 0 && calibrationMatrix.size() != 9) {
        VEROVE_LOG(kFunction, L"No calibration data, aborting...");
        return -6;
    }
    const SZtRect roi = cameraFormat->imageRect;
    const int roiWidth = roi.right - roi.left;
    const int roiHeight = roi.bottom - roi.top;
    if (m_mapping == 1) {
        if (m_kind == 0) {
            return m_areaMask && CZtRLEPicBufAPI::ToPicture(m_areaMask.get(), picture) == 0 ? 0
                                                                                            : -9;
        }
        if (m_kind != 1 || m_bitmap.IsEmpty() || roiWidth <= 0 || roiHeight <= 0) {
            return -9;
        }
        if (m_bitmap.width == std::round(roiWidth / cameraFormat->binningX) &&
            m_bitmap.height == std::round(roiHeight / cameraFormat->binningY)) {
            return CZtPicBufAPI::Copy(&m_bitmap, picture) == 0 ? 0 : -9;
        }
        return FitTo(m_bitmap, roiWidth, roiHeight, true, kFunction, picture);
    }

    if (m_bitmap.IsEmpty()) {
        return -9;
    }
    const int fitted = FitTo(m_bitmap, m_width, m_height, false, kFunction, &m_work);
    if (fitted != 0) {
        return fitted;
    }
    // The camera image as displayed: the ROI, binned, turned by the nearest quarter turn.
    int width = roiWidth;
    int height = roiHeight;
    if (std::lround(cameraFormat->binningX) != 1) {
        width = static_cast<int>(width / cameraFormat->binningX);
    }
    if (std::lround(cameraFormat->binningY) != 1) {
        height = static_cast<int>(height / cameraFormat->binningY);
    }
    const double normalised = std::fmod(std::fmod(cameraAngleDegrees, 360.0) + 360.0, 360.0);
    const long quarterTurns = std::lround(normalised / 90.0) % 4;
    if (quarterTurns % 2 == 1) {
        std::swap(width, height);
    }
    if (width <= 0 || height <= 0 ||
        CZtPicBufAPI::Alloc(picture, static_cast<std::uint32_t>(width),
                            static_cast<std::uint32_t>(height), 8, 1) != 0) {
        return -9;
    }
    SZtGrabberFormatDesc format;
    format.value = *cameraFormat;
    CZtMatrix3 chipToImage;
    double imageToDmd[9];
    if (CalcTransformChipToImg(&format, cameraAngleDegrees * kPi / 180.0, scanArea, nullptr,
                               m_confocal, chipToImage.data()) != 0) {
        return -9;
    }
    CZtMatrix3 dmdToCamera{};
    std::copy_n(calibrationMatrix.begin(), std::min<std::size_t>(9, calibrationMatrix.size()),
                dmdToCamera.begin());
    const CZtMatrix3 dmdToImage = MultiplyMatrix3(chipToImage, dmdToCamera);
    if (InvertMatrix(3, dmdToImage.data(), imageToDmd) != 0) {
        return -9;
    }
    ToIndexCoordinates(imageToDmd);
    MapNearest(m_work, imageToDmd, picture);
    return 0;
}

int CZtPattern::SaveTransformed(const wchar_t* path, const SZtGrabberFormatValue* cameraFormat,
                                CZtCalibrationData* calibration) {
    constexpr const char* kFunction = "CZtPattern::SaveTransformed";
    VEROVE_LOG(kFunction, L"Output filepath = %s", path ? path : L"");
    if (m_mapping != 1 || !m_areaMask) {
        VEROVE_LOG(kFunction, L"Only camera mapping supported - aborting");
        return -9;
    }
    if (!m_hasAreas || m_kind != 0) {
        return -9;
    }
    const SZtPicBuf* camera = nullptr;
    if (BuildCameraPicture(cameraFormat, calibration, &camera) != 0 || !camera) {
        return -9;
    }
    SZtPicBuf dmd;
    if (MapToDmd(*camera, cameraFormat, calibration, &dmd) != 0) {
        return -9;
    }
    VEROVE_LOG(kFunction, L"Saving DMD pattern to %s", path ? path : L"");
    return ZT_SavePictureToFile(path, &dmd);
}
