// Real receivers' logs through the control, read as a log source inside the loop, against the
// golden file beside each (gpsd's way: QGPS_UPDATE_GOLDEN=1 rewrites them after a deliberate
// change). A few values are worked out by hand from the sentences first.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/text_rules.hpp"
#include "control/gps.hpp"
#include "sources/log_replay.hpp"
#include "support/fake_platform.hpp"
#include "support/files.hpp"
#include "support/run_until.hpp"

namespace quorvane {
namespace {

const std::filesystem::path kLogs = RECEIVER_LOGS;

// The whole log through a control with the given settings; `inspect` sees the control at the end.
template <typename Inspect>
std::string Replay(const std::filesystem::path& log, bool modern, Inspect inspect) {
  asio::io_context io;
  testing::FakePlatform platform;
  GPS gps(io, platform);
  gps.AllTalkers(modern);
  gps.VerifyChecksum(modern);
  int fixes = 0;
  gps.Advise({.FixUpdated = [&](FixChanges changes) {
    if ((changes & kPositionChanged) && gps.Fix().position_reported) ++fixes;
  }});
  auto source = std::make_shared<LogReplay>(io, log.string(), LogReplay::kAsFastAsItGoes);
  bool ended = false;
  source->OnEnd([&] { ended = true; });
  gps.Open(source);
  EXPECT_TRUE(testing::RunUntil(io, [&] { return ended; })) << log;
  inspect(gps);
  const std::pair<const char*, std::string> properties[] = {
      {"Latitude", gps.Latitude()},
      {"Longitude", gps.Longitude()},
      {"Altitude", gps.Altitude()},
      {"AltitudeUnit", gps.AltitudeUnit()},
      {"Satellites", gps.Satellites()},
      {"GPS_Time", gps.GPS_Time()},
      {"GPSQuality", gps.GPSQuality()},
      {"Speed", gps.Speed()},
      {"HDOP", gps.HDOP()},
      {"VDOP", gps.VDOP()},
      {"Elevation", gps.Elevation()},
      {"Azimute", gps.Azimute()},
      {"SNR", gps.SNR()},
      {"Odometer", gps.Odometer()},
      {"LastGPGGA", gps.LastGPGGA()},
      {"ChecksumErrors", NumberToText(gps.ChecksumErrors())},
      {"Fixes", std::to_string(fixes)},
      {"Sentences", std::to_string(gps.Heard().Sentences())},
  };
  std::string text;
  for (const auto& [name, value] : properties) {
    text += std::string(name) + "=" + value;
    if (text.back() == '\r') text.pop_back();  // the last GGA keeps its CR
    text += '\n';
  }
  return text;
}

std::string Golden(const std::filesystem::path& log) {
  return "[every talker, checksums checked]\n" + Replay(log, true, [](GPS&) {}) + "[$GP only]\n" +
         Replay(log, false, [](GPS&) {});
}

TEST(ReceiverLogs, EachLogDecodesToItsGoldenFile) {
  const bool update = std::getenv("QGPS_UPDATE_GOLDEN") != nullptr;
  int logs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kLogs)) {
    if (entry.path().extension() != ".log") continue;
    ++logs;
    const std::string golden = Golden(entry.path());
    const std::filesystem::path expected = entry.path().string() + ".expected";
    if (update) std::ofstream(expected, std::ios::binary) << golden;
    EXPECT_EQ(golden, testing::ReadFile(expected.string())) << entry.path();
  }
  EXPECT_EQ(logs, 28);
  // Compared with what it just wrote, the test has checked nothing: it says so.
  if (update) GTEST_SKIP() << "golden files rewritten: review them with git diff";
}

TEST(ReceiverLogs, ValuesWorkedOutByHandFromTheLastSentences) {
  // $GNGGA,171948.00,4404.13902,N,12118.85371,W,1,12,1.05,1139.4,M,-21.3,M,,*48
  // $GNRMC,171948.00,A,4404.13902,N,12118.85371,W,0.059,,180315,,,A*72
  // $GNGSA,A,3,67,83,76,82,,,,,,,,,2.02,1.05,1.73*1C
  // $GLGSV,3,3,10,83,27,309,31,84,01,353,*6A
  Replay(kLogs / "neo-m8n.log", true, [](GPS& gps) {
    EXPECT_EQ(gps.Latitude(), "44.0689836666667");  // 44 + 4.13902 / 60
    EXPECT_EQ(gps.Longitude(), "-121.3142285");     // west: -(121 + 18.85371 / 60)
    EXPECT_EQ(gps.Altitude(), "1139.4");
    EXPECT_EQ(gps.GPS_Time(), "17:19:48");
    EXPECT_EQ(gps.Speed(), "0.109268");  // 0.059 kn * 1.852
    EXPECT_EQ(gps.HDOP(), "1.05");
    EXPECT_EQ(gps.VDOP(), "1.73");
    EXPECT_EQ(gps.Elevation() + "/" + gps.Azimute() + "/" + gps.SNR(), "27/309/31");
    EXPECT_TRUE(gps.LastGPGGA().starts_with("$GNGGA,171948.00,"));
  });
  // $GNGSA,A,3,04,05,09,11,36,,,,,,,,1.5,1.3,1.0,3*39: NMEA 4.10's system id after the VDOP.
  Replay(kLogs / "furuno_gl_ga.log", true, [](GPS& gps) {
    EXPECT_EQ(gps.HDOP(), "1.3");
    EXPECT_EQ(gps.VDOP(), "1.0");
  });
  // As the control decodes by default, a receiver that sends $GN positions gives none.
  Replay(kLogs / "rx210.log", false, [](GPS& gps) {
    EXPECT_EQ(gps.Latitude(), "");
    EXPECT_EQ(gps.LastGPGGA(), "");
  });
}

}  // namespace
}  // namespace quorvane
