// Fleets on a real broker cluster: three nats-server nodes with their MQTT listeners (the
// cluster the process's tests share). Vehicles
// publish through a list of nodes and gps-monitor consumes through another; nodes are killed, a
// consumer restarts, two consumers share the shards — and every fix ends in a track once, in
// order. What makes sense on one broker (shards, a restart) runs on a single mosquitto too.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include <asio/io_context.hpp>

#include "apps/nmea_simulator.hpp"
#include "mqtt/mqtt_address.hpp"
#include "mqtt/mqtt_client.hpp"
#include "support/drive_log.hpp"
#include "support/files.hpp"
#include "support/mosquitto_broker.hpp"
#include "support/nats_cluster.hpp"
#include "support/programs.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::ReadFile;

constexpr size_t kFixes = 100;

// Vehicles on fleet/SHARD/carN/nmea, a fix's sentences a message at QoS 1, at most one a vehicle
// unacknowledged: the next goes only once the broker has the last, which is sent again after a
// reconnection. So a fix may arrive twice (its acknowledgement lost with a node), never out of
// order.
class Vehicles {
 public:
  Vehicles(asio::io_context& io, const std::string& brokers, const std::string& root, size_t count,
           double rate_hz)
      : Vehicles(io, brokers, Topics(root, count, "car"), rate_hz) {}
  Vehicles(asio::io_context& io, const std::string& brokers, std::vector<std::string> topics,
           double rate_hz)
      : client_(io, BrokerOf(brokers)), rate_hz_(rate_hz) {
    for (size_t v = 0; v < topics.size(); ++v) {
      simulator::DriveOptions options;
      options.duration_s = kFixes;
      options.start_utc_s = 12 * 3600 + 60 * static_cast<double>(v);
      simulator::NmeaSimulator drive(options);
      Vehicle vehicle;
      vehicle.topic = topics[v];
      for (size_t fix = 0; fix < kFixes; ++fix) vehicle.fixes.push_back(drive.Sentences(fix));
      vehicles_.push_back(std::move(vehicle));
    }
    client_.on_published = [this](int id) {
      for (Vehicle& vehicle : vehicles_) {
        if (vehicle.in_flight == id) {
          vehicle.in_flight.reset();
          ++vehicle.acknowledged;
        }
      }
    };
    client_.on_connected = [this] {
      for (Vehicle& vehicle : vehicles_) vehicle.in_flight.reset();  // sent again
    };
    client_.Start();
    started_ = std::chrono::steady_clock::now();
  }
  ~Vehicles() { client_.Close(); }

  // ROOT/N/NAMEN/nmea for N from 0.
  static std::vector<std::string> Topics(const std::string& root, size_t count,
                                         const std::string& name) {
    std::vector<std::string> topics;
    for (size_t v = 0; v < count; ++v) {
      topics.push_back(root + "/" + std::to_string(v) + "/" + name + std::to_string(v) + "/nmea");
    }
    return topics;
  }

  // Publishes what is due; whether every fix of every vehicle was acknowledged.
  bool Step() {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const auto due = static_cast<size_t>(elapsed * rate_hz_) + 1;
    bool done = true;
    for (Vehicle& vehicle : vehicles_) {
      done = done && vehicle.acknowledged == kFixes;
      if (vehicle.in_flight || vehicle.acknowledged >= std::min(due, kFixes)) continue;
      vehicle.in_flight =
          client_.Publish(vehicle.topic, vehicle.fixes[vehicle.acknowledged], 1, false);
    }
    return done;
  }

 private:
  struct Vehicle {
    std::string topic;
    std::vector<std::string> fixes;
    size_t acknowledged = 0;
    std::optional<int> in_flight;
  };
  static MqttBroker BrokerOf(const std::string& brokers) {
    return MqttBrokerOf(std::get<SourceAddress>(ParsePublishAddress("mqtt://" + brokers + "/x")),
                        {});
  }

  MqttClient client_;
  double rate_hz_;
  std::vector<Vehicle> vehicles_;
  std::chrono::steady_clock::time_point started_;
};

// The scenarios, on brokers that a test names by number ("node" 0, 1, 2).
class FleetOnBrokersTest : public ::testing::Test {
 protected:
  virtual std::string Broker(size_t node) const = 0;

