// Host picture buffers, run-length object pictures, and picture files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zt/zt_export.h"

// Status codes of the picture operations.
constexpr int ZT_PIC_OK = 0;
constexpr int ZT_PIC_ALLOC_FAILED = -3;  // out of memory, or a picture above ZT_PICBUF_MAX_BYTES
constexpr int ZT_PIC_INVALID_ARG = -4;   // null or inconsistent argument, unsupported format
constexpr int ZT_PIC_NO_FILE = -5;       // the file does not exist
constexpr int ZT_PIC_UNREADABLE = -9;    // the file cannot be read, parsed or written

// Pixel data of one picture never exceeds this; larger requests fail with -3.
constexpr std::uint64_t ZT_PICBUF_MAX_BYTES = std::uint64_t{1} << 30;

// A picture: height rows of width pixels, row y starting at data + y * stride.
//
// Pixel layout by bitsPerComponent (the significant bits of each component):
//   1      one component, 8 pixels per byte, pixel x in bit 7 - (x % 8) of byte x / 8
//   4      one component, 2 pixels per byte, even x in the high nibble
//   8      one byte per component
//   9..16  one native-endian uint16 per component, values below 2^bitsPerComponent
// With 3 components the pixel is R, G, B interleaved.
//
// A picture either owns its pixels (ownsData: allocated by CZtPicBufAPI, freed by Free or by the
// destructor) or views pixels owned elsewhere (ownsData false: fill the fields by hand; Free
// only forgets them). Pictures move but do not copy; CZtPicBufAPI::Copy makes a deep copy.
struct ZTHOST_API SZtPicBuf {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t stride = 0;  // bytes from one row to the next
    std::uint32_t bitsPerComponent = 0;
    std::uint32_t components = 0;  // 1 grey, 3 RGB
    std::uint8_t* data = nullptr;
    bool ownsData = false;

    SZtPicBuf() = default;
    ~SZtPicBuf();
    SZtPicBuf(const SZtPicBuf&) = delete;
    SZtPicBuf& operator=(const SZtPicBuf&) = delete;
    SZtPicBuf(SZtPicBuf&& other) noexcept;
    SZtPicBuf& operator=(SZtPicBuf&& other) noexcept;

    bool IsEmpty() const { return data == nullptr; }
    std::uint8_t* Row(std::uint32_t y) { return data + std::size_t{y} * stride; }
    const std::uint8_t* Row(std::uint32_t y) const { return data + std::size_t{y} * stride; }
};

// Interpolation modes of CZtPicBufAPI::Stretch.
constexpr int ZT_INTERPOLATION_NEAREST = 1;  // the source pixel under the target pixel's centre
constexpr int ZT_INTERPOLATION_AREA = 3;     // area average: exact replication at whole factors

