// The add-in's messages as the agent reads them: lines cut from a byte stream, each checked field
// by field; anything that does not fit is refused with a reason.
#include <gtest/gtest.h>

#include "inbound.h"

namespace {

using agent::Command;
using agent::CommandKind;
using agent::LineSplitter;
using agent::ParseCommand;

std::vector<std::string> Split(LineSplitter &splitter, std::initializer_list<std::string_view> chunks) {
  std::vector<std::string> lines;
  for (std::string_view chunk : chunks) splitter.Add(chunk, &lines);
  return lines;
}

TEST(LineSplitter, LinesAcrossChunksWithAndWithoutCarriageReturns) {
  LineSplitter splitter(64);
  EXPECT_EQ((std::vector<std::string>{"FOCUS,0,0x00000001", "WNDMSG,1,0x2,16,0,0", ""}),
            Split(splitter, {"FOCUS,0,0x0000", "0001\r\nWNDMSG,1,0x2", ",16,0,0\n", "\n", "SETCUR"}));
  EXPECT_EQ((std::vector<std::string>{"SETCURSORPOS,2,0x3,4,5"}), Split(splitter, {"SORPOS,2,0x3,4,5\n"}));
  EXPECT_EQ(0u, splitter.TakeDropped());
}

TEST(LineSplitter, ATooLongLineIsDroppedWholeAndTheNextOneIsRead) {
  LineSplitter splitter(16);
  const std::string huge(1 << 20, 'A');  // a megabyte without a line end, in pieces
  std::vector<std::string> lines = Split(splitter, {huge, huge, "AAAA\nFOCUS,0,0x1\n"});
  EXPECT_EQ((std::vector<std::string>{"FOCUS,0,0x1"}), lines);
  EXPECT_EQ(1u, splitter.TakeDropped());
  // Exactly the limit is kept (its carriage return does not count), one more byte is not.
  lines = Split(splitter, {std::string(16, 'B') + "\r\n" + std::string(17, 'C') + "\n"});
  EXPECT_EQ((std::vector<std::string>{std::string(16, 'B')}), lines);
  EXPECT_EQ(1u, splitter.TakeDropped());
}

TEST(ParseCommand, TheFormsTheAddInSends) {
  Command c = ParseCommand("FOCUS,5,0x000a0012");
  EXPECT_EQ(CommandKind::kFocus, c.kind);
  EXPECT_EQ(0x000a0012u, c.window);

  c = ParseCommand("WNDMSG,7,0x000c0030,787,0,9175800");
  ASSERT_EQ(CommandKind::kWindowMessage, c.kind);
  EXPECT_EQ(0x000c0030u, c.window);
  EXPECT_EQ(787u, c.message);
  EXPECT_EQ(0u, c.wParam);
  EXPECT_EQ(9175800u, c.lParam);

  // Coordinates left of or above the primary monitor come as their 32-bit two's complement.
  c = ParseCommand("SETCURSORPOS,9,0x000d0044,4294967196,1010");
  ASSERT_EQ(CommandKind::kCursor, c.kind);
  EXPECT_EQ(-100, c.x);
  EXPECT_EQ(1010, c.y);

  // The program text is the rest of the line, commas and all.
  c = ParseCommand("StartProg,13,notepad.exe C:\\Users\\demo\\a,b.txt");
  ASSERT_EQ(CommandKind::kStartProgram, c.kind);
  EXPECT_EQ("notepad.exe C:\\Users\\demo\\a,b.txt", c.text);

  c = ParseCommand("IME,14,0x00000000,20320");
  ASSERT_EQ(CommandKind::kIme, c.kind);
  EXPECT_EQ(20320u, c.character);

  EXPECT_EQ(CommandKind::kUnknown, ParseCommand("HELLO,1,2").kind);
  EXPECT_EQ(CommandKind::kUnknown, ParseCommand("focus,1,0x1").kind) << "keywords are case-sensitive";
  EXPECT_EQ(CommandKind::kUnknown, ParseCommand("").kind);
}

TEST(ParseCommand, FieldsThatDoNotFitAreRefusedWithAReason) {
  const struct {
    const char *line;
    const char *problem;
  } cases[] = {
      {"FOCUS", "no message counter"},
      {"FOCUS,x,0x1", "the message counter is not a number"},
      {"FOCUS,1", "no payload"},
      {"FOCUS,1,0x1,2", "1 fields expected after the counter, 2 found"},
      {"FOCUS,1,0x100000000", "field 2 '0x100000000' is not a 32-bit number"},
      {"FOCUS,1,4294967296", "field 2 '4294967296' is not a 32-bit number"},
      {"FOCUS,1,-1", "field 2 '-1' is not a 32-bit number"},
      {"FOCUS,1, 0x1", "field 2 ' 0x1' is not a 32-bit number"},
      {"FOCUS,1,0x", "field 2 '0x' is not a 32-bit number"},
      {"FOCUS,1,", "field 2 '' is not a 32-bit number"},
      {"WNDMSG,1,0x1,16", "4 fields expected after the counter, 2 found"},
      {"WNDMSG,1,0x1,16,0,0x1g", "field 5 '0x1g' is not a 32-bit number"},
      {"SETCURSORPOS,1,0x1,5", "3 fields expected after the counter, 2 found"},
      {"StartProg,1,", "no program text"},
  };
  for (const auto &c : cases) {
    const Command parsed = ParseCommand(c.line);
    EXPECT_EQ(CommandKind::kMalformed, parsed.kind) << c.line;
    EXPECT_EQ(c.problem, parsed.problem) << c.line;
  }
}

TEST(ParseCommand, WhatTheLogShowsOfHostileBytesIsPrintableAndBounded) {
  const Command c = ParseCommand(std::string("\x1b[2J\xff\0kw", 8) + std::string(500, 'x') + ",1,2");
  EXPECT_EQ(CommandKind::kUnknown, c.kind);
  EXPECT_EQ("\\x1B[2J\\xFF\\x00kwxxxxxxxxxxxxxxx...", c.keyword);
  const Command digits = ParseCommand("FOCUS,1,0x" + std::string(300, '0') + "1");
  EXPECT_EQ(CommandKind::kFocus, digits.kind) << "leading zeros are no overflow";
  EXPECT_EQ(1u, digits.window);
}

}  // namespace
