#include "nmea/sentence_census.hpp"

#include <algorithm>

namespace quorvane {
namespace {

// A standard tag is "$" and five characters, a proprietary one may be longer; none is longer
// than this.
constexpr size_t kLongestTag = 10;
constexpr std::string_view kOddTag = "$?";

// "$" and the capital letters and digits up to the first field, or kOddTag.
std::string_view TagOf(std::string_view sentence) {
  size_t end = 1;
  while (end < sentence.size() && end <= kLongestTag &&
         ((sentence[end] >= 'A' && sentence[end] <= 'Z') ||
          (sentence[end] >= '0' && sentence[end] <= '9'))) {
    ++end;
  }
  const bool ends_well = end == sentence.size() || sentence[end] == ',' || sentence[end] == '*' ||
                         sentence[end] == '\r';
  if (end == 1 || !ends_well) return kOddTag;
  return sentence.substr(0, end);
}

}  // namespace

void SentenceCensus::Count(std::string_view sentence) {
  ++sentences_;
  std::string_view tag = TagOf(sentence);
  auto known =
      std::find_if(tags_.begin(), tags_.end(), [tag](const Tag& t) { return t.tag == tag; });
  if (known == tags_.end() && tags_.size() >= kMostTags) {
    tag = kOddTag;
    known = std::find_if(tags_.begin(), tags_.end(), [tag](const Tag& t) { return t.tag == tag; });
  }
  if (known == tags_.end()) known = tags_.insert(tags_.end(), Tag{std::string(tag), 0});
  ++known->count;
}

}  // namespace quorvane
