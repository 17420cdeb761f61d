#include "nmea/sentence_census.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

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

SentenceCensus::Key SentenceCensus::KeyOf(std::string_view tag) {
  Key key{0, tag.size()};
  std::memcpy(&key.head, tag.data(), std::min(tag.size(), sizeof key.head));
  return key;
}

std::vector<SentenceCensus::Tag>::iterator SentenceCensus::Find(std::string_view tag) {
  const Key key = KeyOf(tag);
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i] == key && (tag.size() <= sizeof key.head || tags_[i].tag == tag)) {
      return tags_.begin() + static_cast<std::ptrdiff_t>(i);
    }
  }
  return tags_.end();
}

std::vector<SentenceCensus::Tag>::iterator SentenceCensus::FindHeard(std::string_view sentence) {
  // A tag heard before, when the sentence's first characters are that tag and what follows
  // ends it: found from one word of the sentence, without cutting its tag first.
  if (std::endian::native != std::endian::little || sentence.size() < sizeof(uint64_t)) {
    return tags_.end();
  }
  uint64_t head;
  std::memcpy(&head, sentence.data(), sizeof head);
  for (size_t i = 0; i < keys_.size(); ++i) {
    const size_t size = keys_[i].size;
    if (size >= sizeof head) continue;
    const char after = sentence[size];
    const uint64_t mask = (uint64_t{1} << (8 * size)) - 1;
    if ((head & mask) == keys_[i].head && (after == ',' || after == '*' || after == '\r')) {
      return tags_.begin() + static_cast<std::ptrdiff_t>(i);
    }
  }
  return tags_.end();
}

void SentenceCensus::Count(std::string_view sentence) {
  ++sentences_;
  if (const auto heard = FindHeard(sentence); heard != tags_.end()) {
    ++heard->count;
    return;
  }
  std::string_view tag = TagOf(sentence);
  auto known = Find(tag);
  if (known == tags_.end() && tags_.size() >= kMostTags) {
    tag = kOddTag;
    known = Find(tag);
  }
  if (known == tags_.end()) {
    keys_.push_back(KeyOf(tag));
    known = tags_.insert(tags_.end(), Tag{std::string(tag), 0});
  }
  ++known->count;
}

}  // namespace quorvane
