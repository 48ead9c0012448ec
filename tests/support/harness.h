// The fixture of the behaviour tests: the add-in loaded by the stand-in client, a host frame
// window the session start can find, and helpers to talk to the add-in and read what it did.
// The same tests run on winsim and under Wine against the real DLL.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include "client.h"
#include "desktop.h"
#include "encode.h"
#include "support/diagnostic_log.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvtest {

// The host frame's title the tests' Language.ini names.
extern const char kHostTitle[];

// A message the host frame window received (posted or sent).
struct HostMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  HWND hwnd;  // the window of the test frame class that received it
};

class AddinTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  testkit::StandInClient &client() { return testkit::StandInClient::Get(); }

  // Language.ini beside the host executable; written with kHostTitle by SetUp. Empty content
  // removes the file.
  void WriteLanguageIni(const std::string &content);
  // HKLM\<path>\LocalInput\WindowDisplayMode; value < 0 creates the key without the value. The
  // view: where a 32-bit installer writes (KEY_WOW64_32KEY), or the 64-bit one (KEY_WOW64_64KEY),
  // which differ only for a 64-bit program on 64-bit Windows.
  void SetRegistryDisplayMode(const std::string &path, int value, REGSAM view = KEY_WOW64_32KEY);
  // The marker file that switches the diagnostic log on, and the log's content.
  void EnableLog();
  std::string ReadLog();

  // LoadLibrary, VirtualChannelEntry (expected TRUE), connect.
  void LoadAndConnect();
  void Load();
  void Unload();
  // One agent message, delivered in chunks of at most 1600 bytes.
  void Send(const std::string &message, size_t chunkSize = 1600);
  // The messages the add-in sent, without line ends, and forgets them.
  std::vector<std::string> TakeSent();
  // The same without the message counter: "KEYWORD,payload".
  std::vector<std::string> TakeSentPayloads();

  // A top-level window of this process titled kHostTitle, with an "ATL:" child and a plain child.
  HWND CreateHostFrame(const char *title = nullptr);
  HWND host() const { return host_; }
  HWND atlChild() const { return atlChild_; }
  HWND plainChild() const { return plainChild_; }
  // Pumps this thread's queue and returns (and forgets) what reached the host frame window.
  std::vector<HostMessage> TakeHostMessages();
  // Pumps this thread's queue and returns (and forgets) the messages posted to the thread itself,
  // with no window (what PostMessage to a null window does).
  static std::vector<HostMessage> TakeThreadMessages();
  // HELLO with the host frame in place.
  void StartSession(int version = 2);

  // The add-in's local windows: the top-level windows of its class, in enumeration order.
  static std::vector<HWND> LocalWindows() { return testkit::LocalWindows(); }
  static std::u16string WindowText(HWND hwnd);  // as stored (what the taskbar reads)
  // The local windows that are not in `before`, in enumeration order.
  static std::vector<HWND> NewLocalWindows(const std::vector<HWND> &before);
  // Sends a message (a CREATE, say) and returns the one local window it made, or null.
  HWND SendForLocalWindow(const std::string &message);
  // A window of the add-in's class that the add-in made no record for (the class must exist).
  static HWND CreateStrayLocalWindow();

  std::unique_ptr<ScopedDiagnosticLog> log_;  // switched on by EnableLog
  HWND host_ = nullptr;
  HWND atlChild_ = nullptr;
  HWND plainChild_ = nullptr;
};

// Pumps this thread's message queue, dispatching everything.
void PumpMessages();

// Empty when the window's region is exactly the union of the rectangles (an empty list asks for an
// empty region); otherwise what was expected and the rectangles seen. A window without a region
// never matches.
std::string RegionDifference(HWND hwnd, const std::vector<testkit::Rect> &rects);

// Lets the calendar clock reach the start of a new second, so the events that follow fall in one
// second: on winsim the fixed clock moves on by one second; under Wine this waits for the real
// clock's next second to begin.
void StartNewSecond();

// "0x%08x" of a value, as the add-in prints remote window ids.
using testkit::HexId;

// UTF-16 literals as the platform's wide strings.
inline const WCHAR *W(const char16_t *s) { return reinterpret_cast<const WCHAR *>(s); }

}  // namespace quorvtest