  // gps-monitor taking `filters` (a list) from `brokers` (a list), its TPVs to NAME.out.
  pid_t Consumer(const std::string& name, const std::string& brokers, const std::string& filters,
                 std::vector<std::string> more = {}) {
    std::vector<std::string> arguments{GPS_MONITOR, "--source", "mqtt://" + brokers + "/" + filters,
                                       "--json"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return testing::SpawnProgram(arguments, folder_.File(name + ".out"),
                                 folder_.File(name + ".err"));
  }
  static void Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  // Publishes through `brokers` on each shard's probe topic until the consumers heard every one:
  // their subscriptions have reached the node the vehicles will publish to.
  bool AwaitListening(const std::string& brokers, size_t shards,
                      std::initializer_list<std::string> consumers) {
    Vehicles probes(io_, brokers, Vehicles::Topics(root_, shards, "probe"), 10);
    // 30 s at most: under the sanitizers, beside other tests, a cluster and its consumers start
    // slowly.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      std::string heard;
      for (const std::string& name : consumers) heard += ReadFile(folder_.File(name + ".out"));
      size_t probes_heard = 0;
      for (size_t shard = 0; shard < shards; ++shard) {
        const std::string device = root_ + "/" + std::to_string(shard) + "/probe";
        probes_heard += heard.find(device) != std::string::npos ? 1 : 0;
      }
      if (probes_heard == shards) return true;
      probes.Step();
      io_.run_for(10ms);
    }
    return false;
  }
  // Runs the vehicles until all is acknowledged (90 s at most: a node's death may hold their
  // session as long as a consumer's), doing each action when its second has come.
  bool Drive(Vehicles& vehicles, std::map<double, std::function<void()>> actions) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      while (!actions.empty() && actions.begin()->first <= elapsed) {
        actions.begin()->second();
        actions.erase(actions.begin());
      }
      if (vehicles.Step() && actions.empty()) return true;
      if (elapsed > 90) return false;
      io_.run_for(10ms);
    }
  }
  // The times of each device's TPVs in the consumers' outputs, in the order printed.
  std::map<std::string, std::vector<std::string>> TimesByDevice(
      std::initializer_list<std::string> names) {
    std::map<std::string, std::vector<std::string>> times;
    for (const std::string& name : names) {
      for (const std::string& line : Split(ReadFile(folder_.File(name + ".out")))) {
        const auto device = Field(line, "device");
        const auto time = Field(line, "time");
        if (line.starts_with("{\"class\":\"TPV\"") && !time.empty() &&
            device.find("/probe") == std::string::npos) {
          times[device].push_back(time);
        }
      }
    }
    return times;
  }
  // Waits until the consumers have printed `devices` devices with all their fixes: 90 s at most.
  // A cluster electing new leaders holds sessions for seconds, and on a starved machine its
  // requests for them time out again and again: one took 30 s to take a consumer back.
  void AwaitEveryFix(std::initializer_list<std::string> names, size_t devices) {
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto times = TimesByDevice(names);
      const bool all =
          times.size() >= devices && std::all_of(times.begin(), times.end(), [](const auto& entry) {
            return std::set(entry.second.begin(), entry.second.end()).size() >= kFixes - 1;
          });
      if (all) return;
      std::this_thread::sleep_for(100ms);
    }
  }
  // Every fix of the vehicle once, in order (a first cycle with no date yet has no time).
  static void ExpectEveryFixOnceInOrder(const std::vector<std::string>& times,
                                        const std::string& device) {
    SCOPED_TRACE(device);
    EXPECT_GE(times.size(), kFixes - 1);
    EXPECT_LE(times.size(), kFixes);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_EQ(std::set<std::string>(times.begin(), times.end()).size(), times.size());
  }
  static std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }
  static std::string Field(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const size_t at = json.find(key);
    if (at == std::string::npos) return "";
    return json.substr(at + key.size(), json.find('"', at + key.size()) - at - key.size());
  }
  std::string Nodes(size_t a, size_t b) const { return Broker(a) + "," + Broker(b); }

  // Two consumers on half the shards each (one by two --source, one by a list), four vehicles
  // publishing through node 0 (node 2 its alternate); `meanwhile` at 2 s.
  void ShareTheShards(const std::function<void()>& meanwhile) {
    const pid_t low = Consumer("low", Nodes(1, 2), root_ + "/0/+/nmea",
                               {"--source", "mqtt://" + Nodes(1, 2) + "/" + root_ + "/1/+/nmea"});
    const pid_t high = Consumer("high", Nodes(1, 2), root_ + "/2/+/nmea," + root_ + "/3/+/nmea");
    ASSERT_TRUE(AwaitListening(Nodes(0, 2), 4, {"low", "high"}));
    Vehicles vehicles(io_, Nodes(0, 2), root_, 4, 20);
    EXPECT_TRUE(Drive(vehicles, {{2.0, meanwhile}}));
    AwaitEveryFix({"low", "high"}, 4);
    Stop(low);
    Stop(high);
    const auto low_times = TimesByDevice({"low"});
    const auto high_times = TimesByDevice({"high"});
    EXPECT_EQ(low_times.size(), 2u) << ReadFile(folder_.File("low.err"));
    EXPECT_EQ(high_times.size(), 2u) << ReadFile(folder_.File("high.err"));
    for (const auto& [device, times] : low_times) {
      EXPECT_TRUE(device == root_ + "/0/car0/nmea" || device == root_ + "/1/car1/nmea") << device;
      ExpectEveryFixOnceInOrder(times, device);
    }
    for (const auto& [device, times] : high_times) {
      EXPECT_TRUE(device == root_ + "/2/car2/nmea" || device == root_ + "/3/car3/nmea") << device;
      ExpectEveryFixOnceInOrder(times, device);
    }
  }

  // A consumer with an id stopped at 2 s and started again (on node 2) at 7 s of a 10 s drive.
  void StartAgainWithTheId() {
    const std::vector<std::string> named{"--mqtt-id", "qgps-restarting"};
    pid_t consumer = Consumer("before", Broker(1), root_ + "/+/+/nmea", named);
    ASSERT_TRUE(AwaitListening(Broker(0), 1, {"before"}));
    Vehicles vehicles(io_, Broker(0), root_, 1, 10);  // 10 s of fixes
    EXPECT_TRUE(Drive(vehicles, {{2.0, [&] { Stop(consumer); }}, {7.0, [&] {
                                                                    consumer = Consumer(
                                                                        "after", Broker(2),
                                                                        root_ + "/+/+/nmea", named);
                                                                  }}}));
    AwaitEveryFix({"before", "after"}, 1);
    Stop(consumer);
    const auto times = TimesByDevice({"before", "after"});
    ASSERT_EQ(times.size(), 1u) << ReadFile(folder_.File("after.err"));
    // Every fix, some maybe twice: the first run's last cycle, reported when it stopped, may
    // come again (the broker had not had its acknowledgement).
    std::set<std::string> distinct(times.begin()->second.begin(), times.begin()->second.end());
    EXPECT_GE(distinct.size(), kFixes - 1);
  }

  testing::ScratchFolder folder_;
  asio::io_context io_;
  // The test's own first topic level: the brokers keep what earlier tests left (a message a dead
  // node delivers late, a retained fix, a session), and this test must not hear it.
  const std::string root_ =
      std::string("fleet-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

class MqttClusterTest : public testing::OnSharedNatsCluster<FleetOnBrokersTest> {
 protected:
  std::string Broker(size_t node) const override { return cluster_->Mqtt(node); }
};

// gps-monitor to gps-monitor: each fix published as a TPV on PREFIX/fix (QoS 1) and consumed by
// a gps-monitor whose session the cluster keeps (its output to NAME.out, NAME the consumer's
// run); `meanwhile` at the twentieth fix recorded. The publisher waits at its end for what the
// cluster had not acknowledged; every fix is in the consumers' outputs once, in order.
class GpsMonitorsOnTheClusterTest : public MqttClusterTest {
 protected:
  // The vehicle and the consumer's id are the test's own: the cluster keeps a topic's retained
  // fix and a session for the tests after.
  pid_t FixConsumer(const std::string& name, size_t first, size_t second) {
    return Consumer(name, Nodes(first, second), root_ + "/+/fix",
                    {"--mqtt-id", "qgps-fixes-" + vehicle_});
  }
  void Publish(const std::string& vehicle, const std::function<void(pid_t& consumer)>& meanwhile) {
    vehicle_ = vehicle;
    const std::string topic = root_ + "/" + vehicle + "/fix";
    const std::string drive = folder_.File("drive.nmea");
    testing::WriteDriveLog(drive, kFixes);
    pid_t consumer = FixConsumer("first", 1, 2);
    {
      // Subscribed once a probe's message reaches it (a probe's text is no TPV: it is said).
      Vehicles probe(io_, Nodes(1, 2), std::vector<std::string>{root_ + "/probe/fix"}, 10);
      const auto deadline = std::chrono::steady_clock::now() + 30s;
      while (ReadFile(folder_.File("first.err")).find(root_ + "/probe/fix") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline)
            << ReadFile(folder_.File("first.err"));
        probe.Step();
        io_.run_for(10ms);
      }
    }
    const pid_t publisher = testing::SpawnProgram(
        {GPS_MONITOR, "--replay", drive, "--speed", "10", "--publish",
         "mqtt://" + Nodes(0, 2) + "/" + root_ + "/" + vehicle + "?nmea-qos=1"},
        "/dev/null", folder_.File("publisher.err"));
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (TimesByDevice({"first"})[topic].size() < 20) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << ReadFile(folder_.File("first.err"));
      std::this_thread::sleep_for(50ms);
    }
    meanwhile(consumer);
    const int status = testing::WaitAtMost(publisher, 90s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << ReadFile(folder_.File("publisher.err"));
    AwaitEveryFix({"first", "second"}, 1);
    Stop(consumer);
    ExpectEveryFixOnceInOrder(TimesByDevice({"first", "second"})[topic], topic);
  }

  std::string vehicle_;
};

