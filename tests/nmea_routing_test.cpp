#include <gtest/gtest.h>

#include "nmea/nmea_decoder.hpp"
#include "nmea/sentence_fields.hpp"

namespace quorvane {
namespace {

TEST(SentenceTypeOf, ComparesTheFirstSixCharactersExactly) {
  EXPECT_EQ(SentenceTypeOf("$GPGGA,123519*47\r"), SentenceType::kGga);
  EXPECT_EQ(SentenceTypeOf("$GPGGAX,1\r"), SentenceType::kGga);
  EXPECT_EQ(SentenceTypeOf("$GPGGA"), SentenceType::kGga);
  EXPECT_EQ(SentenceTypeOf("$GPRMC,\r"), SentenceType::kRmc);
  EXPECT_EQ(SentenceTypeOf("$GPGSA\r"), SentenceType::kGsa);
  EXPECT_EQ(SentenceTypeOf("$GPGSV,3\r"), SentenceType::kGsv);
  for (const char* other : {"$GNGGA,1\r", "$gpgga,1\r", "$PGRME,1\r", "$GLGSV,1\r", "$GPGG\r",
                            "$GPVTG,1\r", "", "$", "GPGGA,1\r"}) {
    EXPECT_FALSE(SentenceTypeOf(other).has_value()) << other;
  }
}

TEST(SentenceFields, SplitsAtEveryCommaKeepingEmptyFieldsAndTheChecksum) {
  const SentenceFields fields("$GPGSV,1,1,01,07,,,42*4F\r");
  ASSERT_EQ(fields.size(), 8u);
  EXPECT_EQ(fields[0], "$GPGSV");
  EXPECT_EQ(fields[4], "07");
  EXPECT_EQ(fields[5], "");
  EXPECT_EQ(fields[6], "");
  EXPECT_EQ(fields[7], "42*4F\r");
  EXPECT_TRUE(fields.Has(7));
  EXPECT_FALSE(fields.Has(8));
}

TEST(SentenceFields, ASentenceWithoutCommasIsItsTagAlone) {
  const SentenceFields fields("$GPGSA*56\r");
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0], "$GPGSA*56\r");
  EXPECT_EQ(SentenceFields(",,").size(), 3u);
}

TEST(SentenceFields, KeepsTheFirstFieldsOfAnOverlongSentence) {
  const std::string many = "$GPGSA" + std::string(100, ',') + "end";
  const SentenceFields fields(many);
  EXPECT_EQ(fields.size(), SentenceFields::kCapacity);
  EXPECT_EQ(fields[17], "");
}

}  // namespace
}  // namespace quorvane
