#include "bench_host.h"

#include "client.h"
#include "desktop.h"
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
  const std::string ini = testkit::ExecutableDirectory() + "\\Language.ini";
  if (!testkit::WriteLanguageIni(ini, kHostTitle)) {
    failure = "cannot write " + ini;
    *error = failure;
    return false;
  }

  if (!testkit::CreateHostFrame("QuorvBenchFrame", "ATL:QuorvBenchControl", kHostTitle, false)) {
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
  if (!client.CallEntryAndConnect()) {
    failure = "VirtualChannelEntry failed";
    *error = failure;
    return false;
  }
  Pump();
  return true;
}

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
