#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// A tiny harness for benchmarks that print medians and ratios against a baseline run in the same process.
namespace Orvex::Bench {

// Keeps a value observable so the optimiser cannot drop the work that produced it.
template<class T> inline void keep(T &&value) {
    asm volatile("" : : "g"(&value) : "memory");
}

// Keeps freed memory in the process, so repeated runs measure the work rather than the kernel's page faults
// for memory the allocator handed back after the previous run. Call once at the start of main.
inline void keepFreedMemory() {
#if defined(__GLIBC__)
    mallopt(M_TOP_PAD, 256 << 20);
#endif
}

// The median wall time of runs calls of f, in seconds, after one untimed warm-up call.
template<class F> double medianSeconds(F &&f, int runs) {
    using Clock = std::chrono::steady_clock;
    std::forward<F>(f)();
    std::vector<double> seconds;
    seconds.reserve(std::size_t(std::max(runs, 1)));
    for (int run = 0; run < std::max(runs, 1); ++run) {
        const Clock::time_point start = Clock::now();
        f();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    const auto middle = seconds.begin() + std::ptrdiff_t(seconds.size() / 2);
    std::nth_element(seconds.begin(), middle, seconds.end());
    return *middle;
}

inline void printMedian(const char *name, double seconds) {
    std::printf("%s: median %.6f ms\n", name, seconds * 1e3);
    std::fflush(stdout);
}

// Prints numerator / denominator with the goal it is held against; the benchmark never fails on it.
inline double printRatio(const char *name, double numerator, double denominator, double goal) {
    const double ratio = denominator > 0 ? numerator / denominator : 0;
    std::printf("%s: ratio %.2f (goal <= %.2f)%s\n", name, ratio, goal, ratio <= goal ? "" : "  ABOVE GOAL");
    std::fflush(stdout);
    return ratio;
}

} // namespace Orvex::Bench
