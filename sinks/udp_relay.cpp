#include "sinks/udp_relay.hpp"

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

}  // namespace quorvane
