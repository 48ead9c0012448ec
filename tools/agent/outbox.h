// Messages to the add-in: "KEYWORD,NUMBER,FIELDS", numbered from 1 by the agent (field 1, which the
// add-in never acts on), handed to whatever carries them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace agent {

class Outbox {
 public:
  // deliver carries one message (without line end); false when it could not.
  explicit Outbox(std::function<bool(const std::string &)> deliver) : deliver_(std::move(deliver)) {}

  // fields: what follows the number, already joined with commas; empty for none.
  bool Send(std::string_view keyword, std::string_view fields);
  // A line for the stand-in host itself (its "#!" directives), not a message to the add-in.
  bool SendHostDirective(std::string_view directive);

  uint64_t sent() const { return sent_; }
  uint64_t failed() const { return failed_; }

 private:
  std::function<bool(const std::string &)> deliver_;
  uint32_t number_ = 1;
  uint64_t sent_ = 0, failed_ = 0;
};

}  // namespace agent
