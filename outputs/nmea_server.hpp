#pragma once
// NMEA 0183 over TCP for other programs (chart plotters, navigation software; 10110 is the
// registered port): every block handed to Send goes, in order, to every connected client.
// A client that reads too slowly is dropped once more than 1 MiB waits for it, so the others
// are never slowed; what a client sends is read and ignored (there is no command channel).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/tcp_clients.hpp"
#include "receiver/sinks.hpp"

namespace quorvane {

class NmeaServer final : public BlockSink {
 public:
  static constexpr size_t kMostWaiting = 1024 * 1024;
  static constexpr size_t kMostClients = TcpClients::kMostClients;

  // Listens on `where`; throws std::system_error when it cannot.
  NmeaServer(asio::io_context& io, const asio::ip::tcp::endpoint& where)
      : clients_(io, where, kMostWaiting) {}

  void Send(std::string_view block) {
    if (clients_.Size() > 0) clients_.SendToAll(std::make_shared<const std::string>(block));
  }
  void TakeBlock(std::string_view block, const BlockOrigin&) override { Send(block); }
  size_t Clients() const { return clients_.Size(); }
  // See TcpClients::OnAcceptFailure.
  void OnAcceptFailure(std::function<void(const std::string&)> handler) {
    clients_.OnAcceptFailure(std::move(handler));
  }
  uint64_t AcceptFailures() const { return clients_.AcceptFailures(); }
  uint16_t Port() const { return clients_.Port(); }

 private:
  TcpClients clients_;
};

}  // namespace quorvane
