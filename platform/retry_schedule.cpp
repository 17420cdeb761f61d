#include "platform/retry_schedule.hpp"

#include <algorithm>
#include <chrono>

#include "base/text_rules.hpp"

namespace quorvane {

std::string ReconnectingText(const std::string& name, double seconds) {
  return "reconnecting to " + name + " in " + NumberToText(seconds) + " s";
}

RetrySchedule::Try RetrySchedule::Schedule(std::function<void()> retry) {
  const Try next{wait_, !loss_reported_};
  loss_reported_ = true;
  wait_ = std::min(wait_ * 2, kLastRetrySeconds);
  timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(next.seconds)));
  // The handler holds nothing of the schedule: it may run after its owner is gone, cancelled.
  timer_.async_wait([retry = std::move(retry)](const std::error_code& error) {
    if (!error) retry();
  });
  return next;
}

void RetrySchedule::Connected() {
  wait_ = kFirstRetrySeconds;
  loss_reported_ = false;
}

}  // namespace quorvane
