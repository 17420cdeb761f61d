// gpsd's protocol served: what its clients ask and get, each device's reports to its watchers
// only, whole sentences however the text was cut, and clients that send nonsense or never read.
// The time daemons' shared memory: the layout they read, and a segment that is not ours.

#include "sinks/gpsd_server.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <nlohmann/json.hpp>

#include <asio/write.hpp>

#include "platform/send_budget.hpp"
#include "sinks/ntp_shm.hpp"
#include "support/run_until.hpp"
#include "support/sink_streams.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

Fix FixAt(double latitude, int second) {
  Fix fix;
  fix.mode = FixMode::k3D;
  fix.status = FixStatus::kAutonomous;
  fix.date = CalendarDate{2026, 12, 8};
  fix.time = UtcTime{(12 * 3600 + second) * 1'000'000LL};
  fix.latitude = latitude;
  fix.longitude = 11.5;
  fix.hdop = 0.9;
  return fix;
}

class GpsdServerTest : public ::testing::Test {
 protected:
  struct Peer {
    asio::ip::tcp::socket socket;
    std::string received;

    void Send(const std::string& text) { asio::write(socket, asio::buffer(text)); }
    // The JSON objects received so far, and the other lines as strings.
    std::vector<json> Objects() const {
      std::vector<json> objects;
      size_t start = 0;
      for (size_t end; (end = received.find('\n', start)) != std::string::npos; start = end + 1) {
        objects.push_back(json::parse(received.substr(start, end - start), nullptr, false));
      }
      return objects;
    }
    std::vector<json> OfClass(const std::string& name) const {
      std::vector<json> found;
      for (const json& object : Objects()) {
        if (object.is_object() && object.value("class", "") == name) found.push_back(object);
      }
      return found;
    }
  };

  explicit GpsdServerTest(std::string receiver = "/dev/ttyUSB0")
      : server_(io_, asio::ip::tcp::endpoint{asio::ip::make_address("127.0.0.1"), 0},
                std::move(receiver), streams_) {}

  Peer Connect(int receive_buffer = 0) {
    Peer peer{asio::ip::tcp::socket(io_), {}};
    peer.socket.open(asio::ip::tcp::v4());
    if (receive_buffer > 0) {
      peer.socket.set_option(asio::socket_base::receive_buffer_size(receive_buffer));
    }
    peer.socket.connect({asio::ip::make_address("127.0.0.1"), server_.Port()});
    EXPECT_TRUE(AwaitClass(peer, "VERSION"));
    return peer;
  }
  static void ReadWaiting(Peer& peer) {
    std::array<char, 65536> buffer{};
    std::error_code error;
    while (peer.socket.available(error) > 0 && !error) {
      peer.received.append(buffer.data(), peer.socket.read_some(asio::buffer(buffer), error));
    }
  }
  // Runs the loop until `peer` has `count` objects of that class.
  bool AwaitClass(Peer& peer, const std::string& name, size_t count = 1) {
    return testing::RunUntil(io_, [&] {
      ReadWaiting(peer);
      return peer.OfClass(name).size() >= count;
    });
  }
  void Settle(std::initializer_list<Peer*> peers) {
    testing::RunFor(io_, 100ms);
    for (Peer* peer : peers) ReadWaiting(*peer);
  }

  asio::io_context io_;
  testing::SinkStreams streams_;
  GpsdServer server_;
};

