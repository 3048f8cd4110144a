// The error diffusion of one vector path, included once per path inside that path's namespace and
// target region, after errordiffusion.h, <algorithm>, <cstring>, <iterator>, <utility> and the
// intrinsics. The includer defines V: a float vector F of V::kFloats lanes and its operations.
//
// Error diffusion runs on kLanes rows at once, one per lane, each row kLag columns behind the one
// above it, so that every error a pixel needs from the rows above is known when its lane reaches
// it. A pixel's error is the only serial dependency left within a row; kLanes rows in kVectors
// registers keep that many such chains in flight. Every lane does the same float operations in the
// same order as a plain scan of the picture, so every path gives the same pixels.

using F = V::F;
constexpr int kVectors = 2;
constexpr int kLanes = kVectors * V::kFloats;
static_assert(kLanes <= kMaxLanes && (kLanes % kTile == 0 || kLanes == kTile / 2));
// Per step of the band, the two rows above it and then its own rows.
constexpr int kSlots = kLanes + 2;
// Products are stored per step in blocks of kWeightCount rows of kSlots floats, in a window of
// kWindowBlocks steps that slides along the band.
constexpr ptrdiff_t kBlock = kWeightCount * kSlots;
constexpr int kWindowBlocks = static_cast<int>(kWindowFloats / kBlock);
// Steps before the first one of a band that a term may read: two rows up, kMaxReach to the left.
constexpr int kLead = kMaxReach + 2 * kMaxLag;
static_assert(kWindowBlocks >= 2 * kLead);

// Reentrant: decides kFloats pixels at a time between the levels 0 and 255.
class TwoLevels {
public:
    TwoLevels() : m_threshold(V::set1(UpperOfTwoLevels())), m_top(V::set1(255.f)) {}

    // Returns the output levels of v, and writes them as bytes to out.
    F decide(F v, Ipp8u* out) const { return V::upperOrZero(v, m_threshold, m_top, out); }

private:
    F m_threshold;
    F m_top;
};

// Reentrant: decides kFloats pixels at a time between any number of levels, with the arithmetic of
// the plain decision: same operations in the same order, the floor folded into the clamp.
class ManyLevels {
public:
    ManyLevels(const Ipp8u* value, int levels)
        : m_value(value),
          m_top(V::set1(static_cast<float>(levels - 1))),
          m_two(V::set1(2.f)),
          m_half(V::set1(255.f)),
          m_span(V::set1(510.f)) {}

    F decide(F v, Ipp8u* out) const {
        const F q = V::div(V::add(V::mul(V::mul(m_two, v), m_top), m_half), m_span);
        // Truncating a quotient clamped to 0 ... levels - 1 is flooring it and clamping after.
        int k[V::kFloats];
        V::truncate(V::min(V::max(q, V::set1(0.f)), m_top), k);
        for (int i = 0; i < V::kFloats; ++i) {
            out[i] = m_value[k[i]];
        }
        return V::bytesToFloats(out);
    }

private:
    const Ipp8u* m_value;
    F m_top;
    F m_two;
    F m_half;
    F m_span;
};

// Offset from a step's block to the products lane 0 reads for term a: lane r reads slot r - a.dy
// + 2 of the block a.dx - kLag * a.dy steps away, where the row a.dy above put that column.
template <typename K, size_t I>
F aboveTerm(const float* block) {
    constexpr Term a = K::kAbove[I];
    constexpr ptrdiff_t offset = (a.dx - K::kLag * a.dy) * kBlock + a.w * kSlots + 2 - a.dy;
    return V::load(block + offset);
}

// The sum starts with the first term instead of 0 plus it: the same value, and at most the sign of
// a zero differs, which no later sum or decision can tell.
template <typename K, size_t... I>
F sumAbove(const float* block, std::index_sequence<I...>) {
    F sum = aboveTerm<K, 0>(block);
    ((sum = V::add(sum, aboveTerm<K, I + 1>(block))), ...);
    return sum;
}

