#include "apps/gps_monitor/options.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include <CLI/CLI.hpp>

#include "base/text_rules.hpp"
#include "control/gps.hpp"
#include "mqtt/mqtt_address.hpp"
#include "platform/line_settings.hpp"
#include "platform/source_address.hpp"
#include "sinks/sink_factory.hpp"
#include "sources/source_factory.hpp"

namespace quorvane::monitor {
namespace {

const std::map<std::string, MapService> kMapServices{
    {"google", MapService::kGoogle},     {"google-satellite", MapService::kGoogleSatellite},
    {"bing", MapService::kBing},         {"bing-satellite", MapService::kBingSatellite},
    {"mapquest", MapService::kMapQuest}, {"nokia", MapService::kNokia}};

// A server's "[[HOST:]PORT]" option as its output takes it, on `port` of 127.0.0.1 when only the
// flag was given (the output says what is wrong with an address).
std::optional<std::string> ServedAddress(const CLI::Option& option, const std::string& text,
                                         const std::string& port) {
  if (option.count() == 0) return std::nullopt;
  const std::string address = text.empty() ? port : text;
  return address.find(':') == std::string::npos ? ":" + address : address;
}

// Several MQTT sources of one broker (or cluster) are one source of all their filters; false
// after saying why they cannot be.
bool JoinSources(const std::vector<std::string>& list, std::string& source) {
  if (list.empty()) return true;
  const auto joined = JoinedMqttAddress(list);
  if (!joined) {
    std::cerr << "gps-monitor: --source is given once, or more than once only for MQTT "
                 "filters of the same broker\n";
    return false;
  }
  source = *joined;
  return true;
}

// A finite number from `least` to `most` (NaN and infinities are no numbers here), said as
// "wants WHAT from LEAST to MOST, not "TEXT"" when the text is anything else.
CLI::Validator NumberFrom(double least, double most, const std::string& what) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        const auto number = ReadStrict(text);
        if (number && *number >= least && *number <= most) return {};
        return "wants " + what + " from " + NumberToText(least) + " to " + NumberToText(most) +
               ", not \"" + text + "\"";
      },
      "");
}

// The options of the program and of its groups.
std::vector<CLI::Option*> AllOptions(CLI::App& app) {
  std::vector<CLI::Option*> all = app.get_options();
  for (CLI::App* group : app.get_subcommands({})) {
    const auto more = group->get_options();
    all.insert(all.end(), more.begin(), more.end());
  }
  return all;
}

// What --help shows after each option that takes a value, instead of CLI11's bare TEXT.
void NamePlaceholders(CLI::App& app) {
  static const std::map<std::string, std::string> kPlaceholders{
      {"--port", "N"},
      {"--device", "PATH"},
      {"--listen", "PORT"},
      {"--replay", "LOG"},
      {"--source", "ADDRESS"},
      {"--speed", "FACTOR|max"},
      {"--settings", "BAUD,PARITY,BITS,STOP"},
      {"--broadcast", "HOST:PORT"},
      {"--serve-nmea", "[HOST:]PORT"},
      {"--serve-gpsd", "[[HOST:]PORT]"},
      {"--web", "[[HOST:]PORT]"},
      {"--tiles", "URL|none"},
      {"--tiles-attribution", "CREDIT"},
      {"--web-hosts", "NAME[,NAME...]"},
      {"--chrony-shm", "N"},
      {"--time-offset", "SECONDS"},
      {"--record", "FILE"},
      {"--description", "NAME"},
      {"--record-dir", "DIR"},
      {"--record-format", "kml|gpx|geojson|csv|nmea"},
      {"--publish", "ADDRESS"},
      {"--mqtt-cafile", "FILE"},
      {"--mqtt-cert", "FILE"},
      {"--mqtt-key", "FILE"},
      {"--mqtt-id", "ID"},
      {"--mqtt-queue", "N"},
      {"--publish-wait", "SECONDS"},
      {"--placemark", "FILE"},
      {"--map", "SERVICE"},
      {"--set-clock", "utc|local"},
      {"--send", "COMMAND"},
      {"--config", "FILE"}};
  for (CLI::Option* option : AllOptions(app)) {
    const auto found = kPlaceholders.find(option->get_name());
    if (found != kPlaceholders.end()) option->option_text(found->second);
  }
}

