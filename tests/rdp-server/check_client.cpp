// rdp-check-client: a small Remote Desktop client that checks a running quorv-rdp-server from the
// outside. It connects with FreeRDP's client library, registers the static channel "_quorv_" as
// an add-in does (unless --no-channel), and checks, each when asked:
//   --pixels   the client's picture equals the served display, before and after a change, and
//              the display's pointer shape came
//   --input    mouse moves, buttons and keys reach the display (XTest)
//   --expect FILE          the channel brings FILE's agent lines (a --script of the server), in order
//   --leave-midline  at the end, writes half a line on the channel and disconnects
//   --dump       prints each channel message (its first 100 bytes)
//   --earlier N  N channel messages come before the agent's checks (from an earlier agent)
//   --agent-port P --agent-lines FILE [--flood N] [--junk MB]
//              it also plays the agent: sends FILE's lines (and N more of 1000 bytes; after one
//              line of MB megabytes, which must not arrive) over TCP, while the other checks run, and
//              expects each on the channel, whole and in order; then sends messages back on the
//              channel (one of 100,000 bytes, two lines in one message, a line in two writes) and
//              expects the agent to get them as lines
// The channel answers each message with "ACK,n,bytes" unless --silent. One line per failure;
// exit 0 when every check held, 1 otherwise, 2 usage.
#include <freerdp/channels/channels.h>
#include <freerdp/freerdp.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/graphics.h>
#include <freerdp/input.h>
#include <freerdp/settings.h>
#include <freerdp/svc.h>
#include <winpr/wtsapi.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Options {
  int port = 0, agentPort = 0;
  std::string display, expectFile, agentLinesFile, user = "tester", password = "secret";
  bool channel = true, silent = false, pixels = false, input = false, leaveMidline = false, dump = false;
  unsigned flood = 0, seconds = 30, earlier = 0;
  size_t junkMegabytes = 0;
} g_options;

int g_failures = 0;
void Fail(const std::string &what) {
  std::fprintf(stderr, "rdp-check-client: FAILED: %s\n", what.c_str());
  ++g_failures;
}
void Note(const std::string &what) { std::printf("rdp-check-client: %s\n", what.c_str()); }

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

std::vector<std::string> ReadLines(const std::string &file, bool agentLinesOnly) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    Fail("cannot read " + file);
    return lines;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (agentLinesOnly && (line.empty() || line[0] == '#')) continue;
    lines.push_back(line);
  }
  return lines;
}

// ---- the channel, as an add-in registers it ---------------------------------------------------

CHANNEL_ENTRY_POINTS g_entry;
LPVOID g_initHandle = nullptr;
DWORD g_openHandle = 0;
bool g_channelOpen = false;
std::string g_assembling;
std::deque<std::string> g_messages;  // whole channel messages received
unsigned g_answered = 0;

void Write(const std::string &text) {
  auto *copy = new std::string(text);  // the client owns it until the write completes
  if (g_entry.pVirtualChannelWrite(g_openHandle, copy->data(), static_cast<ULONG>(copy->size()), copy) !=
      CHANNEL_RC_OK) {
    Fail("the channel refused a write of " + std::to_string(text.size()) + " bytes");
    delete copy;
  }
}

VOID VCAPITYPE OpenEvent(DWORD, UINT event, LPVOID data, UINT32 length, UINT32 total, UINT32 flags) {
  if (event == CHANNEL_EVENT_DATA_RECEIVED) {
    if (flags & CHANNEL_FLAG_FIRST) g_assembling.clear();
    g_assembling.append(static_cast<const char *>(data), length);
    if (flags & CHANNEL_FLAG_LAST) {
      if (g_assembling.size() != total)
        Fail("a channel message came with " + std::to_string(g_assembling.size()) + " of its " + std::to_string(total) +
             " bytes");
      g_messages.push_back(g_assembling);
      g_assembling.clear();
    }
  } else if (event == CHANNEL_EVENT_WRITE_COMPLETE || event == CHANNEL_EVENT_WRITE_CANCELLED) {
    delete static_cast<std::string *>(data);
  }
}

VOID VCAPITYPE InitEvent(LPVOID initHandle, UINT event, LPVOID, UINT) {
  if (event == CHANNEL_EVENT_CONNECTED) {
    if (g_entry.pVirtualChannelOpen(initHandle, &g_openHandle, const_cast<PCHAR>("_quorv_"), OpenEvent) ==
        CHANNEL_RC_OK)
      g_channelOpen = true;
    else
      Fail("the channel \"_quorv_\" cannot be opened");
  }
}

