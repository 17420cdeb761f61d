#pragma once
// gps-monitor's command line.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "maps/map_pages.hpp"
#include "platform/source_address.hpp"

namespace quorvane::monitor {

struct Options {
  // Sources: at most one of these; none means the bundled drive at ten times real time.
  std::optional<int16_t> port;
  std::string device;
  std::optional<uint16_t> listen;
  std::string replay;
  std::string source;  // an address: serial:, udp://, tcp://, gpsd://, file:, mqtt://
  // The source address read from `source` (when there is one).
  std::optional<SourceAddress> source_address;
  // Where the servers listen, "HOST:PORT" as their outputs take it.
  // Where to serve the received text over TCP ("--serve-nmea [HOST:]PORT").
  std::optional<std::string> serve_nmea;
  // Where to serve gpsd's JSON protocol ("--serve-gpsd [[HOST:]PORT]").
  std::optional<std::string> serve_gpsd;
  // Where to serve the live map ("--web [[HOST:]PORT]"), and its tiles ("" for none).
  std::optional<std::string> web;
  std::string tiles = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
  std::string tiles_attribution = "&copy; OpenStreetMap contributors";
  std::string web_hosts;  // names the map's pages may use beside the machine's addresses
  // The NTP shared-memory segment to give each epoch's time to, and the receiver's delay.
  std::optional<int> chrony_shm;
  double time_offset = 0;
  // Replay speed, 0 as fast as it goes; when not given, 1 for a log and 10 for the bundled drive.
  std::optional<double> speed;
  bool replay_via_pty = false;  // through a pseudo-terminal and the serial port, not in the loop

  std::string settings;
  std::string broadcast;            // HOST:PORT, the received text rebroadcast over UDP
  std::vector<std::string> record;  // .kml (at most one), .gpx, .geojson
  std::string description;
  std::string placemark;
  std::optional<MapService> map;
  bool print_url = false;
  std::string set_clock;  // "", "utc" or "local"
  bool yes = false;
  std::string send;
  bool list_ports = false;
  bool json = false;             // gpsd's TPV and SKY objects
  bool json_properties = false;  // the control's properties, per GGA
  bool gp_only = false;          // decode "$GP" sentences only, as the control does by default
  bool no_checksum = false;      // decode sentences whatever their checksum says

  // MQTT: where to publish (mqtt://[USER[:PASSWORD]@]HOST[:PORT]/PREFIX), the TLS files of
  // mqtts:// (for --publish and an mqtts:// --source), and the fixes kept while the broker is
  // away.
  std::string publish;
  std::string mqtt_cafile;
  std::string mqtt_cert;
  std::string mqtt_key;
  // Names the MQTT client, whose session the broker then keeps across restarts.
  std::string mqtt_id;
  size_t mqtt_queue = 10000;
  // How long a run that ends waits for what its publisher has not had acknowledged yet.
  double publish_wait = 30;
  // One track per vehicle of a fleet source (MQTT or NATS), in this folder, as .kml, .gpx or
  // .geojson.
  std::string record_dir;
  std::string record_format = "kml";
};

// The options, or the exit code when there is nothing to run: 0 after --help, 2 after a usage
// error (its sentence already printed on standard error).
std::variant<Options, int> ParseOptions(int argc, char** argv);

}  // namespace quorvane::monitor
