// Scale: what one message costs with 10, 1,000 and 4,000 remote windows registered (the add-in
// keeps at most 4,096 local windows), each with its local window: the lookup by local window that
// focus events make, a CREATE of a new top-level window and a DESTROY of one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "bench_host.h"
#include "encode.h"
#include "mirror/window_data.h"

namespace {

constexpr int kBatch = 10;  // messages timed together; the population stays within N and N + kBatch

std::vector<UINT32> g_population;  // remote ids registered besides the session placeholder
UINT32 g_nextId = 0x00100000;
UINT32 g_messageNumber = 0;

std::string CreateMessage(UINT32 id) {
  return "CREATE," + std::to_string(++g_messageNumber) + "," + testkit::HexId(id) + ",1,0,0";
}
std::string DestroyMessage(UINT32 id) {
  return "DESTROY," + std::to_string(++g_messageNumber) + "," + testkit::HexId(id) + ",1";
}

bool Populate(benchmark::State &state, size_t count) {
  std::string error;
  if (!quorvbench::StartAddin(&error)) {
    state.SkipWithError(error.c_str());
    return false;
  }
  static bool sessionStarted = false;
  if (!sessionStarted) {
    quorvbench::Deliver("HELLO,1,2");
    quorvbench::Pump();
    sessionStarted = true;
  }
  while (g_population.size() < count) {
    const UINT32 id = g_nextId++;
    quorvbench::Deliver(CreateMessage(id));
    g_population.push_back(id);
    if (g_population.size() % 256 == 0) quorvbench::Pump();
  }
  while (g_population.size() > count) {
    quorvbench::Deliver(DestroyMessage(g_population.back()));
    g_population.pop_back();
    if (g_population.size() % 256 == 0) quorvbench::Pump();
  }
  quorvbench::Pump();
  if (GetWindowRegistry().size() != count + 1) {
    state.SkipWithError("the registry does not hold the windows created");
    return false;
  }
  state.counters["windows"] = static_cast<double>(count);
  return true;
}

void BM_Registry_FocusLookup(benchmark::State &state) {
  if (!Populate(state, static_cast<size_t>(state.range(0)))) return;
  // Local windows of records drawn across the whole registry, so the lookup is not helped by one
  // window staying in the cache.
  std::mt19937 rng(3);
  std::vector<HWND> windows(4096);
  for (HWND &hwnd : windows) hwnd = FindWindowData(g_population[rng() % g_population.size()])->m_hWnd;
  size_t i = 0;
  for (auto _ : state) {
    UINT32 id = 0;
    benchmark::DoNotOptimize(FindWindowDataByLocalWindow(windows[i++ % windows.size()], &id));
    benchmark::DoNotOptimize(id);
  }
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Batches of new top-level windows created and destroyed again, so the population stays. Manual
// time: per message, only the messages of the kind measured are timed.
void CreateAndDestroyBatches(benchmark::State &state, bool timeDestroy) {
  if (!Populate(state, static_cast<size_t>(state.range(0)))) return;
  std::vector<std::string> creates(kBatch), destroys(kBatch);
  const auto deliver = [&](const std::vector<std::string> &messages, bool timed) {
    const Clock::time_point start = Clock::now();
    for (const std::string &m : messages) quorvbench::Deliver(m);
    const Clock::time_point end = Clock::now();
    if (timed) state.SetIterationTime(Seconds(start, end) / kBatch);
    quorvbench::Pump();
  };
  for (auto _ : state) {
    for (int k = 0; k < kBatch; ++k) {
      const UINT32 id = g_nextId++;
      creates[k] = CreateMessage(id);
      destroys[k] = DestroyMessage(id);
    }
    deliver(creates, !timeDestroy);
    deliver(destroys, timeDestroy);
  }
}

void BM_Registry_Create(benchmark::State &state) { CreateAndDestroyBatches(state, false); }
void BM_Registry_Destroy(benchmark::State &state) { CreateAndDestroyBatches(state, true); }

// Grouped by population, so that each population is built once.
int Register() {
  for (long count : {10L, 1000L, 4000L}) {
    benchmark::RegisterBenchmark("BM_Registry_FocusLookup", BM_Registry_FocusLookup)->Arg(count);
    // Fixed counts: each iteration also does untimed work (the opposite messages, the host's
    // message loop), which would make a count chosen from the timed part run for minutes.
    benchmark::RegisterBenchmark("BM_Registry_Create", BM_Registry_Create)
        ->Arg(count)
        ->UseManualTime()
        ->Iterations(3000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_Registry_Destroy", BM_Registry_Destroy)
        ->Arg(count)
        ->UseManualTime()
        ->Iterations(10000)
        ->Unit(benchmark::kMicrosecond);
  }
  return 0;
}
const int g_registered = Register();

}  // namespace
