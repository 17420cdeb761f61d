#pragma once
// The host's event handlers, advised and unadvised by cookie, raised in the order advised.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "control/gps.hpp"

namespace quorvane {

class AdvisedSinks {
 public:
  int Advise(GpsEventSink sink) {
    sinks_.emplace_back(next_cookie_, std::make_shared<const GpsEventSink>(std::move(sink)));
    ++changes_;
    return next_cookie_++;
  }

  void Unadvise(int cookie) {
    std::erase_if(sinks_, [cookie](const auto& entry) { return entry.first == cookie; });
    ++changes_;
  }

  // A handler may advise or unadvise sinks, itself included, while the event is raised: the
  // sinks are walked by cookie (ascending, as advised), each kept alive through its own call;
  // one unadvised by an earlier handler is not called, one advised meanwhile waits for the next
  // event. No copy of the list per event: after a handler that changed it, the walk goes on
  // after that handler's cookie in the list as it is now.
  template <typename Member, typename... Arguments>
  void Raise(Member handler, Arguments&... arguments) const {
    const int last = next_cookie_ - 1;
    size_t at = 0;
    while (at < sinks_.size() && sinks_[at].first <= last) {
      // A sink without a handler for this event has nothing to keep alive.
      if (!((*sinks_[at].second).*handler)) {
        ++at;
        continue;
      }
      const int called = sinks_[at].first;
      const std::shared_ptr<const GpsEventSink> sink = sinks_[at].second;
      const uint64_t changes = changes_;
      ((*sink).*handler)(arguments...);
      if (changes == changes_) {
        ++at;
        continue;
      }
      at = static_cast<size_t>(
          std::upper_bound(sinks_.begin(), sinks_.end(), called,
                           [](int cookie, const auto& entry) { return cookie < entry.first; }) -
          sinks_.begin());
    }
  }

 private:
  std::vector<std::pair<int, std::shared_ptr<const GpsEventSink>>> sinks_;
  int next_cookie_ = 1;
  uint64_t changes_ = 0;  // advised or unadvised since the start
};

}  // namespace quorvane
