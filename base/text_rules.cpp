#include "base/text_rules.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace quorvane {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Whole powers of ten, exact: 10^0 to 10^18.
constexpr uint64_t kWholeTens[] = {1ULL,
                                   10ULL,
                                   100ULL,
                                   1'000ULL,
                                   10'000ULL,
                                   100'000ULL,
                                   1'000'000ULL,
                                   10'000'000ULL,
                                   100'000'000ULL,
                                   1'000'000'000ULL,
                                   10'000'000'000ULL,
                                   100'000'000'000ULL,
                                   1'000'000'000'000ULL,
                                   10'000'000'000'000ULL,
                                   100'000'000'000'000ULL,
                                   1'000'000'000'000'000ULL,
                                   10'000'000'000'000'000ULL,
                                   100'000'000'000'000'000ULL,
                                   1'000'000'000'000'000'000ULL};

// "00" to "99": digits are laid out two at a time, one division for each pair.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// The last `count` digits of `value` (zeros in front where it has fewer), laid out from `end`
// back; the first character written.
char* PutLastDigits(uint64_t value, int count, char* end) {
  for (; count >= 2; count -= 2, value /= 100) {
    end -= 2;
    std::memcpy(end, &kDigitPairs[2 * (value % 100)], 2);
  }
  if (count == 1) *--end = static_cast<char>('0' + value % 10);
  return end;
}

// All digits of `value`, at least one, laid out from `end` back.
char* PutAllDigits(uint64_t value, char* end) {
  for (; value >= 100; value /= 100) {
    end -= 2;
    std::memcpy(end, &kDigitPairs[2 * (value % 100)], 2);
  }
  if (value < 10) {
    *--end = static_cast<char>('0' + value);
  } else {
    end -= 2;
    std::memcpy(end, &kDigitPairs[2 * value], 2);
  }
  return end;
}

// Splits an optional leading sign off `text`; returns true for "-".
bool TakeSign(std::string_view& text) {
  if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
  const bool negative = text.front() == '-';
  text.remove_prefix(1);
  return negative;
}

// Shortest digits beyond 15 rounded to 15, where the digits past the 15th decide the rounding
// of the exact value too: the shortest digits lie within half a double's step of it, which is
// less than 12 units of the 17th digit, so a tail within 12 units of one half is left to the
// exact way (false). Trailing zeros are dropped; a carry out of the first digit moves the
// exponent.
bool RoundedToFifteen(std::array<char, 24>& digits, size_t& count, int& exponent) {
  const int tail = (digits[15] - '0') * 10 + (count > 16 ? digits[16] - '0' : 0);
  if (tail >= 38 && tail <= 62) return false;
  count = 15;
  if (tail > 50) {
    size_t at = count;
    while (at > 0 && digits[at - 1] == '9') digits[--at] = '0';
    if (at == 0) {
      digits[0] = '1';
      ++exponent;
    } else {
      ++digits[at - 1];
    }
  }
  while (count > 1 && digits[count - 1] == '0') --count;
  return true;
}

// Significant digits as one whole number: `units` has `count` digits, none of them a trailing
// zero, and the first stands for 10^`exponent`.
struct Significand {
  uint64_t units = 0;
  int count = 0;
  int exponent = 0;
};

