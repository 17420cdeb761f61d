#pragma once
// A live map in the browser: a page (Leaflet, from Debian's libjs-leaflet) that shows where the
// receiver is, the track it drew and its sky, or a whole fleet with a list of its vehicles,
// pushed every epoch over a WebSocket.
//
// Each page gets every vehicle's TPV, and the SKY of the one it follows (the receiver, or the
// vehicle clicked). A page opened mid-run is sent the state at once: the last fix of each
// vehicle (the kMostSent heard most recently) and the followed one's recent track. Tracks are
// kept per vehicle, bounded: kReceiverTrack points for the one receiver, kVehicleTrack for each
// vehicle of a fleet, as many as the control keeps streams.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "nmea/fix.hpp"
#include "receiver/sinks.hpp"
#include "sinks/sink_factory.hpp"
#include "sinks/web_transport.hpp"

namespace quorvane {

// OpenStreetMap's tiles, and the credit they ask for.
inline constexpr const char* kOpenStreetMapTiles = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
inline constexpr const char* kOpenStreetMapCredit = "&copy; OpenStreetMap contributors";

struct WebMapSettings {
  // The device name of the stream without a name (the one receiver); empty for a fleet.
  std::string receiver{};
  // Map tiles: a URL template ("https://tile.openstreetmap.org/{z}/{x}/{y}.png"), empty for
  // none (the track and markers on a plain background).
  std::string tiles{};
  std::string attribution{};
  // Names of this machine that pages may use beside its addresses and "localhost".
  std::vector<std::string> host_names{};
  // Where Leaflet's leaflet.js and leaflet.css are.
  std::string leaflet_folder = "/usr/share/javascript/leaflet";
};

class WebMap final : public EpochSink, public Output {
 public:
  static constexpr size_t kMostSent = 4096;
  static constexpr size_t kReceiverTrack = 20000;
  static constexpr size_t kVehicleTrack = 300;

  // Serves on `where`, keeping each stream's vehicle in `streams` (the control's table: a
  // vehicle goes with its stream). Throws std::system_error when it cannot listen,
  // std::runtime_error when Leaflet cannot be read.
  WebMap(asio::io_context& io, const Listening& where, WebMapSettings settings,
         StreamStates& streams);

  void TakeEpoch(const Fix& fix, const std::string& stream) override;

  size_t Pages() const { return transport_->Pages(); }
  uint16_t Port() const { return transport_->Port(); }
  std::string State() const override { return ClientsText(Pages(), "map", {address_, Port()}); }

 private:
  using Text = std::shared_ptr<const std::string>;
  // Degrees in units of 1e-7 (a centimetre), as receivers' binary protocols carry them.
  struct Point {
    int32_t latitude;
    int32_t longitude;
  };
  struct Vehicle final : StreamState {
    Text tpv;
    Text sky;
    std::string last_fix;  // the time of its last epoch with a fix
    std::optional<std::chrono::steady_clock::time_point> fix_heard;  // when that came
    std::deque<std::optional<Point>> track;  // nothing where the fix was lost
  };

  void Open(uint64_t page);
  void Follow(uint64_t page, const std::string& message);
  void SendFollowed(uint64_t page, const std::string& device);
  std::string TrackObject(const std::string& device, const Vehicle& vehicle) const;
  void Extend(Vehicle& vehicle, const Fix& fix) const;
  static std::string LastObject(const Vehicle& vehicle);

  WebMapSettings settings_;
  StreamStates& streams_;
  size_t slot_;                                         // a vehicle for each stream
  std::unordered_map<uint64_t, std::string> followed_;  // by page
  std::unique_ptr<WebTransport> transport_;
  asio::ip::address address_;
};

}  // namespace quorvane
