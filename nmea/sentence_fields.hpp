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
  // The sentence has the field and it holds something.
  bool Filled(size_t index) const {
    return index < count_ && bounds_[index + 1] - bounds_[index] > 1;
  }
  // A field the sentence lacks is empty.
  std::string_view operator[](size_t index) const {
    if (index >= count_) return {};
    return {text_ + bounds_[index], bounds_[index + 1] - bounds_[index] - 1};
  }

  // The field as a whole number when it is one to three plain digits, as a sky's fields nearly
  // always are; kEmptyField when it is empty or lacking, kOtherField for anything else.
  static constexpr int kEmptyField = -1;
  static constexpr int kOtherField = -2;
  int SmallWhole(size_t index) const {
    if (index >= count_) return kEmptyField;
    const char* at = text_ + bounds_[index];
    const auto digit = [at](size_t i) {
      return static_cast<unsigned>(static_cast<unsigned char>(at[i])) - unsigned{'0'};
    };
    const auto whole = [](unsigned value, bool digits) {
      return digits ? static_cast<int>(value) : kOtherField;
    };
    switch (bounds_[index + 1] - bounds_[index] - 1) {
      case 0:
        return kEmptyField;
      case 1:
        return whole(digit(0), digit(0) <= 9);
      case 2:
        return whole(digit(0) * 10 + digit(1), digit(0) <= 9 && digit(1) <= 9);
      case 3:
        return whole(digit(0) * 100 + digit(1) * 10 + digit(2),
                     digit(0) <= 9 && digit(1) <= 9 && digit(2) <= 9);
      default:
        return kOtherField;
    }
  }

 private:
  // Where each field begins in the text, and where one more would begin after the last (as if
  // a "," followed it): field i runs from bounds_[i] to bounds_[i + 1] - 1. Left uninitialised
  // past `count_`: a sentence is split for every decoder, and clearing the room first cost as
  // much as the split.
  const char* text_;
  std::array<uint32_t, kCapacity + 1> bounds_;
  size_t count_ = 0;
};

}  // namespace quorvane
