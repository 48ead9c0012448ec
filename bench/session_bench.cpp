// A whole recorded session: the agent messages of the demo script (greeting, windows, titles,
// icons, shapes, a notification icon, focus-driving commands, a group closed), played again and
// again through the stand-in client, with the host's message loop run after each session.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_host.h"
#include "encode.h"

namespace {

void BM_Session_Demo(benchmark::State &state) {
  std::string error;
  std::vector<std::string> messages;
  // Icon paths in the script are relative: the working folder links the examples' icons.
  if (!quorvbench::StartAddin(&error) ||
      !quorvbench::LoadSessionMessages(testkit::SourceTreePath("examples/demo.agent"), "", &messages, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  size_t bytes = 0;
  for (const std::string &m : messages) bytes += m.size();
  // One session untimed: its greeting clears what other benchmarks left in the process (up to
  // 4,000 windows), so that each timed session follows one like it.
  const auto session = [&] {
    for (const std::string &m : messages) quorvbench::Deliver(m);
    quorvbench::Pump();
  };
  session();
  for (auto _ : state) session();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(messages.size()));
  state.counters["messages"] = static_cast<double>(messages.size());
  state.counters["bytes"] = static_cast<double>(bytes);
}

}  // namespace

BENCHMARK(BM_Session_Demo)->Unit(benchmark::kMillisecond);
