#include "mqtt/mqtt_address.hpp"

#include <cstdlib>

namespace quorvane {

std::string MqttAddressText(const SourceAddress& address) {
  const bool bracketed = address.host.find(':') != std::string::npos;
  return std::string(address.tls ? "mqtts://" : "mqtt://") +
         (address.user.empty() ? "" : address.user + "@") +
         (bracketed ? "[" + address.host + "]" : address.host) + ":" +
         std::to_string(address.port) + "/" + address.path;
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
