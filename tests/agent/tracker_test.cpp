// What the agent tells the add-in after each look at the session's windows: a message for every
// change and none for a window that did not change. The shape changes are read back with the
// add-in's own unpacker and combined by exclusive-or as the add-in combines them.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <random>

#include "appearance/payload.h"
#include "tracker.h"

namespace {

using agent::WindowKind;
using agent::WindowSnapshot;
using wire::Rect;

// Icons by handle: the picture is a square of the colour the handle's low 24 bits name, so two
// handles can show the same picture. Handle 0xBAD cannot be read.
class FakeIcons : public agent::IconSource {
 public:
  bool Read(uintptr_t, uintptr_t icon, int size, wire::IconParts *parts) override {
    ++reads;
    if (icon == 0xBAD) return false;
    wire::Image image;
    image.width = image.height = size;
    image.pixels.assign(static_cast<size_t>(size) * size, 0xFF000000u | (icon & 0xFFFFFF));
    *parts = wire::IconPartsFromImage(image);
    return true;
  }
  int reads = 0;
};

// The shape as the add-in accumulates it: every UPDATERGN combined by exclusive-or.
class AddInShape {
 public:
  AddInShape() : shape_(CreateRectRgn(0, 0, 0, 0)) {}
  ~AddInShape() { DeleteObject(shape_); }
  AddInShape(const AddInShape &) = delete;
  AddInShape &operator=(const AddInShape &) = delete;
  void Clear() { SetRectRgn(shape_, 0, 0, 0, 0); }
  // False when the payload is not a region the add-in would take.
  bool Apply(const std::string &packed) {
    const std::string block = UnpackPayloadString(packed);
    HRGN change =
        ExtCreateRegion(nullptr, static_cast<DWORD>(block.size()), reinterpret_cast<const RGNDATA *>(block.data()));
    if (!change) return false;
    CombineRgn(shape_, shape_, change, RGN_XOR);
    DeleteObject(change);
    return true;
  }
  // "" when the shape is exactly the union of rects, else what differs.
  std::string Differs(const std::vector<Rect> &rects) const {
    HRGN expected = CreateRectRgn(0, 0, 0, 0);
    for (const Rect &r : rects) {
      HRGN piece = CreateRectRgn(r.left, r.top, r.right, r.bottom);
      CombineRgn(expected, expected, piece, RGN_OR);
      DeleteObject(piece);
    }
    const bool equal = EqualRgn(expected, shape_);
    RECT got, want;
    GetRgnBox(shape_, &got);
    GetRgnBox(expected, &want);
    DeleteObject(expected);
    if (equal) return "";
    char text[160];
    snprintf(text, sizeof text, "shape bounded by %ld,%ld,%ld,%ld, expected one bounded by %ld,%ld,%ld,%ld", got.left,
             got.top, got.right, got.bottom, want.left, want.top, want.right, want.bottom);
    return text;
  }

 private:
  HRGN shape_;
};

std::vector<std::string> Fields(const std::string &message) {
  std::vector<std::string> f;
  for (size_t start = 0;;) {
    const size_t comma = message.find(',', start);
    f.push_back(message.substr(start, comma - start));
    if (comma == std::string::npos) return f;
    start = comma + 1;
  }
}

// A tracker whose messages are kept, and read back as short lines: the number left out, an icon
// set as "SETICON,window,size" once, a shape change applied to the add-in's shape.
class Session {
 public:
  Session() : outbox_([this](const std::string &m) { return Keep(m); }), tracker(outbox_, icons) {}

  std::vector<std::string> Update(const std::vector<WindowSnapshot> &scan, bool recheck = false) {
    lines_.clear();
    tracker.Update(scan, recheck);
    return std::move(lines_);
  }
  std::vector<std::string> Farewell() {
    lines_.clear();
    tracker.Farewell();
    return std::move(lines_);
  }

  FakeIcons icons;
  AddInShape shape;
  std::vector<std::string> raw;  // every message, whole

