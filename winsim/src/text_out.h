// winsim: copying text into a caller's buffer, shared by the user32 and kernel32 sources.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace winsim::detail {

// Copies text into a caller's buffer of room characters (room > 0), cut to room - 1 and ended by
// a zero, as the text calls do; returns the count copied.
template <class Text, class Char>
size_t CopyTextOut(const Text &text, Char *out, size_t room) {
  const size_t count = std::min(static_cast<size_t>(text.size()), room - 1);
  std::memcpy(out, text.data(), count * sizeof(Char));
  out[count] = Char();
  return count;
}

}  // namespace winsim::detail
