#pragma once
// What the clients of every server of the process may have waiting, together and each: a reader
// that never reads must not hold memory for ever, however many of them connect.
//
// A client close to its stream (kCloseBehind or less waiting, with what is sent) may always be
// sent more; one further behind only while every client together has less than kAllClients
// waiting; none beyond its server's own limit. A server cuts a client that may not be sent more,
// and hands the memory back to the system once the cut clients are gone (GiveBackSoon). So all
// clients together hold at most kAllClients and kCloseBehind each.

#include <atomic>
#include <cstddef>

#include <asio/io_context.hpp>

namespace quorvane {

class SendBudget {
 public:
  static constexpr size_t kAllClients = 64 * 1024 * 1024;
  static constexpr size_t kCloseBehind = 16 * 1024;

  // The process's one budget.
  static SendBudget& Shared();

  // Whether a client with `waiting` bytes queued, which its server lets have `own_most`, may
  // queue `more`.
  bool Allows(size_t waiting, size_t more, size_t own_most) const;
  void Add(size_t bytes) { waiting_ += bytes; }
  void Remove(size_t bytes) { waiting_ -= bytes; }
  size_t Waiting() const { return waiting_; }

  // Hands freed memory back to the system a moment from now (once, however often asked before
  // then), when the clients cut have let go of their queues.
  static void GiveBackSoon(asio::io_context& io);

 private:
  std::atomic<size_t> waiting_{0};
};

}  // namespace quorvane
