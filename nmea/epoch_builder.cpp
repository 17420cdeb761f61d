#include "nmea/epoch_builder.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "nmea/satellite_numbering.hpp"
#include "nmea/split_decoding.hpp"

namespace quorvane {
namespace {

constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;
constexpr int64_t kMicrosecondsPerSecond = 1'000'000;
constexpr int64_t kHalfADay = int64_t{12} * 3600 * kMicrosecondsPerSecond;
// Climb is measured only between fixes this close: across a gap it would mean nothing.
constexpr int64_t kLongestClimbInterval = 10 * kMicrosecondsPerSecond;
// A group of satellites not heard again for this many epochs is no longer in view.
constexpr uint64_t kSkyGroupLifetime = 5;

// What one sentence says about the fix: there is one (and of which kind), or there is none.
struct Validity {
  bool fix = false;
  bool no_fix = false;
  FixStatus status = FixStatus::kUnknown;
};

void SayQuality(int quality, Validity& validity) {
  static constexpr FixStatus kByQuality[] = {
      FixStatus::kUnknown,       FixStatus::kAutonomous, FixStatus::kDifferential,
      FixStatus::kAutonomous,    FixStatus::kRtkFixed,   FixStatus::kRtkFloat,
      FixStatus::kDeadReckoning, FixStatus::kUnknown,    FixStatus::kSimulated};
  if (quality == 0 || quality == 8) {
    validity.no_fix = true;
    if (quality == 8) validity.status = FixStatus::kSimulated;
    return;
  }
  validity.fix = true;
  validity.status = kByQuality[quality];
}

// NMEA 2.3's mode letter (RMC, GLL, VTG, each of GNS's).
void SayMode(char mode, Validity& validity) {
  switch (mode) {
    case 'N':
      validity.no_fix = true;
      return;
    case 'S':
      validity.no_fix = true;
      validity.status = FixStatus::kSimulated;
      return;
    case 'D':
      validity.status = FixStatus::kDifferential;
      break;
    case 'R':
      validity.status = FixStatus::kRtkFixed;
      break;
    case 'F':
      validity.status = FixStatus::kRtkFloat;
      break;
    case 'E':
      validity.status = FixStatus::kDeadReckoning;
      break;
    default:
      if (validity.status == FixStatus::kUnknown) validity.status = FixStatus::kAutonomous;
      break;
  }
  validity.fix = true;
}

void SayStatus(std::optional<char> status, std::optional<char> mode, Validity& validity) {
  if (status == 'V') {
    validity.no_fix = true;
    return;
  }
  if (mode) {
    SayMode(*mode, validity);
  } else if (status == 'A') {
    validity.fix = true;
  }
}

// The day after `date`.
CalendarDate NextDay(CalendarDate date) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (date.year % 4 == 0 && date.year % 100 != 0) || date.year % 400 == 0;
  const int days = date.month == 2 && leap ? 29 : kDays[date.month - 1];
  if (++date.day <= days) return date;
  date.day = 1;
  if (++date.month <= 12) return date;
  date.month = 1;
  ++date.year;
  return date;
}

template <typename Sentence>
bool HasPosition(const std::optional<Sentence>& sentence) {
  return sentence && sentence->latitude && sentence->longitude;
}

// Which satellites a list may hold, before it is searched: a bit for each satellite, set as one
// is added, from its number and a place of its constellation's own. A clear bit means not there;
// a set one (perhaps another's) is looked for in the list itself. 256 bits: cleared in a few
// stores, where a bit for every number of every constellation was a string operation per epoch.
class SatelliteFilter {
 public:
  void Add(SatelliteId id) { words_[Bit(id) / 64] |= uint64_t{1} << (Bit(id) % 64); }
  bool MayHold(SatelliteId id) const { return ((words_[Bit(id) / 64] >> (Bit(id) % 64)) & 1) != 0; }

 private:
  static unsigned Bit(SatelliteId id) {
    return (static_cast<unsigned>(id.constellation) * 67 + static_cast<uint16_t>(id.svid)) & 255;
  }
  std::array<uint64_t, 4> words_{};
};

}  // namespace

