#include "common/host_frame.h"

#include "common/settings.h"

#include <cstring>

namespace {

HWND g_hostFrame = nullptr;

struct Search {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchHostFrame(HWND hwnd, LPARAM context) {
  Search *search = reinterpret_cast<Search *>(context);
  DWORD processId = 0;
  GetWindowThreadProcessId(hwnd, &processId);
  if (processId != search->processId) return TRUE;
  // Only the first 127 characters of a title are compared.
  char title[128] = {};
  GetWindowTextA(hwnd, title, sizeof title);
  if (strcmp(title, LoadHostAppName()) != 0) return TRUE;
  search->found = hwnd;
  return FALSE;
}

}  // namespace

HWND GetHostFrameWindow() { return g_hostFrame; }

HWND LocateHostFrameWindow() {
  if (g_hostFrame) return g_hostFrame;
  Search search = {GetCurrentProcessId(), nullptr};
  EnumWindows(MatchHostFrame, reinterpret_cast<LPARAM>(&search));
  g_hostFrame = search.found;
  return g_hostFrame;
}
