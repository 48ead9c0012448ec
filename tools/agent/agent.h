// The agent: greets the add-in, reports the session's windows and their changes, carries out what
// the add-in asks, and shows its own notification icon. Everything but reading the transport runs
// on the thread that calls Run.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "icon_reader.h"
#include "inbound.h"
#include "log.h"
#include "outbox.h"
#include "tracker.h"
#include "transport.h"
#include "tray.h"

namespace agent {

struct AgentOptions {
  bool allowStart = false;     // StartProg starts programs
  unsigned intervalMs = 1000;  // the periodic comparison
  bool paintDesktop = false;   // the stand-in host draws the windows into its picture of the desktop
  unsigned statsSeconds = 0;   // log memory and handle counts this often (0: never)
  bool verbose = false;        // log every message in both directions
  bool tray = true;            // the agent's own notification icon
};

class Agent {
 public:
  Agent(std::unique_ptr<Transport> transport, const AgentOptions &options);
  ~Agent();
  // Runs until the agent is told to stop (its window closed, Ctrl+C, the menu) or, for a transport
  // that does not reopen, until the way to the add-in closes. Returns the exit status.
  int Run();
  // From any thread: ends Run.
  void RequestStop();

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  static void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

  bool Connect();
  void Disconnected();
  void Scan(bool recheckIcons);
  void ScanSoon();
  void PaintDesktop(const std::vector<WindowSnapshot> &scan);
  void ReaderLoop();
  void TakeInbound();
  void Stop();
  void LogResources();
  bool Deliver(const std::string &message);

  // Carrying out the add-in's commands (agent_commands.cpp).
  void Carry(const std::string &line);
  void Focus(const Command &c);
  void WindowMessage(const Command &c);
  void MoveCursor(const Command &c);
  void StartProgram(const Command &c);
  void ShowMenu();
  bool LogInput();

  std::unique_ptr<Transport> transport_;
  AgentOptions options_;
  Outbox outbox_;
  IconReader icons_;
  Tracker tracker_;
  std::unique_ptr<AgentTray> tray_;
  HWND window_ = nullptr;
  std::vector<HWINEVENTHOOK> hooks_;
  bool connected_ = false;
  bool scanPending_ = false;
  bool menuOpen_ = false;
  bool takingInbound_ = false;
  bool stopping_ = false;
  bool hostSeen_ = false;  // the host's windows were found on the agent's desktop (said once)
  unsigned scansSinceIconCheck_ = 0;
  std::string lastOpenError_;
  InputLogLimit inputLog_{50, 10000};
  std::map<uint32_t, std::string> picture_;  // id -> the host directive last sent for it

  std::thread reader_;
  std::atomic<bool> readerStop_{false};
  std::mutex inboundLock_;
  std::deque<std::string> inbound_;  // guarded by inboundLock_
  uint64_t inboundOverflow_ = 0;     // guarded by inboundLock_
  uint64_t inboundTooLong_ = 0;      // guarded by inboundLock_
  std::atomic<bool> inboundPosted_{false};
};

}  // namespace agent
