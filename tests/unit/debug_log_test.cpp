// The diagnostic log: decided once per process by the marker file; records with a time prefix.
#include <gtest/gtest.h>

#include "common/debug_log.h"
#include "support/diagnostic_log.h"

#include <windows.h>
#ifndef _WIN32
#include <inspect.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

using quorvtest::kLogFile;
using quorvtest::kLogMarkerFile;
const char *const kMarker = kLogMarkerFile;
const char *const kLog = kLogFile;
std::string ReadLog() { return quorvtest::ReadDiagnosticLog(); }

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    remove(kMarker);
    remove(kLog);
  }
  void TearDown() override {
    remove(kMarker);
    remove(kLog);
    std::error_code ignored;
    std::filesystem::remove(kLog, ignored);
  }
  static void CreateMarker() {
    FILE *f = fopen(kMarker, "w");
    ASSERT_NE(nullptr, f);
    fclose(f);
  }
};

TEST_F(DebugLogTest, OffWithoutMarkerForTheLifeOfTheProcess) {
  LogDebug("first %d\n", 1);
  EXPECT_FALSE(std::filesystem::exists(kLog)) << "no log file is created";
  CreateMarker();
  LogDebug("second\n");
  EXPECT_FALSE(std::filesystem::exists(kLog)) << "a marker created later changes nothing";
}

TEST_F(DebugLogTest, RecordsCarryTheTimePrefixAndRunOnWithoutLineEnds) {
  CreateMarker();
#ifndef _WIN32
  SYSTEMTIME t = {};
  t.wYear = 2026;
  t.wMonth = 12;
  t.wDay = 8;
  t.wHour = 9;
  t.wMinute = 5;
  t.wSecond = 7;
  t.wMilliseconds = 42;
  winsim::SetLocalTime(t);
#endif
  LogDebug("client_do_ack:%0x,%0x\n", 0x1fu, 17u);
  LogDebug("a");
  LogDebug("b\n");
  const std::string log = ReadLog();
#ifndef _WIN32
  EXPECT_EQ("09:05:07 42: client_do_ack:1f,11\n09:05:07 42: a09:05:07 42: b\n", log);
#else
  // The log is a text file: the C runtime writes each line end as CR LF on Windows.
  const std::regex record(
      "\\d\\d:\\d\\d:\\d\\d \\d{1,3}: client_do_ack:1f,11\r\n\\d\\d:\\d\\d:\\d\\d \\d{1,3}: a\\d\\d:\\d\\d:\\d\\d "
      "\\d{1,3}: b\r\n");
  EXPECT_TRUE(std::regex_match(log, record)) << log;
#endif
}

TEST_F(DebugLogTest, TextIsCutAt1023Characters) {
  CreateMarker();
  const std::string exact(1023, 'e');
  const std::string longer(1500, 'l');
  LogDebug("%s", exact.c_str());
  LogDebug("%s", longer.c_str());
  const std::string log = ReadLog();
  const size_t first = log.find(exact);
  ASSERT_NE(std::string::npos, first) << "1023 characters are written whole";
  const size_t second = log.find('l');
  ASSERT_NE(std::string::npos, second);
  EXPECT_EQ(std::string(1023, 'l'), log.substr(second)) << "1500 characters lose all past 1023";
}

TEST_F(DebugLogTest, UnopenableLogFileDropsTheRecordAndKeepsTheHostRunning) {
  CreateMarker();
  // A folder where the log file should be: it cannot be opened for appending.
  std::filesystem::create_directory(kLog);
  LogDebug("lost\n");
  ASSERT_TRUE(std::filesystem::remove(kLog));
  ASSERT_FALSE(std::filesystem::exists(kLog));
  LogDebug("kept\n");
  const std::string log = ReadLog();
  EXPECT_EQ(std::string::npos, log.find("lost"));
  EXPECT_NE(std::string::npos, log.find("kept")) << "the next call tries again";
}

}  // namespace
