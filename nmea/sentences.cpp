#include "nmea/sentences.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/text_rules.hpp"
#include "nmea/nmea_decoder.hpp"
#include "nmea/sentence_fields.hpp"
#include "nmea/split_decoding.hpp"

namespace quorvane {
namespace {

constexpr int64_t kMicrosecondsPerSecond = 1'000'000;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads the fields of one sentence strictly. An empty field is absent; a field that holds
// anything but what it should is absent too, and counted.
class FieldReader {
 public:
  explicit FieldReader(const SentenceFields& fields) : fields_(fields) {}

  int Malformed() const { return malformed_; }
  bool TimeRefused() const { return time_refused_; }
  bool Has(size_t index) const { return fields_.Filled(index); }

  enum class Sign { kNever, kAllowed };

  std::optional<double> Number(size_t index, Sign sign = Sign::kNever) {
    // Most fields of a sky are a few whole digits (elevation, azimuth, SNR): read at once.
    const int whole = fields_.SmallWhole(index);
    if (whole >= 0) return whole;
    if (whole == SentenceFields::kEmptyField) return std::nullopt;
    const auto value = StrictNumber(fields_[index], sign);
    if (!value) ++malformed_;
    return value;
  }

  std::optional<int> Integer(size_t index, int lowest, int highest) {
    int value = fields_.SmallWhole(index);
    if (value == SentenceFields::kEmptyField) return std::nullopt;
    if (value == SentenceFields::kOtherField) value = LongerWhole(fields_[index]);
    if (value < lowest || value > highest) {
      ++malformed_;
      return std::nullopt;
    }
    return value;
  }

  // One letter of `allowed`.
  std::optional<char> Letter(size_t index, std::string_view allowed) {
    if (!Has(index)) return std::nullopt;
    const std::string_view field = fields_[index];
    // (A loop over the few letters: find would call memchr, which costs more for so few.)
    if (field.size() != 1 || std::none_of(allowed.begin(), allowed.end(),
                                          [letter = field[0]](char a) { return a == letter; })) {
      ++malformed_;
      return std::nullopt;
    }
    return field[0];
  }

  // hhmmss with an optional fraction: hours to 23, minutes and seconds to 59.
  std::optional<UtcTime> Time(size_t index) {
    if (!Has(index)) return std::nullopt;
    const std::string_view field = fields_[index];
    const auto time = StrictTime(field);
    if (!time) {
      ++malformed_;
      time_refused_ = true;
    }
    return time;
  }

  // ddmmyy; a two-digit year from 80 is of the 1900s, below it of the 2000s.
  std::optional<CalendarDate> ShortDate(size_t index) {
    if (!Has(index)) return std::nullopt;
    const std::string_view field = fields_[index];
    const auto pair = [field](size_t at) { return (field[at] - '0') * 10 + (field[at + 1] - '0'); };
    if (field.size() != 6 || !AllDigits(field)) return Refused<CalendarDate>();
    const int year = pair(4) < 80 ? 2000 + pair(4) : 1900 + pair(4);
    return CheckedDate({year, pair(2), pair(0)});
  }

  // ZDA's day, month and four-digit year fields.
  std::optional<CalendarDate> LongDate(size_t day, size_t month, size_t year) {
    if (!Has(day) && !Has(month) && !Has(year)) return std::nullopt;
    const auto d = Integer(day, 1, 31);
    const auto m = Integer(month, 1, 12);
    const auto y = Integer(year, 1980, 9999);
    if (!d || !m || !y) return std::nullopt;
    return CheckedDate({*y, *m, *d});
  }

  // ddmm.mmmm (latitude) or dddmm.mmmm (longitude) with its hemisphere field after it. Both
  // must be right, or there is no coordinate.
  enum class Axis { kLatitude, kLongitude };
  std::optional<double> Coordinate(size_t index, Axis axis) {
    if (!Has(index) && !Has(index + 1)) return std::nullopt;
    const bool latitude = axis == Axis::kLatitude;
    const auto hemisphere = Letter(index + 1, latitude ? "NS" : "EW");
    if (!Has(index)) {
      ++malformed_;
      return std::nullopt;
    }
    const auto value = StrictNumber(fields_[index], Sign::kNever);
    if (!value || !hemisphere) {
      if (hemisphere || !Has(index + 1)) ++malformed_;  // a wrong letter is counted already
      return std::nullopt;
    }
    const double degrees = std::floor(*value / 100);
    const double minutes = *value - degrees * 100;
    const double limit = latitude ? 90 : 180;
    if (minutes >= 60 || degrees + minutes / 60 > limit) {
      ++malformed_;
      return std::nullopt;
    }
    const double magnitude = degrees + minutes / 60;
    return *hemisphere == 'S' || *hemisphere == 'W' ? -magnitude : magnitude;
  }

