#pragma once
// Runs the host's loop until a condition holds or the time is up.

#include <chrono>

#include <asio/io_context.hpp>

namespace quorvane::testing {

// How long a condition is waited for unless a test says: generous, and more so under the
// sanitizers, which slow everything several times. A condition that holds ends the wait at once.
#if defined(__SANITIZE_ADDRESS__) || defined(QGPS_SANITIZED)
constexpr std::chrono::milliseconds kPatience{15000};
#else
constexpr std::chrono::milliseconds kPatience{5000};
#endif

template <typename Condition>
bool RunUntil(asio::io_context& io, Condition condition,
              std::chrono::milliseconds limit = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    io.restart();
    io.run_one_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Lets the loop run for `span` and returns how many handlers ran.
inline size_t RunFor(asio::io_context& io, std::chrono::milliseconds span) {
  io.restart();
  return io.run_for(span);
}

}  // namespace quorvane::testing
