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

}  // namespace quorvane
