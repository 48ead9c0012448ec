// winsim kernel32: last error, named mutexes, the clock, ids and code pages.
#include <windows.h>

#include <inspect.h>

#include <condition_variable>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

thread_local DWORD t_lastError = 0;

struct Mutex {
  std::mutex lock;
  std::condition_variable released;
  DWORD owner = 0;
  unsigned depth = 0;
  std::string name;
};

struct KernelObjects {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<Mutex>> handles;
  std::map<std::string, std::weak_ptr<Mutex>> named;
  uintptr_t next = 0x1000;
};

KernelObjects &Objects() {
  static KernelObjects *objects = new KernelObjects;  // lives until the process ends
  return *objects;
}

std::shared_ptr<Mutex> FindMutex(HANDLE handle) {
  KernelObjects &k = Objects();
  std::lock_guard<std::mutex> guard(k.lock);
  auto it = k.handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == k.handles.end() ? nullptr : it->second;
}

// The clock: real unless a test fixed it.
std::mutex g_clockLock;
bool g_fixedClock = false;
int64_t g_fixedSeconds = 0;
int g_fixedMilliseconds = 0;

void NowSeconds(int64_t *seconds, int *milliseconds) {
  {
    std::lock_guard<std::mutex> guard(g_clockLock);
    if (g_fixedClock) {
      *seconds = g_fixedSeconds;
      *milliseconds = g_fixedMilliseconds;
      return;
    }
  }
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  *seconds = ts.tv_sec;
  *milliseconds = static_cast<int>(ts.tv_nsec / 1000000);
}

// Windows-1252, the ANSI code page of a Western system.
const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t Cp1252ToUnicode(unsigned char c) { return c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c; }

