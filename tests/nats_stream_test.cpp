// A fleet through NATS JetStream on a real three-node cluster, gps-monitor on both ends: a
// publisher replaying a drive into the stream, consumers recording it through durable
// consumers. Nodes die under them, a consumer stops and starts again, another reads the past:
// every fix reaches the track once, in order. The cluster is started once for all of them.

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "support/drive_log.hpp"
#include "support/files.hpp"
#include "support/nats_cluster.hpp"
#include "support/programs.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::ReadFile;

constexpr size_t kFixes = 60;

class NatsStreamTest : public testing::OnSharedNatsCluster<::testing::Test> {
 protected:
  std::string Nodes(size_t a, size_t b) const {
    return cluster_->Nats(a) + "," + cluster_->Nats(b);
  }

  // A drive of kFixes fixes at 1 Hz, written as a log to replay.
  std::string Drive(const std::string& name) {
    const std::string path = scratch_.File(name + ".nmea");
    testing::WriteDriveLog(path, kFixes);
    return path;
  }
  // gps-monitor replaying `drive` at `speed` ("max" or a factor) into PREFIX.fix, its messages
  // to publisher.err.
  pid_t Publisher(const std::string& drive, const std::string& nodes, const std::string& prefix,
                  const std::string& speed) {
    return testing::SpawnProgram({GPS_MONITOR, "--replay", drive, "--speed", speed, "--publish",
                                  "nats://" + nodes + "/" + prefix},
                                 "/dev/null", scratch_.File("publisher.err"));
  }
  // gps-monitor printing the TPVs of `subject`'s vehicles to NAME.out.
  pid_t Consumer(const std::string& name, const std::string& nodes, const std::string& subject) {
    return testing::SpawnProgram(
        {GPS_MONITOR, "--source", "nats://" + nodes + "/" + subject, "--json"},
        scratch_.File(name + ".out"), scratch_.File(name + ".err"));
  }
  static void Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    testing::WaitAtMost(pid, 30s);
  }
  // The times of the TPVs in the outputs named, in the order printed.
  std::vector<std::string> Times(std::initializer_list<std::string> names) {
    std::vector<std::string> times;
    for (const std::string& name : names) {
      const std::string out = ReadFile(scratch_.File(name + ".out"));
      for (size_t at = 0; (at = out.find("\"time\":\"", at)) != std::string::npos;) {
        at += 8;
        times.push_back(out.substr(at, out.find('"', at) - at));
      }
    }
    return times;
  }
  // The times of one device's TPVs in NAME.out, in the order printed.
  std::vector<std::string> DeviceTimes(const std::string& name, const std::string& device) {
    std::vector<std::string> times;
    const std::string out = ReadFile(scratch_.File(name + ".out"));
    const std::string mark = "\"device\":\"" + device + "\"";
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1) {
      const std::string line = out.substr(start, end - start);
      const size_t time = line.find("\"time\":\"");
      if (line.find(mark) == std::string::npos || time == std::string::npos) continue;
      times.push_back(line.substr(time + 8, line.find('"', time + 8) - time - 8));
    }
    return times;
  }
  // Waits until the outputs named hold `count` TPVs (60 s at most: a cluster re-electing on a
  // loaded machine keeps a consumer waiting).
  bool AwaitTimes(std::initializer_list<std::string> names, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (Times(names).size() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(100ms);
    }
    return true;
  }
  // The drive's every fix, once, in order.
  static void ExpectEveryFixOnceInOrder(const std::vector<std::string>& times) {
    EXPECT_EQ(times.size(), kFixes);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_EQ(std::set<std::string>(times.begin(), times.end()).size(), times.size());
  }
  static int ExitCode(pid_t pid) {
    const int status = testing::WaitAtMost(pid, 90s);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  testing::ScratchFolder scratch_;
};

TEST_F(NatsStreamTest, ThePublishersNodeAndThenTheConsumersDieAndEveryFixIsRecordedOnceInOrder) {
  const std::string drive = Drive("drive");
  const pid_t consumer = Consumer("consumer", Nodes(1, 2), "one.*.fix?durable=recorder");
  const pid_t publisher = Publisher(drive, Nodes(0, 2), "one.car7", "10");
  ASSERT_TRUE(AwaitTimes({"consumer"}, 10)) << ReadFile(scratch_.File("consumer.err"));
  cluster_->Kill(0);
  ASSERT_TRUE(AwaitTimes({"consumer"}, 25)) << ReadFile(scratch_.File("consumer.err"));
  // Back before the next dies: two of three keep the stream's quorum.
  ASSERT_TRUE(cluster_->Restart(0)) << cluster_->Complaints();
  cluster_->Kill(1);
  EXPECT_EQ(ExitCode(publisher), 0) << ReadFile(scratch_.File("publisher.err"));
  EXPECT_TRUE(AwaitTimes({"consumer"}, kFixes)) << ReadFile(scratch_.File("consumer.err"));
  Stop(consumer);
  ExpectEveryFixOnceInOrder(Times({"consumer"}));
  EXPECT_EQ(ReadFile(scratch_.File("publisher.err")).find("not published"), std::string::npos);
}

