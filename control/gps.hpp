#pragma once
// The GPS control: reads NMEA 0183 from a receiver on a serial port, keeps the latest fix and
// raises its events to the host. It lives on the host's io_context: every handler and every
// event runs on the thread that runs that context, one at a time, and events are raised
// synchronously inside the operation that causes them.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/io_context.hpp>

#include "../base/version.hpp"
#include "../nmea/fix.hpp"
#include "../nmea/fix_properties.hpp"
#include "../nmea/sentence_census.hpp"
#include "../platform/platform.hpp"
#include "../receiver/sinks.hpp"
#include "../sources/block_source.hpp"
#include "../sources/source_settings.hpp"
#include "face.hpp"

namespace quorvane {

// The host's handlers; any of them may be left empty. Arguments are by reference: a Stream
// handler that changes `data` changes the block the control goes on with.
//
// FixUpdated is the C++ host's own: raised for each decoded sentence that wrote into the fix,
// right after it (so before the Stream event of its block), with what it wrote. A handler that
// reads the properties sees the fix as that sentence left it.
// What kind of trouble a Notice tells of.
enum class NoticeKind {
  kError,         // anything else that went wrong (raised as Error too)
  kUsage,         // a text that names no output, or one that cannot be opened as asked
  kSourceLost,    // the network source lost its server (or never reached it): tried again
  kOutputFailed,  // an output failed while running; the others go on
  kWarning,       // no failure: what the user should know (a server open to the network)
};

struct GpsEventSink {
  std::function<void(std::string& Description)> Error = nullptr;
  std::function<void(int16_t& Number)> SerialPort = nullptr;
  std::function<void(std::string& data)> Stream = nullptr;
  std::function<void(FixChanges changes)> FixUpdated = nullptr;
  // The C++ host's own too: a network source lost its server and tries again ("reconnecting to
  // tcp://... in 2 s"), once for every try.
  std::function<void(const std::string& what)> Reconnecting = nullptr;
  // One reporting cycle of the receiver as one typed fix, raised once the cycle's last sentence
  // is decoded (before its block's Stream), and for the cycle under way when the source stops.
  // `stream` names the fleet's vehicle (an MQTT topic), or is empty for a single receiver.
  std::function<void(const Fix& fix, const std::string& stream)> Epoch = nullptr;
  // The C++ host's own too: every Error again, right after it, with what kind of trouble it is,
  // and the warnings, which raise no Error.
  std::function<void(const std::string& what, NoticeKind kind)> Notice = nullptr;
};

class GPS {
 public:
  explicit GPS(asio::io_context& io, Platform& platform = TheSystemPlatform());
  ~GPS();
  GPS(const GPS&) = delete;
  GPS& operator=(const GPS&) = delete;

  // Events. Advise returns a cookie for Unadvise; sinks are called in the order advised.
  int Advise(GpsEventSink sink);
  void Unadvise(int cookie);

  // Outputs: each epoch, or each block, handed on (after the events) in the order added; a
  // maker's outputs take each its own stream's epochs.
  void AddSink(std::shared_ptr<EpochSink> sink);
  void AddSink(std::shared_ptr<BlockSink> sink);
  void AddSink(std::shared_ptr<StreamSinkMaker> maker);
  void RemoveSink(const EpochSink* sink);
  void RemoveSink(const BlockSink* sink);
  // The output a text names, opened and added: a track file ("drive.gpx", "drive.kml?name=Run", or
  // one a UTC day: "tracks/%Y-%m-%d.gpx"), a log of the sentences ("drive.nmea"), a file per
  // vehicle of a fleet ("tracks/*.gpx"), a rebroadcast ("udp://192.168.1.255:5000"), a server
  // ("tcp://:10110", "gpsd://:2947", "http://:8080"), chrony's segment ("shm:2"), JSON lines
  // ("json:-"), or a broker
  // ("mqtt://broker/fleet/car7"). A text that cannot be used raises Error (and Notice, kUsage
  // when it is the text's fault) and opens nothing; false then.
  bool OpenSink(const std::string& Address);
  // What each output opened from a text is doing, for a status line ("2 gpsd clients on ...").
  std::vector<std::string> SinkStates() const;
  // Turns the loop (at most `most`) until every output opened from a text is ready to take what
  // comes (a broker connected): for a log, which would otherwise be half gone before.
  void AwaitSinks(std::chrono::milliseconds most);
  // Ends the outputs opened from texts, once what is on its way has arrived (at most `most`),
  // and tells `done` what could not be delivered, a sentence each.
  void CloseSinks(std::chrono::milliseconds most,
                  std::function<void(const std::vector<std::string>& lost)> done);
  // Finishes the files of the outputs opened from texts and begins new ones (on SIGHUP, once
  // logrotate moved them away); a new file never writes over one that is there.
  void ReopenSinkFiles();