TEST_F(GpsMonitorsOnTheClusterTest, NoFixIsLostWhenThePublishersNodeDies) {
  Publish("car-node-dies", [&](pid_t&) { cluster_->Kill(0); });
}

// The consumer away for 3 s of a 10 s drive, then started again with its id on another node.
TEST_F(GpsMonitorsOnTheClusterTest, AConsumerStartedAgainWithItsIdGetsEveryFix) {
  Publish("car-consumer-away", [&](pid_t& consumer) {
    Stop(consumer);
    std::this_thread::sleep_for(3s);  // the consumer's absence, while fixes go on
    consumer = FixConsumer("second", 2, 0);
  });
}

// One mosquitto is every "node": a list of it is the one broker.
class MqttOneBrokerTest : public FleetOnBrokersTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(broker_.Start()) << "mosquitto is not installed (scripts/setup.sh --tests)";
  }
  std::string Broker(size_t) const override {
    return "127.0.0.1:" + std::to_string(broker_.Port());
  }

  testing::MosquittoBroker broker_{folder_.File("")};
};

TEST_F(MqttClusterTest, TwoConsumersShareTheShardsWhileThePublishersNodeDies) {
  ShareTheShards([&] { cluster_->Kill(0); });
}

TEST_F(MqttOneBrokerTest, TwoConsumersShareTheShards) {
  ShareTheShards([] {});
}

