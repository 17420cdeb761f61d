#include "sinks/udp_relay.hpp"

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

void RegisterRelaySinks(SinkFactory& factory) {
  factory.Register("udp", "udp://HOST:PORT (the received text rebroadcast, a datagram a block)",
                   [](const SinkText& text, const SinkContext& context) {
                     text.OnlyOptions({});
                     const size_t colon = text.rest.rfind(':');
                     const auto port = colon == std::string::npos
                                           ? std::nullopt
                                           : PortOf(text.rest.substr(colon + 1));
                     if (colon == 0 || !port) text.Refuse("it wants HOST:PORT");
                     auto relay = std::make_shared<UdpRelay>(context.io);
                     relay->Address(text.rest.substr(0, colon));
                     relay->Port(static_cast<int16_t>(*port));
                     relay->Flag(-1);
                     if (std::string failure = relay->Prepare(); !failure.empty())
                       text.Refuse(failure);
                     return MadeOf(relay);
                   });
}

}  // namespace quorvane