  // Settings.
  int16_t Port() const;
  void Port(int16_t value);
  std::string PortSettings() const;
  // A text the serial port refuses is dropped; its previous settings stay.
  void PortSettings(const std::string& value);
  int16_t TxPort() const;
  void TxPort(int16_t value);
  int16_t RxPort() const;
  void RxPort(int16_t value);
  // Carried for hosts that set it; nothing in the control reads it.
  int16_t ServerIP() const;
  void ServerIP(int16_t value);
  bool Broadcast() const { return BroadcastFlag() == -1; }
  void Broadcast(bool value) { BroadcastFlag(value ? -1 : 0); }
  // Broadcast as the 16-bit boolean a dispatch host stores: any value reads back as stored,
  // and only true (-1) relays.
  int16_t BroadcastFlag() const;
  void BroadcastFlag(int16_t value);
  std::string BroadcastAddress() const;
  void BroadcastAddress(const std::string& value);
  // GGA, RMC, GSA and GSV of every talker ("$GN", "$GL", "$GA", "$BD", ...), not only "$GP",
  // each decoded as the GPS one is; NMEA 4.10's fields understood. Off by default.
  bool AllTalkers() const;
  void AllTalkers(bool value);
  // A sentence whose checksum is wrong is not decoded at all (Stream and the relay still carry
  // its block as received). Off by default.
  bool VerifyChecksum() const;
  void VerifyChecksum(bool value);
  // The files of an mqtts:// source opened after this (the system's authorities without them).
  void MqttTls(MqttTlsFiles files);
  // The client id of MQTT sources opened from now on: with one, the broker keeps the session
  // (what the subscriptions match while the source is away) across connections and restarts.
  void MqttId(std::string id);
  // Where the open source reads from now, when it may move (the broker of a cluster in use).
  std::string SourcePeer() const;

  // Status.
  std::string Version() const { return ControlVersion(); }
  std::string EngineVersion() const { return Version(); }
  // The receiver is being read: the serial port, or a source given to Open, is open.
  bool Engine() const;
  // The source given to Open will not open again by itself: an MQTT broker refused its login.
  bool SourceGaveUp() const;
  // Sentences refused by VerifyChecksum since the control was made.
  double ChecksumErrors() const;
  // Every sentence received since the control was made, counted by its tag.
  const SentenceCensus& Heard() const;
  // Malformed fields (junk where a number, time or letter belongs) since the control was made.
  uint64_t MalformedFields() const;

  // The serial source.
  void Start();
  void StopGPS();
  void SendCommand(const std::string& Data2Send);
  void EnumSerialPorts();

  // The UDP source: text that another control rebroadcasts, received on UDPPort (RxPort when
  // it is missing or 0). Stops a running source first.
  void Connect(std::optional<int16_t> UDPPort = std::nullopt);

  // Any other source, as the serial port's (rebroadcast included); StopGPS closes it.
  void Open(std::shared_ptr<BlockSource> source);

  // The source an address names, opened (a running one is stopped first): "serial:/dev/ttyUSB0"
  // (with "?4800,n,8,1"), a bare device path, "udp://[HOST]:PORT", "tcp://HOST:PORT",
  // "gpsd://HOST[:PORT]", "file:PATH" (with "?speed=N" or "?speed=max"),
  // "mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC-FILTER" or "mqtts://...". A malformed address
  // raises Error naming it, and opens nothing. Network sources look their server up off the
  // loop, before every try; a broker that refuses the login is said once and not tried again.
  void OpenSource(const std::string& Address);

