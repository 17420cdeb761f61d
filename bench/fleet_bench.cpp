// A fleet through one broker: VEHICLES simulated receivers (one publishing client for all of
// them) publish a fix a second each to a local mosquitto, and one gps-monitor follows
// fleet/+/nmea and records a track per vehicle. Measured in the same run:
//   sustained   every vehicle at 1 Hz for SECONDS: fixes lost at QoS 1, publish → decoded
//               latency (p50, p99, max), CPU of consumer, broker and publisher
//   capacity    as fast as the publisher goes: the fixes per second the consumer decodes
//               and records
// The latency is read from the fix itself: each GGA carries the wall-clock time it was
// published at (hhmmss.sss), and the consumer's JSON object for it is read as it is printed.
//
//   fleet_bench GPS_MONITOR [VEHICLES=1000] [SECONDS=30] [CAPACITY_FIXES=200000]
//   fleet_bench GPS_MONITOR [VEHICLES] [SECONDS] --cluster     through a 3-node cluster's MQTT
//   fleet_bench GPS_MONITOR [VEHICLES] [SECONDS=60] --jetstream through its JetStream

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <nats/nats.h>
#include <asio/io_context.hpp>

#include "apps/nmea_simulator.hpp"
#include "mqtt/mqtt_address.hpp"
#include "mqtt/mqtt_client.hpp"
#include "sinks/gpsd_json.hpp"
#include "support/mosquitto_broker.hpp"
#include "support/nats_cluster.hpp"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

long long MillisecondsOfDay(Clock::time_point when) {
  const auto since_epoch =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
  return since_epoch % 86'400'000;
}

// The fix's sentences with the time of each that has one (GGA, RMC) replaced by `of_day`
// (milliseconds), so that the cycle's epoch carries the moment it was sent.
std::string Stamped(const std::string& sentences, long long of_day) {
  char time[16];
  std::snprintf(time, sizeof time, "%02lld%02lld%02lld.%03lld", of_day / 3'600'000,
                of_day / 60'000 % 60, of_day / 1000 % 60, of_day % 1000);
  std::string stamped;
  for (size_t start = 0, end; (end = sentences.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    const std::string sentence = sentences.substr(start, end - start);
    const std::string type = sentence.substr(3, 3);
    if (type != "GGA" && type != "RMC") {
      stamped += sentence + "\r\n";
      continue;
    }
    const size_t time_start = sentence.find(',') + 1;
    const size_t time_end = sentence.find(',', time_start);
    const std::string body = sentence.substr(1, time_start - 1) + time +
                             sentence.substr(time_end, sentence.find('*') - time_end);
    stamped += quorvane::simulator::WithChecksum(body);
  }
  return stamped;
}

// CPU seconds a process has used (user and system), from /proc.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14 || index == 15) ticks += std::stod(field);
    if (index == 15) break;
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The read and write system calls a process has made, from /proc (readv, recvmsg and the like
// count as reads, writev and sendmsg as writes).
std::pair<double, double> SystemCalls(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::pair<double, double> calls{0, 0};
  for (std::string line; std::getline(io, line);) {
    if (line.starts_with("syscr:")) calls.first = std::stod(line.substr(6));
    if (line.starts_with("syscw:")) calls.second = std::stod(line.substr(6));
  }
  return calls;
}

std::string PeakMemory(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return line.substr(line.find_first_not_of(" \t", 6));
  }
  return "?";
}

std::string Field(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  const size_t at = json.find(key);
  if (at == std::string::npos) return "";
  const size_t start = at + key.size();
  return json.substr(start, json.find('"', start) - start);
}

// The consumer's JSON objects as they come: each fix's stream and latency.
class Consumer {
 public:
  Consumer(const std::string& program, const std::string& source, const std::string& dir,
           const std::vector<std::string>& more) {
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> arguments{program, "--source", source, "--record-dir", dir, "--json"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    posix_spawn_file_actions_addopen(&actions, 2, (dir + "/../consumer.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      throw std::runtime_error("cannot start " + program);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_ends[1]);
    reader_ = std::thread([this, fd = pipe_ends[0]] { Read(fd); });
  }
  ~Consumer() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    reader_.join();
  }
  pid_t Pid() const { return pid_; }
  size_t Fixes() const { return fixes_; }
  // Adds the latencies and counts so far to those given, and starts new ones.
  void AddTo(std::vector<double>& latencies, std::unordered_map<std::string, size_t>& by_stream) {
    std::vector<double> more;
    std::unordered_map<std::string, size_t> counts;
    Take(more, counts);
    latencies.insert(latencies.end(), more.begin(), more.end());
    for (const auto& [stream, count] : counts) by_stream[stream] += count;
  }
  // Takes the latencies and counts so far and starts new ones.
  void Take(std::vector<double>& latencies, std::unordered_map<std::string, size_t>& by_stream) {
    std::lock_guard lock(mutex_);
    latencies.swap(latencies_);
    by_stream.swap(by_stream_);
    latencies_.clear();
    by_stream_.clear();
  }

 private:
  void Read(int fd) {
    std::string pending;
    char buffer[1 << 16];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
      const long long now = MillisecondsOfDay(Clock::now());
      pending.append(buffer, static_cast<size_t>(got));
      size_t start = 0;
      for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
        Take(pending.substr(start, end - start), now);
      }
      pending.erase(0, start);
    }
    ::close(fd);
  }
  void Take(const std::string& json, long long now) {
    // A TPV's time, "2026-12-08T12:34:56.789Z", is when its sentences were sent.
    if (!json.starts_with("{\"class\":\"TPV\"")) return;
    const std::string time = Field(json, "time");
    if (time.size() < 23) return;
    const long long sent = std::stoll(time.substr(11, 2)) * 3'600'000 +
                           std::stoll(time.substr(14, 2)) * 60'000 +
                           std::stoll(time.substr(17, 2)) * 1000 + std::stoll(time.substr(20, 3));
    const long long latency = (now - sent + 86'400'000) % 86'400'000;
    std::lock_guard lock(mutex_);
    latencies_.push_back(static_cast<double>(latency));
    ++by_stream_[Field(json, "device")];
    ++fixes_;
  }

  pid_t pid_ = 0;
  std::thread reader_;
  std::mutex mutex_;
  std::vector<double> latencies_;
  std::unordered_map<std::string, size_t> by_stream_;
  std::atomic<size_t> fixes_ = 0;
};

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(share * values.size()))];
}

