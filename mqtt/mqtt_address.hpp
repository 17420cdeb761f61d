#pragma once
// The broker an mqtt:// or mqtts:// address names, with what is not in the address: TLS files,
// and the password from QGPS_MQTT_PASSWORD when the address has a user and no password (so it
// need not sit in a command line, where every user of the machine can read it).

#include <optional>
#include <string>
#include <vector>

#include "mqtt/mqtt_settings.hpp"
#include "platform/source_address.hpp"

namespace quorvane {

inline constexpr const char* kMqttPasswordVariable = "QGPS_MQTT_PASSWORD";

// The address as it may be shown: without the password.
std::string MqttAddressText(const SourceAddress& address);

// Several addresses of one broker (or cluster, with one login) as one source of all their
// filters ("mqtt://b/fleet/0/+/nmea,fleet/1/+/nmea"); one address as it is; nothing when they
// name different brokers, or are no MQTT addresses.
std::optional<std::string> JoinedMqttAddress(const std::vector<std::string>& addresses);

MqttBroker MqttBrokerOf(const SourceAddress& address, const MqttTlsFiles& tls_files,
                        const std::string& client_id = {});

}  // namespace quorvane