BOOL VCAPITYPE ChannelEntry(PCHANNEL_ENTRY_POINTS points) {
  g_entry = *points;
  CHANNEL_DEF def = {};
  std::strcpy(def.name, "_quorv_");
  def.options = 0;  // as FreeRDP's own client leaves them
  return g_entry.pVirtualChannelInit(&g_initHandle, &def, 1, VIRTUAL_CHANNEL_VERSION_WIN2000, InitEvent) ==
         CHANNEL_RC_OK;
}

BOOL PreConnect(freerdp *instance) {
  if (g_options.channel &&
      freerdp_channels_client_load(instance->context->channels, instance->settings, ChannelEntry, nullptr) != 0) {
    Fail("the channel cannot be registered");
    return FALSE;
  }
  return TRUE;
}

// The pointer the server sets is accepted and not drawn: a client without pointer handlers
// would end the connection at the first pointer update.
std::string g_pointerSeen;  // the last pointer the server set, "WxH at X,Y"
BOOL PointerNew(rdpContext *, rdpPointer *pointer) {
  g_pointerSeen = std::to_string(pointer->width) + "x" + std::to_string(pointer->height) + " at " +
                  std::to_string(pointer->xPos) + "," + std::to_string(pointer->yPos);
  return TRUE;
}
void PointerFree(rdpContext *, rdpPointer *) {}
BOOL PointerSet(rdpContext *, const rdpPointer *) { return TRUE; }
BOOL PointerSetOther(rdpContext *) { return TRUE; }
BOOL PointerSetPosition(rdpContext *, UINT32, UINT32) { return TRUE; }

BOOL PaintDone(rdpContext *) { return TRUE; }

BOOL PostConnect(freerdp *instance) {
  if (!gdi_init(instance, PIXEL_FORMAT_BGRX32)) return FALSE;
  rdpPointer pointer = {};
  pointer.size = sizeof(rdpPointer);
  pointer.New = PointerNew;
  pointer.Free = PointerFree;
  pointer.Set = PointerSet;
  pointer.SetNull = PointerSetOther;
  pointer.SetDefault = PointerSetOther;
  pointer.SetPosition = PointerSetPosition;
  graphics_register_pointer(instance->context->graphics, &pointer);
  // The picture is read from the framebuffer directly: painting needs no more than this.
  if (!instance->context->update->BeginPaint) instance->context->update->BeginPaint = PaintDone;
  instance->context->update->EndPaint = PaintDone;
  return TRUE;
}
void PostDisconnect(freerdp *instance) { gdi_free(instance); }
DWORD AcceptCertificate(freerdp *, const char *, UINT16, const char *, const char *, const char *, const char *,
                        DWORD) {
  return 2;  // the server's own certificate, for this session
}

// ---- the agent's side -------------------------------------------------------------------------

struct Agent {
  int fd = -1;
  std::string out, in;
  std::vector<std::string> received;

  bool Connect(int port) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return false;
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return true;
  }
  void Pump() {
    if (fd < 0) return;
    while (!out.empty()) {
      const ssize_t n = send(fd, out.data(), out.size(), MSG_NOSIGNAL);
      if (n <= 0) break;
      out.erase(0, static_cast<size_t>(n));
    }
    char buffer[65536];
    for (;;) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      in.append(buffer, static_cast<size_t>(n));
    }
    size_t end;
    while ((end = in.find('\n')) != std::string::npos) {
      received.push_back(in.substr(0, end));
      in.erase(0, end + 1);
    }
  }
};

// ---- the served display -----------------------------------------------------------------------

Display *g_x = nullptr;
Window g_pattern = 0;