class Fleet {
 public:
  Fleet(size_t vehicles) {
    for (size_t i = 0; i < vehicles; ++i) {
      quorvane::simulator::DriveOptions options;
      options.duration_s = 100000;
      options.speed_kmh = 30 + static_cast<double>(i % 70);
      options.seed = static_cast<uint32_t>(i + 1);
      options.noise_m = 1;
      drives_.emplace_back(options);
      topics_.push_back("fleet/car" + std::to_string(i) + "/nmea");
    }
    next_fix_.assign(vehicles, 0);
  }
  size_t Size() const { return drives_.size(); }
  const std::string& Topic(size_t vehicle) const { return topics_[vehicle]; }
  std::string NextMessage(size_t vehicle) {
    const size_t fix = next_fix_[vehicle]++ % drives_[vehicle].FixCount();
    return Stamped(drives_[vehicle].Sentences(fix), MillisecondsOfDay(Clock::now()));
  }

 private:
  std::vector<quorvane::simulator::NmeaSimulator> drives_;
  std::vector<std::string> topics_;
  std::vector<size_t> next_fix_;
};

}  // namespace

// bench/page_probe.py on the fleet's map page for `seconds`, its line of JSON to `output`; 0
// when it cannot start.
pid_t SpawnPageProbe(const std::string& url, int seconds, const std::string& output) {
  std::vector<std::string> arguments{"/usr/bin/python3", QGPS_BENCH_DIR "/page_probe.py", url,
                                     std::to_string(seconds)};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// A folder of that name under the temporary one, emptied, with its "tracks" folder.
std::filesystem::path FreshFolder(const char* name) {
  const auto folder = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "tracks");
  return folder;
}

int CannotStartTheCluster() {
  std::cerr << "fleet_bench: cannot start the nats-server cluster\n";
  return 1;
}

