#include "control/gps.hpp"

#include "base/text_rules.hpp"
#include "control/gps_parts.hpp"
#include "geo/great_circle.hpp"
#include "maps/map_pages.hpp"
#include "platform/system_calls.hpp"
#include "sinks/placemark_file.hpp"
#include "sources/udp_source.hpp"

namespace quorvane {
namespace {

// The side of the control's face in pixels; the host measures in twips.
constexpr float kFacePixels = 32.0f;

void ShowMap(const GPS& gps, Platform& platform, MapService service) {
  platform.ShellOpen(MapPageAddress(service, gps.Latitude(), gps.Longitude()));
}

}  // namespace

// The façade: each member hands on to the part that owns its policy.
// clang-format off
GPS::GPS(asio::io_context& io, Platform& platform)
    : parts_(std::make_unique<Parts>(io, platform)) {}

// The recorder finishes a recording still running, so the file holds its path.
GPS::~GPS() { StopGPS(); }

int GPS::Advise(GpsEventSink sink) { return parts_->events.Advise(std::move(sink)); }
void GPS::Unadvise(int cookie) { parts_->events.Unadvise(cookie); }
void GPS::AddSink(std::shared_ptr<EpochSink> sink) { parts_->path.Add(std::move(sink)); }
void GPS::AddSink(std::shared_ptr<BlockSink> sink) { parts_->path.Add(std::move(sink)); }
void GPS::AddSink(std::shared_ptr<StreamSinkMaker> maker) { parts_->path.Add(std::move(maker)); }
void GPS::RemoveSink(const EpochSink* sink) { parts_->path.Remove(sink); }
void GPS::RemoveSink(const BlockSink* sink) { parts_->path.Remove(sink); }
bool GPS::OpenSink(const std::string& Address) { return parts_->OpenSink(Address); }
std::vector<std::string> GPS::SinkStates() const { return parts_->SinkStates(); }
void GPS::AwaitSinks(std::chrono::milliseconds most) { parts_->AwaitSinks(most); }
void GPS::ReopenSinkFiles() { parts_->ReopenSinkFiles(); }

void GPS::CloseSinks(std::chrono::milliseconds most,
                     std::function<void(const std::vector<std::string>& lost)> done) {
  parts_->CloseSinks(most, std::move(done));
}

int16_t GPS::Port() const { return parts_->serial->PortNumber(); }
void GPS::Port(int16_t value) { parts_->serial->PortNumber(value); }
std::string GPS::PortSettings() const { return parts_->serial->Settings(); }
void GPS::PortSettings(const std::string& value) { parts_->serial->Settings(value); }
int16_t GPS::TxPort() const { return parts_->relay->Port(); }
void GPS::TxPort(int16_t value) { parts_->relay->Port(value); }
int16_t GPS::RxPort() const { return parts_->rx_port; }
void GPS::RxPort(int16_t value) { parts_->rx_port = value; }
int16_t GPS::ServerIP() const { return parts_->server_ip; }
void GPS::ServerIP(int16_t value) { parts_->server_ip = value; }
int16_t GPS::BroadcastFlag() const { return parts_->relay->Flag(); }
void GPS::BroadcastFlag(int16_t value) { parts_->relay->Flag(value); }
std::string GPS::BroadcastAddress() const { return parts_->relay->Address(); }
void GPS::BroadcastAddress(const std::string& value) { parts_->relay->Address(value); }

bool GPS::AllTalkers() const { return parts_->path.Settings().all_talkers; }
bool GPS::VerifyChecksum() const { return parts_->path.Settings().verify_checksum; }

void GPS::AllTalkers(bool value) { parts_->path.Settings({value, VerifyChecksum()}); }
void GPS::VerifyChecksum(bool value) { parts_->path.Settings({AllTalkers(), value}); }

void GPS::MqttTls(MqttTlsFiles files) { parts_->source_settings.mqtt_tls = std::move(files); }
void GPS::MqttId(std::string id) { parts_->source_settings.mqtt_id = std::move(id); }

std::string GPS::SourcePeer() const {
  return parts_->Source() ? parts_->Source()->Peer() : std::string();
}

bool GPS::Engine() const { return parts_->Engine(); }
bool GPS::SourceGaveUp() const { return parts_->Source() && parts_->Source()->GaveUp(); }
double GPS::ChecksumErrors() const { return parts_->path.ChecksumErrors(); }
const SentenceCensus& GPS::Heard() const { return parts_->path.Heard(); }
uint64_t GPS::MalformedFields() const { return parts_->path.MalformedFields(); }
const std::string& GPS::StreamName() const { return parts_->path.Current().name; }
const FixRecord& GPS::Fix() const { return parts_->path.Current().decoder.Fix(); }

size_t GPS::RecentStreams(size_t most, const StreamVisitor& visit) const {
  return parts_->path.VisitRecentStreams(most, visit);
}

void GPS::Start() { parts_->StartSerial(); }
void GPS::StopGPS() { parts_->Stop(); }
void GPS::Open(std::shared_ptr<BlockSource> source) { parts_->Open(std::move(source)); }
void GPS::OpenSource(const std::string& Address) { parts_->OpenAddress(Address); }

void GPS::SendCommand(const std::string& Data2Send) {
  if (parts_->Source()) parts_->Source()->Send(Data2Send);
}

void GPS::Connect(std::optional<int16_t> UDPPort) {
  const int16_t port = UDPPort.value_or(0) != 0 ? *UDPPort : parts_->rx_port;
  Open(std::make_shared<UdpSource>(parts_->io, static_cast<uint16_t>(port)));
  parts_->source_name = "udp://:" + std::to_string(static_cast<uint16_t>(port));
}

void GPS::EnumSerialPorts() { parts_->EnumSerialPorts(); }

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

void GPS::ResetOdometer() { parts_->path.CurrentFix().OdometerTotal = 0; }

std::string GPS::TimeZone() const {
  return NumberToText(parts_->platform.GetTimeZoneBias() / 60.0);
}

void GPS::TimeZone(std::string& value) const { value = parts_->platform.GetTimeZoneStandardName(); }

void GPS::SetSystemClock_UTC() {
  const TimeOfDay time = TimeOfDayOf(Fix().utc_time_field.value_or(""));
  parts_->platform.SetUtcClock(time.hour, time.minute, time.second);
}

void GPS::SetSystemClock_LocalTime() {
  const TimeOfDay time = Fix().local_time.value_or(TimeOfDay{});
  parts_->platform.SetLocalClock(time.hour, time.minute, time.second);
}

void GPS::StartKMLRecord(const std::string& Filename, const std::string& Description) {
  parts_->recorder->Start(Filename, Description);
}

void GPS::StopKMLRecord() { parts_->recorder->Stop(); }
double GPS::RecordedPoints() const { return parts_->recorder->RecordedPoints(); }
bool GPS::isRecording() const { return parts_->recorder->isRecording(); }

void GPS::CreateGoogleEarthPlaceMark(const std::string& FilenameKML,
                                     const std::string& xDescription, const std::string& xName) {
  std::string failure = SystemCalls::SaveTextFile(
      FilenameKML, GoogleEarthPlaceMarkDocument(Latitude(), Longitude(), xDescription, xName));
  if (!failure.empty()) parts_->RaiseError(std::move(failure));
}

void GPS::ShowMapQuestWebPage() const { ShowMap(*this, parts_->platform, MapService::kMapQuest); }
void GPS::ShowNokiaMaps() const { ShowMap(*this, parts_->platform, MapService::kNokia); }
void GPS::ShowGoogleMaps() const { ShowMap(*this, parts_->platform, MapService::kGoogle); }
void GPS::ShowBingMaps() const { ShowMap(*this, parts_->platform, MapService::kBing); }

void GPS::ShowGoogleMapsSatellite() const {
  ShowMap(*this, parts_->platform, MapService::kGoogleSatellite);
}

void GPS::ShowBingMapsSatellite() const {
  ShowMap(*this, parts_->platform, MapService::kBingSatellite);
}

// clang-format on

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

}  // namespace quorvane
