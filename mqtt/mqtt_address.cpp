#include "mqtt/mqtt_address.hpp"

#include <cstdlib>

namespace quorvane {

std::string HostAndPortText(const std::string& host, uint16_t port) {
  const bool bracketed = host.find(':') != std::string::npos;
  return (bracketed ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string MqttAddressText(const SourceAddress& address) {
  return std::string(address.tls ? "mqtts://" : "mqtt://") +
         (address.user.empty() ? "" : address.user + "@") +
         HostAndPortText(address.host, address.port) + "/" + address.path;
}

MqttBroker MqttBrokerOf(const SourceAddress& address, const MqttTlsFiles& tls_files) {
  MqttBroker broker;
  broker.host = address.host;
  broker.port = address.port;
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
