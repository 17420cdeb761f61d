#pragma once
// One address names a source of NMEA text:
//   serial:/dev/ttyUSB0[?4800,n,8,1]  or a bare device path   a serial port
//   udp://[HOST]:PORT                                          datagrams on PORT
//   tcp://HOST:PORT                                            NMEA text from a TCP server
//   gpsd://HOST[:PORT]                                         a gpsd daemon (port 2947)
//   file:PATH[?speed=N|max]                                    a recorded log
//   mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC-FILTER          messages from an MQTT broker
//   mqtts://...                                                the same over TLS

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace quorvane {

struct SourceAddress {
  enum class Scheme { kSerial, kUdp, kTcp, kGpsd, kFile, kMqtt };

  Scheme scheme = Scheme::kSerial;
  std::string path;      // serial: the device; file: the log
  std::string settings;  // serial: the line settings, or empty for the port's own
  std::string host;      // udp (may be empty), tcp, gpsd, mqtt
  uint16_t port = 0;     // udp, tcp, gpsd, mqtt
  double speed = 1;      // file: a factor of real time, 0 as fast as it goes
  // mqtt: the login (percent-escapes decoded), TLS for mqtts://, and in `path` the topic
  // filter of a source or the topic prefix of a publisher.
  std::string user;
  std::string password;
  bool tls = false;
};

// gpsd's own port, and MQTT's without and with TLS.
inline constexpr uint16_t kGpsdPort = 2947;
inline constexpr uint16_t kMqttPort = 1883;
inline constexpr uint16_t kMqttTlsPort = 8883;

// The source `address` names, or the sentence that says what is wrong with it:
// "Invalid source address \"ADDRESS\": WHAT".
std::variant<SourceAddress, std::string> ParseSourceAddress(std::string_view address);

// Where gps-monitor publishes: "mqtt://[USER[:PASSWORD]@]HOST[:PORT]/PREFIX" or mqtts://, or
// "Invalid MQTT address \"ADDRESS\": WHAT".
std::variant<SourceAddress, std::string> ParsePublishAddress(std::string_view address);

}  // namespace quorvane
