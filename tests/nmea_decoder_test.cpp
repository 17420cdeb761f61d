#include "nmea/nmea_decoder.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include "base/text_rules.hpp"
#include "nmea/fix_properties.hpp"
#include "nmea/gga_coordinates.hpp"
#include "support/fake_platform.hpp"

namespace quorvane {

void PrintTo(const FixRecord& f, std::ostream* os) {
  *os << "{lat " << LatitudeText(f) << " lon " << LongitudeText(f) << " alt " << f.AltitudeText
      << f.AltitudeUnitText << " sats " << f.SatellitesText << " utc " << UtcTimeText(f)
      << " local " << LocalTimeText(f) << " q " << f.QualityText << " speed " << SpeedText(f)
      << " dop " << f.HdopText << "/" << f.VdopText << " sat " << f.ElevationText << "/"
      << f.AzimuthText << "/" << f.SnrText << " odo " << f.OdometerTotal << " gga "
      << f.LastGgaText.size() << " chars}";
}

namespace {

constexpr const char* kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r";

class DecoderTest : public ::testing::Test {
 protected:
  DecoderTest() { platform_.now = ClockReading{.hour = 10, .utc_offset_minutes = 60}; }

  // A GGA sentence at a position, with a time field of our choosing.
  static std::string Gga(const std::string& time, const std::string& position) {
    return "$GPGGA," + time + "," + position + ",1,08,0.9,545.4,M,46.9,M,,*47\r";
  }

