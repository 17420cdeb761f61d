#pragma once
// gps-monitor's run: one GPS control on an io_context, fed by the chosen source, shown by the
// display at every fix the control reports, stopped cleanly by the end of a replay, a signal or
// an error.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>

#include "apps/gps_monitor/display.hpp"
#include "apps/gps_monitor/options.hpp"
#include "control/gps.hpp"
#include "platform/service_manager.hpp"
#include "sources/log_replay.hpp"
#include "sources/pty_replay.hpp"

namespace quorvane::monitor {

// The bundled sample drive.
std::string SampleDrivePath();

class Monitor {
 public:
  Monitor(Options options, Platform& platform);
  // Runs until the source ends, a signal or an error; the process's exit code.
  int Run();

 private:
  int ListPorts();
  bool OpenSource();
  bool OpenReplay();
  // The outputs named by the options: the servers and the broker, opened before the source;
  // chrony's segment, the files and JSON lines, once it opened.
  std::vector<std::string> ServiceTexts() const;
  std::vector<std::string> FileTexts() const;
  bool OpenSinks(const std::vector<std::string>& texts);
  void SayWhereServed() const;
  // A run that could not start: whatever opened is closed; its exit code.
  int Abandon();
  std::string ReceiverName() const;
  bool ReadsALog() const;
  // The --source address is of that kind.
  bool SourceIs(SourceAddress::Scheme scheme) const;
  MqttTlsFiles TlsFiles() const;
  void StartSerial();
  void OnFixUpdated(FixChanges changes);
  void OnEpoch(const Fix& fix, const std::string& stream);
  void OnNotice(const std::string& what, NoticeKind kind);
  // A line on standard error; for the journal with its priority.
  void Say(ServiceManager::Priority priority, const std::string& text) const;
  void OnFirstFix();
  bool ConfirmClockSetting();
  void Tick();
  void Stop(int exit_code);
  Status CurrentStatus() const;
  void MeasureTheSecond();
  void PrintSummary();
  void CheckOutput();
  void AdviseEvents();
  void CatchSignals();
  // SIGHUP begins the files anew, as often as it comes.
  void AwaitHangUp();
  // The exit code of a run stopped by a signal: 1 (said) when its network source is away.
  int SourceAwayAtEnd() const;

  Options options_;
  Platform& platform_;
  asio::io_context io_;
  GPS gps_;
  std::shared_ptr<LogReplay> log_replay_;
  std::unique_ptr<PtyReplay> pty_replay_;
  ServiceManager service_{"gps-monitor"};
  Display display_;
  size_t source_brokers_ = 1;  // brokers in the MQTT source's list
  std::string fleet_filter_;   // the topic filter that names the vehicles
  // Every signal that would end the process and can be caught (but SIGHUP) ends a run as an
  // interrupt does: the tracks finished, the placemark written.
  asio::signal_set signals_{io_};
  asio::signal_set hangups_{io_};
  asio::steady_timer ticker_{io_};
  std::string source_;
  bool serial_source_ = false;
  bool file_source_ = false;  // a log given by --source file:...
  bool had_fix_ = false;      // a GGA with a position: the map, the clock, the placemark
  bool heard_fix_ = false;    // an epoch with a fix
  bool stopping_ = false;
  bool running_ = false;
  std::string reconnecting_;  // the last word of a network source trying again
  std::string last_loss_;     // why it is away
  bool source_away_ = false;  // lost (or never connected) and not back yet
  int exit_code_ = 0;
  uint64_t bytes_received_ = 0;
  uint64_t bytes_at_second_start_ = 0;
  uint64_t sentences_at_second_start_ = 0;
  double sentences_per_second_ = 0;
  std::string hearing_;
  uint64_t fixes_ = 0;
  std::string first_fix_time_;
  std::string last_fix_time_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point second_started_ = started_;
};

}  // namespace quorvane::monitor
