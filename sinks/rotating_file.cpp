#include "sinks/rotating_file.hpp"

#include <ctime>
#include <filesystem>

#include "nmea/fix.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {
namespace {

// strftime's fields a file name may take: none of them gives a "/" or depends on the locale's
// words alone.
constexpr std::string_view kTimeFields = "YyCmdejHIMSpFTGgVUWuwaAbBhR";

// `path`, or the first of PATH-2.EXT, PATH-3.EXT, ... that names nothing yet.
std::string FreeVariant(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) return path;
  const std::filesystem::path whole(path);
  const std::string stem = (whole.parent_path() / whole.stem()).string();
  const std::string extension = whole.extension().string();
  for (int number = 2;; ++number) {
    std::string variant = stem + "-" + std::to_string(number) + extension;
    if (!std::filesystem::exists(std::filesystem::symlink_status(variant, error))) return variant;
  }
}

std::string NowIsoTime() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
  return text;
}

}  // namespace

std::string PatternFault(std::string_view pattern) {
  const size_t first = pattern.find('%');
  if (first == std::string_view::npos) return {};
  const size_t slash = pattern.rfind('/');
  if (slash != std::string_view::npos && first < slash) {
    return "time fields go in the file's name, not in its folders";
  }
  bool names_a_time = false;
  for (size_t i = first; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    const char field = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    ++i;
    if (field == '%') continue;
    if (field == '\0' || kTimeFields.find(field) == std::string_view::npos) {
      return "\"%" + std::string(field == '\0' ? "" : std::string(1, field)) +
             "\" is no time field a file name takes (%Y %m %d %H %M %S %j %F %T and the like; %% "
             "for a %)";
    }
    names_a_time = true;
  }
  if (!names_a_time) return "it names no time field to begin a new file by (%Y-%m-%d, %H, ...)";
  return {};
}

std::optional<std::string> NameAt(const std::string& pattern, std::string_view iso_time) {
  std::tm time{};
  const std::string text(iso_time.substr(0, 19));
  const char* end = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &time);
  if (end == nullptr || *end != '\0') return std::nullopt;
  // The weekday and the day of the year, for the fields that name them.
  std::time_t seconds = ::timegm(&time);
  ::gmtime_r(&seconds, &time);
  char name[4096];
  const size_t length = std::strftime(name, sizeof name, pattern.c_str(), &time);
  if (length == 0) return std::nullopt;
  return std::string(name, length);
}

RotatingFile::RotatingFile(std::string pattern, Opener open,
                           std::function<void(const std::string&)> failed, bool live)
    : pattern_(std::move(pattern)),
      rotates_(pattern_.find('%') != std::string::npos),
      live_(live),
      open_(std::move(open)),
      failed_(std::move(failed)) {
  if (rotates_) return;
  MadeSink made = open_(pattern_);
  output_ = made.output;
  epochs_ = made.epochs;
  name_ = pattern_;
}

void RotatingFile::FollowTime(std::string_view iso_time) {
  // Before the receiver knows the date, the file is the one open, or a live receiver's of the
  // clock's now.
  const bool clock = iso_time.empty() && !output_ && live_;
  const std::string time = clock ? NowIsoTime() : std::string(iso_time);
  if (time.empty()) return;
  const auto name = NameAt(pattern_, time);
  if (!name || *name == name_) return;
  Finish();
  Begin(*name);
}

void RotatingFile::Begin(const std::string& name) {
  name_ = name;
  try {
    MadeSink made = open_(FreeVariant(name));
    output_ = made.output;
    epochs_ = made.epochs;
  } catch (const std::runtime_error& error) {
    // Said once; the next name (or a SIGHUP) tries again.
    if (failed_) failed_(error.what());
  }
}

void RotatingFile::Finish() {
  for (const std::string& failure : Close()) {
    if (failed_) failed_(failure);
  }
}

void RotatingFile::TakeEpoch(const Fix& fix, const std::string& stream) {
  // Only a name with time fields looks at the time (a plain file has no text made for it).
  if (rotates_ && fix.HasFix()) FollowTime(IsoTimeText(fix));
  if (epochs_) epochs_->TakeEpoch(fix, stream);
}

void RotatingFile::TakeGga(const DecodedGga& gga) {
  if (rotates_) FollowTime(gga.time);
  if (epochs_) epochs_->TakeGga(gga);
}

void RotatingFile::TakeSentence(std::string_view sentence, const std::string& stream) {
  if (epochs_) epochs_->TakeSentence(sentence, stream);
}

void RotatingFile::EndOfBlock() {
  if (epochs_) epochs_->EndOfBlock();
}

void RotatingFile::SourceStopped() {
  if (epochs_) epochs_->SourceStopped();
}

std::string RotatingFile::State() const {
  return output_ ? output_->State() : std::string();
}

std::vector<std::string> RotatingFile::Close() {
  if (!output_) return {};
  std::vector<std::string> failures = output_->Close();
  output_.reset();
  epochs_.reset();
  return failures;
}

void RotatingFile::Reopen() {
  if (!output_) return;
  const std::string name = name_;
  Finish();
  Begin(name);
}

}  // namespace quorvane