void DrawPattern(int variant) {
  const int screen = DefaultScreen(g_x);
  if (!g_pattern) {
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    // Not on tile boundaries, so that partial tiles and their edges are checked too.
    g_pattern = XCreateWindow(g_x, RootWindow(g_x, screen), 71, 67, 203, 101, 0, CopyFromParent, InputOutput,
                              CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(g_x, g_pattern);
  }
  GC gc = XCreateGC(g_x, g_pattern, 0, nullptr);
  for (int y = 0; y < 101; ++y)
    for (int x = 0; x < 203; x += 1) {
      const unsigned long pixel = variant == 0 ? ((x * 255 / 203) << 16) | ((y * 255 / 101) << 8) | ((x ^ y) & 0xFF)
                                               : ((y * 2) << 16) | (((x * 7) & 0xFF) << 8) | 0x40;
      XSetForeground(g_x, gc, pixel);
      XDrawPoint(g_x, g_pattern, gc, x, y);
    }
  XFreeGC(g_x, gc);
  XSync(g_x, False);
}

// The number of pixels where the client's picture differs from the display, and the first one.
long CompareScreen(rdpGdi *gdi, std::string *first) {
  const int screen = DefaultScreen(g_x);
  const int w = DisplayWidth(g_x, screen), h = DisplayHeight(g_x, screen);
  if (static_cast<int>(gdi->width) != w || static_cast<int>(gdi->height) != h) {
    *first = "the client's desktop is " + std::to_string(gdi->width) + "x" + std::to_string(gdi->height) +
             ", the display " + std::to_string(w) + "x" + std::to_string(h);
    return -1;
  }
  XImage *image = XGetImage(g_x, RootWindow(g_x, screen), 0, 0, w, h, AllPlanes, ZPixmap);
  if (!image) return *first = "the display cannot be read", -1;
  long differ = 0;
  for (int y = 0; y < h; ++y) {
    const uint32_t *served = reinterpret_cast<const uint32_t *>(image->data + y * image->bytes_per_line);
    const uint32_t *seen = reinterpret_cast<const uint32_t *>(gdi->primary_buffer + y * gdi->stride);
    for (int x = 0; x < w; ++x) {
      if ((served[x] & 0xFFFFFF) == (seen[x] & 0xFFFFFF)) continue;
      if (!differ++) {
        char text[128];
        std::snprintf(text, sizeof text, "at %d,%d the display has %06x, the client %06x", x, y, served[x] & 0xFFFFFF,
                      seen[x] & 0xFFFFFF);
        *first = text;
      }
    }
  }
  XDestroyImage(image);
  return differ;
}

bool KeyDown(KeyCode code) {
  char keys[32];
  XQueryKeymap(g_x, keys);
  return keys[code / 8] & (1 << (code % 8));
}

void Pointer(int *x, int *y, unsigned *mask) {
  Window root, child;
  int wx, wy;
  XQueryPointer(g_x, DefaultRootWindow(g_x), &root, &child, x, y, &wx, &wy, mask);
}

int Usage(const char *problem) {
  std::fprintf(stderr, "rdp-check-client: %s\n", problem);
  std::fprintf(
      stderr,
      "usage: rdp-check-client --port P --display :N [--no-channel] [--silent] [--pixels] [--input]\n"
      "       [--expect FILE] [--agent-port P --agent-lines FILE [--flood N] [--junk MB]] [--user U --password P]\n"
      "       [--earlier N] [--leave-midline] [--dump] [--seconds S]\n");
  return 2;
}

}  // namespace

