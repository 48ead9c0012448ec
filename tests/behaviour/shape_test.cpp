// UPDATERGN: the agent's shape changes cut the host frame window down to the remote windows.
#include <algorithm>
#include <string>
#include <vector>

#include "support/harness.h"
#include "common/host_interface.h"

#ifndef _WIN32
#include <inspect.h>
#endif

namespace quorvtest {
namespace {

using testkit::Rect;

std::string Change(const std::vector<Rect> &rects) {
  return testkit::Message({"UPDATERGN", "9", testkit::PackPayload(testkit::RegionData(rects))});
}

// A block whose header says dwSize, iType and nCount, with `present` rectangles behind it.
std::string RawChange(uint32_t dwSize, uint32_t iType, uint32_t nCount, size_t present) {
  std::string block = testkit::RegionData(std::vector<Rect>(present, Rect{0, 0, 300, 300}));
  for (int i = 0; i < 4; ++i) {
    block[i] = static_cast<char>(dwSize >> (8 * i));
    block[4 + i] = static_cast<char>(iType >> (8 * i));
    block[8 + i] = static_cast<char>(nCount >> (8 * i));
  }
  return testkit::Message({"UPDATERGN", "9", testkit::PackPayload(block)});
}

class ShapeTest : public AddinTest {
 protected:
  int WindowsChangedPosts() {
    const std::vector<HostMessage> posted = TakeHostMessages();
    return static_cast<int>(std::count_if(posted.begin(), posted.end(), [](const HostMessage &m) {
      return m.message == WM_USER_WINDOWS_CHANGED && m.wParam == 0 && m.lParam == 0;
    }));
  }
};

TEST_F(ShapeTest, ChangesCombineByExclusiveOr) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  StartSession();
  TakeHostMessages();
  ASSERT_FALSE(IsWindowVisible(host())) << "display mode 0 keeps the host hidden until a shape arrives";
  Send(Change({{0, 0, 100, 50}}));
  EXPECT_EQ(RegionDifference(host(), {{0, 0, 100, 50}}), "");
  EXPECT_TRUE(IsWindowVisible(host()));
  // Overlaps drop out; the same change again takes itself back.
  Send(Change({{50, 0, 150, 50}, {0, 200, 10, 210}}));
  EXPECT_EQ(RegionDifference(host(), {{0, 0, 50, 50}, {100, 0, 150, 50}, {0, 200, 10, 210}}), "");
  Send(Change({{50, 0, 150, 50}, {0, 200, 10, 210}}));
  EXPECT_EQ(RegionDifference(host(), {{0, 0, 100, 50}}), "");
  // An empty change re-applies the shape and shows a hidden host again.
  ShowWindow(host(), SW_HIDE);
  SetWindowRgn(host(), nullptr, FALSE);
  Send("UPDATERGN,10,");
  EXPECT_EQ(RegionDifference(host(), {{0, 0, 100, 50}}), "");
  EXPECT_TRUE(IsWindowVisible(host()));
  EXPECT_EQ(WindowsChangedPosts(), 4);

  // Blocks that are not a whole rectangle list change nothing and still re-apply the shape.
  const std::vector<std::string> bad = {
      RawChange(32, 1, 1000, 1),
      RawChange(32, 1, 0x10000001, 1) /* byte size wraps */,
      RawChange(32, 1, 2, 1),
      RawChange(31, 1, 1, 1),
      RawChange(32, 2, 1, 1),
      testkit::Message({"UPDATERGN", "9", testkit::PackPayload(std::string(31, '\0'))}),
      "UPDATERGN,9,not base64 at all!",
      "UPDATERGN,9,Q==="};
  for (const std::string &message : bad) {
    SetWindowRgn(host(), nullptr, FALSE);
    Send(message);
    EXPECT_EQ(RegionDifference(host(), {{0, 0, 100, 50}}), "") << message;
  }
  EXPECT_EQ(WindowsChangedPosts(), static_cast<int>(bad.size()));
  // Exactly the rectangles counted, however few, are accepted.
  Send(RawChange(32, 1, 0, 3));
  EXPECT_EQ(RegionDifference(host(), {{0, 0, 100, 50}}), "");
  Send(RawChange(32, 1, 1, 1));
  EXPECT_EQ(RegionDifference(host(), {{100, 0, 300, 50}, {0, 50, 300, 300}}), "");

#ifndef _WIN32
  // The host owns one copy at a time; nothing else accumulates.
  const size_t regions = winsim::LiveObjectCount(winsim::ObjectKind::Region);
  for (int i = 0; i < 20; ++i) Send(i % 2 ? Change({{i, i, i + 5, i + 5}}) : RawChange(32, 1, 9, 1));
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Region), regions);
#endif
}

#ifndef _WIN32
// A region the window would not take stays the add-in's, and is deleted: here the host frame
// window is gone, so every SetWindowRgn on it fails.
TEST_F(ShapeTest, RegionsTheHostDoesNotTakeAreDeleted) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  StartSession();
  Send(Change({{0, 0, 100, 50}}));
  Send("CREATE,1,0x10,5,0,0");
  ASSERT_TRUE(DestroyWindow(host()));
  const size_t regions = winsim::LiveObjectCount(winsim::ObjectKind::Region);
  Send(Change({{10, 10, 20, 20}}));  // the copy for the frame
  Send("DESTROYGRP,1,0,0");
  Send("DESTROYGRP,1,5,0");  // the registry is empty: the empty region for the frame
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Region), regions);
  host_ = nullptr;
}
#endif

TEST_F(ShapeTest, OutsideDisplayModeZeroOrBeforeASessionTheHostKeepsItsRegion) {
  EnableLog();
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  CreateHostFrame();
  Send(Change({{0, 0, 100, 50}}));  // no session yet: no host frame window, no accumulated shape
  Send("UPDATERGN,2,");
  EXPECT_EQ(WindowsChangedPosts(), 0);
  EXPECT_NE(RegionDifference(host(), {}), "") << "no region at all";
  std::string log = ReadLog();
  log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());
  auto count = [&log](const std::string &what) {
    int n = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("CombineRgn RGN_XOR failed, last error:"), 1) << log;
  EXPECT_EQ(count("CombineRgn RGN_COPY failed, last error:"), 2) << log;

  StartSession(3);  // a version 3 agent switches to display mode 1: only the post remains
  TakeHostMessages();
  Send(Change({{0, 0, 100, 50}}));
  EXPECT_EQ(WindowsChangedPosts(), 1);
  EXPECT_NE(RegionDifference(host(), {}), "");
}

}  // namespace
}  // namespace quorvtest