void EpochBuilder::Take(std::string_view sentence) {
  Take(sentence, SentenceFields(sentence));
}

void EpochBuilder::Take(std::string_view sentence, const SentenceFields& fields) {
  sentence_time_.reset();
  if (!DecodeTypedSentence(sentence, fields, scratch_)) return;
  const TypedSentence* typed = &scratch_;
  malformed_fields_ += static_cast<uint64_t>(typed->malformed_fields);
  if (typed->time_refused) return;
  const std::array<char, 2> talker = typed->talker;
  const std::string_view type = sentence.substr(3, 3);
  Tag tag = 0;
  for (const char c : {talker[0], talker[1], type[0], type[1], type[2]}) {
    tag = tag << 8 | static_cast<unsigned char>(c);
  }
  tag <<= 1;
  if (const auto* gsv = std::get_if<GsvSentence>(&typed->value)) {
    if (gsv->number && gsv->number == gsv->total) tag |= 1;
  }

  if (const auto time = TimeOf(typed->value)) {
    sentence_time_ = time;
    if (!cycle_.time && reported_time_ == time && !cycle_.Reportable()) {
      // A sentence of the cycle just reported came after the one taken for its last: that one
      // does not end this receiver's cycles after all, and this sentence comes too late.
      ender_.reset();
      ender_candidate_.reset();
      return;
    }
    const bool repeated =
        cycle_.time && std::find(cycle_.tags.begin(), cycle_.tags.begin() + cycle_.tag_count,
                                 tag) != cycle_.tags.begin() + cycle_.tag_count;
    if (cycle_.time && (*time != *cycle_.time || repeated)) EndCycle(End::kNewTime);
    if (!cycle_.time) {
      RollDate(*time);
      cycle_.time = time;
    }
  }
  if (!cycle_.arrived) cycle_.arrived = std::chrono::system_clock::now();
  Fold(*typed);
  Note(tag);
  if (ender_ && tag == *ender_ && cycle_.Reportable()) EndCycle(End::kLastSentence);
}

void EpochBuilder::Finish() {
  if (cycle_.Reportable()) EndCycle(End::kStreamEnd);
}

void EpochBuilder::TakeWhole(const Fix& fix) {
  fix_ = fix;
  if (on_epoch_) on_epoch_(fix_);
}

void EpochBuilder::LastSentenceIsoTime(std::string& iso) const {
  AssignIsoTimeText(date_, sentence_time_, iso);
}

void EpochBuilder::RollDate(UtcTime time) {
  // A time of day far below the last one is the next day (a log that loops in time goes back
  // by less than that).
  if (date_ && previous_time_ && previous_time_->microseconds - time.microseconds > kHalfADay) {
    date_ = NextDay(*date_);
  }
  previous_time_ = time;
}

void EpochBuilder::Note(Tag tag) {
  if (cycle_.tag_count > 0 && cycle_.last_tag == tag) {
    ++cycle_.last_tag_seen;
  } else {
    const auto* seen_before =
        std::find(cycle_.tags.begin(), cycle_.tags.begin() + cycle_.tag_count, tag);
    cycle_.last_tag_seen = seen_before == cycle_.tags.begin() + cycle_.tag_count ? 1 : 2;
  }
  cycle_.last_tag = tag;
  if (cycle_.tag_count < cycle_.tags.size()) cycle_.tags[cycle_.tag_count++] = tag;
}

