// Benchmark figures as multiples of a memcpy of the bytes they read, timed in the same run: on a
// shared machine absolute times drift with the load, the ratios much less.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>

#include "compare_timing.h"

// Started just before a benchmark's loop; Report adds the counter "x memcpy": the CPU time of an
// iteration over that of copying bytes.
class CMemcpyRatio {
public:
    explicit CMemcpyRatio(std::size_t bytes) : m_bytes(bytes), m_start(ThreadMicroseconds()) {}

    void Report(benchmark::State& state) const {
        const double iteration =
            (ThreadMicroseconds() - m_start) / static_cast<double>(state.iterations());
        state.counters["x memcpy"] = iteration / MemcpyMicroseconds(m_bytes);
    }

private:
    std::size_t m_bytes;
    double m_start;
};
