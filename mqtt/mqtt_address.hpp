#pragma once
// The broker an mqtt:// or mqtts:// address names, with what is not in the address: TLS files,
// and the password from QGPS_MQTT_PASSWORD when the address has a user and no password (so it
// need not sit in a command line, where every user of the machine can read it).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mqtt/mqtt_settings.hpp"
#include "platform/source_address.hpp"

namespace quorvane {

inline constexpr const char* kMqttPasswordVariable = "QGPS_MQTT_PASSWORD";

// MQTT's port without and with TLS, and the most brokers one address may list.
inline constexpr uint16_t kMqttPort = 1883;
inline constexpr uint16_t kMqttTlsPort = 8883;
inline constexpr size_t kMostBrokers = 100;

// mqtt://[USER[:PASSWORD]@]HOST[:PORT][,HOST[:PORT]...]/TOPIC-FILTER[,TOPIC-FILTER...] and
// mqtts://: messages from an MQTT broker, or from the first of a cluster's that answers; for
// ParseSourceAddress.
const SchemeParsers& MqttSchemes();

// Where gps-monitor publishes: "mqtt://[USER[:PASSWORD]@]HOST[:PORT]/PREFIX" or mqtts://, or
// "Invalid MQTT address \"ADDRESS\": WHAT".
std::variant<SourceAddress, std::string> ParsePublishAddress(std::string_view address);

// The address as it may be shown: without the password.
std::string MqttAddressText(const SourceAddress& address);

// Several addresses of one broker (or cluster, with one login) as one source of all their
// filters ("mqtt://b/fleet/0/+/nmea,fleet/1/+/nmea"); one address as it is; nothing when they
// name different brokers, or are no MQTT addresses.
std::optional<std::string> JoinedMqttAddress(const std::vector<std::string>& addresses);

MqttBroker MqttBrokerOf(const SourceAddress& address, const MqttTlsFiles& tls_files,
                        const std::string& client_id = {});

// Why `id` cannot name an MQTT client (longer than kLongestClientId, or a space or control
// character, which brokers refuse), or an empty text when it can.
constexpr size_t kLongestClientId = 256;
std::string ClientIdFault(std::string_view id);

// Why the TLS files cannot serve ("the certificate authority FILE holds no PEM CERTIFICATE", a key
// without its certificate), found once rather than on every try to connect; empty when they can.
std::string TlsFilesFault(const MqttTlsFiles& files);

}  // namespace quorvane
