// What the add-in has been told about the session's windows, and what to tell it after a new look
// at them: a message for every change and none for a window that did not change.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "outbox.h"
#include "shape.h"
#include "snapshot.h"

namespace agent {

// Reads an icon's picture; the scan gives only handles, and a picture is read only when a handle
// changed (or at a periodic recheck).
class IconSource {
 public:
  virtual ~IconSource() = default;
  // The icon of window (its handle icon, 0 when the window gave none) as the parts of a size x size
  // image; false when it cannot be read.
  virtual bool Read(uintptr_t window, uintptr_t icon, int size, wire::IconParts *parts) = 0;
};

// The show command a shown window's taskbar button gets back: shown without being activated, so
// that a window appearing in the session does not move the focus on the client.
constexpr int kShowAgain = 8;  // SW_SHOWNA

class Tracker {
 public:
  Tracker(Outbox &outbox, IconSource &icons) : outbox_(outbox), icons_(icons) {}

  // Compares a scan with what was sent and sends the differences: CREATE, TITLE, SETICON and
  // SHOWWINDOW for each window in scan order, DESTROY for reported windows the scan no longer
  // has, then the shape. scan holds every visible top-level window and every reported window that
  // still exists; recheckIcons reads icons again even when their handles are unchanged.
  void Update(const std::vector<WindowSnapshot> &scan, bool recheckIcons);
  // A new session: the add-in knows nothing (after HELLO).
  void Reset();
  // Tells the add-in every reported window is gone and the shape is empty (the agent stops).
  void Farewell();

  // A reported window was seen hidden once: it is told as hidden (and leaves the shape) only when
  // the next look still finds it hidden, since a window that is being destroyed is hidden first,
  // and the add-in should then see DESTROY and the shape without it. The caller looks again soon
  // while this is true.
  bool hidePending() const { return hidePending_; }

  // The handle of a window reported and not destroyed since, or 0.
  uintptr_t ReportedHandle(uint32_t id) const;
  bool Reported(uint32_t id) const { return reported_.count(id) != 0; }
  size_t reportedCount() const { return reported_.size(); }

 private:
  struct Sent {
    uintptr_t handle = 0;
    uint32_t group = 0, ownerId = 0;
    WindowKind kind = WindowKind::kTaskbar;
    bool visible = true;
    bool seenHidden = false;        // hidden at the last look, not yet told
    std::vector<wire::Rect> shape;  // at the last look that found it visible
    std::u16string title;
    struct Icon {
      bool looked = false;
      uintptr_t handle = 0;  // last handle looked at
      size_t hash = 0;       // of the parts last sent
      bool sent = false;
    } big, small;
  };

  void Announce(const WindowSnapshot &s, Sent *sent);
  void SendTitle(uint32_t id, const std::u16string &title);
  void UpdateIcon(const WindowSnapshot &s, uintptr_t handle, int size, bool recheck, Sent::Icon *icon);
  void SendShape(const std::vector<wire::Rect> &change);

  Outbox &outbox_;
  IconSource &icons_;
  std::map<uint32_t, Sent> reported_;
  ShapeTracker shape_;
  bool hidePending_ = false;
};

}  // namespace agent
