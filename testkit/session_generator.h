// A random agent, for soak, resource and fuzz tests: a deterministic stream of agent messages of
// every command, most of them well formed, many of them broken the ways a faulty or hostile agent
// breaks them (bad base64, wrong size fields, truncated fields, huge numbers, colliding ids,
// interleaved icon parts, lying region headers...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testkit {

class SessionGenerator {
 public:
  // The same seed gives the same messages on every platform and standard library.
  explicit SessionGenerator(uint64_t seed);

  // The next agent message (no line end unless the generator chose to put one there).
  std::string Next();
  // How the client should cut the next message into chunks: 1 to 1600 bytes, mostly 1600.
  size_t NextChunkSize();
  // A uniformly drawn number below bound (0 when bound is 0), for callers that mix in events of
  // their own from the same deterministic stream.
  uint32_t Below(uint32_t bound);

  // One well-formed message (or, for icons and notification records, the messages of one whole
  // transfer) of every command, in a fixed order: seeds for fuzzers and a quick smoke session.
  static std::vector<std::vector<std::string>> ValidExamples();

 private:
  uint32_t Draw();
  bool Chance(uint32_t percent);
  std::string Number(uint32_t value);
  std::string AnyNumber();
  uint32_t WindowId();
  uint32_t GroupId();
  std::string Packed(const std::string &bytes);
  std::string Bytes(size_t count);

  std::string Hello();
  std::string Create();
  std::string Destroy(const char *keyword);
  std::string Title();
  std::string Region();
  std::string IconPart(const char *keyword, uint32_t owner);
  std::string NotifyRecord();
  std::string Other();
  void QueueIcon(const char *keyword, uint32_t owner);

  uint64_t state_;
  uint32_t messageNumber_ = 0;
  std::vector<uint32_t> ids_;        // ids the agent has announced (some since destroyed)
  std::vector<std::string> queued_;  // the rest of a transfer already started (icon parts)
  std::vector<std::string> shapes_;  // recent shape changes: the agent undoes a change by resending it
};

}  // namespace testkit
