#pragma once
// A real mosquitto broker for one test: on 127.0.0.1 at a free port, configured by a file in
// the test's folder (a password file, TLS files), stopped and started again at will, and
// always stopped when the test ends.

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <netinet/in.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/programs.hpp"

namespace quorvane::testing {

// A TCP port that nothing listens on now.
inline uint16_t FreeTcpPort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  return ntohs(address.sin_port);
}

class MosquittoBroker {
 public:
  // `settings` are lines added to the listener's configuration ("allow_anonymous false", ...).
  MosquittoBroker(const std::string& folder, const std::vector<std::string>& settings = {})
      : settings_(settings), config_(folder + "/mosquitto.conf") {}
  ~MosquittoBroker() { Stop(); }

  // Started, and listening, within a few seconds, on a port freed for it (one taken meanwhile
  // ends the broker, and another is tried); started again, on the port it had.
  bool Start() {
    for (int attempt = 0; attempt < 5; ++attempt) {
      if (port_ == 0 || attempt > 0) port_ = FreeTcpPort();
      WriteConfiguration();
      pid_ = SpawnProgram({DaemonPath("mosquitto"), "-c", config_});
      if (ListensOn(pid_, port_, std::chrono::seconds(5))) return true;
      Stop();
    }
    return false;
  }
  void Stop() {
    if (pid_ == 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  uint16_t Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  std::string Address(const std::string& path) const {
    return "mqtt://127.0.0.1:" + std::to_string(port_) + "/" + path;
  }

 private:
  void WriteConfiguration() const {
    std::ofstream config(config_);
    config << "listener " << port_ << " 127.0.0.1\n";
    bool anonymity_set = false;
    for (const auto& line : settings_) {
      config << line << "\n";
      anonymity_set = anonymity_set || line.starts_with("allow_anonymous");
    }
    if (!anonymity_set) config << "allow_anonymous true\n";
    // Started by root it would read the test's files (keys, passwords) as the user "mosquitto",
    // which the test's umask may keep out; as anyone else it stays who it is anyway.
    config << "user root\nlog_dest none\n";
  }

  std::vector<std::string> settings_;
  uint16_t port_ = 0;
  std::string config_;
  pid_t pid_ = 0;
};

}  // namespace quorvane::testing
