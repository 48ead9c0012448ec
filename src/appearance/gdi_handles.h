// Holders for the GDI and user handles the appearance code makes and frees in one scope. A handle
// given away (a region handed to SetWindowRgn) is released from its holder where it is given.
#pragma once

#include <windows.h>

template <typename Handle>
class UniqueGdiObject {
 public:
  UniqueGdiObject() = default;
  explicit UniqueGdiObject(Handle handle) : m_handle(handle) {}
  ~UniqueGdiObject() { reset(); }
  UniqueGdiObject(const UniqueGdiObject &) = delete;
  UniqueGdiObject &operator=(const UniqueGdiObject &) = delete;

  Handle get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  Handle release() {
    Handle handle = m_handle;
    m_handle = nullptr;
    return handle;
  }
  void reset(Handle handle = nullptr) {
    if (m_handle != nullptr) DeleteObject(m_handle);
    m_handle = handle;
  }

 private:
  Handle m_handle = nullptr;
};

using UniqueRegion = UniqueGdiObject<HRGN>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;

class UniqueIcon {
 public:
  explicit UniqueIcon(HICON icon) : m_icon(icon) {}
  ~UniqueIcon() {
    if (m_icon != nullptr) DestroyIcon(m_icon);
  }
  UniqueIcon(const UniqueIcon &) = delete;
  UniqueIcon &operator=(const UniqueIcon &) = delete;
  HICON get() const { return m_icon; }

 private:
  HICON m_icon;
};

// The device context of the whole screen, released when the holder goes.
class ScreenDC {
 public:
  ScreenDC() : m_dc(GetDC(nullptr)) {}
  ~ScreenDC() {
    if (m_dc != nullptr) ReleaseDC(nullptr, m_dc);
  }
  ScreenDC(const ScreenDC &) = delete;
  ScreenDC &operator=(const ScreenDC &) = delete;
  HDC get() const { return m_dc; }

 private:
  HDC m_dc;
};
