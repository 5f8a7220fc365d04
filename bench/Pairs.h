#pragma once

// How every benchmark here compares two (or more) sides: in every order, or
// alternating from a random start, so that neither always runs first on a
// warm cache or a quiet machine; as the median of per-pair ratios, which
// divides out what drifts between pairs, with its quartiles; against a floor
// it names. A ratio of two positive times cannot be negative.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace dsc::bench {

// Seconds f takes; never 0, so that a ratio is always defined.
template <class F>
double Time(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::max(1e-9,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
}

// CPU seconds of the whole process (every thread) that f takes; never 0. On
// a machine shared with other work, the wall time measures the neighbours too.
inline double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
template <class F>
double CpuTime(F&& f) {
  const double t0 = ProcessCpuSeconds();
  f();
  return std::max(1e-9, ProcessCpuSeconds() - t0);
}

inline std::random_device& Device() {
  static std::random_device device;
  return device;
}
inline size_t RandomStart(size_t n) {
  return n ? std::uniform_int_distribution<size_t>(0, n - 1)(Device()) : 0;
}

// Calls run(side) for every side, `rounds` times. Successive rounds take the
// sides' orders in turn from a random one, so that with rounds a multiple of
// sides! every side follows every other equally often; two sides alternate.
template <class Run>
void InEveryOrder(size_t sides, int rounds, Run&& run) {
  std::vector<size_t> order(sides);
  std::iota(order.begin(), order.end(), size_t{0});
  size_t orders = 1;
  for (size_t k = 2; k <= sides; ++k) orders *= k;
  for (size_t skip = RandomStart(orders); skip > 0; --skip)
    std::next_permutation(order.begin(), order.end());
  for (int r = 0; r < rounds; ++r) {
    for (const size_t side : order) run(side);
    std::next_permutation(order.begin(), order.end());
  }
}

// The median of the ratios sample/floor of the same pair, with the lower and
// upper quartile.
struct Ratio {
  double median = 0, q1 = 0, q3 = 0;
  size_t pairs = 0;
};

inline double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const double at = q * static_cast<double>(v.size() - 1);
  const size_t i = static_cast<size_t>(at);
  const double f = at - static_cast<double>(i);
  return i + 1 < v.size() ? v[i] * (1 - f) + v[i + 1] * f : v[i];
}
inline double Median(const std::vector<double>& v) { return Quantile(v, 0.5); }

inline Ratio PairedRatio(const std::vector<double>& sample, const std::vector<double>& floor) {
  std::vector<double> r;
  for (size_t i = 0; i < sample.size() && i < floor.size(); ++i)
    r.push_back(sample[i] / std::max(floor[i], 1e-12));
  return {Quantile(r, 0.5), Quantile(r, 0.25), Quantile(r, 0.75), r.size()};
}

// "checker/bare = 1.234 (quartiles 1.200-1.300, 50 pairs; floor: ...)".
inline std::string RatioText(const std::string& what, const Ratio& r, const std::string& floor) {
  char text[160];
  std::snprintf(text, sizeof text, " = %.3f (quartiles %.3f-%.3f, %zu pairs; floor: ", r.median,
                r.q1, r.q3, r.pairs);
  return what + text + floor + ")";
}

// Two sides timed in pairs, in alternating order from a random start.
class Pairs {
 public:
  // Times both once, in the order due, after an untimed before() each;
  // returns the sample's time.
  template <class Sample, class Floor, class Before>
  double Pair(Sample&& sample, Floor&& floor, Before&& before) {
    double s = 0, f = 0;
    const bool sampleFirst = next_++ % 2 == 0;
    for (int side = 0; side < 2; ++side) {
      before();
      if ((side == 0) == sampleFirst)
        s = Time(sample);
      else
        f = Time(floor);
    }
    samples.push_back(s);
    floors.push_back(f);
    return s;
  }
  template <class Sample, class Floor>
  double Pair(Sample&& sample, Floor&& floor) {
    return Pair(sample, floor, [] {});
  }
  Ratio ratio() const { return PairedRatio(samples, floors); }
  // Google Benchmark's counters: the ratio and its quartiles; the label names the floor.
  template <class State>
  void Report(State& state, const std::string& floor) const {
    const Ratio r = ratio();
    state.counters["ratio"] = r.median;
    state.counters["ratio_q1"] = r.q1;
    state.counters["ratio_q3"] = r.q3;
    state.SetLabel("median of per-pair ratios; floor: " + floor);
  }
  std::vector<double> samples, floors;

 private:
  size_t next_ = RandomStart(2);
};

}  // namespace dsc::bench