void EpochBuilder::Fold(const TypedSentence& sentence) {
  std::visit(
      [&](const auto& value) {
        using Value = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, GgaSentence>) {
          cycle_.gga = value;
        } else if constexpr (std::is_same_v<Value, RmcSentence>) {
          cycle_.rmc = value;
        } else if constexpr (std::is_same_v<Value, GllSentence>) {
          cycle_.gll = value;
        } else if constexpr (std::is_same_v<Value, GnsSentence>) {
          cycle_.gns = value;
        } else if constexpr (std::is_same_v<Value, VtgSentence>) {
          cycle_.vtg = value;
        } else if constexpr (std::is_same_v<Value, ZdaSentence>) {
          cycle_.zda = value;
        } else if constexpr (std::is_same_v<Value, GstSentence>) {
          cycle_.gst = value;
        } else if constexpr (std::is_same_v<Value, GsaSentence>) {
          // A cycle that never ends keeps the last few.
          if (cycle_.gsa_count == kMaxGsaPerCycle) {
            std::shift_left(cycle_.gsas.begin(), cycle_.gsas.end(), 1);
            --cycle_.gsa_count;
          }
          cycle_.gsas[cycle_.gsa_count++] = {sentence.talker, value};
        } else if constexpr (std::is_same_v<Value, GsvSentence>) {
          FoldGsv(sentence.talker, value);
        }
      },
      sentence.value);
}

void EpochBuilder::FoldGsv(std::array<char, 2> talker, const GsvSentence& gsv) {
  if (!gsv.number || !gsv.total) return;
  const int signal = gsv.signal_id.value_or(0);
  auto group = std::find_if(sky_.begin(), sky_.end(), [&](const SkyGroup& candidate) {
    return candidate.talker[0] == talker[0] && candidate.talker[1] == talker[1] &&
           candidate.signal == signal;
  });
  if (group == sky_.end()) {
    if (sky_.size() == kMaxSkyGroups) {
      // The group heard longest ago makes room.
      sky_.erase(std::min_element(sky_.begin(), sky_.end(), [](const auto& a, const auto& b) {
        return a.committed_at < b.committed_at;
      }));
    }
    SkyGroup added;
    added.talker = talker;
    added.signal = signal;
    group = sky_.insert(sky_.end(), std::move(added));
  }
  if (gsv.number == 1) group->building.clear();
  const auto system = SystemOfSentence(talker, std::nullopt);
  for (size_t i = 0; i < gsv.satellite_count; ++i) {
    const SatelliteSignal& signal_of = gsv.satellites[i];
    // Nine sentences of four: a group that never ends keeps no more than a full one.
    if (group->building.size() >= 36) break;
    // Filled where it lies: a whole one made first and copied would be read back at once from
    // the stores that made it, which the processor cannot forward (a stall per satellite).
    SatelliteInView& satellite = group->building.emplace_back();
    if (!FindSatellite(system, signal_of.prn, satellite.id)) {
      group->building.pop_back();
      continue;
    }
    satellite.elevation = signal_of.elevation;
    satellite.azimuth = signal_of.azimuth;
    satellite.snr = signal_of.snr;
  }
  if (gsv.number == gsv.total) {
    group->complete.swap(group->building);
    group->building.clear();
    group->committed_at = epochs_ + 1;
  }
}

void EpochBuilder::EndCycle(End why) {
  if (why == End::kNewTime) {
    // The kind that came last, once, in a cycle that a new time ended; twice in a row, and it
    // ends this receiver's cycles.
    std::optional<Tag> candidate;
    if (cycle_.tag_count > 0 && cycle_.last_tag_seen == 1) candidate = cycle_.last_tag;
    if (candidate && candidate == ender_candidate_) ender_ = candidate;
    if (candidate != ender_candidate_ && ender_ != candidate) ender_.reset();
    ender_candidate_ = candidate;
  }
  if (cycle_.Reportable()) {
    Assemble();
    ++epochs_;
    reported_time_ = cycle_.time;
    if (on_epoch_) on_epoch_(fix_);
  }
  cycle_ = Cycle{};
}

