#pragma once
// gpsd's JSON protocol over TCP (2947 is gpsd's port), so that the clients Linux already has
// (cgps, gpspipe, the gps Python module, navigation programs, gpsd itself reading another gpsd)
// read the epochs without a gpsd in front. A client is greeted with VERSION and may ask
// ?VERSION; ?DEVICES; ?WATCH={...}; and ?POLL;. While it watches with "json" it gets every
// epoch's TPV and SKY, with "nmea" (or "raw") the sentences as received, each whole. Each stream is
// a device: the one receiver, or each vehicle of a fleet; "device" in ?WATCH picks one.
//
// Bounded whatever clients do: at most 512 of them, each cut once 1 MiB waits for it, commands
// read 4 KiB at a time and at most kLongestCommand long; a command that cannot be done gets an
// ERROR object and the connection stays.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "nmea/fix.hpp"
#include "platform/tcp_clients.hpp"
#include "receiver/sinks.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {

class GpsdServer final : public EpochSink, public Output {
 public:
  static constexpr size_t kMostWaiting = 1024 * 1024;
  static constexpr size_t kLongestCommand = 1024;
  // DEVICES and POLL name the devices heard most recently, at most this many.
  static constexpr size_t kMostListed = 256;

  // What a client asked to be sent.
  struct Watch {
    bool enable = false;
    bool json = false;
    bool nmea = false;
    int raw = 0;
    std::string device;  // empty: every device
  };

  // Listens on `where`; throws std::system_error when it cannot. `receiver`: the device name of
  // the stream without a name (the one receiver), empty when every stream is named (a fleet).
  // Each stream's device is kept in `streams` (the control's table: a device goes with its
  // stream).
  GpsdServer(asio::io_context& io, const Listening& where, std::string receiver,
             StreamStates& streams);

  // A sentence of a stream as it arrived ("" is the one receiver).
  void TakeSentence(std::string_view sentence, const std::string& stream) override;
  // An epoch of a stream.
  void TakeEpoch(const Fix& fix, const std::string& stream) override;
  std::string State() const override { return ClientsText(Clients(), "gpsd", where_); }

  size_t Clients() const { return clients_.Size(); }
  uint16_t Port() const { return clients_.Port(); }
  void OnAcceptFailure(std::function<void(const std::string&)> handler) {
    clients_.OnAcceptFailure(std::move(handler));
  }

 private:
  using ClientId = TcpClients::ClientId;

  struct Client {
    Watch watch;
    std::string command;    // the command being received
    bool skipping = false;  // the rest of a command too long to take
  };

  struct Device final : StreamState {
    explicit Device(std::string device_path);
    std::string path;
    std::string activated;  // when first heard, ISO 8601
    std::optional<Fix> last;
  };

  Device& DeviceOf(const std::string& stream);
  void Receive(ClientId id, std::string_view piece);
  void Answer(ClientId id, std::string_view command);
  void ChangeWatch(ClientId id, std::string_view argument);
  // Sends `text` to every client whose watch `wants` it, for `device`.
  void SendToWatchers(const std::string& device, const std::string& text,
                      bool (*wants)(const Watch&));
  void Reply(ClientId id, std::string text);

  std::string VersionObject() const;
  std::string DevicesObject();
  std::string PollObject();

  std::string receiver_;
  StreamStates& streams_;
  size_t slot_;  // a device for each stream
  std::unordered_map<ClientId, Client> client_states_;
  TcpClients clients_;
  asio::ip::tcp::endpoint where_;  // with the port chosen when 0 was asked for
};

}  // namespace quorvane