// A client publishing vehicles' fixes at QoS 1 through a list of brokers; what the broker has
// not acknowledged when the connection is lost is published again on the next one.
class ClusterPublisher {
 public:
  ClusterPublisher(asio::io_context& io, const std::string& brokers)
      : client_(io, BrokerOf(brokers)) {
    client_.on_published = [this](int id) {
      if (pending_.erase(id) > 0 && !resumed_) resumed_ = Clock::now();
    };
    client_.on_lost = [this](const std::string&, double, bool) { ++losses_; };
    client_.on_connected = [this] {
      auto unacknowledged = std::move(pending_);
      pending_.clear();
      for (auto& [id, message] : unacknowledged) Publish(message.first, message.second);
    };
    client_.Start();
  }
  bool Connected() const { return client_.Connected(); }
  void Publish(const std::string& topic, const std::string& payload) {
    if (const auto id = client_.Publish(topic, payload, 1, false)) {
      pending_.emplace(*id, std::pair{topic, payload});
    } else {
      waiting_.emplace_back(topic, payload);  // no connection: sent on the next
    }
  }
  void SendWaiting() {
    if (!client_.Connected()) return;
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& [topic, payload] : waiting) Publish(topic, payload);
  }
  // The first acknowledgement after this call.
  void WatchResumption() { resumed_.reset(); }
  std::optional<Clock::time_point> Resumed() const { return resumed_; }
  std::string Broker() const { return client_.CurrentBroker(); }
  size_t Losses() const { return losses_; }

 private:
  static quorvane::MqttBroker BrokerOf(const std::string& brokers) {
    return quorvane::MqttBrokerOf(std::get<quorvane::SourceAddress>(
                                      quorvane::ParsePublishAddress("mqtt://" + brokers + "/x")),
                                  {});
  }
  quorvane::MqttClient client_;
  std::map<int, std::pair<std::string, std::string>> pending_;
  std::vector<std::pair<std::string, std::string>> waiting_;
  std::optional<Clock::time_point> resumed_;
  size_t losses_ = 0;
};

// The fleet through a 3-node nats-server cluster: two publishing clients on nodes 1 and 2 (each
// with the other as its alternate), the consumer on node 3; node 1 killed half-way.
int RunCluster(const std::string& program, size_t vehicles, int seconds) {
  const auto folder = FreshFolder("qgps-cluster-bench");
  quorvane::testing::NatsCluster cluster(folder.string());
  if (!cluster.Start()) return CannotStartTheCluster();
  Consumer consumer(program, "mqtt://" + cluster.Mqtt(2) + "," + cluster.Mqtt(1) + "/fleet/+/nmea",
                    (folder / "tracks").string(), {"--mqtt-id", "qgps-bench-consumer"});
  asio::io_context io;
  ClusterPublisher first(io, cluster.Mqtt(0) + "," + cluster.Mqtt(1));
  ClusterPublisher second(io, cluster.Mqtt(1) + "," + cluster.Mqtt(0));
  for (auto until = std::chrono::steady_clock::now() + 10s;
       !(first.Connected() && second.Connected()) && std::chrono::steady_clock::now() < until;) {
    io.run_for(10ms);
  }
  Fleet fleet(vehicles);
  // Until the consumer has every vehicle: its subscription has reached both nodes.
  for (int tries = 0; tries < 200 && consumer.Fixes() < 3 * vehicles; ++tries) {
    if (tries % 20 == 0) {
      for (size_t v = 0; v < vehicles; ++v) {
        (v % 2 ? second : first).Publish(fleet.Topic(v), fleet.NextMessage(v));
      }
    }
    io.run_for(50ms);
  }
  std::vector<double> latencies;
  std::unordered_map<std::string, size_t> by_stream;
  consumer.Take(latencies, by_stream);
  latencies.clear();
  by_stream.clear();

  const auto start = std::chrono::steady_clock::now();
  size_t published = 0;
  const size_t total = vehicles * static_cast<size_t>(seconds);
  bool killed = false;
  Clock::time_point killed_at;
  while (published < total) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!killed && elapsed >= seconds / 2.0) {
      killed_at = Clock::now();
      first.WatchResumption();
      cluster.Kill(0);
      killed = true;
    }
    const auto due = std::min(total, static_cast<size_t>(elapsed * static_cast<double>(vehicles)));
    for (; published < due; ++published) {
      const size_t v = published % vehicles;
      (v % 2 ? second : first).Publish(fleet.Topic(v), fleet.NextMessage(v));
    }
    first.SendWaiting();
    second.SendWaiting();
    io.run_for(1ms);
  }
  for (auto until = std::chrono::steady_clock::now() + 15s;
       std::chrono::steady_clock::now() < until;) {
    io.run_for(50ms);
    first.SendWaiting();
    consumer.AddTo(latencies, by_stream);
    if (latencies.size() >= total) break;
  }
  const auto resumed = first.Resumed();
  std::printf("## Fleet through a 3-node nats-server cluster (bench/fleet_bench --cluster)\n\n");
  std::printf(
      "%zu vehicles at 1 Hz for %d s, QoS 1, three nats-server nodes (JetStream, MQTT) on this "
      "machine: half the vehicles publish through node 1 (node 2 its alternate), half through node "
      "2, and one gps-monitor (--mqtt-id, node 3 then 2) consumes them all. Node 1 is killed "
      "(SIGKILL) half-way; its publisher goes on through node 2 and publishes again what node 1 "
      "had not acknowledged, so a fix may arrive twice (the consumer's track takes it once).\n\n",
      vehicles, seconds);
  std::printf("| measure | value |\n|---|---|\n");
  std::printf("| fixes published / TPVs decoded | %zu / %zu |\n", total, latencies.size());
  size_t short_streams = 0;
  for (size_t v = 0; v < vehicles; ++v) {
    if (by_stream[fleet.Topic(v)] < static_cast<size_t>(seconds)) ++short_streams;
  }
  std::printf("| vehicles short of their fixes | %zu |\n", short_streams);
  std::printf("| publish → decoded p50 / p99 / max | %.0f / %.0f / %.0f ms |\n",
              Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0));
  if (resumed) {
    std::printf("| node 1 killed → its publisher's next acknowledged fix (on %s) | %.0f ms |\n",
                first.Broker().c_str(),
                std::chrono::duration<double, std::milli>(*resumed - killed_at).count());
  } else {
    std::printf("| node 1 killed → its publisher's next acknowledged fix | never |\n");
  }
  std::printf("| connections the publishers lost or could not make | %zu |\n",
              first.Losses() + second.Losses());
  return 0;
}