  // A number with its E or W field after it: west is negative.
  std::optional<double> EastWest(size_t index) {
    const auto value = Number(index);
    const auto side = Letter(index + 1, "EW");
    if (!value || !side) return std::nullopt;
    return *side == 'W' ? -*value : *value;
  }

 private:
  // Up to nine digits (no int overflows) as a whole number; -1 for anything else.
  static int LongerWhole(std::string_view field) {
    if (field.size() > 9 || !AllDigits(field)) return -1;
    int value = 0;
    for (const char c : field) value = value * 10 + (c - '0');
    return value;
  }

  static bool AllDigits(std::string_view text) {
    for (const char c : text) {
      if (!IsDigit(c)) return false;
    }
    return true;
  }

  template <typename T>
  std::optional<T> Refused() {
    ++malformed_;
    return std::nullopt;
  }

  std::optional<CalendarDate> CheckedDate(CalendarDate date) {
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > kDays[date.month - 1]) {
      return Refused<CalendarDate>();
    }
    const bool leap = (date.year % 4 == 0 && date.year % 100 != 0) || date.year % 400 == 0;
    if (date.month == 2 && date.day == 29 && !leap) return Refused<CalendarDate>();
    return date;
  }

  static std::optional<double> StrictNumber(std::string_view field, Sign sign) {
    const bool negative = field[0] == '-';
    if (sign == Sign::kAllowed && (negative || field[0] == '+')) field.remove_prefix(1);
    // Digits with at most one point, nothing else. Up to 15 digits, the number is their whole
    // number divided by a power of ten, both exact in a double: the one rounding of the division
    // gives the nearest double, as from_chars would, at a fraction of its cost.
    const DecimalRun run = ScanDecimalRun(field);
    if (run.length == 0 || run.length != field.size()) return std::nullopt;
    double value = 0;
    if (const auto quick = run.Short()) {
      value = *quick;
    } else {
      const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
      if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
    }
    return negative && sign == Sign::kAllowed ? -value : value;
  }

  static std::optional<UtcTime> StrictTime(std::string_view field) {
    if (field.size() < 6 || !AllDigits(field.substr(0, 6))) return std::nullopt;
    const auto pair = [field](size_t at) { return (field[at] - '0') * 10 + (field[at + 1] - '0'); };
    const int hour = pair(0);
    const int minute = pair(2);
    const int second = pair(4);
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    int64_t fraction = 0;
    if (field.size() > 6) {
      const std::string_view digits = field.substr(7);
      if (field[6] != '.' || !AllDigits(digits)) return std::nullopt;
      int64_t scale = kMicrosecondsPerSecond;
      for (const char c : digits) {
        scale /= 10;
        fraction += (c - '0') * scale;
      }
    }
    return UtcTime{((hour * 60 + minute) * 60 + second) * kMicrosecondsPerSecond + fraction};
  }

