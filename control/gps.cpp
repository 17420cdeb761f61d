#include "control/gps.hpp"

#include <algorithm>
#include <stdexcept>

#include <asio/post.hpp>

#include "base/text_rules.hpp"
#include "geo/great_circle.hpp"
#include "kml/placemark_file.hpp"
#include "mqtt/mqtt_address.hpp"
#include "mqtt/mqtt_source.hpp"
#include "platform/log_replay.hpp"
#include "platform/port_table.hpp"
#include "platform/tcp_source.hpp"
#include "platform/windows_api.hpp"

namespace quorvane {
namespace {

constexpr int kVersionMajor = 5;
constexpr int kVersionMinor = 4;
constexpr int kVersionRevision = 88;

// The side of the control's face in pixels; the host measures in twips.
constexpr float kFacePixels = 32.0f;

}  // namespace

GPS::GPS(asio::io_context& io, Platform& platform)
    : io_(io), platform_(platform), ser_(io), sck_(io) {
  ser_.OnComm([this](std::string_view received) {
    if (ser_.CommEvent() != SerialComm::comEvReceive || !is_running_) return;
    TakeBlock(serial_lines_, decoder_, epochs_, std::string(received), Relay::kOn);
  });
  sck_.DataArrival([this](std::string_view datagram) {
    // The socket of a rebroadcast takes nothing in: whoever sees the datagrams learns its port,
    // and what comes back there must not become the fix.
    if (!udp_source_) return;
    TakeBlock(network_lines_, decoder_, epochs_, std::string(datagram), Relay::kOff);
  });
  recorder_.OnFailure([this](std::string failure) { RaiseError(std::move(failure)); });
}

// Runs one step of a sequence in which a failed step is skipped and the next one runs.
template <typename Step>
void Attempt(Step step) {
  try {
    step();
  } catch (const SocketError&) {
  } catch (const SerialError&) {
  }
}

GPS::~GPS() {
  // The recorder finishes a recording still running, so the file holds its path.
  StopGPS();
}

int GPS::Advise(GpsEventSink sink) {
  sinks_.emplace_back(next_cookie_, std::make_shared<const GpsEventSink>(std::move(sink)));
  return next_cookie_++;
}

void GPS::Unadvise(int cookie) {
  std::erase_if(sinks_, [cookie](const auto& entry) { return entry.first == cookie; });
}

template <typename Member, typename... Arguments>
void GPS::Raise(Member handler, Arguments&... arguments) {
  // A handler may advise or unadvise sinks, itself included, while the event is raised: the
  // snapshot keeps every sink alive through its call, and one unadvised by an earlier handler
  // is not called.
  const auto snapshot = sinks_;
  for (const auto& advised : snapshot) {
    const bool still_advised = std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& entry) {
      return entry.first == advised.first;
    });
    if (!still_advised) continue;
    const auto& function = (*advised.second).*handler;
    if (function) function(arguments...);
  }
}

void GPS::RaiseError(std::string description) {
  Raise(&GpsEventSink::Error, description);
}

void GPS::RaiseSerialPort(int16_t number) {
  Raise(&GpsEventSink::SerialPort, number);
}

void GPS::PortSettings(const std::string& value) {
  // A text the serial component refuses is dropped; its previous settings stay.
  Attempt([&] { ser_.Settings(value); });
}

TrackPoint TrackPointOf(const FixRecord& fix) {
  return {
      fix.latitude.value_or(0), fix.longitude.value_or(0), fix.altitude, fix.position_reported, {}};
}

std::string ControlVersion() {
  return std::to_string(kVersionMajor) + '.' + std::to_string(kVersionMinor) + '.' +
         std::to_string(kVersionRevision);
}

void GPS::AllTalkers(bool value) {
  decoder_.AllTalkers(value);
  streams_.ForEachDecoder([value](NmeaDecoder& decoder) { decoder.AllTalkers(value); });
}

void GPS::VerifyChecksum(bool value) {
  decoder_.VerifyChecksum(value);
  streams_.ForEachDecoder([value](NmeaDecoder& decoder) { decoder.VerifyChecksum(value); });
}