// Reentrant: each call works on the pictures it is given; different pictures may be used from
// different threads at once. Every function returns 0 or a negative status code; none throws.
// Unless stated otherwise operations take 8- and 9..16-bit pictures with 1 or 3 components; 1-
// and 4-bit pictures are converted first (ConvertBpcAndComp).
class ZTHOST_API CZtPicBufAPI {
public:
    // Frees what pic owned and gives it zero-filled pixels of the given format, rows packed
    // without padding (stride = row bytes). bitsPerComponent 1, 4 (one component only), 8..16;
    // components 1 or 3. -3 for sizes above ZT_PICBUF_MAX_BYTES or when memory runs out (pic is
    // empty then), -4 for a null pic, a zero size or an unsupported format.
    static int Alloc(SZtPicBuf* pic, std::uint32_t width, std::uint32_t height,
                     std::uint32_t bitsPerComponent, std::uint32_t components);
    // Frees owned pixels (views are only forgotten) and empties every field. -4 for null.
    static int Free(SZtPicBuf* pic);
    // Sets every pixel to 0 (any depth). -4 for null or an empty picture.
    static int Zero(SZtPicBuf* pic);
    // Replaces dst with an owned copy of src in src's format (any depth); copying a picture onto
    // itself does nothing. -4 for null or an empty src, -3 as Alloc.
    static int Copy(const SZtPicBuf* src, SZtPicBuf* dst);
    // Copies the width x height part of src at (srcX, srcY) to (dstX, dstY) in dst. The part is
    // clipped to both pictures; nothing to copy is not an error. Both pictures must have the same
    // bitsPerComponent (8..16) and components, else -4.
    static int CopyRect(const SZtPicBuf* src, int srcX, int srcY, int width, int height,
                        SZtPicBuf* dst, int dstX, int dstY);
    // Resizes src into dst (replaced by an owned newWidth x newHeight picture in src's format).
    // ZT_INTERPOLATION_AREA: each target pixel is the average of the source area it covers,
    // weighted by overlap, rounded half up; integer upscaling replicates pixels exactly and
    // integer downscaling averages whole blocks. -4 for another mode, a zero size or null, -3 as
    // Alloc.
    static int Stretch(const SZtPicBuf* src, SZtPicBuf* dst, std::uint32_t newWidth,
                       std::uint32_t newHeight, int interpolation);
    // Converts pic in place to bitsPerComponent 8 or 16 and 1 or 3 components. Values:
    //   1 bit       -> 0 and 1 (multiply by 255 for a visible mask)
    //   4 bits      -> scaled to the full range (x 17 to 8 bits)
    //   b -> 8      b > 8: shifted right by b - 8
    //   b -> 16     b < 16: scaled to the full range, rounded (8 bits: x 257)
    //   RGB -> grey (299 R + 587 G + 114 B) / 1000, rounded; grey -> RGB copies the value.
    // A view becomes an owned picture; the viewed pixels are untouched. -4 for null, an empty
    // picture or another target format, -3 as Alloc (pic unchanged then).
    static int ConvertBpcAndComp(SZtPicBuf* pic, std::uint32_t bitsPerComponent,
                                 std::uint32_t components);
    // The same conversion from src into dst, which may be src. A dst of the target format and
    // src's size that owns its pixels is written in place (converting frame after frame allocates
    // nothing); otherwise dst is replaced as above. src is never written unless it is dst.
    static int ConvertBpcAndComp(const SZtPicBuf* src, SZtPicBuf* dst,
                                 std::uint32_t bitsPerComponent, std::uint32_t components);
    // Multiplies every component by factor, saturating at the picture's maximum value. -4 for
    // null or an empty picture.
    static int MultiplyC(SZtPicBuf* pic, std::uint32_t factor);

    // Smooths src with a size x size box into dst (replaced by a picture in src's format): each
    // pixel becomes the mean of the pixels of its window that lie inside the picture, rounded
    // half up. The window reaches from x - size / 2 to x - size / 2 + size - 1, likewise in y, so
    // an even size has one more pixel before the centre than after it. Pictures of one 9..16-bit
    // component and sizes 1..255 only, else -4. dst may be src; a dst of src's format and size
    // that owns its pixels is written in place, otherwise -3 as Alloc.
    static int SmoothSquare(const SZtPicBuf* src, SZtPicBuf* dst, std::uint32_t size);
    // The mean of a picture's values and their standard deviation (population: the root of the
    // mean squared difference from the mean). Pictures of one 9..16-bit component only; -4 for
    // null, an empty picture or another format.
    static int GetMeanIntAndVariation(const SZtPicBuf* pic, double* mean, double* variation);

    // Pixel access, any depth. GetValue answers 0 outside the picture or for a null pic; SetValue
    // returns -4 there and clips the value to the picture's maximum.
    static std::uint32_t GetValue(const SZtPicBuf* pic, std::uint32_t x, std::uint32_t y,
                                  std::uint32_t component = 0);
    static int SetValue(SZtPicBuf* pic, std::uint32_t x, std::uint32_t y, std::uint32_t value,
                        std::uint32_t component = 0);
};

// One run of an RLE object: pixels x .. x + length - 1 of row y.
struct SZtRLERun {
    std::int32_t y = 0;
    std::int32_t x = 0;
    std::int32_t length = 0;
    friend bool operator==(const SZtRLERun&, const SZtRLERun&) = default;
};

// One object: its identifier (several objects may share one) and its runs, sorted by row then
// column, inside the picture, never overlapping; touching runs are merged.
struct SZtRLEObject {
    std::uint32_t id = 0;
    std::vector<SZtRLERun> runs;
    friend bool operator==(const SZtRLEObject&, const SZtRLEObject&) = default;
};

// A run-length picture: the pixel masks of objects (such as the ROIs of a document) on a frame
// of width x height, in a fixed order. bitsPerComponent records the depth of the pictures the
// masks belong to. A plain value: copies are deep.
struct SZtRLEPicBuf {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerComponent = 8;
    std::vector<SZtRLEObject> objects;
};

