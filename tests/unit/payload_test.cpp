// Packed payloads: the base64 rules of the agent's text, and unpacking of whatever arrives.
#include "appearance/payload.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "encode.h"

namespace {

// Decodes from a copy exactly `length` bytes long, so a read past them is seen by the sanitizers.
std::string Decode(std::string_view text, INT32 length = -1) {
  if (length < 0) length = static_cast<INT32>(text.size());
  std::unique_ptr<char[]> copy(new char[length + 1]);
  std::copy(text.begin(), text.begin() + length, copy.get());
  UINT32 decoded = 0;
  std::unique_ptr<unsigned char[]> out(Base64Decode(copy.get(), length, &decoded));
  if (!out) return "<fail>";
  EXPECT_EQ(out[decoded], 0) << "a zero byte follows the decoded bytes";
  return std::string(reinterpret_cast<char *>(out.get()), decoded);
}

// The buffer form as a string; "<fail>" when it gives nothing.
std::string Unpack(const std::string &text) {
  UINT32 length = 0;
  std::unique_ptr<unsigned char[]> out(UnpackPayload(text.data(), static_cast<INT32>(text.size()), &length));
  return out ? std::string(reinterpret_cast<char *>(out.get()), length) : "<fail>";
}

std::string RandomBytes(std::mt19937 &rng, size_t length) {
  std::string bytes(length, '\0');
  const unsigned spread = rng() % 2 ? 256 : 1 + rng() % 4;  // hardly compressible, or very
  for (char &c : bytes) c = static_cast<char>(rng() % spread);
  return bytes;
}

}  // namespace

TEST(Base64Decode, FollowsTheAgentsTextRules) {
  EXPECT_EQ(Decode("QUJD"), "ABC");
  EXPECT_EQ(Decode("QUI="), "AB");
  EXPECT_EQ(Decode("QQ=="), "A");
  EXPECT_EQ(Decode("QR=="), "A") << "the bits of an unfinished byte need not be zero";
  // Line ends, spaces, "-", "_" and bytes from 0x80 up are skipped wherever they stand.
  EXPECT_EQ(Decode(" QU\r\nJ\tD"), "ABC");
  EXPECT_EQ(Decode("Q-U_J\x80\xff"
                   "D"),
            "ABC");
  // Reading ends at the first "=", at a zero byte or after length bytes.
  EXPECT_EQ(Decode("QQ==QUJD"), "A");
  EXPECT_EQ(Decode(std::string("QU\0JD", 5)), "A");
  EXPECT_EQ(Decode("QUJD", 2), "A");
  // A lone digit before "=" is malformed; at the end it is dropped.
  EXPECT_EQ(Decode("Q==="), "<fail>");
  EXPECT_EQ(Decode("QUJDQ="), "<fail>");
  EXPECT_EQ(Decode("QUJDQ"), "ABC");
  EXPECT_EQ(Decode(""), "");
  // Every byte value, ending in each position of a group of three.
  std::string all;
  for (int i = 0; i < 256 * 3; ++i) all.push_back(static_cast<char>(i * 7));
  for (size_t cut = all.size() - 3; cut <= all.size(); ++cut)
    EXPECT_EQ(Decode(testkit::Base64Encode(all.substr(0, cut))), all.substr(0, cut));
}

TEST(UnpackPayload, ChecksTheSizeFieldAndTheStream) {
  const std::string data = "shape, icon or notification record bytes";
  EXPECT_EQ(Unpack(testkit::PackPayload(data)), data);
  // The size field only sizes the destination: larger gives the real length, smaller fails.
  EXPECT_EQ(Unpack(testkit::PackPayloadWithSize(data, 4096)), data);
  EXPECT_EQ(Unpack(testkit::PackPayloadWithSize(data, data.size() - 1)), "<fail>");
  EXPECT_EQ(Unpack(testkit::PackPayloadWithSize(data, 0)), "<fail>");
  // Above the cap it is refused before anything is allocated; the cap itself is accepted.
  EXPECT_EQ(Unpack(testkit::PackPayloadWithSize(data, kMaxUnpackedSize + 1)), "<fail>");
  EXPECT_EQ(Unpack(testkit::PackPayloadWithSize(data, 0xFFFFFFFF)), "<fail>");
  EXPECT_EQ(Unpack(testkit::PackPayloadWithSize(data, kMaxUnpackedSize)), data);
  // No whole size field, nothing after it, no zlib stream after it.
  for (const char *text : {"", "QQ==", "QUJD", "AQAAAA==", "BQAAAGhlbGxv"}) EXPECT_EQ(Unpack(text), "<fail>") << text;
  EXPECT_EQ(UnpackPayloadString(""), "");
  UINT32 length = 0;
  EXPECT_EQ(UnpackPayload(nullptr, 4, &length), nullptr);
  EXPECT_EQ(UnpackPayload("QUJD", 4, nullptr), nullptr);
  EXPECT_EQ(UnpackPayload("QUJD", -1, &length), nullptr);
  // A stream that inflates to nothing is empty data, not a failure.
  EXPECT_EQ(Unpack(testkit::PackPayloadWithSize("", 1)), "");
}

TEST(UnpackPayload, RoundTripsWhatTheAgentPacks) {
  std::mt19937 rng(20240611);
  std::string every;
  for (int i = 0; i < 256; ++i) every.push_back(static_cast<char>(i));
  for (int i = 0; i < 3000; ++i) {
    const unsigned pick = rng() % 100;
    const size_t length = pick < 60 ? rng() % 64 : pick < 95 ? rng() % 8192 : rng() % (1 << 18);
    const std::string bytes = i == 0 ? std::string() : i == 1 ? every : RandomBytes(rng, length);
    const std::string packed = testkit::PackPayload(bytes);
    // Empty data packs with size 0, which is no data to the buffer form.
    EXPECT_EQ(Unpack(packed), bytes.empty() ? "<fail>" : bytes) << "length " << bytes.size();
    ASSERT_EQ(UnpackPayloadString(packed), bytes) << "length " << bytes.size();
  }
}

TEST(UnpackPayload, CorruptTextNeverGivesOtherData) {
  std::mt19937 rng(77);
  int failures = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string bytes = RandomBytes(rng, 1 + rng() % 2048);
    std::string packed = testkit::PackPayload(bytes);
    if (i % 3 == 0)
      packed[rng() % packed.size()] ^= static_cast<char>(1 + rng() % 255);
    else if (i % 3 == 1)
      packed.resize(rng() % packed.size());
    else
      packed = testkit::PackPayloadWithSize(bytes, static_cast<uint32_t>(rng() % (2 * bytes.size() + 2)));
    // A change either fell on bits that carry nothing (the unused bits of the last digit, a larger
    // size field) or unpacking fails; it never yields different bytes.
    const std::string out = Unpack(packed);
    if (out == "<fail>")
      ++failures;
    else
      EXPECT_EQ(out, bytes);
    const std::string text = UnpackPayloadString(packed);
    EXPECT_TRUE(text.empty() || text == bytes);
  }
  EXPECT_GT(failures, 1500) << "corruption is detected, not ignored";
}
