// Messages from the agent: assembly from chunks, fields, base-0 conversion, keyword routing.
#include <gtest/gtest.h>

#include "protocol/dispatch.h"
#include "session/settings.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

TEST(DecodeMessage, FieldsAreSplitAtEveryCommaAndConvertedInBaseZero) {
  DecodedMessage d = DecodeMessage("SETICON,1,0x1A,0,x,x,32,abc");
  EXPECT_EQ(Command::kSetIcon, d.command);
  EXPECT_EQ(1u, d.u[0]);
  EXPECT_EQ(26u, d.u[1]);
  EXPECT_EQ(0, d.s);
  EXPECT_TRUE(d.large);
  EXPECT_EQ("abc", d.text);
  EXPECT_FALSE(DecodeMessage("SETICON,1,0x1A,0,x,x,16,abc").large);
  EXPECT_TRUE(DecodeMessage("SETICON,1,0x1A,0,x,x,0x20,abc").large);
  EXPECT_TRUE(DecodeMessage("SETICON,1,2,3,x,x,040,abc").large) << "040 is octal 32";

  d = DecodeMessage("CREATE,1,,3,4,5");
  EXPECT_EQ(Command::kCreate, d.command);
  EXPECT_EQ(0u, d.u[1]) << "an empty field converts to 0";
  EXPECT_EQ(3u, d.u[2]);
  EXPECT_EQ(5u, d.u[4]);

  d = DecodeMessage("TITLE,1,2,a,b,c");
  EXPECT_EQ(Command::kTitle, d.command);
  EXPECT_EQ("a", d.text) << "a comma inside a text field splits it";
  EXPECT_EQ(0, d.s);

  // Signed and unsigned fields differ for signs and large values.
  d = DecodeMessage("SYSTRAY,1,0xFFFFFFFF,-1,,,32,p");
  EXPECT_EQ(0xFFFFFFFFu, d.u[1]);
  EXPECT_EQ(-1, d.s);
  d = DecodeMessage("CREATE,1,-1,99999999999,0x7fffffff,010");
  EXPECT_EQ(0xFFFFFFFFu, d.u[1]) << "strtoul negates";
  EXPECT_EQ(0xFFFFFFFFu, d.u[2]) << "saturates";
  EXPECT_EQ(8u, d.u[4]) << "leading zero is octal";
  d = DecodeMessage("SETICON,1,2,0x80000000,,,32,p");
  EXPECT_EQ(0x7FFFFFFF, d.s) << "strtol saturates";

  d = DecodeMessage("UPDATERGN,1,QUJD\r\n");
  EXPECT_EQ(Command::kUpdateRgn, d.command);
  EXPECT_EQ("QUJD\r\n", d.text) << "the last field runs to the end, line end included";
}

TEST(DecodeMessage, KeywordsMatchExactlyAndTruncatedMessagesAreDropped) {
  EXPECT_EQ(Command::kDestroyGroup, DecodeMessage("DESTROYGRP,1,5,0").command);
  EXPECT_EQ(Command::kDestroy, DecodeMessage("DESTROY,1,5,0").command);
  EXPECT_EQ(Command::kNone, DecodeMessage("hello,1,3").command);
  EXPECT_EQ(Command::kNone, DecodeMessage("HELLO ,1,3").command);
  EXPECT_EQ(Command::kNone, DecodeMessage("HELLO").command) << "HELLO reads field 2";
  EXPECT_EQ(Command::kNone, DecodeMessage("").command);
  EXPECT_EQ(Command::kNone, DecodeMessage("CREATE,1,2,3,4").command) << "five fields of six";
  EXPECT_EQ(Command::kNone, DecodeMessage("SETICON,1,2,3,4,5,32").command);
  EXPECT_EQ(Command::kNone, DecodeMessage("TITLE,1,2,0041").command);
  EXPECT_EQ(Command::kHeartbeat, DecodeMessage("HEARTBEAT").command);
  EXPECT_EQ(Command::kSyncBegin, DecodeMessage("SYNCBEGIN").command);
  EXPECT_EQ(Command::kSyncEnd, DecodeMessage("SYNCEND").command);
  EXPECT_EQ(Command::kZChange, DecodeMessage("ZCHANGE,1,2,3,4").command);
  EXPECT_EQ(Command::kAck, DecodeMessage("ACK,0x1f,17").command);
  EXPECT_EQ(Command::kNone, DecodeMessage("ACK,1").command);
}

// Chunks are collected until the announced total; HELLO,x,3 switches the display mode.
TEST(OnChannelData, MessagesAreActedOnOnlyWhenWhole) {
  SetDisplayMode(0);
  const std::string message = "HELLO,7,3";
  OnChannelData(message.data(), 4, static_cast<UINT32>(message.size()));
  OnChannelData(message.data() + 4, 0, static_cast<UINT32>(message.size()));
  EXPECT_EQ(0, GetDisplayMode()) << "nothing happens before the last chunk";
  OnChannelData(message.data() + 4, 5, static_cast<UINT32>(message.size()));
  EXPECT_EQ(1, GetDisplayMode());

  SetDisplayMode(0);
  const std::string two = "HELLO,7,2";
  OnChannelData(two.data(), static_cast<UINT32>(two.size()), static_cast<UINT32>(two.size()));
  EXPECT_EQ(0, GetDisplayMode()) << "version 2 leaves the mode alone";
  const std::string hex = "HELLO,7,0x3";
  OnChannelData(hex.data(), static_cast<UINT32>(hex.size()), static_cast<UINT32>(hex.size()));
  EXPECT_EQ(1, GetDisplayMode());
}

