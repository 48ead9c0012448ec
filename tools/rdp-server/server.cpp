#include "server.h"

#include <freerdp/channels/channels.h>
#include <freerdp/channels/wtsvc.h>
#include <freerdp/constants.h>
#include <freerdp/pointer.h>
#include <freerdp/settings.h>
#include <winpr/ssl.h>
#include <winpr/wtsapi.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cut.h"
#include "log.h"
#include "pointer_shape.h"

namespace rdpserver {

namespace {

const char kChannel[] = "_quorv_";
constexpr double kFrameSeconds = 0.04;           // at most 25 pictures a second
constexpr double kCompareSeconds = 0.1;          // without DAMAGE: compare this often
constexpr size_t kAgentReadPerStep = 64 * 1024;  // then the channel's queue is sent on
constexpr double kAgentStallSeconds = 30;        // an agent that takes nothing for this long is hung
// A client's add-in opens its end of the channel only after the connection is active; what comes
// before is dropped by the client. A client sends its first input synchronisation after that point.
constexpr double kReadyFallbackSeconds = 3;
// "#!cut": the client gets two whole chunks of the line and part of a third. A chunk of 1600 bytes
// (the server library's size) goes in one TLS record of about 1650 bytes with its headers.
constexpr size_t kChunk = 1600;
constexpr size_t kCutBytes = 2 * 1650 + 800;

volatile sig_atomic_t g_stop = 0;

// Xlib ends the process when the display's connection breaks; this says why first.
int OnDisplayLost(Display *) {
  LogEvent("the X display went away: ending");
  CloseLog();
  std::_Exit(kCannotStart);
}
void OnSignal(int) { g_stop = 1; }

struct PeerContext {
  rdpContext base;  // first: FreeRDP hands this out as the rdpContext
  Server *server;
  HANDLE vcm;
};

Server *Of(rdpContext *context) { return reinterpret_cast<PeerContext *>(context)->server; }
Server *g_server = nullptr;  // for the context constructor, which FreeRDP calls without ours

BOOL ContextNew(freerdp_peer *peer, rdpContext *context) {
  auto *c = reinterpret_cast<PeerContext *>(context);
  c->server = g_server;
  c->vcm = WTSOpenServerA(reinterpret_cast<LPSTR>(peer->context));
  return c->vcm && c->vcm != INVALID_HANDLE_VALUE;
}

void ContextFree(freerdp_peer *, rdpContext *context) {
  auto *c = reinterpret_cast<PeerContext *>(context);
  if (c->vcm && c->vcm != INVALID_HANDLE_VALUE) WTSCloseServer(c->vcm);
  c->vcm = nullptr;
}

BOOL OnPostConnect(freerdp_peer *peer) { return Of(peer->context)->PostConnect(peer); }
BOOL OnActivate(freerdp_peer *peer) { return Of(peer->context)->Activate(peer); }
BOOL OnLogon(freerdp_peer *, SEC_WINNT_AUTH_IDENTITY *, BOOL) { return TRUE; }  // checked in PostConnect
BOOL OnSynchronize(rdpInput *input, UINT32) {
  Of(input->context)->Synchronized();
  return TRUE;
}
BOOL OnKey(rdpInput *input, UINT16 flags, UINT16 code) {
  Of(input->context)->input().Key(flags, code);
  return TRUE;
}
BOOL OnUnicode(rdpInput *input, UINT16 flags, UINT16 code) {
  Of(input->context)->input().Unicode(flags, code);
  return TRUE;
}
BOOL OnMouse(rdpInput *input, UINT16 flags, UINT16 x, UINT16 y) {
  Of(input->context)->input().Mouse(flags, x, y);
  return TRUE;
}
BOOL OnExtendedMouse(rdpInput *input, UINT16 flags, UINT16 x, UINT16 y) {
  Of(input->context)->input().ExtendedMouse(flags, x, y);
  return TRUE;
}
BOOL OnRefreshRect(rdpContext *context, BYTE, const RECTANGLE_16 *) {
  Of(context)->Refresh();
  return TRUE;
}
BOOL OnSuppressOutput(rdpContext *context, BYTE allow, const RECTANGLE_16 *) {
  Of(context)->Suppress(allow == 0);
  if (allow) Of(context)->Refresh();
  return TRUE;
}
BOOL OnPeerAccepted(freerdp_listener *listener, freerdp_peer *peer) {
  return static_cast<Server *>(listener->info)->Accept(peer);
}

// Appends the descriptors FreeRDP waits on.
template <typename Get>
void AddFds(std::vector<pollfd> *fds, Get get, short events) {
  void *raw[32] = {};
  int count = 0;
  get(raw, &count);
  for (int i = 0; i < count && i < 32; ++i)
    fds->push_back(pollfd{static_cast<int>(reinterpret_cast<intptr_t>(raw[i])), events, 0});
}

}  // namespace

Server::~Server() {
  if (peer_) DropPeer("the server is ending");
  if (listener_) {
    listener_->Close(listener_);
    freerdp_listener_free(listener_);
  }
  if (certificate_.ownDir) RemoveCertificate(certificate_);
  g_server = nullptr;
}

bool Server::Start(std::string *error) {
  if (!screen_.Open(options_.display, error)) return false;
  if (!input_.Open(screen_.display(), error)) return false;
  if (!MakeCertificate(options_.certDir, &certificate_, error)) return false;

  WTSRegisterWtsApiFunctionTable(FreeRDP_InitWtsApi());
  winpr_InitializeSSL(WINPR_SSL_INIT_DEFAULT);
  listener_ = freerdp_listener_new();
  if (!listener_) return *error = "cannot make the RDP listener", false;
  listener_->info = this;
  listener_->PeerAccepted = OnPeerAccepted;
  if (!listener_->Open(listener_, "127.0.0.1", static_cast<UINT16>(options_.port)))
    return *error = "cannot listen for RDP on 127.0.0.1:" + std::to_string(options_.port) +
                    " (is another server there? choose another --port)",
           false;
  // With port 0 the system chose one: the listening socket says which.
  void *fds[8] = {};
  int count = 0;
  sockaddr_in bound = {};
  socklen_t length = sizeof bound;
  if (listener_->GetFileDescriptor(listener_, fds, &count) && count > 0 &&
      getsockname(static_cast<int>(reinterpret_cast<intptr_t>(fds[0])), reinterpret_cast<sockaddr *>(&bound),
                  &length) == 0)
    rdpPort_ = ntohs(bound.sin_port);
  else
    rdpPort_ = options_.port;
  if (script_.empty() && options_.scriptFile.empty() && !agent_.Listen(options_.agentPort, error)) return false;
  return true;
}

int Server::Run() {
  g_server = this;
  started_ = NowSeconds();
  std::string error;
  // A script that cannot be read or has a wrong directive is the caller's mistake, like an option.
  if (!options_.scriptFile.empty() && !ReadScript(options_.scriptFile, &script_, &error)) {
    std::fprintf(stderr, "quorv-rdp-server: %s\n", error.c_str());
    return kUsageError;
  }
  if (!OpenLog(options_.logFile, &error) || !Start(&error)) {
    LogEvent("%s", error.c_str());
    return kCannotStart;
  }
  if (std::any_of(script_.begin(), script_.end(), [](const ScriptStep &s) { return s.cut; }) && !CutWorks()) {
    LogEvent("the script has '#!cut', but this build of the server cannot cut a connection (its send() is not "
             "the one its RDP library calls)");
    return kCannotStart;
  }
  XSetIOErrorHandler(OnDisplayLost);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  if (options_.scriptFile.empty())
    LogEvent("serving %s (%dx%d) on 127.0.0.1:%d; the agent connects to 127.0.0.1:%d", options_.display.c_str(),
             screen_.width(), screen_.height(), rdpPort_, agent_.port());
  else
    LogEvent("serving %s (%dx%d) on 127.0.0.1:%d; playing %zu steps of %s to the add-in", options_.display.c_str(),
             screen_.width(), screen_.height(), rdpPort_, script_.size(), options_.scriptFile.c_str());
  while (!Finished()) Step(TimeoutMs());
  if (peer_) DropPeer("the server is ending");
  const int status = ExitStatus();
  rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  LogEvent("peak memory %ld KiB", usage.ru_maxrss);
  LogEvent("ending, status %d: %s; %zu lines to the add-in, %zu from it%s", status,
           status == kOk            ? "the channel joined and the add-in answered"
           : status == kNeverJoined ? "the channel \"_quorv_\" never joined"
                                    : "the channel joined but the add-in never answered",
           linesToAddin_, linesFromAddin_,
           undelivered_ ? (", " + std::to_string(undelivered_) + " of its lines found no agent").c_str() : "");
  CloseLog();
  return status;
}

int Server::ExitStatus() const {
  if (!everJoined_) return kNeverJoined;
  return everAnswered_ ? kOk : kNoAnswer;
}

bool Server::Finished() {
  const double now = NowSeconds();
  if (g_stop) {
    LogEvent("stopped by a signal");
    return true;
  }
  if (options_.timeLimitSeconds && now - started_ >= options_.timeLimitSeconds) {
    LogEvent("the time limit of %u seconds is reached", options_.timeLimitSeconds);
    return true;
  }
  if (options_.clients && clientsGone_ >= options_.clients) return true;
  if (scriptDone_ > 0 && now - scriptDone_ >= options_.lingerSeconds) {
    LogEvent("the script is played and %u seconds have passed", options_.lingerSeconds);
    return true;
  }
  return false;
}

int Server::TimeoutMs() const {
  double wait = 0.1;
  if (scriptResume_ > 0) wait = std::min(wait, std::max(0.0, scriptResume_ - NowSeconds()));
  if (activated_ && screen_.Changed()) wait = std::min(wait, std::max(0.0, lastFrame_ + kFrameSeconds - NowSeconds()));
  return static_cast<int>(wait * 1000) + 1;
}

bool Server::Accept(freerdp_peer *peer) {
  if (peer_) {
    LogEvent("a second client from %s is refused: one client at a time", peer->hostname);
    return false;
  }
  peer->ContextSize = sizeof(PeerContext);
  peer->ContextNew = ContextNew;
  peer->ContextFree = ContextFree;
  if (!freerdp_peer_context_new(peer)) {
    LogEvent("cannot set up the client's connection");
    return false;
  }
  rdpSettings *s = peer->settings;
  s->CertificateFile = _strdup(certificate_.certificateFile.c_str());
  s->PrivateKeyFile = _strdup(certificate_.keyFile.c_str());
  s->RdpKeyFile = _strdup(certificate_.keyFile.c_str());
  s->RdpSecurity = FALSE;
  s->TlsSecurity = TRUE;
  s->NlaSecurity = FALSE;
  s->ColorDepth = 32;
  s->SuppressOutput = TRUE;
  s->RefreshRect = TRUE;
  s->DesktopWidth = static_cast<UINT32>(screen_.width());
  s->DesktopHeight = static_cast<UINT32>(screen_.height());
  peer->PostConnect = OnPostConnect;
  peer->Activate = OnActivate;
  peer->Logon = OnLogon;
  peer->input->SynchronizeEvent = OnSynchronize;
  peer->input->KeyboardEvent = OnKey;
  peer->input->UnicodeKeyboardEvent = OnUnicode;
  peer->input->MouseEvent = OnMouse;
  peer->input->ExtendedMouseEvent = OnExtendedMouse;
  peer->update->RefreshRect = OnRefreshRect;
  peer->update->SuppressOutput = OnSuppressOutput;
  if (!peer->Initialize(peer)) {
    LogEvent("cannot start the client's connection");
    freerdp_peer_context_free(peer);
    return false;
  }
  peer_ = peer;
  vcm_ = reinterpret_cast<PeerContext *>(peer->context)->vcm;
  hadPeer_ = true;
  LogEvent("a client connected from %s", peer->hostname);
  return true;
}

bool Server::PostConnect(freerdp_peer *peer) {
  rdpSettings *s = peer->settings;
  if (!options_.user.empty()) {
    const bool match =
        s->Username && options_.user == s->Username && options_.password == (s->Password ? s->Password : "");
    if (!match) {
      LogEvent("the client's credentials (user \"%s\") are not the ones given with --user/--password: refused",
               s->Username ? s->Username : "");
      return false;
    }
  }
  // The session is the display's size whatever the client asked for; the size goes to the client
  // in the capabilities that follow.
  if (s->DesktopWidth != static_cast<UINT32>(screen_.width()) ||
      s->DesktopHeight != static_cast<UINT32>(screen_.height()))
    LogEvent("the client asked for %ux%u; the session is %dx%d", s->DesktopWidth, s->DesktopHeight, screen_.width(),
             screen_.height());
  s->DesktopWidth = static_cast<UINT32>(screen_.width());
  s->DesktopHeight = static_cast<UINT32>(screen_.height());
  // Planar needs 32 bits a pixel; interleaved RLE has no 24-bit form, so 24 becomes 16.
  if (s->ColorDepth == 24) s->ColorDepth = 16;
  if (s->ColorDepth != 32 && s->ColorDepth != 16 && s->ColorDepth != 15) s->ColorDepth = 32;

  if (WTSVirtualChannelManagerIsChannelJoined(vcm_, kChannel)) {
    channel_ = WTSVirtualChannelOpen(vcm_, WTS_CURRENT_SESSION, const_cast<LPSTR>(kChannel));
    if (channel_) {
      everJoined_ = true;
      scriptNext_ = scriptFrom_;
      scriptResume_ = 0;
      LogEvent("the client joined the channel \"%s\"", kChannel);
    } else {
      LogEvent("the client joined the channel \"%s\" but it cannot be opened", kChannel);
    }
  } else {
    LogEvent("the client did not join the channel \"%s\" (it has no add-in for it): the picture only", kChannel);
  }
  return true;
}

bool Server::Activate(freerdp_peer *peer) {
  activated_ = true;
  suppressed_ = false;
  screen_.Invalidate();
  // The display's pointer follows at once (SendPointer); until then, and where it cannot be
  // read, the client's default one.
  POINTER_SYSTEM_UPDATE pointer = {};
  pointer.type = SYSPTR_DEFAULT;
  peer->update->pointer->PointerSystem(peer->context, &pointer);
  pointerSent_ = false;
  ready_ = false;
  activatedAt_ = NowSeconds();
  LogEvent("the client is active: %ux%u at %u bits a pixel, updates up to %u bytes", peer->settings->DesktopWidth,
           peer->settings->DesktopHeight, peer->settings->ColorDepth, peer->settings->MultifragMaxRequestSize);
  return true;
}

void Server::DropPeer(const char *why) {
  LogEvent("the client is gone (%s)", why);
  if (fromAddin_.MidLine())
    LogEvent("%zu bytes of an unfinished line from the add-in are dropped with its connection", fromAddin_.Reset());
  if (channel_) WTSVirtualChannelClose(channel_);
  channel_ = nullptr;
  peer_->Disconnect(peer_);
  freerdp_peer_context_free(peer_);
  freerdp_peer_free(peer_);
  peer_ = nullptr;
  vcm_ = nullptr;
  activated_ = false;
  ready_ = false;
  ++clientsGone_;
  if (scriptDone_ == 0 && !script_.empty() && scriptNext_ > scriptFrom_)
    LogEvent("the script was cut after %zu of %zu steps; the next client gets it from step %zu", scriptNext_,
             script_.size(), scriptFrom_ + 1);
  scriptNext_ = scriptFrom_;
  scriptResume_ = 0;
  if (agent_.Connected()) {
    // As the session's channel closes for an agent in a real session: the agent ends or starts
    // over, and greets the next client afresh. What it sent but the client never got goes too.
    const size_t waiting = agent_.out().Size();
    if (!agent_.Drain(2.0)) LogEvent("the agent did not take the add-in's last %zu bytes in 2 seconds", waiting);
    agent_.Close();
    if (fromAgent_.MidLine()) fromAgent_.Reset();
    LogEvent("the agent's connection is closed with the client's");
  }
}

void Server::Step(int timeoutMs) {
  std::vector<pollfd> fds;
  AddFds(
      &fds, [&](void **raw, int *count) { listener_->GetFileDescriptor(listener_, raw, count); }, POLLIN);
  fds.push_back(pollfd{screen_.Fd(), POLLIN, 0});
  if (agent_.ListenFd() >= 0 && !agent_.Connected()) fds.push_back(pollfd{agent_.ListenFd(), POLLIN, 0});
  if (agent_.Connected()) {
    short events = 0;
    if (channel_) events |= POLLIN;
    if (!agent_.out().Empty()) events |= POLLOUT;
    fds.push_back(pollfd{agent_.PeerFd(), events, 0});
  }
  // While the agent does not take the add-in's lines, the client's data waits in its socket:
  // nothing is dropped and nothing grows here.
  const bool takeClient = peer_ && !agent_.out().Full();
  if (takeClient) {
    AddFds(
        &fds, [&](void **raw, int *count) { peer_->GetFileDescriptor(peer_, raw, count); }, POLLIN);
    AddFds(
        &fds, [&](void **raw, int *count) { WTSVirtualChannelManagerGetFileDescriptor(vcm_, raw, count); }, POLLIN);
  }
  poll(fds.data(), fds.size(), timeoutMs);

  if (!listener_->CheckFileDescriptor(listener_)) LogEvent("the RDP listener reported a failure");
  if (takeClient) ServePeer();
  if (agent_.ListenFd() >= 0 && !agent_.Connected() && agent_.Accept()) LogEvent("the agent connected");
  if (agent_.Connected()) {
    if (!agent_.Flush()) {
      LogEvent("the agent's connection failed while the add-in's lines were sent to it");
      agent_.Close();
    } else if (agent_.StalledSeconds() > kAgentStallSeconds) {
      LogEvent(
          "the agent took nothing for %.0f seconds: its connection is closed (%zu bytes of the add-in's lines "
          "not delivered)",
          kAgentStallSeconds, agent_.out().Size());
      agent_.Close();
    }
  }
  if (activated_ && !ready_ && channel_ && NowSeconds() - activatedAt_ >= kReadyFallbackSeconds) {
    ready_ = true;
    LogEvent("the client sent no input synchronisation in %.0f seconds after it became active: the channel is used "
             "anyway",
             kReadyFallbackSeconds);
  }
  RelayAgent();
  PlayScript();
  if (peer_ && vcm_ && !WTSVirtualChannelManagerCheckFileDescriptor(vcm_)) DropPeer("its channels failed");
  screen_.ProcessEvents();
  SendPointer();
  SendFrame();
}

void Server::Synchronized() {
  if (!activated_ || ready_) return;
  ready_ = true;
  if (channel_) LogEvent("the client synchronised its input: its add-in has the channel open");
}

void Server::ServePeer() {
  if (!peer_->CheckFileDescriptor(peer_)) return DropPeer("disconnected");
  if (!WTSVirtualChannelManagerCheckFileDescriptor(vcm_)) return DropPeer("its channels failed");
  ReadChannel();
}

void Server::ReadChannel() {
  if (!channel_) return;
  char buffer[16 * 1024];
  while (!agent_.out().Full()) {
    ULONG read = 0;
    if (!WTSVirtualChannelRead(channel_, 0, buffer, sizeof buffer, &read) || read == 0) break;
    fromAddin_.Feed(buffer, read, [&](std::string_view line) {
      ++linesFromAddin_;
      everAnswered_ = true;
      LogLine("addin>", line);
      if (!options_.scriptFile.empty()) return;  // recorded in the log only
      if (!agent_.Connected()) {
        // Said for the first and then every thousandth: a client that floods fills no disk.
        if (++undelivered_ % 1000 == 1)
          LogEvent("no agent is connected: the add-in's line is not delivered (%zu so far)", undelivered_);
        return;
      }
      agent_.out().Append(line);
      agent_.out().Append("\n");
    });
  }
  if (fromAddin_.dropped() != addinDropsReported_) {
    addinDropsReported_ = fromAddin_.dropped();
    LogEvent("a line from the add-in longer than 1 MiB is dropped (%zu so far)", addinDropsReported_);
  }
}

void Server::SendToAddin(std::string_view line) {
  if (line.empty()) return;  // an empty message means nothing to the add-in
  ULONG written = 0;
  if (!WTSVirtualChannelWrite(channel_, const_cast<PCHAR>(line.data()), static_cast<ULONG>(line.size()), &written)) {
    LogEvent("the channel refused a line of %zu bytes", line.size());
    return;
  }
  ++linesToAddin_;
  LogLine("agent>", line);
}

void Server::RelayAgent() {
  if (!agent_.Connected() || !channel_ || !ready_) return;
  char buffer[16 * 1024];
  size_t taken = 0;
  while (taken < kAgentReadPerStep) {
    const long n = agent_.Read(buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      LogEvent("the agent disconnected");
      if (fromAgent_.MidLine()) LogEvent("%zu bytes of its unfinished last line are dropped", fromAgent_.Reset());
      agent_.Close();
      return;
    }
    taken += static_cast<size_t>(n);
    fromAgent_.Feed(buffer, static_cast<size_t>(n), [&](std::string_view line) {
      // "#!" lines are directives for the stand-in host's picture (--paint-desktop): no message.
      if (line.rfind("#!", 0) == 0) return;
      SendToAddin(line);
    });
  }
  if (fromAgent_.dropped() != agentDropsReported_) {
    agentDropsReported_ = fromAgent_.dropped();
    LogEvent("a line from the agent longer than 4 MiB is dropped (%zu so far)", agentDropsReported_);
  }
}

void Server::PlayScript() {
  if (script_.empty() || !channel_ || !ready_ || scriptDone_ > 0) return;
  const double now = NowSeconds();
  if (scriptResume_ > now) return;
  scriptResume_ = 0;
  size_t sentBytes = 0;
  while (scriptNext_ < script_.size() && sentBytes < kAgentReadPerStep) {
    const ScriptStep &step = script_[scriptNext_++];
    if (step.line.empty()) {
      scriptResume_ = now + step.waitMs / 1000.0;
      return;
    }
    if (step.cut) return CutWithLine(step.line);
    SendToAddin(step.line);
    sentBytes += step.line.size();
  }
  if (scriptNext_ == script_.size()) {
    scriptDone_ = now;
    LogEvent("the script's %zu steps are played; answers are awaited for %u seconds", script_.size(),
             options_.lingerSeconds);
  }
}

void Server::CutWithLine(std::string_view line) {
  // The lines after this one go to the next client.
  scriptFrom_ = scriptNext_;
  // What is queued goes whole first: only this line is cut.
  if (!WTSVirtualChannelManagerCheckFileDescriptor(vcm_)) return DropPeer("its channels failed");
  if (line.size() <= kCutBytes) {
    LogEvent("#!cut: the line of %zu bytes fits in what goes before the cut (%zu bytes): sent whole", line.size(),
             kCutBytes);
    SendToAddin(line);
    return DropPeer("cut by the script after a whole line");
  }
  ArmCut(peer_->sockfd, kCutBytes);
  SendToAddin(line);
  WTSVirtualChannelManagerCheckFileDescriptor(vcm_);  // fails when the socket is shut
  const bool cut = DisarmCut();
  LogEvent(
      "#!cut: %s after %zu bytes on the connection: about %zu of the line's %zu chunks (%zu of its %zu bytes) went "
      "whole",
      cut ? "the client's connection is shut" : "the connection was not cut (the line went whole)", kCutBytes,
      cut ? kCutBytes / 1650 : (line.size() + kChunk - 1) / kChunk, (line.size() + kChunk - 1) / kChunk,
      cut ? kCutBytes / 1650 * kChunk : line.size(), line.size());
  DropPeer(cut ? "cut by the script in the middle of a line" : "cut by the script after a whole line");
}

void Server::SendPointer() {
  if (!peer_ || !activated_ || (pointerSent_ && !screen_.PointerChanged())) return;
  pointerSent_ = true;
  PointerShape shape;
  // A client without a pointer cache cannot take a new pointer: it keeps its own.
  if (peer_->settings->PointerCacheSize == 0 || !screen_.ReadPointer(&shape)) return;
  POINTER_NEW_UPDATE update = {};
  update.xorBpp = 32;
  POINTER_COLOR_UPDATE &color = update.colorPtrAttr;
  color.cacheIndex = 0;
  color.xPos = static_cast<UINT32>(shape.hotX);
  color.yPos = static_cast<UINT32>(shape.hotY);
  color.width = static_cast<UINT32>(shape.width);
  color.height = static_cast<UINT32>(shape.height);
  color.lengthXorMask = static_cast<UINT32>(shape.xorMask.size());
  color.lengthAndMask = static_cast<UINT32>(shape.andMask.size());
  color.xorMaskData = shape.xorMask.data();
  color.andMaskData = shape.andMask.data();
  if (!peer_->update->pointer->PointerNew(peer_->context, &update)) DropPeer("the pointer could not be sent");
}

void Server::SendFrame() {
  if (!peer_ || !activated_ || suppressed_) return;
  const double now = NowSeconds();
  if (now - lastFrame_ < kFrameSeconds) return;
  const bool compare = screen_.Changed() || now - lastFullCompare_ >= kCompareSeconds * 10;
  if (!compare) return;
  std::vector<Tile> tiles;
  lastFrame_ = now;
  lastFullCompare_ = now;
  if (!screen_.Capture(&tiles)) {
    if (!captureFailed_) LogEvent("the X display could not be read (said once)");
    captureFailed_ = true;
    return;
  }
  if (!encoder_.Send(peer_->context, screen_.picture(), tiles)) DropPeer("a picture could not be sent");
}

}  // namespace rdpserver
