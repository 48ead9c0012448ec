// Posted and sent messages: per-thread queues, filters, WM_QUIT, and sending across character
// sets. The add-in posts to the host frame and relies on sends being synchronous. Runs on winsim
// and under Wine.
#include "platform_util.h"

#include <atomic>
#include <thread>

using namespace platformtest;

namespace {
void Drain() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}
}  // namespace

TEST(Messages, PostedMessagesQueueUntilPumped) {
  HWND a = MakeWindow(WS_POPUP);
  HWND b = MakeWindow(WS_POPUP);
  Drain();
  EXPECT_TRUE(PostMessageA(a, WM_USER + 1, 1, 2));
  EXPECT_TRUE(PostMessageA(b, WM_USER + 2, 3, 4));
  EXPECT_TRUE(PostMessageA(nullptr, WM_USER + 3, 5, 6));  // to the thread itself
  PostQuitMessage(7);

  MSG msg;
  // A window filter takes only that window's messages; a range filter only those messages.
  ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 2));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.wParam, 5u);
  EXPECT_EQ(msg.lParam, 6);

  // The rest in posting order, WM_QUIT after every posted message.
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.hwnd, a);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.hwnd, b);
  EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

  // Messages for a destroyed window are dropped with it.
  PostMessageA(a, WM_USER + 4, 0, 0);
  DestroyWindow(a);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 100, PM_REMOVE));

  SetLastError(0);
  EXPECT_FALSE(PostMessageA(a, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  SetLastError(0);
  EXPECT_EQ(SendMessageA(a, WM_USER, 0, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(Messages, EachThreadHasItsOwnQueue) {
  HWND mine = MakeWindow(WS_POPUP);
  Drain();
  std::atomic<DWORD> workerId{0};
  std::atomic<HWND> theirs{nullptr};
  std::thread worker([&] {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
    HWND window = MakeWindow(WS_POPUP);
    theirs = window;
    workerId = GetCurrentThreadId();
    // The main thread posts one message to this thread and one to its window.
    int seen = 0;
    while (seen < 2 && GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_USER + 10) {
        EXPECT_EQ(msg.hwnd, nullptr);
        ++seen;
      }
      if (msg.message == WM_USER + 11) {
        EXPECT_EQ(msg.hwnd, window);
        ++seen;
      }
    }
    DestroyWindow(window);
  });
  while (!workerId || !theirs) std::this_thread::yield();
  EXPECT_TRUE(PostThreadMessageA(workerId, WM_USER + 10, 0, 0));
  EXPECT_TRUE(PostMessageA(theirs, WM_USER + 11, 0, 0));
  PostMessageA(mine, WM_USER + 12, 0, 0);
  worker.join();
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 100, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 12));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 100, PM_REMOVE));
}

namespace {
LRESULT CALLBACK CharProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) return static_cast<LRESULT>(SendMessageA(hwnd, WM_USER + 1, wParam + 1, 0));
  if (message == WM_USER + 1) return static_cast<LRESULT>(wParam * 10);
  if (message == WM_CHAR) return static_cast<LRESULT>(wParam);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}
}  // namespace

TEST(Messages, SendsAreSynchronousAndConvertCharacters) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = CharProcA;
  wc.lpszClassName = "CharClass";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, "CharClass", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(SendMessageA(hwnd, WM_USER, 4, 0), 50);  // nested send, result passed back
  // A character sent to an ANSI procedure arrives in the ANSI code page.
  EXPECT_EQ(SendMessageW(hwnd, WM_CHAR, 0x00E9, 0), 0xE9);
  EXPECT_EQ(SendMessageW(hwnd, WM_CHAR, 0x20AC, 0), 0x80);  // the euro sign in the ANSI code page
  DestroyWindow(hwnd);
}