const std::string& GPS::StreamName() const {
  static const std::string kNone;
  return current_stream_ != nullptr ? *current_stream_ : kNone;
}

bool GPS::Engine() const {
  return is_running_ && (ser_.PortOpen() || (source_ && source_->IsOpen()));
}

void GPS::Start() {
  if (is_running_) return;
  ForgetStreams();
  decoder_.Fix().LastGgaText.clear();
  std::string failure;
  try {
    ser_.CommPort(port_);
  } catch (const SerialError& error) {
    failure = error.what();
  }
  try {
    ser_.PortOpen(true);
  } catch (const SerialError& error) {
    failure = error.what();
  }
  if (!failure.empty()) RaiseError(std::move(failure));
  is_running_ = true;
  if (Broadcast()) SetUpSender();
}

void GPS::SetUpSender() {
  Attempt([this] { sck_.Protocol(SocketComm::sckUDPProtocol); });
  Attempt([this] { sck_.RemoteHost(broadcast_address_); });
  Attempt([this] { sck_.RemotePort(tx_port_); });
  Attempt([this] { sck_.Connect(); });
  // The address is looked up here, once; a name that cannot be found is said once, and the
  // blocks after it are not sent (nor looked up again).
  try {
    sck_.SendData("");
  } catch (const ResolveError& error) {
    RaiseError(error.what());
  } catch (const SocketError&) {
  }
}

void GPS::Connect(std::optional<int16_t> UDPPort) {
  if (is_running_) StopGPS();
  ForgetStreams();
  const int16_t port = UDPPort.value_or(0) != 0 ? *UDPPort : rx_port_;
  Attempt([&] { sck_.LocalPort(port); });
  udp_source_ = true;
  Attempt([this] { sck_.Connect(); });
  Attempt([this] { sck_.SendData(""); });
  is_running_ = true;
}

void GPS::Open(std::shared_ptr<BlockSource> source) {
  if (is_running_) StopGPS();
  decoder_.Fix().LastGgaText.clear();
  // The source replaced may be the one whose block is being taken (a host opening another
  // source in an event): it is let go of on a later turn of the loop, once it has returned.
  if (source_ && taking_block_ > 0) asio::post(io_, [replaced = std::move(source_)] {});
  source_ = std::move(source);
  source_lines_ = LineAssembler();
  ForgetStreams();
  is_running_ = true;
  if (Broadcast()) SetUpSender();
  source_->Begin(
      [this](std::string_view block, std::string_view stream) { TakeSourceBlock(block, stream); });
}

void GPS::ForgetStreams() {
  current_ = &decoder_;
  current_stream_ = nullptr;
  streams_.Clear();
}

void GPS::TakeSourceBlock(std::string_view block, std::string_view stream) {
  if (stream.empty()) {
    TakeBlock(source_lines_, decoder_, epochs_, std::string(block), Relay::kOn);
    return;
  }
  // Several senders' text is not sent on as one: whoever received it would splice them.
  StreamTable::Stream& found = streams_.Find(stream, decoder_);
  current_stream_ = &found.name;
  TakeBlock(found.lines, found.decoder, found.epochs, std::string(block), Relay::kOff);
}

void GPS::OpenSource(const std::string& Address) {
  auto parsed = ParseSourceAddress(Address);
  if (auto* failure = std::get_if<std::string>(&parsed)) {
    RaiseError(std::move(*failure));
    return;
  }
  OpenAddress(std::get<SourceAddress>(parsed), Address);
}

