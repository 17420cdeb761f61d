#include "nmea/nmea_decoder.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "base/text_rules.hpp"
#include "geo/great_circle.hpp"
#include "nmea/gga_coordinates.hpp"

namespace quorvane {

// The fields each decoder reads, by their place in the sentence (the tag is field 0).
namespace gga {
enum Field : size_t {
  kTime = 1,
  kLatitude = 2,
  kNorthSouth = 3,
  kLongitude = 4,
  kEastWest = 5,
  kQuality = 6,
  kSatellites = 7,
  kAltitude = 9,
  kAltitudeUnit = 10,
};
}  // namespace gga
namespace rmc {
enum Field : size_t { kSpeedKnots = 7, kDate = 9 };
}  // namespace rmc
namespace gsa {
enum Field : size_t { kHdop = 16, kVdop = 17, kSystemId = 18 };
}  // namespace gsa
namespace gsv {
enum Field : size_t { kElevation = 5, kAzimuth = 6, kSnr = 7 };
}  // namespace gsv

struct NmeaDecoder::Phrase {
  std::string_view formatter;  // the sentence type after the talker: "GGA"
  SentenceType type;
  // A sentence with fewer fields leaves the record as it is: the decoder would skip every step.
  size_t fewest_fields;
  FixChanges (NmeaDecoder::*decode)(const SentenceFields&, std::string_view);
};

namespace {

constexpr int kMinutesPerDay = 24 * 60;

bool CopyField(const SentenceFields& fields, size_t index, std::string& member) {
  if (!fields.Has(index)) return false;
  member.assign(fields[index]);
  return true;
}

// The text of `field` before its first "*", or nullopt when it has none.
std::optional<std::string_view> BeforeAsterisk(std::string_view field) {
  const size_t asterisk = field.find('*');
  if (asterisk == std::string_view::npos) return std::nullopt;
  return field.substr(0, asterisk);
}

// Every byte of `text` XORed together, eight at a time: the bytes of the words' XOR, folded
// into one, are the same XOR.
unsigned XorOfBytes(std::string_view text) {
  uint64_t words = 0;
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + at, sizeof word);
    words ^= word;
  }
  if (at < text.size() && text.size() >= 8 && std::endian::native == std::endian::little) {
    // The last characters are the top of the word that ends the text.
    uint64_t word;
    std::memcpy(&word, text.data() + text.size() - 8, sizeof word);
    words ^= word >> (8 - (text.size() - at)) * 8;
    at = text.size();
  }
  words ^= words >> 32;
  words ^= words >> 16;
  words ^= words >> 8;
  auto sum = static_cast<unsigned>(words & 0xff);
  for (; at < text.size(); ++at) sum ^= static_cast<unsigned char>(text[at]);
  return sum;
}

// Both hemisphere fields present and non-empty: the receiver reported a position.
bool ReportsPosition(const SentenceFields& fields) {
  return fields.Has(gga::kEastWest) && !fields[gga::kNorthSouth].empty() &&
         !fields[gga::kEastWest].empty();
}

}  // namespace

const NmeaDecoder::Phrase* NmeaDecoder::PhraseOf(std::string_view sentence, bool all_talkers) {
  static constexpr std::array<Phrase, 4> kPhrases{{
      {"GGA", SentenceType::kGga, 1, &NmeaDecoder::DecodeGga},
      {"GSV", SentenceType::kGsv, gsv::kElevation + 1, &NmeaDecoder::DecodeGsv},
      {"GSA", SentenceType::kGsa, gsa::kHdop + 1, &NmeaDecoder::DecodeGsa},
      {"RMC", SentenceType::kRmc, rmc::kSpeedKnots + 1, &NmeaDecoder::DecodeRmc},
  }};
  if (sentence.size() < 6 || sentence[0] != '$') return nullptr;
  const bool gps = sentence[1] == 'G' && sentence[2] == 'P';
  if (!gps && !(all_talkers && IsTalker(sentence[1], sentence[2]))) return nullptr;
  const std::string_view formatter = sentence.substr(3, 3);
  for (const auto& phrase : kPhrases) {
    if (formatter == phrase.formatter) return &phrase;
  }
  return nullptr;
}

std::optional<SentenceType> SentenceTypeOf(std::string_view sentence, bool all_talkers) {
  const auto* phrase = NmeaDecoder::PhraseOf(sentence, all_talkers);
  return phrase ? std::optional(phrase->type) : std::nullopt;
}

bool IsTalker(char first, char second) {
  // Talkers are two capital letters; "$P" begins a maker's own (proprietary) sentence.
  const auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
  return capital(first) && capital(second) && first != 'P';
}

ChecksumCheck CheckChecksum(std::string_view sentence) {
  const size_t asterisk = sentence.find('*');
  if (asterisk == std::string_view::npos) return ChecksumCheck::kNone;
  std::string_view written = sentence.substr(asterisk + 1);
  // CR LF, LF and CR CR LF all end a line: the checksum is what stands before them.
  while (written.ends_with('\r') || written.ends_with('\n')) written.remove_suffix(1);
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (written.size() != 2 || digit(written[0]) < 0 || digit(written[1]) < 0) {
    return ChecksumCheck::kWrong;
  }
  const unsigned sum = XorOfBytes(sentence.substr(1, asterisk - 1));
  const unsigned expected = static_cast<unsigned>(digit(written[0]) * 16 + digit(written[1]));
  return sum == expected ? ChecksumCheck::kRight : ChecksumCheck::kWrong;
}

