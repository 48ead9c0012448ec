#include "tracker.h"

#include <functional>
#include <set>

namespace agent {

namespace {

// CREATE's flags: the tool-window flag.
constexpr uint32_t kToolFlag = 2;
// Icon parts go in pieces of this many raw bytes: every message stays under the 1024 characters
// the add-in's diagnostic log holds whole.
constexpr size_t kIconPieceBytes = 512;
// The title a window shows when it has none: a zero unit ends the title, and an empty field would
// leave the old title in place.
const char kEmptyTitle[] = "0000";

std::string Join(std::initializer_list<std::string> fields) {
  std::string out;
  for (const std::string &f : fields) {
    if (!out.empty()) out += ',';
    out += f;
  }
  return out;
}

uint32_t OwnerField(const WindowSnapshot &s) { return s.kind == WindowKind::kOwned ? s.ownerId : 0; }
uint32_t FlagsField(WindowKind kind) { return kind == WindowKind::kTool ? kToolFlag : 0; }

}  // namespace

uintptr_t Tracker::ReportedHandle(uint32_t id) const {
  auto it = reported_.find(id);
  return it == reported_.end() ? 0 : it->second.handle;
}

void Tracker::Reset() {
  reported_.clear();
  shape_.Reset();
}

void Tracker::SendTitle(uint32_t id, const std::u16string &title) {
  const std::string hex = title.empty() ? kEmptyTitle : wire::HexTitle(title);
  outbox_.Send("TITLE", Join({wire::HexId(id), hex, "0"}));
}

void Tracker::UpdateIcon(const WindowSnapshot &s, uintptr_t handle, int size, bool recheck, Sent::Icon *icon) {
  if (icon->looked && handle == icon->handle && !recheck) return;
  icon->looked = true;
  icon->handle = handle;
  wire::IconParts parts;
  if (!icons_.Read(s.handle, handle, size, &parts)) return;
  const size_t hash = std::hash<std::string>()(parts.header + parts.mask + parts.color);
  if (icon->sent && hash == icon->hash) return;
  const std::string prefix = wire::HexId(s.id) + ",";
  const std::string sizeText = std::to_string(size);
  for (const wire::IconPiece &piece : wire::IconPieces(parts, kIconPieceBytes))
    outbox_.Send("SETICON", prefix + Join({std::to_string(piece.kind), sizeText, sizeText, sizeText,
                                           wire::PackPayload(piece.bytes)}));
  icon->hash = hash;
  icon->sent = true;
}

void Tracker::Announce(const WindowSnapshot &s, Sent *sent) {
  outbox_.Send("CREATE", Join({wire::HexId(s.id), std::to_string(s.group), wire::HexId(OwnerField(s)),
                               std::to_string(FlagsField(s.kind))}));
  sent->group = s.group;
  sent->ownerId = OwnerField(s);
  sent->kind = s.kind;
}

void Tracker::SendShape(const std::vector<wire::Rect> &change) {
  for (size_t i = 0; i < change.size(); i += kRectanglesPerMessage) {
    const size_t end = std::min(change.size(), i + kRectanglesPerMessage);
    const std::vector<wire::Rect> piece(change.begin() + static_cast<std::ptrdiff_t>(i),
                                        change.begin() + static_cast<std::ptrdiff_t>(end));
    outbox_.Send("UPDATERGN", wire::PackPayload(wire::RegionData(piece)));
  }
}

void Tracker::Update(const std::vector<WindowSnapshot> &scan, bool recheckIcons) {
  hidePending_ = false;
  std::set<uint32_t> present;
  std::vector<wire::Rect> shape;
  for (const WindowSnapshot &s : scan) {
    present.insert(s.id);
    if (s.visible) shape.insert(shape.end(), s.shape.begin(), s.shape.end());
    auto it = reported_.find(s.id);
    if (it != reported_.end() && it->second.group != s.group) {
      // The handle of a window that went between two looks now names another program's window.
      outbox_.Send("DESTROY", Join({wire::HexId(s.id), "0"}));
      reported_.erase(it);
      it = reported_.end();
    }
    if (it == reported_.end()) {
      if (!s.visible || s.kind == WindowKind::kShapeOnly) continue;
      Sent &sent = reported_[s.id];
      sent.handle = s.handle;
      sent.shape = s.shape;
      Announce(s, &sent);
      sent.title = s.title;
      if (!s.title.empty()) SendTitle(s.id, s.title);
      UpdateIcon(s, s.bigIcon, 32, false, &sent.big);
      UpdateIcon(s, s.smallIcon, 16, false, &sent.small);
      continue;
    }
    Sent &sent = it->second;
    sent.handle = s.handle;
    if (s.visible && s.kind != WindowKind::kShapeOnly && (s.kind != sent.kind || OwnerField(s) != sent.ownerId)) {
      Announce(s, &sent);  // a repeated CREATE changes owner and tool flag, and shows the window again
      sent.visible = true;
    }
    if (!s.visible && sent.visible && !sent.seenHidden) {
      // Told at the next look if it is still hidden then; till then it keeps its place in the
      // shape too, so that a window being destroyed goes with DESTROY and then the shape.
      sent.seenHidden = true;
      hidePending_ = true;
      shape.insert(shape.end(), sent.shape.begin(), sent.shape.end());
      continue;
    }
    if (s.visible != sent.visible) {
      // Only a taskbar window's local window shows anything; the others stay hidden or have none.
      if (sent.kind == WindowKind::kTaskbar)
        outbox_.Send("SHOWWINDOW", Join({wire::HexId(s.id), std::to_string(s.visible ? kShowAgain : 0)}));
      sent.visible = s.visible;
    }
    sent.seenHidden = false;
    if (!s.visible) continue;
    sent.shape = s.shape;
    // A window that lost its caption and became a tool window (or an owned one) is only shape now:
    // its title and icons were not read, and an empty title or no icon is not a change.
    if (!s.described) continue;
    if (s.title != sent.title) {
      SendTitle(s.id, s.title);
      sent.title = s.title;
    }
    UpdateIcon(s, s.bigIcon, 32, recheckIcons, &sent.big);
    UpdateIcon(s, s.smallIcon, 16, recheckIcons, &sent.small);
  }
  for (auto it = reported_.begin(); it != reported_.end();) {
    if (present.count(it->first)) {
      ++it;
      continue;
    }
    outbox_.Send("DESTROY", Join({wire::HexId(it->first), "0"}));
    it = reported_.erase(it);
  }
  SendShape(shape_.Update(shape));
}

void Tracker::Farewell() {
  for (const auto &entry : reported_) outbox_.Send("DESTROY", Join({wire::HexId(entry.first), "0"}));
  reported_.clear();
  SendShape(shape_.Update({}));
}

}  // namespace agent
