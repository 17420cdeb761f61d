#pragma once
// Three nats-server nodes on loopback: routes between them, JetStream (which their MQTT needs,
// each with a store folder of its own) and an MQTT listener each, each logging to NODE.log.
// Each node chooses its client, MQTT and monitoring ports and says so in its log, where they are
// read. The route ports are the exception: every node is given the routes to all three before
// any starts (a cluster that only learns its routes from a seed node lost its MQTT sessions'
// requests when the seed died), so they are picked here, and the cluster is started again on
// fresh ones should another program take one first. Stopped with the test; a node may be killed
// on the way, and started again.

#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/files.hpp"
#include "support/mosquitto_broker.hpp"
#include "support/programs.hpp"

namespace quorvane::testing {

class NatsCluster {
 public:
  static constexpr size_t kNodes = 3;

  explicit NatsCluster(const std::string& folder) : folder_(folder) {}
  ~NatsCluster() {
    for (size_t i = 0; i < kNodes; ++i) Kill(i, SIGTERM);
  }
  NatsCluster(const NatsCluster&) = delete;
  NatsCluster& operator=(const NatsCluster&) = delete;

  // Every node started and taking MQTT clients, and the cluster's JetStream leader elected as
  // each node's monitoring endpoint reports it (a while after the listeners open).
  bool Start() {
    for (int attempt = 0; attempt < 5; ++attempt) {
      for (auto& node : nodes_) node.route = FreeTcpPort();
      bool started = true;
      for (size_t i = 0; i < kNodes && started; ++i) started = StartNode(i);
      if (started) return AllKnowTheirLeader() && AllTakeMqttClients();
      for (size_t i = 0; i < kNodes; ++i) Kill(i);
    }
    return false;
  }
  // Starts a node killed before again (its route port as before, the others of its own choosing
  // anew), and waits until the cluster has its JetStream leader with every node.
  bool Restart(size_t node) {
    return StartNode(node) && AllKnowTheirLeader() && AllTakeMqttClients();
  }
  void Kill(size_t node, int signal = SIGKILL) {
    if (nodes_[node].pid == 0) return;
    ::kill(nodes_[node].pid, signal);
    ::waitpid(nodes_[node].pid, nullptr, 0);
    nodes_[node].pid = 0;
  }
  // What the nodes warned of and failed at, each line with its node's name: why a client waited.
  // (A dead node's routes being tried again is left out.)
  std::string Complaints() const {
    std::string complaints;
    for (size_t i = 0; i < kNodes; ++i) {
      std::ifstream log(LogOf(i));
      for (std::string line; std::getline(log, line);) {
        const bool complaint = line.find("[WRN]") != std::string::npos ||
                               line.find("[ERR]") != std::string::npos ||
                               line.find("[FTL]") != std::string::npos;
        if (complaint && line.find("to connect to route") == std::string::npos) {
          complaints += "node" + std::to_string(i + 1) + ".log: " + line + "\n";
        }
      }
    }
    return complaints;
  }
  bool Running(size_t node) const { return nodes_[node].pid != 0; }
  // "127.0.0.1:PORT" of a node's MQTT listener, and of its NATS client listener.
  std::string Mqtt(size_t node) const { return "127.0.0.1:" + std::to_string(nodes_[node].mqtt); }
  std::string Nats(size_t node) const { return "127.0.0.1:" + std::to_string(nodes_[node].client); }

 private:
  struct Node {
    uint16_t client = 0;
    uint16_t monitor = 0;  // nats-server's HTTP monitoring
    uint16_t mqtt = 0;
    uint16_t route = 0;  // picked here: all the nodes name it
    pid_t pid = 0;
  };
  static constexpr auto kPatience = std::chrono::seconds(60);

