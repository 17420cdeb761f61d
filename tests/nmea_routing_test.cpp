#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "nmea/nmea_decoder.hpp"
#include "nmea/sentence_census.hpp"
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

TEST(SentenceFields, AgreesWithASplitOneCharacterAtATimeForEveryLengthAndPlaceOfCommas) {
  // Chunks of sixteen or words of eight are read at once and the last characters in an
  // overlapping one: a comma in any place, at any length, is one cut, and a byte of 0x2c's
  // neighbours (0xac, '\0') none.
  std::mt19937 random(7);
  const char kCharacters[] = {',', ',', 'a', '7', '\0', '\xac', '-', '*'};
  for (size_t length = 0; length < 70; ++length) {
    for (int trial = 0; trial < 40; ++trial) {
      std::string text(length, ' ');
      for (char& c : text) c = kCharacters[random() % sizeof kCharacters];
      std::vector<std::string_view> expected;
      size_t start = 0;
      for (size_t at = 0; at <= length && expected.size() < SentenceFields::kCapacity; ++at) {
        if (at == length || text[at] == ',') {
          expected.push_back(std::string_view(text).substr(start, at - start));
          start = at + 1;
        }
      }
      const SentenceFields fields(text);
      ASSERT_EQ(fields.size(), expected.size()) << length;
      for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(fields[i], expected[i]) << length << " field " << i;
        EXPECT_EQ(fields.Filled(i), !expected[i].empty());
      }
    }
  }
}

TEST(SentenceCensus, CountsEachSentenceUnderItsWholeTagWhateverTagsWereHeardBefore) {
  // A tag heard before is found from the sentence's first characters: a longer tag that begins
  // with it, a tag ended by "*" or CR, a short sentence and a long proprietary tag are each
  // still their own.
  SentenceCensus census;
  for (const char* sentence :
       {"$GPGGA,1*00\r", "$GPGGAX,1\r", "$GPGGA*00\r", "$GPGGA\r\n", "$GPGGA,", "$PUBX,00*33\r",
        "$PGRME,1\r", "$PGRMEX1,1\r", "$PGRMEX123,1\r", "$PGRMEX123,2\r", "$GP GGA,1\r",
        "$GPGGA;1,2\r", "$GPGGA,2*00\r"}) {
    census.Count(sentence);
  }
  std::vector<std::pair<std::string, uint64_t>> counted;
  for (const auto& tag : census.Tags()) counted.emplace_back(tag.tag, tag.count);
  const std::vector<std::pair<std::string, uint64_t>> expected{
      {"$GPGGA", 5},   {"$GPGGAX", 1},    {"$PUBX", 1}, {"$PGRME", 1},
      {"$PGRMEX1", 1}, {"$PGRMEX123", 2}, {"$?", 2}};
  EXPECT_EQ(counted, expected);
  EXPECT_EQ(census.Sentences(), 13u);
}

}  // namespace
}  // namespace quorvane
