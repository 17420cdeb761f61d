#include "apps/gps_monitor/monitor.hpp"

#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <iostream>
#include <map>

#include <asio/post.hpp>

#include "base/text_rules.hpp"
#include "mqtt/mqtt_address.hpp"
#include "nats/nats_address.hpp"
#include "nmea/hearing.hpp"
#include "platform/port_table.hpp"
#include "platform/socket_comm.hpp"
#include "sinks/fleet_tracks.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane::monitor {
namespace {

using namespace std::chrono_literals;

// Whether a UDP port can be bound here (the control itself stays quiet about a busy one).
bool UdpPortFree(uint16_t port) {
  asio::io_context io;
  SocketComm probe(io);
  probe.LocalPort(static_cast<int16_t>(port));
  try {
    probe.Connect();
  } catch (const SocketError&) {
    return false;
  }
  return true;
}

// How long a run that reads a log waits for its broker's first connection.
constexpr auto kConnectionTime = std::chrono::seconds(5);

Display::Mode ModeFor(const Options& options, const ServiceManager& service) {
  if (options.json) return Display::Mode::kJson;
  if (options.json_properties) return Display::Mode::kProperties;
  // A service writes no screen: its journal gets the events worth a line.
  if (service.Journal()) return Display::Mode::kQuiet;
  return ::isatty(STDOUT_FILENO) ? Display::Mode::kDashboard : Display::Mode::kPlain;
}

ServiceManager::Priority PriorityOf(NoticeKind kind) {
  switch (kind) {
    case NoticeKind::kWarning:
    case NoticeKind::kSourceLost:
      return ServiceManager::Priority::kWarning;
    default:
      return ServiceManager::Priority::kError;
  }
}

}  // namespace

std::string SampleDrivePath() {
  // Installed (a package unpacked anywhere): share/quorvane-gps beside the program's bin/; in
  // the source tree: its data/ folder.
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::filesystem::path installed =
      program.parent_path().parent_path() / "share" / "quorvane-gps" / "sample_drive.nmea";
  for (const std::filesystem::path& candidate :
       {installed, std::filesystem::path(QGPS_DATA_DIR "/sample_drive.nmea")}) {
    if (!error && std::filesystem::exists(candidate)) return candidate.string();
    error.clear();
  }
  return "data/sample_drive.nmea";
}

Monitor::Monitor(Options options, Platform& platform)
    : options_(std::move(options)),
      platform_(platform),
      gps_(io_, platform),
      display_(ModeFor(options_, service_), std::cout) {}

void Monitor::Say(ServiceManager::Priority priority, const std::string& text) const {
  std::cerr << service_.Line(priority, text) << std::flush;
}

int Monitor::ListPorts() {
  gps_.Advise({.SerialPort = [](int16_t& number) {
    std::cout << number << "  " << DevicePathOfPort(number).value_or("?") << "\n";
  }});
  gps_.EnumSerialPorts();
  return 0;
}

bool Monitor::OpenSource() {
  if (options_.listen) {
    if (!UdpPortFree(*options_.listen)) {
      Say(ServiceManager::Priority::kError,
          "UDP port " + std::to_string(*options_.listen) + " is in use");
      return false;
    }
    source_ = "listening on UDP port " + std::to_string(*options_.listen);
    gps_.Connect(static_cast<int16_t>(*options_.listen));
    return true;
  }
  if (!options_.source.empty()) {
    source_ = options_.source;
    file_source_ = SourceIs(SourceAddress::Scheme::kFile);
    if (SourceIs(SourceAddress::Scheme::kNats)) {
      source_ = NatsAddressText(*options_.source_address);
      source_brokers_ = 1 + options_.source_address->alternates.size();
      fleet_filter_ = "+";  // its streams are the vehicles' names
    }
    if (SourceIs(SourceAddress::Scheme::kMqtt)) {
      const SourceAddress* parsed = &*options_.source_address;
      source_ = MqttAddressText(*parsed);
      source_brokers_ = 1 + parsed->alternates.size();
      gps_.MqttTls(TlsFiles());
      gps_.MqttId(options_.mqtt_id);
      fleet_filter_ = parsed->path;
    }
    gps_.OpenSource(options_.source);
    return exit_code_ == 0;
  }
  if (options_.port) {
    source_ = "serial port " + std::to_string(*options_.port);
    gps_.Port(*options_.port);
  } else if (!options_.device.empty()) {
    source_ = options_.device;
    gps_.Port(AssignFreePortNumber(options_.device));
  } else {
    return OpenReplay();
  }
  serial_source_ = true;
  StartSerial();
  return exit_code_ == 0;
}

