#include "harness.h"

#ifndef _WIN32
#include <inspect.h>
#endif

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace quorvtest {

const char kHostTitle[] = "quorv test host";

namespace {

const char kFrameClass[] = "QuorvTestFrame";

std::vector<HostMessage> g_hostMessages;
std::vector<HostMessage> g_threadMessages;
std::vector<std::pair<std::string, REGSAM>> g_registryKeys;  // made by the test, with their view

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER && message < WM_USER + 0x100) {
    g_hostMessages.push_back(HostMessage{message, wParam, lParam, hwnd});
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::string LanguageIniPath() { return testkit::ExecutableDirectory("") + "\\Language.ini"; }

}  // namespace

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!msg.hwnd && msg.message >= WM_USER)
      g_threadMessages.push_back(HostMessage{msg.message, msg.wParam, msg.lParam, nullptr});
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void AddinTest::SetUp() {
#ifndef _WIN32
  // Where the add-in looks for Language.ini: a Windows path, an ordinary file name here.
  winsim::SetModuleFileName("C:\\quorvhost\\quorv-host.exe");
#endif
  remove(kLogMarkerFile);
  remove(kLogFile);
  WriteLanguageIni(std::string("[GLOBAL]\r\nAppName=") + kHostTitle + "\r\n");
  g_hostMessages.clear();
  g_threadMessages.clear();
}

void AddinTest::TearDown() {
  Unload();
  if (host_) DestroyWindow(host_);
  host_ = atlChild_ = plainChild_ = nullptr;
  PumpMessages();
  log_.reset();
  remove(LanguageIniPath().c_str());
  for (auto it = g_registryKeys.rbegin(); it != g_registryKeys.rend(); ++it)
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, it->first.c_str(), it->second, 0);
  g_registryKeys.clear();
}

void AddinTest::WriteLanguageIni(const std::string &content) {
  const std::string path = LanguageIniPath();
  if (content.empty()) {
    remove(path.c_str());
    return;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
}

void AddinTest::SetRegistryDisplayMode(const std::string &path, int value, REGSAM view) {
  // Every level is remembered so TearDown removes them, leaves first.
  std::string full;
  std::stringstream parts(path + "\\LocalInput");
  std::string part;
  while (std::getline(parts, part, '\\')) {
    full += (full.empty() ? "" : "\\") + part;
    HKEY probe = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_QUERY_VALUE | view, &probe) == ERROR_SUCCESS)
      RegCloseKey(probe);
    else
      g_registryKeys.emplace_back(full, view);
  }
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS | view, nullptr, &key, nullptr));
  if (value >= 0) {
    DWORD data = static_cast<DWORD>(value);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, "WindowDisplayMode", 0, REG_DWORD, reinterpret_cast<BYTE *>(&data), sizeof data));
  }
  RegCloseKey(key);
}

void AddinTest::EnableLog() {
  log_ = std::make_unique<ScopedDiagnosticLog>();
  ASSERT_TRUE(log_->enabled());
}

std::string AddinTest::ReadLog() { return ReadDiagnosticLog(); }

void AddinTest::Load() { ASSERT_TRUE(client().Load()) << client().error(); }

void AddinTest::LoadAndConnect() {
  ASSERT_NO_FATAL_FAILURE(Load());
  ASSERT_TRUE(client().CallEntry());
  client().Initialized();
  client().Connect();
}

void AddinTest::Unload() {
  if (client().loaded()) client().Unload();
}

void AddinTest::Send(const std::string &message, size_t chunkSize) { client().Deliver(message, chunkSize); }

std::vector<std::string> AddinTest::TakeSent() {
  std::vector<std::string> sent = client().Sent();
  client().ClearWrites();
  return sent;
}

std::vector<std::string> AddinTest::TakeSentPayloads() {
  std::vector<std::string> payloads;
  for (const std::string &text : TakeSent()) {
    const size_t first = text.find(',');
    const size_t second = first == std::string::npos ? first : text.find(',', first + 1);
    payloads.push_back(second == std::string::npos ? text : text.substr(0, first) + text.substr(second));
  }
  return payloads;
}

