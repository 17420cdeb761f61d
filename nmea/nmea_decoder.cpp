#include "nmea/nmea_decoder.hpp"

#include <array>

#include "geo/great_circle.hpp"
#include "nmea/gga_coordinates.hpp"
#include "nmea/parse_nmea.hpp"
#include "nmea/text_rules.hpp"

namespace quorvane {
namespace {

constexpr int kMinutesPerDay = 24 * 60;

void CopyField(const SentenceFields& fields, size_t index, std::string& member) {
  if (fields.Has(index)) member.assign(fields[index]);
}

// The text of `field` before its first "*", or nullopt when it has none.
std::optional<std::string_view> BeforeAsterisk(std::string_view field) {
  const size_t asterisk = field.find('*');
  if (asterisk == std::string_view::npos) return std::nullopt;
  return field.substr(0, asterisk);
}

int WholeNumber(std::string_view text) {
  return ReadLeadingInt16(text).value_or(0);
}

// hh:mm:ss from an NMEA time field hhmmss[.ss]; the fraction of a second is dropped.
void WriteUtcTimeText(std::string_view field, std::string& text) {
  text.assign(Mid(field, 0, 2));
  text += ':';
  text += Mid(field, 2, 2);
  text += ':';
  text += Mid(field, 4, 2);
}

// At least two digits: 9 is "09", -5 is "-05".
void AppendTwoDigits(int value, std::string& text) {
  std::array<char, 16> digits{};
  const int length =
      std::snprintf(digits.data(), digits.size(), "%02d", value < 0 ? -value : value);
  if (value < 0) text += '-';
  text.append(digits.data(), static_cast<size_t>(length));
}

// Both hemisphere fields present and non-empty: the receiver reported a position.
bool ReportsPosition(const SentenceFields& fields) {
  return fields.Has(5) && !fields[3].empty() && !fields[5].empty();
}

}  // namespace

void NmeaDecoder::ParseNMEA(std::string_view sentence) {
  const auto type = SentenceTypeOf(sentence);
  if (!type) return;
  const SentenceFields fields(sentence);
  switch (*type) {
    case SentenceType::kGga:
      DecodeGga(fields, sentence);
      break;
    case SentenceType::kGsv:
      DecodeGsv(fields);
      break;
    case SentenceType::kGsa:
      DecodeGsa(fields);
      break;
    case SentenceType::kRmc:
      DecodeRmc(fields);
      break;
  }
}

void NmeaDecoder::DecodeGga(const SentenceFields& fields, std::string_view sentence) {
  fix_.LatitudeText = NumberToText(CoordinateDegrees(fields, 2, 2, "N"));
  fix_.LongitudeText = NumberToText(CoordinateDegrees(fields, 4, 3, "E"));
  const GgaPoint point{ReadStrict(fix_.LatitudeText).value_or(0),
                       ReadStrict(fix_.LongitudeText).value_or(0), ReportsPosition(fields)};
  AdvanceOdometer(point);
  fix_.PrevLatitudeText = fix_.LatitudeText;
  fix_.PrevLongitudeText = fix_.LongitudeText;
  CopyField(fields, 9, fix_.AltitudeText);
  CopyField(fields, 10, fix_.AltitudeUnitText);
  CopyField(fields, 7, fix_.SatellitesText);
  if (fields.Has(1)) WriteUtcTimeText(fields[1], fix_.UtcTimeText);
  UpdateLocalTime(fields);

  // A hemisphere field that is there but empty means no position; a missing one does not.
  const bool no_position =
      (fields.Has(3) && fields[3].empty()) || (fields.Has(5) && fields[5].empty());
  if (no_position) {
    fix_.LastGgaText.clear();
    fix_.QualityText.assign(1, '0');  // (not = "0": GCC 12 warns falsely on that)
  } else {
    fix_.LastGgaText.assign(sentence);
    CopyField(fields, 6, fix_.QualityText);
  }
  if (gga_hook_) gga_hook_(point);
}

void NmeaDecoder::AdvanceOdometer(const GgaPoint& point) {
  if (!point.has_position) return;
  if (odometer_last_) {
    const double leg = DistanceBetween2CoordinatesMeters(
        point.latitude, point.longitude, odometer_last_->latitude, odometer_last_->longitude);
    fix_.OdometerTotal = RoundHalfEven2(leg + fix_.OdometerTotal);
  }
  odometer_last_ = Position{point.latitude, point.longitude};
}

void NmeaDecoder::UpdateLocalTime(const SentenceFields& fields) {
  // Worked out again only when the computer clock has moved on to another second.
  const ClockReading now = platform_.Now();
  std::array<char, 16> clock{};
  const int clock_length =
      std::snprintf(clock.data(), clock.size(), "%02d:%02d:%02d", now.hour, now.minute, now.second);
  const std::string_view clock_text(clock.data(), static_cast<size_t>(clock_length));
  if (fix_.LocalTimeClockText == clock_text) return;
  fix_.LocalTimeClockText.assign(clock_text);

  int hour = 0;
  int minute = 0;
  int second = 0;
  if (fields.Has(1)) {
    hour = WholeNumber(Mid(fields[1], 0, 2));
    minute = WholeNumber(Mid(fields[1], 2, 2));
    second = WholeNumber(Mid(fields[1], 4, 2));
  }
  // The offset in force now, daylight saving included; a carry of the minutes moves the hour.
  int local_minutes = (hour * 60 + minute + now.utc_offset_minutes) % kMinutesPerDay;
  if (local_minutes < 0) local_minutes += kMinutesPerDay;
  fix_.LocalTimeText.clear();
  AppendTwoDigits(local_minutes / 60, fix_.LocalTimeText);
  fix_.LocalTimeText += ':';
  AppendTwoDigits(local_minutes % 60, fix_.LocalTimeText);
  fix_.LocalTimeText += ':';
  AppendTwoDigits(second, fix_.LocalTimeText);
}

void NmeaDecoder::DecodeRmc(const SentenceFields& fields) {
  // Knots to km/h: a knot is exactly 1.852 km/h.
  if (fields.Has(7)) fix_.SpeedText = NumberToText(ReadLeadingNumber(fields[7]) * 1852 / 1000);
}

void NmeaDecoder::DecodeGsa(const SentenceFields& fields) {
  CopyField(fields, 16, fix_.HdopText);
  // Only a VDOP followed directly by the checksum is taken.
  if (fields.Has(17)) {
    if (const auto vdop = BeforeAsterisk(fields[17])) fix_.VdopText = *vdop;
  }
}

void NmeaDecoder::DecodeGsv(const SentenceFields& fields) {
  CopyField(fields, 5, fix_.ElevationText);
  CopyField(fields, 6, fix_.AzimuthText);
  // With a single satellite the SNR is the last field and carries the checksum.
  if (fields.Has(7)) fix_.SnrText = BeforeAsterisk(fields[7]).value_or(fields[7]);
}

}  // namespace quorvane
