#include "platform/send_budget.hpp"

#include <malloc.h>

#include <chrono>
#include <memory>

#include <asio/steady_timer.hpp>

namespace quorvane {

SendBudget& SendBudget::Shared() {
  static SendBudget budget;
  return budget;
}

bool SendBudget::Allows(size_t waiting, size_t more, size_t own_most) const {
  if (waiting + more > own_most) return false;
  return waiting + more <= kCloseBehind || waiting_ + more <= kAllClients;
}

void SendBudget::GiveBackSoon(asio::io_context& io) {
  static std::atomic<bool> due{false};
  if (due.exchange(true)) return;
  auto timer = std::make_shared<asio::steady_timer>(io, std::chrono::seconds(1));
  timer->async_wait([timer](const std::error_code&) {
    due = false;
    // The allocator keeps what a burst of queues freed unless asked to give it back.
    ::malloc_trim(0);
  });
}

}  // namespace quorvane
