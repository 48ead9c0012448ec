// The relay's framing: the agent's side is a TCP byte stream of lines, the add-in's side is the
// channel, where one channel message is one agent message and the add-in's messages come back as
// lines. Both classes hold a bounded amount of memory whatever the peer sends.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace rdpserver {

// Splits a byte stream at line feeds. A line that grows past `longest` bytes is dropped whole (its
// remaining bytes are skipped up to the next line feed) and counted; a trailing carriage return is
// not part of the line.
class LineSplitter {
 public:
  explicit LineSplitter(size_t longest) : longest_(longest) {}

  // Calls onLine(std::string_view) for each line completed by these bytes.
  template <typename OnLine>
  void Feed(const char *data, size_t size, OnLine &&onLine) {
    for (size_t i = 0; i < size; ++i) {
      const char c = data[i];
      if (c == '\n') {
        if (!dropping_) {
          if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
          onLine(std::string_view(pending_));
        }
        pending_.clear();
        dropping_ = false;
      } else if (dropping_) {
        continue;
      } else if (pending_.size() < longest_) {
        pending_.push_back(c);
      } else {
        pending_.clear();
        pending_.shrink_to_fit();
        dropping_ = true;
        ++dropped_;
      }
    }
  }

  // Bytes of a line not finished yet (held, or being skipped).
  bool MidLine() const { return dropping_ || !pending_.empty(); }
  size_t PendingBytes() const { return pending_.size(); }
  // The stream ended or was cut: what was held of an unfinished line goes; returns its size.
  size_t Reset();
  size_t dropped() const { return dropped_; }

 private:
  size_t longest_;
  std::string pending_;
  bool dropping_ = false;
  size_t dropped_ = 0;
};

// Bytes waiting for a socket that may be slow to take them. The owner stops reading from the
// other side while Full(), so nothing is dropped and memory stays bounded.
class ByteQueue {
 public:
  explicit ByteQueue(size_t limit) : limit_(limit) {}
  void Append(std::string_view bytes) { data_.append(bytes); }
  const char *Front() const { return data_.data() + head_; }
  size_t Size() const { return data_.size() - head_; }
  bool Empty() const { return Size() == 0; }
  bool Full() const { return Size() >= limit_; }
  void Consume(size_t n);
  void Clear() { data_.clear(), head_ = 0; }

 private:
  size_t limit_;
  std::string data_;
  size_t head_ = 0;
};

}  // namespace rdpserver
