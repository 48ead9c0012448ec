// The RDP server's parts that need neither FreeRDP nor X: line framing, bounded queues, options,
// scripts, and the tile comparison that decides what is sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "lines.h"
#include "options.h"
#include "pointer_shape.h"
#include "script.h"
#include "tiles.h"

namespace rdpserver {
namespace {

std::vector<std::string> Split(LineSplitter &splitter, const std::string &bytes) {
  std::vector<std::string> lines;
  splitter.Feed(bytes.data(), bytes.size(), [&](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

TEST(LineSplitter, LinesCutAnywhereComeOutWholeAndOverlongOnesGoWhole) {
  LineSplitter s(10);
  EXPECT_EQ(Split(s, "HEL"), std::vector<std::string>{});
  EXPECT_TRUE(s.MidLine());
  EXPECT_EQ(Split(s, "LO,1,2\r\nFOCUS,2,0\n\nA"), (std::vector<std::string>{"HELLO,1,2", "FOCUS,2,0", ""}));
  // 11 bytes: dropped whole, even when its end comes in a later piece; the next line is intact.
  EXPECT_EQ(Split(s, "BCDEFGHIJK"), std::vector<std::string>{});
  EXPECT_EQ(Split(s, "LMN\nOK\n"), std::vector<std::string>{"OK"});
  EXPECT_EQ(s.dropped(), 1u);
  // A line of exactly the limit passes.
  EXPECT_EQ(Split(s, "0123456789\n"), std::vector<std::string>{"0123456789"});
  // What a closed connection leaves unfinished is forgotten, not glued to the next one's first line.
  Split(s, "HALF");
  EXPECT_EQ(s.Reset(), 4u);
  EXPECT_FALSE(s.MidLine());
  EXPECT_EQ(Split(s, "NEW\n"), std::vector<std::string>{"NEW"});
}

TEST(ByteQueue, KeepsOrderAcrossPartialWritesAndSaysWhenFull) {
  ByteQueue q(100 * 1024);
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string line = "ACK," + std::to_string(i) + "\n";
    q.Append(line);
    expected += line;
  }
  EXPECT_FALSE(q.Full());
  std::string taken;
  while (!q.Empty()) {  // a socket that takes 7 bytes at a time
    const size_t n = q.Size() < 7 ? q.Size() : 7;
    taken.append(q.Front(), n);
    q.Consume(n);
  }
  EXPECT_EQ(taken, expected);
  q.Append(std::string(100 * 1024, 'x'));
  EXPECT_TRUE(q.Full());
  q.Consume(1);
  EXPECT_FALSE(q.Full());
}

TEST(Options, AcceptsTheDocumentedFormsAndNamesWhatIsWrong) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--display", ":5", "--port", "0", "--agent-port", "47101", "--log", "l.txt", "--time-limit",
                            "30", "--once", "--user", "u", "--password", ""},
                           &o, &error))
      << error;
  EXPECT_EQ(o.display, ":5");
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.agentPort, 47101);
  EXPECT_EQ(o.timeLimitSeconds, 30u);
  EXPECT_EQ(o.clients, 1u);
  EXPECT_EQ(o.user, "u");

  struct Bad {
    std::vector<std::string> args;
    std::string error;
  } bad[] = {
      {{}, "--display :N is required"},
      {{"--display", ":5", "--port", "65536"}, "--port: '65536' is not a port (0 to 65535)"},
      {{"--display", ":5", "--port", "-1"}, "--port: '-1' is not a port (0 to 65535)"},
      {{"--display", ":5", "--time-limit", "0"}, "--time-limit: '0' is not seconds (1 to 604800)"},
      {{"--display", ":5", "--port", "47100"}, "--port and --agent-port must differ"},
      {{"--display", ":5", "--password", "p"}, "--password needs --user"},
      {{"--display"}, "--display needs an X display such as :5"},
      {{"--display", ":5", "--wobble"}, "unknown option '--wobble'"},
  };
  for (const Bad &b : bad) {
    Options other;
    error.clear();
    EXPECT_FALSE(ParseOptions(b.args, &other, &error));
    EXPECT_EQ(error, b.error);
  }
  Options help;
  EXPECT_TRUE(ParseOptions({"--help"}, &help, &error));
  EXPECT_TRUE(help.help);
}

TEST(Script, KeepsAgentLinesVerbatimSkipsCommentsAndRefusesUnknownDirectives) {
  const std::string file = testing::TempDir() + "rdp-server-script.agent";
  {
    std::ofstream out(file, std::ios::binary);
    out << "# a comment\r\nHELLO,1,2\r\n\n#!wait 250\nTITLE,2,0x00000001,00E9 ,0\n";
  }
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ReadScript(file, &steps, &error)) << error;
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].line, "HELLO,1,2");
  EXPECT_EQ(steps[1].line, "");
  EXPECT_EQ(steps[1].waitMs, 250u);
  EXPECT_EQ(steps[2].line, "TITLE,2,0x00000001,00E9 ,0");

  {
    std::ofstream out(file, std::ios::binary);
    out << "HELLO,1,2\n#!wait soon\n";
  }
  EXPECT_FALSE(ReadScript(file, &steps, &error));
  EXPECT_EQ(error, file + ":2: '#!wait soon': milliseconds from 0 to 600000 expected");
  {
    std::ofstream out(file, std::ios::binary);
    out << "#!focus 0x1\n";
  }
  EXPECT_FALSE(ReadScript(file, &steps, &error));
  EXPECT_EQ(error, file + ":1: unknown directive 'focus 0x1' (only '#!wait MS' and '#!cut')");
  std::remove(file.c_str());
  EXPECT_FALSE(ReadScript(file, &steps, &error));
}