Significand WithoutTrailingZeros(uint64_t units, int count, int exponent) {
  // Eight zeros at once, then four, two and one: at most four divisions for any run of them.
  for (const auto& [zeros, power] :
       {std::pair{8, uint64_t{100'000'000}}, std::pair{4, uint64_t{10'000}},
        std::pair{2, uint64_t{100}}, std::pair{1, uint64_t{10}}}) {
    if (count > zeros && units % power == 0) {
      units /= power;
      count -= zeros;
    }
  }
  return {units, count, exponent};
}

// The 15 significant digits of `magnitude` (positive, from 1e-5 below 1e15), by one
// multiplication with an exact power of ten in the x87's 64-bit mantissa: its error, under
// 2^-14 of a unit of the 15th digit, cannot move the rounding unless the rest lies within 2^-10
// of one half (nullopt: the exact way).
std::optional<Significand> ScaledFifteen(double magnitude) {
  static constexpr long double kTens[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                          1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                          1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L};
  if (!(magnitude >= 1e-5 && magnitude < 1e15) || sizeof(long double) < 10) return std::nullopt;
  int exponent = 0;
  while (exponent < 14 && magnitude >= static_cast<double>(kTens[exponent + 1])) ++exponent;
  if (magnitude < 1) {
    exponent = -1;
    while (exponent > -5 && magnitude * static_cast<double>(kTens[-exponent]) < 1) --exponent;
  }
  for (int tries = 0; tries < 3; ++tries) {
    const long double scaled = static_cast<long double>(magnitude) * kTens[14 - exponent];
    // The floor: below 10^16, the whole part fits 64 bits exactly.
    const auto below = static_cast<uint64_t>(scaled);
    const long double rest = scaled - static_cast<long double>(below);
    if (std::fabs(rest - 0.5L) < 0x1p-10L) return std::nullopt;
    auto units = below + (rest > 0.5L ? 1 : 0);
    // A first guess of the exponent one off shows in the count of digits.
    if (units < 100'000'000'000'000ULL && exponent > -5) {
      --exponent;
      continue;
    }
    if (units >= 1'000'000'000'000'000ULL) {
      if (units != 1'000'000'000'000'000ULL || exponent == 14) return std::nullopt;
      units /= 10;  // 9.99...95 rounded up: one digit more in front
      ++exponent;
    }
    if (units < 100'000'000'000'000ULL) return std::nullopt;
    return WithoutTrailingZeros(units, 15, exponent);
  }
  return std::nullopt;
}

// The shortest digits that read back as `value`, as many as 15 (rounded to 15 when there are
// more and the digits past the 15th decide it); nullopt otherwise.
std::optional<Significand> ShortestFifteen(double value) {
  std::array<char, 32> text{};
  const char* end =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::scientific)
          .ptr;
  const char* at = text.data() + (value < 0 ? 1 : 0);
  // "d.ddddde+XX": the digits without the point, then the exponent.
  std::array<char, 24> digits{};
  size_t count = 0;
  for (; at != end && *at != 'e'; ++at) {
    if (*at != '.') digits[count++] = *at;
  }
  if (at == end) return std::nullopt;
  const bool negative_exponent = at[1] == '-';
  int exponent = 0;
  for (at += 2; at != end; ++at) exponent = exponent * 10 + (*at - '0');
  if (negative_exponent) exponent = -exponent;
  if (count > 15 && !RoundedToFifteen(digits, count, exponent)) return std::nullopt;
  uint64_t units = 0;
  for (size_t i = 0; i < count; ++i) units = units * 10 + static_cast<uint64_t>(digits[i] - '0');
  return WithoutTrailingZeros(units, static_cast<int>(count), exponent);
}

// `digits` laid out as %g lays out the 15-digit rounding, from the last character back to
// `end`; the first character written.
char* LaidOutGeneral(Significand digits, bool negative, char* end) {
  char* put = end;
  // The last `count` digits, with the point before them, laid out and taken off the number.
  const auto after_point = [&](int count) {
    if (count <= 0) return;
    put = PutLastDigits(digits.units % kWholeTens[count], count, put);
    *--put = '.';
    digits.units /= kWholeTens[count];
  };
  if (digits.exponent < -4 || digits.exponent >= 15) {
    const int magnitude = std::abs(digits.exponent);
    put = PutLastDigits(static_cast<uint64_t>(magnitude), magnitude >= 100 ? 3 : 2, put);
    *--put = digits.exponent < 0 ? '-' : '+';
    *--put = 'E';
    after_point(digits.count - 1);
    put = PutAllDigits(digits.units, put);
  } else if (digits.exponent < 0) {
    put = PutLastDigits(digits.units, digits.count, put);
    for (int i = 1; i < -digits.exponent; ++i) *--put = '0';
    *--put = '.';
    *--put = '0';
  } else {
    const int whole = digits.exponent + 1;
    after_point(digits.count - whole);
    for (int i = digits.count; i < whole; ++i) *--put = '0';
    put = PutAllDigits(digits.units, put);
  }
  if (negative) *--put = '-';
  return put;
}

}  // namespace

void AppendNumberText(double value, std::string& text) {
  if (std::isnan(value)) {
    text += "NaN";
  } else if (std::isinf(value)) {
    text += value < 0 ? "-Infinity" : "Infinity";
  } else if (value == 0) {
    text += '0';
  } else {
    // (A subnormal value carries fewer digits than that argument needs: it goes the exact way.)
    auto digits = std::isnormal(value) ? ScaledFifteen(std::fabs(value)) : std::nullopt;
    if (!digits && std::isnormal(value)) digits = ShortestFifteen(value);
    if (digits) {
      std::array<char, 40> laid;
      text.append(LaidOutGeneral(*digits, value < 0, laid.end()), laid.end());
      return;
    }
    std::array<char, 32> buffer{};
    // %g with 15 digits is exactly the rule: fixed notation for exponents -4..14, trailing
    // zeros removed, exponent form outside.
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 15);
    for (char* c = buffer.data(); c != result.ptr; ++c) {
      if (*c == 'e') *c = 'E';
    }
    text.append(buffer.data(), result.ptr);
  }
}

