// A sink that writes a whole reply text into `reply` and lets the host keep it: a large item's
// or listing's reply is offered for keeping when it is done, and a kept one is taken as it is.
// The reply string is the caller's and must outlive the sink; not thread-safe (one request).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "host/velquor_base.h"

namespace ombrix {

class kept_reply_sink : public item_text_sink {
 public:
  explicit kept_reply_sink(std::string& reply) : reply_(reply) {}

  std::shared_ptr<const std::string> rendering(std::size_t max_bytes) override {
    if (reply_.size() > max_bytes) return nullptr;
    return std::make_shared<const std::string>(reply_);
  }
  bool reuse(const std::shared_ptr<const std::string>& kept) override {
    reply_.assign(*kept);
    return true;
  }

 protected:
  std::string& reply_;
};

}  // namespace ombrix
