#pragma once
// A completion of asynchronous work may run after the object that started it is gone (a timer
// or a read cancelled by the destructor still completes). The object keeps a LifeToken; each
// completion takes a Watch of it and does nothing once the watch has expired.

#include <memory>

namespace quorvane {

class LifeToken {
 public:
  LifeToken() = default;
  LifeToken(const LifeToken&) = delete;
  LifeToken& operator=(const LifeToken&) = delete;

  std::weak_ptr<const char> Watch() const { return token_; }

 private:
  std::shared_ptr<const char> token_ = std::make_shared<const char>();
};

}  // namespace quorvane