Decoded NmeaDecoder::ParseNMEA(std::string_view sentence) {
  return ParseNMEA(sentence, SentenceFields(sentence));
}

Decoded NmeaDecoder::ParseNMEA(std::string_view sentence, const SentenceFields& fields) {
  if (verify_checksum_ && CheckChecksum(sentence) == ChecksumCheck::kWrong) {
    ++checksum_errors_;
    return {.type = std::nullopt, .changes = 0, .refused = true};
  }
  const auto* phrase = PhraseOf(sentence, all_talkers_);
  if (!phrase) return {};
  if (fields.size() < phrase->fewest_fields) return {phrase->type, 0};
  return {phrase->type, (this->*phrase->decode)(fields, sentence)};
}

FixChanges NmeaDecoder::DecodeGga(const SentenceFields& fields, std::string_view sentence) {
  FixChanges changes = kPositionChanged;
  fix_.latitude = CoordinateDegrees(fields, gga::kLatitude, 2, "N");
  fix_.longitude = CoordinateDegrees(fields, gga::kLongitude, 3, "E");
  fix_.position_reported = ReportsPosition(fields);
  AdvanceOdometer();
  if (CopyField(fields, gga::kAltitude, fix_.AltitudeText)) {
    fix_.altitude = ReadStrict(fix_.AltitudeText);
    changes |= kAltitudeChanged;
  }
  CopyField(fields, gga::kAltitudeUnit, fix_.AltitudeUnitText);
  if (CopyField(fields, gga::kSatellites, fix_.SatellitesText)) changes |= kSatellitesChanged;
  if (fields.Has(gga::kTime)) fix_.utc_time_field.emplace(fields[gga::kTime]);
  UpdateLocalTime(TimeOfDayOf(fields.Has(gga::kTime) ? fields[gga::kTime] : ""));
  changes |= kTimeChanged;

  // A hemisphere field that is there but empty means no position; a missing one does not.
  const bool no_position = (fields.Has(gga::kNorthSouth) && fields[gga::kNorthSouth].empty()) ||
                           (fields.Has(gga::kEastWest) && fields[gga::kEastWest].empty());
  if (no_position) {
    fix_.LastGgaText.clear();
    fix_.QualityText.assign(1, '0');  // (not = "0": GCC 12 warns falsely on that)
  } else {
    fix_.LastGgaText.assign(sentence);
    CopyField(fields, gga::kQuality, fix_.QualityText);
  }
  return changes;
}

void NmeaDecoder::AdvanceOdometer() {
  if (!fix_.position_reported) return;
  const GlobePoint here = PointOnGlobe(*fix_.latitude, *fix_.longitude);
  if (odometer_last_) {
    const double leg = MetresBetween(here, *odometer_last_);
    fix_.OdometerTotal = RoundHalfEven2(leg + fix_.OdometerTotal);
  }
  odometer_last_ = here;
}

void NmeaDecoder::UpdateLocalTime(const TimeOfDay& utc) {
  // From every GGA's own time, so that it keeps up with receivers at 5 or 10 Hz and with a fast
  // replay. The offset in force now, daylight saving included; a carry of the minutes moves the
  // hour.
  const int offset_minutes = clock_().utc_offset_minutes;
  int local_minutes = (utc.hour * 60 + utc.minute + offset_minutes) % kMinutesPerDay;
  if (local_minutes < 0) local_minutes += kMinutesPerDay;
  fix_.local_time =
      TimeOfDay{static_cast<int16_t>(local_minutes / 60), static_cast<int16_t>(local_minutes % 60),
                utc.second, local_minutes * 60.0 + utc.second};
}

FixChanges NmeaDecoder::DecodeRmc(const SentenceFields& fields, std::string_view) {
  // Knots to km/h: a knot is exactly 1.852 km/h.
  fix_.speed_kmh = ReadLeadingNumber(fields[rmc::kSpeedKnots]) * 1852 / 1000;
  if (!fields.Has(rmc::kDate)) return kSpeedChanged;
  // The date itself is the epochs' (no property shows it); the RMC still says it carried one.
  return kSpeedChanged | kTimeChanged;
}

FixChanges NmeaDecoder::DecodeGsa(const SentenceFields& fields, std::string_view) {
  fix_.HdopText.assign(fields[gsa::kHdop]);
  // Only a VDOP followed directly by the checksum is taken; with every talker, one followed by
  // NMEA 4.10's system id too.
  if (fields.Has(gsa::kVdop)) {
    if (const auto vdop = BeforeAsterisk(fields[gsa::kVdop])) {
      fix_.VdopText = *vdop;
    } else if (all_talkers_ && fields.Has(gsa::kSystemId)) {
      fix_.VdopText = fields[gsa::kVdop];
    }
  }
  return kDopChanged;
}

FixChanges NmeaDecoder::DecodeGsv(const SentenceFields& fields, std::string_view) {
  fix_.ElevationText.assign(fields[gsv::kElevation]);
  CopyField(fields, gsv::kAzimuth, fix_.AzimuthText);
  // With a single satellite the SNR is the last field and carries the checksum.
  if (fields.Has(gsv::kSnr)) {
    fix_.SnrText = BeforeAsterisk(fields[gsv::kSnr]).value_or(fields[gsv::kSnr]);
  }
  return kSignalChanged;
}

}  // namespace quorvane