namespace {

freerdp *g_instance = nullptr;
Agent g_agent;
std::vector<std::string> g_channelLines;  // every channel message received, in order
double g_deadline = 0;

// Runs the connection (and the agent's socket) until `done` holds or the deadline passes.
template <typename Done>
bool RunUntil(Done done, double seconds) {
  const double until = std::min(g_deadline, Now() + seconds);
  while (!done()) {
    if (Now() > until || freerdp_shall_disconnect(g_instance)) return done();
    HANDLE handles[64];
    const DWORD count = freerdp_get_event_handles(g_instance->context, handles, 64);
    if (count == 0) return false;
    WaitForMultipleObjects(count, handles, FALSE, 20);
    // What came before a broken connection counts too.
    const bool alive = freerdp_check_event_handles(g_instance->context);
    while (!g_messages.empty()) {
      std::string message = std::move(g_messages.front());
      g_messages.pop_front();
      if (g_options.dump) std::printf("rdp-check-client: channel: %.100s\n", message.c_str());
      g_channelLines.push_back(message);
      if (alive && !g_options.silent && g_channelOpen)
        Write("ACK," + std::to_string(++g_answered) + "," + std::to_string(message.size()) + "\n");
    }
    if (!alive) return done();
    g_agent.Pump();
  }
  return true;
}

void CheckPixels() {
  rdpGdi *gdi = g_instance->context->gdi;
  for (int variant = 0; variant < 2; ++variant) {
    DrawPattern(variant);
    const double drawn = Now();
    std::string first;
    long differ = -1;
    RunUntil([&] { return (differ = CompareScreen(gdi, &first)) == 0; }, 10);
    const double ms = (Now() - drawn) * 1000;
    if (differ != 0)
      Fail("pixels (picture " + std::to_string(variant + 1) +
           "): " + (differ > 0 ? std::to_string(differ) + " pixels differ, first " : std::string()) + first);
    else
      Note("pixels: the client's picture equals the display (picture " + std::to_string(variant + 1) + ", " +
           std::to_string(static_cast<int>(ms)) + " ms after drawing, comparisons included)");
  }
}

// The display's pointer reaches the client: Xvfb's root pointer, 16 x 16 or so.
void CheckPointer() {
  if (!RunUntil([] { return !g_pointerSeen.empty(); }, 5)) return Fail("pointer: the display's pointer did not come");
  Note("pointer: the display's pointer came, " + g_pointerSeen);
}

void CheckInput() {
  rdpInput *input = g_instance->context->input;
  int x = 0, y = 0;
  unsigned mask = 0;
  freerdp_input_send_mouse_event(input, PTR_FLAGS_MOVE, 333, 222);
  if (!RunUntil([&] { return Pointer(&x, &y, &mask), x == 333 && y == 222; }, 5))
    Fail("input: the pointer is at " + std::to_string(x) + "," + std::to_string(y) + ", not 333,222");
  freerdp_input_send_mouse_event(input, PTR_FLAGS_DOWN | PTR_FLAGS_BUTTON1, 333, 222);
  if (!RunUntil([&] { return Pointer(&x, &y, &mask), (mask & Button1Mask) != 0; }, 5))
    Fail("input: button 1 is not down");
  freerdp_input_send_mouse_event(input, PTR_FLAGS_BUTTON1, 333, 222);
  if (!RunUntil([&] { return Pointer(&x, &y, &mask), (mask & Button1Mask) == 0; }, 5))
    Fail("input: button 1 stays down");
  const KeyCode a = XKeysymToKeycode(g_x, XK_a);
  freerdp_input_send_keyboard_event(input, KBD_FLAGS_DOWN, 0x1E);  // the scan code of A
  if (!RunUntil([&] { return KeyDown(a); }, 5)) Fail("input: the key A is not down");
  freerdp_input_send_keyboard_event(input, KBD_FLAGS_RELEASE, 0x1E);
  if (!RunUntil([&] { return !KeyDown(a); }, 5)) Fail("input: the key A stays down");
  const KeyCode right = XKeysymToKeycode(g_x, XK_Right);
  freerdp_input_send_keyboard_event(input, KBD_FLAGS_DOWN | KBD_FLAGS_EXTENDED, 0x4D);  // an extended key
  if (!RunUntil([&] { return KeyDown(right); }, 5)) Fail("input: the extended key Right is not down");
  freerdp_input_send_keyboard_event(input, KBD_FLAGS_RELEASE | KBD_FLAGS_EXTENDED, 0x4D);
  if (!RunUntil([&] { return !KeyDown(right); }, 5)) Fail("input: the key Right stays down");
  if (g_failures == 0) Note("input: pointer, button and keys reached the display");
}

// Expects `lines` as channel messages, each whole, in order, after those already counted.
void ExpectOnChannel(const std::vector<std::string> &lines, size_t from, const char *what) {
  RunUntil([&] { return g_channelLines.size() >= from + lines.size(); }, 30);
  size_t good = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (from + i >= g_channelLines.size()) {
      Fail(std::string(what) + ": the channel brought " + std::to_string(g_channelLines.size() - from) + " of " +
           std::to_string(lines.size()) + " lines");
      return;
    }
    if (g_channelLines[from + i] != lines[i]) {
      Fail(std::string(what) + ": message " + std::to_string(i + 1) + " differs (" +
           std::to_string(g_channelLines[from + i].size()) + " bytes, expected " + std::to_string(lines[i].size()) +
           ")");
      return;
    }
    ++good;
  }
  Note(std::string(what) + ": " + std::to_string(good) + " lines came as whole channel messages, in order");
}

// The agent connects and queues its lines (after --junk MB of one endless line, which the relay
// must drop whole); they go out while the other checks run.
std::vector<std::string> g_agentLines;
size_t g_agentBefore = 0;
double g_agentStart = 0;

