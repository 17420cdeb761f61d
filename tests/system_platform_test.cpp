// The real machine's time-zone information, through the TZ variable (POSIX zone strings need no
// zone files), and the date chosen when the clock is set. Nothing here sets the clock.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>

#include "platform/loaded_library.hpp"
#include "platform/system_calls.hpp"

namespace quorvane {
namespace {

class ZoneTest : public ::testing::Test {
 protected:
  void Use(const char* zone) {
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  void TearDown() override {
    ::unsetenv("TZ");
    ::tzset();
  }
};

TEST_F(ZoneTest, BiasAndNameOfTheStandardTime) {
  const struct {
    const char* tz;
    int32_t bias;
    const char* name;
  } cases[] = {
      {"IST-5:30", -330, "IST"},
      {"NPT-5:45", -345, "NPT"},
      {"EST5EDT,M3.2.0,M11.1.0", 300, "EST"},  // daylight saving is left out
      {"CET-1CEST,M3.5.0,M10.5.0/3", -60, "CET"},
      {"UTC0", 0, "UTC"},
  };
  for (const auto& c : cases) {
    Use(c.tz);
    EXPECT_EQ(SystemCalls::GetTimeZoneBias(), c.bias) << c.tz;
    EXPECT_EQ(SystemCalls::GetTimeZoneStandardName(), c.name) << c.tz;
  }
}

TEST_F(ZoneTest, TheClockReadingCarriesTheOffsetInForce) {
  Use("IST-5:30");
  const ClockReading reading = SystemCalls::ReadClock();
  EXPECT_EQ(reading.utc_offset_minutes, 330);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  EXPECT_EQ(reading.year, local.tm_year + 1900);
  EXPECT_GE(reading.hundredths, 0);
  EXPECT_LT(reading.hundredths, 100);
}

TEST(NearestMomentWithTimeOfDay, PicksTheDateThatKeepsTheClockClosest) {
  constexpr int64_t kMidnight = 1'796'083'200;  // 2026-12-01 00:00:00 UTC
  // Just after midnight, 23:59:59 belongs to the day before.
  EXPECT_EQ(SystemCalls::NearestMomentWithTimeOfDay(kMidnight + 5, 0, 23, 59, 59), kMidnight - 1);
  // Just before midnight, 00:00:02 belongs to the day after.
  EXPECT_EQ(SystemCalls::NearestMomentWithTimeOfDay(kMidnight - 3, 0, 0, 0, 2), kMidnight + 2);
  EXPECT_EQ(SystemCalls::NearestMomentWithTimeOfDay(kMidnight + 3600, 0, 12, 34, 56),
            kMidnight + 45296);
  // Local time in UTC+5:30: 05:30 local is midnight UTC.
  EXPECT_EQ(SystemCalls::NearestMomentWithTimeOfDay(kMidnight + 60, 19800, 5, 30, 0), kMidnight);
  EXPECT_EQ(SystemCalls::NearestMomentWithTimeOfDay(kMidnight - 60, -18000, 19, 0, 0), kMidnight);
  EXPECT_FALSE(SystemCalls::NearestMomentWithTimeOfDay(kMidnight, 0, 24, 0, 0).has_value());
  EXPECT_FALSE(SystemCalls::NearestMomentWithTimeOfDay(kMidnight, 0, 0, 60, 0).has_value());
  EXPECT_FALSE(SystemCalls::NearestMomentWithTimeOfDay(kMidnight, 0, -1, 0, 0).has_value());
}

// A library loaded on first use that this machine lacks, or that lacks a function, is said by
// name and package, never a crash at the first call.
TEST(LoadedLibrary, AMissingLibraryOrFunctionIsSaidByNameAndPackage) {
  try {
    LoadedLibrary("libquorvane-absent.so.9", "libquorvane-absent9");
    FAIL() << "loaded a library that is not there";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(
        std::string(error.what()).find("libquorvane-absent.so.9 (Debian's libquorvane-absent9)"),
        std::string::npos)
        << error.what();
  }
  const LoadedLibrary c("libc.so.6", "libc6");
  EXPECT_NE(c.Function("strlen"), nullptr);
  EXPECT_THROW(c.Function("quorvane_no_such_function"), std::runtime_error);
}

}  // namespace
}  // namespace quorvane
