#pragma once
// A sentence split once at every ",": views into the caller's text, no allocation. Field 0 is
// the tag; empty fields stay empty, so numbers follow the NMEA field order; the last field keeps
// its checksum and carriage return.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvane {

class SentenceFields {
 public:
  // No decoder reads beyond field 17; fields past this many are not kept.
  static constexpr size_t kCapacity = 24;

  explicit SentenceFields(std::string_view sentence);

  // The fields of the sentence's body, as if the text between "$" and its last "*" (or its line
  // end) had been split: the tag without its "$", the last field without the checksum and line
  // end. `sentence` is the text these fields were split from.
  SentenceFields Body(std::string_view sentence) const;

  size_t size() const { return count_; }
  bool Has(size_t index) const { return index < count_; }
  // A field the sentence lacks is empty.
  std::string_view operator[](size_t index) const {
    if (index >= count_) return {};
    return {text_ + starts_[index], ends_[index] - starts_[index]};
  }

 private:
  // Where each field begins and ends in the text. Left uninitialised past `count_`: a sentence
  // is split for every decoder, and clearing the room first cost as much as the split.
  const char* text_;
  std::array<uint32_t, kCapacity> starts_;
  std::array<uint32_t, kCapacity> ends_;
  size_t count_ = 0;
};

}  // namespace quorvane
