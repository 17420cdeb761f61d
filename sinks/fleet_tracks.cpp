#include "sinks/fleet_tracks.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "base/text_rules.hpp"
#include "sinks/track_recorder.hpp"
#include "sinks/track_files.hpp"

namespace quorvane {
namespace {

constexpr size_t kLongestFileName = 200;

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

namespace {

// One vehicle's track: a KML recording, or a GPX, GeoJSON or CSV file. A failure is said once
// and ends the track; the run and the other vehicles go on.
class VehicleTrack final : public EpochSink {
 public:
  VehicleTrack(std::unique_ptr<TrackRecorder> kml, std::unique_ptr<TrackFiles> track,
               FleetTracks::SayHandler say)
      : kml_(std::move(kml)), track_(std::move(track)), say_(std::move(say)) {
    if (kml_) kml_->OnFailure([this](std::string failure) { failure_ = std::move(failure); });
  }
  // A track still open (its stream forgotten to make room) is ended; the host may be gone by
  // then, so a failure is no longer said.
  ~VehicleTrack() override {
    say_ = nullptr;
    SourceStopped();
  }

  void TakeEpoch(const Fix& fix, const std::string&) override {
    if (kml_) {
      kml_->Take({fix.latitude.value_or(0), fix.longitude.value_or(0), fix.altitude_msl,
                  fix.HasFix(), IsoTimeText(fix)});
    }
    if (track_) track_->Take(fix);
  }

  void EndOfBlock() override {
    if (kml_) kml_->EndOfBlock();
    std::string failure = track_ ? track_->Flush() : std::string();
    if (failure.empty()) failure = std::exchange(failure_, {});
    if (!failure.empty()) End(failure);
  }

  void SourceStopped() override {
    if (kml_) kml_->Stop();
    std::string failure = track_ ? track_->Finish() : std::string();
    if (failure.empty()) failure = std::exchange(failure_, {});
    End(failure);
  }

 private:
  void End(const std::string& failure) {
    kml_.reset();
    track_.reset();
    if (!failure.empty() && say_) say_(failure);
  }

  std::unique_ptr<TrackRecorder> kml_;
  std::unique_ptr<TrackFiles> track_;
  FleetTracks::SayHandler say_;
  std::string failure_;
};

}  // namespace

FleetTracks::FleetTracks(std::string filter, std::string folder, std::string format,
                         Platform& platform, SayHandler say)
    : filter_(std::move(filter)),
      folder_(std::move(folder)),
      format_(std::move(format)),
      platform_(platform),
      say_(std::move(say)) {
  rlimit limit{};
  const size_t files_each = format_ == "kml" || format_ == "geojson" ? 2 : 1;  // and a spool
  size_t most_files = SIZE_MAX;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    most_files = static_cast<size_t>(limit.rlim_cur);
  }
  const size_t allowed =
      most_files > kFilesForTheRest ? (most_files - kFilesForTheRest) / files_each : 0;
  most_vehicles_ = std::min(kMostVehicles, allowed);
  why_no_more_ = "already " + std::to_string(most_vehicles_) + " vehicles";
  if (most_vehicles_ < kMostVehicles) {
    why_no_more_ +=
        ", as many as " + std::to_string(most_files) + " open files allow (ulimit -n raises it)";
  }
}

std::unique_ptr<EpochSink> FleetTracks::Refuse(const std::string& topic,
                                               const std::string& why) const {
  if (say_) say_("topic \"" + topic + "\" is not recorded: " + why);
  return nullptr;
}

std::unique_ptr<EpochSink> FleetTracks::MakeFor(const std::string& topic) {
  const std::string name = VehicleNameOf(filter_, topic);
  if (const std::string fault = FileNameFault(name); !fault.empty()) {
    return Refuse(topic, "its vehicle cannot name a file in " + folder_ + " (" + fault + ")");
  }
  if (const auto taken = topics_.find(name); taken != topics_.end()) {
    // A track ended when its vehicle was forgotten is not begun again over its points.
    return Refuse(topic, taken->second == topic
                             ? "its track ended when it was not heard among too many vehicles"
                             : "its vehicle \"" + name + "\" is another topic's already");
  }
  if (topics_.size() >= most_vehicles_) {
    // Said once: past it every new topic would say the same.
    if (!why_no_more_.empty())
      Refuse(topic, std::exchange(why_no_more_, {}) + "; nor any after it");
    return nullptr;
  }
  topics_.emplace(name, topic);
  const std::string path = folder_ + "/" + name + "." + format_;
  std::unique_ptr<TrackRecorder> kml;
  std::unique_ptr<TrackFiles> track;
  std::string failure;
  if (format_ == "kml") {
    kml = std::make_unique<TrackRecorder>(platform_);
    kml->OnFailure([&failure](std::string why) { failure = std::move(why); });
    kml->Start(path, name);
  } else {
    track = std::make_unique<TrackFiles>();
    failure = track->Open({path}, name);
  }
  if (!failure.empty()) {
    if (say_) say_(failure);
    return nullptr;
  }
  return std::make_unique<VehicleTrack>(std::move(kml), std::move(track), say_);
}

}  // namespace quorvane