TEST(Script, CutMarksTheNextAgentLineAndNeedsOne) {
  const std::string file = testing::TempDir() + "rdp-server-cut.agent";
  auto read = [&](const char *text, std::vector<ScriptStep> *steps, std::string *error) {
    {
      std::ofstream out(file, std::ios::binary);
      out << text;
    }
    steps->clear();
    return ReadScript(file, steps, error);
  };
  std::vector<ScriptStep> steps;
  std::string error;
  // Comments between the directive and its line change nothing; only that line is marked.
  ASSERT_TRUE(read("HELLO,1,2\n#!cut\n# the long one\n\nSETICON,2,x\r\nHELLO,3,2\n", &steps, &error)) << error;
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_FALSE(steps[0].cut);
  EXPECT_TRUE(steps[1].cut);
  EXPECT_EQ(steps[1].line, "SETICON,2,x");
  EXPECT_FALSE(steps[2].cut);
  // A cut of nothing, or of a pause, is a mistake in the script.
  EXPECT_FALSE(read("HELLO,1,2\n#!cut\n", &steps, &error));
  EXPECT_EQ(error, file + ":2: '#!cut' must be followed by an agent line");
  EXPECT_FALSE(read("#!cut\n#!wait 10\nHELLO,1,2\n", &steps, &error));
  EXPECT_EQ(error, file + ":2: '#!cut' must be followed by an agent line, not a directive");
  EXPECT_FALSE(read("#!cut 5\nHELLO,1,2\n", &steps, &error));
  EXPECT_EQ(error, file + ":1: unknown directive 'cut 5' (only '#!wait MS' and '#!cut')");
  std::remove(file.c_str());
}

TEST(Tiles, OnlyChangedTilesGoAndEdgeTilesAreCutToTheScreen) {
  // 130 x 70: tiles of 64, 64 and 2 columns; 64 and 6 rows.
  const int w = 130, h = 70, stride = w * 4;
  std::vector<uint8_t> now(static_cast<size_t>(stride) * h, 0x11), sent(now.size(), 0);
  Picture picture{now.data(), w, h, stride};
  EXPECT_EQ(ChangedTiles(picture, sent.data(), false).size(), 6u);  // everything differs at first
  EXPECT_TRUE(ChangedTiles(picture, sent.data(), false).empty());   // and then nothing
  EXPECT_EQ(ChangedTiles(picture, sent.data(), true).size(), 6u);   // unless all are asked for

  now[static_cast<size_t>(69) * stride + 129 * 4 + 2] = 0x99;  // the last pixel's red
  const std::vector<Tile> changed = ChangedTiles(picture, sent.data(), false);
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0].x, 128);
  EXPECT_EQ(changed[0].y, 64);
  EXPECT_EQ(changed[0].width, 2);
  EXPECT_EQ(changed[0].height, 6);

  // Padded to 4 x 8 for the codecs, repeating the tile's last column and row.
  std::vector<uint8_t> padded(static_cast<size_t>(kTile) * kTile * 4, 0);
  int pw = 0, ph = 0;
  PadTile(picture, changed[0], padded.data(), &pw, &ph);
  EXPECT_EQ(pw, 4);
  EXPECT_EQ(ph, 8);
  auto red = [&](int x, int y) { return padded[static_cast<size_t>(y) * kTile * 4 + x * 4 + 2]; };
  EXPECT_EQ(red(1, 5), 0x99);
  EXPECT_EQ(red(3, 7), 0x99);
  EXPECT_EQ(red(0, 5), 0x11);
  EXPECT_EQ(red(0, 7), 0x11);
}

TEST(PointerShape, RowsTurnBottomUpAlphaIsKeptAndTransparentPixelsAreMasked) {
  // 3 x 2, top-down: an opaque red, a half-transparent white (premultiplied: 0x80808080), a
  // transparent pixel; then an opaque blue row.
  const unsigned long argb[] = {0xFFFF0000, 0x80808080, 0x00000000, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF};
  PointerShape shape;
  ASSERT_TRUE(MakePointerShape(argb, 3, 2, 1, 7, &shape));
  EXPECT_EQ(shape.hotX, 1);
  EXPECT_EQ(shape.hotY, 1);  // kept inside the pointer
  ASSERT_EQ(shape.xorMask.size(), 3u * 4 * 2);
  ASSERT_EQ(shape.andMask.size(), 2u * 2);  // one bit a pixel, rows of 2 bytes
  const uint8_t *bottom = &shape.xorMask[0], *top = &shape.xorMask[12];
  EXPECT_EQ(std::vector<uint8_t>(bottom, bottom + 4), (std::vector<uint8_t>{0xFF, 0, 0, 0xFF}));  // blue
  EXPECT_EQ(std::vector<uint8_t>(top, top + 4), (std::vector<uint8_t>{0, 0, 0xFF, 0xFF}));        // red
  EXPECT_EQ(std::vector<uint8_t>(top + 4, top + 8), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x80}));
  EXPECT_EQ(shape.andMask[0], 0x00);  // the bottom row is opaque
  EXPECT_EQ(shape.andMask[2], 0x20);  // the third pixel of the top row is transparent

  // A big cursor is cut to 96 x 96; an empty one is no pointer.
  std::vector<unsigned long> big(200 * 150, 0xFF000000);
  ASSERT_TRUE(MakePointerShape(big.data(), 200, 150, 150, 20, &shape));
  EXPECT_EQ(shape.width, kLargestPointer);
  EXPECT_EQ(shape.height, kLargestPointer);
  EXPECT_EQ(shape.hotX, kLargestPointer - 1);
  EXPECT_FALSE(MakePointerShape(big.data(), 0, 10, 0, 0, &shape));
}

}  // namespace
}  // namespace rdpserver