namespace {

// What the cycle's sentences say of the fix's validity.
template <typename Cycle>
Validity ValidityOf(const Cycle& c) {
  Validity validity;
  if (c.gga && c.gga->quality) SayQuality(*c.gga->quality, validity);
  if (c.rmc) SayStatus(c.rmc->status, c.rmc->mode, validity);
  if (c.gll) SayStatus(c.gll->status, c.gll->mode, validity);
  if (c.gns) {
    bool any = false;
    for (const char mode : c.gns->modes) {
      if (mode == 0) break;
      any = true;
      if (mode != 'N') SayMode(mode, validity);
    }
    if (any && !validity.fix) validity.no_fix = true;
  }
  return validity;
}

// The position of the first sentence that has one, the most complete first.
template <typename Cycle>
std::optional<std::pair<double, double>> PositionOf(const Cycle& c) {
  if (HasPosition(c.gga)) return std::pair(*c.gga->latitude, *c.gga->longitude);
  if (HasPosition(c.gns)) return std::pair(*c.gns->latitude, *c.gns->longitude);
  if (HasPosition(c.rmc)) return std::pair(*c.rmc->latitude, *c.rmc->longitude);
  if (HasPosition(c.gll)) return std::pair(*c.gll->latitude, *c.gll->longitude);
  return std::nullopt;
}

template <typename Cycle>
int GsaModeOf(const Cycle& c) {
  int gsa_mode = 0;
  for (size_t i = 0; i < c.gsa_count; ++i)
    gsa_mode = std::max(gsa_mode, c.gsas[i].gsa.fix_type.value_or(0));
  return gsa_mode;
}

// Speed, course and magnetic variation, only with a fix.
template <typename Cycle>
void SetMotion(const Cycle& c, bool has_fix, Fix& fix) {
  fix.speed.reset();
  fix.course.reset();
  fix.magnetic_variation.reset();
  if (!has_fix) return;
  if (c.rmc && c.rmc->speed_knots)
    fix.speed = *c.rmc->speed_knots * kMetresPerSecondPerKnot;
  else if (c.vtg && c.vtg->speed_knots)
    fix.speed = *c.vtg->speed_knots * kMetresPerSecondPerKnot;
  else if (c.vtg && c.vtg->speed_kmh)
    fix.speed = *c.vtg->speed_kmh / 3.6;
  fix.course = c.rmc && c.rmc->course ? c.rmc->course : c.vtg ? c.vtg->course : std::nullopt;
  if (c.rmc) fix.magnetic_variation = c.rmc->magnetic_variation;
}

// The climb since the last fix's altitude and time, when they are close enough in time.
void SetClimb(const std::optional<std::pair<double, UtcTime>>& previous, Fix& fix) {
  fix.climb.reset();
  if (!fix.altitude_msl || !previous || !fix.time) return;
  const int64_t interval = fix.time->microseconds - previous->second.microseconds;
  if (interval > 0 && interval <= kLongestClimbInterval) {
    fix.climb = (*fix.altitude_msl - previous->first) * kMicrosecondsPerSecond /
                static_cast<double>(interval);
  }
}

// Dilutions and the satellites used: the GSAs' when they name any, else GGA's or GNS's count.
template <typename Cycle>
void SetSatellitesUsed(const Cycle& c, Fix& fix) {
  fix.hdop = c.gga ? c.gga->hdop : c.gns ? c.gns->hdop : std::nullopt;
  fix.vdop.reset();
  fix.pdop.reset();
  fix.used.clear();
  for (size_t i = 0; i < c.gsa_count; ++i) {
    const auto& [talker, gsa] = c.gsas[i];
    if (gsa.hdop) fix.hdop = gsa.hdop;
    if (gsa.vdop) fix.vdop = gsa.vdop;
    if (gsa.pdop) fix.pdop = gsa.pdop;
    const auto system = SystemOfSentence(talker, gsa.system_id);
    for (size_t p = 0; p < gsa.prn_count; ++p) {
      SatelliteId& id = fix.used.emplace_back();
      // (Found in place, as the sky's are; one not found, or listed already, is taken back.)
      if (!FindSatellite(system, gsa.prns[p], id) ||
          std::find(fix.used.begin(), fix.used.end() - 1, id) != fix.used.end() - 1) {
        fix.used.pop_back();
      }
    }
  }
  if (c.gsa_count > 0 && !fix.used.empty()) {
    fix.satellites_used = static_cast<int>(fix.used.size());
  } else {
    fix.satellites_used = c.gga && c.gga->satellites ? c.gga->satellites
                          : c.gns                    ? c.gns->satellites
                                                     : std::nullopt;
  }
}

}  // namespace

