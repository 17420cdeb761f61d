#pragma once
// What a host sets for the sources it opens by address, beyond the address itself.

#include <string>

namespace quorvane {

// The files of a TLS connection; an empty CA file means the system's certificate authorities.
struct MqttTlsFiles {
  std::string ca_file;
  std::string certificate_file;  // a client certificate, with its key
  std::string key_file;
};

struct SourceSettings {
  // The files of an mqtts:// source.
  MqttTlsFiles mqtt_tls;
  // The client id of an MQTT source: with one, the broker keeps the session (what the
  // subscriptions match while the source is away) across connections and restarts.
  std::string mqtt_id;
};

}  // namespace quorvane