template <typename K, size_t... I>
F addLeft(F sum, const F (&left1)[kWeightCount], const F (&left2)[kWeightCount],
          std::index_sequence<I...>) {
    ((sum = V::add(sum, K::kLeft[I].dx == -1 ? left1[K::kLeft[I].w] : left2[K::kLeft[I].w])), ...);
    return sum;
}

// Products of the two rows above the band for step t's block: the errors the previous band's
// last two lanes took kLanes * kLag steps later, times each weight.
template <typename K>
void takeRowsAbove(float* block, const float* boundary, int t) {
    const __m128 errors = _mm_castsi128_ps(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(boundary + 2 * (t + kLanes * K::kLag))));
    for (int w = 0; w < kWeightCount; ++w) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(block + w * kSlots),
                         _mm_castps_si128(_mm_mul_ps(errors, _mm_set1_ps(K::kWeights[w]))));
    }
}

// Steps tBegin ... tEnd - 1 of a band, the first with its products at first: at step t lane r
// decides column t - kLag * r. In edge steps some lanes lie outside the ROI; their sources are 0,
// their levels are not copied out and they pass on no error.
template <typename K, bool kEdge, typename Levels>
void diffuseSteps(const Work& work, int tBegin, int tEnd, int width, float* first,
                  const Levels& levels) {
    // Products of the two steps before, which the row's own pixels pass on.
    F left1[kVectors][kWeightCount];
    F left2[kVectors][kWeightCount];
    for (int h = 0; h < kVectors; ++h) {
        for (int w = 0; w < kWeightCount; ++w) {
            const ptrdiff_t slot = w * kSlots + 2 + h * V::kFloats;
            left1[h][w] = V::load(first - kBlock + slot);
            left2[h][w] = V::load(first - 2 * kBlock + slot);
        }
    }
    // Each lane's lag behind lane 0.
    int lags[kLanes];
    for (int r = 0; r < kLanes; ++r) {
        lags[r] = K::kLag * r;
    }
    for (int t = tBegin; t < tEnd; ++t) {
        float* block = first + (t - tBegin) * kBlock;
        takeRowsAbove<K>(block, work.boundary, t);
        const Ipp8u* source = work.sources + ptrdiff_t{t} * kLanes;
        Ipp8u* level = work.levels + ptrdiff_t{t} * kLanes;
        F e;
        for (int h = 0; h < kVectors; ++h) {
            float* lanes = block + h * V::kFloats;
            F error = sumAbove<K>(lanes, std::make_index_sequence<std::size(K::kAbove) - 1>());
            error = addLeft<K>(error, left1[h], left2[h],
                               std::make_index_sequence<std::size(K::kLeft)>());
            const F v = V::add(V::bytesToFloats(source + h * V::kFloats), error);
            e = V::sub(v, levels.decide(v, level + h * V::kFloats));
            if constexpr (kEdge) {
                e = V::keepInside(e, t, lags + h * V::kFloats, width);
            }
            for (int w = 0; w < kWeightCount; ++w) {
                left2[h][w] = left1[h][w];
                left1[h][w] = V::mul(e, V::set1(K::kWeights[w]));
                V::store(lanes + w * kSlots + 2, left1[h][w]);
            }
        }
        // The last two lanes' errors, for the band below.
        V::storeLastTwo(work.boundary + 2 * t, e);
    }
}

// Transposes 16 x 16 bytes: byte j of m[i] becomes byte i of m[j]. Each round interleaves rows i
// and i + 8, which turns the eight bits of (row, column) one place to the left; four rounds swap
// row and column.
void transpose(__m128i (&m)[kTile]) {
#pragma GCC unroll 4
    for (int round = 0; round < 4; ++round) {
        __m128i next[kTile];
#pragma GCC unroll 8
        for (int i = 0; i < kTile / 2; ++i) {
            next[2 * i] = _mm_unpacklo_epi8(m[i], m[i + kTile / 2]);
            next[2 * i + 1] = _mm_unpackhi_epi8(m[i], m[i + kTile / 2]);
        }
#pragma GCC unroll 16
        for (int i = 0; i < kTile; ++i) {
            m[i] = next[i];
        }
    }
}