// The fleet's vehicles publishing their TPVs into a JetStream stream through a list of
// servers: four threads, each for a quarter of the vehicles, each fix sent and its
// acknowledgement awaited before the next (the same fix again, with its message id, after a
// failure), so every vehicle's fixes are in the stream once and in order.
class StreamPublishers {
 public:
  static constexpr size_t kThreads = 4;

  StreamPublishers(const std::string& servers, size_t vehicles, int seconds)
      : vehicles_(vehicles), seconds_(seconds) {
    natsOptions* options = nullptr;
    natsOptions_Create(&options);
    std::vector<std::string> urls;
    for (size_t start = 0, comma = 0; comma != std::string::npos; start = comma + 1) {
      comma = servers.find(',', start);
      urls.push_back(servers.substr(start, comma - start));
    }
    std::vector<const char*> list;
    for (const std::string& url : urls) list.push_back(url.c_str());
    natsOptions_SetServers(options, list.data(), static_cast<int>(list.size()));
    natsOptions_SetNoRandomize(options, true);
    natsOptions_SetMaxReconnect(options, -1);
    natsOptions_SetReconnectWait(options, 100);
    if (const natsStatus status = natsConnection_Connect(&connection_, options);
        status != NATS_OK) {
      std::cerr << "fleet_bench: cannot connect to " << servers << ": "
                << natsStatus_GetText(status) << "\n";
    }
    natsOptions_Destroy(options);
    jsOptions js_options;
    jsOptions_Init(&js_options);
    js_options.Wait = 2000;
    natsConnection_JetStream(&js_, connection_, &js_options);
  }
  ~StreamPublishers() {
    for (auto& thread : threads_) thread.join();
    if (js_ != nullptr) jsCtx_Destroy(js_);
    if (connection_ != nullptr) natsConnection_Destroy(connection_);
  }
  // The stream of every subject under "fleet", three copies.
  bool MakeStream() {
    if (js_ == nullptr) return false;
    const char* subjects[] = {"fleet.>"};
    jsStreamConfig config;
    jsStreamConfig_Init(&config);
    config.Name = "fleet";
    config.Subjects = subjects;
    config.SubjectsLen = 1;
    config.Storage = js_FileStorage;
    config.Replicas = 3;
    config.Duplicates = 600LL * 1000 * 1000 * 1000;
    jsStreamInfo* info = nullptr;
    jsErrCode error = static_cast<jsErrCode>(0);
    const natsStatus status = js_AddStream(&info, js_, &config, nullptr, &error);
    if (info != nullptr) jsStreamInfo_Destroy(info);
    if (status != NATS_OK) {
      std::cerr << "fleet_bench: " << natsStatus_GetText(status) << " (" << error
                << "): " << nats_GetLastError(nullptr) << "\n";
    }
    return status == NATS_OK;
  }
  // Every vehicle's fix of second s is due at `start` + s (the vehicles spread over the second).
  void Start(std::chrono::steady_clock::time_point start) {
    for (size_t t = 0; t < kThreads; ++t) {
      threads_.emplace_back([this, t, start] { Publish(t, start); });
    }
  }
  bool Done() const { return finished_ == kThreads; }
  size_t Published() const { return published_; }
  size_t Failures() const { return failures_; }
  void WatchResumption() {
    std::lock_guard lock(mutex_);
    failed_since_.reset();
    resumed_.reset();
    watching_ = true;
  }
  // The first acknowledgement after the first failure since WatchResumption, and that failure.
  std::optional<std::pair<Clock::time_point, Clock::time_point>> Outage() {
    std::lock_guard lock(mutex_);
    if (!failed_since_ || !resumed_) return std::nullopt;
    return std::pair{*failed_since_, *resumed_};
  }

