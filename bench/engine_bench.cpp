#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/Clock.h"
#include "base/Formats.h"
#include "bench/BenchSupport.h"
#include "engine/InputParser.h"
#include "engine/ReportLog.h"

namespace {

using dsc::bench::Pairs;

// What any reader of the same text must do at least: the C library's number
// conversion of every value, nothing stored.
template <class Convert>
double ConvertAll(const std::string& text, Convert convert) {
  double sum = 0;
  for (const char* p = text.c_str(); *p;) {
    char* end = nullptr;
    sum += static_cast<double>(convert(p, &end));
    if (end == p) break;
    p = end;
  }
  return sum;
}
double StrtodAll(const std::string& text) {
  return ConvertAll(text, [](const char* p, char** e) { return std::strtod(p, e); });
}
double StrtolAll(const std::string& text) {
  return ConvertAll(text, [](const char* p, char** e) { return std::strtol(p, e, 10); });
}

std::string Values(int count, const char* value) {
  std::string s;
  for (int i = 0; i < count; ++i) s += (i ? " " : "") + std::string(value);
  return s;
}

// The input parser over count copies of value in format, against floor,
// the C library's conversion of the same text.
void Parse(benchmark::State& state, int16_t format, int count, const char* value,
           double (*floor)(const std::string&), const char* floorName) {
  auto area = std::make_unique<dsc::TransferArea>();
  const std::string text = Values(count, value);
  Pairs pairs;
  for (auto _ : state)
    pairs.Pair([&] { benchmark::DoNotOptimize(dsc::parseStringToData(*area, format, text)); },
               [&] { benchmark::DoNotOptimize(floor(text)); });
  state.SetItemsProcessed(state.iterations() * count);
  pairs.Report(state,
               std::string(floorName) + " of the same " + std::to_string(count) + " numbers");
}
void BM_ParseDoubles(benchmark::State& state) {
  Parse(state, dsc::kFormatDouble, 2048, "-1234.5678e-3", StrtodAll, "strtod");
}
BENCHMARK(BM_ParseDoubles);
void BM_ParseBytes(benchmark::State& state) {
  Parse(state, dsc::kFormatByte, 16384, "200", StrtolAll, "strtol");
}
BENCHMARK(BM_ParseBytes);

// One dated line appended to a real file: open, write, close every time, as
// the report does so that a crash never loses a line; the floor does the same
// with stdio and no date.
void BM_AddToReport(benchmark::State& state) {
  dsc::bench::ScratchDir dir;
  dsc::SystemClock clock;
  dsc::ReportLog log(clock, dir.path());
  const std::string line = "Read BEAM.CURRENT of DEVICE01 : Success";
  const std::string bare = dir.path() + "/bare.txt";
  Pairs pairs;
  for (auto _ : state)
    pairs.Pair([&] { log.AddToReport(line, true); },
               [&] {
                 if (std::FILE* f = std::fopen(bare.c_str(), "ab")) {
                   std::fputs(line.c_str(), f);
                   std::fputs("\r\n", f);
                   std::fclose(f);
                 }
               });
  state.SetItemsProcessed(state.iterations());
  pairs.Report(state, "fopen, fputs and fclose of the same line");
}
BENCHMARK(BM_AddToReport);

}  // namespace

BENCHMARK_MAIN();
