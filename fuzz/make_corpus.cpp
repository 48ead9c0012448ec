// Writes the fuzzers' seed corpora, made from valid messages of every command and from random
// sessions: make_corpus DIR makes DIR/wire, DIR/window_proc and DIR/decoders.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "encode.h"
#include "session_generator.h"

namespace {

constexpr size_t kMaxSeed = 32 * 1024;  // the fuzzers' -max_len

namespace fs = std::filesystem;

void Write(const fs::path &folder, const std::string &name, const std::string &bytes) {
  if (bytes.size() > kMaxSeed) return;
  std::ofstream(folder / name, std::ios::binary) << bytes;
}

std::string U32(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}

// Wire input: display mode, then control byte, text and line feed per message.
std::string WireInput(char displayMode, const std::vector<std::string> &messages, testkit::SessionGenerator *chunks) {
  std::string input(1, displayMode);
  for (const std::string &m : messages) {
    char control = 0;
    if (chunks) {
      const size_t chunk = chunks->NextChunkSize();
      control = static_cast<char>(chunk == 1600 ? 6 : chunk < 8 ? 1 + chunks->Below(3) : 5);
    }
    input += control;
    input += m;
    input += '\n';
  }
  return input;
}

void WireCorpus(const fs::path &folder) {
  fs::create_directories(folder);
  const auto examples = testkit::SessionGenerator::ValidExamples();
  std::vector<std::string> all;
  for (size_t i = 0; i < examples.size(); ++i) {
    Write(folder, "valid-" + std::to_string(i), WireInput(0, examples[i], nullptr));
    Write(folder, "valid-mode1-" + std::to_string(i), WireInput(1, examples[i], nullptr));
    all.insert(all.end(), examples[i].begin(), examples[i].end());
  }
  Write(folder, "valid-all", WireInput(0, all, nullptr));
  testkit::SessionGenerator generator(20240601);
  for (int seed = 0; seed < 96; ++seed) {
    std::vector<std::string> messages;
    for (uint32_t i = 0, n = 4 + generator.Below(28); i < n; ++i) messages.push_back(generator.Next());
    Write(folder, "session-" + std::to_string(seed), WireInput(static_cast<char>(seed % 3), messages, &generator));
  }
}

std::string ProcRecord(uint8_t target, uint8_t message, uint32_t wParam, uint32_t lParam) {
  return std::string{static_cast<char>(target), static_cast<char>(message)} + U32(wParam) + U32(lParam);
}

void WindowProcCorpus(const fs::path &folder) {
  fs::create_directories(folder);
  // Every message of the procedure's table to every window of the session.
  for (uint8_t message = 0; message < 25; ++message) {
    std::string input(1, '\0');
    for (uint8_t target = 0; target < 6; ++target) input += ProcRecord(target | 0x80, message, 0x201 + target, 0x10);
    Write(folder, "message-" + std::to_string(message), input);
  }
  // Activation, system menu and tray clicks around agent commands that change the windows.
  std::string input(1, '\0');
  for (uint8_t command = 0xF0; command < 0xF8; ++command) {
    input += ProcRecord(0, command, 0x00020103, 0);
    input += ProcRecord(0x81, 0, 1, 0);           // WM_ACTIVATE
    input += ProcRecord(0x02, 4, 0, 0x00050007);  // the system menu request
    input += ProcRecord(0x03, 5, 1, 0x0202);      // WM_TRAYMESSAGE, WM_LBUTTONUP
  }
  Write(folder, "commands", input);
  Write(folder, "start-program", std::string(1, '\1') + ProcRecord(0, 6, 1, 0) + ProcRecord(1, 6, 0x1234, 0));
}

void DecodersCorpus(const fs::path &folder) {
  fs::create_directories(folder);
  Write(folder, "base64", std::string(1, '\0') + "QUJD\r\nQUI=");
  const std::string region = testkit::RegionData({{0, 0, 100, 100}, {50, 50, 200, 120}});
  Write(folder, "unpack", std::string(1, '\1') + testkit::PackPayload(region));
  Write(folder, "pack", std::string(1, '\2') + U32(static_cast<uint32_t>(region.size())) + region);
  std::string title(1, '\3');
  for (char c : testkit::HexTitle(u"Abc \u03A9")) title += std::string{c, '\0'};
  Write(folder, "hex-title", title);

  testkit::Image image;
  image.width = image.height = 8;
  for (int i = 0; i < 64; ++i) image.pixels.push_back(i & 1 ? 0xFF336699u : 0);
  const testkit::IconParts parts = testkit::IconPartsFromImage(image);
  auto part = [](uint8_t kindIndex, const std::string &bytes) {
    return std::string{static_cast<char>(kindIndex), static_cast<char>(bytes.size() & 0xFF),
                       static_cast<char>(bytes.size() >> 8)} +
           bytes;
  };
  // Kind indexes of the fuzzer's table: 0 header, 1 first mask, 3 last mask, 4 first colour, 6 last.
  Write(folder, "icon",
        std::string(1, '\4') + part(0, parts.header) + part(1, parts.mask) + part(3, "") + part(4, parts.color) +
            part(6, ""));

  testkit::NotifyRecord record;
  record.charType = 'W';
  record.uID = 3;
  record.uFlags = 1 | 2 | 4;
  record.uCallbackMessage = 0x8002;
  record.hIcon = 0x77;
  record.tip = u"tip";
  const std::string bytes = testkit::NotifyRecordBytes(record).substr(0, 255 * 4);
  std::string tray(1, '\5');
  tray += static_cast<char>(bytes.size() / 4);
  tray += bytes.substr(0, bytes.size() / 4 * 4);
  auto trayPart = [](uint8_t kindIndex, const std::string &b) {
    return std::string{static_cast<char>(kindIndex), static_cast<char>(b.size() / 8)} + b.substr(0, b.size() / 8 * 8);
  };
  Write(folder, "tray",
        tray + trayPart(0, parts.header) + trayPart(1, parts.mask) + trayPart(2, "") + trayPart(3, parts.color) +
            trayPart(4, ""));
  Write(folder, "fields", std::string(1, '\6') + "SETICON,1,0x1A,0,x,x,32,abc");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_corpus DIR\n");
    return 2;
  }
  const fs::path root(argv[1]);
  WireCorpus(root / "wire");
  WindowProcCorpus(root / "window_proc");
  DecodersCorpus(root / "decoders");
  return 0;
}
