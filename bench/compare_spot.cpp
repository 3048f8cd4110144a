// Times the picture operations of spot detection against their OpenCV counterparts on the same
// 2048 x 2048 16-bit camera frame, in the same run: the minimum and maximum search (minMaxLoc),
// the first maximum with its place (minMaxLoc), box smoothing (blur, one thread) and the mean and
// standard deviation (meanStdDev). Prints the ratio, how many results differ, and both times as
// multiples of a memcpy of the frame measured in the same run.
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_frame.h"
#include "compare_timing.h"
#include "verove_sample_analysis.h"

namespace {

constexpr int kSide = 2048;
constexpr int kRepeats = 25;

// A memcpy of the frame's bytes, timed before each figure: the load at that moment falls on both.
double FrameMemcpy() {
    return MemcpyMicroseconds(std::size_t{kSide} * kSide * 2);
}

void Report(const char* name, std::pair<double, double> times, long long differ) {
    const double copy = FrameMemcpy();
    std::printf("%-28s %12.1f %14.1f %9.2f %10lld %10.2f %10.2f\n", name, times.first, times.second,
                times.first / times.second, differ, times.first / copy, times.second / copy);
}

// Pixels of the smoothed frames that differ, counted where the whole window lies inside the
// frame: at the border OpenCV pads the frame, while SmoothSquare averages what lies inside.
long long InnerDifferences(const SZtPicBuf& ours, const cv::Mat& theirs, int size) {
    long long differ = 0;
    for (int y = size; y < kSide - size; ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(ours.Row(y));
        for (int x = size; x < kSide - size; ++x) {
            differ += row[x] != theirs.at<std::uint16_t>(y, x);
        }
    }
    return differ;
}

}  // namespace

int main() {
    cv::setNumThreads(1);
    const SZtPicBuf frame = SpotFrame(kSide, kSide, 700.3, 1300.6);
    const cv::Mat source(kSide, kSide, CV_16UC1, frame.data, frame.stride);
    std::printf("%-28s %12s %14s %9s %10s %10s %10s\n", "2048 x 2048, 16 bits", "ours us cpu",
                "OpenCV us cpu", "ours/cv", "differ", "ours/copy", "cv/copy");

    std::uint32_t low = 0;
    std::uint32_t high = 0;
    double cvLow = 0.0;
    double cvHigh = 0.0;
    cv::Point cvLowAt;
    cv::Point cvHighAt;
    const auto minMax =
        CompareMicroseconds([&] { GetMinMax(frame, &low, &high); },
                            [&] { cv::minMaxLoc(source, &cvLow, &cvHigh); }, kRepeats);
    Report("min and max", minMax, (low != cvLow) + (high != cvHigh));

    std::uint32_t peak = 0;
    std::uint32_t peakX = 0;
    std::uint32_t peakY = 0;
    const auto first = CompareMicroseconds(
        [&] { FindFirstMaximum(frame, &peak, &peakX, &peakY); },
        [&] { cv::minMaxLoc(source, &cvLow, &cvHigh, &cvLowAt, &cvHighAt); }, kRepeats);
    Report("first maximum and place", first,
           (peak != cvHigh) + (static_cast<int>(peakX) != cvHighAt.x) +
               (static_cast<int>(peakY) != cvHighAt.y));

    for (const int size : {10, 3}) {
        SZtPicBuf ours;
        CZtPicBufAPI::Copy(&frame, &ours);
        cv::Mat theirs(kSide, kSide, CV_16UC1);
        const auto smooth =
            CompareMicroseconds([&] { CZtPicBufAPI::SmoothSquare(&frame, &ours, size); },
                                [&] {
                                    cv::blur(source, theirs, cv::Size(size, size),
                                             cv::Point(-1, -1), cv::BORDER_REPLICATE);
                                },
                                kRepeats);
        Report(size == 10 ? "box smoothing 10 x 10" : "box smoothing 3 x 3", smooth,
               InnerDifferences(ours, theirs, size));
    }

    double mean = 0.0;
    double deviation = 0.0;
    cv::Scalar cvMean;
    cv::Scalar cvDeviation;
    const auto statistics = CompareMicroseconds(
        [&] { CZtPicBufAPI::GetMeanIntAndVariation(&frame, &mean, &deviation); },
        [&] { cv::meanStdDev(source, cvMean, cvDeviation); }, kRepeats);
    Report("mean and standard deviation", statistics,
           (std::abs(mean - cvMean[0]) > 1e-6) + (std::abs(deviation - cvDeviation[0]) > 1e-6));

    CZtSpotDetector detector;
    SZtPointD point;
    const double detect =
        MedianMicroseconds([&] { detector.DetectSpot(&frame, &point); }, kRepeats);
    std::printf(
        "DetectSpot %.1f us cpu (median), %.2f x a memcpy of the frame, spot at (%.2f, "
        "%.2f)\n",
        detect, detect / FrameMemcpy(), point.x, point.y);
    return 0;
}
