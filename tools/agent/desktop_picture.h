// The stand-in host's picture of the session (--paint-desktop): one "desktop" directive a reported
// window, which the host reads as a script line. Plain text work: no window needed.
#pragma once

#include <cstdint>
#include <string>

#include "encoders.h"

namespace agent {

// The most characters of a title the picture shows; a longer title is cut on a character
// boundary (a surrogate pair is never split).
constexpr size_t kDesktopTitleCharacters = 200;

// "desktop ID LEFT,TOP,RIGHT,BOTTOM "TITLE" COLOUR": the title in UTF-8, quotes and backslashes
// escaped, control characters as blanks, an unpaired surrogate as U+FFFD. The line is built
// whole, however long the title's UTF-8.
std::string DesktopDirective(uint32_t id, const wire::Rect &box, const std::u16string &title, const char *colour);

}  // namespace agent