TEST(OnChannelData, ChunksOfTenTenAndFiveMakeOneMessageAndTheLogShowsIt) {
  FILE *marker = fopen("C:\\QVX_EnableDebug", "w");
  ASSERT_NE(nullptr, marker);
  fclose(marker);
  remove("c:\\vozuda.log");
  const std::string message = "ACK,0x1f,17,padding,xxxxx";  // 25 bytes
  ASSERT_EQ(25u, message.size());
  OnChannelData(message.data(), 10, 25);
  OnChannelData(message.data() + 10, 10, 25);
  std::ifstream before("c:\\vozuda.log", std::ios::binary);
  std::stringstream early;
  early << before.rdbuf();
  EXPECT_EQ(std::string::npos, early.str().find("client_do_ack"));
  OnChannelData(message.data() + 20, 5, 25);
  std::ifstream after("c:\\vozuda.log", std::ios::binary);
  std::stringstream log;
  log << after.rdbuf();
  const std::string text = log.str();
  EXPECT_NE(std::string::npos, text.find(message)) << "the message is logged verbatim";
  const size_t ack = text.find("client_do_ack:1f,11");
  EXPECT_NE(std::string::npos, ack);
  EXPECT_EQ(text.find("client_do_ack"), text.rfind("client_do_ack")) << "dispatched once";
  remove("C:\\QVX_EnableDebug");
  remove("c:\\vozuda.log");
}

// The field search is made as chunks arrive: a chunk may end anywhere, at or next to a comma, and
// each message starts a search of its own.
TEST(OnChannelData, FieldsAreFoundWhereverTheChunksEnd) {
  FILE *marker = fopen("C:\\QVX_EnableDebug", "w");
  ASSERT_NE(nullptr, marker);
  fclose(marker);
  remove("c:\\vozuda.log");
  const std::string many = "ACK,0x2,3,a,,b,c,d,e,f,g";  // more commas than any command reads
  for (size_t at = 0; at < many.size(); ++at) OnChannelData(many.data() + at, 1, static_cast<UINT32>(many.size()));
  const std::string split = "ACK,0x1f,17";
  OnChannelData(split.data(), 4, static_cast<UINT32>(split.size()));  // ends just after a comma
  OnChannelData(split.data() + 4, 4, static_cast<UINT32>(split.size()));  // ends just before one
  OnChannelData(split.data() + 8, 3, static_cast<UINT32>(split.size()));
  const std::string whole = "ACK,5,-1";
  OnChannelData(whole.data(), static_cast<UINT32>(whole.size()), static_cast<UINT32>(whole.size()));
  const std::string tooFew = "ACK,";  // one chunk ends with the comma: two fields, three needed
  OnChannelData(tooFew.data(), 3, 4);
  OnChannelData(tooFew.data() + 3, 1, 4);
  std::ifstream in("c:\\vozuda.log", std::ios::binary);
  std::stringstream log;
  log << in.rdbuf();
  const std::string text = log.str();
  const size_t first = text.find("client_do_ack:2,3");
  const size_t second = text.find("client_do_ack:1f,11");
  const size_t third = text.find("client_do_ack:5,ffffffff");
  EXPECT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, second);
  EXPECT_NE(std::string::npos, third);
  EXPECT_TRUE(first < second && second < third);
  EXPECT_NE(std::string::npos, text.find("Message ACK has 2 fields, 3 needed: dropped"));
  remove("C:\\QVX_EnableDebug");
  remove("c:\\vozuda.log");
}

TEST(OnChannelData, OversizedMessagesAreSkippedWholeAndTheNextOneIsRead) {
  SetDisplayMode(0);
  // A total far beyond any real message: its bytes are counted off, never kept.
  const UINT32 hugeTotal = 0xFFFFFFF0u;
  std::string chunk(1600, 'A');
  chunk.replace(0, 9, "HELLO,1,3");
  OnChannelData(chunk.data(), static_cast<UINT32>(chunk.size()), hugeTotal);
  EXPECT_EQ(0, GetDisplayMode());
  // A message whose total the client announced as smaller than what came (the client closes a
  // message at the total): the skipped one ends when its count is reached.
  const std::string tail(100, 'B');
  OnChannelData(tail.data(), static_cast<UINT32>(tail.size()), 1700);  // 1600 + 100 reach 1700
  const std::string hello = "HELLO,7,3";
  OnChannelData(hello.data(), static_cast<UINT32>(hello.size()), static_cast<UINT32>(hello.size()));
  EXPECT_EQ(1, GetDisplayMode()) << "the message after a skipped one is read";
}

}  // namespace
