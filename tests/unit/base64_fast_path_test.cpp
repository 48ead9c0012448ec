// The base64 decoder's fast paths (sixteen and four digits at a time) against the byte-at-a-time
// rules: whatever byte stands wherever in a block or a group, the result is what the rules give.
#include "appearance/payload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "encode.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The rules, one byte at a time, written apart from the decoder: skip bytes outside the alphabet,
// stop at zero, "=" or the length, fail on "=" after a lone digit, keep whole bytes only.
std::string Reference(const std::string &text) {
  std::string out;
  unsigned bits = 0, count = 0, digits = 0;
  for (unsigned char c : text) {
    if (c == 0) break;
    if (c == '=') {
      if (digits % 4 == 1) return "<fail>";
      break;
    }
    const char *at = strchr(kAlphabet, c);
    if (!at) continue;
    bits = (bits << 6) | static_cast<unsigned>(at - kAlphabet);
    count += 6;
    ++digits;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// Decodes from a heap copy exactly as long as the text, so that the sanitizers see a read past it
// (and a write past the length + 1 bytes of the result).
std::string Decode(const std::string &text) {
  std::unique_ptr<char[]> copy(new char[text.size()]);
  std::copy(text.begin(), text.end(), copy.get());
  UINT32 length = 0;
  std::unique_ptr<unsigned char[]> out(Base64Decode(copy.get(), static_cast<INT32>(text.size()), &length));
  if (!out) return "<fail>";
  EXPECT_EQ(out[length], 0) << "a zero byte follows the decoded bytes";
  return std::string(reinterpret_cast<char *>(out.get()), length);
}

std::string Digits(size_t count, std::mt19937 &rng) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text.push_back(kAlphabet[rng() % 64]);
  return text;
}

}  // namespace

TEST(Base64FastPath, EveryByteValueAtEveryPositionOfABlock) {
  std::mt19937 rng(11);
  // Three blocks of sixteen digits and a partial group: a byte replaced or put in anywhere.
  const std::string clean = Digits(50, rng);
  for (size_t position = 0; position < clean.size(); ++position) {
    for (int value = 0; value < 256; ++value) {
      std::string replaced = clean;
      replaced[position] = static_cast<char>(value);
      ASSERT_EQ(Decode(replaced), Reference(replaced)) << "byte " << value << " replacing position " << position;
      std::string inserted = clean;
      inserted.insert(position, 1, static_cast<char>(value));
      ASSERT_EQ(Decode(inserted), Reference(inserted)) << "byte " << value << " inserted at " << position;
    }
  }
}

TEST(Base64FastPath, PadsAndLengthCutsAnywhere) {
  std::mt19937 rng(12);
  const std::string clean = Digits(40, rng);
  for (size_t position = 0; position <= clean.size(); ++position) {
    // "=" after a lone digit of a group fails, after two or three digits it ends the text.
    for (const char *pads : {"=", "==", "===", "=\r\nQUJD"}) {
      const std::string text = clean.substr(0, position) + pads + clean.substr(position);
      const std::string expected = position % 4 == 1 ? "<fail>" : Reference(clean.substr(0, position));
      ASSERT_EQ(Decode(text), expected) << pads << " at " << position;
    }
    // Reading only `position` bytes of a longer text.
    UINT32 length = 0;
    std::unique_ptr<unsigned char[]> out(Base64Decode(clean.data(), static_cast<INT32>(position), &length));
    ASSERT_TRUE(out);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out.get()), length), Reference(clean.substr(0, position)));
  }
}

TEST(Base64FastPath, LinesAndRandomMixesDecodeAsTheRulesSay) {
  // Mail-style lines of every width from 1 to 80 give back the encoded bytes.
  std::mt19937 rng(13);
  std::string bytes(3000, '\0');
  for (char &c : bytes) c = static_cast<char>(rng());
  const std::string encoded = testkit::Base64Encode(bytes);
  for (size_t width = 1; width <= 80; ++width) {
    std::string lined;
    for (size_t at = 0; at < encoded.size(); at += width) lined += encoded.substr(at, width) + "\r\n";
    ASSERT_EQ(Decode(lined), bytes) << "lines of " << width;
  }
  // Mostly digits, with stray bytes of every kind in runs of any length.
  const char strays[] = {'\r', '\n', ' ', '\t', '-', '_', '.', '\x80', '\xff', '@', '[', '`', '{', ':', '*'};
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const size_t length = rng() % 120;
    while (text.size() < length) {
      const unsigned pick = rng() % 100;
      if (pick < 80)
        text += Digits(1 + rng() % 24, rng);
      else if (pick < 98)
        text.append(1 + rng() % 3, strays[rng() % sizeof strays]);
      else
        text.push_back(rng() % 2 ? '=' : '\0');
    }
    ASSERT_EQ(Decode(text), Reference(text)) << "case " << i;
  }
}
