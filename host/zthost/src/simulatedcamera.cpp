// The simulated camera: mirror frame -> light on the sensor -> blurred, noisy grey values.
#include "simulatedcamera.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <new>
#include <numbers>
#include <utility>
#include <vector>

namespace {

using Affine = std::array<double, 6>;  // row-major 2 x 3
using Mat3 = std::array<double, 9>;

// Mirrors are cut into k x k point sources no further apart in the image than the blur's sigma,
// and never closer than half a pixel nor further than a pixel. Each source is shared bilinearly
// between the four pixel centres around it, which keeps the centre of mass of the light exactly
// where the optics put it; at these spacings the sources of a lit area merge into an even patch
// (a ripple of a few per cent without blur, about one per cent at most after it).
constexpr double kMinSourceSpacing = 0.5;
constexpr double kMaxSourceSpacing = 1.0;
constexpr int kMaxSourcesPerAxis = 16;
// The blur kernel reaches this many sigmas.
constexpr double kKernelReach = 3.5;

Affine Compose(const Mat3& outer, const Affine& inner) {
    return {outer[0] * inner[0] + outer[1] * inner[3],
            outer[0] * inner[1] + outer[1] * inner[4],
            outer[0] * inner[2] + outer[1] * inner[5] + outer[2],
            outer[3] * inner[0] + outer[4] * inner[3],
            outer[3] * inner[1] + outer[4] * inner[4],
            outer[3] * inner[2] + outer[4] * inner[5] + outer[5]};
}

bool Invert(const Affine& m, Affine* inverse) {
    const double det = m[0] * m[4] - m[1] * m[3];
    if (!std::isfinite(det) || det == 0.0) {
        return false;
    }
    const double a = m[4] / det, b = -m[1] / det, d = -m[3] / det, e = m[0] / det;
    *inverse = {a, b, -(a * m[2] + b * m[5]), d, e, -(d * m[2] + e * m[5])};
    return true;
}

// xoshiro256** seeded through splitmix64: fast, and the same sequence on every platform, so a
// seed gives the same frame wherever the host runs.
struct Random {
    std::array<std::uint64_t, 4> state;
};

std::uint64_t SplitMix(std::uint64_t* x) {
    std::uint64_t z = (*x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

Random Seeded(std::uint64_t seed) {
    Random r;
    for (std::uint64_t& s : r.state) {
        s = SplitMix(&seed);
    }
    return r;
}

std::uint64_t Next(Random* r) {
    std::array<std::uint64_t, 4>& s = r->state;
    const std::uint64_t result = std::rotl(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = std::rotl(s[3], 45);
    return result;
}

// In (0, 1], from the draw's high 53 bits.
double Uniform(std::uint64_t draw) {
    return (static_cast<double>(draw >> 11) + 1.0) * 0x1.0p-53;
}

// The standard normal distribution as 2^16 equally likely values: the quantiles at the middles
// of their probability intervals (the tails end near 4.3 sigma). A table look-up per deviate
// keeps the noise of a 4-megapixel frame cheap.
constexpr int kQuantileBits = 16;

const std::vector<float>& NormalQuantiles() {
    static const std::vector<float> table = [] {
        std::vector<float> q(std::size_t{1} << kQuantileBits);
        double x = 0.0;
        for (std::size_t i = 0; i < q.size() / 2; ++i) {
            // Upper half by Newton's method on the normal CDF, from the previous quantile.
            const double p = 0.5 + (i + 0.5) / q.size();
            for (int step = 0; step < 50; ++step) {
                const double cdf = 0.5 * std::erfc(-x / std::numbers::sqrt2);
                const double pdf = std::exp(-0.5 * x * x) / std::sqrt(2.0 * std::numbers::pi);
                const double dx = (cdf - p) / pdf;
                x -= dx;
                if (std::fabs(dx) < 1e-12) {
                    break;
                }
            }
            q[q.size() / 2 + i] = static_cast<float>(x);
            q[q.size() / 2 - 1 - i] = static_cast<float>(-x);
        }
        return q;
    }();
    return table;
}

// The row's draws, one per pixel, and its normal deviates, four per draw, each in a loop of its
// own so that the generator keeps its state in registers and its steps run back to back.
void DrawRow(Random* random, const std::vector<float>& quantiles, std::uint64_t* draws,
             float* normals, int width) {
    Random r = *random;
    if (draws) {
        for (int x = 0; x < width; ++x) {
            draws[x] = Next(&r);
        }
    }
    if (normals) {
        constexpr int kPerDraw = 64 / kQuantileBits;
        for (int x = 0; x < width; x += kPerDraw) {
            std::uint64_t bits = Next(&r);
            for (int i = 0; i < kPerDraw && x + i < width; ++i, bits >>= kQuantileBits) {
                normals[x + i] = quantiles[bits & ((1u << kQuantileBits) - 1)];
            }
        }
    }
    *random = r;
}

// For values from 0 up to far beyond 16 bits; a conversion, not a library call per pixel.
double RoundHalfUp(double nonNegative) {
    return static_cast<double>(static_cast<std::int64_t>(nonNegative + 0.5));
}

// Photoelectron counts of a mean below this are drawn exactly, by inverting their distribution
// function with one uniform; from it on the normal approximation is within a fraction of a count
// of the Poisson quantiles and costs one table look-up.
constexpr double kExactPoissonBelow = 30.0;

// Poisson(mean) for mean > 0: the least k whose distribution function reaches u, u in (0, 1]. The
// walk stops once the terms left cannot move the sum.
int PoissonInverse(double mean, double u) {
    double term = std::exp(-mean);
    double sum = term;
    int k = 0;
    while (sum < u && (term > sum * 0x1.0p-54 || k < mean)) {
        ++k;
        term *= mean / k;
        sum += term;
    }
    return k;
}

// The distribution function of one mean as a table, with a guide to where each 1/kGuides of the
// probability starts: a draw is one uniform, a look-up and a step or two. Every dark pixel of a
// frame has the same mean, the background, so one table serves almost all pixels.
class PoissonTable {
public:
    explicit PoissonTable(double mean) : m_mean(mean) {
        if (!(mean > 0.0 && mean < kExactPoissonBelow)) {
            return;
        }
        double term = std::exp(-mean);
        double sum = term;
        m_cdf.push_back(sum);
        for (int k = 1; term > sum * 0x1.0p-54 || k < mean; ++k) {
            term *= mean / k;
            sum += term;
            m_cdf.push_back(sum);
        }
        // What the sum leaves short of 1 lies below the uniforms' resolution.
        m_cdf.back() = 1.0;
        std::size_t k = 0;
        for (int i = 0; i < kGuides; ++i) {
            while (m_cdf[k] < static_cast<double>(i) / kGuides) {
                ++k;
            }
            m_guide[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(k);
        }
    }

    bool Covers(double mean) const { return mean == m_mean && !m_cdf.empty(); }

    // The same count PoissonInverse(mean, u) gives, up to the last bit of the sums.
    int Draw(double u) const {
        std::size_t k = m_guide[std::min(static_cast<std::size_t>(u * kGuides),
                                         static_cast<std::size_t>(kGuides - 1))];
        while (m_cdf[k] < u) {
            ++k;
        }
        return static_cast<int>(k);
    }

private:
    static constexpr int kGuides = 1024;
    double m_mean;
    std::vector<double> m_cdf;
    std::array<std::uint16_t, kGuides> m_guide{};
};

// Poisson(mean) from one draw: exactly by inversion below kExactPoissonBelow, else by the normal
// quantile of the draw's high 16 bits.
double Poisson(std::uint64_t draw, double mean, const PoissonTable& table,
               const std::vector<float>& quantiles) {
    if (mean <= 0.0) {
        return 0.0;
    }
    if (mean >= kExactPoissonBelow) {
        const float normal = quantiles[draw >> (64 - kQuantileBits)];
        return RoundHalfUp(std::max(mean + std::sqrt(mean) * normal, 0.0));
    }
    const double u = Uniform(draw);
    return table.Covers(mean) ? table.Draw(u) : PoissonInverse(mean, u);
}

// What one frame is rendered with: the displayed image and how it lies on the sensor.
struct Geometry {
    int width = 0;  // the displayed image
    int height = 0;
    Mat3 sensorToImage{};
    Mat3 imageToSensor{};
    double left = 0.0, top = 0.0, right = 0.0, bottom = 0.0;  // the sensor region it shows
    double sensorWidth = 0.0, sensorHeight = 0.0;
    double pixelArea = 1.0;  // sensor pixels per image pixel
    double sigmaX = 0.0;     // the blur along the image's axes, image pixels
    double sigmaY = 0.0;
};

bool MakeGeometry(const SZtGrabberFormatDesc& format, double angle, double blurSigma, Geometry* g) {
    const SZtGrabberFormatValue& v = format.value;
    if (!(v.binningX > 0.0) || !(v.binningY > 0.0)) {
        return false;
    }
    // A tiny tolerance so that a region of 2048 / 2.0000000001 still counts as 1024 pixels.
    const int w =
        static_cast<int>(std::floor((v.imageRect.right - v.imageRect.left) / v.binningX + 1e-6));
    const int h =
        static_cast<int>(std::floor((v.imageRect.bottom - v.imageRect.top) / v.binningY + 1e-6));
    if (w <= 0 || h <= 0 ||
        zthost::CalcTransformSensorToImage(&format, angle, nullptr, g->sensorToImage.data()) != 0 ||
        zthost::CalcTransformImageToSensor(&format, angle, nullptr, g->imageToSensor.data()) != 0) {
        return false;
    }
    const long quarterTurns = std::lround(angle * 180.0 / std::numbers::pi / 90.0);
    const bool swapped = quarterTurns % 2 != 0;
    g->width = swapped ? h : w;
    g->height = swapped ? w : h;
    g->left = v.imageRect.left;
    g->top = v.imageRect.top;
    g->right = v.imageRect.right;
    g->bottom = v.imageRect.bottom;
    g->sensorWidth = v.sensorRect.right - v.sensorRect.left;
    g->sensorHeight = v.sensorRect.bottom - v.sensorRect.top;
    g->pixelArea = v.binningX * v.binningY;
    // Exact for quarter turns; for other angles the blur is taken along the image's axes.
    const double sx = blurSigma / v.binningX;
    const double sy = blurSigma / v.binningY;
    g->sigmaX = swapped ? sy : sx;
    g->sigmaY = swapped ? sx : sy;
    return true;
}

// The light of the frame, in photoelectrons per image pixel, on the image grown by a margin on
// every side so that light just outside the image still blurs into it.
struct LightField {
    int margin = 0;
    int width = 0;  // with the margins
    int height = 0;
    float* values = nullptr;  // width x height
    // The rows [firstLit, endLit) hold all light put in; the others are 0.
    int firstLit = 0;
    int endLit = 0;

    // (fx, fy): the place in field pixels, less half a pixel, so that pixel centres are whole.
    void Deposit(double fx, double fy, float amount) {
        // Bilinear onto the pixel centres keeps the centre of mass exactly where it was.
        if (!(fx >= 0.0 && fy >= 0.0 && fx < width - 1 && fy < height - 1)) {
            return;
        }
        const int x0 = static_cast<int>(fx);  // fx >= 0: truncation is the floor
        const int y0 = static_cast<int>(fy);
        const float ax = static_cast<float>(fx - x0);
        const float ay = static_cast<float>(fy - y0);
        float* p = values + static_cast<std::size_t>(y0) * width + x0;
        firstLit = std::min(firstLit, y0);
        endLit = std::max(endLit, y0 + 2);
        const float below = amount * ay;
        const float above = amount - below;
        p[0] += above - above * ax;
        p[1] += above * ax;
        p[width] += below - below * ax;
        p[width + 1] += below * ax;
    }
};

std::vector<float> GaussianKernel(double sigma) {
    if (sigma < 0.05) {
        return {1.0f};
    }
    const int radius = static_cast<int>(std::ceil(kKernelReach * sigma));
    std::vector<double> weights(2 * radius + 1);
    double sum = 0.0;
    for (int d = -radius; d <= radius; ++d) {
        weights[d + radius] = std::exp(-0.5 * d * d / (sigma * sigma));
        sum += weights[d + radius];
    }
    std::vector<float> kernel(weights.size());
    for (std::size_t i = 0; i < weights.size(); ++i) {
        kernel[i] = static_cast<float>(weights[i] / sum);
    }
    return kernel;
}

// The reflectivity of the specimen at a sensor point: its picture stretched over the sensor.
float Reflectivity(const SZtPicBuf& specimen, const Geometry& g, double sx, double sy) {
    const double px = std::floor(sx / g.sensorWidth * specimen.width);
    const double py = std::floor(sy / g.sensorHeight * specimen.height);
    if (px < 0.0 || py < 0.0 || px >= specimen.width || py >= specimen.height) {
        return 0.0f;
    }
    const std::uint32_t value = CZtPicBufAPI::GetValue(&specimen, static_cast<std::uint32_t>(px),
                                                       static_cast<std::uint32_t>(py));
    return static_cast<float>(value) / static_cast<float>((1u << specimen.bitsPerComponent) - 1);
}

// Puts the light of every lit mirror into the field as k x k point sources at their places in
// the image. Only mirrors whose light can reach the image are visited: the image's corners,
// grown by the margin, are mapped back onto the DMD.
void Illuminate(const zthost::MirrorFrame& mirrors, const zthost::OpticsSetup& optics,
                const Geometry& g, const SZtPicBuf* specimen, LightField* field) {
    if (mirrors.width <= 0 || mirrors.height <= 0 ||
        mirrors.levels.size() != static_cast<std::size_t>(mirrors.width) * mirrors.height) {
        return;
    }
    const Affine& truth = optics.dmdToSensor;
    const Affine toImage = Compose(g.sensorToImage, truth);
    Affine toDmd;
    if (!Invert(toImage, &toDmd)) {
        return;
    }
    const double m = field->margin;
    const zthost::Box reach = zthost::MapBox(toDmd, {-m, -m, g.width + m, g.height + m});
    const int i0 = static_cast<int>(std::clamp(std::floor(reach.left), 0.0, double(mirrors.width)));
    const int i1 = static_cast<int>(std::clamp(std::ceil(reach.right), 0.0, double(mirrors.width)));
    const int j0 = static_cast<int>(std::clamp(std::floor(reach.top), 0.0, double(mirrors.height)));
    const int j1 =
        static_cast<int>(std::clamp(std::ceil(reach.bottom), 0.0, double(mirrors.height)));

    const double edge =
        std::max(std::hypot(toImage[0], toImage[3]), std::hypot(toImage[1], toImage[4]));
    const double spacing =
        std::clamp(std::min(g.sigmaX, g.sigmaY), kMinSourceSpacing, kMaxSourceSpacing);
    const int k = std::clamp(static_cast<int>(std::ceil(edge / spacing)), 1, kMaxSourcesPerAxis);
    const double mirrorArea = std::fabs(truth[0] * truth[4] - truth[1] * truth[3]);
    const double perLevel = optics.signal * mirrorArea / (255.0 * k * k);
    // The sources of a mirror relative to its corner, in DMD and in field coordinates.
    std::vector<std::array<double, 4>> sources;
    for (int b = 0; b < k; ++b) {
        for (int a = 0; a < k; ++a) {
            const double x = (a + 0.5) / k, y = (b + 0.5) / k;
            sources.push_back(
                {x, y, toImage[0] * x + toImage[1] * y, toImage[3] * x + toImage[4] * y});
        }
    }
    const double shift = field->margin - 0.5;
    for (int j = j0; j < j1; ++j) {
        const std::uint8_t* row =
            mirrors.levels.data() + static_cast<std::size_t>(j) * mirrors.width;
        for (int i = i0; i < i1; ++i) {
            if (row[i] == 0) {
                continue;
            }
            const float amount = static_cast<float>(perLevel * row[i]);
            const double u = toImage[0] * i + toImage[1] * j + toImage[2] + shift;
            const double v = toImage[3] * i + toImage[4] * j + toImage[5] + shift;
            for (const auto& [x, y, du, dv] : sources) {
                float light = amount;
                if (specimen) {
                    const double sx = truth[0] * (i + x) + truth[1] * (j + y) + truth[2];
                    const double sy = truth[3] * (i + x) + truth[4] * (j + y) + truth[5];
                    light *= Reflectivity(*specimen, g, sx, sy);
                }
                field->Deposit(u + du, v + dv, light);
            }
        }
    }
}

// The blur along rows, in place. Only the image's columns are needed in the end; the margin
// (wider than the kernel's reach) holds the light that blurs into them from outside.
void BlurRows(const std::vector<float>& kernel, const Geometry& g, LightField* field) {
    if (kernel.size() < 2) {
        return;
    }
    const int r = static_cast<int>(kernel.size() / 2);
    std::vector<float> out(static_cast<std::size_t>(g.width));
    // Rows of 0 stay 0.
    for (int y = field->firstLit; y < field->endLit; ++y) {
        float* row = field->values + static_cast<std::size_t>(y) * field->width + field->margin;
        std::fill(out.begin(), out.end(), 0.0f);
        for (int d = -r; d <= r; ++d) {
            const float weight = kernel[d + r];
            for (int x = 0; x < g.width; ++x) {
                out[x] += weight * row[x + d];
            }
        }
        std::copy(out.begin(), out.end(), row);
    }
}

// The blur along columns for one image row, into out (the image's width).
void BlurColumn(const std::vector<float>& kernel, const Geometry& g, const LightField& field, int y,
                float* out) {
    const int r = static_cast<int>(kernel.size() / 2);
    std::fill(out, out + g.width, 0.0f);
    // Rows out of the kernel's reach of the light add 0 to 0.
    if (y + field.margin + r < field.firstLit || y + field.margin - r >= field.endLit) {
        return;
    }
    for (int d = -r; d <= r; ++d) {
        const float weight = kernel[d + r];
        const float* in = field.values +
                          static_cast<std::size_t>(y + field.margin + d) * field.width +
                          field.margin;
        for (int x = 0; x < g.width; ++x) {
            out[x] += weight * in[x];
        }
    }
}

// The camera's read-out, row by row after the blur along columns: photoelectrons with their
// noise, gain and offset, rounded and clipped to the bit depth. Pixels that show no part of the
// sensor region (the corners of an image turned by an angle off the quarter turns) read 0.
void ReadOut(const LightField& field, const std::vector<float>& columnKernel,
             const zthost::OpticsSetup& optics, const Geometry& g, Random* random,
             SZtPicBuf* picture) {
    const double maximum = static_cast<double>((1u << picture->bitsPerComponent) - 1);
    const double background = optics.background * g.pixelArea;
    const Mat3& m = g.imageToSensor;
    const std::vector<float>& quantiles = NormalQuantiles();
    const PoissonTable darkPixels(background);
    const auto width = static_cast<std::size_t>(g.width);
    std::vector<float> light(width);
    std::vector<double> electrons(width);
    std::vector<std::uint64_t> draws(optics.shotNoise ? width : 0);
    std::vector<float> normals(optics.readNoise > 0.0 ? width : 0);
    for (int y = 0; y < g.height; ++y) {
        // The sensor coordinates change monotonically along the row, so the pixels that show
        // the sensor region form one run.
        const auto shows = [&](int x) {
            const double u = x + 0.5, v = y + 0.5;
            const double sx = m[0] * u + m[1] * v + m[2];
            const double sy = m[3] * u + m[4] * v + m[5];
            return sx >= g.left && sx < g.right && sy >= g.top && sy < g.bottom;
        };
        int first = 0;
        int end = g.width;
        while (first < end && !shows(first)) {
            ++first;
        }
        while (end > first && !shows(end - 1)) {
            --end;
        }
        BlurColumn(columnKernel, g, field, y, light.data());
        DrawRow(random, quantiles, draws.empty() ? nullptr : draws.data(),
                normals.empty() ? nullptr : normals.data(), g.width);
        for (int x = first; x < end; ++x) {
            electrons[x] = light[x] + background;
        }
        if (!draws.empty()) {
            for (int x = first; x < end; ++x) {
                electrons[x] = Poisson(draws[x], electrons[x], darkPixels, quantiles);
            }
        }
        if (!normals.empty()) {
            for (int x = first; x < end; ++x) {
                electrons[x] += optics.readNoise * normals[x];
            }
        }
        // Clipped before rounding, which gives the same values as rounding first (the maximum
        // is whole) and lets the conversion run in vectors of 32-bit integers.
        std::uint8_t* row8 = picture->Row(static_cast<std::uint32_t>(y));
        auto* row16 = reinterpret_cast<std::uint16_t*>(row8);
        const auto level = [&](int x) {
            const double value =
                std::min(std::max(optics.gain * electrons[x] + optics.offset, 0.0), maximum);
            return static_cast<std::int32_t>(value + 0.5);
        };
        if (picture->bitsPerComponent == 8) {
            std::fill(row8, row8 + first, 0);
            for (int x = first; x < end; ++x) {
                row8[x] = static_cast<std::uint8_t>(level(x));
            }
            std::fill(row8 + end, row8 + g.width, 0);
        } else {
            std::fill(row16, row16 + first, 0);
            for (int x = first; x < end; ++x) {
                row16[x] = static_cast<std::uint16_t>(level(x));
            }
            std::fill(row16 + end, row16 + g.width, 0);
        }
    }
}

bool Usable(const zthost::OpticsSetup& o) {
    const Affine& t = o.dmdToSensor;
    bool finite = true;
    for (double v : t) {
        finite = finite && std::isfinite(v);
    }
    const double det = t[0] * t[4] - t[1] * t[3];
    auto nonNegative = [](double v) { return std::isfinite(v) && v >= 0.0; };
    return finite && std::isfinite(det) && std::fabs(det) > 1e-12 && nonNegative(o.blurSigma) &&
           nonNegative(o.signal) && nonNegative(o.background) && nonNegative(o.gain) &&
           nonNegative(o.offset) && nonNegative(o.readNoise);
}

// The mirrors a source shows now; a missing source, or one that fails, shows a dark DMD.
zthost::MirrorFrame Mirrors(const zthost::MirrorFrameSource& source) {
    if (!source) {
        return {};
    }
    try {
        return source();
    } catch (...) {
        return {};
    }
}

}  // namespace

SimulatedCamera& SimulatedCamera::Instance() {
    // Never destroyed: a capture on another thread may still run at exit.
    static SimulatedCamera* const camera = new SimulatedCamera;
    return *camera;
}

int SimulatedCamera::SetOptics(const zthost::OpticsSetup& optics) {
    if (!Usable(optics)) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    m_optics = optics;
    m_frameNumber = 0;
    return 0;
}

zthost::OpticsSetup SimulatedCamera::Optics() {
    std::lock_guard lock(m_mutex);
    return m_optics;
}

void SimulatedCamera::SetMirrorFrameSource(zthost::MirrorFrameSource source) {
    std::lock_guard lock(m_mutex);
    m_source = std::move(source);
}

int SimulatedCamera::SetSpecimen(const SZtPicBuf* picture) {
    std::shared_ptr<SZtPicBuf> copy;
    if (picture) {
        if (picture->IsEmpty() || picture->bitsPerComponent < 8) {
            return -4;
        }
        copy = std::make_shared<SZtPicBuf>();
        if (const int status = CZtPicBufAPI::Copy(picture, copy.get())) {
            return status;
        }
    }
    std::lock_guard lock(m_mutex);
    m_specimen = std::move(copy);
    return 0;
}

int SimulatedCamera::SetFurtherDmds(std::vector<zthost::FurtherDmd> dmds) {
    for (const zthost::FurtherDmd& dmd : dmds) {
        Affine inverse;
        if (!std::all_of(dmd.dmdToSensor.begin(), dmd.dmdToSensor.end(),
                         [](double v) { return std::isfinite(v); }) ||
            !Invert(dmd.dmdToSensor, &inverse)) {
            return -4;
        }
    }
    std::lock_guard lock(m_mutex);
    m_further = std::move(dmds);
    return 0;
}

int SimulatedCamera::Render(const SZtGrabberFormatDesc& format, double angleRadians,
                            SZtPicBuf* picture) {
    zthost::OpticsSetup optics;
    zthost::MirrorFrameSource source;
    std::vector<zthost::FurtherDmd> further;
    std::shared_ptr<const SZtPicBuf> specimen;
    std::uint64_t frameNumber = 0;
    {
        std::lock_guard lock(m_mutex);
        optics = m_optics;
        source = m_source;
        further = m_further;
        specimen = m_specimen;
        frameNumber = m_frameNumber++;
    }
    const int bits = format.value.bitDepth;
    Geometry g;
    if (bits < 8 || bits > 16 || !picture ||
        !MakeGeometry(format, angleRadians, optics.blurSigma, &g)) {
        return -4;
    }
    try {
        const zthost::MirrorFrame mirrors = Mirrors(source);
        const std::vector<float> rowKernel = GaussianKernel(g.sigmaX);
        const std::vector<float> columnKernel = GaussianKernel(g.sigmaY);
        LightField field;
        field.margin = static_cast<int>(std::max(rowKernel.size(), columnKernel.size()) / 2) + 2;
        field.width = g.width + 2 * field.margin;
        field.height = g.height + 2 * field.margin;
        // Kept per thread from frame to frame: a fresh field of this size costs more in page
        // faults than the whole rendering of a sparse frame, and clearing it all more than
        // rendering it. Only the rows the last frame lit are cleared.
        thread_local std::vector<float> values;
        thread_local int dirtyFirst = 0;
        thread_local int dirtyEnd = 0;
        thread_local int dirtyWidth = 0;
        const std::size_t size = static_cast<std::size_t>(field.width) * field.height;
        if (values.size() != size || dirtyWidth != field.width) {
            values.assign(size, 0.0f);
            dirtyWidth = field.width;
        } else if (dirtyFirst < dirtyEnd) {
            std::fill(values.begin() + static_cast<std::ptrdiff_t>(dirtyFirst) * field.width,
                      values.begin() + static_cast<std::ptrdiff_t>(dirtyEnd) * field.width, 0.0f);
        }
        // Until the light is all in, any row may hold some.
        dirtyFirst = 0;
        dirtyEnd = field.height;
        field.values = values.data();
        field.firstLit = field.height;
        field.endLit = 0;
        Illuminate(mirrors, optics, g, specimen.get(), &field);
        for (const zthost::FurtherDmd& dmd : further) {
            zthost::OpticsSetup unit = optics;
            unit.dmdToSensor = dmd.dmdToSensor;
            Illuminate(Mirrors(dmd.source), unit, g, specimen.get(), &field);
        }
        dirtyFirst = field.firstLit;
        dirtyEnd = field.endLit;
        BlurRows(rowKernel, g, &field);

        SZtPicBuf out;
        if (const int status = CZtPicBufAPI::Alloc(&out, static_cast<std::uint32_t>(g.width),
                                                   static_cast<std::uint32_t>(g.height),
                                                   static_cast<std::uint32_t>(bits), 1)) {
            return status;
        }
        std::uint64_t seed = optics.seed;
        Random random = Seeded(SplitMix(&seed) ^ frameNumber * 0xD1B54A32D192ED03ULL);
        ReadOut(field, columnKernel, optics, g, &random, &out);
        *picture = std::move(out);
        return 0;
    } catch (const std::bad_alloc&) {
        return -3;
    }
}

void SimulatedCamera::Clear() {
    std::lock_guard lock(m_mutex);
    m_optics = zthost::OpticsSetup{};
    m_source = nullptr;
    m_further.clear();
    m_specimen.reset();
    m_frameNumber = 0;
}

// ---- Control side ------------------------------------------------------------------------------

namespace zthost {

std::array<double, 6> DmdToSensor(double scale, double rotationDegrees, bool flip, double dmdX,
                                  double dmdY, double sensorX, double sensorY) {
    const double radians = rotationDegrees * std::numbers::pi / 180.0;
    const double c = std::cos(radians) * scale;
    const double s = std::sin(radians) * scale;
    const double f = flip ? -1.0 : 1.0;
    // Tr(sensor) R(angle) F S(scale) Tr(-dmd): the linear part is R F S.
    const double a = c, b = -s * f, d = s, e = c * f;
    return {a, b, sensorX - (a * dmdX + b * dmdY), d, e, sensorY - (d * dmdX + e * dmdY)};
}

int SetOptics(const OpticsSetup& optics) {
    return SimulatedCamera::Instance().SetOptics(optics);
}

OpticsSetup Optics() {
    return SimulatedCamera::Instance().Optics();
}

void SetMirrorFrameSource(MirrorFrameSource source) {
    SimulatedCamera::Instance().SetMirrorFrameSource(std::move(source));
}

int SetFurtherDmds(std::vector<FurtherDmd> dmds) {
    return SimulatedCamera::Instance().SetFurtherDmds(std::move(dmds));
}

int SetSpecimen(const SZtPicBuf* picture) {
    return SimulatedCamera::Instance().SetSpecimen(picture);
}

}  // namespace zthost