 private:
  bool Keep(const std::string &message) {
    raw.push_back(message);
    std::vector<std::string> f = Fields(message);
    if (f[0] == "SETICON") {
      if (f[3] == "0") lines_.push_back("SETICON," + f[2] + "," + f[6]);
    } else if (f[0] == "UPDATERGN") {
      lines_.push_back(shape.Apply(f[2]) ? "UPDATERGN" : "UPDATERGN unreadable");
    } else {
      f.erase(f.begin() + 1);  // the agent's message number
      std::string line;
      for (const std::string &field : f) line += (line.empty() ? "" : ",") + field;
      lines_.push_back(line);
    }
    return true;
  }

  std::vector<std::string> lines_;
  agent::Outbox outbox_;

 public:
  agent::Tracker tracker;
};

WindowSnapshot Window(uint32_t id, std::u16string title, Rect rect, WindowKind kind = WindowKind::kTaskbar) {
  WindowSnapshot s;
  s.handle = id;
  s.id = id;
  s.group = 100;
  s.kind = kind;
  s.visible = true;
  s.described = kind != WindowKind::kShapeOnly;
  s.title = std::move(title);
  s.shape = {rect};
  s.bigIcon = 0x110000AA;
  s.smallIcon = 0x120000BB;
  return s;
}

using Lines = std::vector<std::string>;

TEST(Tracker, ANewWindowIsAnnouncedOnceAndAnUnchangedOneSendsNothing) {
  Session s;
  const WindowSnapshot notes = Window(0x10020, u"Notes", {10, 10, 110, 60});
  EXPECT_EQ((Lines{"CREATE,0x00010020,100,0x00000000,0", "TITLE,0x00010020,004E006F007400650073,0",
                   "SETICON,0x00010020,32", "SETICON,0x00010020,16", "UPDATERGN"}),
            s.Update({notes}));
  EXPECT_EQ("", s.shape.Differs({{10, 10, 110, 60}}));
  EXPECT_EQ(2, s.icons.reads);
  EXPECT_EQ(Lines{}, s.Update({notes}));
  EXPECT_EQ(Lines{}, s.Update({notes}));
  EXPECT_EQ(2, s.icons.reads) << "unchanged icon handles are not read again";
}

TEST(Tracker, EachChangeSendsWhatChangedAndNoMore) {
  Session s;
  WindowSnapshot w = Window(0x10020, u"Draft", {10, 10, 110, 60});
  s.Update({w});

  w.title = u"Notes \U0001D11E \u03A9";  // outside the Basic Multilingual Plane: two surrogates
  EXPECT_EQ((Lines{"TITLE,0x00010020,004E006F0074006500730020D834DD1E002003A9,0"}), s.Update({w}));
  w.title = u"";
  EXPECT_EQ((Lines{"TITLE,0x00010020,0000,0"}), s.Update({w})) << "an empty field would keep the old title";

  w.shape = {{50, 20, 150, 70}};  // moved
  EXPECT_EQ((Lines{"UPDATERGN"}), s.Update({w}));
  EXPECT_EQ("", s.shape.Differs({{50, 20, 150, 70}}));

  // Hidden: told (button and shape) when the next look finds it still hidden, since a window
  // being destroyed is hidden first, and then DESTROY is due instead.
  w.visible = false;
  EXPECT_EQ(Lines{}, s.Update({w}));
  EXPECT_TRUE(s.tracker.hidePending());
  EXPECT_EQ((Lines{"SHOWWINDOW,0x00010020,0", "UPDATERGN"}), s.Update({w}));
  EXPECT_EQ("", s.shape.Differs({}));
  EXPECT_FALSE(s.tracker.hidePending());
  EXPECT_EQ(Lines{}, s.Update({w}));
  w.visible = true;
  EXPECT_EQ((Lines{"SHOWWINDOW,0x00010020,8", "UPDATERGN"}), s.Update({w}));
  w.visible = false;  // hidden for a moment only: nothing at all
  s.Update({w});
  w.visible = true;
  EXPECT_EQ(Lines{}, s.Update({w}));

  w.bigIcon = 0x770000AA;  // another handle, the same picture
  EXPECT_EQ(Lines{}, s.Update({w}));
  w.bigIcon = 0x770000CC;  // another picture
  EXPECT_EQ((Lines{"SETICON,0x00010020,32"}), s.Update({w}));

  w.visible = false;  // hidden, then gone: DESTROY tells it, then the shape
  EXPECT_EQ(Lines{}, s.Update({w}));
  EXPECT_EQ((Lines{"DESTROY,0x00010020,0", "UPDATERGN"}), s.Update({}));
  EXPECT_EQ("", s.shape.Differs({}));
  EXPECT_EQ(Lines{}, s.Update({}));
}

TEST(Tracker, KindsOfWindowsAreExpressedByCreatesFields) {
  Session s;
  WindowSnapshot dialog = Window(0x30, u"Save", {0, 0, 10, 10}, WindowKind::kOwned);
  dialog.ownerId = 0x20;
  const WindowSnapshot palette = Window(0x40, u"Tools", {20, 0, 30, 10}, WindowKind::kTool);
  WindowSnapshot menu = Window(0x50, u"", {100, 100, 200, 300}, WindowKind::kShapeOnly);
  WindowSnapshot hidden = Window(0x60, u"Hidden", {0, 0, 10, 10});
  hidden.visible = false;
  EXPECT_EQ(
      (Lines{"CREATE,0x00000030,100,0x00000020,0", "TITLE,0x00000030,0053006100760065,0", "SETICON,0x00000030,32",
             "SETICON,0x00000030,16", "CREATE,0x00000040,100,0x00000000,2", "TITLE,0x00000040,0054006F006F006C0073,0",
             "SETICON,0x00000040,32", "SETICON,0x00000040,16", "UPDATERGN"}),
      s.Update({dialog, palette, menu, hidden}));
  EXPECT_EQ("", s.shape.Differs({{0, 0, 10, 10}, {20, 0, 30, 10}, {100, 100, 200, 300}}))
      << "a menu is shape, not a window";

  // A window that loses its owner gets a taskbar button: CREATE again with the new fields.
  dialog.kind = WindowKind::kTaskbar;
  dialog.ownerId = 0;
  EXPECT_EQ((Lines{"CREATE,0x00000030,100,0x00000000,0"}), s.Update({dialog, palette, menu}));
  // Hiding a tool window changes the shape only: its local window has no button to hide.
  WindowSnapshot hiddenPalette = palette;
  hiddenPalette.visible = false;
  s.Update({dialog, hiddenPalette, menu});
  EXPECT_EQ((Lines{"UPDATERGN"}), s.Update({dialog, hiddenPalette, menu}));
  EXPECT_EQ("", s.shape.Differs({{0, 0, 10, 10}, {100, 100, 200, 300}}));

  // Shown again without its caption it is only shape, as the scan sees it: its title and icons are
  // not read, and what was sent for them stays (no empty title, no substitute icon).
  WindowSnapshot captionless = palette;
  captionless.kind = WindowKind::kShapeOnly;
  captionless.described = false;
  captionless.title.clear();
  captionless.bigIcon = captionless.smallIcon = 0;
  const int reads = s.icons.reads;
  EXPECT_EQ((Lines{"UPDATERGN"}), s.Update({dialog, captionless, menu}));
  EXPECT_EQ(reads, s.icons.reads);
  EXPECT_EQ(Lines{}, s.Update({dialog, captionless, menu}));
  // With its caption back, the title it has now is compared with the one sent.
  WindowSnapshot renamed = palette;
  renamed.title = u"Brushes";
  EXPECT_EQ((Lines{"TITLE,0x00000040,0042007200750073006800650073,0"}), s.Update({dialog, renamed, menu}));
}

TEST(Tracker, AHandleTakenOverByAnotherProgramIsAnotherWindow) {
  Session s;
  WindowSnapshot w = Window(0x10020, u"Old", {0, 0, 10, 10});
  s.Update({w});
  w.group = 200;  // the window went between two looks; its handle now names another program's window
  w.title = u"New";
  EXPECT_EQ((Lines{"DESTROY,0x00010020,0", "CREATE,0x00010020,200,0x00000000,0", "TITLE,0x00010020,004E00650077,0",
                   "SETICON,0x00010020,32", "SETICON,0x00010020,16"}),
            s.Update({w}));
}

TEST(Tracker, IconsAreReadAgainOnlyWhenAskedAndSentOnlyWhenTheyChanged) {
  Session s;
  WindowSnapshot w = Window(0x10020, u"A", {0, 0, 10, 10});
  w.bigIcon = 0xBAD;
  EXPECT_EQ(
      (Lines{"CREATE,0x00010020,100,0x00000000,0", "TITLE,0x00010020,0041,0", "SETICON,0x00010020,16", "UPDATERGN"}),
      s.Update({w}))
      << "an icon that cannot be read is not sent";
  EXPECT_EQ(Lines{}, s.Update({w}, true)) << "a recheck that reads the same pictures sends nothing";
  EXPECT_EQ(4, s.icons.reads);
  w.bigIcon = 0x1;
  EXPECT_EQ((Lines{"SETICON,0x00010020,32"}), s.Update({w}));

  // Every part in order, pieces small enough for the add-in's log, the size in field 6.
  std::vector<std::string> kinds;
  for (const std::string &m : s.raw) {
    const std::vector<std::string> f = Fields(m);
    if (f[0] != "SETICON") continue;
    EXPECT_LT(m.size(), 1024u) << m.substr(0, 60);
    if (f[6] == "32") kinds.push_back(f[3]);
  }
  // 32 x 32 at 4 bytes a pixel: 4096 bytes of mask and of colour, 512 a piece.
  EXPECT_EQ((std::vector<std::string>{"0", "1", "2", "2", "2", "2", "2", "2", "3", "11", "12", "12", "12", "12", "12",
                                      "12", "13"}),
            kinds);
}

TEST(Tracker, FarewellAndANewSession) {
  Session s;
  const WindowSnapshot a = Window(0x10, u"A", {0, 0, 10, 10}), b = Window(0x20, u"B", {5, 5, 30, 30});
  s.Update({a, b});
  EXPECT_EQ((Lines{"DESTROY,0x00000010,0", "DESTROY,0x00000020,0", "UPDATERGN"}), s.Farewell());
  EXPECT_EQ("", s.shape.Differs({}));
  EXPECT_FALSE(s.tracker.Reported(0x10));

  // After a new greeting the add-in knows nothing: everything is announced again, the whole shape
  // as one change from nothing.
  s.Update({a, b});
  s.tracker.Reset();
  s.shape.Clear();
  const Lines lines = s.Update({a, b});
  EXPECT_EQ(9u, lines.size());
  EXPECT_EQ("UPDATERGN", lines.back());
  EXPECT_EQ("", s.shape.Differs({{0, 0, 10, 10}, {5, 5, 30, 30}}));
}

TEST(ShapeChanges, TheAddInsShapeFollowsEveryScanAndLongChangesComeInPieces) {
  // Windows of several rectangles (cut by their regions), appearing, moving and going at random:
  // after each scan the add-in's shape, combined from the messages, is the union of the windows.
  std::mt19937 random(7);
  Session s;
  std::map<uint32_t, WindowSnapshot> windows;
  for (int step = 0; step < 60; ++step) {
    const uint32_t id = 1 + random() % 8;
    if (random() % 4 == 0) {
      windows.erase(id);
    } else {
      WindowSnapshot w = Window(id, u"w", {0, 0, 0, 0});
      w.shape.clear();
      const int x = random() % 900, y = random() % 700, pieces = 1 + random() % 40;
      for (int i = 0; i < pieces; ++i)  // a staircase: many rectangles a window
        w.shape.push_back({x + i * 3, y + i * 5, x + 60 + i * 4, y + i * 5 + 5});
      windows[id] = w;
    }
    std::vector<WindowSnapshot> scan;
    std::vector<Rect> all;
    for (const auto &entry : windows) {
      scan.push_back(entry.second);
      all.insert(all.end(), entry.second.shape.begin(), entry.second.shape.end());
    }
    s.Update(scan);
    ASSERT_EQ("", s.shape.Differs(all)) << "after step " << step;
  }
  for (const std::string &m : s.raw) {
    if (m.rfind("UPDATERGN", 0) != 0) continue;
    EXPECT_LT(m.size(), 1024u);
    const std::string block = UnpackPayloadString(Fields(m)[2]);
    ASSERT_GE(block.size(), 32u);
    EXPECT_LE(static_cast<uint8_t>(block[8]) | static_cast<uint8_t>(block[9]) << 8, 32) << "rectangles in one message";
  }
}

}  // namespace
