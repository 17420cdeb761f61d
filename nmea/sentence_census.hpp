#pragma once
// What a receiver has been heard sending: sentences counted by their tag, so that a host can
// tell its user what arrives when no fix does ("$GNGGA" under a GPS-only setting, a proprietary
// protocol, nothing but binary).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class SentenceCensus {
 public:
  // Hostile input could make up tags without end; past this many, new ones count as "$?".
  static constexpr size_t kMostTags = 64;

  struct Tag {
    std::string tag;  // "$GNGGA", "$PUBX"; "$?" for a tag that is not letters and digits
    uint64_t count = 0;
  };

  void Count(std::string_view sentence);

  uint64_t Sentences() const { return sentences_; }
  // In the order first heard.
  const std::vector<Tag>& Tags() const { return tags_; }

 private:
  // Each tag's first eight characters and its length, beside `tags_`: every sentence is looked
  // up, and these are compared at once.
  struct Key {
    uint64_t head = 0;
    size_t size = 0;
    bool operator==(const Key&) const = default;
  };
  static Key KeyOf(std::string_view tag);
  std::vector<Tag>::iterator Find(std::string_view tag);
  std::vector<Tag>::iterator FindHeard(std::string_view sentence);

  uint64_t sentences_ = 0;
  std::vector<Tag> tags_;
  std::vector<Key> keys_;
};

}  // namespace quorvane