void GPS::OpenAddress(const SourceAddress& address, const std::string& text) {
  switch (address.scheme) {
    case SourceAddress::Scheme::kSerial: {
      if (is_running_) StopGPS();
      if (!address.settings.empty()) PortSettings(address.settings);
      Port(PortNumberOfDevice(address.path).value_or(0));
      if (port_ == 0) Port(AssignFreePortNumber(address.path));
      Start();
      return;
    }
    case SourceAddress::Scheme::kUdp:
      // The host, when given, is not used: the control listens on every local address.
      Connect(static_cast<int16_t>(address.port));
      return;
    case SourceAddress::Scheme::kFile:
      try {
        Open(std::make_shared<LogReplay>(io_, address.path, address.speed));
      } catch (const std::runtime_error& error) {
        RaiseError(error.what());
      }
      return;
    case SourceAddress::Scheme::kTcp:
    case SourceAddress::Scheme::kGpsd:
      OpenNetworkSource(address, text);
      return;
    case SourceAddress::Scheme::kMqtt:
      // The client looks each broker up on a thread of its own, and says one it cannot find.
      OpenMqttSource(address);
      return;
  }
}

std::optional<asio::ip::tcp::endpoint> GPS::FindHost(const SourceAddress& address,
                                                     const std::string& text) {
  asio::ip::tcp::resolver resolver(io_);
  std::error_code error;
  const auto found = resolver.resolve(address.host, std::to_string(address.port), error);
  if (!error && !found.empty()) return found.begin()->endpoint();
  RaiseError("Invalid source address \"" + text + "\": cannot find host \"" + address.host + "\"" +
             (error ? ": " + error.message() : std::string()));
  return std::nullopt;
}

void GPS::ReportLoss(const std::string& name, const std::string& reason, double seconds,
                     bool first) {
  if (first) RaiseError("Connection to " + name + " lost: " + reason);
  std::string what = ReconnectingText(name, seconds);
  Raise(&GpsEventSink::Reconnecting, what);
}

void GPS::OpenMqttSource(const SourceAddress& address) {
  // The password stays out of everything said about the source.
  const std::string name = MqttAddressText(address);
  std::shared_ptr<MqttSource> source;
  try {
    std::vector<std::string> filters{address.path};
    filters.insert(filters.end(), address.more_filters.begin(), address.more_filters.end());
    source = std::make_shared<MqttSource>(io_, MqttBrokerOf(address, mqtt_tls_, mqtt_id_),
                                          std::move(filters));
  } catch (const std::runtime_error& error) {
    RaiseError(error.what());
    return;
  }
  source->on_lost = [this, name](const std::string& reason, double seconds, bool first) {
    ReportLoss(name, reason, seconds, first);
  };
  source->on_refused = [this, name](const std::string& reason) {
    RaiseError("Connection to " + name + " given up: " + reason);
  };
  Open(std::move(source));
}

void GPS::OpenNetworkSource(const SourceAddress& address, const std::string& text) {
  // Looked up once, here; the source then reconnects to what was found.
  const auto server = FindHost(address, text);
  if (!server) return;
  // gpsd speaks JSON until asked for the receiver's own sentences; its JSON lines (no "$")
  // are left out by the line assembler.
  const std::string greeting = address.scheme == SourceAddress::Scheme::kGpsd
                                   ? "?WATCH={\"enable\":true,\"nmea\":true}\n"
                                   : "";
  auto source = std::make_shared<TcpSource>(io_, text, *server, greeting);
  source->OnLost([this, name = text](const std::string& reason, double seconds, bool first) {
    // A half sentence of a lost connection is never joined with the next one's text.
    source_lines_ = LineAssembler();
    ReportLoss(name, reason, seconds, first);
  });
  Open(std::move(source));
}

void GPS::StopGPS() {
  if (!is_running_) return;
  ser_.PortOpen(false);
  if (source_) source_->Close();
  // The cycle under way when the receiver stops is the last one: it is reported now.
  epochs_.Finish();
  streams_.FinishEpochs();
  is_running_ = false;
  udp_source_ = false;
  sck_.Close();
}

void GPS::SendCommand(const std::string& Data2Send) {
  // Nothing to tell: a command for a receiver that is not there is lost.
  Attempt([&] { ser_.Output(Data2Send); });
}

