#include "bench_host.h"

#include <cstdio>
#include <cstring>

#include "client.h"
#include "../tools/host/script.h"

#ifdef _WIN32
#include <cchannel.h>
#else
#include <inspect.h>

#include "channel/entry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
#endif

namespace quorvbench {

const char kHostTitle[] = "quorv bench host";

namespace {

HWND g_host = nullptr;

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER && message < WM_USER + 0x100) return 0;  // the host's notifications
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::string ExecutableDirectory() {
  char path[1024] = {};
  GetModuleFileNameA(nullptr, path, sizeof path - 1);
  char *slash = strrchr(path, '\\');
  if (!slash) return ".";
  *slash = 0;
  return path;
}

}  // namespace

bool StartAddin(std::string *error) {
  static bool started = false;
  static std::string failure;
  if (started) {
    *error = failure;
    return failure.empty();
  }
  started = true;
#ifndef _WIN32
  // "C:\..." names are ordinary file names in the working folder, which the benchmark program
  // makes fresh (no marker file: the diagnostic log is off, as on a user's machine).
  winsim::SetModuleFileName("C:\\quorvbench\\host.exe");
#endif
  const std::string ini = ExecutableDirectory() + "\\Language.ini";
  FILE *file = fopen(ini.c_str(), "wb");
  if (!file) {
    failure = "cannot write " + ini;
    *error = failure;
    return false;
  }
  fprintf(file, "[GLOBAL]\r\nAppName=%s\r\n", kHostTitle);
  fclose(file);

  WNDCLASSA frameClass = {};
  frameClass.lpfnWndProc = FrameProc;
  frameClass.hInstance = GetModuleHandleA(nullptr);
  frameClass.lpszClassName = "QuorvBenchFrame";
  RegisterClassA(&frameClass);
  frameClass.lpszClassName = "ATL:QuorvBenchControl";
  RegisterClassA(&frameClass);
  g_host = CreateWindowExA(0, "QuorvBenchFrame", kHostTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 800, 600,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  CreateWindowExA(0, "ATL:QuorvBenchControl", "", WS_CHILD | WS_VISIBLE, 0, 0, 800, 600, g_host, nullptr,
                  GetModuleHandleA(nullptr), nullptr);
  if (!g_host) {
    failure = "cannot create the host frame window";
    *error = failure;
    return false;
  }

  testkit::StandInClient &client = testkit::StandInClient::Get();
#ifdef _WIN32
  if (!client.Load("quorv.dll")) {
    failure = client.error();
    *error = failure;
    return false;
  }
#else
  DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
  client.UseEntry(VirtualChannelEntry);
#endif
  client.completeWritesAtOnce = true;
  if (!client.CallEntry()) {
    failure = "VirtualChannelEntry failed";
    *error = failure;
    return false;
  }
  client.Initialized();
  client.Connect();
  Pump();
  return true;
}

HWND HostFrame() { return g_host; }

void Deliver(std::string_view message, size_t chunkSize) { testkit::StandInClient::Get().Deliver(message, chunkSize); }

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  // The stand-in client keeps every write for the tests to read: forgotten here, so that a long
  // run's memory stays flat.
  testkit::StandInClient::Get().ClearWrites();
}

bool LoadSessionMessages(const std::string &scriptPath, const std::string &baseDir, std::vector<std::string> *messages,
                         std::string *error) {
  std::string text;
  if (!host::ReadFile(scriptPath, &text)) {
    *error = "cannot read " + scriptPath;
    return false;
  }
  std::vector<host::Step> steps;
  host::ScriptError problem;
  if (!host::ParseScript(text, baseDir, &steps, &problem)) {
    *error = scriptPath + ":" + std::to_string(problem.line) + ": " + problem.reason;
    return false;
  }
  messages->clear();
  for (const host::Step &step : steps)
    if (step.kind == host::StepKind::kDeliver)
      messages->insert(messages->end(), step.messages.begin(), step.messages.end());
  if (messages->empty()) {
    *error = scriptPath + " holds no agent message";
    return false;
  }
  return true;
}

}  // namespace quorvbench