  const SentenceFields& fields_;
  int malformed_ = 0;
  bool time_refused_ = false;
};

using Sign = FieldReader::Sign;
constexpr auto kLatitude = FieldReader::Axis::kLatitude;
constexpr auto kLongitude = FieldReader::Axis::kLongitude;

// Each reader fills its sentence's value where it lives: a value is a few hundred bytes, and
// every sentence makes one.
void ReadGga(FieldReader& f, const SentenceFields&, GgaSentence& gga) {
  gga.time = f.Time(1);
  gga.latitude = f.Coordinate(2, kLatitude);
  gga.longitude = f.Coordinate(4, kLongitude);
  gga.quality = f.Integer(6, 0, 8);
  gga.satellites = f.Integer(7, 0, 99);
  gga.hdop = f.Number(8);
  gga.altitude = f.Number(9, Sign::kAllowed);
  gga.geoid_separation = f.Number(11, Sign::kAllowed);
}

void ReadRmc(FieldReader& f, const SentenceFields&, RmcSentence& rmc) {
  rmc.time = f.Time(1);
  rmc.status = f.Letter(2, "AV");
  rmc.latitude = f.Coordinate(3, kLatitude);
  rmc.longitude = f.Coordinate(5, kLongitude);
  rmc.speed_knots = f.Number(7);
  rmc.course = f.Number(8);
  rmc.date = f.ShortDate(9);
  rmc.magnetic_variation = f.EastWest(10);
  rmc.mode = f.Letter(12, "ADEFMNPRS");
}

void ReadGll(FieldReader& f, const SentenceFields&, GllSentence& gll) {
  gll.latitude = f.Coordinate(1, kLatitude);
  gll.longitude = f.Coordinate(3, kLongitude);
  gll.time = f.Time(5);
  gll.status = f.Letter(6, "AV");
  gll.mode = f.Letter(7, "ADEFMNPRS");
}

void ReadGns(FieldReader& f, const SentenceFields& fields, GnsSentence& gns) {
  gns.time = f.Time(1);
  gns.latitude = f.Coordinate(2, kLatitude);
  gns.longitude = f.Coordinate(4, kLongitude);
  gns.satellites = f.Integer(7, 0, 99);
  gns.hdop = f.Number(8);
  gns.altitude = f.Number(9, Sign::kAllowed);
  gns.geoid_separation = f.Number(10, Sign::kAllowed);
  if (!f.Has(6)) return;
  const std::string_view modes = fields[6];
  bool letters = modes.size() <= gns.modes.size();
  for (const char c : modes) {
    letters = letters && std::string_view("ADEFMNPRS").find(c) != std::string_view::npos;
  }
  if (letters) {
    modes.copy(gns.modes.data(), modes.size());
  } else {
    f.Letter(6, "");  // counted as malformed
  }
}

void ReadVtg(FieldReader& f, const SentenceFields& fields, VtgSentence& vtg) {
  // NMEA 2.3 marks each value with a letter (T, M, N, K); older receivers send the values alone.
  const bool marked = !(fields.Has(2) && fields[2] != "T" && !fields[2].empty());
  vtg.course = f.Number(1);
  vtg.magnetic_course = f.Number(marked ? 3 : 2);
  vtg.speed_knots = f.Number(marked ? 5 : 3);
  vtg.speed_kmh = f.Number(marked ? 7 : 4);
  if (marked) vtg.mode = f.Letter(9, "ADEFMNPRS");
}

void ReadGsa(FieldReader& f, const SentenceFields& fields, GsaSentence& gsa) {
  gsa.selection = f.Letter(1, "MA");
  gsa.fix_type = f.Integer(2, 1, 3);
  for (size_t index = 3; index < 15; ++index) {
    // Most are empty or a few digits, read at once; anything else is read and counted.
    const int small = fields.SmallWhole(index);
    if (small == SentenceFields::kEmptyField) continue;
    const auto prn = small >= 1 ? std::optional(small) : f.Integer(index, 1, 999);
    if (prn) gsa.prns[gsa.prn_count++] = static_cast<int16_t>(*prn);
  }
  gsa.pdop = f.Number(15);
  gsa.hdop = f.Number(16);
  gsa.vdop = f.Number(17);
  gsa.system_id = f.Integer(18, 0, 15);
}

// A satellite's four fields when each is empty or a few plain digits, as nearly every receiver
// sends them, read at once into the sentence's next place; false for anything else.
bool PlainSatellite(const SentenceFields& fields, size_t index, GsvSentence& gsv) {
  constexpr int kEmpty = SentenceFields::kEmptyField;
  const int prn = fields.SmallWhole(index);
  const int elevation = fields.SmallWhole(index + 1);
  const int azimuth = fields.SmallWhole(index + 2);
  const int snr = fields.SmallWhole(index + 3);
  constexpr int kOther = SentenceFields::kOtherField;
  if (prn == kOther || prn == 0 || elevation == kOther || azimuth == kOther || snr == kOther) {
    return false;
  }
  const auto number = [](int value, int highest) {
    return value == kEmpty || value > highest ? std::nullopt : std::optional<double>(value);
  };
  gsv.satellites[gsv.satellite_count] = {prn == kEmpty ? 0 : prn, number(elevation, 90),
                                         number(azimuth, 359), number(snr, 999)};
  if (prn != kEmpty) ++gsv.satellite_count;
  return true;
}

void ReadGsv(FieldReader& f, const SentenceFields& fields, GsvSentence& gsv) {
  gsv.total = f.Integer(1, 1, 9);
  gsv.number = f.Integer(2, 1, 9);
  gsv.in_view = f.Integer(3, 0, 99);
  size_t index = 4;
  for (; index + 3 < fields.size() && gsv.satellite_count < gsv.satellites.size(); index += 4) {
    if (PlainSatellite(fields, index, gsv)) continue;
    const auto prn = f.Integer(index, 1, 999);
    auto elevation = f.Number(index + 1, Sign::kAllowed);
    auto azimuth = f.Number(index + 2);
    const auto snr = f.Number(index + 3);
    if (elevation && (*elevation < -90 || *elevation > 90)) elevation.reset();
    if (azimuth && *azimuth >= 360) azimuth.reset();
    gsv.satellites[gsv.satellite_count] = {prn.value_or(0), elevation, azimuth, snr};
    if (prn) ++gsv.satellite_count;
  }
  // NMEA 4.10 ends the sentence with the signal's id.
  if (index + 1 == fields.size()) gsv.signal_id = f.Integer(index, 0, 15);
}

void ReadZda(FieldReader& f, const SentenceFields&, ZdaSentence& zda) {
  zda.time = f.Time(1);
  zda.date = f.LongDate(2, 3, 4);
}

void ReadGst(FieldReader& f, const SentenceFields&, GstSentence& gst) {
  gst.time = f.Time(1);
  gst.rms = f.Number(2);
  gst.latitude_sigma = f.Number(6);
  gst.longitude_sigma = f.Number(7);
  gst.altitude_sigma = f.Number(8);
}

// A reader's value, made in the variant and filled there.
template <typename Value>
using ReaderOf = void (*)(FieldReader&, const SentenceFields&, Value&);

template <typename Value, ReaderOf<Value> Read>
void Into(FieldReader& f, const SentenceFields& fields, SentenceValue& value) {
  Read(f, fields, value.emplace<Value>());
}

}  // namespace

