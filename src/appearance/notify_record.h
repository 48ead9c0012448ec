// Notification records: the agent sends each one in the layout a 32-bit application gives its
// shell; the shell of this build takes the structure of its own architecture.
#pragma once

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cstddef>

// A record as this build's shell takes it: the ANSI or the UTF-16 structure.
struct NativeNotifyRecord {
  char charType = 'W';  // 'A' or 'W': which member holds the record, and which shell call takes it
  union {
    NOTIFYICONDATAA a;
    NOTIFYICONDATAW w;
  };
  NativeNotifyRecord() : w() {}

  // The members the mirror reads and sets, of whichever structure holds the record.
  HWND &hWnd() { return charType == 'A' ? a.hWnd : w.hWnd; }
  UINT &uID() { return charType == 'A' ? a.uID : w.uID; }
  UINT &uFlags() { return charType == 'A' ? a.uFlags : w.uFlags; }
  UINT &uCallbackMessage() { return charType == 'A' ? a.uCallbackMessage : w.uCallbackMessage; }
  HICON &hIcon() { return charType == 'A' ? a.hIcon : w.hIcon; }
  HICON &hBalloonIcon() { return charType == 'A' ? a.hBalloonIcon : w.hBalloonIcon; }
};

// The shortest record taken: it reaches past hIcon, the last member the mirror reads or sets.
constexpr size_t kMinWireNotifyRecordSize = 24;

// Rebuilds the record the agent sent, wireSize bytes in the 32-bit layout (cbSize, hWnd at 4,
// uID 8, uFlags 12, uCallbackMessage 16, hIcon 20, szTip at 24, ...), as this build's structure.
// False, with *native untouched, for a character type other than 'A' and 'W' or a record shorter
// than kMinWireNotifyRecordSize.
//
// 32-bit build: the same bytes, zero past the record, the agent's cbSize kept up to the size of the
// whole structure (a longer record has nothing more any version holds).
// 64-bit build: every member copied by name, the handles (hWnd, hIcon, hBalloonIcon) widened as
// 32-bit handles are. cbSize names the native size of the record's version: a wire size of a known
// version gives that version, a size between two versions the larger known version not larger than
// it, a size below the first version the first version. Members the version does not hold, or the
// agent's bytes did not reach, are zero.
bool RebuildNotifyRecord(char charType, const unsigned char *wire, size_t wireSize, NativeNotifyRecord *native);
