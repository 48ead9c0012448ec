#include "lines.h"

namespace rdpserver {

size_t LineSplitter::Reset() {
  const size_t held = pending_.size();
  pending_.clear();
  pending_.shrink_to_fit();
  dropping_ = false;
  return held;
}

void ByteQueue::Consume(size_t n) {
  head_ += n < Size() ? n : Size();
  // Compact once the consumed part dominates, so a queue that never runs dry still stays small.
  if (head_ == data_.size()) {
    data_.clear();
    head_ = 0;
  } else if (head_ > 64 * 1024 && head_ * 2 > data_.size()) {
    data_.erase(0, head_);
    head_ = 0;
  }
}

}  // namespace rdpserver
