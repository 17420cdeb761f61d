#include "nmea/sentence_fields.hpp"

namespace quorvane {

SentenceFields::SentenceFields(std::string_view sentence) {
  size_t start = 0;
  while (count_ < kCapacity) {
    const size_t comma = sentence.find(',', start);
    if (comma == std::string_view::npos) {
      fields_[count_++] = sentence.substr(start);
      return;
    }
    fields_[count_++] = sentence.substr(start, comma - start);
    start = comma + 1;
  }
}

}  // namespace quorvane
