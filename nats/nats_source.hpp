#pragma once
// A fleet read from a NATS JetStream stream: every message on the subjects a filter matches
// ("fleet.*.fix") is a vehicle's epoch, its TPV object, handed on with the vehicle's name (the
// token the filter's last "*" matched). The messages come through a durable pull consumer of the
// stream, a batch at a time, and a batch is acknowledged only once the loop has handed every
// epoch of it to the sinks, so a consumer stopped (or killed) and started again with the same
// name goes on where it stopped. Epochs of a vehicle come in the order they were published; one
// that comes again (a publication repeated, a batch whose acknowledgement was lost) is dropped
// by its time, so that every fix is taken once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>

#include "nats/nats_connection.hpp"
#include "sources/block_source.hpp"
#include "sources/source_factory.hpp"
#include "sources/tpv_fix.hpp"

struct __natsSubscription;

namespace quorvane {

struct NatsConsumerSettings {
  std::string stream;   // the stream's name: the subject's first token unless named
  std::string durable;  // the consumer's name; empty: one of this run's own, forgotten after it
  // Where a consumer made now starts: the stream's first message, or its first since then.
  std::optional<std::chrono::system_clock::time_point> since;
};

class NatsSource final : public BlockSource {
 public:
  // Messages fetched at a time, and how long a fetch gathers them at most: a fix waits no longer
  // than that for the batch it came in (one at a time would cost a round trip each).
  static constexpr int kBatch = 1024;
  static constexpr int kFetchMilliseconds = 50;

  NatsSource(asio::io_context& io, NatsServers servers, std::string filter,
             NatsConsumerSettings settings);
  ~NatsSource() override;

  void Begin(BlockHandler on_block) override;
  void Close() override;
  bool IsOpen() const override { return connection_.Connected(); }
  bool GaveUp() const override { return connection_.GaveUp(); }
  bool EverOpen() const override { return connection_.EverConnected(); }
  std::string Peer() const override { return connection_.CurrentServer(); }
  // Its streams are named by the vehicles' names themselves: one level each.
  std::string StreamFilter() const override { return "+"; }

 private:
  struct Message {
    std::string subject;
    std::string data;
  };

  void Work();
  // Subscribed to the consumer, made or found; false (with the trouble said) when it cannot be.
  bool Subscribe();
  bool HandToLoop(std::vector<Message> batch);
  // On the loop.
  void Take(const Message& message);
  // The worker's trouble, said on the loop once for each `kind`.
  void Warn(std::string warning, std::string kind);
  // Waits `span` unless the source closes meanwhile; whether it is still open.
  bool Pause(std::chrono::milliseconds span);

  asio::io_context& io_;
  NatsConnection connection_;
  std::string filter_;
  NatsConsumerSettings settings_;
  // The run named its consumer itself (none was given): one the server forgets after the run.
  bool own_consumer_;
  std::thread worker_;
  __natsSubscription* subscription_ = nullptr;  // the worker's

  std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  bool batch_taken_ = false;

  LatestEpochs latest_;  // on the loop
  LifeToken life_;
};

// nats:// addresses, for the list of known kinds.
void RegisterNatsSources(SourceFactory& factory);

// "-1h", "-30m", "-90s" back from `now`, or an ISO UTC time ("2026-12-08T08:00:00Z").
std::optional<std::chrono::system_clock::time_point> SinceTime(
    std::string_view text, std::chrono::system_clock::time_point now);

}  // namespace quorvane
