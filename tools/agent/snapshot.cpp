#include "snapshot.h"

namespace agent {

namespace {
// Window style bits as Win32 defines them (the classification needs no window to exist).
constexpr uint32_t kCaption = 0x00C00000;     // WS_CAPTION: a title bar
constexpr uint32_t kToolWindow = 0x00000080;  // WS_EX_TOOLWINDOW
constexpr uint32_t kAppWindow = 0x00040000;   // WS_EX_APPWINDOW
}  // namespace

WindowKind Classify(const WindowTraits &traits) {
  if (traits.exStyle & kAppWindow) return WindowKind::kTaskbar;
  const bool caption = (traits.style & kCaption) == kCaption;
  if (traits.exStyle & kToolWindow) return caption ? WindowKind::kTool : WindowKind::kShapeOnly;
  if (traits.owned) return caption ? WindowKind::kOwned : WindowKind::kShapeOnly;
  return WindowKind::kTaskbar;
}

}  // namespace agent