  // The stream whose fix the properties read: the topic of the last message decoded from an
  // MQTT source (each topic has a fix of its own), or empty for a source of one stream.
  const std::string& StreamName() const;
  // Visits the `most` streams heard most recently, each with its last epoch; how many there are.
  size_t RecentStreams(size_t most, const StreamVisitor& visit) const;

  // The fix, as text. Each returns the value the last sentence of its type left.
  std::string Latitude() const { return LatitudeText(Fix()); }
  std::string Longitude() const { return LongitudeText(Fix()); }
  // The position as the last GGA left it, which is where Latitude and Longitude come from too.
  std::string RAW_Latitude() const { return LatitudeText(Fix()); }
  std::string RAW_Longitude() const { return LongitudeText(Fix()); }
  std::string Altitude() const { return Fix().AltitudeText; }
  std::string AltitudeUnit() const { return Fix().AltitudeUnitText; }
  std::string Altitude_Feet() const { return AltitudeFeetText(Fix()); }
  std::string Satellites() const { return Fix().SatellitesText; }
  std::string GPS_Time() const { return UtcTimeText(Fix()); }
  std::string LocalTime() const { return LocalTimeText(Fix()); }
  std::string GPSQuality() const { return Fix().QualityText; }
  std::string Speed() const { return SpeedText(Fix()); }
  std::string SpeedMph() const { return SpeedMphText(Fix()); }
  std::string SpeedKnots() const { return SpeedKnotsText(Fix()); }
  std::string HDOP() const { return Fix().HdopText; }
  std::string VDOP() const { return Fix().VdopText; }
  std::string Elevation() const { return Fix().ElevationText; }
  std::string Azimute() const { return Fix().AzimuthText; }
  std::string SNR() const { return Fix().SnrText; }
  std::string Odometer() const { return OdometerText(Fix()); }
  std::string LastGPGGA() const { return Fix().LastGgaText; }
  const FixRecord& Fix() const;

  // Distance and odometer.
  double DistanceBetween2CoordinatesMeters(double lat1, double lon1, double lat2,
                                           double lon2) const;
  double DistanceBetween2CoordinatesFoots(double lat1, double lon1, double lat2, double lon2) const;
  double DistanceBetween2CoordinatesMiles(double lat1, double lon1, double lat2, double lon2) const;
  void ResetOdometer();

  // Time zone and clock. TimeZone reads the standard bias in hours, west of UTC positive
  // ("-5.5" for UTC+5:30); assigning it changes nothing but its argument, which comes back as
  // the name of the zone's standard time.
  std::string TimeZone() const;
  void TimeZone(std::string& value) const;
  void SetSystemClock_UTC();
  void SetSystemClock_LocalTime();

  // Track recording: a placemark for every GGA sentence with a position decoded while
  // recording, and a green path through them when it stops. A running recording is finished
  // (path and footer) before a new one starts and when the control is destroyed.
  void StartKMLRecord(const std::string& Filename, const std::string& Description = "");
  void StopKMLRecord();
  double RecordedPoints() const;
  bool isRecording() const;

  // Saves the current position as a one-placemark KML 2.0 file, replacing FilenameKML.
  // A file that cannot be written raises Error, naming it.
  void CreateGoogleEarthPlaceMark(const std::string& FilenameKML, const std::string& xDescription,
                                  const std::string& xName);

  // Web maps centred on the current position, opened in the default browser.
  void ShowMapQuestWebPage() const;
  void ShowNokiaMaps() const;
  void ShowGoogleMaps() const;
  void ShowGoogleMapsSatellite() const;
  void ShowBingMaps() const;
  void ShowBingMapsSatellite() const;

  // Appearance: a fixed 32 x 32 picture, and the control keeps itself at that size.
  static const Face& Picture() { return TheFace(); }
  void Resize(ControlSite& site);

 private:
  class Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace quorvane
