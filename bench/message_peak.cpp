// The most memory the add-in holds while it handles one message, for the worst message of each
// kind: every heap allocation of the process is counted (malloc and its family are replaced here,
// so the add-in, the C++ runtime, zlib and winsim's GDI objects all count), and each message is
// delivered through the channel's data handler in chunks of 1600 bytes as the client delivers it.
// Prints, per message, its size, the peak the handling added to the heap (the message's own
// collection buffer included), and their ratio.
#include <windows.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/settings.h"
#include "encode.h"
#include "protocol/dispatch.h"

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

namespace {

std::atomic<long long> g_current{0};
std::atomic<long long> g_peak{0};

void Added(void *p) {
  if (!p) return;
  const long long now = g_current += static_cast<long long>(malloc_usable_size(p));
  long long peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}

void Removed(void *p) {
  if (p) g_current -= static_cast<long long>(malloc_usable_size(p));
}

}  // namespace

extern "C" {
void *malloc(size_t size) {
  void *p = __libc_malloc(size);
  Added(p);
  return p;
}
void *calloc(size_t count, size_t size) {
  void *p = __libc_calloc(count, size);
  Added(p);
  return p;
}
void *realloc(void *old, size_t size) {
  Removed(old);
  void *p = __libc_realloc(old, size);
  Added(p ? p : (size ? old : nullptr));
  return p;
}
void free(void *p) {
  Removed(p);
  __libc_free(p);
}
}

namespace {

void Deliver(const std::string &message) {
  for (size_t at = 0; at < message.size() || at == 0; at += 1600) {
    const UINT32 length = static_cast<UINT32>(std::min<size_t>(1600, message.size() - at));
    OnChannelData(message.data() + at, length, static_cast<UINT32>(message.size()));
    if (message.empty()) break;
  }
}

std::string Random(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char &c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Delivers the message and prints what handling it added to the heap at its peak, and its ratio to
// the larger of the message and the payload it unpacks to.
void Measure(const char *what, const std::string &message, size_t unpacked = 0) {
  ResetMessageAssembly();  // the collection buffer kept from the message before is given back
  const long long before = g_current.load();
  g_peak = before;
  Deliver(message);
  const long long peak = g_peak.load() - before;
  const size_t size = std::max(message.size(), unpacked);
  std::printf("%-58s %10zu %10zu %12lld %7.2f\n", what, message.size(), unpacked, peak,
              static_cast<double>(peak) / static_cast<double>(size));
}

}  // namespace

int main() {
  constexpr size_t kMessageCap = 8u << 20;
  SetDisplayMode(DisplayMode::kShaped);
  Deliver("CREATE,1,0x10,1,0,0");
  Deliver("CREATE,1,0x20,1,7,0");
  std::printf("%-58s %10s %10s %12s %7s\n", "message", "bytes", "unpacked", "peak bytes", "ratio");

  std::string title = "TITLE,1,0x10,";
  const std::string tail = ",0";
  while (title.size() + 4 + tail.size() <= kMessageCap) title += "0041";
  Measure("TITLE, 8 MiB of hex digits", title + tail);

  // The largest incompressible payload a message under the cap can carry.
  const std::string incompressible = Random(6000000, 1);
  const std::string packed = testkit::PackPayload(incompressible);
  Measure("SETICON colour piece, incompressible (6,000,000 bytes)",
          testkit::Message({"SETICON", "1", "0x10", "11", "0", "0", "32", packed}), incompressible.size());
  Measure("SETICON colour piece, 8 MiB of zeros (the unpacked cap)",
          testkit::Message(
              {"SETICON", "1", "0x10", "11", "0", "0", "32", testkit::PackPayload(std::string(8u << 20, '\0'))}),
          8u << 20);

  std::string record = "W";
  record += std::string("\0\0\0\0", 4);  // NIM_ADD
  std::string body = Random(6000000, 2);
  const uint32_t size = static_cast<uint32_t>(body.size());
  body.replace(0, 4, reinterpret_cast<const char *>(&size), 4);
  body.replace(12, 4, std::string("\0\0\0\0", 4));  // no flags: the record goes to the shell at once
  Measure("SYSTRAY record, incompressible (6,000,000 bytes)",
          testkit::Message({"SYSTRAY", "1", "0x30", "-1", "0", "0", "16", testkit::PackPayload(record + body)}),
          record.size() + body.size());

  const auto measureShape = [](const char *what, const std::vector<testkit::Rect> &shape) {
    Measure(what, testkit::Message({"UPDATERGN", "1", testkit::PackPayload(testkit::RegionData(shape))}),
            32 + 16 * shape.size());
  };
  std::mt19937 random(3);
  std::vector<testkit::Rect> rects;
  for (int i = 0; i < 262000; ++i) {
    const int x = static_cast<int>(random() % 60000), y = static_cast<int>(random() % 60000);
    rects.push_back({x, y, x + 1 + static_cast<int>(random() % 50), y + 1 + static_cast<int>(random() % 50)});
  }
  measureShape("UPDATERGN, 262,000 scattered rectangles (refused: too complex)", rects);
  rects.clear();
  for (int i = 0; i < 4000; ++i) rects.push_back({0, 2 * i, 100 + i % 7, 2 * i + 1});
  measureShape("UPDATERGN, 4,000 stripes", rects);

  Deliver("HELLO,1,2");  // a new, empty shape
  rects.clear();
  for (int i = 0; i < 250000; ++i) rects.push_back({2 * i, 0, 2 * i + 1, 1});
  measureShape("UPDATERGN, 250,000 rectangles in one band (accepted)", rects);
  rects.clear();
  for (int i = 0; i < 4000; ++i) rects.push_back({0, 2 * i, 100 + i % 7, 2 * i + 1});
  measureShape("UPDATERGN, 4,000 stripes onto that shape", rects);

  std::string create = "CREATE,1,0x40,1,0,0,";
  create.resize(kMessageCap, 'x');
  Measure("CREATE padded to 8 MiB", create);
  Measure("CREATE of a new top-level window", "CREATE,1,0x50,1,0,0");
  return 0;
}