std::string Monitor::ReceiverName() const {
  // A fleet's vehicles are named by their topics (or subjects).
  if (SourceIs(SourceAddress::Scheme::kMqtt) || SourceIs(SourceAddress::Scheme::kNats)) return {};
  if (!options_.source.empty()) return options_.source;
  if (options_.listen) return "udp://:" + std::to_string(*options_.listen);
  if (options_.port) return DevicePathOfPort(*options_.port).value_or("serial port");
  if (!options_.device.empty()) return options_.device;
  return options_.replay.empty() ? SampleDrivePath() : options_.replay;
}

MqttTlsFiles Monitor::TlsFiles() const {
  return {options_.mqtt_cafile, options_.mqtt_cert, options_.mqtt_key};
}

bool Monitor::OpenSinks(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    if (!gps_.OpenSink(text)) return false;
  }
  return true;
}

std::vector<std::string> Monitor::ServiceTexts() const {
  // The servers name the receiver's device as gps-monitor says it; a fleet's are its vehicles.
  const std::string device = "device=" + OptionValue(ReceiverName());
  std::vector<std::string> texts;
  if (!options_.broadcast.empty()) texts.push_back("udp://" + options_.broadcast);
  // A socket handed over by systemd (by its name) is served whether or not its option was given.
  const auto handed = [this](const char* name) { return service_.Socket(name) >= 0; };
  const auto descriptor = [this](const char* name, char joint) {
    const int socket = service_.Socket(name);
    return socket < 0 ? std::string() : joint + ("fd=" + std::to_string(socket));
  };
  if (options_.serve_nmea || handed("nmea")) {
    texts.push_back("tcp://" + options_.serve_nmea.value_or(":10110") + descriptor("nmea", '?'));
  }
  if (options_.serve_gpsd || handed("gpsd")) {
    texts.push_back("gpsd://" + options_.serve_gpsd.value_or(":2947") + "?" + device +
                    descriptor("gpsd", '&'));
  }
  if (options_.web || handed("web")) {
    texts.push_back(
        "http://" + options_.web.value_or(":8080") + "?" + device +
        "&tiles=" + OptionValue(options_.tiles.empty() ? "none" : options_.tiles) +
        "&attribution=" + OptionValue(options_.tiles_attribution) +
        (options_.web_hosts.empty() ? "" : "&hosts=" + OptionValue(options_.web_hosts)) +
        descriptor("web", '&'));
  }
  if (!options_.publish.empty()) {
    // One process's two clients must not share a name: the broker would drop one for the other.
    const bool source_too = SourceIs(SourceAddress::Scheme::kMqtt);
    const std::string id = options_.mqtt_id.empty() || !source_too
                               ? options_.mqtt_id
                               : options_.mqtt_id + "-publisher";
    // The address's own options (nmea-qos=1, stream=...) may follow it.
    const char joint = options_.publish.find('?') == std::string::npos ? '?' : '&';
    if (options_.publish.starts_with("nats://")) {
      texts.push_back(options_.publish + joint + "queue=" + std::to_string(options_.mqtt_queue));
      return texts;
    }
    texts.push_back(
        options_.publish + joint + "queue=" + std::to_string(options_.mqtt_queue) +
        (id.empty() ? "" : "&id=" + OptionValue(id)) +
        (options_.mqtt_cafile.empty() ? "" : "&cafile=" + OptionValue(options_.mqtt_cafile)) +
        (options_.mqtt_cert.empty() ? "" : "&cert=" + OptionValue(options_.mqtt_cert)) +
        (options_.mqtt_key.empty() ? "" : "&key=" + OptionValue(options_.mqtt_key)));
  }
  return texts;
}

