#include "fuzz_session.h"

#include <inspect.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "channel/entry.h"
#include "desktop.h"
#include "protocol/dispatch.h"
#include "common/settings.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace quorvfuzz {
namespace {

const char kHostTitle[] = "quorv fuzz host";
const winsim::ObjectKind kKinds[] = {winsim::ObjectKind::Window,        winsim::ObjectKind::Region,
                                     winsim::ObjectKind::Bitmap,        winsim::ObjectKind::Icon,
                                     winsim::ObjectKind::DeviceContext, winsim::ObjectKind::Brush};
const char *const kKindNames[] = {"windows", "regions", "bitmaps", "icons", "device contexts", "brushes"};
static_assert(std::size(kKindNames) == std::size(kKinds));

HWND g_host = nullptr;
size_t g_baseline[std::size(kKinds)] = {};
bool g_haveBaseline = false;

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
  testkit::WriteLanguageIni("C:\\quorvfuzz\\Language.ini", kHostTitle);
  g_host = testkit::CreateHostFrame("QuorvFuzzFrame", "ATL:QuorvFuzzControl", kHostTitle, true);
  if (!g_host) abort();

  DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
  // The client unloads the add-in before the process ends; what is still alive then is a leak.
  atexit([] { DllMain(nullptr, DLL_PROCESS_DETACH, nullptr); });
  testkit::StandInClient &client = Client();
  client.UseEntry(VirtualChannelEntry);
  // Writes complete at once, as a client with a fast link reports them: the pending-write list
  // stays short however much the procedure sends.
  client.completeWritesAtOnce = true;
  if (!client.CallEntryAndConnect()) abort();
}

testkit::StandInClient &Client() { return testkit::StandInClient::Get(); }

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

void Deliver(std::string_view message, size_t chunkSize) { Client().Deliver(message, chunkSize); }

void BeginInput(int displayMode) {
  StartAddin();
  ResetMessageAssembly();
  SetDisplayMode(DisplayModeFromSetting(static_cast<DWORD>(displayMode)));
  Deliver("HELLO,0,2");
  Pump();
  if (!g_haveBaseline) {
    g_haveBaseline = true;
    SetWindowRgn(g_host, nullptr, FALSE);
    for (size_t i = 0; i < std::size(kKinds); ++i) g_baseline[i] = winsim::LiveObjectCount(kKinds[i]);
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
  for (size_t i = 0; i < std::size(kKinds); ++i) {
    const size_t now = winsim::LiveObjectCount(kKinds[i]);
    if (now != g_baseline[i]) {
      fprintf(stderr, "==quorv== %s: %zu live after a session start, %zu at the first one\n", kKindNames[i], now,
              g_baseline[i]);
      abort();
    }
  }
}

}  // namespace quorvfuzz