// "--recrod is not an option; did you mean --record? (gps-monitor --help lists them)".
std::string UnknownArgumentsText(CLI::App& app, const CLI::ExtrasError& error) {
  const std::vector<std::string> extras = app.remaining();
  const std::string first = extras.empty() ? std::string(error.what()) : extras.front();
  if (!first.starts_with("-")) {
    return "\"" + first + "\" is not expected here; gps-monitor --help lists the options";
  }
  std::vector<std::string> names;
  for (const CLI::Option* option : AllOptions(app)) {
    for (const std::string& name : option->get_lnames()) names.push_back(name);
  }
  // More than two letters off is no likely typing slip.
  const std::string closest =
      ClosestWord(first.substr(std::min(first.find_first_not_of('-'), first.size())), names, 3);
  return first + " is not an option" +
         (closest.empty() ? "" : "; did you mean --" + closest + "?") +
         " (gps-monitor --help lists them)";
}

// "FILE:LINE: KEY is no option of gps-monitor" for a key the configuration file should not have;
// CLI11's own words, with the file, for anything else.
std::string ConfigFaultText(CLI::App& app, const CLI::ConfigError& error) {
  const std::string file = app.get_config_ptr()->as<std::string>();
  constexpr std::string_view kUnknown = "INI was not able to parse ";
  const std::string what = error.what();
  if (!what.starts_with(kUnknown)) return file + ": " + what;
  const std::string key = what.substr(kUnknown.size());
  std::ifstream text(file);
  int line_number = 0;
  int found = 0;
  for (std::string line; found == 0 && std::getline(text, line);) {
    ++line_number;
    const size_t start = line.find_first_not_of(" \t");
    if (start != std::string::npos && line.compare(start, key.size(), key) == 0)
      found = line_number;
  }
  return file + (found > 0 ? ":" + std::to_string(found) : "") + ": \"" + key +
         "\" is no option of gps-monitor (gps-monitor --help lists them, by their long names)";
}

// The options' texts that are read further once CLI11 has taken them.
struct OptionTexts {
  std::vector<std::string> source_list;
  std::string speed;
  std::string serve;
  std::string serve_gpsd;
  std::string web;
  std::string map;
  CLI::Option* serve_option = nullptr;
  CLI::Option* gpsd_option = nullptr;
  CLI::Option* web_option = nullptr;
};

