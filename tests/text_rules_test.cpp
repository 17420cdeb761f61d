#include "base/text_rules.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/recent_table.hpp"

namespace quorvane {
namespace {

TEST(NumberToText, ShowsFifteenSignificantDigitsWithoutTrailingZeros) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {48.1173, "48.1173"},
      {11.0 + 31.0 / 60.0, "11.5166666666667"},
      {0.0, "0"},
      {-0.0, "0"},
      {0.5, "0.5"},
      {-33.8675, "-33.8675"},
      {41.44, "41.44"},
      {-151.21, "-151.21"},
      {1789.37, "1789.37"},
      {20014123.8528, "20014123.8528"},
      {100.0, "100"},
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
      {-0.000012345, "-1.2345E-05"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1E+15"},
      {1234567890123456.0, "1.23456789012346E+15"},
      {0.1 + 0.2, "0.3"},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberToText(c.value), c.text) << c.value;
}

// The quick ways to write a number must write what the exact (and slow) formatting writes: for
// any double, for the few-decimal values receivers send, and for exact ties.
TEST(NumberToText, TheQuickWaysWriteWhatExactFormattingWrites) {
  const auto exact_general = [](double value) {
    std::array<char, 64> text{};
    const auto end =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::general, 15)
            .ptr;
    std::string written(text.data(), end);
    for (char& c : written) c = c == 'e' ? 'E' : c;
    return written;
  };
  const auto exact_fixed = [](double value, int decimals) {
    std::array<char, 400> text{};
    return std::string(text.data(), std::to_chars(text.data(), text.data() + text.size(), value,
                                                  std::chars_format::fixed, decimals)
                                        .ptr);
  };
  std::mt19937_64 random(20261209);
  // Ties, the ends of the range, and roundings that carry into one more digit.
  std::vector<double> values{0.5,
                             0.125,
                             2.5,
                             -0.05,
                             1e15,
                             1e-5,
                             9.9999999999999995e14,
                             0.0001,
                             123456789012345.0,
                             5e-324,
                             1.7976931348623157e308,
                             -0.0,
                             999.999999999999,
                             999.9999999999999,
                             99999999999999.95,
                             1e14,
                             0.00001000000000000001,
                             999999999999999.9,
                             0.1,
                             0.3,
                             0.000099999999999999999,
                             9.999999999999999e-5};
  for (int i = 0; i < 100000; ++i) {
    double any;
    const uint64_t bits = random();
    std::memcpy(&any, &bits, sizeof any);
    if (std::isfinite(any)) values.push_back(any);
    const auto scale = static_cast<int>(random() % 10);
    values.push_back(static_cast<double>(static_cast<int64_t>(random() % 400000000) - 200000000) /
                     std::pow(10.0, scale));
  }
  for (const double value : values) {
    if (value != 0) {
      EXPECT_EQ(NumberToText(value), exact_general(value)) << value;
    }
    for (const int decimals : {0, 1, 2, 6, 7}) {
      EXPECT_EQ(FixedText(value, decimals), exact_fixed(value, decimals)) << value;
    }
  }
}

