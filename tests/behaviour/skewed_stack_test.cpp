// Clients built by other compilers call the add-in on stacks aligned to 4 bytes only, as the 32-bit
// Windows calling convention allows (the add-in was once seen crashing so, in its vector base64
// decoder, inside a real client). Here every entry from outside runs with the stack pointer 4, 8
// and 12 bytes off a 16-byte boundary: the export, the init and open event procedures (so every
// command handler below them) and the window procedure, with payloads long enough for the vector
// paths. On x64 the convention keeps the stack aligned and the calls are plain.
#include "support/harness.h"

#include <shellapi.h>

#include "common/host_interface.h"
#include "skewed_stack.h"

#include <cstring>

namespace quorvtest {
namespace {

class SkewedStackTest : public AddinTest, public ::testing::WithParamInterface<unsigned> {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    client().stackSkew = GetParam();
  }
  void TearDown() override {
    client().stackSkew = 0;
    AddinTest::TearDown();
  }
  // The window procedure of the add-in's local windows, called as a client's own code would call it.
  static LRESULT CallWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const void *proc = reinterpret_cast<const void *>(GetClassLongPtrA(hwnd, GCLP_WNDPROC));
#if defined(__i386__)
    return static_cast<LRESULT>(testkit::CallOnSkewedStack(
        proc, {reinterpret_cast<uintptr_t>(hwnd), message, wParam, static_cast<uintptr_t>(lParam)}, GetParam()));
#else
    return reinterpret_cast<WNDPROC>(const_cast<void *>(proc))(hwnd, message, wParam, lParam);
#endif
  }
};

testkit::Image Stripes(int size) {
  testkit::Image image{size, size, {}};
  for (int i = 0; i < size * size; ++i) image.pixels.push_back(i % 5 ? 0xFF000000u | (i * 2654435761u >> 8) : 0);
  return image;
}

TEST_P(SkewedStackTest, EveryEntryFromOutsideWorksOnAStackAlignedTo4Bytes) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  StartSession();
  const HWND window = SendForLocalWindow("CREATE,1,0x10020,0,0,0");
  ASSERT_NE(window, nullptr);

  // SETICON: a 48x48 icon in pieces of several kilobytes of base64.
  const testkit::Image icon = Stripes(48);
  for (const std::string &m : testkit::IconMessages("SETICON", 2, 0x10020, 32, testkit::IconPartsFromImage(icon)))
    Send(m);
  testkit::IconPixels shown;
  ASSERT_TRUE(testkit::ReadIconPixels(reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_BIG, 0)), &shown));
  EXPECT_EQ(testkit::CompareIconPixels(shown, icon), "");

  // UPDATERGN: a few hundred rectangles.
  std::vector<testkit::Rect> shape;
  for (LONG i = 0; i < 300; ++i) shape.push_back({(i % 20) * 40, (i / 20) * 30, (i % 20) * 40 + 30, (i / 20) * 30 + 20});
  Send(testkit::Message({"UPDATERGN", "3", testkit::PackPayload(testkit::RegionData(shape))}));
  EXPECT_EQ(RegionDifference(host(), shape), "");

  // SYSTRAY: a record with a long tip, then its icon; a click on it goes back to the agent.
  const std::vector<HWND> before = LocalWindows();
  testkit::NotifyRecord record;
  record.charType = 'W';
  record.hWnd = 0x500;
  record.uID = 7;
  record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record.uCallbackMessage = 0x8001;
  record.hIcon = 0x77;
  record.tip = std::u16string(120, u'\u00e9');
  Send(testkit::Message({"SYSTRAY", "4", "0x500", "-1", "0", "0", "16",
                         testkit::PackPayload(testkit::NotifyRecordBytes(record))}));
  for (const std::string &m : testkit::IconMessages("SYSTRAY", 5, 0x500, 16, testkit::IconPartsFromImage(Stripes(16))))
    Send(m);
  const std::vector<HWND> proxies = NewLocalWindows(before);
  ASSERT_EQ(proxies.size(), 1u) << "the notification icon's proxy window";
  TakeSent();
  EXPECT_EQ(CallWindowProcedure(proxies[0], WM_TRAYMESSAGE, 7, WM_LBUTTONUP), 1);
  std::vector<std::string> sent = TakeSentPayloads();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].rfind("SETCURSORPOS,0x00000500,", 0), 0u) << sent[0];
  EXPECT_EQ(sent[1], "WNDMSG,0x00000500,32769,7,514");

  // The window procedure: the taskbar's system-menu request and a start request.
  EXPECT_EQ(CallWindowProcedure(window, WM_SYSMENU_REQUEST, 0, 0x00640032), 1);
  EXPECT_EQ(TakeSentPayloads(), std::vector<std::string>{"WNDMSG,0x00010020,787,0,6553650"});
  char program[] = "notepad.exe C:\\notes.txt";
  EXPECT_EQ(CallWindowProcedure(window, WM_USER_START_PROG_REQ, reinterpret_cast<WPARAM>(window),
                                reinterpret_cast<LPARAM>(program)),
            1);
  EXPECT_EQ(TakeSentPayloads(), std::vector<std::string>{"StartProg,notepad.exe C:\\notes.txt"});

  // The termination, and a new connection whose greeting starts a session again.
  client().Terminate();
  client().Connect();
  Send("HELLO,6,2");
  EXPECT_NE(SendForLocalWindow("CREATE,7,0x10030,0,0,0"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Skews, SkewedStackTest, ::testing::Values(4u, 8u, 12u),
                         [](const ::testing::TestParamInfo<unsigned> &info) {
                           return "Off" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace quorvtest