TEST_F(MqttClusterTest, AConsumerWhoseNodeDiesGoesOnOnTheNextWithItsSession) {
  const std::string dir = folder_.File("tracks");
  std::filesystem::create_directory(dir);
  const pid_t consumer =
      Consumer("consumer", Nodes(1, 2), root_ + "/+/+/nmea",
               {"--mqtt-id", "qgps-consumer", "--record-dir", dir, "--record-format", "gpx"});
  ASSERT_TRUE(AwaitListening(Nodes(0, 2), 2, {"consumer"}));
  Vehicles vehicles(io_, Nodes(0, 2), root_, 2, 20);
  EXPECT_TRUE(Drive(vehicles, {{2.0, [&] { cluster_->Kill(1); }}}));
  AwaitEveryFix({"consumer"}, 2);
  const auto points_of = [&](const std::string& car) {
    const std::string gpx = ReadFile(dir + "/" + car + ".gpx");
    size_t points = 0;
    for (size_t at = gpx.find("<trkpt"); at != std::string::npos; at = gpx.find("<trkpt", at + 1)) {
      ++points;
    }
    return points;
  };
  Stop(consumer);
  const auto times = TimesByDevice({"consumer"});
  ASSERT_EQ(times.size(), 2u) << ReadFile(folder_.File("consumer.err"));
  for (const auto& [device, each] : times) ExpectEveryFixOnceInOrder(each, device);
  if (HasFailure()) std::cerr << "The consumer said:\n" << ReadFile(folder_.File("consumer.err"));
  // The tracks have every point once: what came twice is one point, and every fix printed is
  // a point. (A message the cluster lost while its node died shows in both, as the printed
  // fixes' own check allows.)
  for (const std::string car : {"car0", "car1"}) {
    size_t timed = 0;
    for (const auto& [device, each] : times) {
      if (device.find("/" + car + "/") != std::string::npos) timed = each.size();
    }
    const size_t points = points_of(car);
    EXPECT_GE(points, timed) << car;
    EXPECT_GE(points, kFixes - 1) << car;
    EXPECT_LE(points, kFixes) << car;
  }
}

TEST_F(MqttClusterTest, AConsumerStartedAgainWithItsIdGetsWhatCameWhileItWasAway) {
  StartAgainWithTheId();
}

TEST_F(MqttOneBrokerTest, AConsumerStartedAgainWithItsIdGetsWhatCameWhileItWasAway) {
  StartAgainWithTheId();
}

}  // namespace
}  // namespace quorvane
