#include "sinks/mqtt_publisher.hpp"

#include <algorithm>
#include <cmath>

#include "base/text_rules.hpp"
#include "mqtt/mqtt_address.hpp"
#include "platform/retry_schedule.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {

MqttPublisher::MqttPublisher(asio::io_context& io, MqttBroker broker, std::string prefix,
                             StreamStates& streams, size_t queue_limit)
    : client_(io, std::move(broker), MqttClient::LastWill{prefix + "/status", "offline", 1, true}),
      nmea_topic_(prefix + "/nmea"),
      fix_topic_(prefix + "/fix"),
      status_topic_(prefix + "/status"),
      sky_topic_(prefix + "/sky"),
      sky_changes_(streams),
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
  if (!last_fix_.empty()) client_.Publish(fix_topic_, last_fix_, 1, true);
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
  if (const auto id = client_.Publish(nmea_topic_, block, nmea_qos_, false)) {
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
  last_fix_ = json;
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
    fix.message_id = client_.Publish(fix_topic_, fix.json, 1, false);
    if (!fix.message_id) return;
    ++in_flight_;
  }
}

void MqttPublisher::TakeEpoch(const Fix& fix, const std::string& stream) {
  PublishFix(TpvJson(fix, stream));
  if (sky_changes_.Take(fix, stream)) PublishSky(SkyJson(fix, stream));
}

namespace {

// The publisher as an output made from an address: what it says of its broker, and what it
// could not deliver when it closes.
class Publishing final : public EpochSink, public BlockSink, public Output {
 public:
  Publishing(std::unique_ptr<MqttPublisher> publisher, std::string name, size_t brokers,
             const SinkContext& context)
      : publisher_(std::move(publisher)),
        name_(std::move(name)),
        brokers_(brokers),
        queue_limit_(std::to_string(publisher_->QueueLimit())) {
    publisher_->on_lost = [this, warn = context.warn](const std::string& reason, double seconds,
                                                      bool first) {
      if (!warn) return;
      if (first) warn("publishing to " + name_ + " lost: " + reason);
      warn(ReconnectingText(name_, seconds));
    };
    publisher_->on_refused = [this, failed = context.failed](const std::string& reason) {
      if (failed) failed("cannot publish to " + name_ + ": " + reason);
    };
    publisher_->Start();
  }

  void TakeEpoch(const Fix& fix, const std::string& stream) override {
    publisher_->TakeEpoch(fix, stream);
  }
  void TakeBlock(std::string_view block, const BlockOrigin& origin) override {
    publisher_->TakeBlock(block, origin);
  }
  bool Ready() const override { return publisher_->Connected(); }
  // Fixes not acknowledged are waited for while the broker may still come back.
  bool Delivering() const override {
    return publisher_->Unacknowledged() > 0 && !publisher_->Refused();
  }
  std::string State() const override;
  std::vector<std::string> Close() override;

 private:
  std::unique_ptr<MqttPublisher> publisher_;
  std::string name_;
  size_t brokers_;
  std::string queue_limit_;
};

std::string Publishing::State() const {
  const auto& p = *publisher_;
  return "publishing to " + name_ +
         (brokers_ > 1 ? " (on " + p.CurrentBroker() + ")" : std::string()) +
         (p.Connected() ? ": connected" : ": waiting") + ", " + std::to_string(p.PublishedFixes()) +
         " fixes taken, " + std::to_string(p.Unacknowledged()) + " queued, " +
         std::to_string(p.DroppedFixes()) + " dropped" +
         (p.SkippedBlocks() > 0 ? ", " + std::to_string(p.SkippedBlocks()) + " blocks skipped"
                                : std::string());
}

std::vector<std::string> Publishing::Close() {
  std::vector<std::string> lost;
  const auto& p = *publisher_;
  if (p.SkippedBlocks() > 0) {
    lost.push_back(std::to_string(p.SkippedBlocks()) +
                   " blocks of received text not published: the broker took them too slowly");
  }
  if (p.DroppedFixes() > 0) {
    lost.push_back(std::to_string(p.DroppedFixes()) +
                   " fixes dropped while the broker was away (--mqtt-queue " + queue_limit_ + ")");
  }
  if (p.Unacknowledged() > 0) {
    lost.push_back(std::to_string(p.Unacknowledged()) + " fixes not published to " + name_);
  }
  publisher_->Close();
  return lost;
}

MadeSink MakePublishing(const SinkText& text, const SinkContext& context) {
  text.OnlyOptions({"id", "queue", "cafile", "cert", "key", "nmea-qos"});
  auto parsed = ParsePublishAddress(text.scheme + "://" + text.rest);
  if (auto* invalid = std::get_if<std::string>(&parsed)) throw SinkUsageError(*invalid);
  const SourceAddress& address = std::get<SourceAddress>(parsed);
  const auto queue = ReadStrict(text.Option("queue", "10000"));
  if (!queue || *queue != std::floor(*queue) || *queue < 1 || *queue > 10000000) {
    text.Refuse("the queue must be a number of fixes from 1 to 10000000");
  }
  const MqttTlsFiles tls{text.Option("cafile"), text.Option("cert"), text.Option("key")};
  if (const std::string fault = TlsFilesFault(tls); !fault.empty()) text.Refuse(fault);
  if (const std::string fault = ClientIdFault(text.Option("id")); !fault.empty())
    text.Refuse(fault);
  const std::string nmea_qos = text.Option("nmea-qos", "0");
  if (nmea_qos != "0" && nmea_qos != "1") text.Refuse("nmea-qos= is 0 or 1");
  auto publisher =
      std::make_unique<MqttPublisher>(context.io, MqttBrokerOf(address, tls, text.Option("id")),
                                      address.path, context.streams, static_cast<size_t>(*queue));
  publisher->NmeaQos(nmea_qos == "1" ? 1 : 0);
  return MadeOf(std::make_shared<Publishing>(std::move(publisher), MqttAddressText(address),
                                             1 + address.alternates.size(), context));
}

}  // namespace

void RegisterMqttSinks(SinkFactory& factory) {
  for (const char* scheme : {"mqtt", "mqtts"}) {
    factory.Register(scheme,
                     std::string(scheme) +
                         "://[USER[:PASSWORD]@]HOST[:PORT][,HOST[:PORT]...]/PREFIX[?id=ID&queue=N&"
                         "cafile=FILE&cert=FILE&key=FILE&nmea-qos=1] (published to a broker)",
                     MakePublishing);
  }
}

}  // namespace quorvane
