// The native benchmark program: runs in a fresh working folder of its own, where the add-in's
// "C:\..." files are ordinary names (no marker file there: the diagnostic log is off) and the
// demo script's icons are linked in.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_paths.h"

namespace quorvbench {

std::string SessionScriptPath() { return std::string(QUORV_SOURCE_DIR) + "/examples/demo.agent"; }

}  // namespace quorvbench

int main(int argc, char **argv) {
  char folder[] = "/tmp/quorv-bench-XXXXXX";
  if (!mkdtemp(folder) || chdir(folder) != 0) {
    perror("quorv_bench: working folder");
    return 1;
  }
  const std::string icons = std::string(QUORV_SOURCE_DIR) + "/examples/icons";
  if (symlink(icons.c_str(), "icons") != 0) perror("quorv_bench: icons");

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The add-in's windows and files go with the process; the folder holds only small files.
  const std::string cleanup = std::string("rm -rf '") + folder + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "quorv_bench: could not remove %s\n", folder);
  return 0;
}
