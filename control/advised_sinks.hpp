#pragma once
// The host's event handlers, advised and unadvised by cookie, raised in the order advised.

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "control/gps.hpp"

namespace quorvane {

class AdvisedSinks {
 public:
  int Advise(GpsEventSink sink) {
    sinks_.emplace_back(next_cookie_, std::make_shared<const GpsEventSink>(std::move(sink)));
    return next_cookie_++;
  }

  void Unadvise(int cookie) {
    std::erase_if(sinks_, [cookie](const auto& entry) { return entry.first == cookie; });
  }

  // A handler may advise or unadvise sinks, itself included, while the event is raised: the
  // snapshot keeps every sink alive through its call, and one unadvised by an earlier handler
  // is not called.
  template <typename Member, typename... Arguments>
  void Raise(Member handler, Arguments&... arguments) const {
    const auto snapshot = sinks_;
    for (const auto& advised : snapshot) {
      const bool still_advised = std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& entry) {
        return entry.first == advised.first;
      });
      if (!still_advised) continue;
      const auto& function = (*advised.second).*handler;
      if (function) function(arguments...);
    }
  }

 private:
  std::vector<std::pair<int, std::shared_ptr<const GpsEventSink>>> sinks_;
  int next_cookie_ = 1;
};

}  // namespace quorvane
