// quorv-rdp-server: one X display served as a Remote Desktop session, one client at a time, with
// the static virtual channel "_quorv_" relayed to the agent over TCP (or fed from a script).
#pragma once

#include <freerdp/freerdp.h>
#include <freerdp/listener.h>
#include <freerdp/peer.h>

#include <string>
#include <vector>

#include "agent_link.h"
#include "certificate.h"
#include "encoder.h"
#include "input.h"
#include "lines.h"
#include "options.h"
#include "screen.h"
#include "script.h"

namespace rdpserver {

// Exit statuses (also in --help and docs/rdp-server.md).
enum ExitCode {
  kOk = 0,           // the channel joined and the add-in answered
  kCannotStart = 1,  // display, port, certificate
  kUsageError = 2,
  kNeverJoined = 3,  // no client joined "_quorv_"
  kNoAnswer = 4,     // it joined, but nothing came back
};

class Server {
 public:
  explicit Server(Options options) : options_(std::move(options)) {}
  ~Server();
  int Run();

  // Called from FreeRDP's callbacks.
  bool Accept(freerdp_peer *peer);
  bool PostConnect(freerdp_peer *peer);
  bool Activate(freerdp_peer *peer);
  void Refresh() { screen_.Invalidate(); }
  void Synchronized();
  void Suppress(bool suppressed) { suppressed_ = suppressed; }
  Input &input() { return input_; }

 private:
  bool Start(std::string *error);
  void Step(int timeoutMs);
  int TimeoutMs() const;
  void ServePeer();
  void DropPeer(const char *why);
  void ReadChannel();
  void RelayAgent();
  void PlayScript();
  void SendToAddin(std::string_view line);
  void CutWithLine(std::string_view line);
  void SendFrame();
  void SendPointer();
  bool Finished();
  int ExitStatus() const;

  Options options_;
  Certificate certificate_;
  Screen screen_;
  Input input_;
  BitmapEncoder encoder_;
  AgentLink agent_;
  freerdp_listener *listener_ = nullptr;
  freerdp_peer *peer_ = nullptr;
  HANDLE vcm_ = nullptr;
  HANDLE channel_ = nullptr;
  bool activated_ = false;
  bool ready_ = false;      // the client's add-in has opened its end of the channel: lines may go
  double activatedAt_ = 0;
  bool suppressed_ = false;
  bool hadPeer_ = false;
  bool captureFailed_ = false;
  bool pointerSent_ = false;
  unsigned clientsGone_ = 0;
  size_t addinDropsReported_ = 0, agentDropsReported_ = 0;
  double lastFrame_ = 0;
  double lastFullCompare_ = 0;

  // An agent line beyond this is dropped whole (the agent's own longest is about 1 KiB; scripts
  // may carry payloads of several hundred KiB); the add-in's longest is 1400 bytes.
  LineSplitter fromAgent_{4 * 1024 * 1024};
  LineSplitter fromAddin_{1024 * 1024};
  size_t linesToAddin_ = 0, linesFromAddin_ = 0, undelivered_ = 0;
  bool everJoined_ = false;
  bool everAnswered_ = false;

  std::vector<ScriptStep> script_;
  size_t scriptNext_ = 0;
  size_t scriptFrom_ = 0;  // where the next client's script starts: after the last "#!cut"'s line
  double scriptResume_ = 0;
  double scriptDone_ = 0;

  double started_ = 0;
  int rdpPort_ = 0;
};

}  // namespace rdpserver
