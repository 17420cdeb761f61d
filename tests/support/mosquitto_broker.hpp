#pragma once
// A real mosquitto broker for one test: on 127.0.0.1 at a free port, configured by a file in
// the test's folder (a password file, TLS files), stopped and started again at will, and
// always stopped when the test ends.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <netinet/in.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

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

inline bool Accepting(uint16_t port) {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool accepting =
      ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(probe);
  return accepting;
}

// Runs a program to its end; whether it succeeded.
inline bool RunProgram(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return started && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

class MosquittoBroker {
 public:
  // `settings` are lines added to the listener's configuration ("allow_anonymous false", ...).
  MosquittoBroker(const std::string& folder, const std::vector<std::string>& settings = {})
      : port_(FreeTcpPort()), config_(folder + "/mosquitto.conf") {
    std::ofstream config(config_);
    config << "listener " << port_ << " 127.0.0.1\n";
    bool anonymity_set = false;
    for (const auto& line : settings) {
      config << line << "\n";
      anonymity_set = anonymity_set || line.starts_with("allow_anonymous");
    }
    if (!anonymity_set) config << "allow_anonymous true\n";
    // Started by root it would read the test's files (keys, passwords) as the user "mosquitto",
    // which the test's umask may keep out; as anyone else it stays who it is anyway.
    config << "user root\nlog_dest none\n";
  }
  ~MosquittoBroker() { Stop(); }

  // Started, and listening, within a few seconds.
  bool Start() {
    std::vector<std::string> arguments{"mosquitto", "-c", config_};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Debian puts it in /usr/sbin, which a PATH may lack.
    const char* program =
        ::access("/usr/sbin/mosquitto", X_OK) == 0 ? "/usr/sbin/mosquitto" : "mosquitto";
    if (posix_spawnp(&pid_, program, nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = 0;
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Accepting(port_)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
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
  uint16_t port_;
  std::string config_;
  pid_t pid_ = 0;
};

}  // namespace quorvane::testing
