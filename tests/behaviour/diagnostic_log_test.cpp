// The diagnostic log as support reads it: the records the add-in writes for the events of a
// session, each "HH:MM:SS MILLISECONDS: text" on a line of its own.
#include <regex>
#include <string>

#include "support/harness.h"

namespace quorvtest {
namespace {

class DiagnosticLogTest : public AddinTest {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    EnableLog();  // before the add-in's first record, which decides whether it logs
  }
  // How many records of the log are exactly this text, whatever line ends the C runtime wrote.
  int Records(const std::string &text) {
    const std::string log = ReadLog();
    const std::regex record("[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]+: (.*?)\r?");
    int count = 0;
    size_t start = 0;
    for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
      std::smatch m;
      const std::string line = log.substr(start, end - start);
      if (std::regex_match(line, m, record) && m[1] == text) ++count;
    }
    return count;
  }
};

TEST_F(DiagnosticLogTest, FocusEventsAndTheChannelsTerminationAreRecorded) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  CreateHostFrame();
  StartSession();
  const HWND window = SendForLocalWindow("CREATE,1,0x10,1,0,0");
  ASSERT_NE(window, nullptr);
  PumpMessages();
  TakeSent();
  // Activation by the show may or may not have come; a focus event in a new second is reported.
  StartNewSecond();
  const int focusRecords = Records("Received WM_SETFOCUS or WM_ACTIVATE");
  SendMessageA(window, WM_SETFOCUS, 0, 0);
  EXPECT_EQ(TakeSentPayloads(), std::vector<std::string>{"FOCUS,0x00000010"});
  EXPECT_EQ(Records("Received WM_SETFOCUS or WM_ACTIVATE"), focusRecords + 1);

  EXPECT_EQ(Records("CHANNEL_EVENT_TERMINATED!!!"), 0);
  client().Terminate();
  EXPECT_EQ(Records("CHANNEL_EVENT_TERMINATED!!!"), 1);
}

}  // namespace
}  // namespace quorvtest
