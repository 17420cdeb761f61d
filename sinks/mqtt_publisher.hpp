#pragma once
// Publishes one receiver to a broker under a topic prefix:
//   PREFIX/nmea    every received block, as received (QoS 0: a live feed, nothing kept; QoS 1
//                  on request, so that a consumer's session keeps what came while it was away)
//   PREFIX/fix     every epoch's TPV object (QoS 1), and the last one again, retained, when the
//                  publisher closes: a new subscriber sees where a vehicle that is away was.
//                  (Every fix retained would be lost to a session away on a broker that does not
//                  queue retained messages for it, as NATS 2.9's MQTT does not.)
//   PREFIX/sky     the satellites' SKY object when it changes (QoS 1, retained; the latest only)
//   PREFIX/status  "online" (retained) once connected; "offline" as the last will, and when
//                  the publisher closes
// Fixes wait in a bounded queue while the broker is away and go out in order once it is back;
// past the bound the oldest are dropped and counted. Nothing here waits for the broker: the
// receiver's path only appends to the queue.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include <asio/io_context.hpp>

#include "mqtt/mqtt_client.hpp"
#include "receiver/sinks.hpp"
#include "sinks/gpsd_json.hpp"

namespace quorvane {

class MqttPublisher final : public EpochSink, public BlockSink {
 public:
  static constexpr size_t kDefaultQueueLimit = 10000;
  // Fixes handed to the broker and not yet acknowledged.
  static constexpr size_t kFixesInFlight = 100;
  // Blocks handed to the library and not yet written to the socket: past either bound the live
  // feed skips blocks rather than pile them up in memory.
  static constexpr size_t kBlocksInFlight = 1000;
  static constexpr size_t kBlockBytesInFlight = 4 * 1024 * 1024;

  // Throws std::runtime_error when the broker settings cannot be taken. Each stream's last SKY
  // is kept in `streams`.
  MqttPublisher(asio::io_context& io, MqttBroker broker, std::string prefix, StreamStates& streams,
                size_t queue_limit = kDefaultQueueLimit);

  void Start();
  // The QoS of PREFIX/nmea, 0 (the default) or 1.
  void NmeaQos(int qos) { nmea_qos_ = qos; }
  // Says "offline" and leaves the broker; fixes still queued are not sent.
  void Close();

  void PublishBlock(std::string_view block);
  void PublishFix(std::string json);
  // Only the latest SKY matters: one that the broker was away for is replaced by the next.
  void PublishSky(std::string json);
  // Every block on PREFIX/nmea; every epoch's TPV on PREFIX/fix, and its SKY when it changes.
  void TakeBlock(std::string_view block, const BlockOrigin&) override { PublishBlock(block); }
  void TakeEpoch(const Fix& fix, const std::string& stream) override;

  bool Connected() const { return client_.Connected(); }
  // The broker refused the login: nothing will go.
  bool Refused() const { return client_.Refused(); }
  // "HOST:PORT" of the broker in use (of a cluster's list).
  std::string CurrentBroker() const { return client_.CurrentBroker(); }
  // Fixes not yet acknowledged by the broker, and those dropped from a full queue.
  size_t Unacknowledged() const { return queue_.size(); }
  uint64_t DroppedFixes() const { return dropped_fixes_; }
  uint64_t SkippedBlocks() const { return skipped_blocks_; }
  // Fixes the broker acknowledged.
  uint64_t PublishedFixes() const { return published_fixes_; }
  size_t QueueLimit() const { return queue_limit_; }

  // As MqttClient's.
  std::function<void(const std::string& reason, double retry_seconds, bool first_of_loss)> on_lost;
  std::function<void(const std::string& reason)> on_refused;

 private:
  struct QueuedFix {
    std::string json;
    std::optional<int> message_id;  // handed to the broker on this connection
  };

  void OnConnected();
  void OnPublished(int message_id);
  void SendWaitingFixes();

  MqttClient client_;
  std::string nmea_topic_;
  std::string fix_topic_;
  std::string status_topic_;
  std::string sky_topic_;
  std::string sky_;       // the latest, sent once connected
  std::string last_fix_;  // retained when the publisher closes
  SkyChanges sky_changes_;
  size_t queue_limit_;
  int nmea_qos_ = 0;
  std::deque<QueuedFix> queue_;  // the oldest first; the first `in_flight_` are handed over
  size_t in_flight_ = 0;
  std::unordered_map<int, size_t> blocks_in_flight_;  // their sizes, by message id
  size_t block_bytes_in_flight_ = 0;
  uint64_t dropped_fixes_ = 0;
  uint64_t skipped_blocks_ = 0;
  uint64_t published_fixes_ = 0;
};

}  // namespace quorvane
