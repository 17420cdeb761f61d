#pragma once
// The sentence decoder's entry: a sentence is split once into fields and routed by its
// six-character tag to the decoding of its type. Other tags change nothing.

#include <optional>
#include <string_view>

namespace quorvane {

enum class SentenceType { kGga, kGsv, kGsa, kRmc };

// The type whose tag the first six characters of `sentence` are, compared exactly and with
// case: "$GPGGA", "$GPGSV", "$GPGSA", "$GPRMC". "$GPGGAX..." is GGA; "$GNGGA" and "$gpgga"
// are nothing.
std::optional<SentenceType> SentenceTypeOf(std::string_view sentence);

}  // namespace quorvane
