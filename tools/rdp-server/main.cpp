// quorv-rdp-server: serves an X display as a Remote Desktop session and relays the "_quorv_"
// channel to the agent. See docs/rdp-server.md.
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "server.h"

int main(int argc, char **argv) {
  rdpserver::Options options;
  std::string error;
  if (!rdpserver::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    std::fprintf(stderr, "quorv-rdp-server: %s (see quorv-rdp-server --help)\n", error.c_str());
    return rdpserver::kUsageError;
  }
  if (options.help) {
    std::fputs(rdpserver::kUsage, stdout);
    return 0;
  }
  rdpserver::Server server(options);
  return server.Run();
}
