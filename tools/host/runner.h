// Plays steps (from a script, a diagnostic log or a listening socket) against the add-in on the
// client thread: delivers agent messages, performs user actions through the UI thread, checks
// expectations and keeps the transcript.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "script.h"
#include "transcript.h"
#include "ui.h"

namespace host {

struct RunOptions {
  std::string shotsDir;       // where "shot" asks for screenshots; empty: shots are skipped
  bool secondPacing = false;  // start each step in a calendar second of its own
  std::string timingFile;     // a line per delivered message: when, its keyword, the add-in's time
};

// The name of a private message the host frame window receives, or null.
const char *HostMessageName(UINT message);
// What the transcript calls the local window of a remote window id: "placeholder" (id 0, the
// session placeholder) or "local:0x%08x".
std::string LocalWindowName(uint32_t id);

class Runner {
 public:
  Runner(Transcript &transcript, const RunOptions &options);
  ~Runner();
  Runner(const Runner &) = delete;
  Runner &operator=(const Runner &) = delete;

  // Records a write of the add-in (any thread).
  void OnWrite(std::string_view text, bool accepted);
  // Runs one step. False when an expectation failed (the reason is in failure()).
  bool Run(const Step &step);
  const std::string &failure() const { return failure_; }
  // Expectation steps that held and that failed so far.
  int held() const { return held_; }
  int failed() const { return failed_; }

  // Pumps, waits for the UI thread, writes the frame's private messages to the transcript.
  void Settle();
  // The final state of the frame and every local window, as '=' lines.
  void WriteFinalState();
  std::string WindowName(HWND hwnd) const;

 private:
  void Deliver(const Step &step, const std::string &message);
  void TrackWindows(const std::string &message);
  HWND LocalWindowOf(uint32_t id) const;
  bool Fail(const Step &step, const std::string &reason);
  bool Expect(const Step &step);
  bool ExpectWindow(const Step &step);
  bool ExpectFrame(const Step &step);
  void Action(const Step &step);
  void Shot(const Step &step);
  void PaceToSecond();

  Transcript &transcript_;
  RunOptions options_;
  FILE *timing_ = nullptr;  // --timing, with hooks that see the add-in's first window call
  HHOOK hooks_[4] = {};  // the channel thread's and the frame thread's, two kinds each
  std::string failure_;
  int held_ = 0, failed_ = 0;
  size_t chunkSize_ = 1600;

  std::mutex lock_;  // the add-in's writes come from its own thread
  std::vector<std::string> sent_;
  size_t sentChecked_ = 0;
  std::vector<FrameMessage> hostMessages_;
  size_t hostChecked_ = 0;

  std::vector<LocalWindow> locals_;  // in the order they appeared
  std::vector<LocalWindow> gone_;    // destroyed ones, for naming handles the add-in still posts
};

}  // namespace host