// The end of both conversions: the count alone when no room is given, else the converted text.
template <typename Text, typename Char>
int CopyOut(const Text &out, Char *dst, int dstCount) {
  if (dstCount == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(dstCount)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(out.begin(), out.end(), dst);
  return static_cast<int>(out.size());
}

int UnicodeToCp1252(char16_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return u;
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == u) return 0x80 + i;
  return -1;
}

}  // namespace

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }
void WINAPI SetLastError(DWORD error) { t_lastError = error; }

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
  KernelObjects &k = Objects();
  std::shared_ptr<Mutex> mutex;
  bool existed = false;
  {
    std::lock_guard<std::mutex> guard(k.lock);
    if (name && *name) {
      auto it = k.named.find(name);
      if (it != k.named.end()) mutex = it->second.lock();
      existed = mutex != nullptr;
    }
    if (!mutex) {
      mutex = std::make_shared<Mutex>();
      if (name && *name) {
        mutex->name = name;
        k.named[name] = mutex;
      }
    }
    k.next += 4;
    k.handles[k.next] = mutex;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(k.next);
  if (initialOwner && !existed) WaitForSingleObject(handle, INFINITE);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE WINAPI OpenMutexA(DWORD, BOOL, LPCSTR name) {
  KernelObjects &k = Objects();
  std::lock_guard<std::mutex> guard(k.lock);
  auto it = name ? k.named.find(name) : k.named.end();
  std::shared_ptr<Mutex> mutex = it == k.named.end() ? nullptr : it->second.lock();
  if (!mutex) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  k.next += 4;
  k.handles[k.next] = mutex;
  return reinterpret_cast<HANDLE>(k.next);
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<Mutex> mutex = FindMutex(handle);
  if (!mutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  const DWORD self = GetCurrentThreadId();
  std::unique_lock<std::mutex> guard(mutex->lock);
  auto free = [&] { return mutex->depth == 0 || mutex->owner == self; };
  if (milliseconds == INFINITE) {
    mutex->released.wait(guard, free);
  } else if (!mutex->released.wait_for(guard, std::chrono::milliseconds(milliseconds), free)) {
    return WAIT_TIMEOUT;
  }
  mutex->owner = self;
  ++mutex->depth;
  return WAIT_OBJECT_0;
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
  std::shared_ptr<Mutex> mutex = FindMutex(handle);
  if (!mutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(mutex->lock);
  if (mutex->depth == 0 || mutex->owner != GetCurrentThreadId()) {
    SetLastError(288);  // ERROR_NOT_OWNER
    return FALSE;
  }
  if (--mutex->depth == 0) {
    mutex->owner = 0;
    mutex->released.notify_all();
  }
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  KernelObjects &k = Objects();
  std::lock_guard<std::mutex> guard(k.lock);
  auto it = k.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == k.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::string name = it->second->name;
  k.handles.erase(it);
  if (!name.empty()) {
    auto named = k.named.find(name);
    if (named != k.named.end() && named->second.expired()) k.named.erase(named);
  }
  return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) { usleep(static_cast<useconds_t>(milliseconds) * 1000); }

void WINAPI GetLocalTime(LPSYSTEMTIME out) {
  int64_t seconds;
  int milliseconds;
  NowSeconds(&seconds, &milliseconds);
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  localtime_r(&t, &tm);
  out->wYear = static_cast<WORD>(tm.tm_year + 1900);
  out->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  out->wDay = static_cast<WORD>(tm.tm_mday);
  out->wHour = static_cast<WORD>(tm.tm_hour);
  out->wMinute = static_cast<WORD>(tm.tm_min);
  out->wSecond = static_cast<WORD>(tm.tm_sec);
  out->wMilliseconds = static_cast<WORD>(milliseconds);
}

DWORD WINAPI GetTickCount(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<DWORD>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }
DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(syscall(SYS_gettid)); }

// The C runtime's calendar time follows the same clock, so tests can fix it. winsim is linked
// before the C library, so this definition is the one the add-in's time() calls resolve to.
time_t time(time_t *out) {
  int64_t seconds;
  int milliseconds;
  NowSeconds(&seconds, &milliseconds);
  if (out) *out = static_cast<time_t>(seconds);
  return static_cast<time_t>(seconds);
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR src, int srcCount, LPWSTR dst, int dstCount) {
  if (!src || srcCount == 0 || dstCount < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t n = srcCount < 0 ? strlen(src) + 1 : static_cast<size_t>(srcCount);
  // A single-byte code page gives one unit a byte: a count takes no memory, as on Windows.
  if (codePage != CP_UTF8 && dstCount == 0) return static_cast<int>(n);
  std::u16string out;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(src);
  if (codePage == CP_UTF8) {
    for (size_t i = 0; i < n;) {
      unsigned c = s[i], cp = 0xFFFD;
      size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
      if (len == 0 || i + len > n) {
        ++i;
      } else {
        cp = len == 1 ? c : c & (0xFF >> (len + 1));
        bool ok = true;
        for (size_t j = 1; j < len; ++j) {
          if ((s[i + j] & 0xC0) != 0x80) ok = false;
          cp = (cp << 6) | (s[i + j] & 0x3F);
        }
        if (!ok) {
          cp = 0xFFFD;
          len = 1;
        }
        i += len;
      }
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      } else {
        out += static_cast<char16_t>(cp);
      }
    }
  } else {
    for (size_t i = 0; i < n; ++i) out += Cp1252ToUnicode(s[i]);
  }
  return CopyOut(out, dst, dstCount);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR src, int srcCount, LPSTR dst, int dstCount,
                               LPCSTR defaultChar, LPBOOL usedDefault) {
  if (!src || srcCount == 0 || dstCount < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = 0;
  if (srcCount < 0) {
    while (src[n]) ++n;
    ++n;
  } else {
    n = static_cast<size_t>(srcCount);
  }
  std::string out;
  bool defaulted = false;
  for (size_t i = 0; i < n; ++i) {
    unsigned u = src[i];
    if (codePage == CP_UTF8) {
      if (u >= 0xD800 && u < 0xDC00 && i + 1 < n && src[i + 1] >= 0xDC00 && src[i + 1] < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (src[i + 1] - 0xDC00);
        ++i;
      } else if (u >= 0xD800 && u < 0xE000) {
        u = 0xFFFD;
      }
      if (u < 0x80) {
        out += static_cast<char>(u);
      } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
      } else if (u < 0x10000) {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (u >> 18));
        out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
      }
    } else {
      int c = UnicodeToCp1252(static_cast<char16_t>(u));
      if (c < 0) {
        defaulted = true;
        out += defaultChar ? *defaultChar : '?';
      } else {
        out += static_cast<char>(c);
      }
    }
  }
  if (usedDefault) *usedDefault = defaulted;
  return CopyOut(out, dst, dstCount);
}

}  // extern "C"

namespace winsim {

void SetLocalTime(const SYSTEMTIME &t) {
  // The fixed clock is kept as seconds since 1970 in local time's terms: convert through mktime.
  struct tm tm = {};
  tm.tm_year = t.wYear - 1900;
  tm.tm_mon = t.wMonth - 1;
  tm.tm_mday = t.wDay;
  tm.tm_hour = t.wHour;
  tm.tm_min = t.wMinute;
  tm.tm_sec = t.wSecond;
  tm.tm_isdst = -1;
  std::lock_guard<std::mutex> guard(g_clockLock);
  g_fixedClock = true;
  g_fixedSeconds = static_cast<int64_t>(mktime(&tm));
  g_fixedMilliseconds = t.wMilliseconds;
}

void SetCalendarTime(int64_t seconds) {
  std::lock_guard<std::mutex> guard(g_clockLock);
  g_fixedClock = true;
  g_fixedSeconds = seconds;
  g_fixedMilliseconds = 0;
}

int OpenKernelHandles() {
  KernelObjects &k = Objects();
  std::lock_guard<std::mutex> guard(k.lock);
  return static_cast<int>(k.handles.size());
}

}  // namespace winsim