std::vector<std::string> Monitor::FileTexts() const {
  std::vector<std::string> texts;
  // The clock's segment knows the source it takes the time of.
  if (options_.chrony_shm) {
    texts.push_back("shm:" + std::to_string(*options_.chrony_shm) +
                    "?offset=" + NumberToText(options_.time_offset));
  }
  if (display_.GetMode() == Display::Mode::kJson) texts.emplace_back("json:-");
  if (display_.GetMode() == Display::Mode::kPlain) texts.emplace_back("text:-");
  for (const auto& file : options_.record) {
    texts.push_back(
        file + (options_.description.empty() ? "" : "?name=" + OptionValue(options_.description)));
  }
  if (!options_.record_dir.empty()) {
    texts.push_back(options_.record_dir + "/*." + options_.record_format);
  }
  return texts;
}

bool Monitor::SourceIs(SourceAddress::Scheme scheme) const {
  return options_.source_address && options_.source_address->scheme == scheme;
}

bool Monitor::ReadsALog() const {
  if (!options_.source.empty()) return SourceIs(SourceAddress::Scheme::kFile);
  return !options_.listen && !options_.port && options_.device.empty();
}

void Monitor::StartSerial() {
  if (!options_.settings.empty()) gps_.PortSettings(options_.settings);
  gps_.Start();
}

bool Monitor::OpenReplay() {
  const std::string log = options_.replay.empty() ? SampleDrivePath() : options_.replay;
  const double speed = options_.speed.value_or(options_.replay.empty() ? 10 : 1);
  source_ = "replay of " + log +
            (speed == LogReplay::kAsFastAsItGoes ? " as fast as it goes"
                                                 : " at " + NumberToText(speed) + "x") +
            (options_.replay_via_pty ? " through a pseudo-terminal" : "");
  try {
    if (options_.replay_via_pty) {
      pty_replay_ = std::make_unique<PtyReplay>(io_, log, speed);
    } else {
      log_replay_ = std::make_shared<LogReplay>(io_, log, speed);
    }
  } catch (const std::exception& error) {
    Say(ServiceManager::Priority::kError, error.what());
    return false;
  }
  if (pty_replay_) {
    serial_source_ = true;
    gps_.Port(AssignFreePortNumber(pty_replay_->DevicePath()));
    StartSerial();
    return exit_code_ == 0;
  }
  // Stopping waits for the turn that handed on the last block to finish.
  log_replay_->OnEnd([this] { Stop(0); });
  gps_.Open(log_replay_);
  return true;
}

void Monitor::AdviseEvents() {
  gps_.Advise(
      {.Stream =
           [this](std::string& data) {
             bytes_received_ += data.size();
             display_.Flush();
             CheckOutput();
             // Taking the end of a pseudo-terminal replay stops the monitor.
             if (pty_replay_) pty_replay_->Taken(data.size());
           },
       .FixUpdated = [this](FixChanges changes) { OnFixUpdated(changes); },
       .Reconnecting =
           [this](const std::string& what) {
             // The dashboard shows why, with when the next try comes.
             reconnecting_ = last_loss_.empty() ? what : last_loss_ + "; " + what;
             // The journal has the loss and the return, not every try.
             if (display_.GetMode() != Display::Mode::kDashboard &&
                 display_.GetMode() != Display::Mode::kQuiet) {
               Say(ServiceManager::Priority::kWarning, what);
             }
           },
       .Epoch = [this](const Fix& fix, const std::string& stream) { OnEpoch(fix, stream); },
       .Notice = [this](const std::string& what, NoticeKind kind) { OnNotice(what, kind); }});
}