TEST(NumberToText, NamesValuesThatAreNotNumbers) {
  EXPECT_EQ(NumberToText(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(NumberToText(std::numeric_limits<double>::infinity()), "Infinity");
  EXPECT_EQ(NumberToText(-std::numeric_limits<double>::infinity()), "-Infinity");
}

TEST(ReadLeadingNumber, ReadsFromTheStartAndNeverFails) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"48", 48},
      {"07.038", 7.038},
      {"  12.5", 12.5},
      {"-12.5", -12.5},
      {"+3", 3},
      {"022.4", 22.4},
      {"1,5", 1},
      {"42*7A\r", 42},
      {".5", 0.5},
      {"5.", 5},
      {"-", 0},
      {"--5", 0},
      {"1e5", 1e5},
      {"\t7", 7},
      {"1 2", 1},
      {"0x10", 0},
      {"545.4M", 545.4},
      // What NumberToText writes reads back; an "E" without digits is no exponent.
      {"9.26E-05", 9.26e-05},
      {"1.5E+15", 1.5e15},
      {"2E", 2},
      {"2E-", 2},
      {"3e+x", 3},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadLeadingNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(ReadLeadingNumber, ANumberBeyondTheRangeOfADoubleReadsAsZero) {
  EXPECT_EQ(ReadLeadingNumber(std::string(400, '9')), 0);
}

TEST(ReadStrict, AcceptsOnlyAWholeNumber) {
  EXPECT_EQ(ReadStrict("48.1173"), 48.1173);
  EXPECT_EQ(ReadStrict(" -33.8675 "), -33.8675);
  EXPECT_EQ(ReadStrict("0"), 0.0);
  EXPECT_EQ(ReadStrict("+2"), 2.0);
  EXPECT_EQ(ReadStrict("1E-05"), 1e-05);
  EXPECT_EQ(ReadStrict("1.23456789012346E+15"), 1.23456789012346e15);
  for (const char* bad : {"", " ", "abc", "1,5", "12a", "inf", "nan", "0x1p3", "--1", "1 2", "."}) {
    EXPECT_FALSE(ReadStrict(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(ReadStrict, ReadsBackEveryTextNumberToTextWrites) {
  for (const double value : {48.1173, -151.21, 11.5166666666667, 1e-7, -2.5e17, 0.0001, 3.0}) {
    const auto back = ReadStrict(NumberToText(value));
    ASSERT_TRUE(back.has_value()) << value;
    EXPECT_EQ(NumberToText(*back), NumberToText(value));
  }
}

TEST(RoundHalfEven2, RoundsToHundredthsWithExactTiesToEven) {
  const struct {
    double value;
    double rounded;
  } cases[] = {
      {1789.3700136, 1789.37},
      {-41.010498750, -41.01},
      {0.125, 0.12},  // exactly halfway: to the even hundredth
      {0.375, 0.38},
      {-0.125, -0.12},
      {2.675, 2.67},  // the double below 2.675 is not a tie
      {1.005, 1.0},   // nor is this one (1.00499999999999989...)
      {0.135, 0.14},  // 0.135000000000000008882 lies above the half
      {111189.56589, 111189.57},
      {-0.001, 0},
      {0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(RoundHalfEven2(c.value), c.rounded) << c.value;
  EXPECT_FALSE(std::signbit(RoundHalfEven2(-0.001)));
}

TEST(FormatTwoDecimals, AlwaysTwoDecimalsNoGrouping) {
  EXPECT_EQ(FormatTwoDecimals(0), "0.00");
  EXPECT_EQ(FormatTwoDecimals(25.749622), "25.75");
  EXPECT_EQ(FormatTwoDecimals(22.3758), "22.38");
  EXPECT_EQ(FormatTwoDecimals(767.0827), "767.08");
  EXPECT_EQ(FormatTwoDecimals(1234567.891), "1234567.89");
  EXPECT_EQ(FormatTwoDecimals(-3.14159), "-3.14");
  EXPECT_EQ(FormatTwoDecimals(-0.001), "0.00");
  EXPECT_EQ(FormatTwoDecimals(0.5), "0.50");
}

TEST(RecentTable, KeepsTheMostRecentlyUsedAndShowsEachForgottenOne) {
  RecentTable<int> table(3);
  std::vector<std::string> forgotten;
  int made = 0;
  const auto use = [&](const char* name) {
    return table.Use(
        name, [&] { return ++made; },
        [&](const int& value) { forgotten.push_back(std::to_string(value)); });
  };
  // Each row: the name used, whether it was new, the names then kept (most recent first).
  const struct {
    const char* name;
    bool made;
    std::vector<std::string> kept;
  } rows[] = {{"a", true, {"a"}},           {"b", true, {"b", "a"}},
              {"c", true, {"c", "b", "a"}}, {"a", false, {"a", "c", "b"}},
              {"d", true, {"d", "a", "c"}},  // b, used longest ago, goes
              {"b", true, {"b", "d", "a"}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(use(row.name).made, row.made);
    std::vector<std::string> kept;
    for (const auto& [name, value] : table) kept.push_back(name);
    EXPECT_EQ(kept, row.kept);
  }
  EXPECT_EQ(forgotten, (std::vector<std::string>{"2", "3"}));  // b's and c's values
  // Finding does not reorder; a forget that empties the table leaves it usable.
  EXPECT_EQ(*table.Find("a"), 1);
  EXPECT_EQ(table.Find("c"), nullptr);
  const auto& entry = table.Use(
      "e", [] { return 9; }, [&](const int&) { table.TakeAll(); });
  EXPECT_EQ(entry.value, 9);
  EXPECT_EQ(table.Size(), 1u);
}

// Text from the network becomes a JSON string: whatever its bytes, the result parses, and every
// printable character but the quote and the backslash stands for itself.
TEST(JsonQuoted, AnyTextIsOneValidJsonStringAndReadsBackWhenPrintable) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", R"("")"},
      {"fleet/car7/nmea", R"("fleet/car7/nmea")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"line\r\nend", R"("line\r\nend")"},
      {std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"},
      {"\xc3\xa9t\xc3\xa9", R"("\u00c3\u00a9t\u00c3\u00a9")"},
      {std::string("nul\0here", 8), R"("nul\u0000here")"},
  };
  for (const auto& [text, json] : cases) {
    EXPECT_EQ(JsonQuoted(text), json);
    std::string appended = "[";
    AppendJsonQuoted(text, appended);
    EXPECT_EQ(appended, "[" + json);
    const auto parsed = nlohmann::json::parse(json, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << json;
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) {
      return (c >= 0x20 && c < 0x7f) || c == '\r' || c == '\n';
    });
    if (ascii) {
      EXPECT_EQ(parsed.get<std::string>(), text) << json;
    }
  }
}

}  // namespace
}  // namespace quorvane
