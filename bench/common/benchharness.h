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

// The median of a set of timings, in seconds.
inline double median(std::vector<double> seconds) {
    const auto middle = seconds.begin() + std::ptrdiff_t(seconds.size() / 2);
    std::nth_element(seconds.begin(), middle, seconds.end());
    return *middle;
}

template<class F> double secondsOf(F &&f) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The median wall time of runs calls of f, in seconds, after one untimed warm-up call.
template<class F> double medianSeconds(F &&f, int runs) {
    f();
    std::vector<double> seconds;
    seconds.reserve(std::size_t(std::max(runs, 1)));
    for (int run = 0; run < std::max(runs, 1); ++run)
        seconds.push_back(secondsOf(f));
    return median(std::move(seconds));
}

// Times the two alternately, so drift of the machine falls on both alike; returns both medians.
template<class Measured, class Baseline>
std::pair<double, double> alternateMedians(Measured &&measured, Baseline &&baseline, int runs) {
    measured();
    baseline();
    std::vector<double> measuredSeconds;
    std::vector<double> baselineSeconds;
    for (int run = 0; run < std::max(runs, 1); ++run) {
        measuredSeconds.push_back(secondsOf(measured));
        baselineSeconds.push_back(secondsOf(baseline));
    }
    return {median(std::move(measuredSeconds)), median(std::move(baselineSeconds))};
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

// The same for a goal the ratio must reach rather than stay under.
inline double printRatioAtLeast(const char *name, double numerator, double denominator, double goal) {
    const double ratio = denominator > 0 ? numerator / denominator : 0;
    std::printf("%s: ratio %.2f (goal >= %.2f)%s\n", name, ratio, goal, ratio >= goal ? "" : "  BELOW GOAL");
    std::fflush(stdout);
    return ratio;
}

// Prints numerator / denominator where there is no goal to hold it against.
inline double printRatio(const char *name, double numerator, double denominator) {
    const double ratio = denominator > 0 ? numerator / denominator : 0;
    std::printf("%s: ratio %.2f\n", name, ratio);
    std::fflush(stdout);
    return ratio;
}

} // namespace Orvex::Bench