// The table of options.
void DeclareOptions(CLI::App& app, Options& options, OptionTexts& texts) {
  auto& [source_list, speed, serve, serve_gpsd, web, map, serve_nmea, gpsd, web_option] = texts;
  auto* sources = app.add_option_group("Source", "where the NMEA text comes from (one of them)");
  sources
      ->add_option("--port", options.port,
                   "serial port number (1-32 ttyS, 33-64 ttyUSB, 65-96 ttyACM)")
      ->check(CLI::Range(1, 32767));
  sources->add_option("--device", options.device, "serial device path, e.g. /dev/ttyUSB0");
  sources
      ->add_option("--listen", options.listen,
                   "UDP port to receive another control's rebroadcast on")
      ->check(CLI::Range(1, 65535));
  sources->add_option("--replay", options.replay, "NMEA log to replay, paced by its fix times")
      ->check(CLI::ExistingFile);
  sources->add_option(
      "--source", source_list,
      "an address: serial:/dev/ttyUSB0?4800,n,8,1, udp://:5000, tcp://HOST:PORT, "
      "gpsd://HOST[:PORT], file:LOG?speed=10, mqtt://[USER@]HOST[:PORT][,HOST[:PORT]...]/"
      "TOPIC-FILTER[,TOPIC-FILTER...] (or mqtts://: a cluster's brokers in turn); MQTT sources of "
      "one broker may be given more than once (a consumer's shards); "
      "nats://[USER@]HOST[:PORT][,HOST[:PORT]...]/SUBJECT?durable=NAME[&since=-1h] (a fleet's "
      "fixes from a JetStream stream, \"fleet.*.fix\")");
  sources->require_option(0, 1);
  app.add_option(
      "--speed", speed,
      "replay speed of --replay or a file: source: a factor such as 10, or max (default 1; 10 "
      "for the bundled drive)");
  app.add_flag("--replay-via-pty", options.replay_via_pty,
               "replay through a pseudo-terminal and the serial port, as a receiver would send");

  app.add_option("--settings", options.settings, "serial line settings, e.g. 9600,n,8,1");
  app.add_option("--broadcast", options.broadcast,
                 "rebroadcast the serial text to HOST:PORT over UDP");
  serve_nmea =
      app.add_option("--serve-nmea", serve,
                     "serve the received text to TCP clients on [HOST:]PORT (10110 is NMEA's port; "
                     "the host is 127.0.0.1 unless given, 0.0.0.0 for the network)");
  gpsd = app.add_option("--serve-gpsd", serve_gpsd,
                        "serve gpsd's JSON protocol (cgps, gpspipe, the gps Python module, "
                        "gpsd://) on [HOST:]PORT; 127.0.0.1:2947 when no address is given")
             ->expected(0, 1);
  web_option =
      app.add_option(
             "--web", web,
             "serve a live map to browsers on [HOST:]PORT (127.0.0.1:8080 when no address "
             "is given; on another address every position it shows is open to that network)")
          ->expected(0, 1);
  app.add_option("--tiles", options.tiles,
                 "the map's tiles, a URL template with {z}/{x}/{y}, or none (OpenStreetMap's by "
                 "default; without tiles or a network the track and markers show on a plain map)")
      ->needs(web_option);
  app.add_option("--web-hosts", options.web_hosts,
                 "names of this machine that browsers may use for the map, beside its addresses "
                 "and localhost (pages under any other name are refused their positions)")
      ->needs(web_option);
  app.add_option("--tiles-attribution", options.tiles_attribution,
                 "the credit the tiles' provider asks for (OpenStreetMap's by default)")
      ->needs(web_option);
  auto* shm =
      app.add_option("--chrony-shm", options.chrony_shm,
                     "give each epoch's time to chrony's \"refclock SHM N\" (or ntpd's type 28) "
                     "through the NTP shared memory segment N; with a PPS line, use that instead")
          ->check(NumberFrom(0, 255, "a unit"));
  app.add_option("--time-offset", options.time_offset,
                 "seconds the receiver's sentences arrive after the time they name (0)")
      ->needs(shm)
      ->check(NumberFrom(-10, 10, "seconds"));
  auto* record = app.add_option(
      "--record", options.record,
      "record the track to this file: .kml, .gpx, .geojson or .csv (may be given once for each), "
      "or every sentence received, as received, to a .nmea log");
  app.add_option("--description", options.description,
                 "name of the recorded track (the KML document's and the GPX track's)")
      ->needs(record);
  auto* record_dir = app.add_option(
      "--record-dir", options.record_dir,
      "with an MQTT or NATS source: one track per vehicle in this folder, named after the topic "
      "level that the filter's last + (or the subject's last *) matched (DIR/car7.kml)");
  app.add_option("--record-format", options.record_format, "the tracks of --record-dir")
      ->check(CLI::IsMember({"kml", "gpx", "geojson", "csv", "nmea"}))
      ->needs(record_dir);
  app.add_option("--publish", options.publish,
                 "publish to an MQTT broker: mqtt://[USER[:PASSWORD]@]HOST[:PORT]/PREFIX (or "
                 "mqtts://); blocks to PREFIX/nmea, each epoch's TPV to PREFIX/fix, its SKY to "
                 "PREFIX/sky, PREFIX/status. A user "
                 "without a password takes it from QGPS_MQTT_PASSWORD. Or to a NATS JetStream "
                 "stream: nats://[USER@]HOST[:PORT][,...]/PREFIX[?stream=NAME&retain=7d&nmea=1], "
                 "each TPV to PREFIX.fix, acknowledged by the stream (QGPS_NATS_PASSWORD)");
  app.add_option("--mqtt-cafile", options.mqtt_cafile,
                 "the certificate authority of an mqtts:// broker (default: the system's)");
  app.add_option("--mqtt-cert", options.mqtt_cert, "a client certificate for mqtts://");
  app.add_option("--mqtt-key", options.mqtt_key, "the client certificate's key");
  app.add_option("--mqtt-id", options.mqtt_id,
                 "name the MQTT client: the broker keeps its session while it is away, so a "
                 "consumer started again gets what was published meanwhile (a publisher's client "
                 "is ID-publisher when the source is MQTT too)");
  app.add_option("--mqtt-queue", options.mqtt_queue,
                 "fixes kept for the broker or stream while it is away; the oldest go beyond "
                 "(10000)")
      ->check(CLI::Range(1, 10000000));
  app.add_option("--publish-wait", options.publish_wait,
                 "at the end of a run, wait this long at most for the fixes the broker or stream "
                 "has not acknowledged yet (30: a cluster's re-election); those left are said")
      ->check(NumberFrom(0, 3600, "seconds"));
  app.add_option("--placemark", options.placemark, "write the last fix to this KML file at exit");
  app.add_option("--map", map, "open a web map at the first fix")
      ->check(CLI::IsMember(
          {"google", "google-satellite", "bing", "bing-satellite", "mapquest", "nokia"}));
  app.add_flag("--print-url", options.print_url, "print the map's address instead of opening it");
  app.add_option("--set-clock", options.set_clock, "set the computer's clock at the first fix")
      ->check(CLI::IsMember({"utc", "local"}));
  app.add_flag("-y,--yes", options.yes, "do not ask before setting the clock");
  app.add_option("--send", options.send,
                 "send this text to the receiver after opening (\\r\\n allowed)");
  app.add_flag("--list-ports", options.list_ports, "list the serial ports and exit");
  app.set_version_flag("--version", "gps-monitor " + ControlVersion());
  app.set_config("--config", "",
                 "read options from this file, one NAME = VALUE a line by their long names "
                 "(TOML; # starts a comment); the command line wins")
      ->check(CLI::ExistingFile);
  // A key the file should not have is a mistake said, not a setting quietly dropped.
  app.allow_config_extras(CLI::config_extras_mode::error);
  app.add_flag("--json", options.json,
               "gpsd's JSON: a TPV object per epoch (one reporting cycle), a SKY object when the "
               "satellites or dilutions change");
  app.add_flag("--json-properties", options.json_properties,
               "one JSON object per GGA sentence with every property of the control (the output "
               "of --json before epochs)")
      ->excludes("--json");
  app.add_flag("--gp-only", options.gp_only,
               "decode GPS sentences ($GP) only, not those of every GNSS talker ($GN, $GL, ...)");
  app.add_flag("--no-checksum", options.no_checksum,
               "decode sentences whose checksum is wrong too");
  NamePlaceholders(app);
}

