// The host's script parser and log reader: what a script line becomes, and which messages a
// diagnostic log gives back for a replay.
#include <gtest/gtest.h>

#include "encode.h"
#include "replay.h"
#include "script.h"
#include "transcript.h"

namespace {

using host::ParseLog;
using host::ParseScript;
using host::ScriptError;
using host::Step;
using host::StepKind;

std::vector<Step> Parse(const std::string &text) {
  std::vector<Step> steps;
  ScriptError error;
  EXPECT_TRUE(ParseScript(text, ".", &steps, &error)) << "line " << error.line << ": " << error.reason;
  return steps;
}

std::string ErrorOf(const std::string &text) {
  std::vector<Step> steps;
  ScriptError error;
  EXPECT_FALSE(ParseScript(text, ".", &steps, &error));
  return std::to_string(error.line) + ": " + error.reason;
}

TEST(HostScript, MessagesAreNumberedAndTheirDirectivesPacked) {
  auto steps = Parse(
      "# a comment\n"
      "HELLO,#,2\n"
      "\n"
      "TITLE,#,0x10,{hex Ab — é},0\n"
      "UPDATERGN,#,{region 1,2,30,40 50,60,70,80}\r\n"
      "SYSTRAY,7,0x11,-1,0,0,16,{notify A modify id=3 flags=message|tip callback=0x8001 tip=\"x, y\"}\n"
      "raw hello,#,{not a directive}\n");
  ASSERT_EQ(5u, steps.size());
  EXPECT_EQ("HELLO,1,2", steps[0].messages.at(0));
  EXPECT_EQ(2, steps[0].line);
  EXPECT_EQ("TITLE,2,0x10," + testkit::HexTitle(testkit::Utf8ToUtf16("Ab — é")) + ",0", steps[1].messages.at(0));
  EXPECT_EQ("UPDATERGN,3," + testkit::PackPayload(testkit::RegionData({{1, 2, 30, 40}, {50, 60, 70, 80}})),
            steps[2].messages.at(0));
  testkit::NotifyRecord record;
  record.charType = 'A';
  record.dwMessage = 1;
  record.uID = 3;
  record.uFlags = 1 | 4;
  record.uCallbackMessage = 0x8001;
  record.tip = u"x, y";
  // A number of its own in field 1 is kept and does not advance the running number.
  EXPECT_EQ("SYSTRAY,7,0x11,-1,0,0,16," + testkit::PackPayload(testkit::NotifyRecordBytes(record)),
            steps[3].messages.at(0));
  EXPECT_EQ("hello,#,{not a directive}", steps[4].messages.at(0));
}

TEST(HostScript, DirectivesAndTheirErrorsNameTheLine) {
  auto steps = Parse("focus placeholder setfocus\nclick-tray 0x44 7 rbuttonup at -5,6\nexpect sent A,*,B C\n");
  ASSERT_EQ(3u, steps.size());
  EXPECT_EQ(StepKind::kFocus, steps[0].kind);
  EXPECT_EQ(0u, steps[0].window);
  EXPECT_EQ("setfocus", steps[0].word);
  EXPECT_EQ(0x205, steps[1].rect.left);  // WM_RBUTTONUP
  EXPECT_EQ(-5, steps[1].x);
  EXPECT_EQ("A,*,B C", steps[2].text);

  EXPECT_EQ("2: unknown directive 'jump'", ErrorOf("HELLO,1,2\njump\n"));
  EXPECT_EQ("1: '{' without '}'", ErrorOf("TITLE,1,2,{hex abc,0\n"));
  EXPECT_EQ("1: '}' without '{'", ErrorOf("TITLE,1,2,abc},0\n"));
  EXPECT_EQ("3: '5,5,5' is not a rectangle left,top,right,bottom", ErrorOf("\n\nUPDATERGN,1,{region 5,5,5}\n"));
  EXPECT_EQ("1: unknown notify field 'colour'", ErrorOf("SYSTRAY,1,2,-1,0,0,16,{notify W add colour=3}\n"));
  EXPECT_EQ("1: usage: chunks BYTES (1 to 1600)", ErrorOf("chunks 1601\n"));
  EXPECT_EQ("1: unterminated quoted text", ErrorOf("start-program 0x10 \"notepad\n"));
  EXPECT_EQ("1: icon size must be 1 to 256", ErrorOf("icon SETICON 0x10 0 x.ico\n"));
}

// A log as the add-in writes it on Windows: text mode, so every line end is CR LF.
std::string TextMode(const std::string &log) {
  std::string out;
  for (char c : log) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(HostReplay, ReceivedMessagesComeBackFromTheLog) {
  const std::string session1 =
      "08:00:00 1: ATTACH!!!\n"
      "08:00:01 5: HELLO,1,208:00:01 5: \n\n"
      "08:00:01 9: DETACH!!!\n";
  const std::string session2 =
      "09:00:00 12: ATTACH!!!\n"
      "09:00:01 0: CREATE,2,0x10,1,0,009:00:01 0: \n\n"
      "09:00:01 3: FOCUS,0,0x0000001009:00:01 3: \nSEND \n\n"
      "09:00:01 4: Received WM_SETFOCUS or WM_ACTIVATE\n"
      "09:00:02 77: TITLE,3,0x10,0041,0\nsecond line09:00:02 77: \n\n"
      "09:00:02 78: 09:00:02 78: \n\n";
  for (const std::string &log : {session1 + session2, TextMode(session1 + session2)}) {
    host::ReplayPlan plan = ParseLog(log, false);
    EXPECT_EQ(2, plan.sessions);
    ASSERT_EQ(3u, plan.steps.size());
    EXPECT_EQ("CREATE,2,0x10,1,0,0", plan.steps[0].messages.at(0));
    EXPECT_EQ(6, plan.steps[0].line);
    EXPECT_EQ("TITLE,3,0x10,0041,0\nsecond line", plan.steps[1].messages.at(0));
    EXPECT_EQ("", plan.steps[2].messages.at(0));  // an empty message is a message too
    EXPECT_TRUE(plan.cut.empty());
    EXPECT_EQ(4u, ParseLog(log, true).steps.size());
  }
}

TEST(HostReplay, CutMessagesAreNamedNotReplayed) {
  const std::string whole = "TITLE,1,0x10," + std::string(1010 - 1, 'A');  // 1022 characters
  const std::string cut = "SETICON,2,0x10,11,32,32,32," + std::string(1023 - 27, 'B');
  const std::string log =
      "10:00:00 1: ATTACH!!!\n10:00:00 2: " + whole + "10:00:00 2: \n\n10:00:00 3: " + cut + "10:00:00 3: \n\n";
  host::ReplayPlan plan = ParseLog(log, false);
  ASSERT_EQ(1u, plan.steps.size());
  EXPECT_EQ(whole, plan.steps[0].messages.at(0));
  ASSERT_EQ(1u, plan.cut.size());
  EXPECT_EQ(0u, plan.cut[0].rfind("line 4: a message of 1023 characters or more was cut", 0)) << plan.cut[0];
}

TEST(HostTranscript, LongFieldsAreShortened) {
  EXPECT_EQ("FOCUS,1,0x00000010", host::Abbreviate("FOCUS,1,0x00000010"));
  const std::string payload(200, 'Q');
  EXPECT_EQ("UPDATERGN,3," + payload.substr(0, 40) + "...[200 chars],x",
            host::Abbreviate("UPDATERGN,3," + payload + ",x"));
}

}  // namespace
