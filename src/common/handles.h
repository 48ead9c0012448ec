// One holder for every kind of OS handle the add-in makes and frees in one scope: the close
// function is a template parameter. A handle given away (a region handed to SetWindowRgn) is
// released from its holder where it is given.
#pragma once

#include <windows.h>

template <typename Handle, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : m_handle(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle &) = delete;
  UniqueHandle &operator=(const UniqueHandle &) = delete;

  Handle get() const { return m_handle; }
  Handle *put() {
    reset();
    return &m_handle;
  }
  explicit operator bool() const { return m_handle != nullptr; }
  Handle release() {
    Handle handle = m_handle;
    m_handle = nullptr;
    return handle;
  }
  void reset(Handle handle = nullptr) {
    if (m_handle != nullptr) Close(m_handle);
    m_handle = handle;
  }

 private:
  Handle m_handle = nullptr;
};

namespace handle_close {
inline void GdiObject(HGDIOBJ object) { DeleteObject(object); }
inline void Icon(HICON icon) { DestroyIcon(icon); }
inline void RegistryKey(HKEY key) { RegCloseKey(key); }
inline void KernelObject(HANDLE handle) { CloseHandle(handle); }
inline void ScreenDC(HDC dc) { ReleaseDC(nullptr, dc); }
}  // namespace handle_close

using UniqueRegion = UniqueHandle<HRGN, handle_close::GdiObject>;
using UniqueBitmap = UniqueHandle<HBITMAP, handle_close::GdiObject>;
using UniqueIcon = UniqueHandle<HICON, handle_close::Icon>;
using UniqueRegKey = UniqueHandle<HKEY, handle_close::RegistryKey>;
using UniqueKernelHandle = UniqueHandle<HANDLE, handle_close::KernelObject>;
// The device context of the whole screen (GetDC(nullptr)).
using UniqueScreenDC = UniqueHandle<HDC, handle_close::ScreenDC>;
