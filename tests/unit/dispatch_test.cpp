// Messages from the agent: assembly from chunks, fields, base-0 conversion, keyword routing.
#include <gtest/gtest.h>

#include "protocol/dispatch.h"
#include "common/settings.h"
#include "support/diagnostic_log.h"

#include <algorithm>

namespace {

TEST(MessageFields, FieldsAreSplitAtEveryCommaAndConvertedInBaseZero) {
  MessageFields f("SETICON,1,0x1A,0,x,x,32,abc");
  EXPECT_EQ(8u, f.Count());
  EXPECT_EQ(1u, f.U(1));
  EXPECT_EQ(26u, f.U(2));
  EXPECT_EQ(0, f.S(3));
  EXPECT_EQ(32, f.S(6));
  EXPECT_EQ("abc", f.Text(7));
  EXPECT_EQ(32, MessageFields("SETICON,1,0x1A,0,x,x,0x20,abc").S(6));
  EXPECT_EQ(32, MessageFields("SETICON,1,2,3,x,x,040,abc").S(6)) << "040 is octal 32";

  f = MessageFields("CREATE,1,,3,4,5");
  EXPECT_EQ(0u, f.U(2)) << "an empty field converts to 0";
  EXPECT_EQ(3u, f.U(3));
  EXPECT_EQ(5u, f.U(5));

  f = MessageFields("TITLE,1,2,a,b,c");
  EXPECT_EQ("a", f.Text(3)) << "a comma inside a text field splits it";
  EXPECT_EQ(0, f.S(4));

  // Signed and unsigned fields differ for signs and large values.
  f = MessageFields("SYSTRAY,1,0xFFFFFFFF,-1,,,32,p");
  EXPECT_EQ(0xFFFFFFFFu, f.U(2));
  EXPECT_EQ(-1, f.S(3));
  f = MessageFields("CREATE,1,-1,99999999999,0x7fffffff,010");
  EXPECT_EQ(0xFFFFFFFFu, f.U(2)) << "strtoul negates";
  EXPECT_EQ(0xFFFFFFFFu, f.U(3)) << "saturates";
  EXPECT_EQ(8u, f.U(5)) << "leading zero is octal";
  EXPECT_EQ(0x7FFFFFFF, MessageFields("SETICON,1,2,0x80000000,,,32,p").S(3)) << "strtol saturates";

  f = MessageFields("UPDATERGN,1,QUJD\r\n");
  EXPECT_EQ("QUJD\r\n", f.Text(2)) << "the last field runs to the end, line end included";
  EXPECT_EQ(9u, MessageFields("ACK,0x2,3,a,,b,c,d,e,f,g").Count()) << "counted up to the ninth field";
}

TEST(FindCommand, KeywordsMatchExactlyAndEachRowNeedsItsFields) {
  const auto keyword = [](std::string_view field) -> std::string {
    const CommandRow *row = FindCommand(field);
    return row ? row->keyword : "(none)";
  };
  for (const char *exact : {"DESTROYGRP", "DESTROY"}) EXPECT_EQ(exact, keyword(exact));
  for (const char *none : {"hello", "HELLO ", "DESTROYG", ""}) EXPECT_EQ("(none)", keyword(none)) << none;
  const std::pair<const char *, unsigned> needed[] = {
      {"ACK", 3},     {"CREATE", 6},  {"DESTROY", 4},   {"SHOWWINDOW", 4}, {"DESTROYGRP", 4},
      {"HELLO", 3},   {"SETICON", 8}, {"SYNCBEGIN", 1}, {"SYNCEND", 1},    {"TITLE", 5},
      {"ZCHANGE", 5}, {"SYSTRAY", 8}, {"UPDATERGN", 3}, {"HEARTBEAT", 1},
  };
  for (const auto &[name, fields] : needed) {
    const CommandRow *row = FindCommand(name);
    ASSERT_NE(nullptr, row) << name;
    EXPECT_EQ(fields, row->fieldsNeeded) << name;
  }
}

// Chunks are collected until the announced total; HELLO,x,3 switches the display mode.
TEST(OnChannelData, MessagesAreActedOnOnlyWhenWhole) {
  SetDisplayMode(DisplayMode::kShaped);
  const std::string message = "HELLO,7,3";
  OnChannelData(message.data(), 4, static_cast<UINT32>(message.size()));
  OnChannelData(message.data() + 4, 0, static_cast<UINT32>(message.size()));
  EXPECT_EQ(DisplayMode::kShaped, GetDisplayMode()) << "nothing happens before the last chunk";
  OnChannelData(message.data() + 4, 5, static_cast<UINT32>(message.size()));
  EXPECT_EQ(DisplayMode::kNoCaption, GetDisplayMode());

  SetDisplayMode(DisplayMode::kShaped);
  const std::string two = "HELLO,7,2";
  OnChannelData(two.data(), static_cast<UINT32>(two.size()), static_cast<UINT32>(two.size()));
  EXPECT_EQ(DisplayMode::kShaped, GetDisplayMode()) << "version 2 leaves the mode alone";
  const std::string hex = "HELLO,7,0x3";
  OnChannelData(hex.data(), static_cast<UINT32>(hex.size()), static_cast<UINT32>(hex.size()));
  EXPECT_EQ(DisplayMode::kNoCaption, GetDisplayMode());
}

TEST(OnChannelData, ChunksOfTenTenAndFiveMakeOneMessageAndTheLogShowsIt) {
  quorvtest::ScopedDiagnosticLog log;
  ASSERT_TRUE(log.enabled());
  const std::string message = "ACK,0x1f,17,padding,xxxxx";  // 25 bytes
  ASSERT_EQ(25u, message.size());
  OnChannelData(message.data(), 10, 25);
  OnChannelData(message.data() + 10, 10, 25);
  EXPECT_EQ(std::string::npos, log.Read().find("client_do_ack"));
  OnChannelData(message.data() + 20, 5, 25);
  const std::string text = log.Read();
  EXPECT_NE(std::string::npos, text.find(message)) << "the message is logged verbatim";
  const size_t ack = text.find("client_do_ack:1f,11");
  EXPECT_NE(std::string::npos, ack);
  EXPECT_EQ(text.find("client_do_ack"), text.rfind("client_do_ack")) << "dispatched once";
}

// The field search is made as chunks arrive: a chunk may end anywhere, at or next to a comma, and
// each message starts a search of its own.
TEST(OnChannelData, FieldsAreFoundWhereverTheChunksEnd) {
  quorvtest::ScopedDiagnosticLog log;
  ASSERT_TRUE(log.enabled());
  const std::string many = "ACK,0x2,3,a,,b,c,d,e,f,g";  // more commas than any command reads
  for (size_t at = 0; at < many.size(); ++at) OnChannelData(many.data() + at, 1, static_cast<UINT32>(many.size()));
  const std::string split = "ACK,0x1f,17";
  OnChannelData(split.data(), 4, static_cast<UINT32>(split.size()));      // ends just after a comma
  OnChannelData(split.data() + 4, 4, static_cast<UINT32>(split.size()));  // ends just before one
  OnChannelData(split.data() + 8, 3, static_cast<UINT32>(split.size()));
  const std::string whole = "ACK,5,-1";
  OnChannelData(whole.data(), static_cast<UINT32>(whole.size()), static_cast<UINT32>(whole.size()));
  const std::string tooFew = "ACK,";  // one chunk ends with the comma: two fields, three needed
  OnChannelData(tooFew.data(), 3, 4);
  OnChannelData(tooFew.data() + 3, 1, 4);
  const std::string text = log.Read();
  const size_t first = text.find("client_do_ack:2,3");
  const size_t second = text.find("client_do_ack:1f,11");
  const size_t third = text.find("client_do_ack:5,ffffffff");
  EXPECT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, second);
  EXPECT_NE(std::string::npos, third);
  EXPECT_TRUE(first < second && second < third);
  EXPECT_NE(std::string::npos, text.find("Message ACK has 2 fields, 3 needed: dropped"));
}

