// Typed sentences and the epochs built from them: strict fields, the end of a cycle, what a
// cycle without a fix says, and input meant to hurt.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nmea/epoch_builder.hpp"
#include "sinks/gpsd_json.hpp"

namespace quorvane {
namespace {

constexpr char kGga[] = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
constexpr char kRmc[] = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

std::vector<Fix> Epochs(const std::vector<std::string>& sentences, bool finish = true) {
  std::vector<Fix> epochs;
  EpochBuilder builder([&](const Fix& fix) { epochs.push_back(fix); });
  for (const auto& sentence : sentences) builder.Take(sentence);
  if (finish) builder.Finish();
  return epochs;
}

std::string At(std::string sentence, const std::string& time) {
  sentence.replace(7, 6, time);
  return sentence;
}

TEST(TypedSentenceTest, FieldsAreReadStrictlyAndWhatFailsIsAbsentAndCounted) {
  const struct {
    std::string sentence;
    bool has_position;
    int malformed;
  } cases[] = {
      {kGga, true, 0},
      {"$GPGGA,|19322|1.00,|2037.|72792,N,08704.08478,W,1,04,1.7,-30.40,M,-13.9,M,,*7D", false, 2},
      {"$GPGGA,123519,4807.038,N,01131.000,X,1,08,0.9,545.4,M,46.9,M,,", false, 1},
      {"$GPGGA,123519,48O7.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", false, 1},
      {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,5e3,M,46.9,M,,", true, 1},
      {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,-1.2.3,M,46.9,M,,", true, 1},
      {"$GPGGA,123519,4867.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", false, 1},  // 67'
      {"$GPGGA,256161,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", true, 1},
  };
  for (const auto& c : cases) {
    const auto typed = DecodeTypedSentence(c.sentence);
    ASSERT_TRUE(typed) << c.sentence;
    const auto& gga = std::get<GgaSentence>(typed->value);
    EXPECT_EQ(gga.latitude.has_value() && gga.longitude.has_value(), c.has_position) << c.sentence;
    EXPECT_EQ(typed->malformed_fields, c.malformed) << c.sentence;
  }
  const auto south = std::get<GgaSentence>(
      DecodeTypedSentence("$GNGGA,000000.50,3352.05,S,15112.6,W,2,12,1,,,,,,")->value);
  EXPECT_DOUBLE_EQ(*south.latitude, -33.8675);
  EXPECT_DOUBLE_EQ(*south.longitude, -151.21);
  EXPECT_EQ(south.time->microseconds, 500000);
  EXPECT_FALSE(south.altitude);  // empty: absent, not 0
  // Dates are checked against the calendar, times against the clock.
  for (const char* date : {"321394", "290223", "000194"}) {
    const auto rmc = DecodeTypedSentence(std::string("$GPRMC,123519,A,,,,,,,") + date + ",,");
    EXPECT_FALSE(std::get<RmcSentence>(rmc->value).date) << date;
    EXPECT_EQ(rmc->malformed_fields, 1) << date;
  }
  EXPECT_TRUE(std::get<RmcSentence>(DecodeTypedSentence("$GPRMC,,V,,,,,,,290224,,")->value).date);
  // Every line end, and none.
  for (const char* end : {"\r\n", "\n", "\r\r\n", ""}) {
    const auto typed = DecodeTypedSentence(std::string(kGga).substr(0, 66) + end);
    EXPECT_DOUBLE_EQ(*std::get<GgaSentence>(typed->value).geoid_separation, 46.9) << end;
  }
  EXPECT_FALSE(DecodeTypedSentence("$PGRMZ,246,f,3*1B"));  // a maker's own
  EXPECT_FALSE(DecodeTypedSentence("$GPGGAX,123519"));
}

TEST(TypedSentenceTest, GsvAndGsaNameTheirSatellitesWhateverTheConstellation) {
  const auto gsv = std::get<GsvSentence>(
      DecodeTypedSentence("$GLGSV,3,1,09,65,03,111,00,66,,,,67,44,-5,41,68,90,359,*45")->value);
  ASSERT_EQ(gsv.satellite_count, 4);
  EXPECT_EQ(*gsv.satellites[0].snr, 0);
  EXPECT_FALSE(gsv.satellites[1].elevation);
  EXPECT_EQ(SatelliteOf({'G', 'L'}, 65, std::nullopt)->svid, 1);
  EXPECT_EQ(SatelliteOf({'G', 'L'}, 65, std::nullopt)->prn, 65);
  EXPECT_EQ(SatelliteOf({'G', 'A'}, 24, std::nullopt)->prn, 324);
  EXPECT_EQ(SatelliteOf({'G', 'N'}, 24, 4)->constellation, Constellation::kBeidou);
  EXPECT_EQ(SatelliteOf({'G', 'P'}, 33, std::nullopt)->svid, 120);  // SBAS
  EXPECT_FALSE(SatelliteOf({'G', 'A'}, 99, std::nullopt));
}

TEST(EpochBuilderTest, ACycleIsEveryOneOfItsSentencesAndEndsWhenItsLastIsLearned) {
  const std::string gsa = "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n";
  const std::vector<std::string> cycle1 = {kGga, kRmc, gsa};
  std::vector<std::string> log;
  for (const char* time : {"123519", "123520", "123521", "123522"}) {
    for (const auto& sentence : cycle1)
      log.push_back(sentence[4] == 'S' ? sentence : At(sentence, time));
  }
  // Without the end of the stream, the first three are known: the third ends at its GSA.
  const auto epochs = Epochs(log, false);
  ASSERT_EQ(epochs.size(), 4u);  // the fourth ended at its GSA too, once learned
  const Fix& first = epochs[0];
  EXPECT_EQ(IsoTimeText(first), "1994-03-23T12:35:19.000Z");  // RMC's date, same cycle
  EXPECT_EQ(first.mode, FixMode::k3D);
  EXPECT_EQ(first.status, FixStatus::kAutonomous);
  EXPECT_NEAR(*first.speed, 22.4 * 1852 / 3600, 1e-9);  // this cycle's RMC, not the last one's
  EXPECT_DOUBLE_EQ(*first.course, 84.4);
  EXPECT_DOUBLE_EQ(*first.magnetic_variation, -3.1);
  EXPECT_DOUBLE_EQ(*first.altitude_hae, 545.4 + 46.9);
  EXPECT_DOUBLE_EQ(*first.pdop, 2.5);
  EXPECT_EQ(first.satellites_used, 5);
  EXPECT_EQ(TpvJson(first, "").find("\"climb\""), std::string::npos);
  EXPECT_NE(TpvJson(epochs[1], "").find("\"climb\":0.000"), std::string::npos);
}

TEST(EpochBuilderTest, ASatelliteOnTwoSignalsOrTwiceInAGsaIsOneSatellite) {
  // NMEA 4.10: each signal has a group of its own; the satellite is listed once, with the SNR
  // of the signal that has one, and a GSA that names it twice uses it once.
  const auto epochs = Epochs({kGga, "$GPGSV,1,1,02,05,40,083,,07,17,308,41,1",
                              "$GPGSV,1,1,02,05,40,083,46,09,10,100,30,8",
                              "$GPGSA,A,3,05,07,05,,,,,,,,,,2.5,1.3,2.1", At(kGga, "123520")});
  ASSERT_FALSE(epochs.empty());
  const Fix& fix = epochs[0];
  std::vector<int> listed;
  for (const SatelliteInView& satellite : fix.in_view) listed.push_back(satellite.id.prn);
  EXPECT_EQ(listed, (std::vector<int>{5, 7, 9}));
  EXPECT_EQ(fix.in_view[0].snr, 46);
  EXPECT_TRUE(fix.in_view[0].used && fix.in_view[1].used && !fix.in_view[2].used);
  EXPECT_EQ(fix.satellites_used, 2);
}

TEST(EpochBuilderTest, NoFixMeansNoPositionWhateverSaysIt) {
  const std::vector<std::string> no_fixes[] = {
      {"$GPGGA,120000,4807.038,N,01131.000,E,0,00,,,M,,M,,"},  // quality 0, stale position
      {"$GPGGA,120000,4807.038,N,01131.000,E,8,08,0.9,545.4,M,46.9,M,,"},  // a simulator
      {"$GPRMC,120000,V,4807.038,N,01131.000,E,0.0,0.0,230394,,"},
      {"$GPGLL,4807.038,N,01131.000,E,120000,A,N"},
      {"$GNGNS,120000,4807.038,N,01131.000,E,NN,00,,,,,"},
      {kGga, At("$GPRMC,123519,V,,,,,,,230394,,", "123519")},
  };
  for (const auto& cycle : no_fixes) {
    const auto epochs = Epochs(cycle);
    ASSERT_EQ(epochs.size(), 1u) << cycle[0];
    EXPECT_EQ(epochs[0].mode, FixMode::kNoFix) << cycle[0];
    EXPECT_FALSE(epochs[0].latitude) << cycle[0];
    EXPECT_FALSE(epochs[0].speed) << cycle[0];
    EXPECT_EQ(TpvJson(epochs[0], "").find("\"lat\""), std::string::npos);
  }
  // A receiver that sends RMC, GLL or GNS alone has fixes too.
  for (const char* alone : {"$GPRMC,120000,A,4807.038,N,01131.000,E,0.0,0.0,230394,,",
                            "$ECGLL,4807.038,N,01131.000,E,120000,A",
                            "$GNGNS,120000,4807.038,N,01131.000,E,AN,05,1.0,545.4,46.9,,"}) {
    const auto epochs = Epochs({alone});
    ASSERT_EQ(epochs.size(), 1u) << alone;
    EXPECT_TRUE(epochs[0].HasFix()) << alone;
    EXPECT_DOUBLE_EQ(*epochs[0].latitude, 48.1173) << alone;
  }
}

TEST(EpochBuilderTest, TheDateCrossesMidnightAndALoopBackInTimeIsANewCycle) {
  const auto epochs = Epochs({At(kRmc, "235959"), At(kGga, "235959"), At(kGga, "000000"),
                              At(kGga, "000000"), At(kGga, "235958")});
  ASSERT_EQ(epochs.size(), 4u);  // the same sentence twice at one time is two cycles
  EXPECT_EQ(IsoTimeText(epochs[1]), "1994-03-24T00:00:00.000Z");
  EXPECT_EQ(IsoTimeText(epochs[2]), "1994-03-24T00:00:00.000Z");
  EXPECT_EQ(IsoTimeText(epochs[3]), "1994-03-24T23:59:58.000Z");  // back by less than a day
}

TEST(EpochBuilderTest, EndlessOrHugeInputKeepsItsBounds) {
  std::vector<Fix> epochs;
  EpochBuilder builder([&](const Fix& fix) { epochs.push_back(fix); });
  std::string wide = "$GPGSV,9,1,99";
  for (int i = 0; i < 10000; ++i) wide += ",x";
  builder.Take(wide);
  for (int i = 0; i < 100000; ++i) {
    builder.Take("$GPGSV,1,1,04,01,40,083,46,02,17,308,41,03,07,344,39,04,22,228,45*75");
    builder.Take("$GPGSA,A,3,01,02,03,04,,,,,,,,,2.5,1.3,2.1*39");
    builder.Take("$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48");
  }
  builder.Take(kGga);
  builder.Finish();
  ASSERT_EQ(epochs.size(), 1u);
  EXPECT_EQ(epochs[0].in_view.size(), 4u);
  EXPECT_TRUE(epochs[0].in_view[0].used);
  EXPECT_EQ(epochs[0].used.size(), 4u);
  EXPECT_GT(builder.MalformedFields(), 0u);
}

}  // namespace
}  // namespace quorvane