void Monitor::OnNotice(const std::string& what, NoticeKind kind) {
  // A peer's text (a topic) reaches the terminal without its control characters. The dashboard
  // shows a network source's losses and warnings itself, once it runs.
  const bool quiet = display_.GetMode() == Display::Mode::kDashboard && running_ &&
                     (kind == NoticeKind::kWarning || kind == NoticeKind::kSourceLost);
  if (!quiet) Say(PriorityOf(kind), Printable(what));
  switch (kind) {
    case NoticeKind::kWarning:
      return;
    case NoticeKind::kSourceLost:
      // Tried again: it fails the run only if the source is still away at the end.
      last_loss_ = what;
      source_away_ = true;
      return;
    case NoticeKind::kUsage:
      exit_code_ = 2;
      if (running_) asio::post(io_, [this] { Stop(2); });
      return;
    case NoticeKind::kOutputFailed:
    case NoticeKind::kError:
      // The other outputs go on; the run has failed.
      exit_code_ = 1;
      return;
  }
}

int Monitor::Run() {
  if (options_.list_ports) return ListPorts();
  gps_.AllTalkers(!options_.gp_only);
  gps_.VerifyChecksum(!options_.no_checksum);
  AdviseEvents();
  // The servers first, the files once the source opened: a run that cannot read anything
  // leaves an earlier track as it was.
  if (!OpenSinks(ServiceTexts())) return Abandon();
  SayWhereServed();
  CatchSignals();
  if (ReadsALog()) gps_.AwaitSinks(kConnectionTime);
  if (stopping_) return exit_code_;
  if (!OpenSource() || !OpenSinks(FileTexts())) return Abandon();
  if (!options_.send.empty()) gps_.SendCommand(options_.send);
  // Stopping waits for the handler that took the end of the replay to finish its block (the
  // rebroadcast of the block comes after its Stream event).
  if (pty_replay_) pty_replay_->Begin([this] { asio::post(io_, [this] { Stop(0); }); });
  running_ = true;
  service_.Ready("reading " + source_);
  if (service_.Journal()) Say(ServiceManager::Priority::kInfo, "reading " + source_);
  Tick();
  io_.run();
  return exit_code_;
}

int Monitor::Abandon() {
  if (exit_code_ == 0) exit_code_ = 1;
  Stop(exit_code_);
  io_.run();
  return exit_code_;
}

void Monitor::SayWhereServed() const {
  // The dashboard shows it; elsewhere it is said once ("serving gpsd clients on 127.0.0.1:2947"),
  // the port a server chose among it when it was given port 0.
  if (display_.GetMode() == Display::Mode::kDashboard) return;
  for (const std::string& state : gps_.SinkStates()) {
    if (state.find(" clients on ") == std::string::npos) continue;
    Say(ServiceManager::Priority::kInfo, "serving " + state.substr(state.find(' ') + 1));
  }
}

void Monitor::CatchSignals() {
  for (const int signal : {SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ,
                           SIGVTALRM, SIGPROF}) {
    signals_.add(signal);
  }
  signals_.async_wait([this](const std::error_code& error, int) {
    if (!error) Stop(SourceAwayAtEnd());
  });
  hangups_.add(SIGHUP);
  AwaitHangUp();
}

void Monitor::AwaitHangUp() {
  hangups_.async_wait([this](const std::error_code& error, int) {
    if (error || stopping_) return;
    // logrotate moved the files away: each is finished and begun again.
    if (service_.Journal()) Say(ServiceManager::Priority::kInfo, "files begun anew (SIGHUP)");
    gps_.ReopenSinkFiles();
    AwaitHangUp();
  });
}

int Monitor::SourceAwayAtEnd() const {
  if (!source_away_ || gps_.Engine()) return 0;
  Say(ServiceManager::Priority::kError, "stopped while " + source_ + " was away");
  return 1;
}

