#pragma once
// Other programs run by the tests: gps-monitor itself, and the real daemons and tools of the
// field (gpsd, mosquitto, openssl), their output going where the test wants it.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace quorvane::testing {

// Starts `arguments` (the program found on PATH unless a path is given) with standard input
// from /dev/null and its output to the files named, "/dev/null" to drop it or "" to leave it as
// the test's; its process id, or 0 when it could not be started. The program dies with the test
// process, however that ends (a failed assertion, a sanitizer's abort, ctest's timeout): none
// is left running after the suite.
inline pid_t SpawnProgram(std::vector<std::string> arguments, const std::string& out = "",
                          const std::string& err = "") {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return 0;
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only what is safe between fork and exec: the descriptors, the death signal, the program.
    const auto redirect = [](int target, const char* path, int flags) {
      const int file = ::open(path, flags, 0644);
      if (file >= 0) ::dup2(file, target);
    };
    redirect(0, "/dev/null", O_RDONLY);
    if (!out.empty()) redirect(1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
    if (!err.empty()) redirect(2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the test ended before the signal was asked for
    ::execvp(argv[0], argv.data());
    const char failed = 1;
    [[maybe_unused]] const auto written = ::write(ready[1], &failed, 1);
    ::_exit(127);
  }
  ::close(ready[1]);
  // The pipe closes unread when the program started; a byte says it could not be.
  char failed = 0;
  const bool started = pid > 0 && ::read(ready[0], &failed, 1) == 0;
  ::close(ready[0]);
  if (pid > 0 && !started) ::waitpid(pid, nullptr, 0);
  return started ? pid : 0;
}

// Waits for the program `pid` to end, at most `most`: one still running then is killed. Its wait
// status.
inline int WaitAtMost(pid_t pid, std::chrono::milliseconds most) {
  const auto deadline = std::chrono::steady_clock::now() + most;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status;
}

// Runs a program to its end, its output dropped; whether it succeeded.
inline bool RunProgram(std::vector<std::string> arguments) {
  const pid_t pid = SpawnProgram(std::move(arguments), "/dev/null", "/dev/null");
  int status = 0;
  return pid != 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// A program the test started, stopped (SIGTERM, then waited for) when the object goes.
class Running {
 public:
  explicit Running(pid_t pid) : pid_(pid) {}
  ~Running() { Stop(); }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;
  bool Started() const { return pid_ != 0; }
  pid_t Pid() const { return pid_; }
  void Stop() {
    if (pid_ == 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_;
};

// The program `pid` has ended (looked at, not reaped: the test may still wait for it).
inline bool Ended(pid_t pid) {
  siginfo_t ended{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         ended.si_pid == pid;
}

// Something accepts connections on 127.0.0.1:`port`.
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

// A daemon told to listen on `port` (one freed for it) does so: the port accepts and the daemon
// `pid` still runs a moment later (one that found the port taken meanwhile has ended: the test
// tries another). False when it ended, or did not listen within `most`.
inline bool ListensOn(pid_t pid, uint16_t port,
                      std::chrono::milliseconds most = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + most;
  while (!Accepting(port)) {
    if (pid == 0 || Ended(pid) || std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return !Ended(pid);
}

// The port gps-monitor says its server of `what` ("gpsd", "NMEA", "map") took, in the standard
// error it writes to `err_file` ("serving gpsd clients on 127.0.0.1:41234"); 0 when it has not
// said so within `most` (or the program ended first: its `pid`).
inline uint16_t ServedPort(const std::string& err_file, const std::string& what, pid_t pid,
                           std::chrono::milliseconds most = std::chrono::seconds(20)) {
  const std::string said = "serving " + what + " clients on ";
  const auto deadline = std::chrono::steady_clock::now() + most;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream file(err_file);
    for (std::string line; std::getline(file, line);) {
      if (line.find(said) != std::string::npos) {
        return static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
      }
    }
    if (Ended(pid)) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

// Debian puts its daemons in /usr/sbin, which a PATH may lack.
inline std::string DaemonPath(const std::string& name) {
  const std::string in_sbin = "/usr/sbin/" + name;
  return ::access(in_sbin.c_str(), X_OK) == 0 ? in_sbin : name;
}

}  // namespace quorvane::testing
