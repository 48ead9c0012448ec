// The native benchmark program: runs in a fresh working folder of its own, where the add-in's
// "C:\..." files are ordinary names (no marker file there: the diagnostic log is off) and the
// demo script's icons are linked in.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "encode.h"

int main(int argc, char **argv) {
  char folder[] = "/tmp/quorv-bench-XXXXXX";
  if (!mkdtemp(folder) || chdir(folder) != 0) {
    perror("quorv_bench: working folder");
    return 1;
  }
  const std::string icons = testkit::SourceTreePath("examples/icons");
  if (symlink(icons.c_str(), "icons") != 0) perror("quorv_bench: icons");

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The add-in's windows and files go with the process; the folder holds only small files.
  std::error_code failure;
  std::filesystem::remove_all(folder, failure);  // the icons link goes, not what it points to
  if (failure) fprintf(stderr, "quorv_bench: could not remove %s\n", folder);
  return 0;
}