 private:
  void Publish(size_t thread, std::chrono::steady_clock::time_point start) {
    for (int second = 0; second < seconds_; ++second) {
      for (size_t v = thread; v < vehicles_; v += kThreads) {
        const auto due = start + std::chrono::microseconds((second * 1000000LL) +
                                                           static_cast<long long>(v) * 1000000LL /
                                                               static_cast<long long>(vehicles_));
        std::this_thread::sleep_until(due);
        const std::string json = Tpv(v, Clock::now());
        const std::string id = "car" + std::to_string(v) + "@" + std::to_string(second);
        const std::string subject = "fleet.car" + std::to_string(v) + ".fix";
        jsPubOptions options;
        jsPubOptions_Init(&options);
        options.MsgId = id.c_str();
        while (true) {
          jsPubAck* acknowledged = nullptr;
          const natsStatus status = js_Publish(&acknowledged, js_, subject.c_str(), json.data(),
                                               static_cast<int>(json.size()), &options, nullptr);
          if (acknowledged != nullptr) jsPubAck_Destroy(acknowledged);
          if (status == NATS_OK) break;
          ++failures_;
          {
            std::lock_guard lock(mutex_);
            if (watching_ && !failed_since_) failed_since_ = Clock::now();
          }
          std::this_thread::sleep_for(50ms);
        }
        ++published_;
        std::lock_guard lock(mutex_);
        if (failed_since_ && !resumed_) resumed_ = Clock::now();
      }
    }
    ++finished_;
  }
  // A TPV whose time is the moment it is sent, to the millisecond, as a publisher writes it.
  static std::string Tpv(size_t v, Clock::time_point now) {
    const std::chrono::year_month_day date{std::chrono::floor<std::chrono::days>(now)};
    quorvane::Fix fix;
    fix.date = quorvane::CalendarDate{static_cast<int>(date.year()),
                                      static_cast<int>(static_cast<unsigned>(date.month())),
                                      static_cast<int>(static_cast<unsigned>(date.day()))};
    fix.time = quorvane::UtcTime{MillisecondsOfDay(now) * 1000};
    fix.mode = quorvane::FixMode::k3D;
    fix.latitude = 48.1 + 0.001 * static_cast<double>(v % 100);
    fix.longitude = 11.5 + 0.001 * static_cast<double>(v / 100);
    fix.speed = 13.9;
    return quorvane::TpvJson(fix, "car" + std::to_string(v));
  }

  size_t vehicles_;
  int seconds_;
  natsConnection* connection_ = nullptr;
  jsCtx* js_ = nullptr;
  std::vector<std::thread> threads_;
  std::atomic<size_t> published_ = 0;
  std::atomic<size_t> failures_ = 0;
  std::atomic<size_t> finished_ = 0;
  std::mutex mutex_;
  bool watching_ = false;
  std::optional<Clock::time_point> failed_since_;
  std::optional<Clock::time_point> resumed_;
};

