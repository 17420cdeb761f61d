#include "mqtt/mqtt_source.hpp"

#include <stdexcept>

#include "mqtt/mqtt_address.hpp"
#include "sources/source_factory.hpp"

namespace quorvane {

MqttSource::MqttSource(asio::io_context& io, MqttBroker broker,
                       std::vector<std::string> topic_filters)
    : client_(io, std::move(broker)), topic_filters_(std::move(topic_filters)) {}

void MqttSource::Begin(BlockHandler on_block) {
  client_.on_message = [this, on_block = std::move(on_block)](std::string_view topic,
                                                              std::string_view payload) {
    if (topic.ends_with("/fix")) {
      TakeFix(topic, payload);
    } else {
      on_block(payload, topic);
    }
  };
  client_.on_lost = [this](const std::string& reason, double seconds, bool first) {
    ReportLost(reason, seconds, first);
  };
  client_.on_refused = [this](const std::string& reason) { ReportRefused(reason); };
  // QoS 1: what the broker holds for the subscription is not dropped on its way here.
  for (const std::string& filter : topic_filters_) client_.Subscribe(filter, 1);
  client_.Start();
}

void MqttSource::TakeFix(std::string_view topic, std::string_view payload) {
  const ReadTpv read = FixOfTpv(payload);
  if (!read.fix) {
    ReportWarningOnce("a message on " + std::string(topic) + " skipped: " + read.fault, read.fault);
    return;
  }
  const std::string vehicle(topic);
  if (latest_.IsNew(vehicle, *read.fix)) HandEpoch(*read.fix, vehicle);
}

void MqttSource::Close() {
  client_.Close();
}

void RegisterMqttSources(SourceFactory& factory) {
  factory.Register(MqttSchemes());
  // The client looks each broker up on a thread of its own, and says one it cannot find.
  factory.Register(
      SourceAddress::Scheme::kMqtt,
      [](const SourceAddress& address, const std::string&, const SourceContext& context) {
        std::vector<std::string> filters{address.path};
        filters.insert(filters.end(), address.more_filters.begin(), address.more_filters.end());
        if (const std::string fault = ClientIdFault(context.settings.mqtt_id); !fault.empty()) {
          throw std::runtime_error("Cannot use " + MqttAddressText(address) + ": " + fault);
        }
        auto broker = MqttBrokerOf(address, context.settings.mqtt_tls, context.settings.mqtt_id);
        // The password stays out of everything said about the source.
        return MadeSource{
            std::make_shared<MqttSource>(context.io, std::move(broker), std::move(filters)),
            MqttAddressText(address)};
      });
}

}  // namespace quorvane
