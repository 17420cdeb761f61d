#pragma once
// Decoding a sentence that the receive path has split already: its one split serves the
// properties and the typed value alike.

#include <string_view>

#include "nmea/sentence_fields.hpp"
#include "nmea/sentences.hpp"

namespace quorvane {

// DecodeTypedSentence for a sentence and `fields`, its split.
bool DecodeTypedSentence(std::string_view sentence, const SentenceFields& fields,
                         TypedSentence& typed);

}  // namespace quorvane
