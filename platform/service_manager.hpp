#pragma once
// A program as a systemd service: the listening sockets systemd hands over (socket activation),
// readiness and the watchdog's pings told back, and lines for the journal with their
// priorities. Without systemd none of it is there and nothing changes.

#include <chrono>
#include <map>
#include <string>

namespace quorvane {

struct SystemdLibrary;

class ServiceManager {
 public:
  // The journal's priorities, as a line's "<N>" prefix gives them.
  enum class Priority { kError = 3, kWarning = 4, kInfo = 6 };

  // Reads what the service manager left in the environment (and clears its socket variables,
  // so that no program started from here takes the sockets for its own).
  // `program` begins each line.
  explicit ServiceManager(std::string program);

  // The listening socket handed over under `name` (FileDescriptorName=, or systemd-socket-
  // activate's --fdname), or -1. A single unnamed socket is gpsd's.
  int Socket(const std::string& name) const;
  // Standard output and standard error go to the journal.
  bool Journal() const { return journal_; }

  void Ready(const std::string& status) const;
  // Pings the watchdog when it is due; call it more often than half its interval.
  void Alive();
  void Stopping() const;

  // "PROGRAM: TEXT" for standard error, with the priority's prefix for the journal.
  std::string Line(Priority priority, const std::string& text) const;

 private:
  void Notify(const std::string& state) const;

  std::string program_;
  const SystemdLibrary* systemd_;  // null when no service manager started the program
  std::map<std::string, int> sockets_;
  bool journal_ = false;
  std::chrono::microseconds watchdog_{0};  // zero: no watchdog
  std::chrono::steady_clock::time_point last_ping_{};
};

}  // namespace quorvane
