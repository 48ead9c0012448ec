// The parts of agent-script lines that stand for packed data ({region ...}, {hex ...},
// {notify ...}, {pack ...}), and the word and number parsing the script parser shares.
#pragma once

#include <string>
#include <vector>

#include "script.h"

namespace host {

bool Tokenize(const std::string &text, std::vector<std::string> *words, std::string *problem);
// A number as strtoll reads it with base 0, whole, within 32 bits (signed or unsigned).
bool ParseNumber(const std::string &text, long *value);
bool ParseRect(const std::string &text, Rect *rect);

struct NamedValue {
  const char *name;
  long value;
};
// A name of the table, or a number.
bool Lookup(const NamedValue *table, size_t count, const std::string &word, long *value);
extern const NamedValue kMouseMessages[];
extern const size_t kMouseMessageCount;

// Expands the body of one {directive}; false with the reason in *problem.
bool ExpandDirective(const std::string &body, std::string *out, std::string *problem);

}  // namespace host
