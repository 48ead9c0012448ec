#include "tray.h"

#include <cmath>

namespace agent {

namespace {

// Shell messages and record flags of the notification record.
constexpr uint32_t kAdd = 0, kDelete = 2;
constexpr uint32_t kFlagMessage = 1, kFlagIcon = 2, kFlagTip = 4;
// The record's hIcon: any value but 0 tells the add-in that icon parts follow.
constexpr uint32_t kIconFollows = 1;
constexpr size_t kIconPieceBytes = 512;

std::string Join(std::initializer_list<std::string> fields) {
  std::string out;
  for (const std::string &f : fields) {
    if (!out.empty()) out += ',';
    out += f;
  }
  return out;
}

}  // namespace

wire::Image AgentIconImage(int size) {
  // A ring on a rounded blue square, with a tail: a "q".
  wire::Image image;
  image.width = image.height = size;
  image.pixels.assign(static_cast<size_t>(size) * size, 0);
  const double s = size / 16.0, c = 7.0 * s, outer = 5.0 * s, inner = 2.6 * s, corner = 3.0 * s;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double px = x + 0.5, py = y + 0.5;
      // Rounded square: outside the corner circles is transparent.
      const double cx = std::min(std::max(px, corner), size - corner),
                   cy = std::min(std::max(py, corner), size - corner);
      if (std::hypot(px - cx, py - cy) > corner) continue;
      uint32_t color = 0xFF2B5B84;
      const double d = std::hypot(px - c, py - c);
      const bool ring = d <= outer && d >= inner;
      const bool tail = px >= c + inner && px <= c + outer && py >= c && py <= size - 1.5 * s;
      if (ring || tail) color = 0xFFF4F4F0;
      image.pixels[static_cast<size_t>(y) * size + x] = color;
    }
  }
  return image;
}

bool AgentTray::OpensMenu(uint32_t mouseMessage) {
  return mouseMessage == WM_LBUTTONUP || mouseMessage == WM_RBUTTONUP || mouseMessage == WM_CONTEXTMENU;
}

void AgentTray::SendRecord(uint32_t shellMessage, uint32_t flags, const std::u16string &tip) {
  wire::NotifyRecord record;
  record.charType = 'W';
  record.dwMessage = shellMessage;
  record.hWnd = ownerId_;
  record.uID = kIconId;
  record.uFlags = flags;
  record.uCallbackMessage = callbackMessage_;
  record.hIcon = flags & kFlagIcon ? kIconFollows : 0;
  record.tip = tip;
  outbox_.Send("SYSTRAY",
               Join({wire::HexId(ownerId_), "-1", "0", "0", "16", wire::PackPayload(wire::NotifyRecordBytes(record))}));
}

void AgentTray::Add(const std::u16string &tip) {
  SendRecord(kAdd, kFlagMessage | kFlagIcon | kFlagTip, tip);
  // The record waits in the add-in until these parts complete its icon.
  const wire::IconParts parts = wire::IconPartsFromImage(AgentIconImage(16));
  for (const wire::IconPiece &piece : wire::IconPieces(parts, kIconPieceBytes))
    outbox_.Send("SYSTRAY", Join({wire::HexId(ownerId_), std::to_string(piece.kind), "16", "16", "16",
                                  wire::PackPayload(piece.bytes)}));
}

void AgentTray::Remove() { SendRecord(kDelete, 0, u""); }

}  // namespace agent