  std::string ConfigOf(size_t node) const {
    return folder_ + "/node" + std::to_string(node + 1) + ".conf";
  }
  std::string LogOf(size_t node) const {
    return folder_ + "/node" + std::to_string(node + 1) + ".log";
  }
  void WriteConfig(size_t node) const {
    std::string routes;
    for (const auto& other : nodes_) {
      routes += (routes.empty() ? "" : ", ") + std::string("nats-route://127.0.0.1:") +
                std::to_string(other.route);
    }
    std::ofstream config(ConfigOf(node));
    config << "server_name: node" << node + 1 << "\nlisten: 127.0.0.1:-1\n"
           << "jetstream { store_dir: \"" << folder_ << "/store" << node + 1 << "\" }\n"
           << "cluster { name: qgps, listen: 127.0.0.1:" << nodes_[node].route << ", routes: ["
           << routes << "] }\n"
           << "mqtt { listen: 127.0.0.1:-1 }\nhttp: 127.0.0.1:-1\n"
           // A fleet's fixes in two partitions by vehicle, as docs/scaling.md sets it up.
           << "mappings = { \"parts.*.fix\": \"parts.{{wildcard(1)}}.fix.{{partition(2,1)}}\" }\n";
  }
  // Started, and its ports read from its log once every listener is open; false when it ended
  // first (its route port taken, say) or took too long.
  bool StartNode(size_t node) {
    WriteConfig(node);
    Node& started = nodes_[node];
    const size_t earlier = ReadLog(node).size();  // a node started again adds to its log
    started.pid = SpawnProgram({DaemonPath("nats-server"), "-c", ConfigOf(node), "-l", LogOf(node)},
                               "/dev/null", "/dev/null");
    if (started.pid == 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (true) {
      const std::string log = ReadLog(node).substr(earlier);
      const auto client = PortAfter(log, "Listening for client connections on 127.0.0.1:");
      const auto mqtt = PortAfter(log, "Listening for MQTT clients on mqtt://127.0.0.1:");
      const auto monitor = PortAfter(log, "Starting http monitor on 127.0.0.1:");
      const bool routing = log.find("Listening for route connections") != std::string::npos;
      if (client && mqtt && monitor && routing) {
        started.client = *client, started.mqtt = *mqtt, started.monitor = *monitor;
        return true;
      }
      if (::waitpid(started.pid, nullptr, WNOHANG) != 0 ||
          std::chrono::steady_clock::now() > deadline) {
        Kill(node);
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::string ReadLog(size_t node) const {
    std::ifstream log(LogOf(node));
    return std::string(std::istreambuf_iterator<char>(log), {});
  }
  static std::optional<uint16_t> PortAfter(const std::string& log, const std::string& words) {
    const size_t at = log.find(words);
    if (at == std::string::npos) return std::nullopt;
    const int port = std::atoi(log.c_str() + at + words.size());
    if (port <= 0 || port > 65535) return std::nullopt;
    return static_cast<uint16_t>(port);
  }
  size_t Running() const {
    size_t running = 0;
    for (const auto& node : nodes_) running += node.pid != 0 ? 1 : 0;
    return running;
  }
  // Every running node names the same JetStream meta leader, and the leader has every other
  // running node as a current peer: streams made now get their replicas on all of them.
  bool AllKnowTheirLeader() const {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!LeaderWithAllPeers()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }
  // Every running node takes an MQTT client and its message: a node may name its leader a while
  // before it can look up or make the streams MQTT keeps its sessions in (under load its MQTT
  // clients were refused for most of a minute after that). Each try is bounded: a node that
  // holds a client without answering is tried again.
  bool AllTakeMqttClients() const {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (size_t i = 0; i < kNodes; ++i) {
      if (nodes_[i].pid == 0) continue;
      const std::vector<std::string> probe{"timeout",
                                           "10",
                                           "mosquitto_pub",
                                           "-h",
                                           "127.0.0.1",
                                           "-p",
                                           std::to_string(nodes_[i].mqtt),
                                           "-i",
                                           "qgps-probe-" + std::to_string(i + 1),
                                           "-q",
                                           "1",
                                           "-t",
                                           "qgps/probe",
                                           "-m",
                                           "ready"};
      while (!RunProgram(probe)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
    }
    return true;
  }
  bool LeaderWithAllPeers() const {
    std::string leader;
    for (const auto& node : nodes_) {
      if (node.pid == 0) continue;
      const std::string named = MetaReport(node).value("leader", "");
      if (named.empty() || (!leader.empty() && named != leader)) return false;
      leader = named;
    }
    const size_t index = std::atoi(leader.c_str() + std::string("node").size()) - 1;
    if (index >= kNodes || nodes_[index].pid == 0) return false;
    size_t current = 0;
    for (const auto& peer : MetaReport(nodes_[index]).value("replicas", nlohmann::json::array())) {
      current += peer.value("current", false) && !peer.value("offline", false) ? 1 : 0;
    }
    return current + 1 >= Running();
  }
  // The "meta_cluster" part of the node's /jsz report; empty when it does not answer yet.
  static nlohmann::json MetaReport(const Node& node) {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(node.monitor);
    std::string answer;
    if (::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      const std::string request = "GET /jsz HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
      if (::write(probe, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char piece[4096];
        for (ssize_t got; (got = ::read(probe, piece, sizeof piece)) > 0;)
          answer.append(piece, got);
      }
    }
    ::close(probe);
    const size_t body = answer.find("\r\n\r\n");
    if (body == std::string::npos) return nlohmann::json::object();
    const auto report = nlohmann::json::parse(answer.substr(body + 4), nullptr, false);
    if (!report.is_object() || !report.contains("meta_cluster")) return nlohmann::json::object();
    return report["meta_cluster"];
  }

  std::string folder_;
  std::array<Node, kNodes> nodes_;
};

// The cluster the tests of one process share, started at the first call; a node killed by a test
// is started again at the next call. Null, with `trouble` said, when there is none to share:
// nats-server is not installed, or the cluster would not start.
inline NatsCluster* SharedNatsCluster(std::string& trouble) {
  struct Shared {
    ScratchFolder folder{"nats-cluster"};
    NatsCluster cluster{folder.File(".")};
    bool started = false;
  };
  static std::unique_ptr<Shared> shared;
  static std::string failure;
  if (!shared && failure.empty()) {
    if (!RunProgram({DaemonPath("nats-server"), "--version"})) {
      failure = "nats-server is not installed (scripts/setup.sh --tests)";
    } else {
      shared = std::make_unique<Shared>();
      if (!shared->cluster.Start())
        failure = "the cluster did not start:\n" + shared->cluster.Complaints();
    }
  }
  trouble = failure;
  if (!failure.empty()) return nullptr;
  for (size_t node = 0; node < NatsCluster::kNodes; ++node) {
    if (!shared->cluster.Running(node) && !shared->cluster.Restart(node)) {
      trouble = "node " + std::to_string(node + 1) + " did not start again:\n" +
                shared->cluster.Complaints();
      return nullptr;
    }
  }
  return &shared->cluster;
}

// A fixture (on `Base`) whose tests run on the shared cluster: skipped when nats-server is not
// installed, failed when the cluster would not start; what the nodes complained of is shown when
// a test failed.
template <typename Base>
class OnSharedNatsCluster : public Base {
 protected:
  void SetUp() override {
    std::string trouble;
    cluster_ = SharedNatsCluster(trouble);
    if (trouble.starts_with("nats-server is not installed")) GTEST_SKIP() << trouble;
    ASSERT_NE(cluster_, nullptr) << trouble;
  }
  void TearDown() override {
    if (this->HasFailure() && cluster_) {
      std::cerr << "The nodes complained:\n" << cluster_->Complaints();
    }
  }

  NatsCluster* cluster_ = nullptr;
};

}  // namespace quorvane::testing