// An address as parsed into `into`; what is wrong with it is said instead.
bool TakeAddress(std::variant<SourceAddress, std::string> parsed,
                 std::optional<SourceAddress>& into) {
  if (const auto* invalid = std::get_if<std::string>(&parsed)) {
    std::cerr << "gps-monitor: " << *invalid << "\n";
    return false;
  }
  into = std::get<SourceAddress>(std::move(parsed));
  return true;
}

// The replay speed, given as a factor or "max", applied to a log named by an address too; and
// the source's address read.
bool TakeSource(Options& options, const OptionTexts& texts) {
  const std::string& speed = texts.speed;
  if (!JoinSources(texts.source_list, options.source)) return false;
  if (speed == "max") {
    options.speed = 0;
  } else if (!speed.empty()) {
    try {
      size_t used = 0;
      options.speed = std::stod(speed, &used);
      if (used != speed.size() || !(*options.speed > 0) || std::isinf(*options.speed))
        throw std::invalid_argument(speed);
    } catch (const std::exception&) {
      std::cerr << "gps-monitor: --speed wants a positive factor or max, not \"" << speed << "\"\n";
      return false;
    }
  }
  // A log named by an address replays at --speed as one named by --replay does.
  if (!speed.empty() && options.source.starts_with("file:")) {
    if (options.source.find('?') != std::string::npos) {
      std::cerr << "gps-monitor: give the replay speed once: --speed or ?speed= in the address\n";
      return false;
    }
    options.source += "?speed=" + speed;
  }
  if (options.source.empty()) return true;
  if (!TakeAddress(KnownSources().Parse(options.source), options.source_address)) return false;
  // A missing log is a mistake in the command, as it is for --replay.
  if (options.source_address && options.source_address->scheme == SourceAddress::Scheme::kFile &&
      !std::filesystem::exists(options.source_address->path)) {
    std::cerr << "gps-monitor: --source: File does not exist: " << options.source_address->path
              << "\n";
    return false;
  }
  return true;
}

// A file name the outputs take: a track, or a log of the sentences.
bool IsRecordable(const std::string& file) {
  try {
    return KnownSinks().Parse(file).scheme.starts_with('.');
  } catch (const SinkUsageError&) {
    return false;
  }
}

