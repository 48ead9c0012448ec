#include "fuzz_session.h"

#include <inspect.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "channel/entry.h"
#include "protocol/dispatch.h"
#include "session/settings.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace quorvfuzz {
namespace {

const char kHostTitle[] = "quorv fuzz host";
const winsim::ObjectKind kKinds[] = {winsim::ObjectKind::Window,        winsim::ObjectKind::Region,
                                     winsim::ObjectKind::Bitmap,        winsim::ObjectKind::Icon,
                                     winsim::ObjectKind::DeviceContext, winsim::ObjectKind::Brush};
const char *const kKindNames[] = {"windows", "regions", "bitmaps", "icons", "device contexts", "brushes"};

HWND g_host = nullptr;
size_t g_baseline[6] = {};
bool g_haveBaseline = false;

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER && message < WM_USER + 0x100) return 0;
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

void ClearNotificationArea() {
  for (const winsim::NotifyIconEntry &entry : winsim::NotifyIcons()) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = entry.hWnd;
    data.uID = entry.uID;
    Shell_NotifyIconW(NIM_DELETE, &data);
  }
}

void StartAddin() {
  static bool started = false;
  if (started) return;
  started = true;
  // The add-in opens "C:\..." files, ordinary names in the working folder: scripts/fuzz gives
  // every fuzzer a folder of its own.
  winsim::SetModuleFileName("C:\\quorvfuzz\\host.exe");
  if (FILE *ini = fopen("C:\\quorvfuzz\\Language.ini", "wb")) {
    fprintf(ini, "[GLOBAL]\r\nAppName=%s\r\n", kHostTitle);
    fclose(ini);
  }
  WNDCLASSA frameClass = {};
  frameClass.lpfnWndProc = FrameProc;
  frameClass.lpszClassName = "QuorvFuzzFrame";
  RegisterClassA(&frameClass);
  frameClass.lpszClassName = "ATL:QuorvFuzzControl";
  RegisterClassA(&frameClass);
  g_host = CreateWindowExA(0, "QuorvFuzzFrame", kHostTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 800, 600, nullptr,
                           nullptr, nullptr, nullptr);
  CreateWindowExA(0, "ATL:QuorvFuzzControl", "", WS_CHILD | WS_VISIBLE, 0, 0, 800, 600, g_host, nullptr, nullptr,
                  nullptr);
  CreateWindowExA(0, "QuorvFuzzFrame", "status", WS_CHILD | WS_VISIBLE, 0, 580, 800, 20, g_host, nullptr, nullptr,
                  nullptr);
  if (!g_host) abort();

  DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
  // The client unloads the add-in before the process ends; what is still alive then is a leak.
  atexit([] { DllMain(nullptr, DLL_PROCESS_DETACH, nullptr); });
  testkit::StandInClient &client = Client();
  client.UseEntry(VirtualChannelEntry);
  // Writes complete at once, as a client with a fast link reports them: the pending-write list
  // stays short however much the procedure sends.
  client.completeWritesAtOnce = true;
  if (!client.CallEntry()) abort();
  client.Initialized();
  client.Connect();
}

testkit::StandInClient &Client() { return testkit::StandInClient::Get(); }
HWND HostFrame() { return g_host; }

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

void Deliver(std::string_view message, size_t chunkSize) { Client().Deliver(message, chunkSize); }

void BeginInput(int displayMode) {
  StartAddin();
  ResetMessageAssembly();
  SetDisplayMode(displayMode);
  Deliver("HELLO,0,2");
  Pump();
  if (!g_haveBaseline) {
    g_haveBaseline = true;
    SetWindowRgn(g_host, nullptr, FALSE);
    for (size_t i = 0; i < 6; ++i) g_baseline[i] = winsim::LiveObjectCount(kKinds[i]);
  }
}

void EndInput() {
  ResetMessageAssembly();
  Deliver("HELLO,0,2");
  Pump();
  ClearNotificationArea();
  Client().ClearWrites();
  // The host frame owns the region it was given; the host may drop it.
  SetWindowRgn(g_host, nullptr, FALSE);
  for (size_t i = 0; i < 6; ++i) {
    const size_t now = winsim::LiveObjectCount(kKinds[i]);
    if (now != g_baseline[i]) {
      fprintf(stderr, "==quorv== %s: %zu live after a session start, %zu at the first one\n", kKindNames[i], now,
              g_baseline[i]);
      abort();
    }
  }
}

}  // namespace quorvfuzz
