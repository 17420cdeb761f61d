#pragma once
// A stream flushed once the loop has done what it is doing: a fleet's messages arrive in bursts,
// each a block of its own, and a burst's lines then leave in one write, where a write for each
// would cost a system call (and a wake-up of the reader) for every vehicle's fix. A single
// receiver's blocks come one turn of the loop each, so its lines still leave block by block.

#include <memory>
#include <ostream>

#include <asio/io_context.hpp>
#include <asio/post.hpp>

namespace quorvane {

class DeferredFlush {
 public:
  DeferredFlush(asio::io_context& io, std::ostream& out)
      : io_(io), state_(std::make_shared<State>(State{&out})) {}
  ~DeferredFlush() { state_->out = nullptr; }
  DeferredFlush(const DeferredFlush&) = delete;
  DeferredFlush& operator=(const DeferredFlush&) = delete;

  // Flushes on a later turn of the loop, once for all asked before it.
  void Request() {
    if (state_->pending) return;
    state_->pending = true;
    asio::post(io_, [state = state_] {
      state->pending = false;
      if (state->out) state->out->flush();
    });
  }

 private:
  struct State {
    std::ostream* out;  // null once the stream's owner is gone
    bool pending = false;
  };
  asio::io_context& io_;
  std::shared_ptr<State> state_;
};

}  // namespace quorvane
