// Real receivers' logs, epoch by epoch, against what gpsd reports for them (the NAME.log.chk
// beside each log: gpsd's TPV and SKY objects), and the satellites each used. gpsd is a reference,
// not the truth: where we differ on purpose, the reason is named here and in docs/compatibility.md.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "nmea/epoch_builder.hpp"
#include "nmea/nmea_decoder.hpp"

namespace quorvane {
namespace {

const std::filesystem::path kLogs = RECEIVER_LOGS;

std::vector<std::string> Lines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  return lines;
}

// gpsd's fix for each time of day: the last TPV of that time (it reports a cycle several
// times as its sentences come, the last the most complete).
struct GpsdFix {
  std::string time;
  int mode = 0;
  std::optional<double> lat, lon, alt, speed, track;
};

int64_t MicrosecondsOfIso(const std::string& iso) {
  const int hour = std::stoi(iso.substr(11, 2));
  const int minute = std::stoi(iso.substr(14, 2));
  const double second = std::stod(iso.substr(17, iso.size() - 18));
  return static_cast<int64_t>(std::llround(((hour * 60 + minute) * 60 + second) * 1e6));
}

std::map<int64_t, GpsdFix> GpsdFixes(const std::filesystem::path& chk) {
  std::map<int64_t, GpsdFix> fixes;
  for (const std::string& line : Lines(chk)) {
    if (line.empty() || line[0] != '{') continue;
    const auto json = nlohmann::json::parse(line, nullptr, false);
    if (json.is_discarded() || json.value("class", "") != "TPV" || !json.contains("time")) continue;
    GpsdFix fix;
    fix.time = json["time"];
    fix.mode = json.value("mode", 0);
    const auto number = [&json](const char* name) -> std::optional<double> {
      if (!json.contains(name)) return std::nullopt;
      return json[name].get<double>();
    };
    fix.lat = number("lat");
    fix.lon = number("lon");
    fix.alt = number("altMSL");
    fix.speed = number("speed");
    fix.track = number("track");
    fixes[MicrosecondsOfIso(fix.time)] = fix;
  }
  return fixes;
}

// Every satellite (gpsd's PRN) that some SKY of gpsd's marks used. Which cycle a SKY belongs to
// is not written in the file, so the satellites are compared over the whole log.
std::set<int> GpsdUsedSatellites(const std::filesystem::path& chk) {
  std::set<int> used;
  for (const std::string& line : Lines(chk)) {
    if (!line.starts_with("{\"class\":\"SKY\"")) continue;
    const auto json = nlohmann::json::parse(line, nullptr, false);
    if (json.is_discarded() || !json.contains("satellites")) continue;
    for (const auto& satellite : json["satellites"]) {
      if (satellite.value("used", false)) used.insert(satellite.value("PRN", 0));
    }
  }
  return used;
}

// Our epochs of a log, read as gps-monitor reads it: every talker, checksums verified; and
// every satellite one of them used.
std::map<int64_t, Fix> OurEpochs(const std::filesystem::path& log, std::set<int>& used) {
  std::map<int64_t, Fix> epochs;
  EpochBuilder builder([&](const Fix& fix) {
    if (fix.time) epochs[fix.time->microseconds] = fix;
    for (const SatelliteInView& satellite : fix.in_view) {
      if (satellite.used) used.insert(satellite.id.prn);
    }
  });
  for (const std::string& line : Lines(log)) {
    // A sentence begins at the last "$" of its line, as the line assembler cuts it.
    const std::string sentence = line.substr(std::min(line.rfind('$'), line.size()));
    if (line.starts_with('#') || CheckChecksum(sentence) == ChecksumCheck::kWrong) continue;
    builder.Take(sentence);
  }
  builder.Finish();
  return epochs;
}

// Where we depart from gpsd, and why. A difference in a log and field not listed fails.
struct Departure {
  const char* log;
  const char* field;
  const char* reason;
};
constexpr Departure kDepartures[] = {
    {"ericsson-gru04-02-70sec.log", "position",
     "gpsd takes the maker's averaged position ($PERC,GPavp) over the cycle's GNS"},
    {"neo-m8n.log", "time",
     "gpsd moves the RMC's date 2015-03-18 by 1024 weeks (its guess at a week rollover)"},
    {"garmin25lp.log", "mode", "gpsd keeps the 3D mode of an earlier cycle's GGA"},
    {"iTrek.log", "mode",
     "gpsd keeps the 3D mode of an earlier cycle's GGA in a cycle without one"},
    {"humminbird-M37.log", "mode",
     "gpsd keeps the 3D mode of an earlier GGA in the RMC-only cycles; we report 2D"},
    {"humminbird-M37.log", "speed",
     "the log loops in time: gpsd mixes the VTG of one pass with the RMC of another"},
    {"humminbird-M37.log", "track", "as its speed"},
    {"tcp-torture.log", "time", "gpsd has no date for the one cycle; the cycle's RMC gives one"},
    {"tcp-torture.log", "altitude",
     "gpsd takes the altitude of a GGA with '|' in its time; we refuse that sentence"},
    {"ericsson-gru04-02-70sec.log", "used",
     "the receiver sends no GSA; gpsd reads the satellites used from the maker's $PERC,GPdbg"},
    {"quectel.log", "used",
     "gpsd never marks PRN 1 used, though GSAs list it while GSVs report its signal"},
};

// Whether the difference is listed; each listed one that occurs is noted in `seen`.
bool Departs(const std::string& log, const std::string& field, std::set<std::string>& seen) {
  for (const Departure& departure : kDepartures) {
    if (log != departure.log || field != departure.field) continue;
    seen.insert(log + " " + field);
    return true;
  }
  return false;
}

bool Differs(const std::optional<double>& ours, const std::optional<double>& theirs,
             double tolerance) {
  return ours.has_value() != theirs.has_value() || (ours && std::abs(*ours - *theirs) > tolerance);
}

// The fields of one epoch that differ from gpsd's.
std::vector<std::string> Differences(const Fix& fix, const GpsdFix& gpsd) {
  std::vector<std::string> fields;
  if (!fix.HasFix()) return {"position"};
  if (std::abs(*fix.latitude - *gpsd.lat) > 1e-6 || std::abs(*fix.longitude - *gpsd.lon) > 1e-6) {
    fields.push_back("position");
  }
  if (IsoTimeText(fix) != gpsd.time) fields.push_back("time");
  if (static_cast<int>(fix.mode) != gpsd.mode) fields.push_back("mode");
  if (Differs(fix.altitude_msl, gpsd.alt, 0.05)) fields.push_back("altitude");
  if (Differs(fix.speed, gpsd.speed, 0.001)) fields.push_back("speed");
  if (Differs(fix.course, gpsd.track, 0.001)) fields.push_back("track");
  return fields;
}

TEST(EpochGoldenTest, EveryEpochAsGpsdReportsItOrItsDifferenceNamed) {
  int gpsd_fixes = 0;
  int same_place = 0;
  std::string unexplained;
  std::set<std::string> seen;
  for (const auto& entry : std::filesystem::directory_iterator(kLogs)) {
    const std::string log = entry.path().filename().string();
    const auto chk = entry.path().string() + ".chk";
    if (entry.path().extension() != ".log" || !std::filesystem::exists(chk)) continue;
    std::set<int> used;
    const auto ours = OurEpochs(entry.path(), used);
    if (used != GpsdUsedSatellites(chk) && !Departs(log, "used", seen))
      unexplained += log + ": used\n";
    for (const auto& [time, gpsd] : GpsdFixes(chk)) {
      if (gpsd.mode < 2 || !gpsd.lat) continue;
      ++gpsd_fixes;
      const auto found = ours.find(time);
      const auto fields = found == ours.end() ? std::vector<std::string>{"position"}
                                              : Differences(found->second, gpsd);
      if (std::find(fields.begin(), fields.end(), "position") == fields.end()) ++same_place;
      for (const std::string& field : fields) {
        if (!Departs(log, field, seen)) unexplained += log + " " + gpsd.time + ": " + field + "\n";
      }
    }
  }
  EXPECT_EQ(unexplained, "");
  // A difference listed that no longer occurs is listed no longer.
  EXPECT_EQ(seen.size(), std::size(kDepartures));
  // Over 99 % of gpsd's fixes at the same place.
  EXPECT_GT(same_place * 100, gpsd_fixes * 99) << same_place << " of " << gpsd_fixes;
}

}  // namespace
}  // namespace quorvane