// The largest legitimate message is an incompressible 4 MiB payload in base64 (about 5.6 MiB):
// 8 MiB are taken, one byte more is skipped whole.
TEST(OnChannelData, MessagesOfUpTo8MiBAreTaken) {
  constexpr size_t kCap = 8u << 20;
  for (const size_t size : {kCap, kCap + 1}) {
    SetDisplayMode(DisplayMode::kShaped);
    std::string message = "HELLO,7,3,";
    message.resize(size, 'x');
    for (size_t at = 0; at < size; at += 1600) {
      const UINT32 length = static_cast<UINT32>(std::min<size_t>(1600, size - at));
      OnChannelData(message.data() + at, length, static_cast<UINT32>(size));
    }
    EXPECT_EQ(size == kCap ? DisplayMode::kNoCaption : DisplayMode::kShaped, GetDisplayMode()) << size;
  }
  const std::string hello = "HELLO,7,3";
  OnChannelData(hello.data(), static_cast<UINT32>(hello.size()), static_cast<UINT32>(hello.size()));
  EXPECT_EQ(DisplayMode::kNoCaption, GetDisplayMode()) << "the message after a skipped one is read";
}

TEST(OnChannelData, OversizedMessagesAreSkippedWholeAndTheNextOneIsRead) {
  SetDisplayMode(DisplayMode::kShaped);
  // A total far beyond any real message: its bytes are counted off, never kept.
  const UINT32 hugeTotal = 0xFFFFFFF0u;
  std::string chunk(1600, 'A');
  chunk.replace(0, 9, "HELLO,1,3");
  OnChannelData(chunk.data(), static_cast<UINT32>(chunk.size()), hugeTotal);
  EXPECT_EQ(DisplayMode::kShaped, GetDisplayMode());
  // A message whose total the client announced as smaller than what came (the client closes a
  // message at the total): the skipped one ends when its count is reached.
  const std::string tail(100, 'B');
  OnChannelData(tail.data(), static_cast<UINT32>(tail.size()), 1700);  // 1600 + 100 reach 1700
  const std::string hello = "HELLO,7,3";
  OnChannelData(hello.data(), static_cast<UINT32>(hello.size()), static_cast<UINT32>(hello.size()));
  EXPECT_EQ(DisplayMode::kNoCaption, GetDisplayMode()) << "the message after a skipped one is read";
}

}  // namespace
