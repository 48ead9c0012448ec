// winsim's <shellapi.h>: the notification area (Shell_NotifyIconA/W) with the 32-bit layouts of the
// Windows headers.
#pragma once

#include "windows.h"

typedef struct _GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} GUID;

typedef struct _NOTIFYICONDATAA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  CHAR szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  CHAR szInfoTitle[64];
  DWORD dwInfoFlags;
  GUID guidItem;
  HICON hBalloonIcon;
} NOTIFYICONDATAA, *PNOTIFYICONDATAA;

typedef struct _NOTIFYICONDATAW {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  WCHAR szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  WCHAR szInfoTitle[64];
  DWORD dwInfoFlags;
  GUID guidItem;
  HICON hBalloonIcon;
} NOTIFYICONDATAW, *PNOTIFYICONDATAW;

static_assert(sizeof(NOTIFYICONDATAA) == 508 && sizeof(NOTIFYICONDATAW) == 956 &&
                  offsetof(NOTIFYICONDATAA, hWnd) == 4 && offsetof(NOTIFYICONDATAA, hIcon) == 20 &&
                  offsetof(NOTIFYICONDATAW, hWnd) == 4 && offsetof(NOTIFYICONDATAW, hIcon) == 20,
              "32-bit Windows layouts");

// Sizes of the earlier versions of the record: the shell accepts exactly these and the full size.
#define NOTIFYICONDATAA_V1_SIZE 88
#define NOTIFYICONDATAW_V1_SIZE 152
#define NOTIFYICONDATAA_V2_SIZE 488
#define NOTIFYICONDATAW_V2_SIZE 936
#define NOTIFYICONDATAA_V3_SIZE 504
#define NOTIFYICONDATAW_V3_SIZE 952

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIM_SETFOCUS 0x00000003
#define NIM_SETVERSION 0x00000004

#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
#define NIF_STATE 0x00000008
#define NIF_INFO 0x00000010
#define NIF_GUID 0x00000020
#define NIF_REALTIME 0x00000040
#define NIF_SHOWTIP 0x00000080

#define NOTIFYICON_VERSION_4 4

extern "C" {
BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data);
BOOL WINAPI Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data);
}

#ifndef UNICODE
#define Shell_NotifyIcon Shell_NotifyIconA
#endif