// The fleet through a 3-node nats-server cluster on JetStream: the vehicles publish through node 1
// (node 2 its alternate) and one gps-monitor consumes through node 3 (then 2) with a durable
// consumer; node 1 is killed (SIGKILL) at a third of the run.
int RunJetStream(const std::string& program, size_t vehicles, int seconds) {
  const auto folder = FreshFolder("qgps-jetstream-bench");
  quorvane::testing::NatsCluster cluster(folder.string());
  if (!cluster.Start()) return CannotStartTheCluster();
  StreamPublishers publishers("nats://" + cluster.Nats(0) + ",nats://" + cluster.Nats(1), vehicles,
                              seconds);
  if (!publishers.MakeStream()) {
    std::cerr << "fleet_bench: cannot make the stream\n";
    return 1;
  }
  Consumer consumer(
      program, "nats://" + cluster.Nats(2) + "," + cluster.Nats(1) + "/fleet.*.fix?durable=bench",
      (folder / "tracks").string(), {});
  const double consumer_cpu_start = CpuSeconds(consumer.Pid());
  const auto start = std::chrono::steady_clock::now() + 1s;
  publishers.Start(start);
  std::this_thread::sleep_until(start + std::chrono::seconds(seconds / 3));
  // What came before the kill: the latency outside the failover window.
  std::vector<double> calm;
  std::unordered_map<std::string, size_t> by_stream;
  consumer.AddTo(calm, by_stream);
  publishers.WatchResumption();
  const auto killed_at = Clock::now();
  cluster.Kill(0);
  while (!publishers.Done()) std::this_thread::sleep_for(50ms);
  const size_t total = vehicles * static_cast<size_t>(seconds);
  std::vector<double> latencies = calm;
  for (auto until = std::chrono::steady_clock::now() + 30s;
       std::chrono::steady_clock::now() < until && latencies.size() < total;) {
    std::this_thread::sleep_for(100ms);
    consumer.AddTo(latencies, by_stream);
  }
  const double consumer_cpu = CpuSeconds(consumer.Pid()) - consumer_cpu_start;
  size_t short_streams = 0, long_streams = 0;
  for (size_t v = 0; v < vehicles; ++v) {
    const size_t count = by_stream["car" + std::to_string(v)];
    short_streams += count < static_cast<size_t>(seconds) ? 1 : 0;
    long_streams += count > static_cast<size_t>(seconds) ? 1 : 0;
  }
  std::printf("## Fleet through a 3-node JetStream cluster (bench/fleet_bench --jetstream)\n\n");
  std::printf(
      "%zu vehicles at 1 Hz for %d s, each fix a TPV published into a stream of three replicas "
      "(the next of a vehicle once the stream acknowledged the last), three nats-server nodes on "
      "this machine; one gps-monitor records every vehicle through a durable consumer on node 3 "
      "(then 2). Node 1, the publishers' server, is killed (SIGKILL) at a third of the run.\n\n",
      vehicles, seconds);
  std::printf("| measure | value |\n|---|---|\n");
  std::printf("| fixes published / recorded | %zu / %zu |\n", publishers.Published(),
              latencies.size());
  std::printf("| vehicles short of / beyond their fixes (lost / twice) | %zu / %zu |\n",
              short_streams, long_streams);
  std::printf("| publish → recorded p50 / p99 / max, before the kill | %.0f / %.0f / %.0f ms |\n",
              Percentile(calm, 0.5), Percentile(calm, 0.99), Percentile(calm, 1.0));
  std::printf("| publish → recorded p50 / p99 / max, the whole run | %.0f / %.0f / %.0f ms |\n",
              Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0));
  if (const auto outage = publishers.Outage()) {
    std::printf(
        "| node 1 killed → first failed publication → next acknowledged | %.0f ms → %.0f ms |\n",
        std::chrono::duration<double, std::milli>(outage->first - killed_at).count(),
        std::chrono::duration<double, std::milli>(outage->second - killed_at).count());
  } else {
    std::printf("| publications that failed after node 1 was killed | none |\n");
  }
  std::printf("| publications tried again | %zu |\n", publishers.Failures());
  std::printf(
      "| consumer CPU per 1,000 fixes, at 1,000 a second | %.1f ms |\n",
      1000 * 1000 * consumer_cpu / static_cast<double>(std::max<size_t>(latencies.size(), 1)));
  // Capacity: a second consumer reads the whole stream from its start as fast as it goes.
  const size_t stored = latencies.size();
  std::filesystem::create_directories(folder / "tracks2");
  Consumer reader(
      program,
      "nats://" + cluster.Nats(1) + "," + cluster.Nats(2) + "/fleet.*.fix?durable=capacity",
      (folder / "tracks2").string(), {});
  const auto read_start = std::chrono::steady_clock::now();
  for (auto until = read_start + 120s;
       reader.Fixes() < stored && std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(20ms);
  }
  const double read_time =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - read_start).count();
  const double reader_cpu = CpuSeconds(reader.Pid());
  std::printf(
      "| capacity: the stream read again from its start (start-up included) | %zu of %zu in "
      "%.2f s = %.0f fixes/s, %.1f ms CPU per 1,000 |\n",
      reader.Fixes(), stored, read_time, static_cast<double>(reader.Fixes()) / read_time,
      1000 * 1000 * reader_cpu / static_cast<double>(std::max<size_t>(reader.Fixes(), 1)));
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[argc - 1]) == "--jetstream") {
    return RunJetStream(argv[1], argc > 3 ? std::stoul(argv[2]) : 1000,
                        argc > 4 ? std::stoi(argv[3]) : 60);
  }
  if (argc >= 2 && std::string(argv[argc - 1]) == "--cluster") {
    if (argc < 3) {
      std::cerr << "usage: fleet_bench GPS_MONITOR [VEHICLES] [SECONDS] --cluster\n";
      return 2;
    }
    return RunCluster(argv[1], argc > 3 ? std::stoul(argv[2]) : 1000,
                      argc > 4 ? std::stoi(argv[3]) : 30);
  }
  if (argc < 2) {
    std::cerr << "usage: fleet_bench GPS_MONITOR [VEHICLES] [SECONDS] [CAPACITY_FIXES]\n";
    return 2;
  }
  const std::string program = argv[1];
  const size_t vehicles = argc > 2 ? std::stoul(argv[2]) : 1000;
  const int seconds = argc > 3 ? std::stoi(argv[3]) : 30;
  const size_t capacity_fixes = argc > 4 ? std::stoul(argv[4]) : 200000;

  const auto folder = FreshFolder("qgps-fleet-bench");
  // A fleet's broker queues more for a subscriber than mosquitto's default thousand messages.
  quorvane::testing::MosquittoBroker broker(
      folder.string(), {"max_queued_messages 1000000", "max_inflight_messages 1000"});
  if (!broker.Start()) {
    std::cerr << "fleet_bench: cannot start mosquitto\n";
    return 1;
  }
  const uint16_t web_port = quorvane::testing::FreeTcpPort();
  Consumer consumer(program, broker.Address("fleet/+/nmea"), (folder / "tracks").string(),
                    {"--web", "127.0.0.1:" + std::to_string(web_port), "--tiles", "none"});
  asio::io_context io;
  quorvane::MqttBroker settings;
  settings.host = "127.0.0.1";
  settings.port = broker.Port();
  quorvane::MqttClient publisher(io, settings);
  size_t acknowledged = 0;
  publisher.on_published = [&](int) { ++acknowledged; };
  publisher.Start();
  for (auto until = std::chrono::steady_clock::now() + 5s;
       !publisher.Connected() && std::chrono::steady_clock::now() < until;) {
    io.run_one_for(10ms);
  }
  Fleet fleet(vehicles);
  // The consumer subscribes on its own time: fixes from every vehicle until it reports each
  // cycle as soon as its last sentence comes (it learns that from a vehicle's first cycles,
  // which it reports when the next one begins).
  std::vector<double> latencies;
  std::unordered_map<std::string, size_t> by_stream;
  for (int tries = 0; tries < 200 && consumer.Fixes() < 3 * vehicles; ++tries) {
    if (tries % 20 == 0) {
      for (size_t v = 0; v < vehicles; ++v)
        publisher.Publish(fleet.Topic(v), fleet.NextMessage(v), 1, false);
    }
    io.run_for(50ms);
  }
  consumer.Take(latencies, by_stream);
  latencies.clear();
  by_stream.clear();

  // Sustained: each vehicle at its own moment of every second, while a browser shows the map.
  const std::string probe_output = (folder / "page.json").string();
  const pid_t probe = SpawnPageProbe("http://127.0.0.1:" + std::to_string(web_port) + "/",
                                     std::max(seconds - 3, 5), probe_output);
  const double publisher_cpu_start = CpuSeconds(::getpid());
  const double consumer_cpu_start = CpuSeconds(consumer.Pid());
  const double broker_cpu_start = CpuSeconds(broker.Pid());
  const auto start = std::chrono::steady_clock::now();
  size_t published = 0;
  const size_t total = vehicles * static_cast<size_t>(seconds);
  while (published < total) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto due = std::min(total, static_cast<size_t>(elapsed * static_cast<double>(vehicles)));
    for (; published < due; ++published) {
      const size_t v = published % vehicles;
      publisher.Publish(fleet.Topic(v), fleet.NextMessage(v), 1, false);
    }
    io.run_for(1ms);
  }
  const auto sustained_end = std::chrono::steady_clock::now();
  for (auto until = sustained_end + 10s; std::chrono::steady_clock::now() < until;) {
    io.run_for(50ms);
    consumer.AddTo(latencies, by_stream);
    if (latencies.size() >= total) break;
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double consumer_cpu = CpuSeconds(consumer.Pid()) - consumer_cpu_start;
  const double broker_cpu = CpuSeconds(broker.Pid()) - broker_cpu_start;
  const double publisher_cpu = CpuSeconds(::getpid()) - publisher_cpu_start;
  size_t short_streams = 0;
  for (size_t v = 0; v < vehicles; ++v) {
    if (by_stream[fleet.Topic(v)] < static_cast<size_t>(seconds)) ++short_streams;
  }
  const size_t received = latencies.size();
  if (probe != 0) ::waitpid(probe, nullptr, 0);
  std::string page;
  std::getline(std::ifstream(probe_output), page);

  std::printf("## Fleet through one broker (bench/fleet_bench)\n\n");
  std::printf(
      "%zu vehicles at 1 Hz for %d s, QoS 1, one mosquitto and one gps-monitor (--record-dir, "
      "KML), publisher, broker and consumer sharing this machine's cores. The latency is read "
      "from each cycle's own time (GGA and RMC stamped to the millisecond when published) against "
      "the clock when gps-monitor's TPV object for it is read from its pipe: decoding, the "
      "placemark and "
      "the JSON line are in it. The consumer also serves its live map (--web) to one headless "
      "Chromium, which lists every vehicle; its frames and the age of each vehicle's last fix on "
      "the page are measured at the end. The capacity burst then hands %zu messages over as fast "
      "as the "
      "publishing client takes them; the consumer's CPU per fix is its own ceiling on one "
      "core.\n\n",
      vehicles, seconds, capacity_fixes);
  std::printf("| measure | value |\n|---|---|\n");
  std::printf("| fixes published / decoded | %zu / %zu |\n", total, received);
  std::printf("| fixes lost | %zu (vehicles short of their fixes: %zu) |\n",
              total > received ? total - received : 0, short_streams);
  std::printf("| publish → decoded p50 / p99 / max | %.0f / %.0f / %.0f ms |\n",
              Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0));
  std::printf("| consumer CPU | %.1f %% of one core |\n", 100 * consumer_cpu / wall);
  std::printf("| broker CPU | %.1f %% |\n", 100 * broker_cpu / wall);
  std::printf("| publisher CPU (%zu simulated receivers) | %.1f %% |\n", vehicles,
              100 * publisher_cpu / wall);
  std::printf("| map page in headless Chromium (bench/page_probe.py) | %s |\n",
              page.empty() ? "not measured (no chromium or python3-websocket)" : page.c_str());

  // Capacity: as fast as the publisher can hand them over.
  std::vector<double> ignored;
  consumer.Take(ignored, by_stream);
  const size_t before = consumer.Fixes();
  const double consumer_cpu_before = CpuSeconds(consumer.Pid());
  const auto calls_before = SystemCalls(consumer.Pid());
  const auto burst_start = std::chrono::steady_clock::now();
  for (size_t sent = 0; sent < capacity_fixes; ++sent) {
    const size_t v = sent % vehicles;
    publisher.Publish(fleet.Topic(v), fleet.NextMessage(v), 1, false);
    if (sent % 500 == 499) io.poll();
  }
  const auto handed = std::chrono::steady_clock::now();
  for (auto until = handed + 60s;
       consumer.Fixes() - before < capacity_fixes && std::chrono::steady_clock::now() < until;) {
    io.run_for(20ms);
  }
  const double burst =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - burst_start).count();
  const size_t taken = consumer.Fixes() - before;
  const double burst_cpu = CpuSeconds(consumer.Pid()) - consumer_cpu_before;
  const auto calls = SystemCalls(consumer.Pid());
  const auto per_fix = [taken](double count) {
    return count / static_cast<double>(std::max<size_t>(taken, 1));
  };
  std::printf("| capacity: fixes decoded and recorded | %zu of %zu in %.2f s = %.0f fixes/s |\n",
              taken, capacity_fixes, burst, static_cast<double>(taken) / burst);
  std::printf("| capacity: consumer CPU per 1,000 fixes | %.1f ms |\n",
              1000 * 1000 * burst_cpu / static_cast<double>(std::max<size_t>(taken, 1)));
  std::printf("| capacity: consumer system calls per fix (reads / writes) | %.2f / %.2f |\n",
              per_fix(calls.first - calls_before.first),
              per_fix(calls.second - calls_before.second));
  std::printf("| consumer peak memory | %s |\n", PeakMemory(consumer.Pid()).c_str());
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "tracks")) {
    if (entry.path().extension() == ".kml") ++files;
  }
  std::printf("| track files (KML, one per vehicle) | %zu |\n", files);
  publisher.Close();
  return 0;
}
