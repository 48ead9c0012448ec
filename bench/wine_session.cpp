// The recorded session against the real DLL (a Windows program, run under Wine): the demo
// script's agent messages played again and again through the stand-in client, timed with
// QueryPerformanceCounter. Prints every run and the median in messages per second.
//   quorv-bench-session.exe SCRIPT ICON-FOLDER [SESSIONS-PER-RUN [RUNS]]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_host.h"
#include "client.h"

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s SCRIPT ICON-FOLDER [SESSIONS-PER-RUN [RUNS]]\n", argv[0]);
    return 2;
  }
  const int sessions = argc > 3 ? std::max(1, atoi(argv[3])) : 20;
  const int runs = argc > 4 ? std::max(1, atoi(argv[4])) : 5;
  std::string error;
  std::vector<std::string> messages;
  if (!quorvbench::LoadSessionMessages(argv[1], argv[2], &messages, &error) || !quorvbench::StartAddin(&error)) {
    fprintf(stderr, "quorv-bench-session: %s\n", error.c_str());
    return 1;
  }
  auto play = [&] {
    for (const std::string &m : messages) quorvbench::Deliver(m);
    quorvbench::Pump();
  };
  play();  // the first session creates the window class, the tray window and the caches

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> rates;
  for (int run = 0; run < runs; ++run) {
    QueryPerformanceCounter(&start);
    for (int s = 0; s < sessions; ++s) play();
    QueryPerformanceCounter(&end);
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    rates.push_back(static_cast<double>(messages.size()) * sessions / seconds);
    printf("run %d: %d sessions of %u messages in %.3f s: %.0f messages/s\n", run + 1, sessions,
           static_cast<unsigned>(messages.size()), seconds, rates.back());
  }
  std::sort(rates.begin(), rates.end());
  printf("session_messages_per_second %.0f\n", rates[rates.size() / 2]);
  fflush(stdout);
  // The client unloads the add-in before the host ends.
  testkit::StandInClient::Get().Unload();
  return 0;
}
