#include "sinks/udp_relay.hpp"

#include <asio/ip/address.hpp>

#include "platform/host_lookup.hpp"
#include "platform/source_address.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {
namespace {

// Runs one step of a sequence in which a failed step is skipped and the next one runs.
template <typename Step>
void Attempt(Step step) {
  try {
    step();
  } catch (const SocketError&) {
  }
}

}  // namespace

std::string UdpRelay::Prepare() {
  if (!On()) return {};
  Attempt([this] { socket_.Protocol(SocketComm::sckUDPProtocol); });
  socket_.RemoteHost(address_);
  socket_.RemotePort(port_);
  Attempt([this] { socket_.Connect(); });
  try {
    socket_.SendData("");
  } catch (const ResolveError& error) {
    return error.what();
  } catch (const SocketError&) {
  }
  return {};
}

void UdpRelay::TakeBlock(std::string_view block, const BlockOrigin& origin) {
  if (!On() || origin.from_network || !origin.stream.empty()) return;
  Attempt([&] { socket_.SendData(block); });
}

namespace {

// The relay of a udp:// output: a name is looked up off the loop, and the relay starts once it
// is found (the blocks before that are not sent; one that cannot be found is said once).
class RelayByName final : public BlockSink, public Output {
 public:
  RelayByName(const SinkContext& context, const std::string& host, uint16_t port)
      : relay_(context.io), lookup_(context.io) {
    relay_.Port(static_cast<int16_t>(port));
    lookup_.Start(
        host, port,
        [this, host, failed = context.failed](const std::error_code& error,
                                              const std::vector<asio::ip::tcp::endpoint>& found) {
          if (error || found.empty()) {
            if (failed) failed("cannot find host \"" + host + "\" to rebroadcast to");
            return;
          }
          Start(found.front().address().to_string());
        });
  }
  // Sends to `address` from now on; what is wrong with it, or an empty text.
  std::string Start(const std::string& address) {
    relay_.Address(address);
    relay_.Flag(-1);
    return relay_.Prepare();
  }
  void TakeBlock(std::string_view block, const BlockOrigin& origin) override {
    relay_.TakeBlock(block, origin);
  }
  std::vector<std::string> Close() override {
    lookup_.Cancel();
    return relay_.Close();
  }

 private:
  UdpRelay relay_;
  HostLookup lookup_;
};

}  // namespace

void RegisterRelaySinks(SinkFactory& factory) {
  factory.Register("udp", "udp://HOST:PORT (the received text rebroadcast, a datagram a block)",
                   [](const SinkText& text, const SinkContext& context) {
                     text.OnlyOptions({});
                     const size_t colon = text.rest.rfind(':');
                     const auto port = colon == std::string::npos
                                           ? std::nullopt
                                           : PortOf(text.rest.substr(colon + 1));
                     if (colon == 0 || !port) text.Refuse("it wants HOST:PORT");
                     const std::string host = text.rest.substr(0, colon);
                     std::error_code not_an_address;
                     asio::ip::make_address(host, not_an_address);
                     if (not_an_address) {
                       return MadeOf(std::make_shared<RelayByName>(context, host, *port));
                     }
                     // An address is sent to from the first block on.
                     auto relay = std::make_shared<UdpRelay>(context.io);
                     relay->Address(host);
                     relay->Port(static_cast<int16_t>(*port));
                     relay->Flag(-1);
                     if (std::string failure = relay->Prepare(); !failure.empty()) {
                       text.Refuse(failure);
                     }
                     return MadeOf(relay);
                   });
}

}  // namespace quorvane
