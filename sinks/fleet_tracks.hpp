#pragma once
// A fleet read from an MQTT topic filter, recorded as one file per vehicle in a folder (a track,
// or the sentences as received: whatever the factory makes of FOLDER/NAME.EXTENSION).
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

#include "receiver/sinks.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {

// The vehicle's name of `topic` under `filter`.
std::string VehicleNameOf(const std::string& filter, const std::string& topic);

// Why `name` cannot name a file in the record folder ("..", "a/b", control characters, ...),
// or an empty text.
std::string FileNameFault(const std::string& name);

class FleetTracks final : public StreamSinkMaker, public Output {
 public:
  // Vehicles recorded in one run at most: a file each, and what names them kept. Fewer when the
  // process may not open that many files (each vehicle holds one or two, and a thousand are
  // left for the rest).
  static constexpr size_t kMostVehicles = 65536;
  static constexpr size_t kFilesForTheRest = 1024;

  using SayHandler = std::function<void(const std::string& what)>;

  // `extension` is the files' (".gpx"). What should be said once (a topic that names no file,
  // a file that cannot be written) is the context's to `warn` of: the others and the run go on.
  FleetTracks(std::string filter, std::string folder, std::string extension,
              const SinkContext& context);

  std::unique_ptr<EpochSink> MakeFor(const std::string& topic) override;

 private:
  std::unique_ptr<EpochSink> Refuse(const std::string& topic, const std::string& why) const;

  std::string filter_;
  std::string folder_;
  std::string format_;
  SinkContext context_;
  size_t most_vehicles_;
  std::string why_no_more_;                              // said when past most_vehicles_
  std::unordered_map<std::string, std::string> topics_;  // by vehicle name: a file each
};

}  // namespace quorvane
