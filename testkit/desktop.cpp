#include "desktop.h"

#include <cstdio>
#include <cstring>

namespace testkit {

namespace {

LRESULT CALLBACK QuietFrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER && message < WM_USER + 0x100) return 0;  // the host's notifications
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

BOOL CALLBACK CollectLocal(HWND hwnd, LPARAM context) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  if (strcmp(name, "WTSHalvornDummy") == 0) reinterpret_cast<std::vector<HWND> *>(context)->push_back(hwnd);
  return TRUE;
}

}  // namespace

std::string ExecutableDirectory(const char *fallback) {
  char path[2048] = {};
  GetModuleFileNameA(nullptr, path, sizeof path - 1);
  char *slash = strrchr(path, '\\');
  if (!slash) return fallback;
  *slash = 0;
  return path;
}

bool WriteLanguageIni(const std::string &path, const char *appName) {
  FILE *file = fopen(path.c_str(), "wb");
  if (!file) return false;
  fprintf(file, "[GLOBAL]\r\nAppName=%s\r\n", appName);
  fclose(file);
  return true;
}

HWND CreateHostFrame(const char *frameClass, const char *viewClass, const char *title, bool plainChild) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = QuietFrameProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = frameClass;
  RegisterClassA(&windowClass);  // fails harmlessly when the class exists
  windowClass.lpszClassName = viewClass;
  RegisterClassA(&windowClass);
  HWND frame = CreateWindowExA(0, frameClass, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 800, 600, nullptr,
                               nullptr, instance, nullptr);
  CreateWindowExA(0, viewClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 800, 600, frame, nullptr, instance, nullptr);
  if (plainChild)
    CreateWindowExA(0, frameClass, "status", WS_CHILD | WS_VISIBLE, 0, 580, 800, 20, frame, nullptr, instance, nullptr);
  return frame;
}

std::vector<HWND> LocalWindows() {
  std::vector<HWND> windows;
  EnumWindows(CollectLocal, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

}  // namespace testkit
