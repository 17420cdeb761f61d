// A recorded log as a source: its blocks, its pacing by the fix times, its end, and the control
// reading it.

#include "sources/log_replay.hpp"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "control/gps.hpp"
#include "support/fake_platform.hpp"
#include "support/files.hpp"
#include "support/run_until.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;

class LogReplayTest : public ::testing::Test {
 protected:
  std::string WriteLog(const std::string& text) {
    const std::string path = folder_.File("log.nmea");
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  static std::string Fix(const std::string& time) {
    return "$GPGGA," + time + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n$GPRMC," +
           time + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
  }

  asio::io_context io_;
  testing::ScratchFolder folder_;
  std::vector<std::string> blocks_;
  int ends_ = 0;
};

TEST_F(LogReplayTest, PacedItHandsOnOneFixABlockAtTheFixTimesOverMidnightAndGaps) {
  // Before midnight, after it, then an hour's gap in the log: 3 s of receiver time in all.
  std::string text = "\n# the keeper's note: $GPGGA,1\n";
  for (const char* time : {"235958.00", "235959.00", "000000.00", "010000.00"}) text += Fix(time);
  const std::string log = WriteLog(text + "$GPGSA,A,3");
  LogReplay replay(io_, log, 10);
  replay.OnEnd([&] { ++ends_; });
  const auto begun = std::chrono::steady_clock::now();
  replay.Begin([&](std::string_view block, std::string_view) { blocks_.emplace_back(block); });
  ASSERT_TRUE(testing::RunUntil(
      io_, [&] { return ends_ > 0; }, 5000ms));
  EXPECT_GE(std::chrono::steady_clock::now() - begun, 290ms);  // never ahead of the fix times

  ASSERT_EQ(blocks_.size(), 4u);
  EXPECT_EQ(blocks_[0],
            "$GPGGA,235958.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
            "$GPRMC,235958.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A"
            "\r\n");
  EXPECT_TRUE(blocks_[3].starts_with("$GPGGA,010000.00"));
  EXPECT_TRUE(blocks_[3].ends_with("\r\n$GPGSA,A,3\r\n"));  // the last line gets its line end
  EXPECT_EQ(replay.ShareDone(), 1);
  EXPECT_FALSE(replay.IsOpen());
  EXPECT_EQ(testing::RunFor(io_, 50ms), 0u);  // nothing more after the end
  EXPECT_EQ(ends_, 1);
}

TEST_F(LogReplayTest, AsFastAsItGoesItHandsOnLargeBlocksOneATurnOfTheLoop) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += Fix("120000");
  LogReplay replay(io_, WriteLog(text), LogReplay::kAsFastAsItGoes);
  replay.OnEnd([&] { ++ends_; });
  replay.Begin([&](std::string_view block, std::string_view) { blocks_.emplace_back(block); });
  io_.run_one();
  EXPECT_EQ(blocks_.size(), 1u);  // the loop gets its turn between blocks
  io_.run();
  EXPECT_EQ(ends_, 1);
  std::string all;
  for (const auto& block : blocks_) {
    EXPECT_LE(block.size(), 65507u);  // one datagram, if it is rebroadcast
    all += block;
  }
  std::string expected;
  for (int i = 0; i < 3000; ++i) expected += Fix("120000");
  size_t at = 0;
  while ((at = expected.find("*47\n", at)) != std::string::npos) expected.replace(at, 4, "*47\r\n");
  EXPECT_EQ(all, expected);
  EXPECT_GT(blocks_.size(), 3u);
}

TEST_F(LogReplayTest, EveryLineEndIsOneAndALineLongerThanABlockIsLeftOutWhole) {
  // CR alone ends a line too; a line too long to hand on is not cut into a shorter sentence
  // ending where its receiver never ended it (its end would decode as another longitude).
  const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
  const std::string too_long = "$GPGGA,123519,4807.038,N,0113" + std::string(70000, '0');
  const std::string far_too_long = too_long + std::string(200000, '0');  // read in many pieces
  LogReplay replay(
      io_, WriteLog(gga + "\r" + too_long + "\n" + gga + "\r\r\n" + far_too_long + "\r\n" + gga),
      LogReplay::kAsFastAsItGoes);
  replay.Begin([&](std::string_view block, std::string_view) { blocks_.emplace_back(block); });
  io_.run();
  std::string all;
  for (const auto& block : blocks_) all += block;
  EXPECT_EQ(all, gga + "\r\n" + gga + "\r\n" + gga + "\r\n");
}

TEST_F(LogReplayTest, OnlyARegularFileThatCanBeReadIsALog) {
  ::mkfifo(folder_.File("fifo").c_str(), 0600);
  for (const std::string& path :
       {folder_.File("missing.nmea"), folder_.File(""), folder_.File("fifo")}) {
    try {
      LogReplay replay(io_, path, 1);
      ADD_FAILURE() << path;
    } catch (const std::runtime_error& error) {
      EXPECT_TRUE(std::string(error.what()).starts_with("Cannot read " + path + ": "))
          << error.what();
    }
  }
}

TEST_F(LogReplayTest, TheControlReadsALogLikeAReceiverAndStopGpsEndsIt) {
  testing::FakePlatform platform;
  GPS gps(io_, platform);
  std::vector<FixChanges> updates;
  gps.Advise({.Stream = [&](std::string& data) { blocks_.push_back(data); },
              .FixUpdated = [&](FixChanges changes) { updates.push_back(changes); }});
  std::string text;
  for (int i = 0; i < 20; ++i) text += Fix("1200" + std::to_string(10 + i));
  auto replay = std::make_shared<LogReplay>(io_, WriteLog(text), 1000);
  gps.Open(replay);
  EXPECT_TRUE(gps.Engine());
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return blocks_.size() == 3; }));
  EXPECT_EQ(gps.GPS_Time(), "12:00:12");
  ASSERT_EQ(updates.size(), 6u);  // a GGA and an RMC a block
  EXPECT_TRUE(updates[0] & kPositionChanged);
  EXPECT_EQ(updates[1], kSpeedChanged | kTimeChanged);  // the RMC carries a date
  gps.StopGPS();
  EXPECT_FALSE(gps.Engine());
  testing::RunFor(io_, 100ms);
  EXPECT_EQ(blocks_.size(), 3u);
}

}  // namespace
}  // namespace quorvane
