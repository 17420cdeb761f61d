#pragma once
// When a lost connection is tried again: after 0.5 s, then 1, 2, ... up to 30 s between tries,
// back to 0.5 s once a connection is made. Shared by every source and client that reconnects by
// itself, so they all keep the same pace.

#include <functional>
#include <string>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

namespace quorvane {

// "reconnecting to NAME in 2 s": what is said of each try.
std::string ReconnectingText(const std::string& name, double seconds);

class RetrySchedule {
 public:
  static constexpr double kFirstRetrySeconds = 0.5;
  static constexpr double kLastRetrySeconds = 30;

  explicit RetrySchedule(asio::io_context& io) : timer_(io) {}

  struct Try {
    double seconds;      // until the try
    bool first_of_loss;  // the first try since the connection was lost
  };
  // Runs `retry` after the next wait (unless Cancel comes first).
  Try Schedule(std::function<void()> retry);
  // Runs `retry` on the next turn of the loop, the wait left as it is (another server to try).
  Try Now(std::function<void()> retry);
  // A connection was made: the next loss starts again from the shortest wait.
  void Connected();
  void Cancel() { timer_.cancel(); }

 private:
  void Wait(const Try& next, std::function<void()> retry);

  asio::steady_timer timer_;
  double wait_ = kFirstRetrySeconds;
  bool loss_reported_ = false;
};

}  // namespace quorvane
