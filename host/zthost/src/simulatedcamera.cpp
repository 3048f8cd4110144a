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

// Mirrors are cut into k x k point sources no further apart than this in the image. Each source
// is shared bilinearly between the four pixel centres around it, which keeps the centre of mass
// of the light exactly where the optics put it; at this spacing the sources of a lit area merge
// into an even patch (a ripple of at most 2.5 % before the blur, far less after a blur of half
// a pixel or more).
constexpr double kMaxSourceSpacing = 0.5;
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
    double spareNormal = 0.0;
    bool hasSpare = false;
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

// In (0, 1].
double Uniform(Random* r) {
    return (static_cast<double>(Next(r) >> 11) + 1.0) * 0x1.0p-53;
}

double Normal(Random* r) {
    if (r->hasSpare) {
        r->hasSpare = false;
        return r->spareNormal;
    }
    const double radius = std::sqrt(-2.0 * std::log(Uniform(r)));
    const double angle = 2.0 * std::numbers::pi * Uniform(r);
    r->spareNormal = radius * std::sin(angle);
    r->hasSpare = true;
    return radius * std::cos(angle);
}

// Exact by multiplication of uniforms for small means; above 30 the normal approximation is
// within a fraction of a count of the Poisson quantiles and costs one draw.
double Poisson(Random* r, double mean) {
    if (mean <= 0.0) {
        return 0.0;
    }
    if (mean >= 30.0) {
        return std::max(0.0, std::round(mean + std::sqrt(mean) * Normal(r)));
    }
    const double limit = std::exp(-mean);
    double product = Uniform(r);
    int count = 0;
    while (product > limit) {
        product *= Uniform(r);
        ++count;
    }
    return count;
}

