// Times the camera -> DMD mapping of patterns against OpenCV's nearest-neighbour warpAffine on the
// same picture and matrix, in the same run, and prints the ratio of the two and each as a multiple
// of a memcpy of the DMD picture's bytes timed in the same run.
#include <algorithm>
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "bench_scene.h"
#include "compare_timing.h"

int main() {
    cv::setNumThreads(1);
    std::printf("%-12s %14s %14s %10s %10s %10s %10s\n", "DMD", "ours us cpu", "OpenCV us cpu",
                "ours/cv", "differ", "ours/copy", "cv/copy");
    const std::pair<int, int> sizes[] = {{400, 300}, {800, 600}, {1600, 1200}, {2560, 1600}};
    for (const auto& [width, height] : sizes) {
        CBenchScene scene(width, height);
        const SZtPicBuf& camera = scene.CameraPicture();
        SZtPicBuf ours;
        CZtPicBufAPI::Alloc(&ours, width, height, 8, 1);
        const cv::Mat source(static_cast<int>(camera.height), static_cast<int>(camera.width),
                             CV_8UC1, camera.data, camera.stride);
        const double* m = scene.DmdToImage();
        const cv::Mat matrix = (cv::Mat_<double>(2, 3) << m[0], m[1], m[2], m[3], m[4], m[5]);
        cv::Mat theirs(height, width, CV_8UC1);

        const auto runOurs = [&] { CZtPattern::MapNearest(camera, m, &ours); };
        const auto runTheirs = [&] {
            cv::warpAffine(source, theirs, matrix, theirs.size(),
                           cv::INTER_NEAREST | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, 0);
        };
        const int repeats = std::max(15, 40'000'000 / (width * height));
        const auto [oursTime, theirsTime] = CompareMicroseconds(runOurs, runTheirs, repeats);
        // OpenCV rounds in fixed point (1/1024 pixel): the pictures may differ along edges.
        int differ = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                differ += ours.Row(y)[x] != theirs.at<std::uint8_t>(y, x);
            }
        }
        const double copy = MemcpyMicroseconds(std::size_t(width) * height);
        std::printf("%5dx%-6d %14.1f %14.1f %10.2f %10d %10.2f %10.2f\n", width, height, oursTime,
                    theirsTime, oursTime / theirsTime, differ, oursTime / copy, theirsTime / copy);
    }
    return 0;
}