// Bytes first ... first + 15 of a row of width bytes, 0 for those outside it.
__m128i loadTile(const Ipp8u* row, int first, int width) {
    if (first >= 0 && first + kTile <= width) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + first));
    }
    alignas(kTile) Ipp8u bytes[kTile] = {};
    const int begin = std::max(first, 0);
    const int end = std::min(first + kTile, width);
    if (begin < end) {
        std::memcpy(bytes + (begin - first), row + begin, static_cast<size_t>(end - begin));
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

// Writes those of the bytes first ... first + 15 of a row of width bytes that lie inside it.
void storeTile(Ipp8u* row, int first, int width, __m128i tile) {
    if (first >= 0 && first + kTile <= width) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + first), tile);
        return;
    }
    alignas(kTile) Ipp8u bytes[kTile];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), tile);
    const int begin = std::max(first, 0);
    const int end = std::min(first + kTile, width);
    if (begin < end) {
        std::memcpy(row + begin, bytes + (begin - first), static_cast<size_t>(end - begin));
    }
}

// Lanes per tile row: a tile covers 16 lanes, or all of a narrower band.
constexpr int kTileLanes = kLanes < kTile ? kLanes : kTile;

// The tiles t0 = tInside + 16 k below tEnd lie inside the rows of lanes g ... g + kTileLanes - 1;
// steps before tInside or from tEnd on reach outside the ROI in one of them.
struct InsideTiles {
    int tInside;
    int tEnd;
};

InsideTiles insideTiles(int g, int lag, int width) {
    return {lag * (g + kTileLanes - 1), width + lag * g - kTile + 1};
}

// Skews the band's rows y0 ... y0 + rows - 1 into work.sources, lanes of no row left 0.
void skewSources(const Picture& p, int y0, int rows, int lag, int steps, const Work& work) {
    const int width = p.roi.width;
    for (int g = 0; g < kLanes; g += kTile) {
        // Row i of the group and its lag: step t reads column t - lag * (g + i) of it.
        const Ipp8u* row[kTile];
        for (int i = 0; i < kTileLanes; ++i) {
            row[i] = p.srcRow(y0 + std::min(g + i, rows - 1));
        }
        const InsideTiles inside = insideTiles(g, lag, width);
        // Where each row's tiles wholly inside start.
        const Ipp8u* firstInside[kTile];
        for (int i = 0; i < kTileLanes; ++i) {
            firstInside[i] = row[i] + std::clamp(inside.tInside - lag * (g + i), 0, width);
        }
        for (int t0 = 0; t0 < steps; t0 += kTile) {
            __m128i m[kTile];
            if (g + kTileLanes <= rows && t0 >= inside.tInside && t0 < inside.tEnd) {
#pragma GCC unroll 16
                for (int i = 0; i < kTile; ++i) {
                    m[i] = i < kTileLanes ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                firstInside[i] + (t0 - inside.tInside)))
                                          : _mm_setzero_si128();
                }
            } else {
                for (int i = 0; i < kTile; ++i) {
                    const int r = g + i;
                    m[i] = i < kTileLanes && r < rows ? loadTile(row[i], t0 - lag * r, width)
                                                      : _mm_setzero_si128();
                }
            }
            transpose(m);
#pragma GCC unroll 16
            for (int j = 0; j < kTile; ++j) {
                Ipp8u* out = work.sources + ptrdiff_t{t0 + j} * kLanes + g;
                if constexpr (kTileLanes == kTile) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), m[j]);
                } else {
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), m[j]);
                }
            }
        }
    }
}

