// The payload decoders as a Windows build compiles them (linked in, the same code as in the DLL),
// timed with QueryPerformanceCounter in a Windows program run under Wine, so that the x86 and the
// x64 build can be set side by side. Prints the build and one line per figure, the median time of
// one call over the runs:
//   decoder_NAME_seconds SECONDS
//   quorv-bench-decoders.exe [RUNS]
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appearance/payload.h"
#include "payload_inputs.h"

namespace {

double Now() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency);
}

// The median time of one call: each run repeats the call for at least 0.1 s.
double Time(int runs, const std::function<void()> &call) {
  call();  // caches warm, the allocator's pages taken
  std::vector<double> perCall;
  for (int run = 0; run < runs; ++run) {
    int calls = 0;
    const double start = Now();
    double elapsed = 0;
    do {
      call();
      ++calls;
      elapsed = Now() - start;
    } while (elapsed < 0.1);
    perCall.push_back(elapsed / calls);
  }
  std::sort(perCall.begin(), perCall.end());
  return perCall[perCall.size() / 2];
}

bool Fail(const char *what) {
  fprintf(stderr, "quorv-bench-decoders: %s gave other bytes than were encoded\n", what);
  return false;
}

// Every decoder must give the bytes the encoder was given before it is timed.
bool CheckInputs() {
  UINT32 length = 0;
  for (const std::string *text : {&quorvbench::CleanText(), &quorvbench::LinedText()}) {
    std::unique_ptr<unsigned char[]> out(Base64Decode(text->data(), static_cast<INT32>(text->size()), &length));
    if (!out || std::string(reinterpret_cast<char *>(out.get()), length) != quorvbench::CleanBytes())
      return Fail("Base64Decode");
  }
  const quorvbench::RegionPayload &region = quorvbench::Region();
  std::unique_ptr<unsigned char[]> out(
      UnpackPayload(region.text.data(), static_cast<INT32>(region.text.size()), &length));
  if (!out || length != region.unpackedSize) return Fail("UnpackPayload");
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
  if (!CheckInputs()) return 1;
  printf("build %s\n", sizeof(void *) == 8 ? "x64" : "x86");

  auto decode = [](const std::string &text) {
    UINT32 length = 0;
    delete[] Base64Decode(text.data(), static_cast<INT32>(text.size()), &length);
  };
  const quorvbench::RegionPayload &region = quorvbench::Region();
  std::vector<unsigned char> inflated(region.unpackedSize);
  struct Figure {
    const char *name;
    std::function<void()> call;
  };
  const Figure figures[] = {
      {"base64_clean", [&] { decode(quorvbench::CleanText()); }},
      {"base64_lines", [&] { decode(quorvbench::LinedText()); }},
      {"unpack_region",
       [&] {
         UINT32 length = 0;
         delete[] UnpackPayload(region.text.data(), static_cast<INT32>(region.text.size()), &length);
       }},
      // The parts of the unpack alone: the decode, and zlib into a buffer that is already there.
      {"base64_region", [&] { decode(region.text); }},
      {"uncompress_region",
       [&] {
         uLongf length = static_cast<uLongf>(inflated.size());
         uncompress(inflated.data(), &length, reinterpret_cast<const Bytef *>(region.block.data()) + 4,
                    static_cast<uLong>(region.block.size() - 4));
       }},
  };
  for (const Figure &f : figures) {
    printf("decoder_%s_seconds %.9g\n", f.name, Time(runs, f.call));
    fflush(stdout);
  }
  return 0;
}
