#include "mqtt/mqtt_source.hpp"

namespace quorvane {

MqttSource::MqttSource(asio::io_context& io, MqttBroker broker,
                       std::vector<std::string> topic_filters)
    : client_(io, std::move(broker)), topic_filters_(std::move(topic_filters)) {}

void MqttSource::Begin(BlockHandler on_block) {
  client_.on_message = [on_block = std::move(on_block)](std::string_view topic,
                                                        std::string_view payload) {
    on_block(payload, topic);
  };
  client_.on_lost = [this](const std::string& reason, double seconds, bool first) {
    if (on_lost) on_lost(reason, seconds, first);
  };
  client_.on_refused = [this](const std::string& reason) {
    if (on_refused) on_refused(reason);
  };
  // QoS 1: what the broker holds for the subscription is not dropped on its way here.
  for (const std::string& filter : topic_filters_) client_.Subscribe(filter, 1);
  client_.Start();
}

void MqttSource::Close() {
  client_.Close();
}

}  // namespace quorvane
