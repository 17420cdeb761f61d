#include "sinks/fleet_tracks.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include <filesystem>

#include "base/text_rules.hpp"

namespace quorvane {
namespace {

constexpr size_t kLongestFileName = 200;

// A fleet's files are a file each (and a spool beside some): as many as the process may open.
void AllowEveryOpenFile() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

std::string VehicleNameOf(const std::string& filter, const std::string& topic) {
  // A shared subscription ("$share/GROUP/fleet/+/nmea") delivers the topics of its filter.
  std::string_view delivered = filter;
  if (delivered.starts_with("$share/")) {
    const size_t group_end = delivered.find('/', 7);
    if (group_end != std::string_view::npos) delivered.remove_prefix(group_end + 1);
  }
  // The last "+" is the vehicle's: "fleet/+/+/nmea" takes every shard of fleet/SHARD/VEHICLE.
  if (const auto vehicle = LevelMatched(delivered, topic, '/', "+")) return std::string(*vehicle);
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

// One vehicle's output, made by the factory as the user's file name would make it for one
// receiver. A failure while it runs is said by it, once; the run and the other vehicles go on.
class VehicleOutput final : public EpochSink {
 public:
  VehicleOutput(MadeSink made, FleetTracks::SayHandler say)
      : made_(std::move(made)), say_(std::move(say)) {}
  // An output still open (its stream forgotten to make room) is ended; the host may be gone by
  // then, so what it lost is no longer said.
  ~VehicleOutput() override {
    say_ = nullptr;
    SourceStopped();
  }

  void TakeEpoch(const Fix& fix, const std::string& stream) override {
    if (made_.epochs) made_.epochs->TakeEpoch(fix, stream);
  }
  void TakeGga(const DecodedGga& gga) override {
    if (made_.epochs) made_.epochs->TakeGga(gga);
  }
  void TakeSentence(std::string_view sentence, const std::string& stream) override {
    if (made_.epochs) made_.epochs->TakeSentence(sentence, stream);
  }
  void EndOfBlock() override {
    if (made_.epochs) made_.epochs->EndOfBlock();
  }
  void SourceStopped() override {
    if (!made_.output) return;
    for (const std::string& lost : made_.output->Close()) {
      if (say_) say_(lost);
    }
    made_ = {};
  }

 private:
  MadeSink made_;
  FleetTracks::SayHandler say_;
};

}  // namespace

FleetTracks::FleetTracks(std::string filter, std::string folder, std::string format,
                         const SinkContext& context)
    : filter_(std::move(filter)),
      folder_(std::move(folder)),
      format_(std::move(format)),
      context_(context) {
  // A vehicle's file is one stream's; one that fails is said, and the other vehicles and the
  // run go on.
  context_.fleet.clear();
  context_.failed = context.warn;
  rlimit limit{};
  const size_t files_each = format_ == ".kml" || format_ == ".geojson" ? 2 : 1;  // and a spool
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
  if (context_.warn) context_.warn("topic \"" + topic + "\" is not recorded: " + why);
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
  try {
    return std::make_unique<VehicleOutput>(
        KnownSinks().Make(folder_ + "/" + name + format_ + "?name=" + OptionValue(name), context_),
        context_.warn);
  } catch (const std::runtime_error& failure) {
    if (context_.warn) context_.warn(failure.what());
    return nullptr;
  }
}

void RegisterFleetSinks(SinkFactory& factory) {
  factory.Register(
      "*", "FOLDER/*.EXTENSION (a file per vehicle of a fleet, \"*\" its name)",
      [](const SinkText& text, const SinkContext& context) {
        text.OnlyOptions({});
        if (context.fleet.empty()) text.Refuse("a file per vehicle goes with a fleet's source");
        const size_t slash = text.rest.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : text.rest.substr(0, slash);
        const std::string pattern = text.rest.substr(slash == std::string::npos ? 0 : slash + 1);
        if (!pattern.starts_with("*.") || pattern.find('*', 1) != std::string::npos) {
          text.Refuse("the vehicle's name is the whole of the file name but its extension, *.EXT");
        }
        const std::string extension = pattern.substr(1);
        // The vehicles' files are what the same name would make for one receiver.
        try {
          KnownSinks().Parse("vehicle" + extension);
        } catch (const SinkUsageError&) {
          text.Refuse("no file per vehicle is written as " + extension);
        }
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error)) text.Refuse(folder + " is no folder");
        AllowEveryOpenFile();
        return MadeOf(std::make_shared<FleetTracks>(context.fleet, folder, extension, context));
      });
}

}  // namespace quorvane
