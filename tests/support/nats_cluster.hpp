#pragma once
// Three nats-server nodes on loopback: routes between them, JetStream (which their MQTT needs,
// each with a store folder of its own) and an MQTT listener each, all on free ports, each
// logging to NODE.log. Stopped with the test; a node may be killed on the way.

#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/mosquitto_broker.hpp"
#include "support/programs.hpp"

namespace quorvane::testing {

class NatsCluster {
 public:
  static constexpr size_t kNodes = 3;

  explicit NatsCluster(const std::string& folder) {
    for (auto& node : nodes_) {
      node.client = FreeTcpPort();
      node.route = FreeTcpPort();
      node.mqtt = FreeTcpPort();
      node.monitor = FreeTcpPort();
    }
    std::string routes;
    for (const auto& node : nodes_) {
      routes += (routes.empty() ? "" : ", ") + std::string("nats-route://127.0.0.1:") +
                std::to_string(node.route);
    }
    for (size_t i = 0; i < kNodes; ++i) {
      Node& node = nodes_[i];
      node.config = folder + "/node" + std::to_string(i + 1) + ".conf";
      node.log = folder + "/node" + std::to_string(i + 1) + ".log";
      std::ofstream config(node.config);
      config << "server_name: node" << i + 1 << "\nlisten: 127.0.0.1:" << node.client
             << "\njetstream { store_dir: \"" << folder << "/store" << i + 1 << "\" }\n"
             << "cluster { name: qgps, listen: 127.0.0.1:" << node.route << ", routes: [" << routes
             << "] }\nmqtt { listen: 127.0.0.1:" << node.mqtt << " }\n"
             << "http: 127.0.0.1:" << node.monitor << "\n";
    }
  }
  ~NatsCluster() {
    for (size_t i = 0; i < kNodes; ++i) Kill(i, SIGTERM);
  }
  NatsCluster(const NatsCluster&) = delete;
  NatsCluster& operator=(const NatsCluster&) = delete;

  // Every node started and taking MQTT clients, and the cluster's JetStream leader elected as
  // each node's monitoring endpoint reports it (a while after the listeners open).
  bool Start() {
    for (auto& node : nodes_) {
      node.pid =
          SpawnProgram({DaemonPath("nats-server"), "-c", node.config}, "/dev/null", node.log);
      if (node.pid == 0) return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (const auto& node : nodes_) {
      while (!Accepting(node.mqtt) || !KnowsItsLeader(node)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    return true;
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
    for (const auto& node : nodes_) {
      std::ifstream log(node.log);
      for (std::string line; std::getline(log, line);) {
        const bool complaint =
            line.find("[WRN]") != std::string::npos || line.find("[ERR]") != std::string::npos;
        if (complaint && line.find("to connect to route") == std::string::npos) {
          complaints += node.log.substr(node.log.rfind('/') + 1) + ": " + line + "\n";
        }
      }
    }
    return complaints;
  }
  // "127.0.0.1:PORT" of a node's MQTT listener.
  std::string Mqtt(size_t node) const { return "127.0.0.1:" + std::to_string(nodes_[node].mqtt); }

 private:
  struct Node {
    uint16_t client = 0;
    uint16_t monitor = 0;  // nats-server's HTTP monitoring
    uint16_t route = 0;
    uint16_t mqtt = 0;
    std::string config;
    std::string log;
    pid_t pid = 0;
  };
  // The node names the JetStream meta leader in its /jsz report.
  static bool KnowsItsLeader(const Node& node) {
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
    if (body == std::string::npos) return false;
    const auto report = nlohmann::json::parse(answer.substr(body + 4), nullptr, false);
    return report.is_object() && report.contains("meta_cluster") &&
           !report["meta_cluster"].value("leader", "").empty();
  }

  std::array<Node, kNodes> nodes_;
};

}  // namespace quorvane::testing
