// The library's life: DllMain sets every module up at attach and takes it down at detach. The one
// place that knows all of them; the channel, the dispatcher and the handlers know only what lies
// below them.
#include "appearance/shape.h"
#include "appearance/tray.h"
#include "channel/entry.h"
#include "channel/write_queue.h"
#include "common/debug_log.h"
#include "common/settings.h"
#include "mirror/local_window.h"
#include "mirror/window_data.h"
#include "protocol/dispatch.h"
#include "session/window_proc.h"

extern "C" QUORV_EXPORT BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) noexcept {
  if (reason == DLL_PROCESS_ATTACH) {
    LogDebug("ATTACH!!!\n");
    SetChannelDataHandler(OnChannelData, ResetMessageAssembly);
    SetLocalWindowProcedure(LocalWindowProc);
    LoadDisplaySettings();
  } else if (reason == DLL_PROCESS_DETACH) {
    LogDebug("DETACH!!!\n");
    // At process termination other threads and their windows may already be gone: leave the
    // window manager alone and let the process take everything with it.
    if (reserved) return TRUE;
    DestroyAllWindowData();
    UnregisterLocalWindowClass();
    DeleteShapeRegion();
    ResetTrayMirror();
    ResetMessageAssembly();
    CloseWriteQueue();
  }
  return TRUE;
}