// Reentrant, as CZtPicBufAPI. Objects are addressed by their position (0 .. count - 1) in the
// picture's order. Every function returns 0 or a negative status code unless stated otherwise.
class ZTHOST_API CZtRLEPicBufAPI {
public:
    // Sets the frame size and depth and removes every object. -4 for null.
    static int Alloc(SZtRLEPicBuf* rle, std::uint32_t width, std::uint32_t height,
                     std::uint32_t bitsPerComponent);
    // Removes every object, keeping the format. -4 for null.
    static int Empty(SZtRLEPicBuf* rle);
    // The number of objects, or -4 for null.
    static int GetObjectCount(const SZtRLEPicBuf* rle);
    // The identifier of the object at index. -4 for a null argument or an index out of range.
    static int GetObjectId(const SZtRLEPicBuf* rle, int index, std::uint32_t* id);

    // Append one object. An object with no pixel inside the frame is still appended (empty).
    // The non-zero pixels of component 0 of mask (any depth, the frame's size, else -4).
    static int AddObjectFromMask(SZtRLEPicBuf* rle, std::uint32_t id, const SZtPicBuf* mask);
    // The pixels left <= x < right, top <= y < bottom, clipped to the frame.
    static int AddRectangle(SZtRLEPicBuf* rle, std::uint32_t id, int left, int top, int right,
                            int bottom);
    // The pixels whose centre (x + 0.5, y + 0.5) lies inside the polygon (even-odd rule);
    // xy holds pointCount vertices as x0, y0, x1, y1, ... -4 for fewer than three points.
    static int AddPolygon(SZtRLEPicBuf* rle, std::uint32_t id, const double* xy, int pointCount);

    // The bounding box of the object at index: left <= x < right, top <= y < bottom. An empty
    // object gives all four 0. -4 for a null argument or an index out of range.
    static int GetBoundingBox(const SZtRLEPicBuf* rle, int index, std::int32_t* left,
                              std::int32_t* top, std::int32_t* right, std::int32_t* bottom);
    // The object at index as an owned 8-bit, 1-component picture of its bounding-box size: 255
    // inside the object, 0 elsewhere. Pixel (x, y) of the frame is pixel (x - left, y - top) of
    // the picture; left and top (may be null) receive the box's corner. -4 for a null argument,
    // an index out of range or an empty object; -3 as CZtPicBufAPI::Alloc.
    static int ExtractObject(const SZtRLEPicBuf* rle, int index, SZtPicBuf* object,
                             std::int32_t* left, std::int32_t* top);
    // All objects as an owned 8-bit, 1-component picture of the frame's size, 255 inside any
    // object. -4 for null or a zero-sized frame, -3 as CZtPicBufAPI::Alloc.
    static int ToPicture(const SZtRLEPicBuf* rle, SZtPicBuf* picture);

    // True when both exist and have the same size, depth and objects (identifiers and pixels)
    // in the same order.
    static bool IsEqual(const SZtRLEPicBuf* a, const SZtRLEPicBuf* b);
    // Replaces dst with a copy of src. -4 for null.
    static int Copy(const SZtRLEPicBuf* src, SZtRLEPicBuf* dst);
    // Appends to dst, in order, every object of src whose identifier is id. Returns the number
    // of objects copied (0 when none has it); -4 for null or a dst of another frame size.
    static int CopyObjects(const SZtRLEPicBuf* src, std::uint32_t id, SZtRLEPicBuf* dst);
};

// Reads a picture file into pic (replaced by an owned picture). The format is recognised from
// the file's content, whatever its extension: BMP and PNG (through Qt), TIFF and STK (first page;
// strips, contiguous samples; 1, 4, 8 or 16 bits, grey or RGB). The picture keeps the file's
// bits per component and component count: 1-bit and 4-bit grey files give 1- and 4-bit pictures,
// an alpha channel is dropped. 0; -3 for pictures too large; -4 for null arguments; -5 when the
// file does not exist; -9 for a file that cannot be read or parsed, or an unsupported layout.
ZTHOST_API int ZT_LoadPictureFromFile(const wchar_t* path, SZtPicBuf* pic);
// Writes pic in the format its path's extension names (case-insensitive): ".png", ".bmp",
// ".tif"/".tiff". TIFF takes every picture format; PNG takes 1-, 8- and 16-bit pictures; BMP 1-
// and 8-bit ones. 0; -4 for null arguments, an empty picture, another extension or a format the
// file type cannot hold; -3 when memory runs out; -9 when the file cannot be written.
ZTHOST_API int ZT_SavePictureToFile(const wchar_t* path, const SZtPicBuf* pic);
