#include "nmea/sentence_fields.hpp"

namespace quorvane {

SentenceFields::SentenceFields(std::string_view sentence) {
  // A byte loop: fields are a few characters long, too short for a search call per field to pay.
  const char* text = sentence.data();
  size_t start = 0;
  for (size_t at = 0; at < sentence.size(); ++at) {
    if (text[at] != ',') continue;
    fields_[count_++] = std::string_view(text + start, at - start);
    if (count_ == kCapacity) return;
    start = at + 1;
  }
  fields_[count_++] = std::string_view(text + start, sentence.size() - start);
}

}  // namespace quorvane
