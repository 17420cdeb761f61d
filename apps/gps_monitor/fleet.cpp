#include "apps/gps_monitor/fleet.hpp"

#include <algorithm>
#include <cstdio>

#include "base/text_rules.hpp"

namespace quorvane::monitor {
namespace {

constexpr size_t kLongestFileName = 200;
// Refused topics remembered, so that each is said once; past it they are no longer said.
constexpr size_t kRememberedRefusals = 10000;

std::vector<std::string_view> Levels(std::string_view topic) {
  std::vector<std::string_view> levels;
  for (size_t start = 0;;) {
    const size_t slash = topic.find('/', start);
    levels.push_back(topic.substr(start, slash - start));
    if (slash == std::string_view::npos) return levels;
    start = slash + 1;
  }
}

}  // namespace

std::string VehicleNameOf(const std::string& filter, const std::string& topic) {
  // A shared subscription ("$share/GROUP/fleet/+/nmea") delivers the topics of its filter.
  auto filter_levels = Levels(filter);
  if (filter_levels.size() > 2 && filter_levels[0] == "$share") {
    filter_levels.erase(filter_levels.begin(), filter_levels.begin() + 2);
  }
  // The last "+" is the vehicle's: "fleet/+/+/nmea" takes every shard of fleet/SHARD/VEHICLE.
  const auto plus = std::find(filter_levels.rbegin(), filter_levels.rend(), "+");
  const auto topic_levels = Levels(topic);
  const auto index = static_cast<size_t>(filter_levels.rend() - plus - 1);
  if (plus != filter_levels.rend() && index < topic_levels.size()) {
    return std::string(topic_levels[index]);
  }
  std::string name = topic;
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

std::string FileNameFault(const std::string& name) {
  if (name.empty()) return "an empty name";
  if (name == "." || name == "..") return "\"" + name + "\" is no file name";
  if (name.size() > kLongestFileName) return "a name longer than 200 bytes";
  for (const char c : name) {
    if (c == '/') return "a \"/\" in the name";
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "a control character in the name";
  }
  return {};
}

Fleet::Fleet(std::string filter, std::string record_dir, std::string format, Platform& platform)
    : filter_(std::move(filter)),
      record_dir_(std::move(record_dir)),
      format_(std::move(format)),
      platform_(platform) {}

Fleet::~Fleet() {
  Finish();
}

Fleet::Vehicle* Fleet::Find(const std::string& topic, std::string& said) {
  if (const auto found = vehicles_.find(topic); found != vehicles_.end()) return &found->second;
  auto refuse = [&](const std::string& why) -> Vehicle* {
    if (refused_topics_.size() < kRememberedRefusals && refused_topics_.insert(topic).second) {
      said = "topic \"" + topic + "\" is not recorded: " + why;
    }
    return nullptr;
  };
  if (vehicles_.size() >= kMaxVehicles) {
    return refuse("already " + std::to_string(kMaxVehicles) + " vehicles");
  }
  Vehicle vehicle{VehicleNameOf(filter_, topic), {}, {}, {}, {}, nullptr, nullptr, {}};
  if (!record_dir_.empty()) {
    if (const std::string fault = FileNameFault(vehicle.name); !fault.empty()) {
      return refuse("its vehicle cannot name a file in " + record_dir_ + " (" + fault + ")");
    }
    if (!file_names_.insert(vehicle.name).second) {
      return refuse("its vehicle \"" + vehicle.name + "\" is another topic's already");
    }
  }
  Vehicle& made = vehicles_.emplace(topic, std::move(vehicle)).first->second;
  said = StartTrack(made);
  return &made;
}

std::string Fleet::StartTrack(Vehicle& vehicle) {
  if (record_dir_.empty()) return {};
  const std::string path = record_dir_ + "/" + vehicle.name + "." + format_;
  if (format_ == "kml") {
    vehicle.kml = std::make_unique<TrackRecorder>(platform_);
    vehicle.kml->OnFailure(
        [&vehicle](std::string failure) { vehicle.failure = std::move(failure); });
    vehicle.kml->Start(path, vehicle.name);
  } else {
    vehicle.track = std::make_unique<TrackFiles>();
    vehicle.failure = vehicle.track->Open({path}, vehicle.name);
  }
  if (vehicle.failure.empty()) return {};
  vehicle.kml.reset();
  vehicle.track.reset();
  return vehicle.failure;
}

std::string Fleet::Take(const Fix& fix, const std::string& stream) {
  std::string said;
  Vehicle* vehicle = Find(stream, said);
  last_ = vehicle;
  if (vehicle == nullptr) return said;
  // Kept as numbers: made into text only for the vehicles the dashboard shows.
  vehicle->heard = std::chrono::steady_clock::now();
  vehicle->latitude = fix.latitude;
  vehicle->longitude = fix.longitude;
  vehicle->speed = fix.speed;
  if (vehicle->kml) {
    vehicle->kml->Take({fix.latitude.value_or(0), fix.longitude.value_or(0), fix.altitude_msl,
                        fix.HasFix(), IsoTimeText(fix)});
  }
  if (vehicle->track) vehicle->track->Take(fix);
  return said;
}

std::string Fleet::Flush() {
  Vehicle* vehicle = std::exchange(last_, nullptr);
  if (vehicle == nullptr) return {};
  std::string failure;
  if (vehicle->kml) vehicle->kml->EndOfBlock();
  if (vehicle->track) failure = vehicle->track->Flush();
  if (failure.empty()) failure = std::exchange(vehicle->failure, {});
  if (!failure.empty()) {
    vehicle->kml.reset();
    vehicle->track.reset();
  }
  return failure;
}

std::string Fleet::Finish() {
  std::string first;
  for (auto& [topic, vehicle] : vehicles_) {
    if (vehicle.kml) vehicle.kml->Stop();
    std::string failure = vehicle.track ? vehicle.track->Finish() : std::string();
    if (failure.empty()) failure = std::exchange(vehicle.failure, {});
    if (first.empty()) first = failure;
    vehicle.kml.reset();
    vehicle.track.reset();
  }
  return first;
}

std::vector<std::string> Fleet::Lines(size_t most) const {
  std::vector<const Vehicle*> heard;
  for (const auto& [topic, vehicle] : vehicles_) heard.push_back(&vehicle);
  const size_t shown = std::min(most, heard.size());
  std::partial_sort(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(shown), heard.end(),
                    [](const Vehicle* a, const Vehicle* b) { return a->heard > b->heard; });
  const auto now = std::chrono::steady_clock::now();
  std::vector<std::string> lines;
  for (size_t i = 0; i < shown; ++i) {
    const double age = std::chrono::duration<double>(now - heard[i]->heard).count();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "  %.0f s ago", age);
    const Vehicle& vehicle = *heard[i];
    char speed[32] = "";
    if (vehicle.speed) std::snprintf(speed, sizeof speed, "  %.1f km/h", *vehicle.speed * 3.6);
    const std::string where = vehicle.latitude ? NumberToText(*vehicle.latitude) + ", " +
                                                     NumberToText(*vehicle.longitude) + speed
                                               : "no fix";
    lines.push_back(heard[i]->name + "  " + where + seconds);
  }
  return lines;
}

}  // namespace quorvane::monitor
