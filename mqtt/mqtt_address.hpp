#pragma once
// The broker an mqtt:// or mqtts:// address names, with what is not in the address: TLS files,
// and the password from QGPS_MQTT_PASSWORD when the address has a user and no password (so it
// need not sit in a command line, where every user of the machine can read it).

#include <string>

#include "mqtt/mqtt_settings.hpp"
#include "platform/source_address.hpp"

namespace quorvane {

inline constexpr const char* kMqttPasswordVariable = "QGPS_MQTT_PASSWORD";

// The address as it may be shown: without the password.
std::string MqttAddressText(const SourceAddress& address);

MqttBroker MqttBrokerOf(const SourceAddress& address, const MqttTlsFiles& tls_files,
                        const std::string& client_id = {});

}  // namespace quorvane