// The track files: each of a known format, one KML at most, each to be made and none named
// twice (with the placemark); a record folder only for a fleet.
bool CheckRecording(const Options& options) {
  int kml_files = 0;
  for (const auto& file : options.record) {
    const bool kml = file.size() > 4 && (file.ends_with(".kml") || file.ends_with(".KML"));
    kml_files += kml ? 1 : 0;
    if (!IsRecordable(file)) {
      std::cerr << "gps-monitor: --record wants a .kml, .gpx, .geojson, .csv or .nmea file, not \""
                << file << "\"\n";
      return false;
    }
  }
  if (kml_files > 1) {
    std::cerr << "gps-monitor: --record takes one .kml file (and any .gpx, .geojson and .csv)\n";
    return false;
  }
  try {
    KnownSinks().CheckTogether(options.record, options.placemark.empty()
                                                   ? std::vector<std::string>()
                                                   : std::vector{options.placemark});
  } catch (const SinkUsageError& error) {
    std::cerr << "gps-monitor: " << error.what() << "\n";
    return false;
  }
  const bool fleet =
      options.source_address && (options.source_address->scheme == SourceAddress::Scheme::kMqtt ||
                                 options.source_address->scheme == SourceAddress::Scheme::kNats);
  if (!options.record_dir.empty() && !fleet) {
    std::cerr << "gps-monitor: --record-dir goes with a fleet's source (--source mqtt://... or "
                 "nats://...)\n";
    return false;
  }
  return true;
}

// Options that go only with others.
bool CheckCompanions(const Options& options) {
  if (const std::string fault =
          TlsFilesFault({options.mqtt_cafile, options.mqtt_cert, options.mqtt_key});
      !fault.empty()) {
    std::cerr << "gps-monitor: MQTT's TLS files: " << fault << "\n";
    return false;
  }
  const bool mqtt_source =
      options.source_address && options.source_address->scheme == SourceAddress::Scheme::kMqtt;
  if (!options.mqtt_id.empty() && !mqtt_source && options.publish.empty()) {
    std::cerr << "gps-monitor: --mqtt-id names the client of an MQTT source or of --publish\n";
    return false;
  }
  if (const std::string fault = ClientIdFault(options.mqtt_id); !fault.empty()) {
    std::cerr << "gps-monitor: --mqtt-id: " << fault << "\n";
    return false;
  }
  if (options.chrony_shm && options.replay_via_pty) {
    std::cerr << "gps-monitor: --chrony-shm takes the time of a live receiver: a replayed log's "
                 "times are not now\n";
    return false;
  }
  if (!options.settings.empty() && !ParseLineSettings(options.settings)) {
    std::cerr << "gps-monitor: --settings wants baud,parity,data bits,stop bits such as "
                 "4800,n,8,1, not \""
              << options.settings << "\"\n";
    return false;
  }
  if (options.listen &&
      (!options.broadcast.empty() || !options.send.empty() || !options.settings.empty())) {
    std::cerr << "gps-monitor: --broadcast, --send and --settings go with a serial source, not "
                 "--listen\n";
    return false;
  }
  if (options.print_url && !options.map) {
    std::cerr << "gps-monitor: --print-url goes with --map\n";
    return false;
  }
  return true;
}

}  // namespace

std::variant<Options, int> ParseOptions(int argc, char** argv) {
  CLI::App app{
      "gps-monitor: shows the live fix of a GPS receiver (NMEA 0183) and records, relays and maps "
      "it. Without a source it replays the bundled sample drive at ten times real time."};
  Options options;
  OptionTexts texts;
  DeclareOptions(app, options, texts);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& help_or_version) {
    return app.exit(help_or_version);
  } catch (const CLI::ExtrasError& error) {
    std::cerr << "gps-monitor: " << UnknownArgumentsText(app, error) << "\n";
    return 2;
  } catch (const CLI::ConfigError& error) {
    std::cerr << "gps-monitor: " << ConfigFaultText(app, error) << "\n";
    return 2;
  } catch (const CLI::ParseError& error) {
    std::cerr << "gps-monitor: " << error.what() << "; gps-monitor --help lists the options\n";
    return 2;
  }

  if (!texts.map.empty()) options.map = kMapServices.at(texts.map);
  if (options.tiles == "none") options.tiles.clear();
  options.serve_nmea = ServedAddress(*texts.serve_option, texts.serve, "10110");
  options.serve_gpsd = ServedAddress(*texts.gpsd_option, texts.serve_gpsd, "2947");
  options.web = ServedAddress(*texts.web_option, texts.web, "8080");
  if (!TakeSource(options, texts) || !CheckRecording(options) || !CheckCompanions(options)) {
    return 2;
  }
  options.send = WithEscapesRead(options.send);
  return options;
}

}  // namespace quorvane::monitor
