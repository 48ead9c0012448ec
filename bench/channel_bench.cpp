// Message assembly: one large agent message handed to OnChannelData in 1600-byte chunks, as the
// client delivers it, beside copying the same chunks into a buffer that is already there.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "protocol/dispatch.h"

namespace {

constexpr size_t kChunk = 1600;

// A message of the given size that the dispatcher recognises and acts on by doing nothing, so
// that what is timed is assembly, the message log call, splitting and routing.
const std::string &Message(size_t size) {
  static std::string text;
  if (text.size() != size) {
    text = "SYNCBEGIN,";
    text.reserve(size);
    while (text.size() < size)
      text.push_back("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[text.size() % 64]);
  }
  return text;
}

void SetSizes(benchmark::State &state, size_t size) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_OnChannelData(benchmark::State &state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string &message = Message(size);
  const UINT32 total = static_cast<UINT32>(size);
  for (auto _ : state) {
    for (size_t at = 0; at < size; at += kChunk)
      OnChannelData(message.data() + at, static_cast<UINT32>(std::min(kChunk, size - at)), total);
  }
  SetSizes(state, size);
}

// The limit: the same chunks copied into one buffer allocated once, before the timing.
void BM_CopyChunks(benchmark::State &state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string &message = Message(size);
  std::unique_ptr<char[]> buffer(new char[size]);
  std::memset(buffer.get(), 0, size);
  for (auto _ : state) {
    for (size_t at = 0; at < size; at += kChunk)
      std::memcpy(buffer.get() + at, message.data() + at, std::min(kChunk, size - at));
    benchmark::ClobberMemory();
  }
  SetSizes(state, size);
}

// The same with a buffer allocated for each message, as any assembler that does not keep a large
// buffer between messages must: the difference is what fresh pages cost.
void BM_CopyChunksFreshBuffer(benchmark::State &state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string &message = Message(size);
  for (auto _ : state) {
    std::unique_ptr<char[]> buffer(new char[size]);
    for (size_t at = 0; at < size; at += kChunk)
      std::memcpy(buffer.get() + at, message.data() + at, std::min(kChunk, size - at));
    benchmark::DoNotOptimize(buffer.get());
    benchmark::ClobberMemory();
  }
  SetSizes(state, size);
}

}  // namespace

BENCHMARK(BM_OnChannelData)->Arg(1 << 20)->Arg(4 << 20)->Arg(8 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyChunks)->Arg(1 << 20)->Arg(4 << 20)->Arg(8 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyChunksFreshBuffer)->Arg(1 << 20)->Arg(4 << 20)->Arg(8 << 20)->Unit(benchmark::kMicrosecond);
