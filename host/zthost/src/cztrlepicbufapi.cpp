// CZtRLEPicBufAPI: building, inspecting, extracting and copying run-length object pictures.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "zt/zt_picbuf.h"

namespace {

// Sorts runs by row and column and merges overlapping or touching runs of a row, so that equal
// masks always have equal runs.
std::vector<SZtRLERun> Normalised(std::vector<SZtRLERun> runs) {
    std::sort(runs.begin(), runs.end(), [](const SZtRLERun& a, const SZtRLERun& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    std::vector<SZtRLERun> merged;
    for (const SZtRLERun& run : runs) {
        if (!merged.empty() && merged.back().y == run.y &&
            run.x <= merged.back().x + merged.back().length) {
            SZtRLERun& last = merged.back();
            last.length = std::max(last.x + last.length, run.x + run.length) - last.x;
        } else {
            merged.push_back(run);
        }
    }
    return merged;
}

// Appends the run [x0, x1) of row y, clipped to the frame.
void AddClippedRun(std::vector<SZtRLERun>& runs, const SZtRLEPicBuf& rle, std::int64_t y,
                   std::int64_t x0, std::int64_t x1) {
    x0 = std::max<std::int64_t>(x0, 0);
    x1 = std::min<std::int64_t>(x1, rle.width);
    if (y >= 0 && y < rle.height && x0 < x1) {
        runs.push_back({static_cast<std::int32_t>(y), static_cast<std::int32_t>(x0),
                        static_cast<std::int32_t>(x1 - x0)});
    }
}

const SZtRLEObject* ObjectAt(const SZtRLEPicBuf* rle, int index) {
    if (!rle || index < 0 || static_cast<std::size_t>(index) >= rle->objects.size()) {
        return nullptr;
    }
    return &rle->objects[static_cast<std::size_t>(index)];
}

}  // namespace

int CZtRLEPicBufAPI::Alloc(SZtRLEPicBuf* rle, std::uint32_t width, std::uint32_t height,
                           std::uint32_t bitsPerComponent) {
    if (!rle) {
        return ZT_PIC_INVALID_ARG;
    }
    rle->width = width;
    rle->height = height;
    rle->bitsPerComponent = bitsPerComponent;
    rle->objects.clear();
    return ZT_PIC_OK;
}

int CZtRLEPicBufAPI::Empty(SZtRLEPicBuf* rle) {
    if (!rle) {
        return ZT_PIC_INVALID_ARG;
    }
    rle->objects.clear();
    return ZT_PIC_OK;
}

int CZtRLEPicBufAPI::GetObjectCount(const SZtRLEPicBuf* rle) {
    if (!rle) {
        return ZT_PIC_INVALID_ARG;
    }
    return static_cast<int>(
        std::min<std::size_t>(rle->objects.size(), std::numeric_limits<int>::max()));
}

int CZtRLEPicBufAPI::GetObjectId(const SZtRLEPicBuf* rle, int index, std::uint32_t* id) {
    const SZtRLEObject* object = ObjectAt(rle, index);
    if (!object || !id) {
        return ZT_PIC_INVALID_ARG;
    }
    *id = object->id;
    return ZT_PIC_OK;
}

int CZtRLEPicBufAPI::AddObjectFromMask(SZtRLEPicBuf* rle, std::uint32_t id, const SZtPicBuf* mask) {
    if (!rle || !mask || mask->IsEmpty() || mask->width != rle->width ||
        mask->height != rle->height) {
        return ZT_PIC_INVALID_ARG;
    }
    SZtRLEObject object{id, {}};
    for (std::uint32_t y = 0; y < mask->height; ++y) {
        std::uint32_t x = 0;
        while (x < mask->width) {
            if (CZtPicBufAPI::GetValue(mask, x, y) == 0) {
                ++x;
                continue;
            }
            const std::uint32_t start = x;
            while (x < mask->width && CZtPicBufAPI::GetValue(mask, x, y) != 0) {
                ++x;
            }
            object.runs.push_back({static_cast<std::int32_t>(y), static_cast<std::int32_t>(start),
                                   static_cast<std::int32_t>(x - start)});
        }
    }
    rle->objects.push_back(std::move(object));
    return ZT_PIC_OK;
}

int CZtRLEPicBufAPI::AddRectangle(SZtRLEPicBuf* rle, std::uint32_t id, int left, int top, int right,
                                  int bottom) {
    if (!rle) {
        return ZT_PIC_INVALID_ARG;
    }
    SZtRLEObject object{id, {}};
    const int firstRow = std::max(top, 0);
    const std::int64_t endRow = std::min<std::int64_t>(bottom, rle->height);
    for (std::int64_t y = firstRow; y < endRow; ++y) {
        AddClippedRun(object.runs, *rle, y, left, right);
    }
    rle->objects.push_back(std::move(object));
    return ZT_PIC_OK;
}

int CZtRLEPicBufAPI::AddPolygon(SZtRLEPicBuf* rle, std::uint32_t id, const double* xy,
                                int pointCount) {
    if (!rle || !xy || pointCount < 3) {
        return ZT_PIC_INVALID_ARG;
    }
    double minY = xy[1], maxY = xy[1];
    for (int i = 0; i < pointCount; ++i) {
        if (!std::isfinite(xy[2 * i]) || !std::isfinite(xy[2 * i + 1])) {
            return ZT_PIC_INVALID_ARG;
        }
        minY = std::min(minY, xy[2 * i + 1]);
        maxY = std::max(maxY, xy[2 * i + 1]);
    }
    SZtRLEObject object{id, {}};
    const double firstRow = std::max(std::floor(minY), 0.0);
    const double endRow = std::min(std::ceil(maxY), static_cast<double>(rle->height));
    std::vector<double> crossings;
    for (double row = firstRow; row < endRow; ++row) {
        const double centre = row + 0.5;
        crossings.clear();
        for (int i = 0; i < pointCount; ++i) {
            const double x0 = xy[2 * i], y0 = xy[2 * i + 1];
            const int j = (i + 1) % pointCount;
            const double x1 = xy[2 * j], y1 = xy[2 * j + 1];
            if ((y0 <= centre) != (y1 <= centre)) {
                crossings.push_back(x0 + (centre - y0) * (x1 - x0) / (y1 - y0));
            }
        }
        std::sort(crossings.begin(), crossings.end());
        for (std::size_t k = 0; k + 1 < crossings.size(); k += 2) {
            // Pixel x is inside when crossings[k] <= x + 0.5 < crossings[k + 1].
            const double from = std::clamp(std::ceil(crossings[k] - 0.5), -1.0, 1e9);
            const double to = std::clamp(std::ceil(crossings[k + 1] - 0.5), -1.0, 1e9);
            AddClippedRun(object.runs, *rle, static_cast<std::int64_t>(row),
                          static_cast<std::int64_t>(from), static_cast<std::int64_t>(to));
        }
    }
    object.runs = Normalised(std::move(object.runs));
    rle->objects.push_back(std::move(object));
    return ZT_PIC_OK;
}

int CZtRLEPicBufAPI::GetBoundingBox(const SZtRLEPicBuf* rle, int index, std::int32_t* left,
                                    std::int32_t* top, std::int32_t* right, std::int32_t* bottom) {
    const SZtRLEObject* object = ObjectAt(rle, index);
    if (!object || !left || !top || !right || !bottom) {
        return ZT_PIC_INVALID_ARG;
    }
    *left = *top = *right = *bottom = 0;
    if (object->runs.empty()) {
        return ZT_PIC_OK;
    }
    // Every run is looked at, not just the first and last row: objects filled in by hand need
    // not be sorted, and extraction relies on the box holding every run.
    *left = *top = std::numeric_limits<std::int32_t>::max();
    *right = *bottom = std::numeric_limits<std::int32_t>::min();
    for (const SZtRLERun& run : object->runs) {
        *left = std::min(*left, run.x);
        *top = std::min(*top, run.y);
        *right = std::max(*right, run.x + run.length);
        *bottom = std::max(*bottom, run.y + 1);
    }
    return ZT_PIC_OK;
}

int CZtRLEPicBufAPI::ExtractObject(const SZtRLEPicBuf* rle, int index, SZtPicBuf* object,
                                   std::int32_t* left, std::int32_t* top) {
    std::int32_t boxLeft, boxTop, boxRight, boxBottom;
    if (!object || GetBoundingBox(rle, index, &boxLeft, &boxTop, &boxRight, &boxBottom) != 0 ||
        boxRight <= boxLeft) {
        return ZT_PIC_INVALID_ARG;
    }
    SZtPicBuf picture;
    const int status = CZtPicBufAPI::Alloc(&picture, boxRight - boxLeft, boxBottom - boxTop, 8, 1);
    if (status != ZT_PIC_OK) {
        return status;
    }
    for (const SZtRLERun& run : rle->objects[static_cast<std::size_t>(index)].runs) {
        if (run.length > 0) {
            std::memset(picture.Row(run.y - boxTop) + (run.x - boxLeft), 255, run.length);
        }
    }
    *object = std::move(picture);
    if (left) {
        *left = boxLeft;
    }
    if (top) {
        *top = boxTop;
    }
    return ZT_PIC_OK;
}

int CZtRLEPicBufAPI::ToPicture(const SZtRLEPicBuf* rle, SZtPicBuf* picture) {
    if (!rle || !picture) {
        return ZT_PIC_INVALID_ARG;
    }
    SZtPicBuf out;
    const int status = CZtPicBufAPI::Alloc(&out, rle->width, rle->height, 8, 1);
    if (status != ZT_PIC_OK) {
        return status;
    }
    // Objects filled in by hand may stray outside the frame: clip every run.
    for (const SZtRLEObject& object : rle->objects) {
        for (const SZtRLERun& run : object.runs) {
            const std::int64_t x0 = std::max<std::int64_t>(run.x, 0);
            const std::int64_t x1 =
                std::min<std::int64_t>(std::int64_t{run.x} + run.length, rle->width);
            if (run.y >= 0 && static_cast<std::uint32_t>(run.y) < rle->height && x0 < x1) {
                std::memset(out.Row(run.y) + x0, 255, x1 - x0);
            }
        }
    }
    *picture = std::move(out);
    return ZT_PIC_OK;
}

bool CZtRLEPicBufAPI::IsEqual(const SZtRLEPicBuf* a, const SZtRLEPicBuf* b) {
    return a && b && a->width == b->width && a->height == b->height &&
           a->bitsPerComponent == b->bitsPerComponent && a->objects == b->objects;
}

int CZtRLEPicBufAPI::Copy(const SZtRLEPicBuf* src, SZtRLEPicBuf* dst) {
    if (!src || !dst) {
        return ZT_PIC_INVALID_ARG;
    }
    if (src != dst) {
        *dst = *src;
    }
    return ZT_PIC_OK;
}

int CZtRLEPicBufAPI::CopyObjects(const SZtRLEPicBuf* src, std::uint32_t id, SZtRLEPicBuf* dst) {
    if (!src || !dst || src->width != dst->width || src->height != dst->height) {
        return ZT_PIC_INVALID_ARG;
    }
    std::vector<SZtRLEObject> found;
    for (const SZtRLEObject& object : src->objects) {
        if (object.id == id) {
            found.push_back(object);
        }
    }
    // Appended afterwards: src and dst may be the same picture.
    dst->objects.insert(dst->objects.end(), found.begin(), found.end());
    return static_cast<int>(found.size());
}
