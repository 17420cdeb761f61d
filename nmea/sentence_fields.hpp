#pragma once
// A sentence split once at every ",": views into the caller's text, no allocation. Field 0 is
// the tag; empty fields stay empty, so numbers follow the NMEA field order; the last field keeps
// its checksum and carriage return.

#include <array>
#include <cstddef>
#include <string_view>

namespace quorvane {

class SentenceFields {
 public:
  // No decoder reads beyond field 17; fields past this many are not kept.
  static constexpr size_t kCapacity = 24;

  explicit SentenceFields(std::string_view sentence);

  size_t size() const { return count_; }
  bool Has(size_t index) const { return index < count_; }
  std::string_view operator[](size_t index) const { return fields_[index]; }

 private:
  std::array<std::string_view, kCapacity> fields_{};
  size_t count_ = 0;
};

}  // namespace quorvane