  testing::FakePlatform platform_;
  NmeaDecoder decoder_{[this] { return platform_.now; }};
  const FixRecord& fix_ = decoder_.Fix();
};

TEST_F(DecoderTest, GgaFillsPositionTimeAltitudeAndTheLastSentence) {
  const Decoded decoded = decoder_.ParseNMEA(kGga);
  EXPECT_EQ(decoded.type, SentenceType::kGga);
  EXPECT_EQ(decoded.changes,
            kPositionChanged | kTimeChanged | kAltitudeChanged | kSatellitesChanged);
  EXPECT_EQ(LatitudeText(fix_), "48.1173");
  EXPECT_EQ(LongitudeText(fix_), "11.5166666666667");
  EXPECT_TRUE(fix_.position_reported);
  EXPECT_EQ(fix_.AltitudeText, "545.4");
  EXPECT_EQ(fix_.altitude, 545.4);
  EXPECT_EQ(fix_.AltitudeUnitText, "M");
  EXPECT_EQ(fix_.SatellitesText, "08");
  EXPECT_EQ(UtcTimeText(fix_), "12:35:19");
  EXPECT_EQ(LocalTimeText(fix_), "13:35:19");
  EXPECT_EQ(fix_.QualityText, "1");
  EXPECT_EQ(fix_.LastGgaText, kGga);
  // Nothing else was touched.
  EXPECT_EQ(SpeedText(fix_), "");
  EXPECT_EQ(fix_.HdopText + fix_.VdopText + fix_.ElevationText + fix_.AzimuthText + fix_.SnrText,
            "");
}

TEST_F(DecoderTest, SouthAndWestAreNegative) {
  decoder_.ParseNMEA(Gga("000000", "3352.05,S,15112.6,W"));
  EXPECT_EQ(LatitudeText(fix_), "-33.8675");
  EXPECT_EQ(LongitudeText(fix_), "-151.21");
  decoder_.ParseNMEA(Gga("000000", "3352.05,n,15112.6,e"));  // only upper case counts
  EXPECT_EQ(LatitudeText(fix_), "-33.8675");
  EXPECT_EQ(LongitudeText(fix_), "-151.21");
}

TEST_F(DecoderTest, CoordinateOperationsTakeTheWholeSentence) {
  EXPECT_DOUBLE_EQ(GgaLatitude(kGga), 48.1173);
  EXPECT_DOUBLE_EQ(GgaLongitude(kGga), 11.0 + 31.0 / 60);
  EXPECT_EQ(GgaLatitude("$GPRMC,123519,A,4807.038,N,01131.000,E*6A\r"), 0);
  EXPECT_EQ(GgaLongitude("$GPGGA,1,2,N,00030,"), -0.5);  // empty hemisphere
  EXPECT_EQ(GgaLongitude("$GPGGA,1,2,N,03"), 0);         // shorter than the degree digits
  EXPECT_EQ(GgaLatitude("$GPGGA"), 0);
  // Plain digits are read in one pass: whatever the field, the degrees and the minutes are what
  // reading each part on its own gives, to the last bit.
  for (const std::string field :
       {"4807.038", "4807", "4807.", "48.5", "48", "4.807", ".4807", "4.", "0000.0001",
        "4807.0381234567890123", " 4807.038", "+4807.038", "4807.038X", "4807.03.8", "4807e1"}) {
    const std::string_view text = field;
    const double parts =
        ReadLeadingNumber(text.substr(0, 2)) + ReadLeadingNumber(text.substr(2)) / 60;
    EXPECT_EQ(GgaLatitude("$GPGGA,1," + field + ",N"), parts) << field;
  }
}

TEST_F(DecoderTest, TheFractionOfASecondIsDroppedAndMissingDigitsAreMissing) {
  decoder_.ParseNMEA(Gga("235959.50", "4807.038,N,01131.000,E"));
  EXPECT_EQ(UtcTimeText(fix_), "23:59:59");
  decoder_.ParseNMEA(Gga("1234", "4807.038,N,01131.000,E"));
  EXPECT_EQ(UtcTimeText(fix_), "12:34:");
  decoder_.ParseNMEA(Gga("", "4807.038,N,01131.000,E"));
  EXPECT_EQ(UtcTimeText(fix_), "::");
}

TEST_F(DecoderTest, LocalTimeUsesTheOffsetInForceNow) {
  const struct {
    int offset_minutes;
    const char* utc;
    const char* local;
  } cases[] = {
      {60, "233010", "00:30:10"},    // UTC+1 crosses midnight
      {-300, "030000", "22:00:00"},  // UTC-5 goes back a day
      {0, "123519", "12:35:19"},
      {330, "234500", "05:15:00"},  // the minutes' carry moves the hour
      {345, "181500", "00:00:00"},
      {-570, "050000", "19:30:00"},
      {120, "", "02:00:00"},  // no time at all reads as midnight UTC
  };
  for (const auto& c : cases) {
    platform_.now.utc_offset_minutes = c.offset_minutes;
    decoder_.ParseNMEA(Gga(c.utc, "4807.038,N,01131.000,E"));
    EXPECT_EQ(LocalTimeText(fix_), c.local) << c.offset_minutes << " " << c.utc;
  }
}

TEST_F(DecoderTest, LocalTimeFollowsEveryGgaWithinOneSecondOfTheComputerClock) {
  // Ten fixes a second, all in one second of the computer's clock.
  for (const char* time : {"120000.00", "120000.10", "120001.00", "120002.50"}) {
    decoder_.ParseNMEA(Gga(time, "4807.038,N,01131.000,E"));
    EXPECT_EQ(LocalTimeText(fix_), "13:00:0" + std::string(1, time[5])) << time;
  }
}

TEST_F(DecoderTest, ASentenceWithoutAPositionClearsTheLastGgaAndTheQuality) {
  decoder_.ParseNMEA(kGga);
  decoder_.ParseNMEA("$GPGGA,123520,,,,,0,00,,,M,,M,,*66\r");
  EXPECT_EQ(LatitudeText(fix_), "0");
  EXPECT_EQ(LongitudeText(fix_), "0");
  EXPECT_EQ(LatitudeText(fix_), "0");
  EXPECT_EQ(fix_.LastGgaText, "");
  EXPECT_EQ(fix_.QualityText, "0");
  EXPECT_EQ(fix_.AltitudeText, "");
  EXPECT_EQ(UtcTimeText(fix_), "12:35:20");
}

TEST_F(DecoderTest, ATruncatedSentenceUpdatesWhatItStillCarries) {
  decoder_.ParseNMEA(kGga);
  const std::string short_gga = "$GPGGA,123600,4807.100,N,01131.000\r";
  decoder_.ParseNMEA(short_gga);
  EXPECT_EQ(LatitudeText(fix_), NumberToText(48 + 7.1 / 60));
  EXPECT_EQ(LongitudeText(fix_), "-11.5166666666667");  // no "E" to make it east
  EXPECT_EQ(fix_.OdometerTotal, 0);                     // nor a position for the odometer
  EXPECT_EQ(UtcTimeText(fix_), "12:36:00");
  EXPECT_EQ(fix_.AltitudeText, "545.4");  // fields it lacks keep their values
  EXPECT_EQ(fix_.QualityText, "1");
  EXPECT_EQ(fix_.LastGgaText, short_gga);  // a missing hemisphere does not mean "no position"
}

TEST_F(DecoderTest, ChecksumsAreNeverComparedAndOnlyTheTagCounts) {
  decoder_.ParseNMEA("$GPGGAX,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*00\r");
  EXPECT_EQ(LatitudeText(fix_), "48.1173");
  const FixRecord before = fix_;
  for (const char* ignored : {"$GNGGA,000000,1000.000,S,01000.000,W,1,05,,1,M,,M,,*00\r",
                              "$gpgga,000000,1000.000,S,01000.000,W,1,05,,1,M,,M,,*00\r",
                              "$PGRME,15.0,M,45.0,M,25.0,M*1C\r", "$GPGSA*56\r", "$\r", ""}) {
    decoder_.ParseNMEA(ignored);
    EXPECT_EQ(fix_, before) << ignored;
  }
}

TEST_F(DecoderTest, TheOdometerCountsOnlyBetweenReportedPositions) {
  decoder_.ParseNMEA(Gga("000001", "0000.000,N,00000.000,E"));
  EXPECT_EQ(fix_.OdometerTotal, 0);  // the first position starts the count
  decoder_.ParseNMEA(Gga("000002", "0000.000,N,00100.000,E"));
  EXPECT_EQ(fix_.OdometerTotal, 111189.57);
  decoder_.ParseNMEA(Gga("000003", "0000.000,N,00100.000,E"));
  EXPECT_EQ(fix_.OdometerTotal, 111189.57);  // standing still adds exactly 0
  decoder_.ParseNMEA("$GPGGA,000004,,,,,0,00,,,M,,M,,*66\r");
  EXPECT_EQ(fix_.OdometerTotal, 111189.57);  // a lost fix is no trip to 0,0
  decoder_.ParseNMEA(Gga("000005", "0000.000,N,00200.000,E"));
  EXPECT_EQ(fix_.OdometerTotal, 222379.14);
  decoder_.Fix().OdometerTotal = 0;  // as ResetOdometer does: the last position stays
  decoder_.ParseNMEA(Gga("000006", "0000.000,N,00300.000,E"));
  EXPECT_EQ(fix_.OdometerTotal, 111189.57);
}

TEST_F(DecoderTest, EachSentenceSaysWhatItWrote) {
  decoder_.ParseNMEA(kGga);
  const Decoded lost = decoder_.ParseNMEA("$GPGGA,123520,,,,,0,00,,,M,,M,,*66\r");
  EXPECT_EQ(lost.type, SentenceType::kGga);
  EXPECT_TRUE(lost.changes & kPositionChanged);  // to "no position"
  EXPECT_FALSE(fix_.position_reported);
  EXPECT_EQ(fix_.altitude, std::nullopt);  // an empty altitude is no number
  EXPECT_EQ(decoder_.ParseNMEA("$GPRMC,1,A,4807.038,N,01131.000,E,022.4,084.4*6A\r").changes,
            kSpeedChanged);
  EXPECT_EQ(decoder_.ParseNMEA("$GPGSA,A,3,,,,,,,,,,,,,2.5,1.3,2.1*39\r").changes, kDopChanged);
  EXPECT_EQ(decoder_.ParseNMEA("$GPGSV,3,1,11,03,03,111,00*74\r").changes, kSignalChanged);
  // Too few fields to take anything from: the type is known, nothing is written.
  const Decoded short_gsa = decoder_.ParseNMEA("$GPGSA,A,3*00\r");
  EXPECT_EQ(short_gsa.type, SentenceType::kGsa);
  EXPECT_EQ(short_gsa.changes, 0);
  EXPECT_EQ(decoder_.ParseNMEA("$GPVTG,1\r").type, std::nullopt);
}

TEST_F(DecoderTest, RmcSetsTheSpeedInKilometresPerHour) {
  decoder_.ParseNMEA("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r");
  EXPECT_EQ(SpeedText(fix_), "41.4848");
  decoder_.ParseNMEA("$GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r");
  EXPECT_EQ(SpeedText(fix_), "41.4848");
  decoder_.ParseNMEA("$GPRMC,123520,V,,,,,,,230394,,*6A\r");
  EXPECT_EQ(SpeedText(fix_), "0");
  decoder_.ParseNMEA("$GPRMC,123520,A,4807.038,N\r");
  EXPECT_EQ(SpeedText(fix_), "0");    // no speed field: unchanged
  EXPECT_EQ(LatitudeText(fix_), "");  // RMC never touches the position
}

TEST_F(DecoderTest, GsaSetsDilutionOfPrecision) {
  decoder_.ParseNMEA("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r");
  EXPECT_EQ(fix_.HdopText, "1.3");
  EXPECT_EQ(fix_.VdopText, "2.1");
  decoder_.ParseNMEA("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.4,2.2,1*0D\r");  // a field more
  EXPECT_EQ(fix_.HdopText, "1.4");
  EXPECT_EQ(fix_.VdopText, "2.1");
  decoder_.ParseNMEA("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.5,2.3\r");  // no checksum
  EXPECT_EQ(fix_.HdopText, "1.5");
  EXPECT_EQ(fix_.VdopText, "2.1");
  decoder_.ParseNMEA("$GPGSA,A,1,,,,,,,,,,,,,,,*1E\r");
  EXPECT_EQ(fix_.HdopText, "");
  EXPECT_EQ(fix_.VdopText, "");
  decoder_.ParseNMEA("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,0.9,1.1*39\r");
  decoder_.ParseNMEA("$GPGSA,A,3*00\r");
  EXPECT_EQ(fix_.HdopText, "0.9");
  EXPECT_EQ(fix_.VdopText, "1.1");
}

TEST_F(DecoderTest, GsvSetsTheFirstSatelliteOfTheSentence) {
  decoder_.ParseNMEA("$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74\r");
  EXPECT_EQ(fix_.ElevationText, "03");
  EXPECT_EQ(fix_.AzimuthText, "111");
  EXPECT_EQ(fix_.SnrText, "00");
  decoder_.ParseNMEA("$GPGSV,3,3,11,22,42,067,42*4C\r");
  EXPECT_EQ(fix_.ElevationText, "42");
  EXPECT_EQ(fix_.SnrText, "42");
  decoder_.ParseNMEA("$GPGSV,1,1,01,07,10,200,*47\r");
  EXPECT_EQ(fix_.SnrText, "");
  decoder_.ParseNMEA("$GPGSV,1,1,00*79\r");  // no satellite: nothing changes
  EXPECT_EQ(fix_.ElevationText, "10");
  EXPECT_EQ(fix_.AzimuthText, "200");
}

}  // namespace
}  // namespace quorvane

