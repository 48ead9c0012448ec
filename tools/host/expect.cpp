// The expectations of agent scripts: what the add-in sent, what the host frame window received,
// and the state of the local windows and the frame.
#include "runner.h"

#include "state.h"

#include <cstdio>

namespace host {

namespace {

// '*' matches any run of characters, everything else itself.
bool Matches(const char *pattern, const char *text) {
  if (*pattern == 0) return *text == 0;
  if (*pattern == '*') {
    for (const char *t = text;; ++t) {
      if (Matches(pattern + 1, t)) return true;
      if (*t == 0) return false;
    }
  }
  return *text == *pattern && Matches(pattern + 1, text + 1);
}

}  // namespace

bool Runner::Expect(const Step &step) {
  // Held only while the recorded messages are read: reading window state may run the add-in's
  // window procedure, which may write.
  std::unique_lock<std::mutex> guard(lock_);
  if (step.kind != StepKind::kExpectSent && step.kind != StepKind::kExpectNothingSent &&
      step.kind != StepKind::kExpectHost)
    guard.unlock();
  switch (step.kind) {
    case StepKind::kExpectSent:
      for (size_t i = sentChecked_; i < sent_.size(); ++i) {
        if (Matches(step.text.c_str(), sent_[i].c_str())) {
          sentChecked_ = i + 1;
          transcript_.Line('=', "expect sent " + step.text + ": ok");
          return true;
        }
      }
      {
        std::string seen;
        for (size_t i = sentChecked_; i < sent_.size(); ++i) seen += (seen.empty() ? "" : " | ") + Abbreviate(sent_[i]);
        return Fail(step, "expected the add-in to send " + step.text +
                              "; after the latest step (and earlier matches) it sent " +
                              (seen.empty() ? "nothing" : seen));
      }
    case StepKind::kExpectNothingSent:
      if (sentChecked_ != sent_.size())
        return Fail(step, "expected nothing sent; the add-in sent " + Abbreviate(sent_[sentChecked_]));
      transcript_.Line('=', "expect nothing-sent: ok");
      return true;
    case StepKind::kExpectHost: {
      const HWND wanted = step.text.empty() ? nullptr : LocalWindowOf(step.window);
      for (size_t i = hostChecked_; i < hostMessages_.size(); ++i) {
        const FrameMessage &m = hostMessages_[i];
        const char *name = HostMessageName(m.message);
        if (!name || step.word != name) continue;
        if (!step.text.empty() && reinterpret_cast<HWND>(m.wParam) != wanted) continue;
        hostChecked_ = i + 1;
        transcript_.Line('=',
                         "expect host " + step.word + (step.text.empty() ? "" : " " + WindowName(wanted)) + ": ok");
        return true;
      }
      return Fail(step, "expected the host frame window to receive " + step.word +
                            (step.text.empty() ? "" : " for " + WindowName(wanted)) + "; it did not");
    }
    case StepKind::kExpectWindows: {
      const size_t count = CountLocalWindows();
      if (count != static_cast<size_t>(step.number))
        return Fail(step,
                    "expected " + std::to_string(step.number) + " local windows, there are " + std::to_string(count));
      transcript_.Line('=', "expect windows " + std::to_string(count) + ": ok");
      return true;
    }
    case StepKind::kExpectWindow:
      return ExpectWindow(step);
    case StepKind::kExpectFrame:
      return ExpectFrame(step);
    default:
      return true;
  }
}

bool Runner::ExpectWindow(const Step &step) {
  const HWND hwnd = LocalWindowOf(step.window);
  const std::string name = LocalWindowName(step.window);
  for (const std::string &state : step.words) {
    const std::string expected = state == "title" ? "title \"" + step.text + "\"" : state;
    if (state == "gone") {
      if (hwnd) return Fail(step, name + ": expected gone, seen a window that still exists");
      continue;
    }
    if (!hwnd) return Fail(step, name + ": expected " + expected + ", seen no such window");
    const WindowState s = ReadWindowState(hwnd);
    std::string seen;
    if (state == "visible" && !s.visible) seen = "hidden";
    if (state == "hidden" && s.visible) seen = "visible";
    if (state == "tool" && !s.tool) seen = "no WS_EX_TOOLWINDOW";
    if (state == "notool" && s.tool) seen = "WS_EX_TOOLWINDOW";
    if (state == "icon-big" && s.bigIcon == "none") seen = "no large icon";
    if (state == "icon-small" && s.smallIcon == "none") seen = "no small icon";
    if (state == "title" && s.title != step.text) seen = "title \"" + s.title + "\"";
    if (!seen.empty()) return Fail(step, name + ": expected " + expected + ", seen " + seen);
  }
  std::string states;
  for (const std::string &s : step.words) states += " " + s + (s == "title" ? " \"" + step.text + "\"" : "");
  transcript_.Line('=', "expect window " + name + states + ": ok");
  return true;
}

bool Runner::ExpectFrame(const Step &step) {
  const FrameState s = ReadFrameState(HostUi::Get().frame());
  std::string states;
  for (const std::string &state : step.words) {
    states += " " + state;
    std::string seen;
    if (state == "visible" && !s.visible) seen = "hidden";
    if (state == "hidden" && s.visible) seen = "visible";
    if (state == "caption" && !s.caption) seen = "no caption";
    if (state == "nocaption" && s.caption) seen = "a caption";
    if (state == "tool" && !s.tool) seen = "no WS_EX_TOOLWINDOW";
    if (state == "notool" && s.tool) seen = "WS_EX_TOOLWINDOW";
    if (state == "empty" && !(s.hasRegion && s.rects.empty()))
      seen = s.hasRegion ? "a shape of " + std::to_string(s.rects.size()) + " rectangles" : "no shape";
    if (state.rfind("inside ", 0) == 0 || state.rfind("outside ", 0) == 0) {
      const bool inside = state[0] == 'i';
      long x = 0, y = 0;
      sscanf(state.c_str() + state.find(' ') + 1, "%ld,%ld", &x, &y);
      if (FramePointShown(s, x, y) != inside) seen = inside ? "the point cut away" : "the point shown";
    }
    if (!seen.empty()) return Fail(step, "the host frame window: expected " + state + ", seen " + seen);
  }
  transcript_.Line('=', "expect frame" + states + ": ok");
  return true;
}

}  // namespace host