void Monitor::CheckOutput() {
  if (std::cout.good() || stopping_) return;
  // A reader that went away (`| head -1`) ends the run as SIGTERM does; any other failure
  // (a full disk) is an error.
  const int error_number = errno;
  if (error_number == EPIPE) {
    Stop(0);
    return;
  }
  Say(ServiceManager::Priority::kError,
      "cannot write the output: " + std::generic_category().message(error_number));
  Stop(1);
}

void Monitor::OnFixUpdated(FixChanges changes) {
  // Every GGA writes the position: one object of the properties per GGA.
  if (!(changes & kPositionChanged)) return;
  display_.Properties(gps_);
  CheckOutput();
  if (!had_fix_ && !gps_.LastGPGGA().empty()) OnFirstFix();
}

void Monitor::OnEpoch(const Fix& fix, const std::string& stream) {
  if (fix.HasFix()) {
    heard_fix_ = true;
    ++fixes_;
    last_fix_time_ = TimeOfDayText(fix.time);
    if (first_fix_time_.empty()) first_fix_time_ = last_fix_time_;
  }
  display_.Epoch(fix, stream);
  CheckOutput();
}

void Monitor::OnFirstFix() {
  had_fix_ = true;
  if (options_.map) {
    static const std::map<MapService, void (GPS::*)() const> kShowMap{
        {MapService::kMapQuest, &GPS::ShowMapQuestWebPage},
        {MapService::kNokia, &GPS::ShowNokiaMaps},
        {MapService::kGoogle, &GPS::ShowGoogleMaps},
        {MapService::kGoogleSatellite, &GPS::ShowGoogleMapsSatellite},
        {MapService::kBing, &GPS::ShowBingMaps},
        {MapService::kBingSatellite, &GPS::ShowBingMapsSatellite}};
    (gps_.*kShowMap.at(*options_.map))();
  }
  if (!options_.set_clock.empty() && ConfirmClockSetting()) {
    if (options_.set_clock == "utc") {
      gps_.SetSystemClock_UTC();
    } else {
      gps_.SetSystemClock_LocalTime();
    }
  }
}

bool Monitor::ConfirmClockSetting() {
  if (options_.yes) return true;
  // The time is the receiver's text: it reaches the terminal only through the printable filter.
  const std::string time = Printable(
      options_.set_clock == "utc" ? gps_.GPS_Time() + " UTC" : gps_.LocalTime() + " local time");
  std::cerr << "Set the computer's clock to " << time << "? [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return answer == "y" || answer == "Y" || answer == "yes";
}

Status Monitor::CurrentStatus() const {
  std::string recording;
  for (const auto& file : options_.record) recording += (recording.empty() ? "" : ", ") + file;
  if (!options_.record_dir.empty()) {
    recording += (recording.empty() ? "" : ", ") + options_.record_dir + "/ (a " +
                 options_.record_format + " file per vehicle)";
  }
  const bool waiting_for_server = !reconnecting_.empty() && !gps_.Engine();
  Status status;
  status.source = source_;
  // A cluster's broker in use.
  if (source_brokers_ > 1) status.source += " (on " + gps_.SourcePeer() + ")";
  status.recording_file = recording;
  status.sentences_per_second = sentences_per_second_;
  status.hearing = waiting_for_server ? reconnecting_ : hearing_;
  status.outputs = gps_.SinkStates();
  status.vehicles = gps_.RecentStreams(20, [&](const std::string& topic, const Fix& last) {
    status.vehicle_lines.push_back(VehicleLine(VehicleNameOf(fleet_filter_, topic), last));
  });
  if (log_replay_ || pty_replay_) {
    const double share = log_replay_ ? log_replay_->ShareDone() : pty_replay_->ShareDone();
    status.replay_share = share;
    if (share > 0.001) {
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
      status.seconds_left = elapsed * (1 - share) / share;
    }
  }
  return status;
}