bool DecodeTypedSentence(std::string_view sentence, const SentenceFields& split,
                         TypedSentence& typed) {
  if (sentence.size() < 6 || sentence[0] != '$' || !IsTalker(sentence[1], sentence[2])) {
    return false;
  }
  using Reader = void (*)(FieldReader&, const SentenceFields&, SentenceValue&);
  static constexpr std::pair<std::string_view, Reader> kReaders[] = {
      {"GGA", Into<GgaSentence, ReadGga>}, {"RMC", Into<RmcSentence, ReadRmc>},
      {"GLL", Into<GllSentence, ReadGll>}, {"GNS", Into<GnsSentence, ReadGns>},
      {"VTG", Into<VtgSentence, ReadVtg>}, {"GSA", Into<GsaSentence, ReadGsa>},
      {"GSV", Into<GsvSentence, ReadGsv>}, {"ZDA", Into<ZdaSentence, ReadZda>},
      {"GST", Into<GstSentence, ReadGst>},
  };
  const std::string_view type = sentence.substr(3, 3);
  // Three letters compared one by one: a call to compare them costs more than the work.
  const auto* reader =
      std::find_if(std::begin(kReaders), std::end(kReaders), [type](const auto& row) {
        return row.first[0] == type[0] && row.first[1] == type[1] && row.first[2] == type[2];
      });
  if (reader == std::end(kReaders)) return false;
  const SentenceFields fields = split.Body(sentence);
  // The tag is the talker and the type, nothing more.
  if (fields[0].size() != 5) return false;
  FieldReader f(fields);
  typed.talker = {sentence[1], sentence[2]};
  reader->second(f, fields, typed.value);
  typed.malformed_fields = f.Malformed();
  typed.time_refused = f.TimeRefused();
  return true;
}

bool DecodeTypedSentence(std::string_view sentence, TypedSentence& typed) {
  return DecodeTypedSentence(sentence, SentenceFields(sentence), typed);
}

std::optional<TypedSentence> DecodeTypedSentence(std::string_view sentence) {
  std::optional<TypedSentence> typed(std::in_place);
  if (!DecodeTypedSentence(sentence, *typed)) typed.reset();
  return typed;
}

std::optional<UtcTime> TimeOf(const SentenceValue& value) {
  return std::visit(
      [](const auto& sentence) -> std::optional<UtcTime> {
        if constexpr (requires { sentence.time; }) {
          return sentence.time;
        } else {
          return std::nullopt;
        }
      },
      value);
}

}  // namespace quorvane
