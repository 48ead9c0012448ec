// Unpacking packed payloads: the base64 decoder beside OpenSSL's and GLib's on the same text, and
// the whole unpack beside the sum of its two parts done alone (decode, then zlib's uncompress).
#include <benchmark/benchmark.h>

#include "appearance/payload.h"
#include "encode.h"
#include "payload_inputs.h"

// After the platform's headers, whose TRUE and FALSE GLib then keeps.
#include <glib.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using quorvbench::CleanBytes;
using quorvbench::CleanText;
using quorvbench::LinedText;
using quorvbench::Region;
using quorvbench::RegionPayload;

// Every decoder must give the same bytes as the encoder was given before it is timed.
void Check(bool ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "benchmark input check failed: %s\n", what);
    abort();
  }
}

void SetSizes(benchmark::State &state, const std::string &text) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["text_bytes"] = static_cast<double>(text.size());
}

// ---- ours -------------------------------------------------------------------------------------

void DecodeOurs(benchmark::State &state, const std::string &text) {
  UINT32 length = 0;
  {
    std::unique_ptr<unsigned char[]> out(Base64Decode(text.data(), static_cast<INT32>(text.size()), &length));
    Check(out && std::string(reinterpret_cast<char *>(out.get()), length) == CleanBytes(), "Base64Decode");
  }
  for (auto _ : state) {
    unsigned char *out = Base64Decode(text.data(), static_cast<INT32>(text.size()), &length);
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  SetSizes(state, text);
}

void BM_Base64Decode_Clean(benchmark::State &state) { DecodeOurs(state, CleanText()); }
void BM_Base64Decode_Lines(benchmark::State &state) { DecodeOurs(state, LinedText()); }

// ---- peers ------------------------------------------------------------------------------------

// OpenSSL's block decoder on text without line ends (it writes into the caller's buffer, so it is
// not charged an allocation; ours is).
void DecodeBlock(benchmark::State &state, const std::string &text, const std::string *expect) {
  std::vector<unsigned char> out(text.size() / 4 * 3 + 3);
  const int n =
      EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()), static_cast<int>(text.size()));
  Check(n >= 0 && (!expect || std::memcmp(out.data(), expect->data(), expect->size()) == 0), "EVP_DecodeBlock");
  for (auto _ : state) {
    int length = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()),
                                 static_cast<int>(text.size()));
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  SetSizes(state, text);
}

void BM_OpenSSL_EVP_DecodeBlock_Clean(benchmark::State &state) { DecodeBlock(state, CleanText(), &CleanBytes()); }

// GLib's decoder allocates its result, as ours does.
void GLibDecode(benchmark::State &state, const std::string &text, const std::string *expect) {
  gsize length = 0;
  {
    guchar *out = g_base64_decode(text.c_str(), &length);
    Check(out && (!expect || std::string(reinterpret_cast<char *>(out), length) == *expect), "g_base64_decode");
    g_free(out);
  }
  for (auto _ : state) {
    guchar *out = g_base64_decode(text.c_str(), &length);
    benchmark::DoNotOptimize(out);
    g_free(out);
  }
  SetSizes(state, text);
}

void BM_GLib_g_base64_decode_Clean(benchmark::State &state) { GLibDecode(state, CleanText(), &CleanBytes()); }

// OpenSSL's streaming decoder, which skips line ends.
void BM_OpenSSL_EVP_DecodeUpdate_Lines(benchmark::State &state) {
  const std::string &text = LinedText();
  std::vector<unsigned char> out(text.size());
  EVP_ENCODE_CTX *ctx = EVP_ENCODE_CTX_new();
  auto decode = [&]() {
    int length = 0, tail = 0;
    EVP_DecodeInit(ctx);
    if (EVP_DecodeUpdate(ctx, out.data(), &length, reinterpret_cast<const unsigned char *>(text.data()),
                         static_cast<int>(text.size())) < 0)
      return -1;
    if (EVP_DecodeFinal(ctx, out.data() + length, &tail) < 0) return -1;
    return length + tail;
  };
  const int n = decode();
  Check(n == static_cast<int>(CleanBytes().size()) && std::memcmp(out.data(), CleanBytes().data(), n) == 0,
        "EVP_DecodeUpdate");
  for (auto _ : state) {
    int length = decode();
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  EVP_ENCODE_CTX_free(ctx);
  SetSizes(state, text);
}

// ---- unpacking a region payload ----------------------------------------------------------------

void BM_UnpackPayload_Region(benchmark::State &state) {
  const RegionPayload &p = Region();
  UINT32 length = 0;
  {
    std::unique_ptr<unsigned char[]> out(UnpackPayload(p.text.data(), static_cast<INT32>(p.text.size()), &length));
    Check(out && length == p.unpackedSize, "UnpackPayload");
  }
  for (auto _ : state) {
    unsigned char *out = UnpackPayload(p.text.data(), static_cast<INT32>(p.text.size()), &length);
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  SetSizes(state, p.text);
  state.counters["unpacked_bytes"] = static_cast<double>(p.unpackedSize);
}

// The parts alone, on the same text: each decoder, and uncompress of the decoded block into a
// buffer that is already there.
void BM_Base64Decode_Region(benchmark::State &state) {
  const RegionPayload &p = Region();
  UINT32 length = 0;
  for (auto _ : state) {
    unsigned char *out = Base64Decode(p.text.data(), static_cast<INT32>(p.text.size()), &length);
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  SetSizes(state, p.text);
}

void BM_OpenSSL_EVP_DecodeBlock_Region(benchmark::State &state) { DecodeBlock(state, Region().text, nullptr); }
void BM_GLib_g_base64_decode_Region(benchmark::State &state) { GLibDecode(state, Region().text, nullptr); }

void BM_Zlib_uncompress_Region(benchmark::State &state) {
  const RegionPayload &p = Region();
  std::vector<unsigned char> out(p.unpackedSize);
  const Bytef *source = reinterpret_cast<const Bytef *>(p.block.data()) + 4;
  const uLong sourceLength = static_cast<uLong>(p.block.size() - 4);
  for (auto _ : state) {
    uLongf length = static_cast<uLongf>(out.size());
    int rc = uncompress(out.data(), &length, source, sourceLength);
    benchmark::DoNotOptimize(rc);
    benchmark::ClobberMemory();
  }
  SetSizes(state, p.text);
}

}  // namespace

BENCHMARK(BM_Base64Decode_Clean);
BENCHMARK(BM_OpenSSL_EVP_DecodeBlock_Clean);
BENCHMARK(BM_GLib_g_base64_decode_Clean);
BENCHMARK(BM_Base64Decode_Lines);
BENCHMARK(BM_OpenSSL_EVP_DecodeUpdate_Lines);
BENCHMARK(BM_UnpackPayload_Region);
BENCHMARK(BM_Base64Decode_Region);
BENCHMARK(BM_OpenSSL_EVP_DecodeBlock_Region);
BENCHMARK(BM_GLib_g_base64_decode_Region);
BENCHMARK(BM_Zlib_uncompress_Region);
