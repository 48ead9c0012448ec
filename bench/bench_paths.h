// Where the native benchmarks find the source tree's files.
#pragma once

#include <string>

namespace quorvbench {

// examples/demo.agent of the source tree.
std::string SessionScriptPath();

}  // namespace quorvbench
