#include "transcript.h"

namespace host {

Transcript::~Transcript() { Close(); }

bool Transcript::Open(const std::string &path, bool echo) {
  echo_ = echo;
  if (path.empty()) return true;
  file_ = fopen(path.c_str(), "wb");
  return file_ != nullptr;
}

void Transcript::Line(char kind, std::string_view text) {
  std::lock_guard<std::mutex> guard(lock_);
  std::string line;
  line.reserve(text.size() + 3);
  line.push_back(kind);
  line.push_back(' ');
  // One record per line: a line end inside the text would look like a line of its own.
  for (char c : text) {
    if (c == '\n')
      line += "\\n";
    else if (c == '\r')
      line += "\\r";
    else if (c == '\0')
      line += "\\0";
    else
      line.push_back(c);
  }
  line.push_back('\n');
  if (file_) {
    fwrite(line.data(), 1, line.size(), file_);
    fflush(file_);
  }
  if (echo_) {
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
  }
}

void Transcript::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  if (file_) fclose(file_);
  file_ = nullptr;
}

std::string Abbreviate(std::string_view message) {
  constexpr size_t kLongField = 96, kShown = 40;
  std::string out;
  size_t start = 0;
  while (start <= message.size()) {
    size_t comma = message.find(',', start);
    size_t end = comma == std::string_view::npos ? message.size() : comma;
    std::string_view field = message.substr(start, end - start);
    if (field.size() > kLongField)
      out += std::string(field.substr(0, kShown)) + "...[" + std::to_string(field.size()) + " chars]";
    else
      out += field;
    if (comma == std::string_view::npos) break;
    out.push_back(',');
    start = comma + 1;
  }
  return out;
}

}  // namespace host
