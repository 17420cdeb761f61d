// gps-monitor: the live fix of a GPS receiver in the terminal.

#include <csignal>
#include <iostream>

#include "apps/gps_monitor/monitor.hpp"
#include "platform/platform.hpp"

namespace {

// The machine, except that web maps are printed rather than opened.
class PrintingPlatform final : public quorvane::Platform {
 public:
  explicit PrintingPlatform(quorvane::Platform& machine) : machine_(machine) {}
  std::string ListSerialPorts(bool StripPrefix) override {
    return machine_.ListSerialPorts(StripPrefix);
  }
  quorvane::ClockReading Now() override { return machine_.Now(); }
  int32_t GetTimeZoneBias() override { return machine_.GetTimeZoneBias(); }
  std::string GetTimeZoneStandardName() override { return machine_.GetTimeZoneStandardName(); }
  void SetLocalClock(int16_t h, int16_t m, int16_t s) override { machine_.SetLocalClock(h, m, s); }
  void SetUtcClock(int16_t h, int16_t m, int16_t s) override { machine_.SetUtcClock(h, m, s); }
  void ShellOpen(const std::string& address) override { std::cout << address << std::endl; }

 private:
  quorvane::Platform& machine_;
};

}  // namespace

int main(int argc, char** argv) {
  // A reader that closes the pipe makes a write fail with EPIPE, which ends the run cleanly,
  // instead of killing the process with the track unfinished.
  std::signal(SIGPIPE, SIG_IGN);
  // Every line goes through std::cout only; a stream of its own is far cheaper per line.
  std::ios::sync_with_stdio(false);
  auto parsed = quorvane::monitor::ParseOptions(argc, argv);
  if (const int* exit_code = std::get_if<int>(&parsed)) return *exit_code;
  auto& options = std::get<quorvane::monitor::Options>(parsed);
  PrintingPlatform printing(quorvane::TheSystemPlatform());
  quorvane::Platform& platform = options.print_url ? static_cast<quorvane::Platform&>(printing)
                                                   : quorvane::TheSystemPlatform();
  quorvane::monitor::Monitor monitor(std::move(options), platform);
  return monitor.Run();
}
