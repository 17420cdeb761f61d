#include "sources/udp_source.hpp"

#include "sources/source_factory.hpp"

namespace quorvane {

void UdpSource::Begin(BlockHandler on_block) {
  socket_.DataArrival(
      [on_block = std::move(on_block)](std::string_view datagram) { on_block(datagram, {}); });
  try {
    socket_.LocalPort(static_cast<int16_t>(port_));
    socket_.Connect();
  } catch (const SocketError&) {
  }
}

// The host, when given, is not used: the source listens on every local address.
void RegisterUdpSources(SourceFactory& factory) {
  factory.Register(
      SourceAddress::Scheme::kUdp,
      [](const SourceAddress& address, const std::string& text, const SourceContext& context) {
        return MadeSource{std::make_shared<UdpSource>(context.io, address.port), text};
      });
}

}  // namespace quorvane
