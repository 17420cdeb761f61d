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
  // sinks are walked by cookie (ascending, as advised), each kept alive through its own call;
  // one unadvised by an earlier handler is not called, one advised meanwhile waits for the next
  // event. No copy of the list per event.
  template <typename Member, typename... Arguments>
  void Raise(Member handler, Arguments&... arguments) const {
    const int last = next_cookie_ - 1;
    int called = 0;
    for (;;) {
      const auto next =
          std::upper_bound(sinks_.begin(), sinks_.end(), called,
                           [](int cookie, const auto& entry) { return cookie < entry.first; });
      if (next == sinks_.end() || next->first > last) return;
      called = next->first;
      // A sink without a handler for this event has nothing to keep alive.
      if (!((*next->second).*handler)) continue;
      const std::shared_ptr<const GpsEventSink> sink = next->second;
      ((*sink).*handler)(arguments...);
    }
  }

 private:
  std::vector<std::pair<int, std::shared_ptr<const GpsEventSink>>> sinks_;
  int next_cookie_ = 1;
};

}  // namespace quorvane
