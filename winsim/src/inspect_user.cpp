// winsim, for tests: the call log, object counts, region owners and windows of another process.
#include <windows.h>

#include "user_internal.h"

namespace winsim::detail {
namespace {

// Bounded, so a long-running process that never clears the log cannot grow it without limit.
constexpr size_t kMaxLoggedCalls = 100000;

std::vector<UserCallRecord> &CallLog() {
  static auto *log = new std::vector<UserCallRecord>;
  return *log;
}

}  // namespace

void LogCall(const UserCallRecord &record) {
  Guard guard(Lock());
  if (CallLog().size() < kMaxLoggedCalls) CallLog().push_back(record);
}

}  // namespace winsim::detail

namespace winsim {

std::vector<UserCallRecord> UserCallLog() {
  detail::Guard guard(detail::Lock());
  return detail::CallLog();
}

void ClearUserCallLog() {
  detail::Guard guard(detail::Lock());
  detail::CallLog().clear();
}

void FailBitmapCreation(int nth) { detail::g_failBitmapCountdown.store(nth); }

size_t LiveObjectCount(ObjectKind kind) {
  detail::Guard guard(detail::Lock());
  switch (kind) {
    case ObjectKind::Window:
      return detail::CountWindowsLocked();
    case ObjectKind::Region:
      return detail::CountObjectsLocked(detail::GdiKind::Region);
    case ObjectKind::Bitmap:
      return detail::CountObjectsLocked(detail::GdiKind::Bitmap);
    case ObjectKind::Icon:
      return detail::CountObjectsLocked(detail::GdiKind::Icon);
    case ObjectKind::DeviceContext:
      return detail::CountObjectsLocked(detail::GdiKind::DeviceContext);
    case ObjectKind::Brush:
      return detail::CountObjectsLocked(detail::GdiKind::Brush);
  }
  return 0;
}

HWND RegionOwner(HRGN region) {
  detail::Guard guard(detail::Lock());
  auto *object = detail::FindLocked<detail::Region>(region, detail::GdiKind::Region);
  return object ? object->owner : nullptr;
}

HWND CreateForeignWindow(LPCSTR className, LPCWSTR title, DWORD style, DWORD exStyle, const RECT &rect,
                         DWORD processId) {
  detail::Guard guard(detail::Lock());
  return detail::CreateForeignWindowLocked(className, title, style, exStyle, rect, processId);
}

}  // namespace winsim
