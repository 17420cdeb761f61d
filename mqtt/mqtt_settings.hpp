#pragma once
// Where an MQTT broker is and how to log in to it.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/source_address.hpp"
#include "sources/source_settings.hpp"

namespace quorvane {

struct MqttBroker {
  std::string host;
  uint16_t port = 0;
  // A cluster's further brokers, tried in turn when the one in use is lost or cannot be reached.
  std::vector<HostPort> alternates;
  // Empty: a new session on every connection. Named: the broker keeps this client's session
  // (its subscriptions, and what they match while it is away) across its connections.
  std::string client_id;
  std::string user;  // empty: no login
  std::string password;
  bool tls = false;
  MqttTlsFiles tls_files;
};

}  // namespace quorvane
