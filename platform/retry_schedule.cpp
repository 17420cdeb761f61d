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
  wait_ = std::min(wait_ * 2, kLastRetrySeconds);
  Wait(next, std::move(retry));
  return next;
}

RetrySchedule::Try RetrySchedule::Now(std::function<void()> retry) {
  const Try next{0, !loss_reported_};
  Wait(next, std::move(retry));
  return next;
}

void RetrySchedule::Wait(const Try& next, std::function<void()> retry) {
  loss_reported_ = true;
  timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(next.seconds)));
  // The handler holds nothing of the schedule: it may run after its owner is gone, cancelled.
  timer_.async_wait([retry = std::move(retry)](const std::error_code& error) {
    if (!error) retry();
  });
}

void RetrySchedule::Connected() {
  wait_ = kFirstRetrySeconds;
  loss_reported_ = false;
}

}  // namespace quorvane
