#include "nmea/sentence_fields.hpp"

#include <bit>
#include <cstring>

namespace quorvane {

SentenceFields::SentenceFields(std::string_view sentence) : text_(sentence.data()) {
  // (A sentence is at most the line assembler's 64 KiB, so its offsets fit 32 bits.)
  const auto size = static_cast<uint32_t>(sentence.size());
  uint32_t start = 0;
  const auto cut = [&](uint32_t at) {
    starts_[count_] = start;
    ends_[count_] = at;
    start = at + 1;
    return ++count_ == kCapacity;
  };
  // Eight characters at a time: the commas among them are the bytes of `word ^ ",,,,,,,,"` that
  // are zero, found all at once and taken in order.
  constexpr uint64_t kCommas = 0x2c2c2c2c2c2c2c2cULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  uint32_t at = 0;
  for (; std::endian::native == std::endian::little && at + 8 <= size; at += 8) {
    uint64_t word;
    std::memcpy(&word, text_ + at, sizeof word);
    const uint64_t x = word ^ kCommas;
    // Exact for every byte: (b & 0x7f) + 0x7f sets the high bit unless b is 0 or 0x80.
    uint64_t zero = ~(((x & ~kHigh) + ~kHigh) | x | ~kHigh);
    while (zero != 0) {
      if (cut(at + static_cast<uint32_t>(std::countr_zero(zero)) / 8)) return;
      zero &= zero - 1;
    }
  }
  for (; at < size; ++at) {
    if (text_[at] == ',' && cut(at)) return;
  }
  starts_[count_] = start;
  ends_[count_] = size;
  ++count_;
}

SentenceFields SentenceFields::Body(std::string_view sentence) const {
  size_t end = sentence.size();
  while (end > 0 && (sentence[end - 1] == '\r' || sentence[end - 1] == '\n')) --end;
  const size_t star = sentence.substr(0, end).rfind('*');
  const auto body_end =
      static_cast<uint32_t>(star == std::string_view::npos || star == 0 ? end : star);
  const size_t last = count_ - 1;
  // A "*" before the last field cut here (a malformed sentence) leaves fewer fields: split again.
  if (body_end < ends_[last] && (ends_[last] != sentence.size() || body_end < starts_[last])) {
    return SentenceFields(sentence.substr(1, body_end - 1));
  }
  SentenceFields body = *this;
  body.starts_[0] = 1;
  // The last field runs to the end of the text only when no field was left out.
  if (ends_[last] == sentence.size()) body.ends_[last] = body_end;
  return body;
}

}  // namespace quorvane
