#include "nmea/sentence_fields.hpp"

#include <bit>
#include <cstring>

namespace quorvane {

namespace {

// Where each field of `text` begins, into `bounds` from its second entry on (the first field
// begins at 0), and one past the last field's end as if a "," followed it: the number of fields,
// at most `capacity`. Eight characters at a time: the commas among them are the bytes of
// `word ^ ",,,,,,,,"` that are zero, found all at once and taken in order.
size_t SplitAtCommas(std::string_view text, uint32_t* bounds, size_t capacity) {
  // (A sentence is at most the line assembler's 64 KiB, so its offsets fit 32 bits.)
  const auto size = static_cast<uint32_t>(text.size());
  size_t count = 0;
  bounds[0] = 0;
  // The commas of a word read at `base`, the zero bytes of `zero`: false when there is no room
  // for more.
  const auto cut = [&](uint64_t zero, uint32_t base) {
    for (; zero != 0; zero &= zero - 1) {
      bounds[++count] = base + static_cast<uint32_t>(std::countr_zero(zero)) / 8 + 1;
      if (count == capacity) return false;
    }
    return true;
  };
  constexpr uint64_t kCommas = 0x2c2c2c2c2c2c2c2cULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  const auto commas = [&](uint32_t at) {
    uint64_t word;
    std::memcpy(&word, text.data() + at, sizeof word);
    const uint64_t x = word ^ kCommas;
    // Exact for every byte: (b & 0x7f) + 0x7f sets the high bit unless b is 0 or 0x80.
    return ~(((x & ~kHigh) + ~kHigh) | x | ~kHigh);
  };
  if (std::endian::native != std::endian::little || size < 8) {
    for (uint32_t at = 0; at < size; ++at) {
      if (text[at] != ',') continue;
      bounds[++count] = at + 1;
      if (count == capacity) return count;
    }
  } else {
    uint32_t at = 0;
    for (; at + 8 <= size; at += 8) {
      if (!cut(commas(at), at)) return count;
    }
    // The last characters in the word that ends the text, without those taken already.
    if (at < size && !cut(commas(size - 8) & (~uint64_t{0} << (at - (size - 8)) * 8), size - 8)) {
      return count;
    }
  }
  bounds[++count] = size + 1;
  return count;
}

}  // namespace

SentenceFields::SentenceFields(std::string_view sentence)
    : text_(sentence.data()), count_(SplitAtCommas(sentence, bounds_.data(), kCapacity)) {}

SentenceFields SentenceFields::Body(std::string_view sentence) const {
  size_t end = sentence.size();
  while (end > 0 && (sentence[end - 1] == '\r' || sentence[end - 1] == '\n')) --end;
  const size_t star = sentence.substr(0, end).rfind('*');
  const auto body_end =
      static_cast<uint32_t>(star == std::string_view::npos || star == 0 ? end : star);
  const uint32_t last_start = bounds_[count_ - 1];
  const uint32_t last_end = bounds_[count_] - 1;
  // A "*" before the last field cut here (a malformed sentence) leaves fewer fields: split again.
  const bool split_again =
      body_end < last_end && (last_end != sentence.size() || body_end < last_start);
  SentenceFields body = split_again ? SentenceFields(sentence.substr(1, body_end - 1)) : *this;
  if (!split_again) {
    body.bounds_[0] = 1;
    // The last field runs to the end of the text only when no field was left out.
    if (last_end == sentence.size()) body.bounds_[count_] = body_end + 1;
  }
  return body;
}

}  // namespace quorvane
