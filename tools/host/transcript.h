// The host's transcript: one line per thing that happened, in the order the host observed it.
// Written from several threads (the client thread delivers, the add-in writes from the thread of
// its windows, the UI thread reports private messages at sync points), so every line is locked.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace host {

class Transcript {
 public:
  ~Transcript();
  // path empty: no file. echo: every line to stdout as well.
  bool Open(const std::string &path, bool echo);
  // kind is one character: '>' delivered, '<' sent by the add-in, '@' private message received
  // by the host frame window, '*' simulated user action, '=' expectation or state, '!' client
  // event, '~' pause, '#' note.
  void Line(char kind, std::string_view text);
  void Close();

 private:
  std::mutex lock_;
  FILE *file_ = nullptr;
  bool echo_ = false;
};

// A message as the transcript shows it: fields longer than 96 characters (packed payloads) are
// shortened to their first 40 characters and their length; the diagnostic log keeps them whole.
std::string Abbreviate(std::string_view message);

}  // namespace host
