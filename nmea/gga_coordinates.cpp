#include "nmea/gga_coordinates.hpp"

#include "base/text_rules.hpp"

namespace quorvane {

double CoordinateDegrees(const SentenceFields& fields, size_t index, size_t degree_digits,
                         std::string_view positive) {
  if (!fields.Has(index) || fields[index].size() < degree_digits) return 0;
  const std::string_view value = fields[index];
  const auto plain = ReadPlainDegreesMinutes(value, degree_digits);
  const double degrees = plain ? *plain
                               : ReadLeadingNumber(value.substr(0, degree_digits)) +
                                     ReadLeadingNumber(value.substr(degree_digits)) / 60;
  const bool positive_hemisphere = fields.Has(index + 1) && fields[index + 1] == positive;
  return positive_hemisphere ? degrees : -degrees;
}

namespace {

double GgaCoordinate(std::string_view sentence, size_t index, size_t degree_digits,
                     std::string_view positive) {
  if (!sentence.starts_with("$GPGGA")) return 0;
  return CoordinateDegrees(SentenceFields(sentence), index, degree_digits, positive);
}

}  // namespace

double GgaLatitude(std::string_view sentence) {
  return GgaCoordinate(sentence, 2, 2, "N");
}

double GgaLongitude(std::string_view sentence) {
  return GgaCoordinate(sentence, 4, 3, "E");
}

}  // namespace quorvane