TEST_F(GpsdServerTest, WatchersGetTheEpochsAndTheWholeSentencesTheyAskedFor) {
  Peer json_watcher = Connect();
  Peer nmea_watcher = Connect();
  Peer idle = Connect();
  const json version = json_watcher.OfClass("VERSION").front();
  EXPECT_EQ(version["proto_major"], 3);

  json_watcher.Send("?WATCH={\"enable\":true,\"json\":true};");
  nmea_watcher.Send("?WATCH={\"enable\":true,\"nmea\":true}\n");  // a line end ends it too
  ASSERT_TRUE(AwaitClass(json_watcher, "WATCH"));
  ASSERT_TRUE(AwaitClass(nmea_watcher, "WATCH"));
  // The devices come before the watch, as gpsd sends them.
  const auto devices = json_watcher.OfClass("DEVICES");
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["devices"][0]["path"], "/dev/ttyUSB0");

  const std::string gga = "$GPGGA,120005,4807.038,N,01130.000,E,1,08,0.9,545.4,M,46.9,M,,*4B\r\n";
  const std::string rmc = "$GPRMC,120005,A,4807.038,N,01130.000,E,0.0,0.0,081226,,*2E\r\n";
  server_.TakeEpoch(FixAt(48.1173, 5), "");
  // Each whole sentence the receive path cut reaches the watcher on a line of its own.
  server_.TakeSentence(gga.substr(0, gga.size() - 1), "");
  server_.TakeSentence(rmc.substr(0, rmc.size() - 1), "");
  ASSERT_TRUE(AwaitClass(json_watcher, "TPV"));
  ASSERT_TRUE(testing::RunUntil(io_, [&] {
    ReadWaiting(nmea_watcher);
    return nmea_watcher.received.ends_with(rmc);
  }));
  Settle({&json_watcher, &nmea_watcher, &idle});

  const json tpv = json_watcher.OfClass("TPV").front();
  EXPECT_EQ(tpv["device"], "/dev/ttyUSB0");
  EXPECT_DOUBLE_EQ(tpv["lat"], 48.1173);
  EXPECT_EQ(tpv["time"], "2026-12-08T12:00:05.000Z");
  EXPECT_EQ(json_watcher.OfClass("SKY").size(), 1u);
  EXPECT_EQ(json_watcher.received.find("$GPGGA"), std::string::npos);
  const std::string after_watch =
      nmea_watcher.received.substr(nmea_watcher.received.rfind("\"class\":\"WATCH\""));
  EXPECT_EQ(after_watch.substr(after_watch.find('\n') + 1), gga + rmc);
  EXPECT_EQ(idle.Objects().size(), 1u);  // its VERSION only

  // Watching stops when asked; a poll still answers with the last epoch.
  json_watcher.Send("?WATCH={\"enable\":false};?POLL;");
  ASSERT_TRUE(AwaitClass(json_watcher, "POLL"));
  server_.TakeEpoch(FixAt(48.2, 6), "");
  Settle({&json_watcher});
  EXPECT_EQ(json_watcher.OfClass("TPV").size(), 1u);
  const json poll = json_watcher.OfClass("POLL").front();
  EXPECT_EQ(poll["active"], 1);
  EXPECT_DOUBLE_EQ(poll["tpv"][0]["lat"], 48.1173);
  EXPECT_FALSE(json_watcher.OfClass("WATCH").back()["enable"]);
}

class GpsdFleetServerTest : public GpsdServerTest {
 protected:
  GpsdFleetServerTest() : GpsdServerTest("") {}
};

TEST_F(GpsdFleetServerTest, EachVehicleIsADeviceAndAWatchPicksOne) {
  Peer client = Connect();
  client.Send("?DEVICES;\n");
  ASSERT_TRUE(AwaitClass(client, "DEVICES"));
  EXPECT_TRUE(client.OfClass("DEVICES").front()["devices"].empty());  // nothing heard yet

  server_.TakeEpoch(FixAt(48.1, 1), "fleet/car1");
  server_.TakeEpoch(FixAt(48.2, 1), "fleet/car2");
  client.Send("?WATCH={\"enable\":true,\"device\":\"fleet/car2\"};");
  ASSERT_TRUE(AwaitClass(client, "WATCH"));
  EXPECT_EQ(client.OfClass("DEVICES").back()["devices"].size(), 2u);
  server_.TakeEpoch(FixAt(48.11, 2), "fleet/car1");
  server_.TakeEpoch(FixAt(48.21, 2), "fleet/car2");
  ASSERT_TRUE(AwaitClass(client, "TPV"));
  Settle({&client});
  const auto tpvs = client.OfClass("TPV");
  ASSERT_EQ(tpvs.size(), 1u);  // watching without saying how is watching JSON, of car2 alone
  EXPECT_EQ(tpvs[0]["device"], "fleet/car2");
  EXPECT_DOUBLE_EQ(tpvs[0]["lat"], 48.21);

  client.Send("?POLL;");
  ASSERT_TRUE(AwaitClass(client, "POLL"));
  EXPECT_EQ(client.OfClass("POLL").front()["tpv"].size(), 2u);
}