void Monitor::MeasureTheSecond() {
  const auto now = std::chrono::steady_clock::now();
  const double span = std::chrono::duration<double>(now - second_started_).count();
  if (span < 1) return;
  const uint64_t sentences = gps_.Heard().Sentences();
  const bool heard_something =
      sentences > sentences_at_second_start_ || bytes_received_ > bytes_at_second_start_;
  sentences_per_second_ = static_cast<double>(sentences - sentences_at_second_start_) / span;
  sentences_at_second_start_ = sentences;
  bytes_at_second_start_ = bytes_received_;
  second_started_ = now;
  // While text arrives and no fix comes, say once a second what arrives.
  hearing_.clear();
  if (heard_fix_ || !heard_something) return;
  hearing_ = HearingReport({gps_.Heard(), sentences_per_second_, bytes_received_,
                            gps_.ChecksumErrors(), options_.gp_only});
  if (display_.GetMode() != Display::Mode::kDashboard) {
    Say(ServiceManager::Priority::kWarning, hearing_);
  }
}

void Monitor::PrintSummary() {
  Say(ServiceManager::Priority::kInfo,
      SummaryLine({!options_.source.empty()  ? options_.source
                   : options_.replay.empty() ? SampleDrivePath()
                                             : options_.replay,
                   gps_.Heard().Sentences(), fixes_, gps_.ChecksumErrors(), first_fix_time_,
                   last_fix_time_, gps_.MalformedFields()},
                  gps_.Heard(), options_.gp_only));
}

void Monitor::Tick() {
  MeasureTheSecond();
  service_.Alive();
  if (source_away_ && gps_.Engine()) {
    source_away_ = false;
    last_loss_.clear();
    if (service_.Journal()) Say(ServiceManager::Priority::kInfo, source_ + " is back");
  }
  // A log named by an address ends when it has been read (the control's source closes itself).
  if (file_source_ && !gps_.Engine()) {
    Stop(0);
    return;
  }
  if (gps_.SourceGaveUp()) {
    Stop(1);
    return;
  }
  if (serial_source_ && !gps_.Engine()) {
    Say(ServiceManager::Priority::kError, "the receiver went away (" + source_ + ")");
    Stop(1);
    return;
  }
  display_.Frame(gps_, CurrentStatus());
  CheckOutput();
  if (stopping_) return;
  ticker_.expires_after(200ms);
  ticker_.async_wait([this](const std::error_code& error) {
    if (!error) Tick();
  });
}

void Monitor::Stop(int exit_code) {
  if (stopping_) return;
  stopping_ = true;
  service_.Stopping();
  if (exit_code_ == 0) exit_code_ = exit_code;
  // The receiver's last cycle reaches every output before they are finished.
  gps_.StopGPS();
  // Without a fix there is nothing to save, and a placemark file of an earlier run stays.
  if (!options_.placemark.empty() && had_fix_) {
    gps_.CreateGoogleEarthPlaceMark(options_.placemark, "Last fix at " + gps_.GPS_Time() + " UTC",
                                    "gps-monitor");
  }
  display_.Frame(gps_, CurrentStatus());
  display_.Close();
  // A run that never started has nothing to sum up: the reason it did not is said already.
  if (running_ && (log_replay_ || pty_replay_ || file_source_)) PrintSummary();
  std::error_code ignored;
  signals_.cancel(ignored);
  hangups_.cancel(ignored);
  ticker_.cancel();
  const auto delivery_time = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::duration<double>(options_.publish_wait));
  gps_.CloseSinks(delivery_time, [this](const std::vector<std::string>& lost) {
    // What an output could not deliver (fixes a broker never had, a track's end) fails the run.
    for (const std::string& sentence : lost) Say(ServiceManager::Priority::kError, sentence);
    if (!lost.empty() && exit_code_ == 0) exit_code_ = 1;
    io_.stop();
  });
}

}  // namespace quorvane::monitor
