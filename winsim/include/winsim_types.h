// winsim: the basic Win32 types, calling conventions and handle kinds, with the 32-bit layouts of
// the Windows headers. Only what the add-in, its tests and its tools use.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if !defined(__i386__)
#error "winsim mirrors 32-bit Windows: build with -m32"
#endif

#define WINAPI __attribute__((stdcall))
#define CALLBACK WINAPI
#define _stdcall __attribute__((stdcall))
// Exports of a module built against winsim (what a .def file does on Windows).
#define WINSIM_EXPORT __attribute__((visibility("default")))

typedef int BOOL;
typedef int WINBOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef unsigned int UINT;
typedef int INT;
typedef long LONG;
typedef unsigned long ULONG;
typedef unsigned int UINT32;
typedef int INT32;
typedef short SHORT;
typedef unsigned short USHORT;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef char16_t WCHAR;
typedef void VOID;
typedef long LSTATUS;
typedef DWORD REGSAM;
typedef WORD ATOM;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef void *PVOID, *LPVOID, *HANDLE;
typedef size_t SIZE_T;
typedef const void *LPCVOID;
typedef CHAR *PCHAR, *LPSTR, *PSTR;
typedef const CHAR *LPCSTR, *PCSTR;
typedef WCHAR *LPWSTR, *PWSTR;
typedef const WCHAR *LPCWSTR, *PCWSTR;
typedef DWORD *LPDWORD, *PDWORD;
typedef BYTE *LPBYTE, *PBYTE;
typedef LONG *PLONG, *LPLONG;
typedef UINT *PUINT;
typedef BOOL *LPBOOL;
typedef INT_PTR(WINAPI *FARPROC)();

#define WINSIM_HANDLE(name) \
  struct name##__ {         \
    int unused;             \
  };                        \
  typedef struct name##__ *name
WINSIM_HANDLE(HWND);
WINSIM_HANDLE(HINSTANCE);
WINSIM_HANDLE(HKEY);
WINSIM_HANDLE(HICON);
WINSIM_HANDLE(HBITMAP);
WINSIM_HANDLE(HRGN);
WINSIM_HANDLE(HDC);
WINSIM_HANDLE(HMENU);
WINSIM_HANDLE(HBRUSH);
WINSIM_HANDLE(HFONT);
WINSIM_HANDLE(HPEN);
#undef WINSIM_HANDLE
typedef HINSTANCE HMODULE;
typedef HICON HCURSOR;
typedef void *HGDIOBJ;
typedef HKEY *PHKEY;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define MAKELONG(a, b) \
  ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff))) << 16))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))

typedef struct tagRECT {
  LONG left, top, right, bottom;
} RECT, *PRECT, *LPRECT;
typedef const RECT *LPCRECT;
typedef struct tagPOINT {
  LONG x, y;
} POINT, *PPOINT, *LPPOINT;
typedef struct tagSIZE {
  LONG cx, cy;
} SIZE, *PSIZE;

typedef struct _SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(void *) == 4 && sizeof(WCHAR) == 2,
              "32-bit Windows layouts");
