#pragma once
// NMEA text from an MQTT broker: every message on the topics its filters match ("fleet/+/nmea")
// is one block, handed on with its topic as the stream it belongs to. A message on a topic whose
// last level is "fix" ("fleet/+/fix": what another gps-monitor publishes, queued by the broker
// for a consumer with a session) is a TPV object, handed on as its vehicle's epoch; one that comes
// again (its time no later than the vehicle's last) is dropped. The connection is kept
// as MqttClient keeps it: retried after losses, given up when the broker refuses the login.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <asio/io_context.hpp>

#include "mqtt/mqtt_client.hpp"
#include "sources/block_source.hpp"
#include "sources/source_factory.hpp"
#include "sources/tpv_fix.hpp"

namespace quorvane {

class MqttSource final : public BlockSource {
 public:
  // Throws std::runtime_error when the broker settings cannot be taken.
  MqttSource(asio::io_context& io, MqttBroker broker, std::vector<std::string> topic_filters);

  void Begin(BlockHandler on_block) override;
  void Close() override;
  // Connected, and the broker has taken the subscription: what is published from now on comes.
  bool IsOpen() const override { return client_.Subscribed(); }
  bool GaveUp() const override { return client_.Refused(); }
  bool EverOpen() const override { return client_.EverConnected(); }
  std::string Peer() const override { return client_.CurrentBroker(); }
  std::string StreamFilter() const override { return topic_filters_.front(); }

 private:
  void TakeFix(std::string_view topic, std::string_view payload);

  MqttClient client_;
  std::vector<std::string> topic_filters_;
  LatestEpochs latest_;
};

// mqtt:// and mqtts:// addresses, for the list of known kinds.
void RegisterMqttSources(SourceFactory& factory);

}  // namespace quorvane