void EpochBuilder::Assemble() {
  const Cycle& c = cycle_;
  Fix& fix = fix_;
  if (c.rmc && c.rmc->date) date_ = c.rmc->date;
  if (c.zda && c.zda->date) date_ = c.zda->date;
  // The last fix's altitude and time, for the climb.
  std::optional<std::pair<double, UtcTime>> previous;
  if (fix.HasFix() && fix.altitude_msl && fix.time) previous = {*fix.altitude_msl, *fix.time};

  fix.time = c.time;
  fix.date = c.time ? date_ : std::nullopt;
  fix.received = c.arrived;

  const Validity validity = ValidityOf(c);
  const auto position = PositionOf(c);
  const bool has_fix = validity.fix && !validity.no_fix && position;
  const int gsa_mode = GsaModeOf(c);

  fix.latitude = has_fix ? std::optional(position->first) : std::nullopt;
  fix.longitude = has_fix ? std::optional(position->second) : std::nullopt;
  fix.status =
      has_fix || validity.status == FixStatus::kSimulated ? validity.status : FixStatus::kUnknown;
  const auto altitude = c.gga && c.gga->altitude ? c.gga->altitude
                        : c.gns                  ? c.gns->altitude
                                                 : std::nullopt;
  const auto separation = c.gga && c.gga->geoid_separation ? c.gga->geoid_separation
                          : c.gns                          ? c.gns->geoid_separation
                                                           : std::nullopt;
  if (!has_fix) {
    fix.mode = validity.no_fix || position || gsa_mode == 1 ? FixMode::kNoFix : FixMode::kUnknown;
  } else {
    // A receiver that reports an altitude with its fix has a third dimension, whatever a GSA
    // (often one cycle behind, or describing one constellation only) says.
    fix.mode = altitude || gsa_mode == 3 ? FixMode::k3D : FixMode::k2D;
  }
  const bool three_d = fix.mode == FixMode::k3D;
  fix.altitude_msl = three_d ? altitude : std::nullopt;
  fix.geoid_separation = has_fix ? separation : std::nullopt;
  fix.altitude_hae =
      fix.altitude_msl && separation ? std::optional(*altitude + *separation) : std::nullopt;

  SetMotion(c, has_fix, fix);
  SetClimb(previous, fix);
  SetSatellitesUsed(c, fix);
  AssembleSky();

  fix.latitude_error = c.gst ? c.gst->latitude_sigma : std::nullopt;
  fix.longitude_error = c.gst ? c.gst->longitude_sigma : std::nullopt;
  fix.altitude_error = c.gst ? c.gst->altitude_sigma : std::nullopt;
}

void EpochBuilder::AssembleSky() {
  Fix& fix = fix_;
  fix.in_view.clear();
  std::erase_if(sky_, [this](const SkyGroup& group) {
    return group.committed_at + kSkyGroupLifetime < epochs_ + 1 && group.building.empty();
  });
  SatelliteFilter listed;
  for (const SkyGroup& group : sky_) {
    if (group.committed_at + kSkyGroupLifetime < epochs_ + 1) continue;
    for (const SatelliteInView& satellite : group.complete) {
      // A satellite heard on several signals is listed once, with a signal when one has it.
      auto same = fix.in_view.end();
      if (listed.MayHold(satellite.id)) {
        same = std::find_if(fix.in_view.begin(), fix.in_view.end(),
                            [&](const SatelliteInView& seen) { return seen.id == satellite.id; });
      }
      if (same == fix.in_view.end()) {
        fix.in_view.push_back(satellite);
        listed.Add(satellite.id);
      } else if (!same->snr && satellite.snr) {
        same->snr = satellite.snr;
      }
    }
  }
  for (SatelliteInView& satellite : fix.in_view) {
    satellite.used = std::find(fix.used.begin(), fix.used.end(), satellite.id) != fix.used.end();
  }
}

}  // namespace quorvane