void GPS::EnumSerialPorts() {
  const std::string list = platform_.ListSerialPorts(true);
  if (list.empty()) return;
  std::string_view rest = list;
  for (;;) {
    const size_t comma = rest.find(',');
    if (const auto number = ReadLeadingInt16(rest.substr(0, comma))) RaiseSerialPort(*number);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
}

double GPS::DistanceBetween2CoordinatesMeters(double lat1, double lon1, double lat2,
                                              double lon2) const {
  return quorvane::DistanceBetween2CoordinatesMeters(lat1, lon1, lat2, lon2);
}

double GPS::DistanceBetween2CoordinatesFoots(double lat1, double lon1, double lat2,
                                             double lon2) const {
  return quorvane::DistanceBetween2CoordinatesFoots(lat1, lon1, lat2, lon2);
}

double GPS::DistanceBetween2CoordinatesMiles(double lat1, double lon1, double lat2,
                                             double lon2) const {
  return quorvane::DistanceBetween2CoordinatesMiles(lat1, lon1, lat2, lon2);
}

std::string GPS::TimeZone() const {
  return NumberToText(platform_.GetTimeZoneBias() / 60.0);
}

void GPS::TimeZone(std::string& value) const {
  value = platform_.GetTimeZoneStandardName();
}

void GPS::SetSystemClock_UTC() {
  const TimeOfDay time = TimeOfDayOf(Fix().utc_time_field.value_or(""));
  platform_.SetUtcClock(time.hour, time.minute, time.second);
}

void GPS::SetSystemClock_LocalTime() {
  const TimeOfDay time = Fix().local_time.value_or(TimeOfDay{});
  platform_.SetLocalClock(time.hour, time.minute, time.second);
}

void GPS::StartKMLRecord(const std::string& Filename, const std::string& Description) {
  recorder_.Start(Filename, Description);
}

void GPS::StopKMLRecord() {
  recorder_.Stop();
}

void GPS::CreateGoogleEarthPlaceMark(const std::string& FilenameKML,
                                     const std::string& xDescription, const std::string& xName) {
  std::string failure = WindowsAPI::SaveTextFile(
      FilenameKML, GoogleEarthPlaceMarkDocument(Latitude(), Longitude(), xDescription, xName));
  if (!failure.empty()) RaiseError(std::move(failure));
}

void GPS::ShowMap(MapService service) const {
  platform_.ShellOpen(MapPageAddress(service, Latitude(), Longitude()));
}

void GPS::Resize(ControlSite& site) {
  // Each side is set on its own, so a site that refuses one still gets the other.
  try {
    site.Height(kFacePixels * site.TwipsPerPixelY());
  } catch (const std::exception&) {
  }
  try {
    site.Width(kFacePixels * site.TwipsPerPixelX());
  } catch (const std::exception&) {
  }
}

void GPS::TakeBlock(LineAssembler& lines, NmeaDecoder& decoder, EpochBuilder& epochs,
                    std::string block, Relay relay) {
  ++taking_block_;
  current_ = &decoder;
  lines.Feed(block, [&](std::string_view sentence) { TakeSentence(decoder, epochs, sentence); });
  recorder_.EndOfBlock();
  Raise(&GpsEventSink::Stream, block);
  // The block goes out as the host's Stream handler left it.
  if (relay == Relay::kOn && Broadcast()) Attempt([&] { sck_.SendData(block); });
  --taking_block_;
}

void GPS::TakeSentence(NmeaDecoder& decoder, EpochBuilder& epochs, std::string_view sentence) {
  heard_.Count(sentence);
  Decoded decoded = decoder.ParseNMEA(sentence);
  // The epochs take every talker's sentences; a checksum refused is refused for them too.
  if (!decoded.refused) epochs.Take(sentence);
  if (decoded.type == SentenceType::kGga) {
    TrackPoint point = TrackPointOf(Fix());
    if (recorder_.isRecording()) point.time = epochs.LastSentenceIsoTime();
    recorder_.Take(point);
  }
  if (decoded.changes != 0) Raise(&GpsEventSink::FixUpdated, decoded.changes);
}

void GPS::RaiseEpoch(const quorvane::Fix& fix, const std::string& stream) {
  Raise(&GpsEventSink::Epoch, fix, stream);
}

uint64_t GPS::MalformedFields() const {
  return epochs_.MalformedFields() + streams_.MalformedFields();
}

}  // namespace quorvane