TEST_F(GpsdServerTest, NonsenseGetsAnErrorAndTheConnectionStaysWhileANonReaderIsCutAlone) {
  Peer client = Connect();
  client.Send("?WATCH={\"enable\":tru;?WATCH={\"json\":\"yes\"};?WATCH=[1];?FOO;hello;\r\n");
  ASSERT_TRUE(AwaitClass(client, "ERROR", 5));
  const auto errors = client.OfClass("ERROR");
  EXPECT_EQ(errors[1]["message"], "Invalid WATCH: \"json\" wants true or false");
  EXPECT_EQ(errors[3]["message"], "Unrecognized request '?FOO'");

  // A megabyte without an end is one error, not a megabyte kept; what follows is answered.
  client.Send(std::string(1 << 20, 'x') + ";?VERSION;");
  ASSERT_TRUE(AwaitClass(client, "VERSION", 2));
  ASSERT_EQ(client.OfClass("ERROR").size(), 6u);
  EXPECT_EQ(client.OfClass("ERROR")[5]["message"], "Request longer than 1024 characters: ignored");
  for (const json& object : client.Objects()) EXPECT_TRUE(object.is_object());

  // None of the failed watches took: no reports come.
  server_.TakeEpoch(FixAt(48.1, 1), "");
  Settle({&client});
  EXPECT_TRUE(client.OfClass("TPV").empty());

  // A client that asks and asks and never reads is cut once its answers fill its queue; a
  // watcher beside it is served.
  Peer flooder = Connect(4096);
  client.Send("?WATCH={\"enable\":true};");
  ASSERT_TRUE(AwaitClass(client, "WATCH"));
  std::string polls;
  for (int i = 0; i < 10000; ++i) polls += "?DEVICES;";
  for (int round = 0; round < 20 && server_.Clients() == 2; ++round) {
    std::error_code ignored;
    asio::write(flooder.socket, asio::buffer(polls), ignored);
    testing::RunFor(io_, 20ms);
    ReadWaiting(client);
  }
  EXPECT_EQ(server_.Clients(), 1u);
  server_.TakeEpoch(FixAt(48.3, 2), "");
  ASSERT_TRUE(AwaitClass(client, "TPV"));
}

TEST_F(GpsdServerTest, ClientsThatNeverReadShareOneBudgetAndLeaveNothingWhenCut) {
  // 100 clients that ask and ask and never read: each may hold 1 MiB, all of them together no
  // more than the process's budget; a watcher beside them is served throughout.
  Peer watcher = Connect();
  watcher.Send("?WATCH={\"enable\":true};");
  ASSERT_TRUE(AwaitClass(watcher, "WATCH"));
  std::vector<Peer> hoarders;
  for (int i = 0; i < 100; ++i) hoarders.push_back(Connect(4096));
  std::string polls;
  for (int i = 0; i < 10000; ++i) polls += "?DEVICES;";
  size_t most_waiting = 0;
  // Until every hoarder is cut; the sanitizers' build answers the polls several times slower.
  const auto deadline = std::chrono::steady_clock::now() + 12 * testing::kPatience;
  while (server_.Clients() > 1 && std::chrono::steady_clock::now() < deadline) {
    for (Peer& hoarder : hoarders) {
      std::error_code ignored;
      hoarder.socket.non_blocking(true);
      hoarder.socket.write_some(asio::buffer(polls), ignored);
    }
    testing::RunFor(io_, 20ms);
    most_waiting = std::max(most_waiting, SendBudget::Shared().Waiting());
    ReadWaiting(watcher);
  }
  EXPECT_EQ(server_.Clients(), 1u);
  EXPECT_LE(most_waiting, SendBudget::kAllClients + 100 * SendBudget::kCloseBehind);
  EXPECT_LT(SendBudget::Shared().Waiting(), SendBudget::kCloseBehind);
  server_.TakeEpoch(FixAt(48.3, 2), "");
  ASSERT_TRUE(AwaitClass(watcher, "TPV"));
}

