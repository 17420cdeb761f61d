#include "mqtt/mqtt_address.hpp"

#include <cstdlib>

namespace quorvane {

std::string HostAndPortText(const std::string& host, uint16_t port) {
  const bool bracketed = host.find(':') != std::string::npos;
  return (bracketed ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string MqttAddressText(const SourceAddress& address) {
  std::string text = std::string(address.tls ? "mqtts://" : "mqtt://") +
                     (address.user.empty() ? "" : address.user + "@") +
                     HostAndPortText(address.host, address.port);
  for (const HostPort& broker : address.alternates) {
    text += ',' + HostAndPortText(broker.host, broker.port);
  }
  text += '/' + address.path;
  for (const std::string& filter : address.more_filters) text += ',' + filter;
  return text;
}

MqttBroker MqttBrokerOf(const SourceAddress& address, const MqttTlsFiles& tls_files,
                        const std::string& client_id) {
  MqttBroker broker;
  broker.host = address.host;
  broker.port = address.port;
  broker.alternates = address.alternates;
  broker.client_id = client_id;
  broker.user = address.user;
  broker.password = address.password;
  if (!broker.user.empty() && broker.password.empty()) {
    if (const char* password = std::getenv(kMqttPasswordVariable)) broker.password = password;
  }
  broker.tls = address.tls;
  if (broker.tls) broker.tls_files = tls_files;
  return broker;
}

std::optional<std::string> JoinedMqttAddress(const std::vector<std::string>& addresses) {
  if (addresses.size() == 1) return addresses.front();
  const auto first = ParseSourceAddress(addresses.front());
  const auto* a = std::get_if<SourceAddress>(&first);
  std::string joined = addresses.front();
  for (size_t i = 1; i < addresses.size(); ++i) {
    const auto other = ParseSourceAddress(addresses[i]);
    const auto* b = std::get_if<SourceAddress>(&other);
    const bool joinable =
        a != nullptr && b != nullptr && a->scheme == SourceAddress::Scheme::kMqtt &&
        b->scheme == SourceAddress::Scheme::kMqtt && a->tls == b->tls && a->host == b->host &&
        a->port == b->port && a->alternates == b->alternates && a->user == b->user &&
        a->password == b->password;
    if (!joinable) return std::nullopt;
    // The filters follow the first "/" after the broker part.
    const std::string& text = addresses[i];
    joined += ',' + text.substr(text.find('/', text.find("://") + 3) + 1);
  }
  return joined;
}

}  // namespace quorvane
