// The agent's own notification icon on the client: a notification record and its icon parts in
// SYSTRAY messages, owned by the agent's window, so that the notification path of the add-in works
// with a real record; a click on it on the client shows the agent's menu in the session.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "encoders.h"
#include "outbox.h"

namespace agent {

// The icon's picture: the agent's mark, drawn in code (no resource file to ship).
wire::Image AgentIconImage(int size);

class AgentTray {
 public:
  static constexpr uint32_t kIconId = 1;

  AgentTray(Outbox &outbox, uint32_t ownerId, UINT callbackMessage)
      : outbox_(outbox), ownerId_(ownerId), callbackMessage_(callbackMessage) {}

  // NIM_ADD with the icon and tip; NIM_DELETE.
  void Add(const std::u16string &tip);
  void Remove();

  uint32_t ownerId() const { return ownerId_; }
  UINT callbackMessage() const { return callbackMessage_; }
  // A click the add-in reports (the mouse message of the classic notification callback) that
  // opens the menu: a button released, or the context menu key.
  static bool OpensMenu(uint32_t mouseMessage);

 private:
  void SendRecord(uint32_t shellMessage, uint32_t flags, const std::u16string &tip);

  Outbox &outbox_;
  uint32_t ownerId_;
  UINT callbackMessage_;
};

}  // namespace agent