std::string NumberToText(double value) {
  std::string text;
  AppendNumberText(value, text);
  return text;
}

std::string_view Mid(std::string_view text, size_t position, size_t length) {
  return position < text.size() ? text.substr(position, length) : std::string_view();
}

std::optional<int16_t> ReadLeadingInt16(std::string_view text) {
  const double rounded = std::nearbyint(ReadLeadingNumber(text));
  if (rounded < INT16_MIN || rounded > INT16_MAX) return std::nullopt;
  return static_cast<int16_t>(rounded);
}

double ReadLeadingNumber(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  const bool negative = TakeSign(text);
  const DecimalRun run = ScanDecimalRun(text);
  if (run.length == 0) return 0;
  // An exponent, as NumberToText writes tiny and huge values ("9.26E-05"), when digits follow.
  size_t length = run.length;
  bool exponent = false;
  if (length < text.size() && (text[length] == 'E' || text[length] == 'e')) {
    size_t end = length + 1;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
    const size_t digits_from = end;
    while (end < text.size() && IsDigit(text[end])) ++end;
    exponent = end > digits_from;
    if (exponent) length = end;
  }
  double value = 0;
  if (const auto quick = exponent ? std::nullopt : run.Short()) {
    value = *quick;
  } else {
    const auto result =
        std::from_chars(text.data(), text.data() + length, value, std::chars_format::general);
    if (result.ec != std::errc{}) return 0;
  }
  return negative ? -value : value;
}

std::optional<double> ReadPlainDegreesMinutes(std::string_view text, size_t degree_digits) {
  const DecimalRun run = ScanDecimalRun(text);
  const int minute_digits = run.digits - static_cast<int>(degree_digits);
  if (run.length != text.size() || run.digits > 15 || minute_digits < run.decimals) {
    return std::nullopt;
  }
  const uint64_t scale = kWholeTens[minute_digits];
  return static_cast<double>(run.mantissa / scale) +
         ShortDecimal(run.mantissa % scale, run.decimals) / 60;
}

std::optional<double> ReadStrict(std::string_view text) {
  text = TrimBlanks(text);
  const bool negative = TakeSign(text);
  // from_chars would also take "inf", "nan" and hexadecimal forms; a number here starts with
  // a digit or with "." and a digit.
  if (text.empty() || !(IsDigit(text.front()) || text.front() == '.')) return std::nullopt;
  double value = 0;
  const DecimalRun run = ScanDecimalRun(text);
  const auto quick = run.length == text.size() ? run.Short() : std::nullopt;
  if (quick) {
    value = *quick;
  } else {
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return std::nullopt;
  }
  return negative ? -value : value;
}

std::optional<std::string_view> LevelMatched(std::string_view pattern, std::string_view name,
                                             char separator, std::string_view wildcard) {
  const auto pattern_levels = Pieces(pattern, separator);
  const auto name_levels = Pieces(name, separator);
  const auto last = std::find(pattern_levels.rbegin(), pattern_levels.rend(), wildcard);
  const auto index = static_cast<size_t>(pattern_levels.rend() - last - 1);
  if (last == pattern_levels.rend() || index >= name_levels.size()) return std::nullopt;
  return name_levels[index];
}

std::optional<std::chrono::seconds> ReadSpan(std::string_view text) {
  if (text.size() < 2) return std::nullopt;
  const char unit = text.back();
  const uint64_t seconds_per = unit == 'd'   ? 86400
                               : unit == 'h' ? 3600
                               : unit == 'm' ? 60
                               : unit == 's' ? 1
                                             : 0;
  uint64_t count = 0;
  const char* end = text.data() + text.size() - 1;
  const auto read = std::from_chars(text.data(), end, count);
  constexpr uint64_t kCentury = 100ULL * 365 * 86400;
  if (seconds_per == 0 || read.ec != std::errc{} || read.ptr != end ||
      count > kCentury / seconds_per) {
    return std::nullopt;
  }
  return std::chrono::seconds(static_cast<int64_t>(count * seconds_per));
}

double RoundHalfEven2(double value) {
  if (!std::isfinite(value)) return value;
  const double scaled = value * 100;
  if (!std::isfinite(scaled)) return value;
  // value * 100 == scaled + error exactly; only when the rounded product lies exactly on a
  // half can the lost error decide the direction.
  const double error = std::fma(value, 100, -scaled);
  const double floor = std::floor(scaled);
  double rounded;
  if (scaled - floor == 0.5) {
    if (error > 0) {
      rounded = floor + 1;
    } else if (error < 0) {
      rounded = floor;
    } else {
      rounded = std::fmod(floor, 2) == 0 ? floor : floor + 1;
    }
  } else {
    rounded = std::nearbyint(scaled);
  }
  const double result = rounded / 100;
  return result == 0 ? 0.0 : result;
}

