// A sink that writes a whole reply text into `reply` and lets the host keep it: a large item's
// or listing's reply is offered for keeping when it is done, and a kept one is taken as it is.
// With `kept_out`, a kept reply (and one handed over for keeping) is shared through it instead
// of being copied into `reply`. The strings are the caller's and must outlive the sink; not
// thread-safe (one request).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "host/velquor_base.h"

namespace ombrix {

class kept_reply_sink : public item_text_sink {
 public:
  kept_reply_sink(std::string& reply, std::shared_ptr<const std::string>* kept_out)
      : reply_(reply), kept_out_(kept_out) {}

  std::shared_ptr<const std::string> rendering(std::size_t max_bytes) override {
    if (reply_.size() > max_bytes) return nullptr;
    if (kept_out_ == nullptr) return std::make_shared<const std::string>(reply_);
    *kept_out_ = std::make_shared<const std::string>(std::move(reply_));
    reply_.clear();
    return *kept_out_;
  }
  bool reuse(const std::shared_ptr<const std::string>& kept) override {
    if (kept_out_ == nullptr) {
      reply_.assign(*kept);
    } else {
      *kept_out_ = kept;
      reply_.clear();
    }
    return true;
  }

 protected:
  // Called by begin: the text follows after all (a read that is run again after a reuse), so
  // the reply is the one made now, not a kept one.
  void forget_kept() {
    if (kept_out_ != nullptr) kept_out_->reset();
  }

  std::string& reply_;

 private:
  std::shared_ptr<const std::string>* kept_out_;
};

}  // namespace ombrix
