// The fix as the host reads it: properties, distances, time zone and clock, and one trip from
// a pseudo-terminal through the serial path to a Stream handler reading the properties.

#include <gtest/gtest.h>

#include "control/gps.hpp"
#include "support/fake_platform.hpp"
#include "support/known_distances.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/run_until.hpp"

namespace quorvane {
namespace {

using testing::FakePlatform;

class GpsFixTest : public ::testing::Test {
 protected:
  // Feeds sentences as the serial path would, through a pseudo-terminal.
  void Receive(const std::string& text) {
    pty_.Write(text);
    const size_t before = streams_;
    ASSERT_TRUE(testing::RunUntil(io_, [&] { return streams_ > before; }));
  }
  void StartOnPty() {
    gps_.Advise({.Stream = [this](std::string&) { ++streams_; }});
    gps_.Port(pty_.AssignTo(230));
    gps_.Start();
    ASSERT_TRUE(gps_.Engine());
  }

  asio::io_context io_;
  FakePlatform platform_;
  testing::PseudoTerminal pty_;
  GPS gps_{io_, platform_};
  size_t streams_ = 0;
};

TEST_F(GpsFixTest, BeforeAnySentenceEveryPropertyHasItsEmptyValue) {
  for (const std::string& text :
       {gps_.Latitude(), gps_.Longitude(), gps_.RAW_Latitude(), gps_.RAW_Longitude(),
        gps_.Altitude(), gps_.AltitudeUnit(), gps_.Satellites(), gps_.GPS_Time(), gps_.LocalTime(),
        gps_.GPSQuality(), gps_.Speed(), gps_.HDOP(), gps_.VDOP(), gps_.Elevation(), gps_.Azimute(),
        gps_.SNR(), gps_.LastGPGGA()}) {
    EXPECT_EQ(text, "");
  }
  EXPECT_EQ(gps_.Altitude_Feet(), "0");
  EXPECT_EQ(gps_.Odometer(), "0");
  EXPECT_EQ(gps_.SpeedMph(), "0.00");
  EXPECT_EQ(gps_.SpeedKnots(), "0.00");
}

TEST_F(GpsFixTest, AStreamHandlerReadsTheDecodedFixEndToEnd) {
  StartOnPty();
  std::vector<std::string> seen;
  gps_.Advise({.Stream = [&](std::string&) {
    seen = {gps_.Latitude(),      gps_.Longitude(), gps_.GPS_Time(), gps_.Satellites(),
            gps_.Altitude_Feet(), gps_.Speed(),     gps_.SpeedMph(), gps_.SpeedKnots(),
            gps_.HDOP(),          gps_.VDOP(),      gps_.SNR(),      gps_.GPSQuality()};
  }});
  Receive(
      "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
      "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
      "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n"
      "$GPGSV,3,3,11,22,42,067,42*4C\r\n");
  EXPECT_EQ(seen,
            (std::vector<std::string>{"48.1173", "11.5166666666667", "12:35:19", "08", "1789.37",
                                      "41.4848", "25.78", "22.40", "1.3", "2.1", "42", "1"}));
  EXPECT_EQ(gps_.RAW_Latitude(), gps_.Latitude());
  EXPECT_EQ(gps_.LastGPGGA(),
            "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r");
}

TEST_F(GpsFixTest, StartEmptiesTheLastGgaSentenceAndNothingElse) {
  StartOnPty();
  Receive("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
  gps_.StopGPS();
  gps_.Start();
  EXPECT_EQ(gps_.LastGPGGA(), "");
  EXPECT_EQ(gps_.Latitude(), "48.1173");
}

TEST_F(GpsFixTest, UnitConversions) {
  StartOnPty();
  Receive("$GPGGA,1,4807.038,N,01131.000,E,1,08,0.9,-12.5,M,,M,,*47\r\n");
  EXPECT_EQ(gps_.Altitude_Feet(), "-41.01");
  Receive("$GPGGA,1,4807.038,N,01131.000,E,1,08,0.9,,M,,M,,*47\r\n");
  EXPECT_EQ(gps_.Altitude_Feet(), "0");
  Receive("$GPRMC,1,A,,,,,666.576,,,,*00\r\n");  // 1234.498752 km/h
  EXPECT_EQ(gps_.SpeedMph(), "767.08");
  EXPECT_EQ(gps_.SpeedKnots(), "666.58");
  Receive("$GPRMC,1,A,,,,,000.0,,,,*00\r\n");
  EXPECT_EQ(gps_.SpeedMph(), "0.00");
}

TEST_F(GpsFixTest, ResetOdometerZeroesTheTotalOnly) {
  StartOnPty();
  Receive("$GPGGA,1,0000.000,N,00000.000,E,1,08,0.9,1,M,,M,,*47\r\n");
  Receive("$GPGGA,2,0000.000,N,00100.000,E,1,08,0.9,1,M,,M,,*47\r\n");
  EXPECT_EQ(gps_.Odometer(), "111189.57");
  gps_.ResetOdometer();
  EXPECT_EQ(gps_.Odometer(), "0");
  EXPECT_EQ(gps_.Longitude(), "1");
}

TEST_F(GpsFixTest, DistanceMethodsAreTheGreatCircleOnes) {
  EXPECT_EQ(gps_.DistanceBetween2CoordinatesMeters(1, 2, 1, 2), 0);
  using testing::OneDegree;
  EXPECT_NEAR(gps_.DistanceBetween2CoordinatesMeters(0, 0, 0, 1), OneDegree::kMetres,
              OneDegree::kMetresAndFeetNear);
  EXPECT_NEAR(gps_.DistanceBetween2CoordinatesFoots(0, 0, 1, 0), OneDegree::kFeet,
              OneDegree::kMetresAndFeetNear);
  EXPECT_NEAR(gps_.DistanceBetween2CoordinatesMiles(0, 0, 1, 0), OneDegree::kMiles,
              OneDegree::kMilesNear);
}

TEST_F(GpsFixTest, TimeZoneReadsTheStandardBiasInHoursWestOfUtc) {
  const struct {
    int32_t bias;
    const char* hours;
  } cases[] = {{-60, "-1"}, {300, "5"}, {-330, "-5.5"}, {-345, "-5.75"}, {-540, "-9"}, {0, "0"}};
  for (const auto& c : cases) {
    platform_.bias_minutes = c.bias;
    EXPECT_EQ(gps_.TimeZone(), c.hours);
  }
}

TEST_F(GpsFixTest, AssigningTimeZoneOnlyReturnsTheStandardName) {
  platform_.bias_minutes = -330;
  platform_.standard_name = "IST";
  std::string value = "+3";
  gps_.TimeZone(value);
  EXPECT_EQ(value, "IST");
  EXPECT_EQ(gps_.TimeZone(), "-5.5");
}

TEST_F(GpsFixTest, ClockSettersTakeTheTimeTextsOfTheFix) {
  gps_.SetSystemClock_UTC();  // no time yet: midnight
  platform_.now = ClockReading{.utc_offset_minutes = 120};
  StartOnPty();
  Receive("$GPGGA,123456,4807.038,N,01131.000,E,1,08,0.9,1,M,,M,,*47\r\n");
  gps_.SetSystemClock_UTC();
  gps_.SetSystemClock_LocalTime();
  Receive("$GPGGA,1234,4807.038,N,01131.000,E,1,08,0.9,1,M,,M,,*47\r\n");
  gps_.SetSystemClock_UTC();
  using Setting = FakePlatform::ClockSetting;
  EXPECT_EQ(platform_.clock_settings,
            (std::vector<Setting>{
                {true, 0, 0, 0}, {true, 12, 34, 56}, {false, 14, 34, 56}, {true, 12, 34, 0}}));
}

TEST_F(GpsFixTest, EachCycleIsRaisedOnceBeforeItsBlocksStreamAndTheLastWhenTheSourceStops) {
  StartOnPty();
  gps_.VerifyChecksum(true);
  std::vector<std::string> events;
  gps_.Advise({.Stream = [&](std::string&) { events.push_back("stream"); },
               .Epoch =
                   [&](const quorvane::Fix& fix, const std::string& stream) {
                     events.push_back(TimeOfDayText(fix.time) + (fix.HasFix() ? " fix" : " none") +
                                      stream);
                   }});
  // A GN talker builds epochs though the properties take $GP only; a wrong checksum is refused
  // by both.
  Receive(
      "$GNRMC,120000,A,4807.038,N,01131.000,E,0.0,0.0,230394,,*0D\r\n"
      "$GNRMC,120001,A,4807.038,N,01131.000,E,0.0,0.0,230394,,*00\r\n"
      "$GNRMC,120002,V,,,,,,,230394,,*21\r\n");
  EXPECT_EQ(events, (std::vector<std::string>{"12:00:00 fix", "stream"}));
  EXPECT_EQ(gps_.Latitude(), "");
  EXPECT_EQ(gps_.ChecksumErrors(), 1);
  gps_.StopGPS();
  EXPECT_EQ(events.back(), "12:00:02 none");
}

}  // namespace
}  // namespace quorvane