void StartAgent() {
  if (!g_agent.Connect(g_options.agentPort)) return Fail("cannot connect as the agent");
  g_agentLines = ReadLines(g_options.agentLinesFile, false);
  for (unsigned i = 0; i < g_options.flood; ++i) {
    std::string line = "TITLE," + std::to_string(i) + ",0x00010001,";
    while (line.size() < 1000) line += "0041";
    g_agentLines.push_back(line.substr(0, 1000));
  }
  if (g_options.junkMegabytes) g_agent.out = std::string(g_options.junkMegabytes << 20, 'x') + "\n";
  // A directive for the stand-in host is not a message; the relay leaves it out.
  g_agent.out += "#!desktop 0 0 10 10\n";
  for (const std::string &line : g_agentLines) g_agent.out += line + "\n";
  g_agentBefore = g_channelLines.size();
  g_agentStart = Now();
}

void CheckAgentRelay() {
  if (g_agent.fd < 0) return;
  const std::vector<std::string> &lines = g_agentLines;
  const size_t before = g_agentBefore;
  ExpectOnChannel(lines, before, "agent to add-in");
  size_t bytes = 0;
  for (const std::string &line : lines) bytes += line.size() + 1;
  char figure[160];
  std::snprintf(figure, sizeof figure, "agent to add-in: %zu lines, %zu bytes in %.0f ms", lines.size(), bytes,
                (Now() - g_agentStart) * 1000);
  Note(figure);
  // Every message was answered (ACK,n for the channel's n-th message); the agent gets the answers
  // to its own lines as lines. An answer to what came before it connected found no agent, or, when
  // it was still on its way as this agent connected, reaches this one first: the relay is a byte
  // pipe to whichever agent is there. Such answers are set aside.
  const size_t answers = lines.size();
  RunUntil([&] { return g_agent.received.size() >= answers; }, 30);
  while (!g_agent.received.empty() && g_agent.received.front().rfind("ACK,", 0) == 0 &&
         std::strtoul(g_agent.received.front().c_str() + 4, nullptr, 10) <= before) {
    g_agent.received.erase(g_agent.received.begin());
    RunUntil([&] { return g_agent.received.size() >= answers; }, 30);
  }
  if (g_options.silent) return;
  if (g_agent.received.size() < answers)
    return Fail("add-in to agent: " + std::to_string(g_agent.received.size()) + " of " + std::to_string(answers) +
                " answers reached the agent");
  for (size_t i = 0; i < answers; ++i)
    if (g_agent.received[i].rfind("ACK," + std::to_string(before + i + 1) + ",", 0) != 0)
      return Fail("add-in to agent: answer " + std::to_string(i + 1) + " is \"" + g_agent.received[i].substr(0, 40) +
                  "\"");
  // Longer and oddly cut messages from the add-in.
  const std::string big = "BIG,1," + std::string(100000, 'x');
  Write(big + "\n");
  Write("TWO,1,a\nTWO,2,b\n");
  Write("SPL");
  Write("IT,1,c\n");
  const size_t had = answers;
  RunUntil([&] { return g_agent.received.size() >= had + 4; }, 30);
  const std::vector<std::string> expected = {big, "TWO,1,a", "TWO,2,b", "SPLIT,1,c"};
  for (size_t i = 0; i < expected.size(); ++i) {
    if (had + i >= g_agent.received.size() || g_agent.received[had + i] != expected[i])
      return Fail("add-in to agent: line " + std::to_string(i + 1) +
                  " of the long and cut messages is missing or differs");
  }
  Note("add-in to agent: " + std::to_string(answers) +
       " answers, a line of 100,000 bytes, two lines in one message "
       "and a line in two writes reached the agent");
}

}  // namespace

