#pragma once
// A fleet read from an MQTT topic filter, recorded as one track file per vehicle in a folder.
// A vehicle is named by the topic level the filter's last "+" matched ("fleet/+/nmea" and
// "fleet/car7/nmea" make "car7"; "fleet/+/+/nmea", every shard of fleet/SHARD/VEHICLE, the
// vehicle), or by its whole topic with "_" for "/" when the filter has no "+" ("fleet/#":
// "fleet_car7_nmea"). Each vehicle's track is an output of its stream: it takes that stream's
// epochs, and ends when the source stops or the stream is forgotten to make room.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/platform.hpp"
#include "receiver/sinks.hpp"

namespace quorvane {

// The vehicle's name of `topic` under `filter`.
std::string VehicleNameOf(const std::string& filter, const std::string& topic);

// Why `name` cannot name a file in the record folder ("..", "a/b", control characters, ...),
// or an empty text.
std::string FileNameFault(const std::string& name);

class FleetTracks final : public StreamSinkMaker {
 public:
  // Vehicles recorded in one run at most: a file each, and what names them kept. Fewer when the
  // process may not open that many files (each vehicle holds one or two, and a thousand are
  // left for the rest).
  static constexpr size_t kMostVehicles = 65536;
  static constexpr size_t kFilesForTheRest = 1024;

  using SayHandler = std::function<void(const std::string& what)>;

  // `format` is kml, gpx, geojson or csv. What should be said once (a topic that names no file,
  // a file that cannot be written) goes to `say`.
  FleetTracks(std::string filter, std::string folder, std::string format, Platform& platform,
              SayHandler say);

  std::unique_ptr<EpochSink> MakeFor(const std::string& topic) override;

 private:
  std::unique_ptr<EpochSink> Refuse(const std::string& topic, const std::string& why) const;

  std::string filter_;
  std::string folder_;
  std::string format_;
  Platform& platform_;
  SayHandler say_;
  size_t most_vehicles_;
  std::string why_no_more_;                              // said when past most_vehicles_
  std::unordered_map<std::string, std::string> topics_;  // by vehicle name: a file each
};

}  // namespace quorvane
