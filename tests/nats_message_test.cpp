// What a fleet on NATS is told by its users and sent by its vehicles: addresses and subjects,
// and TPV objects read back into epochs, the bad ones refused with a reason.

#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "nats/nats_address.hpp"
#include "nats/nats_source.hpp"
#include "sinks/gpsd_json.hpp"
#include "sources/source_factory.hpp"
#include "sources/tpv_fix.hpp"

namespace quorvane {
namespace {

TEST(NatsAddress, FormsFaultsAndThePasswordKeptOutOfSight) {
  const auto parsed = KnownSources().Parse("nats://ops:secret@n1,n2:4223/fleet.*.fix?durable=c1");
  ASSERT_TRUE(std::holds_alternative<SourceAddress>(parsed)) << std::get<std::string>(parsed);
  const auto& fleet = std::get<SourceAddress>(parsed);
  EXPECT_EQ(fleet.port, kNatsPort);
  EXPECT_EQ(fleet.alternates.size(), 1u);
  EXPECT_EQ(fleet.path, "fleet.*.fix");
  EXPECT_EQ(fleet.options, "durable=c1");
  EXPECT_EQ(NatsAddressText(fleet), "nats://ops@n1:4222,n2:4223/fleet.*.fix");
  EXPECT_EQ(NatsServersOf(fleet).urls.back(), "nats://n2:4223");

  const std::pair<const char*, const char*> bad[] = {
      {"nats://n1", "no subject"},
      {"nats://n1/fleet..fix", "an empty token"},
      {"nats://n1/fleet.car*.fix", "whole tokens"},
      {"nats://n1/fleet.>.fix", "whole tokens"},
      {"nats://n1/fleet. car", "no spaces"},
  };
  for (const auto& [text, what] : bad) {
    const auto refused = KnownSources().Parse(text);
    ASSERT_TRUE(std::holds_alternative<std::string>(refused)) << text;
    EXPECT_NE(std::get<std::string>(refused).find(what), std::string::npos)
        << std::get<std::string>(refused);
  }
  // A publisher's prefix names one vehicle: no wildcard, no options.
  EXPECT_TRUE(std::holds_alternative<std::string>(ParseNatsPublishAddress("nats://h/fleet.*")));
  const auto refused = ParseNatsPublishAddress("nats://u:hidden@h/fleet.>");
  ASSERT_TRUE(std::holds_alternative<std::string>(refused));
  EXPECT_EQ(std::get<std::string>(refused).find("hidden"), std::string::npos);

  EXPECT_EQ(TokenMatched("fleet.*.fix", "fleet.car7.fix"), "car7");
  EXPECT_EQ(TokenMatched("parts.*.fix.1", "parts.car7.fix.1"), "car7");
  EXPECT_EQ(TokenMatched("fleet.>", "fleet.car7.fix"), "fleet.car7.fix");
  EXPECT_EQ(SubjectRoot("fleet.car7"), "fleet");
}

TEST(NatsAddress, SinceIsASpanBackOrAnIsoTime) {
  const auto now = std::chrono::system_clock::from_time_t(1'800'000'000);
  EXPECT_EQ(SinceTime("-1h", now), now - std::chrono::hours(1));
  EXPECT_EQ(SinceTime("-90s", now), now - std::chrono::seconds(90));
  EXPECT_EQ(SinceTime("2027-01-15T08:00:00Z", now), now);  // 1,800,000,000 s after 1970
  EXPECT_EQ(SinceTime("2027-01-15T08:00:00.250Z", now), now + std::chrono::milliseconds(250));
  for (const char* bad : {"", "-", "-1", "-1y", "1h", "-h", "-99999999999h", "2027-13-01T00:00:00Z",
                          "2027-01-15 08:00:00Z", "yesterday"}) {
    EXPECT_FALSE(SinceTime(bad, now)) << bad;
  }
}

TEST(TpvFix, ReadsBackWhatIsWrittenAndRefusesTheRestWithAReason) {
  Fix fix;
  fix.date = CalendarDate{2026, 12, 7};
  fix.time = UtcTime{(12 * 3600 + 30) * int64_t{1000000} + 500000};
  fix.mode = FixMode::k3D;
  fix.status = FixStatus::kDifferential;
  fix.latitude = -33.5;
  fix.longitude = 151.25;
  fix.altitude_msl = 12.5;
  fix.speed = 3.25;
  fix.latitude_error = 1.5;
  const ReadTpv read = FixOfTpv(TpvJson(fix, "car7"));
  ASSERT_TRUE(read.fix) << read.fault;
  EXPECT_EQ(read.fix->date, fix.date);
  EXPECT_EQ(read.fix->time, fix.time);
  EXPECT_EQ(read.fix->mode, fix.mode);
  EXPECT_EQ(read.fix->status, fix.status);
  EXPECT_EQ(read.fix->latitude, fix.latitude);
  EXPECT_EQ(read.fix->longitude, fix.longitude);
  EXPECT_EQ(read.fix->altitude_msl, fix.altitude_msl);
  EXPECT_EQ(read.fix->speed, fix.speed);
  EXPECT_EQ(read.fix->latitude_error, fix.latitude_error);

  const std::pair<std::string, const char*> bad[] = {
      {"$GPGGA,120000,4808.2454,N,01134.5277,E,1,08,0.9,520.0,M,46.9,M,,*61", "no JSON object"},
      {"[1,2]", "no JSON object"},
      {R"({"class":"SKY"})", "no TPV object"},
      {R"({"class":"TPV"})", "\"mode\""},
      {R"({"class":"TPV","mode":"3"})", "\"mode\""},
      {R"({"class":"TPV","mode":3,"lat":"48.1"})", "\"lat\" is no number"},
      {R"({"class":"TPV","mode":3,"lat":91,"lon":0})", "off the globe"},
      {R"({"class":"TPV","mode":3,"time":"12:00:00Z"})", "no UTC time"},
      {R"({"class":"TPV","mode":3,"status":99})", "\"status\""},
      {"{\"class\":\"TPV\",\"mode\":3,\"device\":\"" + std::string(1 << 20, 'x') + "\"}",
       "longer than 64 KiB"},
  };
  for (const auto& [text, what] : bad) {
    const ReadTpv refused = FixOfTpv(text);
    EXPECT_FALSE(refused.fix) << text.substr(0, 60);
    EXPECT_NE(refused.fault.find(what), std::string::npos) << refused.fault;
  }
}

TEST(TpvFix, AVehiclesEpochIsNewOnlyWhenLaterThanItsLast) {
  LatestEpochs latest;
  Fix at_noon;
  at_noon.date = CalendarDate{2026, 12, 7};
  at_noon.time = UtcTime{12 * 3600 * int64_t{1000000}};
  Fix later = at_noon;
  later.time->microseconds += 1000000;
  EXPECT_TRUE(latest.IsNew("car7", at_noon));
  EXPECT_TRUE(latest.IsNew("car8", at_noon));
  EXPECT_TRUE(latest.IsNew("car7", later));
  EXPECT_FALSE(latest.IsNew("car7", later));    // delivered again
  EXPECT_FALSE(latest.IsNew("car7", at_noon));  // older than the last taken
  EXPECT_TRUE(latest.IsNew("car7", Fix{}));     // no time: nothing to tell it by
}

}  // namespace
}  // namespace quorvane
