#include "receiver/line_assembler.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane {
namespace {

constexpr const char* kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r";
constexpr const char* kRmc =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r";

class Assembler {
 public:
  explicit Assembler(size_t limit = LineAssembler::kDefaultPendingLimit) : assembler_(limit) {}
  std::vector<std::string> Feed(std::string_view block) {
    std::vector<std::string> sentences;
    assembler_.Feed(block, [&](std::string_view s) { sentences.emplace_back(s); });
    return sentences;
  }
  std::string_view Pending() const { return assembler_.PendingText(); }

 private:
  LineAssembler assembler_;
};

using Sentences = std::vector<std::string>;

TEST(LineAssembler, CutsEverySentenceOfABlockInOrder) {
  Assembler a;
  EXPECT_EQ(a.Feed(std::string(kGga) + "\n" + kRmc + "\n"), (Sentences{kGga, kRmc}));
  EXPECT_EQ(a.Pending(), "\n");
}

TEST(LineAssembler, JoinsASentenceSplitOverThreeBlocks) {
  Assembler a;
  const std::string whole = std::string(kGga) + "\n";
  EXPECT_TRUE(a.Feed(whole.substr(0, 10)).empty());
  EXPECT_TRUE(a.Feed(whole.substr(10, 30)).empty());
  EXPECT_EQ(a.Feed(whole.substr(40)), (Sentences{kGga}));
}

TEST(LineAssembler, FindsACrLfPairSplitBetweenBlocks) {
  Assembler a;
  EXPECT_TRUE(a.Feed(kGga).empty());  // ends in the CR
  EXPECT_EQ(a.Feed("\n"), (Sentences{kGga}));
}

TEST(LineAssembler, DropsTheTailOfASentenceCutWhenThePortOpened) {
  Assembler a;
  EXPECT_EQ(a.Feed(std::string("00,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n") + kRmc + "\n"),
            (Sentences{kRmc}));
}

TEST(LineAssembler, NeverHandsOnLinesEndedByLineFeedAlone) {
  Assembler a;
  EXPECT_TRUE(a.Feed("$GPGGA,1\n$GPRMC,2\n$GPGSA,3\n").empty());
  EXPECT_TRUE(a.Feed("$GPGSV,4\n").empty());
}

TEST(LineAssembler, ADollarStartsANewSentenceAndTheCutOneIsDropped) {
  Assembler a;
  // Spliced, the two made a GGA with the RMC's fields in it (a longitude of -480).
  EXPECT_EQ(a.Feed(std::string("$GPGGA,123519,48") + kRmc + "\n"), (Sentences{kRmc}));
  EXPECT_EQ(a.Feed("$GPGGA,1$$GPGSA,2\r\n"), (Sentences{"$GPGSA,2\r"}));
}

TEST(LineAssembler, TextBetweenSentencesIsDropped) {
  Assembler a;
  EXPECT_EQ(a.Feed(std::string("noise\r\n\r\n") + kGga + "\nmore noise" + kRmc + "\n"),
            (Sentences{kGga, kRmc}));
  // Bytes of any value, NUL included, pass through unchanged.
  const std::string binary("$GP\0\xff,\x01\r\n", 9);
  EXPECT_EQ(a.Feed(binary), (Sentences{binary.substr(0, 8)}));
}

TEST(LineAssembler, AnUnfinishedSentenceWaits) {
  Assembler a;
  EXPECT_TRUE(a.Feed("\n$GPGGA,1234").empty());
  EXPECT_EQ(a.Pending(), "\n$GPGGA,1234");
  EXPECT_EQ(a.Feed("56\r\n"), (Sentences{"$GPGGA,123456\r"}));
}

TEST(LineAssembler, ByteByByteFeedingGivesTheSameSentences) {
  Assembler whole;
  Assembler bytes;
  const std::string text = std::string("xx\r\n") + kGga + "\n" + kRmc + "\n$GPGSA,A,3*00\r\n";
  const Sentences expected = whole.Feed(text);
  Sentences got;
  for (const char c : text) {
    for (auto& s : bytes.Feed(std::string_view(&c, 1))) got.push_back(std::move(s));
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(expected.size(), 3u);
}

TEST(LineAssembler, PendingTextStaysBoundedAndDecodingResumes) {
  Assembler a(1024);
  const std::string flood(100, 'x');
  for (int i = 0; i < 1000; ++i) {
    EXPECT_TRUE(a.Feed(flood).empty());
    EXPECT_LE(a.Pending().size(), 1024u);
  }
  EXPECT_TRUE(a.Feed("\r\n").empty());  // ends the flood; there was no "$" in it
  EXPECT_EQ(a.Feed(std::string(kGga) + "\n"), (Sentences{kGga}));
}

TEST(LineAssembler, KeepsTheNewestTextWhenTheBoundIsReached) {
  Assembler a(64);
  a.Feed("$GPGGA," + std::string(100, '1'));
  EXPECT_EQ(a.Pending(), std::string(64, '1'));
}

TEST(LineAssembler, ABlockLargerThanTheBoundIsDecodedWhole) {
  Assembler a(256);
  std::string block;
  for (int i = 0; i < 100; ++i) block += std::string(kGga) + "\n";
  EXPECT_EQ(a.Feed(block).size(), 100u);
}

}  // namespace
}  // namespace quorvane
