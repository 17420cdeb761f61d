#pragma once
// Publishes one receiver to a NATS JetStream stream under a subject prefix:
//   PREFIX.fix   every epoch's TPV object, kept by the stream
//   PREFIX.sky   the satellites' SKY object when it changes
//   PREFIX.nmea  every received block, as received, when asked for (a live feed, not waited for)
// A fix counts as published only once the stream acknowledged it. Fixes wait in a bounded queue
// (past the bound the oldest are dropped and counted) and go one after the other, each after the
// last was acknowledged, so the stream holds them in their order whatever the connection does;
// each carries a message id (the prefix and the fix's time), so that the stream drops a fix sent
// again after an acknowledgement was lost. The stream (the prefix's first token, every subject
// under it) is made when it is not there, replicated three times where the cluster has the
// nodes. A worker thread does the waiting; the receiver's path only appends to the queue.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include <asio/io_context.hpp>

#include "nats/nats_connection.hpp"
#include "receiver/sinks.hpp"
#include "sinks/gpsd_json.hpp"
#include "sinks/output.hpp"

namespace quorvane {

struct NatsPublishing {
  std::string prefix;  // "fleet.car7"
  std::string stream;  // the stream's name: the prefix's first token unless named
  size_t queue_limit = 10000;
  std::chrono::seconds max_age = std::chrono::hours(24 * 7);  // how long the stream keeps a fix
  bool nmea = false;                                          // the received text too
};

class NatsPublisher final : public EpochSink, public BlockSink, public Output {
 public:
  // `name` is the address as it may be shown; `warn` and `failed` as SinkContext's.
  NatsPublisher(asio::io_context& io, NatsServers servers, std::string name,
                NatsPublishing settings, StreamStates& streams,
                std::function<void(const std::string&)> warn);
  ~NatsPublisher() override;

  void TakeEpoch(const Fix& fix, const std::string& stream) override;
  void TakeBlock(std::string_view block, const BlockOrigin& origin) override;

  bool Ready() const override { return connection_.Connected(); }
  bool Delivering() const override;
  std::string State() const override;
  std::vector<std::string> Close() override;

 private:
  struct Waiting {
    std::string subject;
    std::string json;
    std::string id;
  };

  void Enqueue(Waiting waiting);
  void Work();
  // Publishes `next` and waits for the stream's acknowledgement; false when it did not come
  // (the trouble said once, unless the servers just did not answer).
  bool Publish(const Waiting& next);
  // Says a trouble unless it is the one said last.
  void Trouble(const std::string& trouble);
  // The stream is there, found or made; false (the trouble said once) when it cannot be.
  bool HaveStream();
  // Waits `span` unless the publisher closes meanwhile; whether it is still open.
  bool Pause(std::chrono::milliseconds span);
  void Warn(const std::string& warning);

  NatsConnection connection_;
  std::string name_;
  NatsPublishing settings_;
  std::string fix_subject_;
  std::string sky_subject_;
  std::string nmea_subject_;
  SkyChanges sky_changes_;
  std::function<void(const std::string&)> warn_;
  std::thread worker_;
  bool stream_ready_ = false;  // the worker's
  std::string last_trouble_;   // the worker's: said once until things go well again

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Waiting> queue_;  // the oldest first; the front is the one being published
  bool in_flight_ = false;     // the front is being published
  bool closed_ = false;
  uint64_t dropped_ = 0;
  std::atomic<uint64_t> published_ = 0;
  std::atomic<uint64_t> skipped_blocks_ = 0;
  asio::io_context& io_;
  LifeToken life_;
};

}  // namespace quorvane