// What one frame is rendered with: the displayed image and how it lies on the sensor.
struct Geometry {
    int width = 0;  // the displayed image
    int height = 0;
    Mat3 chipToImage{};
    Mat3 imageToChip{};
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
        CalcTransformChipToImg(&format, angle, nullptr, nullptr, false, g->chipToImage.data()) !=
            0 ||
        CalcTransformImgToChip(&format, angle, nullptr, nullptr, false, g->imageToChip.data()) !=
            0) {
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
    std::vector<float> values;

    void Deposit(double u, double v, double amount) {
        // Bilinear onto the pixel centres keeps the centre of mass exactly where it was.
        const double fx = u + margin - 0.5;
        const double fy = v + margin - 0.5;
        const double x0 = std::floor(fx);
        const double y0 = std::floor(fy);
        if (x0 < 0.0 || y0 < 0.0 || x0 + 1.0 >= width || y0 + 1.0 >= height) {
            return;
        }
        const double ax = fx - x0;
        const double ay = fy - y0;
        float* p = values.data() + static_cast<std::size_t>(y0) * width + static_cast<int>(x0);
        p[0] += static_cast<float>((1.0 - ax) * (1.0 - ay) * amount);
        p[1] += static_cast<float>(ax * (1.0 - ay) * amount);
        p[width] += static_cast<float>((1.0 - ax) * ay * amount);
        p[width + 1] += static_cast<float>(ax * ay * amount);
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
    const Affine toImage = Compose(g.chipToImage, truth);
    Affine toDmd;
    if (!Invert(toImage, &toDmd)) {
        return;
    }
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    const double m = field->margin;
    for (double u : {-m, g.width + m}) {
        for (double v : {-m, g.height + m}) {
            const double x = toDmd[0] * u + toDmd[1] * v + toDmd[2];
            const double y = toDmd[3] * u + toDmd[4] * v + toDmd[5];
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    const int i0 = static_cast<int>(std::clamp(std::floor(minX), 0.0, double(mirrors.width)));
    const int i1 = static_cast<int>(std::clamp(std::ceil(maxX), 0.0, double(mirrors.width)));
    const int j0 = static_cast<int>(std::clamp(std::floor(minY), 0.0, double(mirrors.height)));
    const int j1 = static_cast<int>(std::clamp(std::ceil(maxY), 0.0, double(mirrors.height)));

    const double edge =
        std::max(std::hypot(toImage[0], toImage[3]), std::hypot(toImage[1], toImage[4]));
    const int k =
        std::clamp(static_cast<int>(std::ceil(edge / kMaxSourceSpacing)), 1, kMaxSourcesPerAxis);
    const double mirrorArea = std::fabs(truth[0] * truth[4] - truth[1] * truth[3]);
    const double perLevel = optics.signal * mirrorArea / (255.0 * k * k);
    const double step = 1.0 / k;

    for (int j = j0; j < j1; ++j) {
        const std::uint8_t* row =
            mirrors.levels.data() + static_cast<std::size_t>(j) * mirrors.width;
        for (int i = i0; i < i1; ++i) {
            if (row[i] == 0) {
                continue;
            }
            const double amount = perLevel * row[i];
            for (int b = 0; b < k; ++b) {
                const double y = j + (b + 0.5) * step;
                for (int a = 0; a < k; ++a) {
                    const double x = i + (a + 0.5) * step;
                    double light = amount;
                    if (specimen) {
                        const double sx = truth[0] * x + truth[1] * y + truth[2];
                        const double sy = truth[3] * x + truth[4] * y + truth[5];
                        light *= Reflectivity(*specimen, g, sx, sy);
                    }
                    field->Deposit(toImage[0] * x + toImage[1] * y + toImage[2],
                                   toImage[3] * x + toImage[4] * y + toImage[5], light);
                }
            }
        }
    }
}

// Separable: along rows, then along columns; light leaving the field is lost.
void Blur(const Geometry& g, LightField* field) {
    const std::vector<float> kx = GaussianKernel(g.sigmaX);
    const std::vector<float> ky = GaussianKernel(g.sigmaY);
    const int w = field->width;
    const int h = field->height;
    std::vector<float> pass(field->values.size(), 0.0f);
    if (kx.size() > 1) {
        const int r = static_cast<int>(kx.size() / 2);
        for (int y = 0; y < h; ++y) {
            const float* in = field->values.data() + static_cast<std::size_t>(y) * w;
            float* out = pass.data() + static_cast<std::size_t>(y) * w;
            for (int x = 0; x < w; ++x) {
                const int d0 = std::max(-r, -x);
                const int d1 = std::min(r, w - 1 - x);
                float sum = 0.0f;
                for (int d = d0; d <= d1; ++d) {
                    sum += kx[d + r] * in[x + d];
                }
                out[x] = sum;
            }
        }
        std::swap(pass, field->values);
    }
    if (ky.size() > 1) {
        const int r = static_cast<int>(ky.size() / 2);
        std::fill(pass.begin(), pass.end(), 0.0f);
        for (int y = 0; y < h; ++y) {
            float* out = pass.data() + static_cast<std::size_t>(y) * w;
            const int d0 = std::max(-r, -y);
            const int d1 = std::min(r, h - 1 - y);
            for (int d = d0; d <= d1; ++d) {
                const float weight = ky[d + r];
                const float* in = field->values.data() + static_cast<std::size_t>(y + d) * w;
                for (int x = 0; x < w; ++x) {
                    out[x] += weight * in[x];
                }
            }
        }
        std::swap(pass, field->values);
    }
}

// The camera's read-out: photoelectrons with their noise, gain and offset, rounded and clipped
// to the bit depth. Pixels that show no part of the sensor region (the corners of an image
// turned by an angle off the quarter turns) read 0.
void ReadOut(const LightField& field, const zthost::OpticsSetup& optics, const Geometry& g,
             Random* random, SZtPicBuf* picture) {
    const double maximum = static_cast<double>((1u << picture->bitsPerComponent) - 1);
    const double background = optics.background * g.pixelArea;
    const Mat3& m = g.imageToChip;
    for (int y = 0; y < g.height; ++y) {
        const float* light = field.values.data() +
                             static_cast<std::size_t>(y + field.margin) * field.width +
                             field.margin;
        std::uint8_t* row8 = picture->Row(static_cast<std::uint32_t>(y));
        auto* row16 = reinterpret_cast<std::uint16_t*>(row8);
        for (int x = 0; x < g.width; ++x) {
            const double u = x + 0.5, v = y + 0.5;
            const double sx = m[0] * u + m[1] * v + m[2];
            const double sy = m[3] * u + m[4] * v + m[5];
            double value = 0.0;
            if (sx >= g.left && sx < g.right && sy >= g.top && sy < g.bottom) {
                double electrons = light[x] + background;
                if (optics.shotNoise) {
                    electrons = Poisson(random, electrons);
                }
                if (optics.readNoise > 0.0) {
                    electrons += optics.readNoise * Normal(random);
                }
                value =
                    std::clamp(std::round(optics.gain * electrons + optics.offset), 0.0, maximum);
            }
            if (picture->bitsPerComponent == 8) {
                row8[x] = static_cast<std::uint8_t>(value);
            } else {
                row16[x] = static_cast<std::uint16_t>(value);
            }
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

int SimulatedCamera::Render(const SZtGrabberFormatDesc& format, double angleRadians,
                            SZtPicBuf* picture) {
    zthost::OpticsSetup optics;
    zthost::MirrorFrameSource source;
    std::shared_ptr<const SZtPicBuf> specimen;
    std::uint64_t frameNumber = 0;
    {
        std::lock_guard lock(m_mutex);
        optics = m_optics;
        source = m_source;
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
        zthost::MirrorFrame mirrors;
        if (source) {
            try {
                mirrors = source();
            } catch (...) {
                mirrors = {};  // a source that fails shows a dark DMD
            }
        }
        LightField field;
        field.margin = static_cast<int>(std::ceil(kKernelReach * std::max(g.sigmaX, g.sigmaY))) + 2;
        field.width = g.width + 2 * field.margin;
        field.height = g.height + 2 * field.margin;
        field.values.assign(static_cast<std::size_t>(field.width) * field.height, 0.0f);
        Illuminate(mirrors, optics, g, specimen.get(), &field);
        Blur(g, &field);

        SZtPicBuf out;
        if (const int status = CZtPicBufAPI::Alloc(&out, static_cast<std::uint32_t>(g.width),
                                                   static_cast<std::uint32_t>(g.height),
                                                   static_cast<std::uint32_t>(bits), 1)) {
            return status;
        }
        std::uint64_t seed = optics.seed;
        Random random = Seeded(SplitMix(&seed) ^ frameNumber * 0xD1B54A32D192ED03ULL);
        ReadOut(field, optics, g, &random, &out);
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

int SetSpecimen(const SZtPicBuf* picture) {
    return SimulatedCamera::Instance().SetSpecimen(picture);
}

}  // namespace zthost
