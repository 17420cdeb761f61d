#pragma once
// Decimal degrees from the NMEA coordinate fields of a GGA sentence (ddmm.mmmm, dddmm.mmmm).

#include <string_view>

#include "nmea/sentence_fields.hpp"

namespace quorvane {

// Degrees from the value field at `index` with its hemisphere field after it. The first
// `degree_digits` characters are whole degrees, the rest minutes. A hemisphere other than
// exactly `positive` ("S", "W", empty, lower case, missing) makes the value negative. A value
// field shorter than the degree digits, or missing, gives 0.
double CoordinateDegrees(const SentenceFields& fields, size_t index, size_t degree_digits,
                         std::string_view positive);

// The latitude (fields 2 and 3) and longitude (fields 4 and 5) of a whole GGA sentence; 0 for
// a sentence that does not begin with "$GPGGA".
double GgaLatitude(std::string_view sentence);
double GgaLongitude(std::string_view sentence);

}  // namespace quorvane
