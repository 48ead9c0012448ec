#include "outbox.h"

namespace agent {

bool Outbox::Send(std::string_view keyword, std::string_view fields) {
  std::string message(keyword);
  message += ',';
  message += std::to_string(number_++);  // wraps to 0 after 4294967295, as the add-in's counter does
  if (!fields.empty()) {
    message += ',';
    message += fields;
  }
  const bool ok = deliver_(message);
  ++(ok ? sent_ : failed_);
  return ok;
}

bool Outbox::SendHostDirective(std::string_view directive) {
  const bool ok = deliver_("#!" + std::string(directive));
  ++(ok ? sent_ : failed_);
  return ok;
}

}  // namespace agent
