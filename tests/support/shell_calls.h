// Windows only: the records the loaded add-in hands to Shell_NotifyIconA/W, as the shell gets them.
// The add-in's import address table entries of the two functions are pointed at recorders, which
// copy what the shell is given (the structure of this build, the icon's pixels) and pass the call
// on. What the notification area then shows cannot be read back through Win32; this can.
#pragma once

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <string>
#include <vector>

#include "encode.h"

namespace quorvtest {

struct ShellCall {
  DWORD message = 0;
  char form = 0;  // 'A' or 'W': which function was called
  // The members as the structure of this build holds them, read as far as cbSize reaches.
  DWORD cbSize = 0;
  HWND hWnd = nullptr;
  UINT uID = 0;
  UINT uFlags = 0;
  UINT uCallbackMessage = 0;
  HICON hIcon = nullptr;
  std::u16string tip;  // the ANSI form's characters widened one by one
  bool iconRead = false;
  testkit::IconPixels icon;  // read during the call: the add-in destroys its icon afterwards
  BOOL result = FALSE;
};

// Points the module's imports of Shell_NotifyIconA and Shell_NotifyIconW at the recorders. False
// when the module imports neither.
bool RecordShellCalls(HMODULE module);
// The calls recorded since the last take, in order.
std::vector<ShellCall> TakeShellCalls();

}  // namespace quorvtest