TEST_F(NatsStreamTest, AConsumerStartedAgainWithItsNameGetsWhatCameWhileItWasAway) {
  const std::string drive = Drive("drive");
  pid_t consumer = Consumer("before", Nodes(1, 2), "two.*.fix?durable=restarting");
  const pid_t publisher = Publisher(drive, Nodes(0, 1), "two.car7", "5");
  ASSERT_TRUE(AwaitTimes({"before"}, 10)) << ReadFile(scratch_.File("before.err"));
  Stop(consumer);
  std::this_thread::sleep_for(4s);  // the consumer's absence: fixes go on into the stream
  consumer = Consumer("after", Nodes(2, 0), "two.*.fix?durable=restarting");
  EXPECT_EQ(ExitCode(publisher), 0) << ReadFile(scratch_.File("publisher.err"));
  EXPECT_TRUE(AwaitTimes({"before", "after"}, kFixes)) << ReadFile(scratch_.File("after.err"));
  Stop(consumer);
  ExpectEveryFixOnceInOrder(Times({"before", "after"}));

  // The stream's past read again: the same fixes as the live consumers recorded.
  const pid_t reader = Consumer("since", cluster_->Nats(1), "two.*.fix?since=-1h");
  EXPECT_TRUE(AwaitTimes({"since"}, kFixes)) << ReadFile(scratch_.File("since.err"));
  Stop(reader);
  EXPECT_EQ(Times({"since"}), Times({"before", "after"}));
}

TEST_F(NatsStreamTest, TwoConsumersOnTwoPartitionsRecordEachVehicleOnceByOneOfThem) {
  const std::string drive = Drive("drive");
  const pid_t first = Consumer("first", Nodes(0, 1), "parts.*.fix.0?durable=partition0");
  const pid_t second = Consumer("second", Nodes(1, 2), "parts.*.fix.1?durable=partition1");
  std::vector<pid_t> publishers;
  for (const char* car : {"car0", "car1", "car2", "car3"}) {
    publishers.push_back(Publisher(drive, Nodes(2, 0), std::string("parts.") + car, "max"));
  }
  for (const pid_t publisher : publishers) EXPECT_EQ(ExitCode(publisher), 0);
  EXPECT_TRUE(AwaitTimes({"first", "second"}, 4 * kFixes)) << ReadFile(scratch_.File("first.err"));
  Stop(first);
  Stop(second);
  const std::string first_out = ReadFile(scratch_.File("first.out"));
  const std::string second_out = ReadFile(scratch_.File("second.out"));
  for (const std::string car : {"car0", "car1", "car2", "car3"}) {
    SCOPED_TRACE(car);
    const std::string device = "\"device\":\"" + car + "\"";
    const bool by_first = first_out.find(device) != std::string::npos;
    const bool by_second = second_out.find(device) != std::string::npos;
    EXPECT_NE(by_first, by_second);
    ExpectEveryFixOnceInOrder(DeviceTimes(by_first ? "first" : "second", car));
  }
}

// A stream not there yet is said once and waited for; a consumer's name taken by one of another
// subject is said once; neither ends the run.
TEST_F(NatsStreamTest, AStreamNotThereYetIsWaitedForAndANameTakenIsSaid) {
  const pid_t early = Consumer("early", Nodes(0, 1), "late.*.fix?durable=early");
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (ReadFile(scratch_.File("early.err")).find("no stream late (yet)") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << ReadFile(scratch_.File("early.err"));
    std::this_thread::sleep_for(50ms);
  }
  const pid_t publisher = Publisher(Drive("drive"), Nodes(1, 2), "late.car7", "max");
  EXPECT_EQ(ExitCode(publisher), 0) << ReadFile(scratch_.File("publisher.err"));
  EXPECT_TRUE(AwaitTimes({"early"}, kFixes)) << ReadFile(scratch_.File("early.err"));
  Stop(early);
  ExpectEveryFixOnceInOrder(Times({"early"}));

  // The name "early" is a consumer of late.*.fix: asked for another subject, it is refused.
  const pid_t other = Consumer("other", Nodes(2, 0), "late.*.sky?durable=early");
  while (ReadFile(scratch_.File("other.err")).find("cannot consume late.*.sky as early") ==
         std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline + 30s)
        << ReadFile(scratch_.File("other.err"));
    std::this_thread::sleep_for(50ms);
  }
  Stop(other);
  const std::string said = ReadFile(scratch_.File("other.err"));
  EXPECT_EQ(said.find("cannot consume"), said.rfind("cannot consume")) << said;  // once
}

}  // namespace
}  // namespace quorvane