std::string WithDecimalPoints(std::string_view text) {
  std::string result(text);
  std::replace(result.begin(), result.end(), ',', '.');
  return result;
}

// A JSON string; every byte outside printable ASCII is escaped, so the output is valid whatever
// the receiver sent.
std::string JsonQuoted(std::string_view text) {
  std::string json;
  AppendJsonQuoted(text, json);
  return json;
}

void AppendJsonQuoted(std::string_view text, std::string& json) {
  json += '"';
  // Runs of characters that need no escape are appended whole.
  const auto plain = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\';
  };
  for (size_t at = 0; at < text.size();) {
    const size_t run_start = at;
    while (at < text.size() && plain(text[at])) ++at;
    json.append(text.substr(run_start, at - run_start));
    if (at == text.size()) break;
    const char c = text[at++];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (c == '\r') {
      json += "\\r";
    } else if (c == '\n') {
      json += "\\n";
    } else if (byte < 0x20 || byte >= 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
    }
  }
  json += '"';
}

std::vector<std::string_view> Pieces(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find(separator, start), text.size());
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::string XmlEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string FormatTwoDecimals(double value) {
  if (!std::isfinite(value)) return NumberToText(value);
  std::string text = FixedText(value, 2);
  if (text == "-0.00") return "0.00";
  return text;
}

namespace {

// AppendFixed's exact way, apart: its buffer would otherwise weigh on every quick call's frame.
[[gnu::noinline]] void AppendFixedExactly(double value, int decimals, std::string& text) {
  std::array<char, 400> buffer{};
  const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                     std::chars_format::fixed, decimals);
  if (written.ec == std::errc()) text.append(buffer.data(), written.ptr);
}

}  // namespace

void AppendFixed(double value, int decimals, std::string& text) {
  // The magnitude times 10^decimals, rounded once: below 2^40 its error is under 2^-12, so a
  // fraction clear of one half by more than that rounds the way the exact value does. The rest
  // (ties, huge values, NaN) take the exact, slower way. The text is laid out in place and
  // appended at once.
  static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  const double scaled = std::abs(value) * kPowers[std::clamp(decimals, 0, 9)];
  if (decimals >= 0 && decimals <= 9 && scaled < 0x1p40) {
    const auto below = static_cast<uint64_t>(scaled);  // the floor: scaled is not negative
    const double fraction = scaled - static_cast<double>(below);
    if (std::abs(fraction - 0.5) > 0x1p-11) {
      const uint64_t units = below + (fraction > 0.5 ? 1 : 0);
      // Laid out from the last digit back: the decimals, the point, the whole digits, the sign.
      std::array<char, 32> laid;
      char* put = laid.end();
      const uint64_t scale = kWholeTens[decimals];
      if (decimals > 0) {
        put = PutLastDigits(units % scale, decimals, put);
        *--put = '.';
      }
      put = PutAllDigits(units / scale, put);
      if (std::signbit(value)) *--put = '-';
      text.append(put, laid.end());
      return;
    }
  }
  AppendFixedExactly(value, decimals, text);
}

std::string FixedText(double value, int decimals) {
  std::string text;
  AppendFixed(value, decimals, text);
  return text;
}

std::string Printable(std::string text) {
  for (char& c : text) {
    if (c < 0x20 || c > 0x7e) c = '?';
  }
  return text;
}

std::string WithEscapesRead(std::string_view text) {
  static constexpr std::string_view kEscaped = "rnt\\";
  static constexpr std::string_view kMeant = "\r\n\t\\";
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t kind = i + 1 < text.size() && text[i] == '\\' ? kEscaped.find(text[i + 1])
                                                               : std::string_view::npos;
    if (kind == std::string_view::npos) {
      result += text[i];
      continue;
    }
    result += kMeant[kind];
    ++i;
  }
  return result;
}

namespace {

size_t LettersOff(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string ClosestWord(std::string_view word, const std::vector<std::string>& candidates,
                        size_t most_letters_off) {
  std::string closest;
  size_t best = most_letters_off;
  for (const std::string& candidate : candidates) {
    const size_t off = LettersOff(word, candidate);
    if (off < best) {
      best = off;
      closest = candidate;
    }
  }
  return closest;
}

}  // namespace quorvane
