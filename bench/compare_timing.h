// CPU-time medians for the comparisons against OpenCV.
#pragma once

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

// CPU time of this thread: other work on a shared machine does not count.
inline double ThreadMicroseconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

// The median of repeated timings of one call, in microseconds.
template <typename Call>
double MedianMicroseconds(Call call, int repeats) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const double start = ThreadMicroseconds();
        call();
        times.push_back(ThreadMicroseconds() - start);
    }
    std::nth_element(times.begin(), times.begin() + repeats / 2, times.end());
    return times[repeats / 2];
}

// Runs two calls in alternating rounds, so that load on the machine falls on both alike, and
// returns the mean of the rounds' medians of each, in microseconds.
template <typename Ours, typename Theirs>
std::pair<double, double> CompareMicroseconds(Ours ours, Theirs theirs, int repeats) {
    double oursTime = 0.0;
    double theirsTime = 0.0;
    for (int round = 0; round < 3; ++round) {
        oursTime += MedianMicroseconds(ours, repeats);
        theirsTime += MedianMicroseconds(theirs, repeats);
    }
    return {oursTime / 3, theirsTime / 3};
}

// The median CPU time of copying bytes with memcpy, warm in the cache as far as they fit: the
// memory floor each figure is held against, measured in the same run as the figure.
inline double MemcpyMicroseconds(std::size_t bytes, int repeats = 31) {
    std::vector<unsigned char> from(bytes, 1);
    std::vector<unsigned char> to(bytes);
    return MedianMicroseconds(
        [&] {
            std::memcpy(to.data(), from.data(), bytes);
            asm volatile("" : : "r"(to.data()) : "memory");
        },
        repeats);
}