// Copies the decided levels of the band's rows from work.levels into the picture.
void deskewLevels(const Picture& p, int y0, int rows, int lag, int steps, const Work& work) {
    const int width = p.roi.width;
    for (int g = 0; g < kLanes && g < rows; g += kTile) {
        Ipp8u* row[kTile];
        for (int i = 0; i < kTileLanes; ++i) {
            row[i] = p.dstRow(y0 + std::min(g + i, rows - 1));
        }
        const InsideTiles inside = insideTiles(g, lag, width);
        Ipp8u* firstInside[kTile];
        for (int i = 0; i < kTileLanes; ++i) {
            firstInside[i] = row[i] + std::clamp(inside.tInside - lag * (g + i), 0, width);
        }
        for (int t0 = 0; t0 < steps; t0 += kTile) {
            __m128i m[kTile];
#pragma GCC unroll 16
            for (int j = 0; j < kTile; ++j) {
                const Ipp8u* in = work.levels + ptrdiff_t{t0 + j} * kLanes + g;
                m[j] = kTileLanes == kTile ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(in))
                                           : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
            }
            transpose(m);
            if (g + kTileLanes <= rows && t0 >= inside.tInside && t0 < inside.tEnd) {
#pragma GCC unroll 16
                for (int i = 0; i < kTileLanes; ++i) {
                    _mm_storeu_si128(
                        reinterpret_cast<__m128i*>(firstInside[i] + (t0 - inside.tInside)), m[i]);
                }
                continue;
            }
            for (int i = 0; i < kTileLanes && g + i < rows; ++i) {
                storeTile(row[i], t0 - lag * (g + i), width, m[i]);
            }
        }
    }
}

template <typename K, typename Levels>
void diffuseErrors(const Picture& p, const Levels& levels, const Work& work) {
    static_assert(K::kLag <= kMaxLag);
    const int width = p.roi.width;
    const int steps = width + (kLanes - 1) * K::kLag;
    // Rows above the ROI have no error to pass on.
    std::fill(work.boundary, work.boundary + BoundaryFloats(width), 0.f);
    for (int y0 = 0; y0 < p.roi.height; y0 += kLanes) {
        const int rows = std::min(kLanes, p.roi.height - y0);
        skewSources(p, y0, rows, K::kLag, steps, work);
        // The kLead steps before the first one hold columns left of the ROI in the band's own
        // rows, while the rows above may already reach into it.
        std::fill(work.window, work.window + kLead * kBlock, 0.f);
        for (int t = -kLead; t < 0; ++t) {
            takeRowsAbove<K>(work.window + (t + kLead) * kBlock, work.boundary, t);
        }
        // Steps from firstFull to lastFull have every lane inside the ROI.
        const int firstFull = std::min((kLanes - 1) * K::kLag, steps);
        const int lastFull = std::max(width, firstFull);
        int windowStart = 0;  // the step whose block follows the kLead leading ones
        for (int t = 0; t < steps;) {
            if (t - windowStart == kWindowBlocks - kLead) {
                // Slide: the last kLead blocks, all that later steps read, move to the front.
                std::copy(work.window + (kWindowBlocks - kLead) * kBlock,
                          work.window + kWindowBlocks * kBlock, work.window);
                windowStart = t;
            }
            float* first = work.window + (kLead + t - windowStart) * kBlock;
            const int end = std::min(windowStart + kWindowBlocks - kLead, t < firstFull  ? firstFull
                                                                          : t < lastFull ? lastFull
                                                                                         : steps);
            if (t < firstFull || t >= lastFull) {
                diffuseSteps<K, true>(work, t, end, width, first, levels);
            } else {
                diffuseSteps<K, false>(work, t, end, width, first, levels);
            }
            t = end;
        }
        deskewLevels(p, y0, rows, K::kLag, steps, work);
    }
}

template <typename K>
void diffuseErrors(const Picture& p, const Ipp8u* value, int levels, const Work& work) {
    if (levels == 2) {
        diffuseErrors<K>(p, TwoLevels(), work);
    } else {
        diffuseErrors<K>(p, ManyLevels(value, levels), work);
    }
}

void diffuse(const Picture& p, IppiDitherType dtype, const Ipp8u* value, int levels,
             const Work& work) {
    switch (dtype) {
        case ippDitherFS:
            diffuseErrors<FloydSteinberg>(p, value, levels, work);
            break;
        case ippDitherJJN:
            diffuseErrors<JarvisJudiceNinke>(p, value, levels, work);
            break;
        case ippDitherStucki:
            diffuseErrors<Stucki>(p, value, levels, work);
            break;
        default:
            break;
    }
}
