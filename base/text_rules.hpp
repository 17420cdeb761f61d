#pragma once
// The text and number rules of the fix record. Every number the control keeps is text, so
// writing a double and reading one back must agree everywhere: decoders, properties and the
// KML writer all come here, and nobody formats a double by hand.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// The shortest text that shows `value` to 15 significant digits: "48.1173", "0", "-33.8675",
// "0.5". Magnitudes below 1E-04 or from 1E+15 up take the exponent form ("1E-05",
// "1.23456789012346E+15"). Negative zero is "0". The decimal separator is always ".".
std::string NumberToText(double value);
// The same text, appended to `text`.
void AppendNumberText(double value, std::string& text);

// Up to `length` characters of `text` from `position` (counting from 0); characters the text
// does not have are simply missing.
std::string_view Mid(std::string_view text, size_t position, size_t length);

// Reads a number from the start of `text` and never fails: leading blanks, an optional sign,
// digits, an optional "." and digits, an optional exponent ("E-05", "e5"); reading stops at the
// first other character. No number (or one beyond the range of a double) reads as 0.
double ReadLeadingNumber(std::string_view text);

// `text` as whole degrees (its first `degree_digits` digits) and minutes (the rest), read as
// ReadLeadingNumber reads each part and added up, in one pass; nullopt when the text is not plain
// digits with at most one point after the degrees (the parts are then read one by one).
std::optional<double> ReadPlainDegreesMinutes(std::string_view text, size_t degree_digits);

// The leading number rounded to the nearest 16-bit integer (a half to the even one); nullopt
// when that lies outside the 16-bit range.
std::optional<int16_t> ReadLeadingInt16(std::string_view text);

// `mantissa` (at most 15 digits) over 10^`decimals` (0 to 15) as the nearest double: both are
// exact in a double, so the one rounding of the division gives what from_chars would give for
// the digits, at a fraction of its cost.
inline double ShortDecimal(uint64_t mantissa, int decimals) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  return static_cast<double>(mantissa) / kPowers[decimals];
}

// The "digits [. digits]" run at the start of `text`, read as it is scanned: its length (0 when
// it holds no digit), its digits as one whole number (meaningful up to 19 of them) and how many
// of them follow the point.
struct DecimalRun {
  size_t length = 0;
  uint64_t mantissa = 0;
  int digits = 0;
  int decimals = 0;

  // Its value by one exact division, when it has 15 digits at most.
  std::optional<double> Short() const {
    if (digits == 0 || digits > 15) return std::nullopt;
    return ShortDecimal(mantissa, decimals);
  }
};
// (Inline: the typed readers scan most of their numbers with it.)
inline DecimalRun ScanDecimalRun(std::string_view text) {
  const char* at = text.data();
  const char* const end = at + text.size();
  const auto digit = [](char c) { return static_cast<unsigned>(c) - unsigned{'0'}; };
  uint64_t mantissa = 0;
  for (; at != end && digit(*at) <= 9; ++at) mantissa = mantissa * 10 + digit(*at);
  const auto whole = static_cast<int>(at - text.data());
  int decimals = 0;
  if (at != end && *at == '.') {
    const char* const point = ++at;
    for (; at != end && digit(*at) <= 9; ++at) mantissa = mantissa * 10 + digit(*at);
    decimals = static_cast<int>(at - point);
  }
  const int digits = whole + decimals;
  return {digits == 0 ? 0 : static_cast<size_t>(at - text.data()), mantissa, digits, decimals};
}

// `value` in `width` digits, leading zeros included, at `at` of `text`; a value too wide keeps
// its last digits.
// (Inline: every time text writes a few, at widths its callers know.)
inline void PutDigits(std::string& text, size_t at, int value, int width) {
  char* digits = text.data() + at;
  auto rest = static_cast<unsigned>(value);
  for (int place = width - 1; place >= 0; --place, rest /= 10) {
    digits[place] = static_cast<char>('0' + rest % 10);
  }
}

// The whole text, blanks around it allowed, must be one decimal number (an exponent is allowed
// so that everything NumberToText writes reads back). Anything else is nullopt.
std::optional<double> ReadStrict(std::string_view text);

// The level of `name` that the last `wildcard` level of `pattern` stands for, levels cut at
// `separator` ("car7" of "fleet/car7/nmea" by "fleet/+/nmea", of "fleet.car7.fix" by
// "fleet.*.fix"); nothing when the pattern has no such level or the name has fewer levels.
std::optional<std::string_view> LevelMatched(std::string_view pattern, std::string_view name,
                                             char separator, std::string_view wildcard);

// A span of time as "90s", "30m", "24h" or "7d": whole digits and one unit, nothing else, at most
// a hundred years; nullopt otherwise.
std::optional<std::chrono::seconds> ReadSpan(std::string_view text);

// Rounds to two decimal places; a value exactly halfway between two hundredths (judged on the
// exact binary value, not on a product that was itself rounded) goes to the even hundredth.
double RoundHalfEven2(double value);

// A number text with every "," replaced by "." (a position text from a locale with a decimal
// comma reads as one with a point).
std::string WithDecimalPoints(std::string_view text);

// `text` as a JSON string, quotes included; every byte outside printable ASCII is escaped, so
// the result is valid JSON whatever the text holds.
std::string JsonQuoted(std::string_view text);
// The same, appended to `json`.
void AppendJsonQuoted(std::string_view text, std::string& json);

// `text` as XML character data: "&", "<" and ">" become entities, and '"' too, so that the
// result may stand inside an attribute. Everything else is left as it is.
std::string XmlEscaped(std::string_view text);

// The pieces of `text` between each `separator`, empty ones included ("a,,b": "a", "", "b"; "":
// one empty piece).
std::vector<std::string_view> Pieces(std::string_view text, char separator);

// The "#0.00" format: at least one digit before ".", exactly two after it, "-" for negative
// values; a value that rounds to zero is "0.00".
std::string FormatTwoDecimals(double value);

// `value` with exactly `decimals` digits after the point ("48.1173000" for 7), rounded as the
// exact binary value says.
std::string FixedText(double value, int decimals);
// The same text, appended to `text`.
void AppendFixed(double value, int decimals, std::string& text);

// Text as a terminal may show it: every byte outside printable ASCII (an escape sequence that
// would retitle or clear the terminal, a bell, a stray CR) becomes "?".
std::string Printable(std::string text);

// "\r", "\n", "\t" and "\\" in a typed text become the characters they name; any other
// backslash stays as it is.
std::string WithEscapesRead(std::string_view text);

// The candidate nearest `word` by letters changed, added or dropped, if fewer than
// `most_letters_off` are; empty otherwise ("recrod" finds "record").
std::string ClosestWord(std::string_view word, const std::vector<std::string>& candidates,
                        size_t most_letters_off);

}  // namespace quorvane
