#pragma once
// gps-monitor reading a fleet from an MQTT topic filter: each vehicle's last fix for the
// dashboard and, with --record-dir, one track file per vehicle in that folder. A vehicle is
// named by the topic level the filter's last "+" matched ("fleet/+/nmea" and
// "fleet/car7/nmea" make "car7"; "fleet/+/+/nmea", every shard of fleet/SHARD/VEHICLE, the
// vehicle), or by its whole topic with "_" for "/" when the filter has
// no "+" ("fleet/#": "fleet_car7_nmea").

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "control/gps.hpp"
#include "kml/track_recorder.hpp"
#include "receiver/receiver_table.hpp"
#include "tracks/track_files.hpp"

namespace quorvane::monitor {

// The vehicle's name of `topic` under `filter`.
std::string VehicleNameOf(const std::string& filter, const std::string& topic);

// Why `name` cannot name a file in the record folder ("..", "a/b", control characters, ...),
// or an empty text.
std::string FileNameFault(const std::string& name);

class Fleet final : public EpochSink {
 public:
  // As many vehicles as the control keeps streams.
  static constexpr size_t kMaxVehicles = ReceiverTable::kMaxStreams;

  // `record_dir` empty: nothing is recorded. `format` is kml, gpx or geojson.
  Fleet(std::string filter, std::string record_dir, std::string format, Platform& platform);
  ~Fleet();

  // An epoch of the vehicle of topic `stream`; what should be said once (a topic that names no
  // file, a file that cannot be written), or an empty text.
  std::string Take(const Fix& fix, const std::string& stream);
  // The vehicle whose block it was is done: its file is handed to the disk.
  std::string Flush();
  // As a sink of the control: what should be said goes to the handler of OnSay.
  void TakeEpoch(const Fix& fix, const std::string& stream) override { Say(Take(fix, stream)); }
  void EndOfBlock() override { Say(Flush()); }
  void OnSay(std::function<void(const std::string&)> handler) { on_say_ = std::move(handler); }
  // Every track finished; the first failure, or an empty text.
  std::string Finish();

  size_t Size() const { return vehicles_.size(); }
  // A line per vehicle, the most recently heard first: name, position, speed, age.
  std::vector<std::string> Lines(size_t most) const;

 private:
  struct Vehicle {
    std::string name;
    std::optional<double> latitude;  // of its last epoch; none without a fix
    std::optional<double> longitude;
    std::optional<double> speed;  // m/s
    std::chrono::steady_clock::time_point heard;
    std::unique_ptr<TrackRecorder> kml;
    std::unique_ptr<TrackFiles> track;
    std::string failure;  // said once; the vehicle is not recorded after it
  };

  Vehicle* Find(const std::string& topic, std::string& said);
  std::string StartTrack(Vehicle& vehicle);

  std::string filter_;
  std::string record_dir_;
  std::string format_;
  Platform& platform_;
  std::map<std::string, Vehicle> vehicles_;  // by topic
  std::unordered_set<std::string> file_names_;
  std::unordered_set<std::string> refused_topics_;  // said once each
  Vehicle* last_ = nullptr;
  std::function<void(const std::string&)> on_say_;

  void Say(const std::string& what) const {
    if (!what.empty() && on_say_) on_say_(what);
  }
};

}  // namespace quorvane::monitor
