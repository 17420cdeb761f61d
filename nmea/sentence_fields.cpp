#include "nmea/sentence_fields.hpp"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvane {

namespace {

// Where each field of `text` begins, into `bounds` from its second entry on (the first field
// begins at 0), and one past the last field's end as if a "," followed it: the number of fields,
// at most `capacity`. Sixteen characters at a time where the processor compares them at once,
// eight otherwise: the commas among them are the bytes of `word ^ ",,,,,,,,"` that are zero,
// found all at once and taken in order.
size_t SplitAtCommas(std::string_view text, uint32_t* bounds, size_t capacity) {
  // (A sentence is at most the line assembler's 64 KiB, so its offsets fit 32 bits.)
  const auto size = static_cast<uint32_t>(text.size());
  size_t count = 0;
  bounds[0] = 0;
  // The commas of the characters read at `base`, a set bit each in `found`, a bit every
  // 2^`shift` bits: false when there is no room for more.
  const auto cut = [&](uint64_t found, uint32_t base, int shift) {
    for (; found != 0; found &= found - 1) {
      bounds[++count] = base + (static_cast<uint32_t>(std::countr_zero(found)) >> shift) + 1;
      if (count == capacity) return false;
    }
    return true;
  };
  // The bound after the last field, as if a "," followed it: the number of fields.
  const auto end_fields = [&] {
    bounds[++count] = size + 1;
    return count;
  };
  // The text (at least `width` long) in pieces of `width` characters, each piece's commas found
  // by `commas`, the last characters in the piece that ends the text without those taken
  // already: false when there is no room for more.
  const auto cut_pieces = [&](uint32_t width, int shift, const auto& commas) {
    uint32_t at = 0;
    for (; at + width <= size; at += width) {
      if (!cut(commas(at), at, shift)) return false;
    }
    const uint32_t last = size - width;
    return at == size || cut(commas(last) & (~uint64_t{0} << ((at - last) << shift)), last, shift);
  };
  const auto commas_of_word = [&](uint32_t at) {
    constexpr uint64_t kCommas = 0x2c2c2c2c2c2c2c2cULL;
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    uint64_t word;
    std::memcpy(&word, text.data() + at, sizeof word);
    const uint64_t x = word ^ kCommas;
    // Exact for every byte: (b & 0x7f) + 0x7f sets the high bit unless b is 0 or 0x80.
    return ~(((x & ~kHigh) + ~kHigh) | x | ~kHigh);
  };
#if defined(__SSE2__)
  const auto commas_of_chunk = [&](uint32_t at) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    return static_cast<uint64_t>(
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(',')))));
  };
  if (size >= 16) return cut_pieces(16, 0, commas_of_chunk) ? end_fields() : count;
#endif
  if (std::endian::native == std::endian::little && size >= 8) {
    return cut_pieces(8, 3, commas_of_word) ? end_fields() : count;
  }
  for (uint32_t at = 0; at < size; ++at) {
    if (text[at] != ',') continue;
    bounds[++count] = at + 1;
    if (count == capacity) return count;
  }
  return end_fields();
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
