#include "nmea/parse_nmea.hpp"

#include <array>
#include <utility>

namespace quorvane {

std::optional<SentenceType> SentenceTypeOf(std::string_view sentence) {
  static constexpr std::array<std::pair<std::string_view, SentenceType>, 4> kTags{{
      {"$GPGGA", SentenceType::kGga},
      {"$GPGSV", SentenceType::kGsv},
      {"$GPGSA", SentenceType::kGsa},
      {"$GPRMC", SentenceType::kRmc},
  }};
  const std::string_view tag = sentence.substr(0, 6);
  for (const auto& [known, type] : kTags) {
    if (tag == known) return type;
  }
  return std::nullopt;
}

}  // namespace quorvane