TEST(NtpShmTest, AnEpochIsWrittenAsTheTimeDaemonsReadItAndAForeignSegmentIsLeftAlone) {
  // A unit nobody uses here, below the chrony test's range (150 on).
  int unit = 100;
  while (unit < 150 && ::shmget(0x4E545030 + unit, 0, 0) >= 0) ++unit;
  const key_t key = 0x4E545030 + unit;
  std::optional<NtpShm> segment;
  try {
    segment.emplace(unit, std::chrono::milliseconds(120));
  } catch (const std::runtime_error& error) {
    GTEST_SKIP() << error.what();  // no right to shared memory here
  }
  Fix fix = FixAt(48.1, 7);
  fix.received = std::chrono::sys_days(std::chrono::year(2026) / 12 / 8) + 12h + 8s + 250ms;
  Fix without_fix = fix;
  without_fix.mode = FixMode::kNoFix;
  EXPECT_FALSE(segment->Write(without_fix));
  ASSERT_TRUE(segment->Write(fix));

  const int id = ::shmget(key, 0, 0);
  ASSERT_GE(id, 0);
  const auto* words = static_cast<const int*>(::shmat(id, nullptr, SHM_RDONLY));
  ASSERT_NE(words, reinterpret_cast<const int*>(-1));
  const auto* seconds = reinterpret_cast<const int64_t*>(words);
  EXPECT_EQ(words[0], 1);             // mode: the count is checked
  EXPECT_EQ(words[1], 2);             // count: moved on before and after the writing
  EXPECT_EQ(seconds[1], 1796731207);  // 2026-12-08T12:00:07Z
  EXPECT_EQ(words[4], 0);
  EXPECT_EQ(seconds[3], 1796731208);  // received 12:00:08.250, less the 120 ms delay
  EXPECT_EQ(words[8], 130000);
  EXPECT_EQ(words[12], 1);  // valid
  ::shmdt(words);
  // One writer a unit: a second one (another gps-monitor) would alternate its samples with ours.
  EXPECT_THROW(NtpShm(unit, 0s), std::runtime_error);
  segment.reset();
  ::shmctl(id, IPC_RMID, nullptr);

  // A segment of another size there, or (seen by root) another user's: an error, and nothing
  // written into it.
  const auto refused = [unit](const std::string& why) {
    try {
      NtpShm taken(unit, 0s);
      ADD_FAILURE() << "a segment " << why << " was taken";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("segment " + std::to_string(unit)),
                std::string::npos)
          << error.what();
    }
  };
  const int small = ::shmget(key, 64, IPC_CREAT | 0600);
  ASSERT_GE(small, 0);
  refused("of 64 bytes");
  ::shmctl(small, IPC_RMID, nullptr);
  if (::geteuid() != 0) return;
  const int foreign = ::shmget(key, 96, IPC_CREAT | 0666);
  ASSERT_GE(foreign, 0);
  shmid_ds status{};
  ::shmctl(foreign, IPC_STAT, &status);
  status.shm_perm.uid = 65534;  // nobody's
  ASSERT_EQ(::shmctl(foreign, IPC_SET, &status), 0);
  refused("of nobody's");
  const auto* untouched = static_cast<const int*>(::shmat(foreign, nullptr, SHM_RDONLY));
  EXPECT_EQ(untouched[12], 0);  // never made valid
  ::shmdt(untouched);
  ::shmctl(foreign, IPC_RMID, nullptr);

  // Made by another user for everyone to write, then given to root: its maker still writes it.
  const pid_t maker = ::fork();
  if (maker == 0) {
    const bool made = ::setuid(65534) == 0 && ::shmget(key, 96, IPC_CREAT | 0666) >= 0;
    ::_exit(made ? 0 : 1);
  }
  int exit_status = 0;
  ::waitpid(maker, &exit_status, 0);
  ASSERT_EQ(exit_status, 0);
  const int given = ::shmget(key, 0, 0);
  ASSERT_GE(given, 0);
  ::shmctl(given, IPC_STAT, &status);
  status.shm_perm.uid = 0;
  ASSERT_EQ(::shmctl(given, IPC_SET, &status), 0);
  refused("made by nobody");
  ::shmctl(given, IPC_RMID, nullptr);
}

}  // namespace
}  // namespace quorvane
