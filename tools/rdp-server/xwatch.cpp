// quorv-xwatch :N: what a desktop's window manager shows of its windows, as it happens, for
// timing (scripts/bench-rdp). One line per event, flushed at once:
//   MICROSECONDS-SINCE-1970 button XID NAME   a window joined the window manager's list (a taskbar
//                                             button), with its name then
//   MICROSECONDS-SINCE-1970 title XID NAME    a listed window's name changed
//   MICROSECONDS-SINCE-1970 shape XID NAME    a listed window's shape changed
// Ends when the display goes away or on a signal.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <utility>

namespace {

Display *g_display = nullptr;
Atom g_clientList, g_netName, g_utf8;

unsigned long long Now() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<unsigned long long>(t.tv_sec) * 1000000ULL + static_cast<unsigned long long>(t.tv_nsec) / 1000;
}

// Windows vanish between the list and the question: such errors are expected and ignored.
int IgnoreErrors(Display *, XErrorEvent *) { return 0; }

std::string Name(Window w) {
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char *data = nullptr;
  std::string name;
  if (XGetWindowProperty(g_display, w, g_netName, 0, 1024, False, g_utf8, &type, &format, &count, &after, &data) ==
          Success &&
      data && format == 8)
    name.assign(reinterpret_cast<char *>(data), count);
  if (data) XFree(data);
  if (name.empty()) {
    char *plain = nullptr;
    if (XFetchName(g_display, w, &plain) && plain) name = plain;
    if (plain) XFree(plain);
  }
  for (char &c : name)
    if (c == '\n' || c == '\r') c = ' ';
  return name;
}

void Print(unsigned long long when, const char *kind, Window w) {
  std::printf("%llu %s 0x%lx %s\n", when, kind, static_cast<unsigned long>(w), Name(w).c_str());
  std::fflush(stdout);
}

std::set<Window> g_listed;

void ReadList(unsigned long long when) {
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char *data = nullptr;
  std::set<Window> now;
  if (XGetWindowProperty(g_display, DefaultRootWindow(g_display), g_clientList, 0, 65536, False, XA_WINDOW, &type,
                         &format, &count, &after, &data) == Success &&
      data && format == 32) {
    const unsigned long *ids = reinterpret_cast<const unsigned long *>(data);
    for (unsigned long i = 0; i < count; ++i) now.insert(static_cast<Window>(ids[i]));
  }
  if (data) XFree(data);
  for (Window w : now) {
    if (g_listed.count(w)) continue;
    XSelectInput(g_display, w, PropertyChangeMask);
    XShapeSelectInput(g_display, w, ShapeNotifyMask);
    Print(when, "button", w);
  }
  g_listed = std::move(now);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2 || argv[1][0] != ':') {
    std::fprintf(stderr, "usage: quorv-xwatch :N\n");
    return 2;
  }
  g_display = XOpenDisplay(argv[1]);
  if (!g_display) {
    std::fprintf(stderr, "quorv-xwatch: cannot open display %s\n", argv[1]);
    return 1;
  }
  int shapeEvent = 0, shapeError = 0;
  if (!XShapeQueryExtension(g_display, &shapeEvent, &shapeError)) {
    std::fprintf(stderr, "quorv-xwatch: display %s has no shape extension\n", argv[1]);
    return 1;
  }
  XSetErrorHandler(IgnoreErrors);
  g_clientList = XInternAtom(g_display, "_NET_CLIENT_LIST", False);
  g_netName = XInternAtom(g_display, "_NET_WM_NAME", False);
  g_utf8 = XInternAtom(g_display, "UTF8_STRING", False);
  XSelectInput(g_display, DefaultRootWindow(g_display), PropertyChangeMask);
  ReadList(Now());
  std::printf("%llu ready 0x0 watching %s\n", Now(), argv[1]);
  std::fflush(stdout);
  for (;;) {
    XEvent e;
    XNextEvent(g_display, &e);
    const unsigned long long when = Now();
    if (e.type == PropertyNotify) {
      const XPropertyEvent &p = e.xproperty;
      if (p.window == DefaultRootWindow(g_display) && p.atom == g_clientList)
        ReadList(when);
      else if (p.atom == g_netName || p.atom == XA_WM_NAME)
        Print(when, "title", p.window);
    } else if (e.type == shapeEvent + ShapeNotify) {
      const XShapeEvent &s = reinterpret_cast<const XShapeEvent &>(e);
      if (s.kind == ShapeBounding) Print(when, "shape", s.window);
    }
  }
}
