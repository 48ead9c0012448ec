// The diagnostic log with logging off (no marker file): a call must cost a comparison, not a
// formatting. Beside it, what formatting the same record alone would cost.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "common/debug_log.h"

namespace {

void BM_LogDebug_Off(benchmark::State &state) {
  LogDebug("ATTACH!!!\n");  // the first call decides: the marker file is absent
  unsigned i = 0;
  for (auto _ : state) {
    LogDebug("Find CWindowData object %.8X for remote window:%.8X!\n", i, i + 1);
    ++i;
  }
}

void BM_Format_Record(benchmark::State &state) {
  char line[1024];
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        snprintf(line, sizeof line, "Find CWindowData object %.8X for remote window:%.8X!\n", i, i + 1));
    ++i;
  }
}

}  // namespace

BENCHMARK(BM_LogDebug_Off);
BENCHMARK(BM_Format_Record);