HWND AddinTest::CreateHostFrame(const char *title) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = GetModuleHandleA(nullptr);
    frameClass.lpszClassName = kFrameClass;
    RegisterClassA(&frameClass);
    WNDCLASSA atlClass = {};
    atlClass.lpfnWndProc = DefWindowProcA;
    atlClass.hInstance = GetModuleHandleA(nullptr);
    atlClass.lpszClassName = "ATL:RemoteDesktopControl";
    RegisterClassA(&atlClass);
    registered = true;
  }
  host_ = CreateWindowExA(0, kFrameClass, title ? title : kHostTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 20, 640,
                          480, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  atlChild_ = CreateWindowExA(0, "ATL:RemoteDesktopControl", "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, host_, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  plainChild_ = CreateWindowExA(0, "STATIC", "status", WS_CHILD | WS_VISIBLE, 0, 100, 100, 20, host_, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  PumpMessages();
  g_hostMessages.clear();
  return host_;
}

std::vector<HostMessage> AddinTest::TakeHostMessages() {
  PumpMessages();
  std::vector<HostMessage> messages;
  messages.swap(g_hostMessages);
  return messages;
}

void AddinTest::StartSession(int version) {
  if (!host_) CreateHostFrame();
  Send("HELLO,1," + std::to_string(version));
}

std::vector<HostMessage> AddinTest::TakeThreadMessages() {
  PumpMessages();
  std::vector<HostMessage> messages;
  messages.swap(g_threadMessages);
  return messages;
}

std::u16string AddinTest::WindowText(HWND hwnd) {
  WCHAR text[8192] = {};
  int n = InternalGetWindowText(hwnd, text, 8192);
  return std::u16string(reinterpret_cast<const char16_t *>(text), n > 0 ? static_cast<size_t>(n) : 0);
}

std::vector<HWND> AddinTest::NewLocalWindows(const std::vector<HWND> &before) {
  std::vector<HWND> made;
  for (HWND hwnd : LocalWindows())
    if (std::find(before.begin(), before.end(), hwnd) == before.end()) made.push_back(hwnd);
  return made;
}

HWND AddinTest::SendForLocalWindow(const std::string &message) {
  const std::vector<HWND> before = LocalWindows();
  Send(message);
  const std::vector<HWND> made = NewLocalWindows(before);
  EXPECT_LE(made.size(), 1u) << message;
  return made.size() == 1 ? made[0] : nullptr;
}

HWND AddinTest::CreateStrayLocalWindow() {
  // The add-in registers its class without an instance handle, which makes it the program's.
  return CreateWindowExA(0, "WTSHalvornDummy", "stray", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

namespace {

// The rectangles of a region as GetRegionData lists them, "{l,t,r,b} ..." ("{}" when empty).
std::string DescribeRegion(HRGN region) {
  const DWORD size = GetRegionData(region, 0, nullptr);
  std::vector<unsigned char> data(size);
  if (size < sizeof(RGNDATAHEADER) || GetRegionData(region, size, reinterpret_cast<RGNDATA *>(data.data())) != size)
    return "(unreadable region)";
  const RGNDATA *rgn = reinterpret_cast<const RGNDATA *>(data.data());
  const RECT *r = reinterpret_cast<const RECT *>(rgn->Buffer);
  std::string text;
  for (DWORD i = 0; i < rgn->rdh.nCount; ++i)
    text += (i ? " {" : "{") + std::to_string(r[i].left) + "," + std::to_string(r[i].top) + "," +
            std::to_string(r[i].right) + "," + std::to_string(r[i].bottom) + "}";
  return text.empty() ? "{}" : text;
}

}  // namespace

std::string RegionDifference(HWND hwnd, const std::vector<testkit::Rect> &rects) {
  HRGN actual = CreateRectRgn(0, 0, 0, 0), expected = CreateRectRgn(0, 0, 0, 0);
  for (const testkit::Rect &r : rects) {
    HRGN part = CreateRectRgn(r.left, r.top, r.right, r.bottom);
    CombineRgn(expected, expected, part, RGN_OR);
    DeleteObject(part);
  }
  std::string difference;
  if (GetWindowRgn(hwnd, actual) == ERROR)
    difference = "expected " + DescribeRegion(expected) + ", the window has no region";
  else if (!EqualRgn(actual, expected))
    difference = "expected " + DescribeRegion(expected) + ", saw " + DescribeRegion(actual);
  DeleteObject(actual);
  DeleteObject(expected);
  return difference;
}

void StartNewSecond() {
#ifndef _WIN32
  // Onward from whatever the clock said last, real or fixed.
  static int64_t clock = 0;
  clock = std::max<int64_t>(clock, static_cast<int64_t>(time(nullptr))) + 1;
  winsim::SetCalendarTime(clock);
#else
  const time_t start = time(nullptr);
  while (time(nullptr) == start) Sleep(1);
#endif
}

}  // namespace quorvtest
