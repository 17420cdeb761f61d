#include "sinks/mqtt_publisher.hpp"

#include <algorithm>

namespace quorvane {

MqttPublisher::MqttPublisher(asio::io_context& io, MqttBroker broker, std::string prefix,
                             size_t queue_limit)
    : client_(io, std::move(broker), MqttClient::LastWill{prefix + "/status", "offline", 1, true}),
      nmea_topic_(prefix + "/nmea"),
      fix_topic_(prefix + "/fix"),
      status_topic_(prefix + "/status"),
      sky_topic_(prefix + "/sky"),
      queue_limit_(std::max<size_t>(queue_limit, 1)) {
  client_.on_connected = [this] { OnConnected(); };
  client_.on_published = [this](int message_id) { OnPublished(message_id); };
  client_.on_lost = [this](const std::string& reason, double seconds, bool first) {
    // What the broker had not acknowledged goes again, first, on the next connection.
    for (QueuedFix& fix : queue_) fix.message_id.reset();
    in_flight_ = 0;
    blocks_in_flight_.clear();
    block_bytes_in_flight_ = 0;
    if (on_lost) on_lost(reason, seconds, first);
  };
  client_.on_refused = [this](const std::string& reason) {
    if (on_refused) on_refused(reason);
  };
}

void MqttPublisher::Start() {
  client_.Start();
}

void MqttPublisher::Close() {
  client_.Publish(status_topic_, "offline", 1, true);
  client_.Close();
}

void MqttPublisher::PublishBlock(std::string_view block) {
  if (!client_.Connected()) return;
  if (blocks_in_flight_.size() >= kBlocksInFlight ||
      block_bytes_in_flight_ + block.size() > kBlockBytesInFlight) {
    ++skipped_blocks_;
    return;
  }
  if (const auto id = client_.Publish(nmea_topic_, block, 0, false)) {
    blocks_in_flight_.emplace(*id, block.size());
    block_bytes_in_flight_ += block.size();
  }
}

void MqttPublisher::PublishFix(std::string json) {
  if (queue_.size() >= queue_limit_) {
    // The oldest goes; if the broker has it already, its acknowledgement finds nothing.
    if (in_flight_ > 0) --in_flight_;
    queue_.pop_front();
    ++dropped_fixes_;
  }
  queue_.push_back({std::move(json), std::nullopt});
  SendWaitingFixes();
}

void MqttPublisher::PublishSky(std::string json) {
  sky_ = std::move(json);
  if (client_.Connected()) client_.Publish(sky_topic_, sky_, 1, true);
}

void MqttPublisher::OnConnected() {
  client_.Publish(status_topic_, "online", 1, true);
  if (!sky_.empty()) client_.Publish(sky_topic_, sky_, 1, true);
  SendWaitingFixes();
}

void MqttPublisher::OnPublished(int message_id) {
  if (const auto block = blocks_in_flight_.find(message_id); block != blocks_in_flight_.end()) {
    block_bytes_in_flight_ -= block->second;
    blocks_in_flight_.erase(block);
    return;
  }
  const auto handed_over = queue_.begin() + static_cast<std::ptrdiff_t>(in_flight_);
  const auto acknowledged = std::find_if(queue_.begin(), handed_over, [&](const QueuedFix& fix) {
    return fix.message_id == message_id;
  });
  if (acknowledged == handed_over) return;  // "online", or a fix dropped meanwhile
  // QoS 1 acknowledgements come in order: everything before it has been taken too.
  const auto count = static_cast<size_t>(acknowledged - queue_.begin()) + 1;
  queue_.erase(queue_.begin(), acknowledged + 1);
  in_flight_ -= count;
  published_fixes_ += count;
  SendWaitingFixes();
}

void MqttPublisher::SendWaitingFixes() {
  while (client_.Connected() && in_flight_ < kFixesInFlight && in_flight_ < queue_.size()) {
    QueuedFix& fix = queue_[in_flight_];
    fix.message_id = client_.Publish(fix_topic_, fix.json, 1, true);
    if (!fix.message_id) return;
    ++in_flight_;
  }
}

void MqttPublisher::TakeEpoch(const Fix& fix, const std::string& stream) {
  PublishFix(TpvJson(fix, stream));
  if (sky_changes_.Take(fix, stream)) PublishSky(SkyJson(fix, stream));
}

}  // namespace quorvane