int main(int argc, char **argv) {
  Options &o = g_options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
    const char *v = nullptr;
    if (a == "--port" && (v = value()))
      o.port = std::atoi(v);
    else if (a == "--display" && (v = value()))
      o.display = v;
    else if (a == "--expect" && (v = value()))
      o.expectFile = v;
    else if (a == "--agent-port" && (v = value()))
      o.agentPort = std::atoi(v);
    else if (a == "--agent-lines" && (v = value()))
      o.agentLinesFile = v;
    else if (a == "--flood" && (v = value()))
      o.flood = static_cast<unsigned>(std::atoi(v));
    else if (a == "--seconds" && (v = value()))
      o.seconds = static_cast<unsigned>(std::atoi(v));
    else if (a == "--earlier" && (v = value()))
      o.earlier = static_cast<unsigned>(std::atoi(v));
    else if (a == "--user" && (v = value()))
      o.user = v;
    else if (a == "--password" && (v = value()))
      o.password = v;
    else if (a == "--no-channel")
      o.channel = false;
    else if (a == "--silent")
      o.silent = true;
    else if (a == "--pixels")
      o.pixels = true;
    else if (a == "--input")
      o.input = true;
    else if (a == "--leave-midline")
      o.leaveMidline = true;
    else if (a == "--dump")
      o.dump = true;
    else if (a == "--junk" && (v = value()))
      o.junkMegabytes = static_cast<size_t>(std::atoi(v));
    else
      return Usage(("bad argument " + a).c_str());
  }
  if (o.port <= 0 || o.display.empty()) return Usage("--port and --display are required");
  if ((o.agentPort > 0) != !o.agentLinesFile.empty()) return Usage("--agent-port and --agent-lines go together");
  g_x = XOpenDisplay(o.display.c_str());
  if (!g_x) return Usage("cannot open the display");
  g_deadline = Now() + o.seconds;

  g_instance = freerdp_new();
  g_instance->PreConnect = PreConnect;
  g_instance->PostConnect = PostConnect;
  g_instance->PostDisconnect = PostDisconnect;
  g_instance->VerifyCertificateEx = AcceptCertificate;
  if (!freerdp_context_new(g_instance)) return Usage("cannot make the client");
  rdpSettings *s = g_instance->settings;
  freerdp_settings_set_string(s, FreeRDP_ServerHostname, "127.0.0.1");
  freerdp_settings_set_uint32(s, FreeRDP_ServerPort, static_cast<UINT32>(o.port));
  freerdp_settings_set_string(s, FreeRDP_Username, o.user.c_str());
  freerdp_settings_set_string(s, FreeRDP_Password, o.password.c_str());
  freerdp_settings_set_uint32(s, FreeRDP_ColorDepth, 32);
  freerdp_settings_set_bool(s, FreeRDP_SoftwareGdi, TRUE);
  // Another size than the display's: the server gives its own.
  freerdp_settings_set_uint32(s, FreeRDP_DesktopWidth, 1024);
  freerdp_settings_set_uint32(s, FreeRDP_DesktopHeight, 768);
  if (!freerdp_connect(g_instance)) {
    Fail("cannot connect to 127.0.0.1:" + std::to_string(o.port));
  } else {
    Note("connected");
    // As FreeRDP's own clients when they take the focus, with their channels connected: the
    // server sends on the channel from then on.
    freerdp_input_send_synchronize_event(g_instance->input, 0);
    if (o.channel && !RunUntil([] { return g_channelOpen; }, 10)) Fail("the channel did not open");
    if (o.earlier && !RunUntil([&] { return g_channelLines.size() >= o.earlier; }, 10))
      Fail("the channel brought " + std::to_string(g_channelLines.size()) + " of the " + std::to_string(o.earlier) +
           " messages expected before the checks");
    if (o.agentPort > 0) StartAgent();
    if (o.pixels) CheckPixels(), CheckPointer();
    if (o.input) CheckInput();
    if (!o.expectFile.empty()) ExpectOnChannel(ReadLines(o.expectFile, true), 0, "script");
    if (o.agentPort > 0) CheckAgentRelay();
    RunUntil([] { return false; }, 0.5);  // the last answers go out
    if (o.leaveMidline && g_channelOpen) {
      // Half a line, then the connection goes: it must reach no agent, and must not be glued to
      // the next connection's first line.
      Write("CUT,1,half a line");
      RunUntil([] { return false; }, 0.5);
      for (const std::string &line : g_agent.received)
        if (line.find("CUT,1") != std::string::npos) Fail("the half line reached the agent: " + line.substr(0, 40));
    }
    freerdp_disconnect(g_instance);
  }
  freerdp_context_free(g_instance);
  freerdp_free(g_instance);
  if (g_agent.fd >= 0) close(g_agent.fd);
  XCloseDisplay(g_x);
  std::printf("rdp-check-client: %s\n", g_failures ? "some checks FAILED" : "every check held");
  return g_failures ? 1 : 0;
}
