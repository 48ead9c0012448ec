// The add-in's diagnostic log as the tests switch it on and read it: the marker file makes the
// add-in write its records to the log file (decided once per process, at its first record).
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace quorvtest {

inline constexpr char kLogMarkerFile[] = "C:\\QVX_EnableDebug";
inline constexpr char kLogFile[] = "c:\\vozuda.log";

inline std::string ReadDiagnosticLog() {
  std::ifstream file(kLogFile, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

// While it lives, the marker file exists and the log starts empty; both go with it.
class ScopedDiagnosticLog {
 public:
  ScopedDiagnosticLog() {
    std::remove(kLogFile);
    if (FILE *marker = std::fopen(kLogMarkerFile, "w")) {
      std::fclose(marker);
      m_enabled = true;
    }
  }
  ~ScopedDiagnosticLog() {
    std::remove(kLogMarkerFile);
    std::remove(kLogFile);
  }
  ScopedDiagnosticLog(const ScopedDiagnosticLog &) = delete;
  ScopedDiagnosticLog &operator=(const ScopedDiagnosticLog &) = delete;

  bool enabled() const { return m_enabled; }
  std::string Read() const { return ReadDiagnosticLog(); }

 private:
  bool m_enabled = false;
};

}  // namespace quorvtest