namespace quorvane {
namespace {

TEST_F(DecoderTest, ChecksumsAreReadExactlyAndCheckedOnlyWhenAskedFor) {
  const std::string body = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
  const struct {
    std::string sentence;
    ChecksumCheck check;
  } cases[] = {
      {body + "*47\r", ChecksumCheck::kRight},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a\r",
       ChecksumCheck::kRight},  // lower-case hex
      // Longer than NMEA's 82 characters, as receivers send them: still checked.
      {"$GPGSV,3,3,11,22,42,067,42,24,14,311,43,27,05,244,00,,,,,12,34,567,89,12,34,567,89*4D\r",
       ChecksumCheck::kRight},
      {body + "\r", ChecksumCheck::kNone},
      {body + "*48\r", ChecksumCheck::kWrong},
      {body + "*G1\r", ChecksumCheck::kWrong},
      {body + "*4\r", ChecksumCheck::kWrong},
      {body + "*\r", ChecksumCheck::kWrong},
      {body + "*47x\r", ChecksumCheck::kWrong},
      {body + "*470\r", ChecksumCheck::kWrong},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckChecksum(c.sentence), c.check) << c.sentence;

  // Off, a wrong checksum is decoded as the control always did; on, it changes nothing.
  decoder_.ParseNMEA(body + "*00\r");
  EXPECT_EQ(LatitudeText(fix_), "48.1173");
  decoder_.VerifyChecksum(true);
  const FixRecord before = fix_;
  for (const auto& c : cases) {
    if (c.check != ChecksumCheck::kWrong) continue;
    EXPECT_TRUE(decoder_.ParseNMEA(c.sentence).refused) << c.sentence;
    EXPECT_EQ(fix_, before) << c.sentence;
  }
  EXPECT_EQ(decoder_.ChecksumErrors(), 6);
  EXPECT_FALSE(decoder_.ParseNMEA(body + "*47\r").refused);
  EXPECT_FALSE(decoder_.ParseNMEA(body + "\r").refused);  // no checksum, nothing to refuse
}

TEST_F(DecoderTest, EveryTalkerIsTakenOnlyWhenAskedForAndNeverAMakersOwn) {
  const std::string gn = "$GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*59\r";
  decoder_.ParseNMEA(gn);
  EXPECT_EQ(LatitudeText(fix_), "");  // the control's own default: $GP only
  decoder_.AllTalkers(true);
  for (const char* other : {"$GLGGA", "$GAGGA", "$BDGGA", "$GQGGA", "$GIGGA", "$GBGGA"}) {
    EXPECT_EQ(SentenceTypeOf(std::string(other) + ",1\r", true), SentenceType::kGga) << other;
  }
  for (const char* never :
       {"$PGRMC,1\r", "$PUBX,00\r", "$1NGGA,1\r", "$G-GGA,1\r", "$gnGGA,1\r", "$GNGG\r"}) {
    EXPECT_EQ(decoder_.ParseNMEA(never).type, std::nullopt) << never;
  }
  EXPECT_EQ(decoder_.ParseNMEA(gn).type, SentenceType::kGga);
  EXPECT_EQ(LatitudeText(fix_), "48.1173");
  EXPECT_EQ(fix_.LastGgaText, gn);
  EXPECT_EQ(fix_.OdometerTotal, 0);
  decoder_.ParseNMEA("$GNGGA,123600,4807.100,N,01131.000\r");  // truncated, as a $GP one would be
  EXPECT_EQ(LongitudeText(fix_), "-11.5166666666667");
  EXPECT_EQ(UtcTimeText(fix_), "12:36:00");

  // NMEA 4.10: a system id after the VDOP; the last GSA wins, whatever its constellation.
  decoder_.ParseNMEA("$GNGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.4,2.2,1*0D\r");
  decoder_.ParseNMEA("$GNGSA,A,3,68,69,,,,,,,,,,,2.5,1.5,2.3,2*0D\r");
  EXPECT_EQ(fix_.HdopText, "1.5");
  EXPECT_EQ(fix_.VdopText, "2.3");
  decoder_.ParseNMEA("$GLGSV,3,3,10,83,27,309,31,1*6A\r");  // and a signal id after the SNR
  EXPECT_EQ(fix_.ElevationText + "/" + fix_.AzimuthText + "/" + fix_.SnrText, "27/309/31");
}

}  // namespace
}  // namespace quorvane
